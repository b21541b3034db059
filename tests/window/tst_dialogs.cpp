// The settings and about dialogs as the user meets them under a real display:
// their forms, combos, buttons, restore defaults, accept and cancel, and the
// about dialog's texts with and without the Polish translation.

#include "Gui/DInfo.h"
#include "Gui/DSettings.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimer>
#include <QTranslator>
#include <QVBoxLayout>
#include <QtTest>

namespace {

template <typename T>
T* child(QWidget* parent, const char* name)
{
    T* widget = parent->findChild<T*>(QString::fromLatin1(name));
    if (!widget)
        qWarning("no child %s", name);
    return widget;
}

QPushButton* standardButton(QWidget* dialog, const char* box, QDialogButtonBox::StandardButton which)
{
    return child<QDialogButtonBox>(dialog, box)->button(which);
}

// Runs the dialog modally and lets the action act on it once it is shown.
int execWith(QDialog& dialog, const std::function<void()>& action)
{
    QTimer::singleShot(0, &dialog, [&dialog, action] {
        if (QTest::qWaitForWindowExposed(&dialog))
            action();
        if (dialog.isVisible())
            QTimer::singleShot(5000, &dialog, &QDialog::reject);
    });
    return dialog.exec();
}

QStringList comboItems(QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i) + QLatin1Char('=') + combo->itemData(i).toString();
    return items;
}

DSettings* makeSettingsDialog(const QString& openMode, const QString& motif, long fontSize = 12)
{
    return new DSettings(-25, QStringLiteral("/nagrania/rozprawa.ogg"), QStringLiteral("/nagrania"), fontSize, openMode,
                         motif);
}

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void settingsFormAsBuilt();
    void settingsCombosCarryTheirValues();
    void settingsAcceptReturnsEditedValues();
    void restoreDefaultsThenCancelOrSave();
    void aboutDialogInPolish();
    void aboutDialogInEnglish();
    void aboutDialogEndsByButtonOrCloseBox();
};

void DialogsTest::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("HarbendPlayer"));
}

void DialogsTest::settingsFormAsBuilt()
{
    QScopedPointer<DSettings> dialog(makeSettingsDialog(QStringLiteral("LASTFILE"), QStringLiteral("NOCNY")));
    QCOMPARE(dialog->objectName(), QStringLiteral("DSettings"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Ustawienia"));
    QCOMPARE(dialog->size(), QSize(800, 350));
    QCOMPARE(standardButton(dialog.data(), "bbDecision", QDialogButtonBox::Save)->text(), QStringLiteral("Zachowaj"));
    QCOMPARE(standardButton(dialog.data(), "bbDecision", QDialogButtonBox::Cancel)->text(), QStringLiteral("Anuluj"));
    QCOMPARE(child<QPushButton>(dialog.data(), "btDefault")->text(), QStringLiteral("Przywróć domyślne"));
    QCOMPARE(child<QLabel>(dialog.data(), "lUiMotif")->text(),
             QStringLiteral("Motyw\n* sygerowany motyw: \"BRAK\" \n   oznacza pobranie domyślnych \n"
                            "   ustawień z sytemu operacyjnego"));
    QCOMPARE(child<QLabel>(dialog.data(), "lFontSize")->text(), QStringLiteral("Wielkość czcionki"));
    QCOMPARE(child<QLabel>(dialog.data(), "lLastMediaOpenFile")->text(), QStringLiteral("Ostatnio otwierane nagranie"));
    QCOMPARE(child<QLabel>(dialog.data(), "lLastMediaOpenDirectory")->text(),
             QStringLiteral("Ostatnio otwierany katalog"));
    QCOMPARE(child<QLabel>(dialog.data(), "lOpenMediaMode")->text(), QStringLiteral("Tryb otwierania"));
    // The rows in their order, each label beside its field.
    auto* form = dialog->findChild<QFormLayout*>(QStringLiteral("formlayoutSettings"));
    QVERIFY(form);
    QCOMPARE(form->fieldGrowthPolicy(), QFormLayout::AllNonFixedFieldsGrow);
    const char* const rows[][2] = {{"lSpinOffset", "sSpinOffset"},
                                   {"lLastMediaOpenFile", "sLastMediaOpenFile"},
                                   {"lLastMediaOpenDirectory", "sLastMediaOpenDirectory"},
                                   {"lFontSize", "sFontSize"},
                                   {"lOpenMediaMode", "sOpenMediaMode"},
                                   {"lUiMotif", "sUiMotif"}};
    QCOMPARE(form->rowCount(), 6);
    for (int row = 0; row < 6; ++row) {
        QCOMPARE(form->itemAt(row, QFormLayout::LabelRole)->widget()->objectName(), QString::fromLatin1(rows[row][0]));
        QCOMPARE(form->itemAt(row, QFormLayout::FieldRole)->widget()->objectName(), QString::fromLatin1(rows[row][1]));
    }
    QVERIFY(dialog->findChild<QHBoxLayout*>(QStringLiteral("horizontalLayout")));
    QVERIFY(dialog->findChild<QVBoxLayout*>(QStringLiteral("verticalLayout")));
    QLabel* offsetLabel = child<QLabel>(dialog.data(), "lSpinOffset");
    QTextDocument offsetText;
    offsetText.setHtml(offsetLabel->text());
    QCOMPARE(offsetText.toPlainText(), QStringLiteral("Przesunięcie adnotacji\nwzględem czasu [s]"));

    QSpinBox* offset = child<QSpinBox>(dialog.data(), "sSpinOffset");
    QCOMPARE(offset->minimum(), -1000);
    QCOMPARE(offset->maximum(), 1000);
    QCOMPARE(offset->value(), -25);
    QSpinBox* font = child<QSpinBox>(dialog.data(), "sFontSize");
    QCOMPARE(font->minimum(), 8);
    QCOMPARE(font->maximum(), 16);

    dialog->setGuiFont(14);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
    QCOMPARE(dialog->font().pointSize(), 14);
    QCOMPARE(font->font().pointSize(), 14);
    // The last recording and folder are shown but cannot be edited; the open mode is not shown.
    QLineEdit* lastFile = child<QLineEdit>(dialog.data(), "sLastMediaOpenFile");
    QCOMPARE(lastFile->text(), QStringLiteral("/nagrania/rozprawa.ogg"));
    QVERIFY(lastFile->isVisible() && !lastFile->isEnabled());
    QVERIFY(!child<QLineEdit>(dialog.data(), "sLastMediaOpenDirectory")->isEnabled());
    QVERIFY(!child<QComboBox>(dialog.data(), "sOpenMediaMode")->isVisible());
    QVERIFY(!child<QLabel>(dialog.data(), "lOpenMediaMode")->isVisible());
    QVERIFY(child<QComboBox>(dialog.data(), "sUiMotif")->isVisible());
}

void DialogsTest::settingsCombosCarryTheirValues()
{
    QScopedPointer<DSettings> dialog(makeSettingsDialog(QStringLiteral("NOMEDIA"), QStringLiteral("SREBRNY1"), 25));
    QComboBox* mode = child<QComboBox>(dialog.data(), "sOpenMediaMode");
    QComboBox* motif = child<QComboBox>(dialog.data(), "sUiMotif");
    QCOMPARE(comboItems(mode), QStringList({QStringLiteral("Ostatnio otwarte nagranie=LASTFILE"),
                                            QStringLiteral("Nie otwieraj nagrania=NOMEDIA")}));
    QCOMPARE(comboItems(motif), QStringList({QStringLiteral("Brak=BRAK"), QStringLiteral("Nocny=NOCNY"),
                                             QStringLiteral("Srebrny=SREBRNY1")}));
    QCOMPARE(motif->currentText(), QStringLiteral("Srebrny"));
    QCOMPARE(dialog->getUiMotif(), QStringLiteral("SREBRNY1"));
    QCOMPARE(dialog->getOpenMediaMode(), QStringLiteral("NOMEDIA"));
    QCOMPARE(dialog->getFontSize(), 16);

    // Values that no item carries leave the combo without a current item.
    QScopedPointer<DSettings> unknown(makeSettingsDialog(QStringLiteral("LASTDIR"), QStringLiteral("srebrny1"), 3));
    QCOMPARE(child<QComboBox>(unknown.data(), "sOpenMediaMode")->currentIndex(), -1);
    QCOMPARE(child<QComboBox>(unknown.data(), "sUiMotif")->currentIndex(), -1);
    QCOMPARE(unknown->getOpenMediaMode(), QString());
    QCOMPARE(unknown->getUiMotif(), QString());
    QCOMPARE(unknown->getFontSize(), 8);
}

void DialogsTest::settingsAcceptReturnsEditedValues()
{
    QScopedPointer<DSettings> dialog(makeSettingsDialog(QStringLiteral("LASTDIR"), QStringLiteral("BRAK")));
    const int result = execWith(*dialog, [&dialog] {
        QComboBox* motif = child<QComboBox>(dialog.data(), "sUiMotif");
        motif->setFocus();
        QTest::keyClick(motif, Qt::Key_Down);
        QSpinBox* offset = child<QSpinBox>(dialog.data(), "sSpinOffset");
        offset->selectAll();
        QTest::keyClicks(offset, QStringLiteral("120"));
        QSpinBox* font = child<QSpinBox>(dialog.data(), "sFontSize");
        font->setFocus();
        QTest::keyClick(font, Qt::Key_Up);
        standardButton(dialog.data(), "bbDecision", QDialogButtonBox::Save)->click();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(dialog->getUiMotif(), QStringLiteral("NOCNY"));
    QCOMPARE(dialog->getSpinOffset(), 120);
    QCOMPARE(dialog->getFontSize(), 13);
    // The hidden combo had no item for "LASTDIR": the dialog hands back an empty mode.
    QCOMPARE(dialog->getOpenMediaMode(), QString());
    QCOMPARE(dialog->getLastMediaOpenFile(), QStringLiteral("/nagrania/rozprawa.ogg"));
    QCOMPARE(dialog->getLastMediaOpenDirectory(), QStringLiteral("/nagrania"));
}

void DialogsTest::restoreDefaultsThenCancelOrSave()
{
    for (const QDialogButtonBox::StandardButton button : {QDialogButtonBox::Cancel, QDialogButtonBox::Save}) {
        QScopedPointer<DSettings> dialog(makeSettingsDialog(QStringLiteral("NOMEDIA"), QStringLiteral("NOCNY")));
        const int result = execWith(*dialog, [&dialog, button] {
            QTest::mouseClick(child<QPushButton>(dialog.data(), "btDefault"), Qt::LeftButton);
            QVERIFY(dialog->isVisible());
            standardButton(dialog.data(), "bbDecision", button)->click();
        });
        QCOMPARE(result, int(button == QDialogButtonBox::Save ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(dialog->getSpinOffset(), 0);
        QCOMPARE(dialog->getLastMediaOpenFile(), QString());
        QCOMPARE(dialog->getLastMediaOpenDirectory(), QDir::homePath());
        QCOMPARE(dialog->getFontSize(), 10);
        QCOMPARE(dialog->getOpenMediaMode(), QStringLiteral("LASTFILE"));
        QCOMPARE(dialog->getUiMotif(), QStringLiteral("BRAK"));
        QCOMPARE(child<QComboBox>(dialog.data(), "sUiMotif")->currentText(), QStringLiteral("Brak"));
    }
}

void DialogsTest::aboutDialogInPolish()
{
    QTranslator polish;
    QVERIFY(polish.load(QStringLiteral(":/Language/pl_PL")));
    QCoreApplication::installTranslator(&polish);
    DInfo dialog;
    dialog.setGuiFont(11);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("O aplikacji"));
    QCOMPARE(standardButton(&dialog, "dialogButtonBox", QDialogButtonBox::Close)->text(), QStringLiteral("Zamknij"));
    QCOMPARE(child<QLabel>(&dialog, "lProgramInfo")->text().split(QLatin1Char('\n')),
             QStringList({QStringLiteral("HarbendPlayer ver. 2.1.22"),
                          QStringLiteral("Qt %1 (skompilowano z Qt %2)")
                              .arg(QString::fromLatin1(qVersion()), QStringLiteral(QT_VERSION_STR)),
                          QStringLiteral("Velmora")}));
    QCOMPARE(dialog.minimumSize(), QSize(640, 480));
    QCOMPARE(dialog.objectName(), QStringLiteral("DInfo"));
    QCOMPARE(dialog.findChild<QVBoxLayout*>(QStringLiteral("verticalLayout"))->sizeConstraint(),
             QLayout::SetMaximumSize);
    QLabel* info = child<QLabel>(&dialog, "lProgramInfo");
    QCOMPARE(info->textFormat(), Qt::PlainText);
    QCOMPARE(info->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
    QCOMPARE(child<QLabel>(&dialog, "lIcon")->frameShape(), QFrame::NoFrame);
    QCOMPARE(dialog.font().pointSize(), 11);
    const QPixmap icon = child<QLabel>(&dialog, "lIcon")->pixmap(Qt::ReturnByValue);
    QCOMPARE(icon.size(), QSize(128, 128));
    QTextEdit* licences = child<QTextEdit>(&dialog, "licensesText");
    QVERIFY(licences->isVisible());
    QCOMPARE(licences->documentTitle(), QStringLiteral("Licenses"));
    QVERIFY(licences->toPlainText().contains(QStringLiteral("libspeex")));
    QCoreApplication::removeTranslator(&polish);
}

void DialogsTest::aboutDialogInEnglish()
{
    QCoreApplication::setApplicationName(QStringLiteral("Odtwarzacz"));
    QCoreApplication::setOrganizationName(QStringLiteral("Sąd Rejonowy"));
    DInfo dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("About application"));
    QCOMPARE(standardButton(&dialog, "dialogButtonBox", QDialogButtonBox::Close)->text(), QStringLiteral("Close"));
    const QStringList lines = child<QLabel>(&dialog, "lProgramInfo")->text().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral("Odtwarzacz ver. 2.1.22"));
    QVERIFY(lines[1].endsWith(QStringLiteral(" (compiled with Qt " QT_VERSION_STR ")")));
    QCOMPARE(lines[2], QStringLiteral("Sąd Rejonowy"));
    initTestCase();
}

void DialogsTest::aboutDialogEndsByButtonOrCloseBox()
{
    DInfo byButton;
    QCOMPARE(execWith(byButton,
                      [&byButton] {
                          QTest::mouseClick(standardButton(&byButton, "dialogButtonBox", QDialogButtonBox::Close),
                                            Qt::LeftButton);
                      }),
             int(QDialog::Rejected));
    QVERIFY(!byButton.isVisible());
    DInfo byCloseBox;
    QCOMPARE(execWith(byCloseBox, [&byCloseBox] { byCloseBox.close(); }), int(QDialog::Rejected));
    QVERIFY(!byCloseBox.isVisible());
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
