#pragma once

#include <QTimeEdit>

// The window's position editor: Return or Enter asks for a seek to the typed
// time and Escape for the current position, instead of the editor's own handling.
class PosTimeEdit : public QTimeEdit {
    Q_OBJECT
public:
    explicit PosTimeEdit(QWidget* parent = nullptr);

signals:
    void pteEnterPressed();
    void pteEscapePressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
