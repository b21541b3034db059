#pragma once

// Answers the modal boxes and dialogs that the window opens, from a timer
// that runs inside their own event loops, and records what they showed.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>

class ModalAnswer : public QObject {
public:
    struct Seen {
        QString className;
        QString title;
        QString text;
    };

    // Each modal widget that appears is handed to the answer, which must close it.
    explicit ModalAnswer(std::function<void(QWidget*)> answer) : answer(std::move(answer))
    {
        connect(&timer, &QTimer::timeout, this, &ModalAnswer::poll);
        timer.start(20);
    }

    // Presses a message box's button of that role, or accepts/rejects a dialog.
    static std::function<void(QWidget*)> press(QMessageBox::StandardButton button)
    {
        return [button](QWidget* widget) {
            if (auto* box = qobject_cast<QMessageBox*>(widget)) {
                if (QAbstractButton* b = box->button(button))
                    b->click();
                else
                    box->reject();
            } else if (auto* dialog = qobject_cast<QDialog*>(widget)) {
                if (button == QMessageBox::Ok)
                    dialog->accept();
                else
                    dialog->reject();
            }
        };
    }

    QList<Seen> seen;

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == last)
            return;
        last = modal;
        Seen s{QString::fromLatin1(modal->metaObject()->className()), modal->windowTitle(), QString()};
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            s.text = box->text();
        seen << s;
        answer(modal);
    }

    std::function<void(QWidget*)> answer;
    QTimer timer;
    QPointer<QWidget> last;
};
