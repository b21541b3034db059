#include "Gui/PosTimeEdit.h"

#include <QKeyEvent>

PosTimeEdit::PosTimeEdit(QWidget* parent) : QTimeEdit(parent) {}

void PosTimeEdit::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit pteEnterPressed();
        break;
    case Qt::Key_Escape:
        emit pteEscapePressed();
        break;
    default:
        QTimeEdit::keyPressEvent(event);
        return;
    }
    // Handled here: neither the editor nor a dialog around it sees these keys.
    event->accept();
}
