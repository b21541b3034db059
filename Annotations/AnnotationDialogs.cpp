#include "Annotations/AnnotationDialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

AnnotationDialogs::~AnnotationDialogs() = default;

AnnotationDialogs* AnnotationDialogs::standard()
{
    static AnnotationDialogs dialogs;
    return &dialogs;
}

void AnnotationDialogs::information(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

void AnnotationDialogs::critical(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox::critical(parent, title, text, QMessageBox::Ok);
}

void AnnotationDialogs::message(const QString& text)
{
    QMessageBox box;
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

bool AnnotationDialogs::question(const QString& text, bool yesIsDefault)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Pytanie"), text, QMessageBox::Yes | QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QCoreApplication::translate("Adnotacje", "Tak"));
    box.button(QMessageBox::No)->setText(QCoreApplication::translate("Adnotacje", "Nie"));
    box.setDefaultButton(yesIsDefault ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString AnnotationDialogs::saveFileName(QWidget* parent, const QString& caption, const QString& proposed,
                                        const QString& filter)
{
    // Annotation files are never written over, so the dialog offers no replacement.
    return QFileDialog::getSaveFileName(parent, caption, proposed, filter, nullptr, QFileDialog::DontConfirmOverwrite);
}
