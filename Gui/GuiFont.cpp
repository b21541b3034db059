#include "Gui/GuiFont.h"

#include <QFont>
#include <QWidget>

void GuiFont::setPointSize(QWidget* widget, int pointSize)
{
    QFont font = widget->font();
    font.setPointSize(pointSize);
    widget->setFont(font);
}
