#pragma once

#include <QString>

class QWidget;

// The modal boxes and the file dialog of the annotations panel, behind one
// seam so that a test can answer them.
class AnnotationDialogs {
public:
    virtual ~AnnotationDialogs();

    // Information box with an OK button.
    virtual void information(QWidget* parent, const QString& title, const QString& text);
    // Critical box with an OK button.
    virtual void critical(QWidget* parent, const QString& title, const QString& text);
    // A box without parent, title or icon, with an OK button.
    virtual void message(const QString& text);
    // "Pytanie" with "Tak" and "Nie"; true when the answer is "Tak".
    virtual bool question(const QString& text, bool yesIsDefault);
    // Empty when cancelled; an existing name is returned without a replace question.
    virtual QString saveFileName(QWidget* parent, const QString& caption, const QString& proposed,
                                 const QString& filter);

    static AnnotationDialogs* standard();
};
