// The annotation file store on real files: formats, changes, copies, crash
// safety, encodings and hostile folders.

#include "Annotations/Adnotacje.h"
#include "Annotations/AnnotationDocument.h"
#include "ScriptedDialogs.h"
#include "tests/base/Unprivileged.h"

#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTranslator>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kHead[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";

QByteArray annotation(const char* time, const char* text, const char* protocol = "false")
{
    return QByteArray("<Annotation Time=\"") + time + "\"><Text>" + text + "</Text><Protocol>" + protocol +
           "</Protocol></Annotation>";
}

QByteArray fileWith(const QByteArray& annotations, const QByteArray& rootAttributes = " Created=\"100\"")
{
    return QByteArray(kHead) + "<ArrayOfAnnotation" + rootAttributes + ">" + annotations + "</ArrayOfAnnotation>";
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// "Time|Text|Protocol" of every Annotation element, in file order; a null
// list when the file does not parse.
QStringList entries(const QString& path)
{
    QDomDocument dom;
    if (!dom.setContent(readFile(path), true))
        return {QStringLiteral("<does not parse>")};
    QStringList result;
    for (QDomElement e = dom.documentElement().firstChildElement(QStringLiteral("Annotation")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("Annotation")))
        result << (e.hasAttribute(QStringLiteral("Time")) ? e.attribute(QStringLiteral("Time")) : QStringLiteral("-")) +
                      QLatin1Char('|') + e.firstChildElement(QStringLiteral("Text")).text() + QLatin1Char('|') +
                      e.firstChildElement(QStringLiteral("Protocol")).text();
    return result;
}

// A file of one annotation whose root has `count` attributes made by `format`
// from their number.
QByteArray rootWith(const char* format, int count)
{
    QByteArray root = "<ArrayOfAnnotation";
    for (int i = 0; i < count; ++i)
        root += QByteArray(" ") + QString::asprintf(format, i, i).toLatin1();
    return root + "><Annotation Time=\"PT1S\"><Text>a</Text></Annotation></ArrayOfAnnotation>";
}

CAdnotation record(const char* time, const char* text, const char* protocol = "false")
{
    return CAdnotation(QString::fromUtf8(time), QString::fromUtf8(text), QString::fromUtf8(protocol), 1);
}

// "Time|Text|Protocol" of every annotation a panel loaded.
QStringList loadedEntries(const Adnotacje& panel)
{
    QStringList result;
    for (const CAdnotation& a : panel.getAdnotations())
        result << a.time + QLatin1Char('|') + a.text + QLatin1Char('|') + a.protocol;
    return result;
}

QStringList textsOf(const QList<CAdnotation>& list)
{
    QStringList texts;
    for (const CAdnotation& a : list)
        texts << a.text;
    return texts;
}

// Lowers the largest file this process may write, for as long as it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    }

private:
    rlimit saved;
    void (*previousHandler)(int);
};

} // namespace

class TestAnnotationStore : public QObject {
    Q_OBJECT

private:
    QTemporaryDir* dir = nullptr;
    Adnotacje* panel = nullptr;
    ScriptedDialogs* dialogs = nullptr;

    QString path(const QString& name) const { return dir->filePath(name); }

private slots:
    void init()
    {
        dir = new QTemporaryDir;
        QVERIFY(dir->isValid());
        panel = new Adnotacje;
        dialogs = new ScriptedDialogs;
        panel->setDialogs(dialogs);
    }
    void cleanup()
    {
        delete panel;
        delete dialogs;
        delete dir;
    }

    void newFile()
    {
        QCOMPARE(AnnotationDocument::newFileContent(),
                 QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                            "<ArrayOfAnnotation xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
                            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
                            "</ArrayOfAnnotation>"));
        const QString file = path(QStringLiteral("nowy.xml"));
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        QVERIFY(panel->createNewAnnotationsFile(file));
        const QByteArray bytes = readFile(file);
        const QRegularExpressionMatch created = QRegularExpression(
                                                    QStringLiteral("^<\\?xml version='1.0' encoding='utf-8'\\?>\n"
                                                                   "<ArrayOfAnnotation Created=\"(\\d+)\"/>\n$"))
                                                    .match(QString::fromUtf8(bytes));
        QVERIFY2(created.hasMatch(), bytes.constData());
        QVERIFY(qAbs(created.captured(1).toLongLong() - before) <= 2);
        QVERIFY(panel->isAnnotFile(file));
        QCOMPARE(panel->getXmlAttr(file, QStringLiteral("Created")), created.captured(1));

        // An existing file is never emptied.
        const QByteArray existing = fileWith(annotation("PT1S", "zostaje"));
        writeFile(file, existing);
        QVERIFY(!panel->createNewAnnotationsFile(file));
        QCOMPARE(readFile(file), existing);
        QCOMPARE(dialogs->texts(QStringLiteral("critical")).size(), 1);
        QVERIFY(!panel->createNewAnnotationsFile(path(QStringLiteral("no/such/folder.xml"))));
    }

    void rewriteFormat()
    {
        const QString file = path(QStringLiteral("a.xml"));
        writeFile(file, fileWith(annotation("PT1S", "a") +
                                 "<Annotation Time=\"PT3S\"><Text/><Protocol>true</Protocol></Annotation>"));
        QVERIFY(panel->addAnnotXML(record("PT2S", "b & <c>"), file));
        QCOMPARE(QString::fromUtf8(readFile(file)), QString::fromUtf8("<?xml version='1.0' encoding='utf-8'?>\n"
                                                                      "<ArrayOfAnnotation Created=\"100\">\n"
                                                                      " <Annotation Time=\"PT1S\">\n"
                                                                      "  <Text>a</Text>\n"
                                                                      "  <Protocol>false</Protocol>\n"
                                                                      " </Annotation>\n"
                                                                      " <Annotation Time=\"PT2S\">\n"
                                                                      "  <Text>b &amp; &lt;c></Text>\n"
                                                                      "  <Protocol>false</Protocol>\n"
                                                                      " </Annotation>\n"
                                                                      " <Annotation Time=\"PT3S\">\n"
                                                                      "  <Text/>\n"
                                                                      "  <Protocol>true</Protocol>\n"
                                                                      " </Annotation>\n"
                                                                      "</ArrayOfAnnotation>\n"));
    }

    void addInTimeOrder()
    {
        const QString file = path(QStringLiteral("a.xml"));
        writeFile(file, fileWith(annotation("PT1S", "1") + annotation("PT5S", "5a") + annotation("PT5S", "5b") +
                                 annotation("PT10S", "10")));
        QVERIFY(panel->addAnnotXML(record("PT5S", "5c"), file));
        QVERIFY(panel->addAnnotXML(record("PT0.50S", "first"), file));
        QVERIFY(panel->addAnnotXML(record("PT1H", "last"), file));
        QCOMPARE(entries(file), (QStringList{"PT0.50S|first|false", "PT1S|1|false", "PT5S|5a|false", "PT5S|5b|false",
                                             "PT5S|5c|false", "PT10S|10|false", "PT1H|last|false"}));

        const QString empty = path(QStringLiteral("empty.xml"));
        writeFile(empty, fileWith("<!-- peer --><Other/>"));
        QVERIFY(panel->addAnnotXML(record("PT7S", "only"), empty));
        QDomDocument dom;
        QVERIFY(dom.setContent(readFile(empty)));
        QCOMPARE(dom.documentElement().firstChild().toElement().tagName(), QStringLiteral("Annotation"));
        QVERIFY(readFile(empty).contains("<!-- peer -->"));
        QVERIFY(readFile(empty).contains("<Other/>"));
    }

    void deleteAndEdit()
    {
        const QString file = path(QStringLiteral("a.xml"));
        const QByteArray original = fileWith(
            annotation("PT1S", "same") + annotation("PT1S", "same") + annotation("PT2S", "Tekst") +
            "<Annotation><Text>bez czasu</Text><Protocol>false</Protocol></Annotation>" +
            "<Annotation Time=\"PT4S\" Author=\"peer\"><Text>stary</Text><Protocol>TRUE</Protocol><Note>x</Note>"
            "</Annotation>" +
            "<Annotation Time=\"PT5S\"><Protocol>false</Protocol></Annotation>");
        writeFile(file, original);

        // No match (letter case, white space): nothing is rewritten.
        QVERIFY(!panel->delAnnotXML(record("PT2S", "tekst"), file));
        QVERIFY(!panel->editAnnotXML(record("PT2S", "x"), record("PT2S", "Tekst "), file));
        QVERIFY(!panel->delAnnotXML(record("PT2.00S", "Tekst"), file));
        QCOMPARE(readFile(file), original);

        // Of two equal annotations only the first changes.
        QVERIFY(panel->editAnnotXML(record("PT1S", "zmieniony"), record("PT1S", "same"), file));
        QVERIFY(panel->delAnnotXML(record("PT1S", "same"), file));
        // Without Time: matched as "00:00:00", and no Time is invented.
        QVERIFY(panel->editAnnotXML(record("00:00:00", "nadal bez czasu"), record("00:00:00", "bez czasu"), file));
        // In place: the peer's attribute, element and protocol stay.
        QVERIFY(panel->editAnnotXML(record("PT4S", "nowy"), record("PT4S", "stary"), file));
        // Without Text: a Text element is added before Protocol.
        QVERIFY(panel->editAnnotXML(record("PT5S", "dopisany"), record("PT5S", ""), file));
        QCOMPARE(entries(file), (QStringList{"PT1S|zmieniony|false", "PT2S|Tekst|false", "-|nadal bez czasu|false",
                                             "PT4S|nowy|TRUE", "PT5S|dopisany|false"}));
        const QByteArray bytes = readFile(file);
        QVERIFY(bytes.contains("Author=\"peer\""));
        QVERIFY(bytes.contains("<Note>x</Note>"));
        QVERIFY(bytes.contains("<Text>dopisany</Text>\n  <Protocol>false</Protocol>"));
        QVERIFY(!bytes.contains("Time=\"00:00:00\""));

        QVERIFY(panel->delAnnotXML(record("00:00:00", "nadal bez czasu"), file));
        QCOMPARE(entries(file).size(), 4);

        // A file without annotations cannot be edited and stays untouched.
        const QString none = path(QStringLiteral("none.xml"));
        const QByteArray noneBytes = fileWith("", "");
        writeFile(none, noneBytes);
        QVERIFY(!panel->editAnnotXML(record("PT1S", "a"), record("PT1S", "b"), none));
        QCOMPARE(readFile(none), noneBytes);
    }

    void createdAttribute()
    {
        const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1500000000);
        const struct {
            const char* name;
            QByteArray root;
            qint64 loaded;
            const char* afterAdd;
        } cases[] = {
            {"missing.xml", "", 1500000000, "1500000000"},
            {"empty.xml", " Created=\"\"", 1500000000, "1500000000"},
            {"nan.xml", " Created=\"abc\"", 0, "abc"},
            {"late.xml", " Created=\"4102444800\"", 4102444800LL, "4102444800"},
        };
        for (const auto& c : cases) {
            const QString file = path(QLatin1String(c.name));
            writeFile(file, fileWith(annotation("PT1S", "a"), c.root));
            QFile touched(file);
            QVERIFY(touched.open(QIODevice::ReadWrite));
            QVERIFY(touched.setFileTime(stamp, QFileDevice::FileModificationTime));
            touched.close();
            panel->loadAdnotationsFile(file, false);
            QCOMPARE(panel->getLayer(file).created, c.loaded);
            QVERIFY(panel->addAnnotXML(record("PT2S", "b"), file));
            QCOMPARE(panel->getXmlAttr(file, QStringLiteral("Created")), QLatin1String(c.afterAdd));
        }
    }

    void peerFiles()
    {
        const QString file = path(QStringLiteral("peer.xml"));
        const QByteArray peer = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                                "<!-- written elsewhere -->\r\n"
                                "<ArrayOfAnnotation xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
                                "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" Created=\"1400000000\">\r\n"
                                "  <Annotation Time=\"PT1M\">\r\n    <Text>Świadek\r\nzeznaje</Text>\r\n"
                                "    <Protocol xsi:nil=\"true\" />\r\n    <Extra>keep</Extra>\r\n  </Annotation>\r\n"
                                "  <Annotation Time=\"PT2M\">\r\n    <Protocol>true</Protocol>\r\n  </Annotation>\r\n"
                                "</ArrayOfAnnotation>\r\n";
        writeFile(file, peer);
        panel->loadAdnotationsFile(file, true);
        QCOMPARE(panel->getLayers().size(), 1);
        QCOMPARE(panel->getLayers()[0].created, qint64(1400000000));
        const QList<CAdnotation> loaded = panel->getAdnotations();
        QCOMPARE(loaded.size(), 2);
        QCOMPARE(loaded[0].text, QString::fromUtf8("Świadek\nzeznaje"));
        QCOMPARE(loaded[1].text, QString());
        QVERIFY(loaded[1].isProtocol);

        QVERIFY(panel->editAnnotXML(record("PT1M", "Świadek\nodpowiada"), loaded[0], file));
        QVERIFY(panel->addAnnotXML(record("PT90S", "pośrodku"), file));
        QVERIFY(panel->delAnnotXML(loaded[1], file));
        const QByteArray bytes = readFile(file);
        QVERIFY(bytes.startsWith("<?xml version='1.0' encoding='utf-8'?>\n"));
        QVERIFY(!bytes.contains('\r'));
        QVERIFY(bytes.contains("<!-- written elsewhere -->"));
        QVERIFY(bytes.contains("<Extra>keep</Extra>"));
        QDomDocument dom;
        QString error;
        QVERIFY2(dom.setContent(bytes, true, &error), qPrintable(error));
        QCOMPARE(entries(file), (QStringList{QString::fromUtf8("PT1M|Świadek\nodpowiada|"),
                                             QString::fromUtf8("PT90S|pośrodku|false")}));
    }

    void encodings()
    {
        // Declared and really written in another encoding: read by the
        // declaration, rewritten as UTF-8 that says so.
        const QString cp1250 = path(QStringLiteral("cp1250.xml"));
        QTextCodec* codec = QTextCodec::codecForName("windows-1250");
        QVERIFY(codec);
        writeFile(cp1250, codec->fromUnicode(QString::fromUtf8(
                              "<?xml version=\"1.0\" encoding=\"windows-1250\"?><ArrayOfAnnotation Created=\"1\">"
                              "<Annotation Time=\"PT1S\"><Text>Zażółć gęślą</Text><Protocol>false</Protocol>"
                              "</Annotation></ArrayOfAnnotation>")));
        panel->loadAdnotationsFile(cp1250, false);
        QCOMPARE(panel->getAdnotations().value(0).text, QString::fromUtf8("Zażółć gęślą"));
        QVERIFY(panel->addAnnotXML(record("PT2S", "jaźń"), cp1250));
        QVERIFY(readFile(cp1250).startsWith("<?xml version='1.0' encoding='utf-8'?>\n"));
        QCOMPARE(entries(cp1250),
                 (QStringList{QString::fromUtf8("PT1S|Zażółć gęślą|false"), QString::fromUtf8("PT2S|jaźń|false")}));

        // UTF-16 with a byte-order mark.
        const QString utf16 = path(QStringLiteral("utf16.xml"));
        QByteArray wide = QTextCodec::codecForName("UTF-16LE")
                              ->fromUnicode(QString::fromUtf8(fileWith(annotation("PT1S", "łza")))
                                                .replace(QStringLiteral("utf-8"), QStringLiteral("utf-16")));
        writeFile(utf16, QByteArray("\xFF\xFE") + wide);
        QVERIFY(panel->addAnnotXML(record("PT2S", "b"), utf16));
        QCOMPARE(entries(utf16), (QStringList{QString::fromUtf8("PT1S|łza|false"), "PT2S|b|false"}));
        QVERIFY(readFile(utf16).contains("encoding='utf-8'"));

        // Not UTF-8 and nothing usable declared: never rewritten.
        const QString latin = path(QStringLiteral("latin.xml"));
        const QByteArray latinBytes = fileWith(annotation("PT1S", "caf\xE9"));
        writeFile(latin, latinBytes);
        QVERIFY(panel->isAnnotFile(latin));
        QVERIFY(!panel->addAnnotXML(record("PT2S", "b"), latin));
        QVERIFY(!panel->delAnnotXML(record("PT1S", "caf\xEF\xBF\xBD"), latin));
        QVERIFY(!panel->setXmlAttr(latin, QStringLiteral("Created"), QStringLiteral("5")));
        QCOMPARE(readFile(latin), latinBytes);
        QCOMPARE(dialogs->texts(QStringLiteral("critical")).size(), 3);
    }

    void forbiddenCharacters()
    {
        const QString file = path(QStringLiteral("a.xml"));
        writeFile(file, fileWith(""));
        const QString typed = QString::fromUtf8("a\x01"
                                                "b\x1B[0m\r\nc\td ") +
                              QChar(0xD800) + QStringLiteral("e") + QChar(0xFFFE) + QString::fromUtf8("😀 <&>\"'") +
                              QChar(0xDC00);
        const QString expected = QString::fromUtf8("ab[0m\nc\td e😀 <&>\"'");
        QCOMPARE(AnnotationDocument::cleanText(typed), expected);
        QCOMPARE(AnnotationDocument::cleanText(QStringLiteral(" \n\t ")), QString());
        QVERIFY(panel->addAnnotXML(CAdnotation(QStringLiteral("PT1S"), typed, QStringLiteral("false"), 1), file));
        QCOMPARE(entries(file), QStringList{QStringLiteral("PT1S|") + expected + QStringLiteral("|false")});
        QVERIFY(
            panel->editAnnotXML(record("PT1S", "\x02 ok \x03"), record("PT1S", expected.toUtf8().constData()), file));
        QCOMPARE(entries(file), QStringList{QStringLiteral("PT1S| ok |false")});
        panel->loadAdnotationsFile(file, false);
        QCOMPARE(panel->getAdnotations().value(0).text, QStringLiteral(" ok "));
    }

    void readOnlyRule()
    {
        QVERIFY(panel->isAnnotationReadonly(path(QStringLiteral("nie-istnieje-clerk.xml"))));
        QVERIFY(panel->isAnnotationReadonly(path(QStringLiteral("nie-istnieje.xml"))));
        const QString clerk = path(QStringLiteral("r-clerk.xml"));
        const QString plain = path(QStringLiteral("r.xml"));
        const QString upper = path(QStringLiteral("r-CLERK.xml"));
        for (const QString& file : {clerk, plain, upper})
            writeFile(file, fileWith(""));
        QVERIFY(panel->isAnnotationReadonly(clerk));
        QVERIFY(!panel->isAnnotationReadonly(plain));
        QVERIFY(!panel->isAnnotationReadonly(upper));
        // The owner bit counts even for a user who may write anything.
        QVERIFY(QFile::setPermissions(plain, QFileDevice::ReadOwner | QFileDevice::WriteGroup));
        QVERIFY(panel->isAnnotationReadonly(plain));
    }

    void writeKeepsPermissions()
    {
        const QString file = path(QStringLiteral("a.xml"));
        writeFile(file, fileWith(""));
        const QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ReadGroup;
        QVERIFY(QFile::setPermissions(file, permissions));
        QVERIFY(panel->addAnnotXML(record("PT1S", "a"), file));
        QCOMPARE(QFile::permissions(file) & 0x7077, permissions & 0x7077);
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.xml"});
    }

    void failedWriteKeepsFile()
    {
        // A full disk: the process may not write more than 2 KB per file.
        const QString file = path(QStringLiteral("a.xml"));
        QByteArray many;
        for (int i = 1; i <= 20; ++i)
            many += annotation(QByteArray("PT" + QByteArray::number(i) + "S").constData(), "ważny zapis");
        const QByteArray original = fileWith(many);
        writeFile(file, original);
        {
            // Every rewrite is longer than the file (it is indented).
            FileSizeLimit limit(rlim_t(original.size()));
            QVERIFY(!panel->addAnnotXML(record("PT30S", "nie zmieści się"), file));
            QVERIFY(!panel->delAnnotXML(record("PT1S", "ważny zapis"), file));
            QVERIFY(!panel->setXmlAttr(file, QStringLiteral("Created"), QStringLiteral("1")));
        }
        QCOMPARE(readFile(file), original);
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"a.xml"});
    }

    void deniedFiles()
    {
        RUN_UNPRIVILEGED();
        // A folder that refuses new files: the temporary file cannot be made.
        const QString file = path(QStringLiteral("a.xml"));
        const QByteArray original = fileWith(annotation("PT1S", "a"));
        writeFile(file, original);
        QVERIFY(QFile::setPermissions(dir->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QVERIFY(!panel->addAnnotXML(record("PT30S", "x"), file));
        QVERIFY(QFile::setPermissions(dir->path(),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QCOMPARE(readFile(file), original);

        // A file that may not be read: passed over without a message, never written.
        QVERIFY(QFile::setPermissions(file, QFileDevice::WriteOwner));
        panel->loadAdnotationsDir(dir->path(), false);
        panel->loadAdnotationsFile(file, true);
        QVERIFY(panel->getLayers().isEmpty());
        QVERIFY(!panel->isAnnotFile(file));
        QVERIFY(!panel->addAnnotXML(record("PT30S", "x"), file));
        QVERIFY(dialogs->shown.isEmpty());
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner));
        QCOMPARE(readFile(file), original);

        // Someone else's file, with its owner's write bit: read-only all the same.
        QVERIFY(QFile::permissions(QStringLiteral("/etc/passwd")) & QFileDevice::WriteOwner);
        QVERIFY(panel->isAnnotationReadonly(QStringLiteral("/etc/passwd")));
    }

    void killedWriterKeepsFile()
    {
        // A child rewrites a large file and is killed half-way through the
        // write: the size limit it runs under ends it with SIGXFSZ.
        const QString file = path(QStringLiteral("duzy.xml"));
        QByteArray many;
        for (int i = 0; i < 15000; ++i)
            many += annotation(QByteArray("PT" + QByteArray::number(i) + "S").constData(),
                               "Zeznanie świadka, które nie może zginąć");
        const QByteArray original = fileWith(many);
        writeFile(file, original);
        QProcess writer;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        writer.setProcessEnvironment(environment);
        writer.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--killed-writer"), file, QString::number(original.size() / 2)});
        QVERIFY(writer.waitForFinished(60000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        QCOMPARE(readFile(file), original);
    }

    void copyReadOnlyLayer()
    {
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("2015-03-02")));
        const QString folder = path(QStringLiteral("2015-03-02"));
        const QString clerk = folder + QStringLiteral("/2015-03-02-clerk.xml");
        const QByteArray clerkBytes = fileWith(annotation("PT1S", "publiczna"), " Created=\"50\"");
        writeFile(clerk, clerkBytes);
        QVERIFY(QFile::setPermissions(clerk, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        panel->loadAdnotationsDir(folder, false);
        QCOMPARE(panel->getLayers().size(), 1);

        // Declined, then cancelled: nothing.
        dialogs->answers = {false, true};
        QCOMPARE(panel->copyAnnotFile(clerk), QString());
        QCOMPARE(panel->copyAnnotFile(clerk), QString());
        QCOMPARE(dialogs->proposedNames, QStringList{folder + QStringLiteral("/2015-03-02.xml")});

        // Refused names.
        const QString existing = folder + QStringLiteral("/zajety.xml");
        const QByteArray existingBytes = fileWith(annotation("PT9S", "cudzy"));
        writeFile(existing, existingBytes);
        dialogs->answers = {true, true};
        dialogs->fileNames = QStringList{folder + QStringLiteral("/kopia-clerk.xml"), existing};
        QCOMPARE(panel->copyAnnotFile(clerk), QString());
        QCOMPARE(panel->copyAnnotFile(clerk), QString());
        QCOMPARE(
            dialogs->texts(QStringLiteral("critical")),
            (QStringList{QString::fromUtf8("Zła nazwa pliku - zakończony clerk.xml"),
                         QString::fromUtf8("Nie udało się skopiować pliku\nPlik %1 już istnieje.").arg(existing)}));
        QCOMPARE(readFile(existing), existingBytes);

        // The proposed name is never one that is taken.
        writeFile(folder + QStringLiteral("/2015-03-02.xml"), existingBytes);
        QVERIFY(QDir(folder).mkdir(QStringLiteral("2015-03-02-2.xml")));
        dialogs->answers = {true};
        QCOMPARE(panel->copyAnnotFile(clerk), QString());
        QCOMPARE(dialogs->proposedNames.last(), folder + QStringLiteral("/2015-03-02-3.xml"));

        // A copy named without the suffix gets it, and is loaded as a public copy.
        QSignalSpy layersShown(panel, &Adnotacje::annShowLayers);
        dialogs->answers = {true};
        dialogs->fileNames = QStringList{folder + QStringLiteral("/kopia")};
        const QString copy = panel->copyAnnotFile(clerk);
        QCOMPARE(copy, folder + QStringLiteral("/kopia.xml"));
        QVERIFY(!layersShown.isEmpty());
        QVERIFY(!panel->isAnnotationReadonly(copy));
        QCOMPARE(panel->getXmlAttr(copy, QStringLiteral("copyOf")), clerk);
        QVERIFY(qAbs(panel->getXmlAttr(copy, QStringLiteral("Created")).toLongLong() -
                     QDateTime::currentSecsSinceEpoch()) <= 2);
        const Layer copied = panel->getLayer(copy);
        QCOMPARE(copied.typeOrder, 11);
        QCOMPARE(copied.source, clerk);
        QVERIFY(copied.visible);
        QCOMPARE(entries(copy), QStringList{"PT1S|publiczna|false"});
        QCOMPARE(readFile(clerk), clerkBytes);

        // A copy of the copy names the first file of the chain.
        QVERIFY(QFile::setPermissions(copy, QFileDevice::ReadOwner));
        dialogs->answers = {true};
        dialogs->fileNames = QStringList{folder + QStringLiteral("/kopia2.XML")};
        const QString second = panel->copyAnnotFile(copy);
        QCOMPARE(second, folder + QStringLiteral("/kopia2.XML"));
        QCOMPARE(panel->getXmlAttr(second, QStringLiteral("copyOf")), clerk);
        QCOMPARE(panel->getLayers().size(), 3);
    }

    void loadRules()
    {
        const QString file = path(QStringLiteral("a.xml"));
        writeFile(file, fileWith(annotation("PT1S", "a")));
        QSignalSpy layersShown(panel, &Adnotacje::annShowLayers);
        panel->loadAdnotationsFile(file, true);
        panel->loadAdnotationsFile(file, true);
        QCOMPARE(panel->getLayers().size(), 1);
        QCOMPARE(panel->getLayers()[0].id, 1);
        QCOMPARE(dialogs->texts(QStringLiteral("message")), QStringList{QString::fromUtf8("Plik został już otwarty")});
        QCOMPARE(layersShown.size(), 1);

        const QString other = path(QStringLiteral("b.txt"));
        writeFile(other, fileWith(annotation("PT1S", "a")));
        panel->loadAdnotationsFile(other, true);
        QCOMPARE(panel->getLayers().size(), 1);

        const QString broken = path(QStringLiteral("broken.xml"));
        writeFile(broken, "<ArrayOfAnnotation><Annotation>");
        panel->loadAdnotationsFile(broken, true);
        QCOMPARE(panel->getLayers().size(), 1);
        const QStringList parse = dialogs->texts(QStringLiteral("information"));
        QCOMPARE(parse.size(), 1);
        QVERIFY2(parse[0].startsWith(broken + QStringLiteral("\nParse error at line 1, column ")),
                 qPrintable(parse[0]));
        QCOMPARE(dialogs->shown.last().title, QStringLiteral("DOM Addnotacje"));

        QCOMPARE(panel->getXmlAttr(path(QStringLiteral("missing.xml")), QStringLiteral("Created")), QString());
        const QString wrong = path(QStringLiteral("wrong.xml"));
        writeFile(wrong, "<Other Created=\"1\"/>");
        QCOMPARE(panel->getXmlAttr(wrong, QStringLiteral("Created")), QStringLiteral("not annotations file"));
        QVERIFY(!panel->isAnnotFile(wrong));

        // A folder that does not exist changes nothing.
        panel->loadAdnotationsDir(path(QStringLiteral("nowhere")), false);
        QCOMPARE(panel->getLayers().size(), 1);
        QCOMPARE(panel->getAnnotationsDir(), QString());
    }

    void polishParseError()
    {
        QTranslator polish;
        QVERIFY(polish.load(QStringLiteral(":/Language/pl")));
        QVERIFY(QCoreApplication::installTranslator(&polish));
        writeFile(path(QStringLiteral("zly.xml")), "<ArrayOfAnnotation>\n<Annotation>");
        panel->loadAdnotationsDir(dir->path(), false);
        QCoreApplication::removeTranslator(&polish);
        QCOMPARE(dialogs->shown.size(), 1);
        QCOMPARE(dialogs->shown[0].title, QStringLiteral("DOM Addnotacje"));
        QVERIFY2(dialogs->shown[0].text.startsWith(QString::fromUtf8("Błąd parsowania w linii 2, kolumnie ")),
                 qPrintable(dialogs->shown[0].text));
        QCOMPARE(dialogs->shown[0].text.count(QLatin1Char('\n')), 1);
    }

    void linkedFile()
    {
        // A layer kept elsewhere and linked into the folder stays linked.
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("elsewhere")));
        const QString target = path(QStringLiteral("elsewhere/real.xml"));
        writeFile(target, fileWith(annotation("PT1S", "a")));
        const QString link = path(QStringLiteral("link.xml"));
        QVERIFY(QFile::link(target, link));
        QVERIFY(panel->addAnnotXML(record("PT2S", "b"), link));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(entries(target), (QStringList{"PT1S|a|false", "PT2S|b|false"}));
    }

    void hostileFolder()
    {
        const auto make = [this](const char* name, const QByteArray& bytes) {
            writeFile(path(QLatin1String(name)), bytes);
        };
        make("good-clerk.xml", fileWith(annotation("PT1S", "dobra")));
        make("GOOD-JUDGE.XML", fileWith(annotation("PT2S", "duże litery")));
        make("mixed.Xml", fileWith(annotation("PT3S", "mieszane")));
        make("truncated.xml", fileWith(annotation("PT4S", "urwany")).left(60));
        make("empty.xml", "");
        make("wrongroot.xml", "<Root><Annotation Time=\"PT5S\"><Text>x</Text></Annotation></Root>");
        make("binary.xml", QByteArray(4096, '\0'));
        QByteArray deep = "<ArrayOfAnnotation>";
        deep += QByteArray("<a>").repeated(200000);
        make("deep.xml", deep);
        QByteArray wide = "<ArrayOfAnnotation>" + QByteArray("<a/>").repeated(AnnotationDocument::MaxElements + 1) +
                          "</ArrayOfAnnotation>";
        make("wide.xml", wide);
        wide.clear();
        make("attributes.xml", rootWith("a%d=\"%d\"", AnnotationDocument::MaxAttributes + 1));
        make("declarations.xml", rootWith("xmlns:n%d=\"urn:%d\"", AnnotationDocument::MaxNamespaceDeclarations + 1));
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("folder.xml")));
        QCOMPARE(::mkfifo(QFile::encodeName(path(QStringLiteral("fifo.xml"))).constData(), 0644), 0);
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path(QStringLiteral("zero.xml"))));
        QVERIFY(QFile::link(path(QStringLiteral("fifo.xml")), path(QStringLiteral("fifo-link.xml"))));
        make("laughs.xml",
             "<?xml version=\"1.0\"?><!DOCTYPE ArrayOfAnnotation ["
             "<!ENTITY a \"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\">"
             "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
             "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
             "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">"
             "<!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\"><!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">"
             "]><ArrayOfAnnotation><Annotation Time=\"PT1S\"><Text>&i;</Text></Annotation>"
             "</ArrayOfAnnotation>");
        QFile big(path(QStringLiteral("big.xml")));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.write(fileWith("")) > 0);
        QVERIFY(big.resize(AnnotationDocument::MaxFileSize + 1024));
        big.close();

        // Named one by one (a file dialog, a caller): never opened either.
        for (const char* name : {"fifo.xml", "zero.xml", "fifo-link.xml", "folder.xml"}) {
            const QString special = path(QLatin1String(name));
            panel->loadAdnotationsFile(special, true);
            QVERIFY(!panel->isAnnotFile(special));
            QVERIFY(!panel->addAnnotXML(record("PT1S", "a"), special));
        }
        QVERIFY(panel->getLayers().isEmpty());
        QVERIFY(dialogs->shown.isEmpty());

        QSignalSpy layersShown(panel, &Adnotacje::annShowLayers);
        QElapsedTimer timer;
        timer.start();
        panel->loadAdnotationsDir(dir->path(), false);
        qInfo("hostile folder loaded in %lld ms", timer.elapsed());
        QStringList texts = textsOf(panel->getAdnotations());
        texts.sort();
        QCOMPARE(texts, (QStringList{QString::fromUtf8("dobra"), QString::fromUtf8("duże litery"),
                                     QString::fromUtf8("mieszane")}));
        QCOMPARE(layersShown.size(), 3);
        QCOMPARE(layersShown.first().first().value<QList<Layer>>().size(), 0);
        QCOMPARE(layersShown.last().first().value<QList<Layer>>().size(), 3);
        // Truncated, empty and binary files are parse errors; the huge one and
        // those too complex to parse are named with the reason (runaway
        // entities come with a DTD subset, which is refused).
        const QStringList information = dialogs->texts(QStringLiteral("information"));
        QCOMPARE(information.size(), 9);
        QCOMPARE(information.filter(QStringLiteral("Parse error")).size(), 3);
        QCOMPARE(information.filter(QStringLiteral("big.xml")).size(), 1);
        for (const char* name : {"deep.xml", "wide.xml", "laughs.xml", "attributes.xml", "declarations.xml"})
            QVERIFY2(information.contains(QString::fromUtf8("Plik %1 ma zbyt złożoną budowę (za dużo elementów, "
                                                            "atrybutów, deklaracji przestrzeni nazw lub poziomów "
                                                            "zagnieżdżenia albo własne deklaracje DTD) i nie zostanie "
                                                            "otwarty.")
                                              .arg(path(QLatin1String(name)))),
                     name);
    }

    void copyOverStaleLayer()
    {
        // A layer's file removed by someone else, and its name given to a copy:
        // the open layer is not the copy, so no copy path is handed out.
        const QString clerk = path(QStringLiteral("s-clerk.xml"));
        const QString recorder = path(QStringLiteral("rec.xml"));
        writeFile(clerk, fileWith(annotation("PT1S", "publiczna")));
        writeFile(recorder, fileWith(annotation("PT2S", "protokolant")));
        panel->loadAdnotationsDir(dir->path(), false);
        QCOMPARE(panel->getLayers().size(), 2);
        QVERIFY(QFile::remove(recorder));
        dialogs->answers = {true};
        dialogs->fileNames = QStringList{recorder};
        QCOMPARE(panel->copyAnnotFile(clerk), QString());
        QCOMPARE(panel->getLayers().size(), 2);
        QCOMPARE(dialogs->texts(QStringLiteral("message")), QStringList{QString::fromUtf8("Plik został już otwarty")});
        QCOMPARE(dialogs->texts(QStringLiteral("critical")),
                 QStringList{QString::fromUtf8("Nie udało się otworzyć kopii pliku adnotacji")});
    }

    void hostileFilesRoundTrip()
    {
        // Every seed of the store's fuzz corpus (its regression inputs among
        // them) and the files too wide to keep there: a file either does not
        // load and is never written, or after a rewrite it loads again with
        // the same annotations and the one added.
        struct Case {
            QString name;
            QByteArray bytes;
            int loads;       // 1 yes, 0 no, -1 either
            QString refusal; // why the addition is refused, when it is
        };
        // A few bytes under the size cap, as the store writes it.
        QByteArray nearCap = QByteArray(kHead) + "<ArrayOfAnnotation Created=\"100\">\n";
        const QByteArray end = "</ArrayOfAnnotation>\n";
        for (int i = 1; i <= 4; ++i) {
            const QByteArray open = " <Annotation Time=\"PT" + QByteArray::number(i) + "S\">\n  <Text>";
            const QByteArray close = "</Text>\n  <Protocol>false</Protocol>\n </Annotation>\n";
            const qint64 room = i < 4 ? AnnotationDocument::MaxFileSize / 4 : AnnotationDocument::MaxFileSize - 8;
            nearCap += open + QByteArray(int(room - nearCap.size() - open.size() - close.size() - end.size()), 'a') +
                       close;
        }
        nearCap += end;
        QCOMPARE(nearCap.size(), int(AnnotationDocument::MaxFileSize - 8));
        QVector<Case> cases = {
            {"attributes.xml", rootWith("a%d=\"%d\"", 40000), 0, {}},
            {"declarations.xml", rootWith("xmlns:n%d=\"urn:%d\"", 20000), 0, {}},
            {"attributes-at-bound.xml", rootWith("a%d=\"%d\"", AnnotationDocument::MaxAttributes), 1, {}},
            {"near-cap.xml", nearCap, 1, QString::fromUtf8("byłby większy niż 32 MB")},
        };
        const QDir corpus(QStringLiteral(HARBEND_SOURCE_DIR "/tests/fuzz/corpus/annotation_store"));
        const QStringList seeds = corpus.entryList(QDir::Files);
        QVERIFY(seeds.contains(QStringLiteral("instruction-with-nul.xml")));
        for (const QString& seed : seeds)
            cases.append({seed,
                          readFile(corpus.filePath(seed)),
                          seed == QLatin1String("instruction-with-nul.xml") ? 1 : -1,
                          {}});

        const CAdnotation added = record("PT9999S", "dopisek");
        const QString addedEntry = QStringLiteral("PT9999S|dopisek|false");
        for (const Case& c : cases) {
            const QString file = path(c.name);
            writeFile(file, c.bytes);
            Adnotacje first;
            first.setDialogs(dialogs);
            first.loadAdnotationsFile(file, false);
            const bool loaded = first.getLayers().size() == 1;
            if (c.loads >= 0)
                QVERIFY2(loaded == bool(c.loads), qPrintable(c.name));
            const bool written = first.addAnnotXML(added, file);
            if (!c.refusal.isEmpty())
                QVERIFY2(!written && first.getFailureReason().contains(c.refusal),
                         qPrintable(c.name + QStringLiteral(": ") + first.getFailureReason()));
            if (!written)
                QVERIFY2(readFile(file) == c.bytes, qPrintable(c.name));
            if (!loaded) {
                QVERIFY2(!written, qPrintable(c.name));
                continue;
            }
            Adnotacje again;
            again.setDialogs(dialogs);
            again.loadAdnotationsFile(file, false);
            QStringList before = loadedEntries(first);
            if (written)
                before << addedEntry;
            before.sort();
            QStringList after = loadedEntries(again);
            after.sort();
            QVERIFY2(after == before, qPrintable(c.name + QStringLiteral(": ") + after.join(QLatin1Char(','))));
        }
    }

    void characterReferencesSurvive()
    {
        // Peers may write any character as a reference, also beyond U+FFFF.
        const QString file = path(QStringLiteral("refs.xml"));
        writeFile(file, fileWith("<Annotation Time=\"PT1S\" Mood=\"&#x1F600;\"><Text>u&#x15B;miech &#x1F600; i "
                                 "&#128512;</Text><Protocol>false</Protocol></Annotation>"));
        const QString smile = QString::fromUtf8("uśmiech 😀 i 😀");
        panel->loadAdnotationsFile(file, false);
        QCOMPARE(panel->getAdnotations().value(0).text, smile);
        QVERIFY(panel->addAnnotXML(record("PT2S", "b"), file));
        QCOMPARE(entries(file),
                 (QStringList{QStringLiteral("PT1S|") + smile + QStringLiteral("|false"), "PT2S|b|false"}));
        QVERIFY(readFile(file).contains(QString::fromUtf8("Mood=\"😀\"").toUtf8()));
        QVERIFY(panel->editAnnotXML(record("PT1S", "inny"), panel->getAdnotations().value(0), file));
        QCOMPARE(entries(file).first(), QStringLiteral("PT1S|inny|false"));
    }

    void percentInPath()
    {
        // Folder names are the users' own; "%" in them is no placeholder.
        QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("sala %2 i %1")));
        const QString broken = path(QStringLiteral("sala %2 i %1/zly.xml"));
        writeFile(broken, "<ArrayOfAnnotation>");
        panel->loadAdnotationsFile(broken, true);
        QVERIFY(panel->getLayers().isEmpty());
        const QString big = path(QStringLiteral("sala %2 i %1/duzy.xml"));
        QFile file(big);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(AnnotationDocument::MaxFileSize + 1));
        file.close();
        panel->loadAdnotationsFile(big, true);
        const QStringList shown = dialogs->texts(QStringLiteral("information"));
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown[0].startsWith(broken + QStringLiteral("\nParse error at line 1, column ")),
                 qPrintable(shown[0]));
        QCOMPARE(shown[1], QString::fromUtf8("Plik %1 jest za duży (ponad 32 MB) i nie zostanie otwarty.")
                               .replace(QStringLiteral("%1"), big));
    }

    void smallDisk()
    {
        // A real small disk in a private mount namespace: it fills, then it
        // is remounted read-only (see smallDiskChild below).
        const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
        if (unshare.isEmpty())
            QSKIP("unshare is not installed");
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(environment);
        child.start(unshare, {QStringLiteral("--user"), QStringLiteral("--map-root-user"), QStringLiteral("--mount"),
                              QCoreApplication::applicationFilePath(), QStringLiteral("--small-disk"), dir->path()});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray errors = child.readAllStandardError();
        if (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 77)
            QSKIP("no private mount namespace with a tmpfs here");
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, errors.constData());
        // The small disk went with the child; nothing of it is left here.
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
};

// The writer of killedWriterKeepsFile: adds one annotation with no file
// allowed to grow past argv[3] bytes, and dies of SIGXFSZ when one does.
static int killedWriter(int argc, char** argv)
{
    QApplication application(argc, argv);
    Adnotacje panel;
    std::signal(SIGXFSZ, SIG_DFL);
    rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = rlim_t(QByteArray(argv[3]).toLongLong());
    setrlimit(RLIMIT_FSIZE, &limit);
    panel.addAnnotXML(CAdnotation(QStringLiteral("PT1S"), QStringLiteral("dopisek"), QStringLiteral("false"), 1),
                      QString::fromLocal8Bit(argv[2]));
    return 0;
}

// The child of smallDisk, in a mount namespace of its own: every check that
// fails is printed and makes the exit code 1; 77 when no tmpfs can be mounted.
static int smallDiskChild(int argc, char** argv)
{
    QApplication application(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[2]);
    if (::mount("tmpfs", argv[2], "tmpfs", 0, "size=128k") != 0)
        return 77;
    int failures = 0;
    const auto check = [&failures](bool ok, const char* what) {
        if (!ok) {
            std::fprintf(stderr, "FAILED: %s\n", what);
            ++failures;
        }
    };
    const auto filesThere = [&dir] { return QDir(dir).entryList(QDir::Files | QDir::Hidden); };

    // About 80 KB of annotations on a disk of 128 KB: no rewrite fits beside it.
    const QString file = dir + QStringLiteral("/a.xml");
    QByteArray many;
    for (int i = 0; many.size() < 80 * 1024; ++i)
        many += annotation(QByteArray("PT" + QByteArray::number(i) + "S").constData(), "zapis, który musi zostać");
    const QByteArray original = fileWith(many);
    {
        QFile out(file);
        check(out.open(QIODevice::WriteOnly) && out.write(original) == original.size() && out.flush(), "the file fits");
    }
    Adnotacje panel;
    ScriptedDialogs dialogs;
    panel.setDialogs(&dialogs);
    panel.loadAdnotationsDir(dir, false);
    check(panel.getAdnotations().size() > 100, "the layer loads");
    const CAdnotation first = panel.getAdnotations().value(0);
    check(!panel.addAnnotXML(record("PT1S", "nie zmieści się"), file), "add fails on a full disk");
    check(panel.getFailureReason() == qt_error_string(ENOSPC), "the failed add gives the system's reason");
    check(!panel.delAnnotXML(first, file), "delete fails on a full disk");
    check(!panel.editAnnotXML(record("PT0S", "inny"), first, file), "edit fails on a full disk");
    check(!panel.setXmlAttr(file, QStringLiteral("Created"), QStringLiteral("1")), "setXmlAttr fails");
    check(readFile(file) == original, "the file is unchanged after failed rewrites");
    check(filesThere() == QStringList{"a.xml"}, "no temporary file is left");

    // A copy that does not fit is refused and leaves nothing half-written.
    dialogs.answers = {true};
    dialogs.fileNames = QStringList{dir + QStringLiteral("/kopia.xml")};
    check(panel.copyAnnotFile(file).isEmpty(), "a copy that does not fit fails");
    check(dialogs.texts(QStringLiteral("critical"))
              .contains(
                  QString::fromUtf8("Nie udało się skopiować pliku\nZa mało miejsca na dysku w folderze %1.").arg(dir)),
          "the failed copy is reported, and why");
    check(filesThere() == QStringList{"a.xml"}, "no partial copy is left");

    // A disk with no room at all: a new file is not left behind empty.
    {
        QFile filler(dir + QStringLiteral("/filler"));
        check(filler.open(QIODevice::WriteOnly), "filler opens");
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }
    check(!panel.createNewAnnotationsFile(dir + QStringLiteral("/nowy.xml")), "a new file on a full disk fails");
    check(!QFile::exists(dir + QStringLiteral("/nowy.xml")), "no empty new file is left");
    QFile::remove(dir + QStringLiteral("/filler"));

    // The same disk read-only: the layer counts as read-only and is not written.
    if (::mount(nullptr, argv[2], nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        std::fprintf(stderr, "FAILED: remount read-only\n");
        return 1;
    }
    check(panel.isAnnotationReadonly(file), "a file on a read-only mount is read-only");
    check(!panel.addAnnotXML(record("PT1S", "b"), file), "add fails on a read-only mount");
    check(readFile(file) == original, "the file is unchanged on the read-only mount");
    return failures == 0 ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--killed-writer") == 0)
        return killedWriter(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--small-disk") == 0)
        return smallDiskChild(argc, argv);
    QApplication application(argc, argv);
    TestAnnotationStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_annotation_store.moc"
