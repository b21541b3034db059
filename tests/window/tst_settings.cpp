// The settings store over a real INI file in a temporary configuration folder:
// defaults, validity rules, repairs written back, clamps and the key names on disk.

#include "Gui/Settings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void emptyStoreGivesDefaultsAndWritesNothing();
    void themeAndOpenModeAreRepaired();
    void lastFolderIsRepairedOnlyWhenEmpty();
    void fontSizeFallsBackAndIsLimited();
    void annotationOffsetIsLimited();
    void savesReachTheFileAtOnceUnderTheirKeys();

private:
    // Replaces the file's content, as a user or an older version might have left it.
    void writeFile(const QByteArray& content);
    QByteArray readFile() const;
    QString iniPath() const;

    QTemporaryDir configHome;
};

void SettingsTest::initTestCase()
{
    QVERIFY(configHome.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("HarbendPlayer"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configHome.path());
    QCOMPARE(Settings().fileName(), iniPath());
}

void SettingsTest::init() { QFile::remove(iniPath()); }

QString SettingsTest::iniPath() const { return configHome.path() + QStringLiteral("/Velmora/HarbendPlayer.ini"); }

void SettingsTest::writeFile(const QByteArray& content)
{
    QDir().mkpath(configHome.path() + QStringLiteral("/Velmora"));
    QFile file(iniPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.flush();
    // Qt keeps the file's content while its size and time stay the same: give each write its own time.
    static QDateTime stamp = QDateTime::currentDateTime().addDays(-1);
    stamp = stamp.addSecs(1);
    QVERIFY(file.setFileTime(stamp, QFileDevice::FileModificationTime));
}

QByteArray SettingsTest::readFile() const
{
    QFile file(iniPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void SettingsTest::emptyStoreGivesDefaultsAndWritesNothing()
{
    Settings settings;
    QCOMPARE(settings.readUiMotif(), QStringLiteral("BRAK"));
    QCOMPARE(settings.readOpenMediaMode(), QStringLiteral("LASTFILE"));
    QCOMPARE(settings.readLastMediaOpenFile(), QString());
    QCOMPARE(settings.readLastMediaOpenDirectory(), QDir::homePath());
    QCOMPARE(settings.readFontSize(), 10);
    QCOMPARE(settings.readAnnotationJumpMargin(), 0);
    QVERIFY(!readFile().contains('='));
}

void SettingsTest::themeAndOpenModeAreRepaired()
{
    struct Case {
        QByteArray stored;
        QString motif;
        QString mode;
        bool repaired;
    };
    const Case cases[] = {
        {"uiMotif=SREBRNY1\nopenMediaMode=LASTDIR\n", "SREBRNY1", "LASTDIR", false},
        {"uiMotif=NOCNY\nopenMediaMode=NOMEDIA\n", "NOCNY", "NOMEDIA", false},
        {"uiMotif=srebrny1\nopenMediaMode=lastfile\n", "BRAK", "LASTFILE", true},
        {"uiMotif=\nopenMediaMode=\n", "BRAK", "LASTFILE", true},
        {"uiMotif=SREBRNY\nopenMediaMode=Nomedia\n", "BRAK", "LASTFILE", true},
    };
    for (const Case& c : cases) {
        writeFile("[General]\n" + c.stored);
        {
            Settings settings;
            QCOMPARE(settings.readUiMotif(), c.motif);
            QCOMPARE(settings.readOpenMediaMode(), c.mode);
        }
        const QByteArray file = readFile();
        if (c.repaired) {
            QVERIFY2(file.contains("uiMotif=BRAK\n"), file.constData());
            QVERIFY2(file.contains("openMediaMode=LASTFILE\n"), file.constData());
        } else {
            QCOMPARE(file, "[General]\n" + c.stored);
        }
    }
}

void SettingsTest::lastFolderIsRepairedOnlyWhenEmpty()
{
    writeFile("[General]\nlastMediaOpenFile=/nagrania/rozprawa.ogg\n");
    {
        Settings settings;
        QCOMPARE(settings.readLastMediaOpenDirectory(), QDir::homePath());
        QCOMPARE(settings.readLastMediaOpenFile(), QStringLiteral("/nagrania/rozprawa.ogg"));
    }
    QVERIFY(!readFile().contains("lastMediaOpenDirectory"));

    writeFile("[General]\nlastMediaOpenDirectory=\n");
    QCOMPARE(Settings().readLastMediaOpenDirectory(), QDir::homePath());
    QVERIFY(readFile().contains("lastMediaOpenDirectory=" + QDir::homePath().toUtf8() + "\n"));

    writeFile("[General]\nlastMediaOpenDirectory=/nagrania\n");
    QCOMPARE(Settings().readLastMediaOpenDirectory(), QStringLiteral("/nagrania"));
}

void SettingsTest::fontSizeFallsBackAndIsLimited()
{
    const QPair<QByteArray, int> cases[] = {{"duzy", 10}, {"0", 10}, {"7", 8},           {"25", 16},
                                            {"12", 12},   {"-3", 8}, {"4294967296", 16}, {"-4294967286", 8}};
    for (const auto& c : cases) {
        const QByteArray content = "[General]\nfontSize=" + c.first + "\n";
        writeFile(content);
        QVERIFY2(Settings().readFontSize() == c.second, c.first.constData());
        QCOMPARE(readFile(), content);
    }
    Settings settings;
    settings.saveFontSize(5);
    QVERIFY(readFile().contains("fontSize=8\n"));
    settings.saveFontSize(40);
    QVERIFY(readFile().contains("fontSize=16\n"));
    settings.saveFontSize(13);
    QCOMPARE(settings.readFontSize(), 13);
}

void SettingsTest::annotationOffsetIsLimited()
{
    writeFile("[General]\nannotationJumpMargin=5000\n");
    QCOMPARE(Settings().readAnnotationJumpMargin(), 1000);
    writeFile("[General]\nannotationJumpMargin=-5000\n");
    QCOMPARE(Settings().readAnnotationJumpMargin(), -1000);
    // Beyond the int range: limited, not cut to the low bits (which would give 0 here).
    writeFile("[General]\nannotationJumpMargin=4294967296\n");
    QCOMPARE(Settings().readAnnotationJumpMargin(), 1000);
    writeFile("[General]\nannotationJumpMargin=-4294967296\n");
    QCOMPARE(Settings().readAnnotationJumpMargin(), -1000);
    writeFile("[General]\nannotationJumpMargin=abc\n");
    QCOMPARE(Settings().readAnnotationJumpMargin(), 0);

    Settings settings;
    settings.saveAnnotationJumpMargin(5000);
    QVERIFY(readFile().contains("annotationJumpMargin=1000\n"));
    settings.saveAnnotationJumpMargin(-1001);
    QVERIFY(readFile().contains("annotationJumpMargin=-1000\n"));
    settings.saveAnnotationJumpMargin(-15);
    QCOMPARE(settings.readAnnotationJumpMargin(), -15);
}

void SettingsTest::savesReachTheFileAtOnceUnderTheirKeys()
{
    Settings settings;
    settings.saveAnnotationJumpMargin(-30);
    // Each save is on disk before the next one.
    QVERIFY(readFile().contains("annotationJumpMargin=-30\n"));
    settings.saveLastMediaOpenDirectory(QStringLiteral("/nagrania/sala 4"));
    settings.saveLastMediaOpenFile(QStringLiteral("/nagrania/sala 4/rozprawa żółta.ogg"));
    settings.saveFontSize(12);
    settings.saveOpenMediaMode(QStringLiteral("NOMEDIA"));
    settings.saveUiMotif(QStringLiteral("NOCNY"));
    const QByteArray file = readFile();
    for (const char* line : {"[General]\n", "annotationJumpMargin=-30\n", "lastMediaOpenDirectory=/nagrania/sala 4\n",
                             "fontSize=12\n", "openMediaMode=NOMEDIA\n", "uiMotif=NOCNY\n"})
        QVERIFY2(file.contains(line), line);
    QVERIFY(file.contains("lastMediaOpenFile="));

    // Saves store what they are given; the reads judge it.
    settings.saveUiMotif(QStringLiteral("ZIELONY"));
    QVERIFY(readFile().contains("uiMotif=ZIELONY\n"));

    Settings again;
    QCOMPARE(again.readLastMediaOpenFile(), QStringLiteral("/nagrania/sala 4/rozprawa żółta.ogg"));
    QCOMPARE(again.readLastMediaOpenDirectory(), QStringLiteral("/nagrania/sala 4"));
    QCOMPARE(again.readFontSize(), 12);
    QCOMPARE(again.readOpenMediaMode(), QStringLiteral("NOMEDIA"));
    QCOMPARE(again.readAnnotationJumpMargin(), -30);
    QCOMPARE(again.readUiMotif(), QStringLiteral("BRAK"));
}

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
