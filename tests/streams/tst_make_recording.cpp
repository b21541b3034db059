#include "Recording.h"

#include "Annotations/Duration.h"
#include "Core/Decoder/OggStream.h"

#include <QDomDocument>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString run(const QString& program, const QStringList& arguments, int* exitCode = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(60000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAll());
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

} // namespace

// The recording generator: deterministic, readable by independent tools,
// with a manifest that matches the file and damage where asked.
class MakeRecordingTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void helpListsTheOptions();
    void sameArgumentsSameBytes();
    void independentToolsReadIt_data();
    void independentToolsReadIt();
    void manifestMatchesTheFile();
    void picturesCarryTheirNumbers_data();
    void picturesCarryTheirNumbers();
    void damage();
    void demo();

private:
    QString make(const QString& name, const QStringList& arguments);
    QTemporaryDir folder;
};

void MakeRecordingTest::initTestCase() { QVERIFY(folder.isValid()); }

QString MakeRecordingTest::make(const QString& name, const QStringList& arguments)
{
    QString error;
    const QString path = Recording::make(folder.path(), name, arguments, &error);
    if (path.isEmpty())
        qWarning("make-recording failed: %s", qPrintable(error));
    return path;
}

void MakeRecordingTest::helpListsTheOptions()
{
    int code = -1;
    const QString help = run(HARBEND_BIN_DIR "/make-recording", {"--help"}, &code);
    QCOMPARE(code, 0);
    for (const char* option : {"--stream", "--damage", "--demo", "--comment", "--duration", "bad-channel",
                               "layout=header|serial1", "input-rate"})
        QVERIFY2(help.contains(option), option);
    run(HARBEND_BIN_DIR "/make-recording", {"--stream", "mp3", folder.filePath("x.ogg")}, &code);
    QVERIFY(code != 0);
}

void MakeRecordingTest::sameArgumentsSameBytes()
{
    const QStringList arguments{"--stream", "theora:width=96,height=64,duration=0.5",
                                "--stream", "speex:layout=serial1,duration=0.5",
                                "--stream", "dirac:width=64,height=48,duration=0.2,serial=7",
                                "--stream", "opus:channels=13,duration=0.5,serial=9",
                                "--stream", "vorbis:duration=0.5,serial=11"};
    const QString a = make("same-a.ogg", arguments);
    const QString b = make("same-b.ogg", arguments);
    QVERIFY(!a.isEmpty() && !b.isEmpty());
    QCOMPARE(contents(a), contents(b));
    QByteArray manifestA = contents(a + ".json"), manifestB = contents(b + ".json");
    manifestB.replace("same-b.ogg", "same-a.ogg");
    QCOMPARE(manifestA, manifestB);
}

void MakeRecordingTest::independentToolsReadIt_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("codecs");
    QTest::addColumn<bool>("oggzKnowsIt");
    QTest::newRow("vorbis") << QStringList{"--stream", "vorbis:channels=2"} << QStringList{"vorbis"} << true;
    QTest::newRow("opus 13") << QStringList{"--stream", "opus:channels=13"} << QStringList{"opus"} << true;
    QTest::newRow("speex ultra fpp 3") << QStringList{"--stream", "speex:mode=ultra,fpp=3"} << QStringList{"speex"}
                                       << true;
    QTest::newRow("theora and speex, video first")
        << QStringList{"--stream", "theora:width=330,height=250", "--stream", "speex:clicks=0.5"}
        << QStringList{"theora", "speex"} << true;
    QTest::newRow("speex first, serials 5 and 6, late start")
        << QStringList{"--stream", "speex:serial=5,start=1.5", "--stream",
                       "theora:serial=6,width=64,height=64,start=10,fps=30000/1001"}
        << QStringList{"speex", "theora"} << false; // Theora's mapping wants its first page first
    QTest::newRow("dirac") << QStringList{"--stream", "dirac:width=128,height=96"} << QStringList{"dirac"} << false;
}

void MakeRecordingTest::independentToolsReadIt()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, codecs);
    QFETCH(bool, oggzKnowsIt);
    const QString path = make(QString("tools-%1.ogg").arg(QTest::currentDataTag()).replace(' ', '-'),
                              arguments << "--duration"
                                        << "1");
    QVERIFY(!path.isEmpty());
    int code = -1;
    const QString probe = run("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0", path},
                              &code);
    QCOMPARE(code, 0);
    QCOMPARE(probe.split('\n', Qt::SkipEmptyParts), codecs);
    if (oggzKnowsIt) {
        const QString validation = run("oggz-validate", {path}, &code);
        QVERIFY2(code == 0, qPrintable(validation));
    }
}

void MakeRecordingTest::manifestMatchesTheFile()
{
    const QString path = make(
        "manifest.ogg", {"--stream", "vorbis:pages=3,duration=1", "--stream", "theora:width=64,height=64,duration=1"});
    QVERIFY(!path.isEmpty());
    const QJsonObject manifest = Recording::manifest(path);
    const QByteArray bytes = contents(path);
    QCOMPARE(manifest.value("bytes").toInt(), bytes.size());
    const QJsonArray pages = manifest.value("pages").toArray();
    const QVector<QByteArray> found = Recording::pages(path);
    QCOMPARE(pages.size(), found.size());
    qint64 end = 0;
    for (int i = 0; i < pages.size(); ++i) {
        const QJsonObject page = pages[i].toObject();
        const int offset = page.value("offset").toInt();
        QCOMPARE(offset, int(end));
        QCOMPARE(bytes.mid(offset, page.value("bytes").toInt()), found[i]);
        QByteArray raw = found[i];
        ogg_page parsed = Recording::asPage(raw);
        QCOMPARE(ogg_page_serialno(&parsed), page.value("serial").toInt());
        QCOMPARE(qint64(ogg_page_granulepos(&parsed)), qint64(page.value("granule").toDouble()));
        QCOMPARE(ogg_page_bos(&parsed) != 0, page.value("bos").toBool());
        QCOMPARE(ogg_page_eos(&parsed) != 0, page.value("eos").toBool());
        QCOMPARE(ogg_page_continued(&parsed) != 0, page.value("continued").toBool());
        end = offset + page.value("bytes").toInt();
    }
    // The beginning-of-stream pages come first, and each stream ends with an end-of-stream page.
    QVERIFY(pages[0].toObject().value("bos").toBool() && pages[1].toObject().value("bos").toBool());
    int eosPages = 0;
    for (const QJsonValue& page : pages)
        eosPages += page.toObject().value("eos").toBool() ? 1 : 0;
    QCOMPARE(eosPages, 2);
    const QJsonObject vorbis = Recording::streamEntry(manifest, 1);
    QCOMPARE(vorbis.value("tones").toArray().size(), 1);
    QCOMPARE(vorbis.value("headerPackets").toInt(), 3);
}

void MakeRecordingTest::picturesCarryTheirNumbers_data()
{
    QTest::addColumn<QString>("spec");
    QTest::newRow("theora from 1.5 s, odd size") << "theora:width=330,height=250,start=1.5,keyint=8";
    QTest::newRow("dirac") << "dirac:width=320,height=240";
}

void MakeRecordingTest::picturesCarryTheirNumbers()
{
    // ffmpeg decodes one picture; its top rows give the number back.
    QFETCH(QString, spec);
    const QString path = make(QString("numbers-%1.ogg").arg(QTest::currentDataTag()).replace(' ', '-').replace(',', ""),
                              {"--stream", spec, "--duration", "0.5"});
    QVERIFY(!path.isEmpty());
    const QJsonObject video = Recording::manifest(path).value("streams").toArray().first().toObject();
    const int width = video.value("width").toInt();
    const QJsonObject code = video.value("pictureCode").toObject();
    const int bits = code.value("bits").toInt();
    const int cellWidth = code.value("cellWidth").toInt();
    const int cellHeight = code.value("cellHeight").toInt();
    const int index = 7;
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", path, "-vf", QString("select=eq(n\\,%1)").arg(index), "-frames:v", "1",
                            "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    QVERIFY(ffmpeg.waitForFinished(30000));
    const QByteArray picture = ffmpeg.readAllStandardOutput();
    QVERIFY(picture.size() >= width * cellHeight);
    qint64 number = 0;
    for (int bit = 0; bit < bits; ++bit) {
        const uchar value = uchar(picture[(cellHeight / 2) * width + bit * cellWidth + cellWidth / 2]);
        number = number * 2 + (value > 128 ? 1 : 0);
    }
    QCOMPARE(number, qint64(video.value("firstPicture").toInt() + index));
}

void MakeRecordingTest::damage()
{
    const QStringList stream{"--stream", "speex:duration=1,pages=2"};
    const QString clean = make("clean.ogg", stream);
    const int cleanPages = Recording::pages(clean).size();

    const QString noOggs = make("no-oggs.ogg", QStringList(stream) << "--damage"
                                                                   << "no-oggs");
    QVERIFY(!contents(noOggs).startsWith("OggS"));
    QCOMPARE(Recording::pages(noOggs).size(), cleanPages);

    const QString tiny = make("tiny.ogg", QStringList(stream) << "--damage"
                                                              << "truncate=900");
    QCOMPARE(contents(tiny).size(), 900);
    QVERIFY(contents(tiny).startsWith("OggS"));

    const QString garbage = make("garbage.ogg", QStringList(stream) << "--damage"
                                                                    << "garbage=3");
    QVERIFY(Recording::manifest(garbage).value("damage").toObject().value("junk").toArray().size() > 3);
    QCOMPARE(Recording::pages(garbage).size(), cleanPages);

    // A page with a wrong checksum and a cut last page are passed over by libogg.
    const QString crc = make("crc.ogg", QStringList(stream) << "--damage"
                                                            << "bad-crc");
    QCOMPARE(Recording::pages(crc).size(), cleanPages - 1);
    const QString cut = make("cut.ogg", QStringList(stream) << "--damage"
                                                            << "truncate-last-page");
    QCOMPARE(Recording::pages(cut).size(), cleanPages - 1);
    QVERIFY(contents(cut).size() < contents(clean).size());

    // A header field that lies.
    const QString lying = make("lying.ogg", {"--stream", "speex:duration=0.2,patch=48:0e000000"});
    Recording::LogCapture log;
    Recording::Feeder feeder;
    QVERIFY(!feeder.feedFile(lying));
    QVERIFY(log.contains("Unsupported channel count!"));
    QVERIFY(log.contains("Failed to initialize decoder for stream #1!"));
}

void MakeRecordingTest::demo()
{
    int code = -1;
    const QString path = folder.filePath("demo.ogg");
    run(HARBEND_BIN_DIR "/make-recording", {"--demo", path}, &code);
    QCOMPARE(code, 0);
    const QJsonObject manifest = Recording::manifest(path);
    const QJsonObject video = Recording::streamEntry(manifest, 100);
    const QJsonObject audio = Recording::streamEntry(manifest, 1);
    QCOMPARE(video.value("codec").toString(), QString("theora"));
    QCOMPARE(video.value("width").toInt(), 640);
    QCOMPARE(video.value("height").toInt(), 480);
    QCOMPARE(audio.value("codec").toString(), QString("speex"));
    QCOMPARE(audio.value("tones").toArray().size(), 13);
    QCOMPARE(audio.value("endMs").toInt(), 20000);
    Recording::Feeder feeder;
    QVERIFY(feeder.feedFile(path, false));
    QCOMPARE(int(feeder.stream(1)->streamInfo().channels), 13);
    QCOMPARE(int(feeder.stream(100)->streamInfo().codec), 4);

    // Two annotation layers beside it: the recorder's, over the 20 s with one for the
    // protocol, and the clerk's, read-only by its name.
    const auto annotations = [this](const char* name) {
        QFile file(folder.filePath(QLatin1String(name)));
        QDomDocument dom;
        QList<QPair<qint64, bool>> found;
        if (!file.open(QIODevice::ReadOnly) || !dom.setContent(&file))
            return found;
        for (QDomElement e = dom.documentElement().firstChildElement("Annotation"); !e.isNull();
             e = e.nextSiblingElement("Annotation"))
            found << qMakePair(Duration::isoToMs(e.attribute("Time")),
                               e.firstChildElement("Protocol").text() == QLatin1String("true"));
        return found;
    };
    const auto recorder = annotations("demo.xml");
    QVERIFY(recorder.size() >= 3);
    int forProtocol = 0;
    for (const auto& a : recorder) {
        QVERIFY(a.first >= 0 && a.first <= 20000);
        forProtocol += a.second;
    }
    QCOMPARE(forProtocol, 1);
    QVERIFY(recorder.last().first - recorder.first().first >= 15000);
    QVERIFY(!annotations("demo-clerk.xml").isEmpty());
}

QTEST_GUILESS_MAIN(MakeRecordingTest)
#include "tst_make_recording.moc"
