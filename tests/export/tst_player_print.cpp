// Printing and exporting annotation lists: the HTML document, PDF files read
// back with poppler, RTF files checked byte by byte and read by LibreOffice,
// the print and save dialogs, and targets that must not be written.

#include "Annotations/CAdnotation.h"
#include "Annotations/Duration.h"
#include "Annotations/PlayerPrint.h"
#include "ExportTestHelpers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPageLayout>
#include <QPrintDialog>
#include <QPrinter>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace ExportTest;

namespace {

const int kFontPoints = 11;

// Every Polish letter, and its code-page-1250 bytes.
const char kPolish[] = "ąćęłńóśźż ĄĆĘŁŃÓŚŹŻ";
const char kPolishCp1250[] = "\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF \xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF";

// A Time attribute that would break both documents if written raw.
const char kHostileTime[] = "PT<i>x</i>\"&{}\\1H";

QString polish() { return QString::fromUtf8(kPolish); }

// Closes the next message box and keeps its title and text.
void answerMessageBox(QString* title, QString* text)
{
    whenModal<QMessageBox>([title, text](QMessageBox* box) {
        *title = box->windowTitle();
        *text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), data.size());
}

QList<CAdnotation> manyAnnotations(int count)
{
    QList<CAdnotation> list;
    for (int i = 0; i < count; ++i) {
        const QString text = QStringLiteral("Wpis %1 %2 <>&\"").arg(i, 3, 10, QLatin1Char('0')).arg(polish());
        list << CAdnotation(Duration::msToIso(i * 7250), text,
                            i % 3 == 0 ? QStringLiteral("true") : QStringLiteral("false"), 1);
    }
    return list;
}

// The HTML document up to its first row, for a font of kFontPoints points.
QString htmlHeader()
{
    return QStringLiteral("<html>\n<head>\n<meta Content=\"Text/html; charset=utf-8\">\n<title>Tytuł</title>\n"
                          "</head>\n<body bgcolor=#ffffff link=#5000A0>\n<table style=\"font-size:11pt;\" "
                          "width=\"100%\" border=1 cellspacing=0 cellpadding=2>\n<tr bgcolor=#f0f0f0>"
                          "<th nowrap=\"nowrap\" >Czas</th><th width=\"75%\" >Adnotacja</th>"
                          "<th nowrap=\"nowrap\" >Prot.</th></tr>\n");
}

QString htmlRow(const QString& time, const QString& text, const QString& protocol)
{
    return QStringLiteral("<tr><td nowrap=\"nowrap\" bkcolor=0>%1</td><td bkcolor=0>%2</td>"
                          "<td nowrap=\"nowrap\" bkcolor=0><>%3</td></tr>\n")
        .arg(time, text, protocol);
}

const char kHtmlEnd[] = "</table>\n</body>\n</html>\n";

QString buildHtml(PlayerPrint& print)
{
    print.buildHeaderHtml();
    print.buildRowsHtml();
    print.buildEndHtml();
    return print.document();
}

// The RTF document's start: the header and the footer group, as bytes.
QByteArray rtfStart()
{
    const char* const footer[] = {
        "{\\footerr \\ltrpar \\pard\\plain \\ltrpar\\s17\\qr \\li0\\ri0\\widctlpar \n",
        "\\tqc\\tx4536\\tqr\\tx9072\\wrapdefault\\aspalpha\\aspnum\\faauto\\adjustright\\rin0\\lin0\\itap0 "
        "\\rtlch\\fcs1 \\af31507\\afs22\\alang1025 \\ltrch\\fcs0 \\f31506\\fs22\\lang1045\\langfe1033\\cgrid"
        "\\langnp1045\\langfenp1033 \n",
        "{\\field \n",
        "{\\*\\fldinst \n",
        "{\\rtlch\\fcs1 \\af31507 \\ltrch\\fcs0 \\insrsid12529592 PAGE   \\\\* MERGEFORMAT} \n",
        "} \n",
        "} \n",
        "\\sectd \\ltrsect\\linex0\\headery708\\footery708\\colsx708\\endnhere\\sectdefaultcl\\sftnbj "
        "{\\rtlch\\fcs1 \\af31507 \\ltrch\\fcs0 \\insrsid12529592 \\par } \n",
        "\\pard \\ltrpar\\s17\\ql \\li0\\ri0\\widctlpar\\tqc\\tx4536\\tqr\\tx9072\\wrapdefault\\aspalpha\\aspnum"
        "\\faauto\\adjustright\\rin0\\lin0\\itap0 \n",
        "{\\rtlch\\fcs1 \\af31507 \\ltrch\\fcs0 \\insrsid12529592 \\par \n",
        "} \n",
        "} \n",
    };
    QByteArray footerBytes;
    for (const char* line : footer)
        footerBytes += line;
    if (footerBytes.size() != 700)
        qWarning("the footer holds %d characters", footerBytes.size());
    return QByteArray("{\\rtf1\\ansicpg1250\\deff0\n") + footerBytes;
}

QByteArray rtfRow(const QByteArray& time, const QByteArray& text, const QByteArray& protocol, bool shaded)
{
    QByteArray row = "\\trowd\\trkeep\n";
    for (const char* edge : {"1200", "8300", "9000"})
        row += QByteArray(shaded ? "\\clshdng1000" : "") +
               "\\clbrdrt\\brdrs\\clbrdrl\\brdrs\\clbrdrb\\brdrs\\clbrdrr\\brdrs\\cellx" + edge + "\n";
    return row + "\\intbl\n" + time + "\\cell\n" + text + "\\cell\n" + protocol + "\\cell\n\\row\n";
}

// Groups open and close in pairs, skipping escaped braces and backslashes.
bool bracesBalanced(const QByteArray& rtf)
{
    int depth = 0;
    for (int i = 0; i < rtf.size(); ++i) {
        if (rtf[i] == '\\')
            ++i;
        else if (rtf[i] == '{')
            ++depth;
        else if (rtf[i] == '}' && --depth < 0)
            return false;
    }
    return depth == 0;
}

} // namespace

class TestPlayerPrint : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QFont font = QApplication::font();
        font.setPointSize(kFontPoints);
        QApplication::setFont(font);
        QVERIFY(dir.isValid());
    }

    void htmlDocumentOfAList()
    {
        const QList<CAdnotation> list{
            CAdnotation(QStringLiteral("PT1H2M3.45S"), QStringLiteral("Świadek & \"pan\" <X>"), QStringLiteral("True"),
                        1),
            CAdnotation(QString(), QString(), QStringLiteral("false"), 2),
        };
        PlayerPrint print(list, dir.path(), nullptr);
        QCOMPARE(buildHtml(print),
                 htmlHeader() +
                     htmlRow(QStringLiteral("01:02:03"), QStringLiteral("Świadek &amp; &quot;pan&quot; &lt;X&gt;"),
                             QStringLiteral("Tak")) +
                     htmlRow(QStringLiteral("&nbsp;"), QStringLiteral("&nbsp;"), QStringLiteral("Nie")) +
                     QLatin1String(kHtmlEnd));
    }

    // The single annotation is held as a copy: the panel's list may go away.
    void htmlDocumentOfOneAnnotation()
    {
        auto source = std::make_unique<QList<CAdnotation>>();
        source->append(CAdnotation(QStringLiteral("PT5S"), QStringLiteral("Jedna"), QStringLiteral("false"), 1));
        PlayerPrint print(&source->first(), dir.path(), nullptr);
        source.reset();
        QCOMPARE(buildHtml(print),
                 htmlHeader() + htmlRow(QStringLiteral("00:00:05"), QStringLiteral("Jedna"), QStringLiteral("Nie")) +
                     QLatin1String(kHtmlEnd));
    }

    void htmlEscaping_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("escaped");
        QTest::newRow("markup") << "<b>\"a\" & b</b>"
                                << "&lt;b&gt;&quot;a&quot; &amp; b&lt;/b&gt;";
        QTest::newRow("entity stays text") << "&amp;"
                                           << "&amp;amp;";
        QTest::newRow("two lines") << "a\nb"
                                   << "a<br>b";
        QTest::newRow("leading space") << " a"
                                       << "&nbsp;a";
        QTest::newRow("three spaces") << "a   b"
                                      << "a&thinsp;&nbsp; b";
        QTest::newRow("two leading spaces") << "  a"
                                            << "&nbsp;&nbsp;a";
        QTest::newRow("space after break") << "a\n b"
                                           << "a<br>&nbsp;b";
        QTest::newRow("two spaces after break") << "a\n  b"
                                                << "a<br>&nbsp;&nbsp;b";
        QTest::newRow("plain") << "zażółć"
                               << "zażółć";
    }
    void htmlEscaping()
    {
        QFETCH(QString, text);
        QFETCH(QString, escaped);
        QCOMPARE(PlayerPrint::escapeHtml(text), escaped);
        PlayerPrint print(QList<CAdnotation>{CAdnotation(QStringLiteral("PT1S"), text, QStringLiteral("false"), 1)},
                          dir.path(), nullptr);
        QVERIFY(buildHtml(print).contains(QStringLiteral("<td bkcolor=0>%1</td>").arg(escaped)));
    }

    void hostileTimeIsEscaped()
    {
        const CAdnotation hostile(QString::fromUtf8(kHostileTime), QStringLiteral("t"), QStringLiteral("false"), 1);
        QVERIFY(hostile.timeText.contains(QLatin1String("<i>")));

        PlayerPrint html(&hostile, dir.path(), nullptr);
        const QString document = buildHtml(html);
        QVERIFY(!document.contains(QLatin1String("<i>")));
        QVERIFY2(document.contains(QStringLiteral("<td nowrap=\"nowrap\" bkcolor=0>"
                                                  "&lt;i&gt;x&lt;/i&gt;&quot;&amp;{}\\1:00:00</td>")),
                 qPrintable(document));

        PlayerPrint rtf(QList<CAdnotation>{hostile}, dir.path(), nullptr);
        rtf.buildRtf();
        const QByteArray bytes = rtf.document().toUtf8();
        QVERIFY(bracesBalanced(bytes));
        QVERIFY(bytes.contains("<i>x</i>\"&\\{\\}\\\\1:00:00\\cell\n"));
    }

    // 200 rows over several A4 pages, read back by poppler.
    void pdfExport()
    {
        const QList<CAdnotation> list = manyAnnotations(200);
        PlayerPrint print(list, dir.path(), nullptr);
        const QString target = dir.filePath(QStringLiteral("lista"));
        QVERIFY(print.exportTo(target, QStringLiteral("Plik pdf (*.pdf)")));
        QVERIFY(!QFile::exists(target));
        QVERIFY(readFile(target + QLatin1String(".pdf")).startsWith("%PDF"));

        const QString text = pdfText(target + QLatin1String(".pdf"));
        for (const char* header : {"Czas", "Adnotacja", "Prot."})
            QVERIFY2(text.contains(QLatin1String(header)), header);
        QVERIFY(!text.contains(QLatin1String("<>Tak")) && !text.contains(QLatin1String("<>Nie")));
        int yes = 0;
        int no = 0;
        for (const QString& line : text.split(QLatin1Char('\n'))) {
            yes += line.trimmed().endsWith(QLatin1String("Tak"));
            no += line.trimmed().endsWith(QLatin1String("Nie"));
        }
        QCOMPARE(yes, 67);
        QCOMPARE(no, 133);
        for (const CAdnotation& annotation : list) {
            QVERIFY2(text.contains(annotation.text), qPrintable(annotation.text));
            QVERIFY2(text.contains(annotation.timeText), qPrintable(annotation.timeText));
        }

        const QString info = runTool(QStringLiteral("pdfinfo"), {target + QLatin1String(".pdf")});
        QVERIFY2(info.contains(QLatin1String("(A4)")), qPrintable(info));
        // Portrait: narrower than high.
        const QRegularExpressionMatch size =
            QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+)")).match(info);
        QVERIFY2(size.hasMatch() && size.captured(1).toDouble() < size.captured(2).toDouble(), qPrintable(info));
        const QRegularExpressionMatch pages = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
        QVERIFY(pages.hasMatch());
        QVERIFY2(pages.captured(1).toInt() >= 3, qPrintable(info));
    }

    void rtfExport()
    {
        const QList<CAdnotation> list{
            CAdnotation(QStringLiteral("PT1H2M3.45S"), polish(), QStringLiteral("TRUE"), 1),
            CAdnotation(QStringLiteral("PT10S"), QStringLiteral("a\\b{c}d\ne"), QStringLiteral("false"), 2),
            CAdnotation(QStringLiteral("PT1M"), QString::fromUtf8("Znak € i 中"), QStringLiteral("false"), 2),
        };
        PlayerPrint print(list, dir.path(), nullptr);
        const QString target = dir.filePath(QStringLiteral("lista-rtf"));
        QVERIFY(print.exportTo(target, QStringLiteral(" Plik rtf (*.rtf)")));
        const QByteArray rtf = readFile(target + QLatin1String(".rtf"));

        const QByteArray expected = rtfStart() + rtfRow("Czas", "Adnotacja", "Prot.", true) +
                                    rtfRow("01:02:03", kPolishCp1250, "Tak", false) +
                                    rtfRow("00:00:10", "a\\\\b\\{c\\}d\\line\ne", "Nie", false)
                                    // The euro sign is in the code page; the Chinese letter is not.
                                    + rtfRow("00:01:00", "Znak \x80 i ?", "Nie", false) + "}";
        QCOMPARE(rtf, expected);
        QCOMPARE(rtfStart().size(), int(qstrlen("{\\rtf1\\ansicpg1250\\deff0\n")) + 700);
        QVERIFY(bracesBalanced(rtf));
        for (const QChar letter : polish())
            if (letter != QLatin1Char(' '))
                QVERIFY2(!rtf.contains(QString(letter).toUtf8()), "a letter written as UTF-8");

        // An independent reader gets the same text back.
        const QString text = libreOfficeText(target + QLatin1String(".rtf"));
        QVERIFY2(text.contains(polish()), qPrintable(text));
        for (const char* piece : {"Czas", "Adnotacja", "Prot.", "01:02:03", "Tak", "a\\b{c}d", "Znak € i ?"})
            QVERIFY2(text.contains(QString::fromUtf8(piece)), piece);
        QVERIFY2(!text.contains(QLatin1String("\\line")) && !text.contains(QLatin1String("\\cell")), qPrintable(text));
    }

    // LibreOffice lays a long export out on numbered pages.
    void rtfPagesAreNumbered()
    {
        const QList<CAdnotation> list = manyAnnotations(200);
        PlayerPrint print(list, dir.path(), nullptr);
        const QString target = dir.filePath(QStringLiteral("strony.rtf"));
        QVERIFY(print.exportTo(target, QString()));
        const QString pdf = libreOfficeConvert(target, QStringLiteral("pdf"));
        const QString text = pdfText(pdf);
        const QStringList pages = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
        QVERIFY2(pages.size() >= 3, qPrintable(text));
        for (int page = 0; page < pages.size(); ++page)
            QCOMPARE(pages[page].trimmed().split(QLatin1Char('\n')).last().trimmed(), QString::number(page + 1));
        for (const CAdnotation& annotation : list)
            QVERIFY2(text.contains(annotation.text), qPrintable(annotation.text));
    }

    void missingCodecRefusesToWrite()
    {
        bool ok = true;
        QVERIFY(PlayerPrint::encode(polish(), "No-Such-Codec-1250", &ok).isEmpty());
        QVERIFY(!ok);
        QCOMPARE(PlayerPrint::encode(polish(), PlayerPrint::kRtfCodec, &ok), QByteArray(kPolishCp1250));
        QVERIFY(ok);
    }

    void exportTargets_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("target");
        QTest::newRow("pdf filter adds .pdf") << "a"
                                              << "Plik pdf (*.pdf)"
                                              << "a.pdf";
        QTest::newRow("rtf filter adds .rtf") << "a"
                                              << " Plik rtf (*.rtf)"
                                              << "a.rtf";
        QTest::newRow("no filter adds .pdf") << "a"
                                             << ""
                                             << "a.pdf";
        QTest::newRow("other suffix kept, .rtf added") << "a.txt"
                                                       << "Plik rtf (*.rtf)"
                                                       << "a.txt.rtf";
        QTest::newRow("own suffix kept") << "a.rtf"
                                         << "Plik pdf (*.pdf)"
                                         << "a.rtf";
        QTest::newRow("capitals kept") << "a.PDF"
                                       << "Plik pdf (*.pdf)"
                                       << "a.PDF";
        QTest::newRow("annotation file refused") << "a.xml"
                                                 << "Plik pdf (*.pdf)"
                                                 << "";
        QTest::newRow("in capitals too") << "a.XML"
                                         << "Plik rtf (*.rtf)"
                                         << "";
    }
    void exportTargets()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, filter);
        QFETCH(QString, target);
        QCOMPARE(PlayerPrint::exportTarget(chosen, filter), target);
    }

    void exportNeverDestroysAnAnnotationFile()
    {
        const QString annotations = dir.filePath(QStringLiteral("2015-01-01-clerk.xml"));
        const QByteArray content = "<ArrayOfAnnotation Created=\"1\"/>\n";
        writeFile(annotations, content);
        PlayerPrint print(manyAnnotations(2), dir.path(), nullptr);
        QString title;
        QString text;
        answerMessageBox(&title, &text);
        QVERIFY(!print.exportTo(annotations, QStringLiteral("Plik pdf (*.pdf)")));
        QCOMPARE(title, QStringLiteral("Błąd zapisu pliku"));
        QVERIFY2(text.contains(annotations), qPrintable(text));
        QCOMPARE(readFile(annotations), content);
        QVERIFY(!QFile::exists(annotations + QLatin1String(".pdf")));
    }

    void writeFailureIsReported()
    {
        PlayerPrint print(manyAnnotations(2), dir.path(), nullptr);
        const QString target = dir.filePath(QStringLiteral("no-such-folder/lista.rtf"));
        QString title;
        QString text;
        answerMessageBox(&title, &text);
        QVERIFY(!print.exportTo(target, QString()));
        QCOMPARE(title, QStringLiteral("Błąd zapisu pliku"));
        QVERIFY2(text.startsWith(QStringLiteral("Błąd zapisu pliku! Plik: \"%1\"").arg(target)), qPrintable(text));
        QVERIFY(!QFile::exists(target));

        // Something that cannot be replaced by a file.
        const QString folder = dir.filePath(QStringLiteral("katalog.rtf"));
        QVERIFY(QDir().mkdir(folder));
        answerMessageBox(&title, &text);
        QVERIFY(!print.exportTo(folder, QString()));
        QCOMPARE(text,
                 QStringLiteral("Błąd zapisu pliku! Plik: \"%1\" jest zablokowany przez inny proces").arg(folder));
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("katalog*")}), QStringList{QStringLiteral("katalog.rtf")});
    }

    // An existing export is replaced whole; the suffix decides the format in
    // any letter case, whatever filter was chosen.
    void existingTargetReplaced()
    {
        const struct {
            const char* name;
            const char* filter;
            const char* start;
            const char* end;
        } rows[] = {{"stary.PDF", "Plik rtf (*.rtf)", "%PDF", "%%EOF\n"},
                    {"stary.Rtf", "Plik pdf (*.pdf)", "{\\rtf1\\ansicpg1250", "\\row\n}"}};
        for (const auto& row : rows) {
            const QString target = dir.filePath(QLatin1String(row.name));
            writeFile(target, QByteArray(100000, 'x'));
            PlayerPrint print(manyAnnotations(1), dir.path(), nullptr);
            QVERIFY(print.exportTo(target, QLatin1String(row.filter)));
            const QByteArray written = readFile(target);
            QVERIFY2(written.startsWith(row.start), row.name);
            QVERIFY2(written.endsWith(row.end), row.name);
            QVERIFY2(!written.contains("xxx"), row.name);
        }
    }

    // The save dialog's chosen filter decides the suffix.
    void toFileThroughTheDialog()
    {
        const QString chosen = dir.filePath(QStringLiteral("z-dialogu"));
        const QString start = dir.filePath(QStringLiteral("start"));
        QVERIFY(QDir().mkpath(start));
        QString title;
        QString startedIn;
        QStringList filters;
        whenModal<QFileDialog>([&, chosen](QFileDialog* dialog) {
            title = dialog->windowTitle();
            startedIn = dialog->directory().absolutePath();
            filters = dialog->nameFilters();
            dialog->selectNameFilter(dialog->nameFilters().at(1));
            // Typed as a user would: the file list may still be loading.
            dialog->setDirectory(QFileInfo(chosen).path());
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QFileInfo(chosen).fileName());
            QMetaObject::invokeMethod(dialog, "accept");
        });
        PlayerPrint print(manyAnnotations(3), start, nullptr);
        print.toFile();
        QCOMPARE(title, QStringLiteral("Zapis adnotacji do pliku"));
        QCOMPARE(startedIn, start);
        QCOMPARE(filters, (QStringList{QStringLiteral("Plik pdf (*.pdf)"), QStringLiteral("Plik rtf (*.rtf)")}));
        QVERIFY(readFile(chosen + QLatin1String(".rtf")).startsWith("{\\rtf1\\ansicpg1250"));
        QVERIFY(!QFile::exists(chosen));
    }

    // A cancelled save dialog writes nothing and shows nothing.
    void cancelledExportWritesNothing()
    {
        const QString start = dir.filePath(QStringLiteral("anulowany"));
        QVERIFY(QDir().mkpath(start));
        whenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
        PlayerPrint print(manyAnnotations(3), start, nullptr);
        print.toFile();
        QVERIFY(print.document().isEmpty());
        QVERIFY(QDir(start).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
    }

    // The printer that the dialog was given writes the document; the single
    // annotation's source list is gone by the time the dialog closes.
    void printThroughTheDialog()
    {
        const QString output = dir.filePath(QStringLiteral("wydruk.pdf"));
        auto source = std::make_unique<QList<CAdnotation>>();
        source->append(CAdnotation(QStringLiteral("PT2M"), QStringLiteral("Wydruk zażółć"), QStringLiteral("true"), 1));
        QString title;
        bool selection = false;
        int resolution = 0;
        QPageLayout page;
        whenModal<QPrintDialog>([&](QPrintDialog* dialog) {
            title = dialog->windowTitle();
            selection = dialog->testOption(QAbstractPrintDialog::PrintSelection);
            resolution = dialog->printer()->resolution();
            page = dialog->printer()->pageLayout();
            source.reset();
            dialog->printer()->setOutputFileName(output);
            dialog->done(QDialog::Accepted);
        });
        PlayerPrint print(&source->first(), dir.path(), nullptr);
        print.print();
        QCOMPARE(title, QStringLiteral("Wydruk adnotacji"));
        QVERIFY(selection);
        QCOMPARE(resolution, QPrinter(QPrinter::HighResolution).resolution());
        QVERIFY(resolution > QPrinter(QPrinter::ScreenResolution).resolution());
        QCOMPARE(page.pageSize().id(), QPageSize::A4);
        QCOMPARE(page.orientation(), QPageLayout::Portrait);
        const QString text = pdfText(output);
        QVERIFY2(text.contains(QStringLiteral("00:02:00")) && text.contains(QStringLiteral("Wydruk zażółć")) &&
                     text.contains(QStringLiteral("Tak")),
                 qPrintable(text));
    }

    void cancelledPrintBuildsNothing()
    {
        whenModal<QPrintDialog>([](QPrintDialog* dialog) { dialog->reject(); });
        PlayerPrint print(manyAnnotations(2), dir.path(), nullptr);
        print.print();
        QVERIFY(print.document().isEmpty());
    }

private:
    // A document converted by LibreOffice; the path of the result.
    QString libreOfficeConvert(const QString& path, const QString& format)
    {
        const QString out = dir.filePath(QStringLiteral("soffice-out"));
        const QString profile = QUrl::fromLocalFile(dir.filePath(QStringLiteral("soffice-profile"))).toString();
        runTool(QStringLiteral("soffice"),
                {QStringLiteral("-env:UserInstallation=") + profile, QStringLiteral("--headless"),
                 QStringLiteral("--convert-to"), format, QStringLiteral("--outdir"), out, path});
        return out + QLatin1Char('/') + QFileInfo(path).completeBaseName() + QLatin1Char('.') +
               format.section(QLatin1Char(':'), 0, 0);
    }

    // LibreOffice's plain-text rendering of a document.
    QString libreOfficeText(const QString& path)
    {
        return QString::fromUtf8(readFile(libreOfficeConvert(path, QStringLiteral("txt:Text (encoded):UTF8"))));
    }

    QTemporaryDir dir;
};

QTEST_MAIN(TestPlayerPrint)
#include "tst_player_print.moc"
