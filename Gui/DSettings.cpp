#include "Gui/DSettings.h"

#include "Gui/GuiFont.h"
#include "ui_DSettings.h"

#include <QDir>
#include <QPushButton>

DSettings::DSettings(int spinOffset, QString lastMediaOpenFile, QString lastMediaOpenDirectory, long fontSize,
                     QString openMediaMode, QString uiMotif, QWidget* parent)
    : QDialog(parent), ui(new Ui::DSettings)
{
    ui->setupUi(this);
    ui->bbDecision->button(QDialogButtonBox::Save)->setText(tr("Zachowaj"));
    ui->bbDecision->button(QDialogButtonBox::Cancel)->setText(tr("Anuluj"));

    ui->sOpenMediaMode->clear();
    ui->sOpenMediaMode->addItem(QStringLiteral("Ostatnio otwarte nagranie"), QStringLiteral("LASTFILE"));
    ui->sOpenMediaMode->addItem(QStringLiteral("Nie otwieraj nagrania"), QStringLiteral("NOMEDIA"));
    ui->sUiMotif->clear();
    ui->sUiMotif->addItem(QStringLiteral("Brak"), QStringLiteral("BRAK"));
    ui->sUiMotif->addItem(QStringLiteral("Nocny"), QStringLiteral("NOCNY"));
    ui->sUiMotif->addItem(QStringLiteral("Srebrny"), QStringLiteral("SREBRNY1"));

    ui->sSpinOffset->setValue(spinOffset);
    ui->sLastMediaOpenFile->setText(lastMediaOpenFile);
    ui->sLastMediaOpenDirectory->setText(lastMediaOpenDirectory);
    ui->sFontSize->setValue(int(qBound(long(ui->sFontSize->minimum()), fontSize, long(ui->sFontSize->maximum()))));
    selectData(ui->sOpenMediaMode, openMediaMode);
    selectData(ui->sUiMotif, uiMotif);

    // The open mode is kept but not offered.
    ui->sOpenMediaMode->hide();
    ui->lOpenMediaMode->hide();
}

DSettings::~DSettings() { delete ui; }

void DSettings::setGuiFont(int pointSize) { GuiFont::setPointSize(this, pointSize); }

int DSettings::getSpinOffset() const { return ui->sSpinOffset->value(); }

QString DSettings::getLastMediaOpenFile() const { return ui->sLastMediaOpenFile->text(); }

QString DSettings::getLastMediaOpenDirectory() const { return ui->sLastMediaOpenDirectory->text(); }

int DSettings::getFontSize() const { return ui->sFontSize->value(); }

QString DSettings::getOpenMediaMode() const { return currentData(ui->sOpenMediaMode); }

QString DSettings::getUiMotif() const { return currentData(ui->sUiMotif); }

void DSettings::on_btDefault_clicked()
{
    ui->sSpinOffset->setValue(0);
    ui->sLastMediaOpenFile->setText(QString());
    ui->sLastMediaOpenDirectory->setText(QDir::homePath());
    ui->sFontSize->setValue(10);
    selectData(ui->sOpenMediaMode, QStringLiteral("LASTFILE"));
    selectData(ui->sUiMotif, QStringLiteral("BRAK"));
}

void DSettings::selectData(QComboBox* combo, const QString& value)
{
    // findData compares variants; an exact, case-sensitive text match is wanted.
    combo->setCurrentIndex(combo->findData(value, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

QString DSettings::currentData(const QComboBox* combo) { return combo->currentData().toString(); }
