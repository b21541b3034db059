#include "Gui/DInfo.h"

#include "Gui/GuiFont.h"
#include "HarbendVersion.h"
#include "ui_DInfo.h"

#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QTextStream>

DInfo::DInfo(QWidget* parent) : QDialog(parent), ui(new Ui::DInfo)
{
    ui->setupUi(this);
    ui->dialogButtonBox->button(QDialogButtonBox::Close)->setText(tr("Close"));
    ui->lIcon->setPixmap(QPixmap::fromImage(QImage(QStringLiteral(":/icons/Harbend-Player.png"))));
    ui->lProgramInfo->setText(QCoreApplication::applicationName() + QStringLiteral(" ver. ") +
                              QString::fromLatin1(Harbend::Version) + QStringLiteral("\nQt ") +
                              QString::fromLatin1(qVersion()) + QStringLiteral(" (") + tr("compiled with Qt") +
                              QStringLiteral(" " QT_VERSION_STR ")\n") + QCoreApplication::organizationName());
    QFile licenses(QStringLiteral(":/Docs/Licenses.html"));
    if (licenses.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream stream(&licenses);
        stream.setCodec("UTF-8");
        ui->licensesText->setHtml(stream.readAll());
    }
}

DInfo::~DInfo() { delete ui; }

void DInfo::setGuiFont(int pointSize) { GuiFont::setPointSize(this, pointSize); }
