#pragma once

#include <QDialog>
#include <QString>

class QComboBox;

namespace Ui {
class DSettings;
}

// The dialog in which the user edits the window's preferences. It reads and
// writes no settings itself: the window fills it and takes the values back.
class DSettings : public QDialog {
    Q_OBJECT
public:
    DSettings(int spinOffset, QString lastMediaOpenFile, QString lastMediaOpenDirectory, long fontSize,
              QString openMediaMode, QString uiMotif, QWidget* parent = nullptr);
    ~DSettings() override;

    void setGuiFont(int pointSize);

    int getSpinOffset() const;
    QString getLastMediaOpenFile() const;
    QString getLastMediaOpenDirectory() const;
    int getFontSize() const;
    QString getOpenMediaMode() const;
    QString getUiMotif() const;

private slots:
    void on_btDefault_clicked();

private:
    // Makes the item carrying the value current; none when no item carries it.
    static void selectData(QComboBox* combo, const QString& value);
    static QString currentData(const QComboBox* combo);

    Ui::DSettings* ui;
};
