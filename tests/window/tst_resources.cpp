// The embedded resources: every path loads, the two theme sheets style widgets as
// they should, and the Polish translation is found for the locale and installed by
// the application object, with Qt's own and the system's error texts, only when
// the environment asks for Polish.

#include "Annotations/Adnotacje.h"
#include "App/HarbendPlayer.h"
#include "Gui/DInfo.h"
#include "tests/TestMain.h"

#include "tests/annotations/ScriptedDialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QResource>
#include <QStandardItemModel>
#include <QStyle>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimeEdit>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include <cstdio>

namespace {

struct Message {
    const char* context;
    const char* source;
    const char* polish;
};

const Message kMessages[] = {
    {"Adnotacje", "Parse error at line %1, column %2:\n%3", "Błąd parsowania w linii %1, kolumnie %2:\n%3"},
    {"DInfo", "About application", "O aplikacji"},
    {"DInfo", "Close", "Zamknij"},
    {"DInfo", "HarbendPlayera Icon", "Ikona HarbendPlayera"},
    {"DInfo", "compiled with Qt", "skompilowano z Qt"},
    {"DPrint", "Print Document", "Drukuj dokument"},
    {"PlayerControl", "Can't open media source!", "Nie można otworzyć wymaganego źródła!"},
    {"PlayerControl", "Failed to start Ogg reading thread!", "Nie udało się wystartować wątku odczytującego!"},
    {"PlayerControl", "Failed to start reading from the Ogg file!", "Nie udało się rozpocząć odczytu z pliku Ogg!"},
    {"PlayerControl", "Invalid stream source!", "Nieprawidłowe źródło!"},
    {"VideoSurface", "Failed to create Direct3D video output! Out of memory?",
     "Nie udało się utworzyć wyjścia video Direct3D! Brak pamięci?"},
    {"VideoSurface", "Failed to create OpenGL video output! Out of memory?",
     "Nie udało się utworzyć wyjścia video OpenGL! Brak pamięci?"},
    {"VideoSurface", "Failed to create software video output! Out of memory?",
     "Nie udało się utworzyć programowego wyjścia video! Brak pamięci?"},
    {"VideoSurface", "Failed to initialize video output! Won't have video support!",
     "Nie udało się zainicjalizować żadnego wyjścia video! Odtwarzacz nie będzie posiadał obsługi video!"},
    {"VideoSurface", "The picture format of this recording is not supported. It plays without video.",
     "Format obrazu tego nagrania nie jest obsługiwany. Nagranie zostanie odtworzone bez obrazu."},
    {"VideoSurface",
     "The newest graphics drivers are not installed in this system. Video playback would be done in software.",
     "W systemie nie zainstalowano najnowszych sterowników dla karty graficznej. Odtwarzanie video będzie się "
     "odbywać programowo."},
    {"WMediaPlayer", "Video rendering problem", "Problem renderowania video"},
    {"WPlayer", "Channel volume control", "Regulacja głośności kanałów"},
    {"WPlayer", "Critical error", "Błąd krytyczny"},
    {"WPlayer", "Failed to open recording file '%1'.", "Nie udało się otworzyć pliku z nagraniem '%1'."},
    {"WPlayer", "Failed to open style file '%1'. Loading default style.",
     "Nie udało się otworzyć pliku stylu '%1'. Ładuję domyślny styl."},
    {"WPlayer", "Fast playback", "Szybkie odtwarzanie"},
    {"WPlayer", "Normal playback", "Normalne odtwarzanie"},
    {"WPlayer", "Open annotation file", "Otwieranie pliku z adnotacjami"},
    {"WPlayer", "Open recording file", "Otwieranie pliku z nagraniem"},
    {"WPlayer", "Harbend annotation files (*.xml);;All files(*.*)",
     "Pliki adnotacji Harbend (*.xml);;Wszystkie pliki(*.*)"},
    {"WPlayer", "Harbend recordings (*.ogg *.oga);;All files (*.*)",
     "Nagrania Harbend (*.ogg *.oga);;Wszystkie pliki (*.*)"},
    {"WPlayer", "Slow playback", "Wolne odtwarzanie"},
};
const int kMessageCount = int(sizeof(kMessages) / sizeof(kMessages[0]));

// Qt's file dialog: the folder, name and type labels and the two buttons.
struct DialogText {
    const char* english;
    const char* polish;
};
const DialogText kFileDialogTexts[] = {{"Look in:", "Szukaj w:"},
                                       {"File &name:", "Nazwa &pliku:"},
                                       {"Files of type:", "Pliki rodzaju:"},
                                       {"&Save", "&Zachowaj"},
                                       {"Cancel", "Anuluj"}};

// What the annotations panel tells of a system error and of the XML parser's
// findings that a clerk can meet: the file it writes lies in a folder that is
// gone, a file cut short, a tag closed by another name, a bare "&" or "<" typed
// into a file by hand (the parser's newer texts, which Qt's translation lacks).
struct FailureCase {
    const char* content; // null: a file written into a missing folder
    const char* english;
    const char* polish;
};
const FailureCase kFailures[] = {
    {nullptr, "No such file or directory", "Nie ma takiego pliku ani katalogu"},
    {"<ArrayOfAnnotation><Annotation Time=\"PT1S\"><Text>Otwarcie", "Premature end of document.",
     "Przedwczesne zakończenie dokumentu."},
    {"<ArrayOfAnnotation><Annotation Time=\"PT1S\"></Adnotacja></ArrayOfAnnotation>",
     "Opening and ending tag mismatch.", "Niezgodne tagi początku i końca."},
    {"<ArrayOfAnnotation><Annotation Time=\"PT1S\"><Text>Kowalski & syn</Text></Annotation></ArrayOfAnnotation>",
     "Expected '#' or '[a-zA-Z]', but got ' '.", "Oczekiwano '#' lub '[a-zA-Z]', ale otrzymano ' '."},
    {"<ArrayOfAnnotation><Annotation Time=\"PT1S\"><Text>x < y</Text></Annotation></ArrayOfAnnotation>",
     "Unexpected ' '.", "Nieoczekiwany ' '."},
};

// The last line of each message the panel shows for the failures above.
QJsonArray failureTexts()
{
    QTemporaryDir folder;
    Adnotacje panel;
    ScriptedDialogs dialogs;
    panel.setDialogs(&dialogs);
    QJsonArray texts;
    for (const FailureCase& failure : kFailures) {
        dialogs.shown.clear();
        if (failure.content) {
            const QString path = folder.filePath(QString::number(texts.size()) + QStringLiteral(".xml"));
            QFile file(path);
            if (file.open(QIODevice::WriteOnly))
                file.write(failure.content);
            file.close();
            panel.loadAdnotationsFile(path, true);
        } else {
            panel.createNewAnnotationsFile(folder.filePath(QStringLiteral("brak/nowy.xml")));
        }
        texts.append(dialogs.shown.isEmpty() ? QString() : dialogs.shown.last().text.section(QLatin1Char('\n'), -1));
    }
    return texts;
}

const char kProbeArgument[] = "--probe";
const char kProbeMarker[] = "-- probe result --";

// Runs in a child process: the application object as the host creates it, then
// what the user would see of the translation and the window icon, as JSON.
int probe(int argc, char** argv)
{
    // The probe's own flag is no recording: the player would report that it cannot open it.
    Q_UNUSED(argc);
    int programOnly = 1;
    QApplication application(programOnly, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("HarbendPlayer"));
    QJsonObject result;
    {
        Harbend::HarbendPlayer player;
        player.initialize();
        QJsonArray texts;
        for (const Message& message : kMessages)
            texts.append(QCoreApplication::translate(message.context, message.source));
        result[QStringLiteral("texts")] = texts;
        result[QStringLiteral("locale")] = QLocale::system().name();
        DInfo about;
        result[QStringLiteral("about")] = QJsonArray(
            {about.windowTitle(), about.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close)->text(),
             about.findChild<QLabel*>(QStringLiteral("lProgramInfo"))->text()});
        QFileDialog files;
        files.setAcceptMode(QFileDialog::AcceptSave);
        const auto* buttons = files.findChild<QDialogButtonBox*>();
        result[QStringLiteral("fileDialog")] = QJsonArray(
            {files.findChild<QLabel*>(QStringLiteral("lookInLabel"))->text(),
             files.findChild<QLabel*>(QStringLiteral("fileNameLabel"))->text(),
             files.findChild<QLabel*>(QStringLiteral("fileTypeLabel"))->text(),
             buttons->button(QDialogButtonBox::Save)->text(), buttons->button(QDialogButtonBox::Cancel)->text()});
        result[QStringLiteral("failures")] = failureTexts();
        QTimer::singleShot(0, [&result] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (!widget->isWindow() || !widget->isVisible())
                    continue;
                const QList<QSize> sizes = widget->windowIcon().availableSizes();
                result[QStringLiteral("icon")] =
                    sizes.isEmpty() ? QString()
                                    : QStringLiteral("%1x%2").arg(sizes.first().width()).arg(sizes.first().height());
                widget->close();
            }
        });
        result[QStringLiteral("exit")] = player.run();
        player.close();
    }
    // The log also reaches standard output: the result is the line after the marker.
    std::printf("\n%s\n%s\n", kProbeMarker, QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}

QJsonObject runProbe(const QString& lang, const QString& dataHome)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LC_NUMERIC", "LANGUAGE"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("LANG"), lang);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kProbeArgument)});
    if (!child.waitForFinished(60000) || child.exitCode() != 0) {
        qWarning() << child.readAllStandardError();
        return {};
    }
    const QByteArray output = child.readAllStandardOutput();
    const int marker = output.lastIndexOf(kProbeMarker);
    if (marker < 0) {
        qWarning() << output;
        return {};
    }
    return QJsonDocument::fromJson(output.mid(marker + int(qstrlen(kProbeMarker)))).object();
}

// The texts of a Polish and of a plain run against a table's Polish and English texts.
template <class Row, std::size_t N>
void compareTexts(const QJsonObject& polish, const QJsonObject& plain, const char* key, const Row (&rows)[N])
{
    const QJsonArray polishTexts = polish.value(QLatin1String(key)).toArray();
    const QJsonArray plainTexts = plain.value(QLatin1String(key)).toArray();
    QCOMPARE(polishTexts.size(), int(N));
    QCOMPARE(plainTexts.size(), int(N));
    for (int i = 0; i < int(N); ++i) {
        QCOMPARE(polishTexts[i].toString(), QString::fromUtf8(rows[i].polish));
        QCOMPARE(plainTexts[i].toString(), QString::fromUtf8(rows[i].english));
    }
}

} // namespace

class ResourcesTest : public QObject {
    Q_OBJECT
private slots:
    void picturesLoadAtTheirSizes_data();
    void picturesLoadAtTheirSizes();
    void unusedFilesArePresent();
    void storedInTheClassicLayout();
    void themeSheetsHoldTheirRules();
    void themeSheetsStyleWidgets();
    void nightThemeShowsSymbolsEdgesAndBoxes();
    void licencesPageNamesTheLibraries();
    void translationIsFoundForPolishLocales();
    void applicationInstallsPolishOnlyForAPolishEnvironment();
};

void ResourcesTest::picturesLoadAtTheirSizes_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    const QSize transport(24, 24);
    QTest::newRow("application") << ":/icons/Harbend-Player.png" << QSize(128, 128);
    QTest::newRow("play") << ":/icons/player_play.png" << transport;
    QTest::newRow("stop") << ":/icons/player_stop.png" << transport;
    QTest::newRow("rewind") << ":/icons/player_rewind.png" << transport;
    QTest::newRow("forward") << ":/icons/player_forward.png" << transport;
    QTest::newRow("audio") << ":/icons/audio.png" << QSize(22, 19);
    QTest::newRow("fast on") << ":/icons/playfaston.png" << QSize(20, 12);
    QTest::newRow("fast off") << ":/icons/playfastoff.png" << QSize(20, 12);
    QTest::newRow("slow on") << ":/icons/playslowon.png" << QSize(12, 12);
    QTest::newRow("slow off") << ":/icons/playslowoff.png" << QSize(12, 12);
    QTest::newRow("normal on") << ":/icons/playnormalon.png" << QSize(12, 12);
    QTest::newRow("normal off") << ":/icons/playnormaloff.png" << QSize(12, 12);
    QTest::newRow("video") << ":/icons/video.png" << QSize(314, 350);
}

void ResourcesTest::picturesLoadAtTheirSizes()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
    // Drawn, not blank: some pixels are opaque and some differ from the first.
    bool opaque = false, varied = false;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            opaque = opaque || qAlpha(image.pixel(x, y)) == 255;
            varied = varied || image.pixel(x, y) != image.pixel(0, 0);
        }
    QVERIFY(opaque && varied);
}

void ResourcesTest::unusedFilesArePresent()
{
    const char* const images[] = {":/icons/player_pause.png",
                                  ":/icons/audio-x.png",
                                  ":/icons/add_item.png",
                                  ":/icons/edit_item.png",
                                  ":/icons/export_item.png",
                                  ":/icons/search_item.png",
                                  ":/icons/expand-left.png",
                                  ":/icons/expand-right.png",
                                  ":/icons/expand-up.png",
                                  ":/icons/expand-down.png",
                                  ":/icons/vol-bkg-trackbar.png",
                                  ":/Style/nature_1.jpg",
                                  ":/Style/add.png",
                                  ":/Style/remove.png"};
    for (const char* path : images)
        QVERIFY2(!QImage(QString::fromLatin1(path)).isNull(), path);
    for (const char* path :
         {":/Style/application.qss", ":/Style/blue.qss", ":/Style/khaki.qss", ":/Style/transparent.qss"}) {
        QFile sheet(QString::fromLatin1(path));
        QVERIFY2(sheet.open(QIODevice::ReadOnly) && sheet.size() > 0, path);
    }
    QFile empty(QStringLiteral(":/Style/nostyle.qss"));
    QVERIFY(empty.open(QIODevice::ReadOnly));
    QCOMPARE(empty.size(), qint64(0));
}

void ResourcesTest::storedInTheClassicLayout()
{
    // Exactly two files are stored compressed, both with zlib; every other one as it is.
    const QStringList compressed = {QStringLiteral(":/Style/application.qss"), QStringLiteral(":/icons/add_item.png")};
    int files = 0;
    for (const QString& folder : {QStringLiteral(":/icons"), QStringLiteral(":/Style"), QStringLiteral(":/Docs"),
                                  QStringLiteral(":/Language")}) {
        QDirIterator entries(folder, QDir::Files);
        while (entries.hasNext()) {
            const QString path = entries.next();
            ++files;
            const QResource resource(path);
            QVERIFY2(resource.isValid(), qPrintable(path));
            QVERIFY2(resource.compressionAlgorithm() ==
                         (compressed.contains(path) ? QResource::ZlibCompression : QResource::NoCompression),
                     qPrintable(path));
            // Format 1 keeps no file times.
            QVERIFY2(!QFileInfo(path).lastModified().isValid(), qPrintable(path));
        }
    }
    QCOMPARE(files, 24 + 10 + 1 + 1);
    // Compressed or not, the content reads back whole.
    QFile sheet(compressed[0]);
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    QVERIFY(sheet.readAll().size() > 1000);
    QCOMPARE(QImage(compressed[1]).size(), QSize(16, 16));
}

// The sheet's rules in file order, one "selector{property:value;...}" each, without
// comments or white space.
static QStringList sheetRules(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QString sheet = QString::fromUtf8(file.readAll());
    sheet.remove(QRegularExpression(QStringLiteral("/\\*.*?\\*/"), QRegularExpression::DotMatchesEverythingOption));
    sheet.remove(QRegularExpression(QStringLiteral("\\s+")));
    QStringList rules = sheet.split(QLatin1Char('}'), Qt::SkipEmptyParts);
    for (QString& rule : rules)
        rule += QLatin1Char('}');
    return rules;
}

void ResourcesTest::themeSheetsHoldTheirRules()
{
    const QString combo = QStringLiteral("QComboBox{border-width:1px;border-style:inset;border-color:dimgray;}");
    QCOMPARE(sheetRules(QStringLiteral(":/Style/silver.qss")),
             QStringList({QStringLiteral("*{color:black;background-color:silver;}"), combo,
                          QStringLiteral("QMenuBar::item{background-color:silver;}"),
                          QStringLiteral("QHeaderView::section{background-color:silver;}"),
                          QStringLiteral("QTabBar{background-color:silver;}")}));
    QCOMPARE(
        sheetRules(QStringLiteral(":/Style/night.qss")),
        QStringList({QStringLiteral("*{color:DarkCyan;background-color:#111111;border-color:dimgray;}"),
                     QStringLiteral("QAbstractButton{background:qlineargradient(x1:0,y1:0,x2:0,y2:1,stop:0darkgray,"
                                    "stop:0.5black);border-color:dimgray;border-width:1px;border-style:outset;"
                                    "padding:2px;margin:2px;}"),
                     QStringLiteral("QAbstractButton:pressed{background:qlineargradient(x1:0,y1:0,x2:0,y2:1,"
                                    "stop:0black,stop:0.5darkgray);border-color:dimgray;}"),
                     QStringLiteral("#playerBtRevind,#playerBtStop,#playerBtPlayPause,#playerBtForward,#playerBtMute{"
                                    "background:qlineargradient(x1:0,y1:0,x2:0,y2:1,stop:0darkgray,stop:1dimgray);}"),
                     QStringLiteral("#playerBtRevind:pressed,#playerBtStop:pressed,#playerBtPlayPause:pressed,"
                                    "#playerBtForward:pressed,#playerBtMute:pressed{background:qlineargradient(x1:0,"
                                    "y1:0,x2:0,y2:1,stop:0dimgray,stop:1darkgray);}"),
                     QStringLiteral("QComboBox,QLineEdit,QAbstractSpinBox{border-width:1px;border-style:inset;"
                                    "border-color:dimgray;}"),
                     QStringLiteral("QAbstractSpinBox::up-button,QAbstractSpinBox::down-button{width:18px;}"),
                     QStringLiteral("QTableView::indicator:unchecked{border:1pxsolid#111111;"
                                    "background-color:transparent;}"),
                     QStringLiteral("QMenuBar::item{background-color:#111111;}"),
                     QStringLiteral("QHeaderView::section{background-color:DarkSlateGray;border-color:dimgray;"
                                    "border-width:1px;border-style:inset;padding:2px;}"),
                     QStringLiteral("QTabBar{background-color:#111111;}")}));
}

void ResourcesTest::themeSheetsStyleWidgets()
{
    struct Theme {
        const char* path;
        QColor text;
        QColor background;
    };
    const Theme themes[] = {{":/Style/silver.qss", QColor(Qt::black), QColor(0xc0, 0xc0, 0xc0)},
                            {":/Style/night.qss", QColor(0x00, 0x8b, 0x8b), QColor(0x11, 0x11, 0x11)}};
    for (const Theme& theme : themes) {
        QFile file(QString::fromLatin1(theme.path));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString sheet = QString::fromUtf8(file.readAll());
        QVERIFY(sheet.contains(QStringLiteral("QHeaderView::section")));
        qApp->setStyleSheet(sheet);
        QLabel label(QStringLiteral("Ustawienia"));
        label.setAutoFillBackground(true);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QCOMPARE(label.palette().color(QPalette::WindowText), theme.text);
        QCOMPARE(label.palette().color(QPalette::Window), theme.background);
        // What reaches the screen is the sheet's background.
        const QImage shot = label.grab().toImage();
        QCOMPARE(QColor(shot.pixel(1, 1)), theme.background);
    }
    qApp->setStyleSheet(QString());
}

// On the night sheet's dark buttons and fields the style's dark media symbols, the
// edge of a text field and an unchecked box in a table must stand out.
void ResourcesTest::nightThemeShowsSymbolsEdgesAndBoxes()
{
    QFile file(QStringLiteral(":/Style/night.qss"));
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
    const auto contrast = [](const QImage& image, QPoint a, QPoint b) {
        return qAbs(qGray(image.pixel(a)) - qGray(image.pixel(b)));
    };
    const int kVisible = 60;

    QWidget window;
    QPushButton stop(&window);
    stop.setObjectName(QStringLiteral("playerBtStop"));
    stop.setIcon(stop.style()->standardIcon(QStyle::SP_MediaStop));
    stop.setFixedSize(40, 40);
    QLineEdit field(&window);
    field.setGeometry(0, 50, 95, 26);
    QTimeEdit time(&window);
    time.setGeometry(105, 50, 95, 26);
    QStandardItemModel model(1, 1);
    auto* protocol = new QStandardItem;
    protocol->setCheckState(Qt::Unchecked);
    const QColor layer(0xf3, 0xe5, 0xf5);
    protocol->setData(layer, Qt::BackgroundRole);
    model.setItem(0, 0, protocol);
    QTableView table(&window);
    table.setModel(&model);
    table.setGeometry(0, 90, 200, 80);
    window.resize(220, 180);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // The square symbol's centre against the button beside it, on the same line.
    const QImage button = stop.grab().toImage();
    const QPoint centre(button.width() / 2, button.height() / 2);
    QVERIFY2(contrast(button, centre, QPoint(5, centre.y())) >= kVisible, "stop symbol");
    // The edges of the text field and of the time box against their insides.
    for (QWidget* box : {static_cast<QWidget*>(&field), static_cast<QWidget*>(&time)}) {
        const QImage edit = box->grab().toImage();
        QVERIFY2(contrast(edit, QPoint(0, edit.height() / 2), QPoint(edit.width() / 2, edit.height() / 2)) >= kVisible,
                 box->metaObject()->className());
    }
    // The time box's arrows stay visible inside its edge.
    QStyleOptionSpinBox spin;
    spin.initFrom(&time);
    spin.subControls = QStyle::SC_SpinBoxUp;
    const QRect up = time.style()
                         ->subControlRect(QStyle::CC_SpinBox, &spin, QStyle::SC_SpinBoxUp, &time)
                         .intersected(time.rect().adjusted(2, 2, -2, -2));
    const QImage arrows = time.grab().toImage();
    int brightest = 0;
    for (int y = up.top(); y <= up.bottom(); ++y)
        for (int x = up.left(); x <= up.right(); ++x)
            brightest = std::max(brightest, qAbs(qGray(arrows.pixel(x, y)) - qGray(0x11, 0x11, 0x11)));
    QVERIFY2(brightest >= kVisible, "time box arrow");
    // An unchecked box is open: its inside shows the row's colour.
    QStyleOptionViewItem option;
    option.initFrom(table.viewport());
    option.rect = table.visualRect(model.index(0, 0));
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = table.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &table);
    QVERIFY(!box.isEmpty());
    const QImage cells = table.viewport()->grab().toImage();
    QCOMPARE(QColor(cells.pixel(box.center())), layer);
    qApp->setStyleSheet(QString());
}

void ResourcesTest::licencesPageNamesTheLibraries()
{
    QFile file(QStringLiteral(":/Docs/Licenses.html"));
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString html = QString::fromUtf8(file.readAll());
    QTextEdit view;
    view.setHtml(html);
    QCOMPARE(view.document()->metaInformation(QTextDocument::DocumentTitle), QStringLiteral("Licenses"));
    QCOMPARE(html.count(QStringLiteral("<h3>")), 5);
    const QString text = view.toPlainText();
    for (const char* name :
         {"Qt", "Lesser General Public License version 3", "libavcodec", "version 2.1 or later", "libogg", "libtheora",
          "libvorbis", "libspeex", "libopus", "Redistribution and use in source and binary forms"})
        QVERIFY2(text.contains(QString::fromLatin1(name)), name);
}

void ResourcesTest::translationIsFoundForPolishLocales()
{
    // The locale's full name shortens to the embedded "pl".
    for (const char* name : {"pl_PL", "pl"}) {
        QTranslator translator;
        QVERIFY2(translator.load(QStringLiteral(":/Language/") + QString::fromLatin1(name)), name);
        for (const Message& message : kMessages)
            QCOMPARE(translator.translate(message.context, message.source), QString::fromUtf8(message.polish));
        // Only the listed contexts are translated.
        QVERIFY(translator.translate("DSettings", "Anuluj").isEmpty());
        QVERIFY(translator.translate("WPlayer", "About application").isEmpty());
    }
    for (const char* name : {"C", "en_US", "de_DE"}) {
        QTranslator translator;
        QVERIFY2(!translator.load(QStringLiteral(":/Language/") + QString::fromLatin1(name)), name);
    }
}

void ResourcesTest::applicationInstallsPolishOnlyForAPolishEnvironment()
{
    QTemporaryDir dataHome;
    const QJsonObject polish = runProbe(QStringLiteral("pl_PL.UTF-8"), dataHome.path());
    const QJsonObject plain = runProbe(QStringLiteral("C.UTF-8"), dataHome.path());
    QCOMPARE(polish.value(QStringLiteral("locale")).toString(), QStringLiteral("pl_PL"));
    QCOMPARE(plain.value(QStringLiteral("locale")).toString(), QStringLiteral("C"));
    const QJsonArray polishTexts = polish.value(QStringLiteral("texts")).toArray();
    const QJsonArray plainTexts = plain.value(QStringLiteral("texts")).toArray();
    QCOMPARE(polishTexts.size(), kMessageCount);
    QCOMPARE(plainTexts.size(), kMessageCount);
    for (int i = 0; i < kMessageCount; ++i) {
        QCOMPARE(polishTexts[i].toString(), QString::fromUtf8(kMessages[i].polish));
        QCOMPARE(plainTexts[i].toString(), QString::fromUtf8(kMessages[i].source));
    }
    // The parse-error message keeps its line break in both languages.
    QCOMPARE(polishTexts[0].toString().section(QLatin1Char('\n'), 1), QStringLiteral("%3"));
    QCOMPARE(plainTexts[0].toString().section(QLatin1Char('\n'), 1), QStringLiteral("%3"));
    // The about dialog follows the language.
    const QString compiled = QStringLiteral(" " QT_VERSION_STR ")\nVelmora");
    const QJsonArray polishAbout = polish.value(QStringLiteral("about")).toArray();
    QCOMPARE(polishAbout[0].toString(), QStringLiteral("O aplikacji"));
    QCOMPARE(polishAbout[1].toString(), QStringLiteral("Zamknij"));
    QVERIFY(polishAbout[2].toString().endsWith(QStringLiteral("skompilowano z Qt") + compiled));
    const QJsonArray plainAbout = plain.value(QStringLiteral("about")).toArray();
    QCOMPARE(plainAbout[0].toString(), QStringLiteral("About application"));
    QCOMPARE(plainAbout[1].toString(), QStringLiteral("Close"));
    QVERIFY(plainAbout[2].toString().endsWith(QStringLiteral("compiled with Qt") + compiled));
    // Qt's own dialogs, the system's error texts and the XML parser's messages follow too;
    // on a system without that Polish locale the common errors keep their Polish text.
    const QJsonObject polishWithoutSystemTexts = runProbe(QStringLiteral("pl_XX.UTF-8"), dataHome.path());
    compareTexts(polish, plain, "fileDialog", kFileDialogTexts);
    compareTexts(polish, plain, "failures", kFailures);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(polishWithoutSystemTexts.value(QStringLiteral("failures")).toArray().first().toString(),
             QString::fromUtf8(kFailures[0].polish));
    // The window carries the application's icon whatever the language.
    for (const QJsonObject& run : {polish, plain}) {
        QCOMPARE(run.value(QStringLiteral("icon")).toString(), QStringLiteral("128x128"));
        QCOMPARE(run.value(QStringLiteral("exit")).toInt(-1), 0);
    }
}

static int runTests(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], kProbeArgument) == 0)
        return probe(argc, argv);
    QApplication application(argc, argv);
    ResourcesTest test;
    return QTest::qExec(&test, argc, argv);
}

int main(int argc, char** argv) { endTestProcess(runTests(argc, argv)); }

#include "tst_resources.moc"
