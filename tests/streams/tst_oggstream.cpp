#include "Recording.h"

#include "Core/Decoder/AudioSample.h"
#include "Core/Decoder/OggStream.h"
#include "Core/Decoder/SampleQueue.h"
#include "Core/Decoder/VideoSample.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

#include <ogg/ogg.h>

using namespace Harbend;

namespace {

const QString kPolishTitle = QStringLiteral("Rozprawa — świadek Łukasz Żółć");

} // namespace

// Stream objects fed the pages of generated recordings.
class OggStreamTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void identifiesCodecsAndFormats_data();
    void identifiesCodecsAndFormats();
    void pageTimesMatchTheManifest_data();
    void pageTimesMatchTheManifest();
    void pictureTimesMatchPageTimes_data();
    void pictureTimesMatchPageTimes();
    void commentsAreUtf8();
    void audioDecodesToTheEndOfStreamSample_data();
    void audioDecodesToTheEndOfStreamSample();
    void recorderSpeexLayoutHasThirteenChannels();
    void inactiveStreamPassesPagesOver();
    void seekTellsTheDecoder();
    void granuleEdgeCases();

private:
    QString make(const QString& name, const QStringList& arguments);
    QTemporaryDir folder;
};

QString OggStreamTest::make(const QString& name, const QStringList& arguments)
{
    QString error;
    const QString path = Recording::make(folder.path(), name, arguments, &error);
    if (path.isEmpty())
        qWarning("make-recording failed: %s", qPrintable(error));
    return path;
}

void OggStreamTest::initTestCase() { QVERIFY(folder.isValid()); }

void OggStreamTest::identifiesCodecsAndFormats_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("codec");
    QTest::addColumn<int>("first");  // rate or width
    QTest::addColumn<int>("second"); // channels or height
    QTest::addColumn<int>("headers");
    QTest::addColumn<double>("fps");
    QTest::newRow("vorbis stereo 44.1 kHz")
        << QStringList{"--stream", "vorbis:channels=2,rate=44100"} << 3 << 44100 << 2 << 3 << 0.0;
    QTest::newRow("vorbis mono 8 kHz") << QStringList{"--stream", "vorbis:rate=8000"} << 3 << 8000 << 1 << 3 << 0.0;
    QTest::newRow("opus mono") << QStringList{"--stream", "opus"} << 1 << 48000 << 1 << 1 << 0.0;
    QTest::newRow("opus 13 channels at 16 kHz")
        << QStringList{"--stream", "opus:channels=13,input-rate=16000"} << 1 << 16000 << 13 << 1 << 0.0;
    QTest::newRow("opus input rate 44100")
        << QStringList{"--stream", "opus:input-rate=44100"} << 1 << 48000 << 1 << 1 << 0.0;
    QTest::newRow("opus input rate 0") << QStringList{"--stream", "opus:input-rate=0"} << 1 << 48000 << 1 << 1 << 0.0;
    QTest::newRow("speex narrow") << QStringList{"--stream", "speex:mode=narrow"} << 2 << 8000 << 1 << 2 << 0.0;
    QTest::newRow("speex ultra 5 channels")
        << QStringList{"--stream", "speex:mode=ultra,channels=5"} << 2 << 32000 << 5 << 2 << 0.0;
    QTest::newRow("theora 25 fps") << QStringList{"--stream", "theora:width=330,height=250,duration=1"} << 4 << 330
                                   << 250 << 3 << 25.0; // the picture region, not the coded 336x256
    QTest::newRow("theora ntsc") << QStringList{"--stream", "theora:width=320,height=240,fps=30000/1001,duration=1"}
                                 << 4 << 320 << 240 << 3 << 30000.0 / 1001.0;
    QTest::newRow("dirac") << QStringList{"--stream", "dirac:width=320,height=240,duration=0.5"} << 5 << 320 << 240 << 1
                           << 25.0;
}

void OggStreamTest::identifiesCodecsAndFormats()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, codec);
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(int, headers);
    QFETCH(double, fps);
    const QString path = make(QString("format-%1.ogg").arg(QTest::currentDataTag()).replace(' ', '-'), arguments);
    QVERIFY(!path.isEmpty());
    Recording::Feeder feeder;
    QVERIFY(feeder.feedFile(path, false));
    QCOMPARE(feeder.serials().size(), 1);
    OggStream* stream = feeder.stream(feeder.serials().first());
    const StreamInfo& info = stream->streamInfo();
    QCOMPARE(int(info.codec), codec);
    QCOMPARE(int(info.headerCount), headers);
    QCOMPARE(info.headersMissing, 0);
    QCOMPARE(stream->headerPackets().size(), headers);
    if (codec <= 3) {
        QCOMPARE(info.mediaType, MediaType::Audio);
        QCOMPARE(int(info.rate), first);
        QCOMPARE(int(info.channels), second);
        const QAudioFormat format = stream->getAudioFormat();
        QCOMPARE(format.sampleRate(), first);
        QCOMPARE(format.channelCount(), 1);
        QCOMPARE(format.sampleSize(), 16);
        QCOMPARE(format.sampleType(), QAudioFormat::SignedInt);
        QCOMPARE(format.byteOrder(), QAudioFormat::LittleEndian);
        QCOMPARE(format.codec(), QString("audio/pcm"));
    } else {
        QCOMPARE(info.mediaType, MediaType::Video);
        QCOMPARE(int(info.width), first);
        QCOMPARE(int(info.height), second);
        QVERIFY(qAbs(info.granuleRate - fps) < 1e-9);
        const QVideoSurfaceFormat format = stream->getVideoFormat();
        QCOMPARE(format.frameSize(), QSize(first, second));
        QCOMPARE(format.pixelFormat(), QVideoFrame::Format_YUV420P);
        QCOMPARE(format.handleType(), QAbstractVideoBuffer::NoHandle);
        QCOMPARE(format.scanLineDirection(), QVideoSurfaceFormat::BottomToTop);
        QCOMPARE(format.yCbCrColorSpace(), QVideoSurfaceFormat::YCbCr_BT709);
        QCOMPARE(format.pixelAspectRatio(), QSize(1, 1));
        QVERIFY(qAbs(format.frameRate() - fps) < 1e-9);
    }
}

void OggStreamTest::pageTimesMatchTheManifest_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<int>("endSlackMs"); // how far the last page may end before or after the stream's end
    QTest::newRow("vorbis from 1.5 s") << "vorbis:rate=22050,start=1.5,pages=8" << 0;
    QTest::newRow("speex from 10 s") << "speex:mode=wide,fpp=3,start=10,pages=1" << 60;
    QTest::newRow("opus 60 ms, pre-skip") << "opus:frame-ms=60,start=1.5,pages=4" << 20;
    QTest::newRow("opus at 16 kHz") << "opus:input-rate=16000,frame-ms=120,pages=2" << 20;
    QTest::newRow("theora from 10 s") << "theora:width=160,height=120,start=10,keyint=8" << 40;
    QTest::newRow("dirac from 1.5 s") << "dirac:width=160,height=120,start=1.5" << 40;
}

void OggStreamTest::pageTimesMatchTheManifest()
{
    QFETCH(QString, spec);
    QFETCH(int, endSlackMs);
    const QString path = make(QString("times-%1.ogg").arg(QTest::currentDataTag()).replace(' ', '-'),
                              {"--stream", spec + ",serial=5", "--duration", "2"});
    QVERIFY(!path.isEmpty());
    const QJsonObject manifest = Recording::manifest(path);
    const QJsonObject entry = Recording::streamEntry(manifest, 5);
    Recording::Feeder feeder;
    QVERIFY(feeder.feedFile(path, false));
    OggStream* stream = feeder.stream(5);
    QVERIFY(stream);
    int checked = 0;
    for (const QJsonValue& value : manifest.value("pages").toArray()) {
        const QJsonObject page = value.toObject();
        if (page.value("header").toBool())
            continue;
        const qint64 granule = qint64(page.value("granule").toDouble());
        QCOMPARE(stream->getTimeFromGranulepos(granule), granule < 0 ? -1 : qint64(page.value("timeMs").toDouble()));
        ++checked;
    }
    QVERIFY(checked > 2);
    // The first data page lies within a page's worth of the first data time,
    // and the last one at the stream's end.
    const qint64 first = stream->getTimeFromGranulepos(qint64(entry.value("firstGranule").toDouble()));
    const qint64 last = stream->getTimeFromGranulepos(qint64(entry.value("lastGranule").toDouble()));
    const int start = entry.value("startMs").toInt();
    const int end = entry.value("endMs").toInt();
    QVERIFY2(first >= start && first < start + 1000, qPrintable(QString("first %1, start %2").arg(first).arg(start)));
    QVERIFY2(qAbs(last - end) <= endSlackMs, qPrintable(QString("last %1, end %2").arg(last).arg(end)));
}

void OggStreamTest::pictureTimesMatchPageTimes_data()
{
    QTest::addColumn<QString>("spec");
    QTest::newRow("dirac from 1.5 s") << "dirac:width=160,height=120,start=1.5";
    QTest::newRow("dirac from 10 s") << "dirac:width=160,height=120,start=10,pages=3";
}

void OggStreamTest::pictureTimesMatchPageTimes()
{
    // Dirac pictures are timed by their own numbers: each decoded picture
    // shows its number (the code cells across the top), its time is that
    // number's, the picture that ends a page has the page's time, and the
    // manifest's range is the pictures' (1.5 s lies between two of them).
    QFETCH(QString, spec);
    const QString path = make(QString("pictures-%1.ogg").arg(QTest::currentDataTag()).replace(' ', '-'),
                              {"--stream", spec, "--duration", "1"});
    QVERIFY(!path.isEmpty());
    const QJsonObject manifest = Recording::manifest(path);
    const QJsonObject entry = Recording::streamEntry(manifest, 100);
    const QJsonObject code = entry.value("pictureCode").toObject();
    const int cellWidth = code.value("cellWidth").toInt(), cellHeight = code.value("cellHeight").toInt();
    const qint64 firstPicture = entry.value("firstPicture").toInt();
    QVERIFY(firstPicture > 0);
    Recording::Feeder feeder;
    QVERIFY(feeder.feedFile(path));
    QVector<QSharedPointer<Sample>> samples;
    QVERIFY(feeder.collect(100, samples));
    QCOMPARE(samples.size(), entry.value("dataPackets").toInt());
    OggStream* stream = feeder.stream(100);
    int packets = 0, checked = 0;
    for (const QJsonValue& value : manifest.value("pages").toArray()) {
        const QJsonObject page = value.toObject();
        if (page.value("header").toBool())
            continue;
        packets += page.value("packets").toInt();
        const qint64 granule = qint64(page.value("granule").toDouble());
        if (granule < 0)
            continue;
        QVERIFY(packets >= 1 && packets <= samples.size());
        QCOMPARE(samples[packets - 1]->time / 1000000, stream->getTimeFromGranulepos(granule));
        QCOMPARE(qint64(page.value("timeMs").toDouble()), stream->getTimeFromGranulepos(granule));
        ++checked;
    }
    QVERIFY(checked >= 3);
    const qint64 frameNs = 40000000; // 25 fps
    for (int i = 0; i < samples.size(); ++i) {
        QCOMPARE(samples[i]->type, int(Sample::Video));
        QVideoFrame frame = static_cast<VideoSample*>(samples[i].data())->frame;
        QVERIFY(frame.map(QAbstractVideoBuffer::ReadOnly));
        qint64 number = 0;
        for (int bit = 0; bit < 20; ++bit)
            number = number * 2 +
                     (frame.bits()[(cellHeight / 2) * frame.width() + bit * cellWidth + cellWidth / 2] > 128);
        frame.unmap();
        QCOMPARE(number, firstPicture + i);
        QCOMPARE(samples[i]->time, number * frameNs);
    }
    // The manifest's range is the pictures' own.
    QCOMPARE(samples.first()->time, qint64(entry.value("startMs").toInt()) * 1000000);
    QCOMPARE(samples.last()->time + samples.last()->duration, qint64(entry.value("endMs").toInt()) * 1000000);
}

void OggStreamTest::commentsAreUtf8()
{
    for (const QString& codec : {QString("vorbis"), QString("speex")}) {
        const QString path = make("comments-" + codec + ".ogg",
                                  {"--stream", codec + ":duration=0.5", "--comment", "TITLE=" + kPolishTitle,
                                   "--comment", "LOCATION=Sala=3", "--comment", "NOEQUALS"});
        QVERIFY(path.isEmpty()); // a comment without '=' is refused by the tool itself
        const QString good = make("comments-" + codec + ".ogg",
                                  {"--stream", codec + ":duration=0.5", "--comment", "TITLE=" + kPolishTitle,
                                   "--comment", "LOCATION=Sala=3"});
        QVERIFY(!good.isEmpty());
        Recording::Feeder feeder;
        QVERIFY(feeder.feedFile(good, false));
        OggStream* stream = feeder.stream(1);
        QVERIFY(stream);
        QCOMPARE(stream->metadata.value("TITLE").toString(), kPolishTitle);
        QCOMPARE(stream->metadata.value("LOCATION").toString(), QString("Sala=3"));
    }
}

void OggStreamTest::audioDecodesToTheEndOfStreamSample_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("blockFrames");
    QTest::newRow("vorbis 44.1 kHz") << "vorbis:rate=44100" << 44100 << 1764;
    QTest::newRow("vorbis 22.05 kHz") << "vorbis:rate=22050" << 22050 << 882;
    QTest::newRow("opus 20 ms") << "opus" << 48000 << 960;
    QTest::newRow("opus 120 ms 13 channels") << "opus:frame-ms=120,channels=13" << 48000 << 5760;
    QTest::newRow("speex wide") << "speex:mode=wide" << 16000 << 640;
    QTest::newRow("speex wide 3 per packet") << "speex:mode=wide,fpp=3" << 16000 << 960;
    QTest::newRow("speex narrow") << "speex:mode=narrow" << 8000 << 320;
}

void OggStreamTest::audioDecodesToTheEndOfStreamSample()
{
    QFETCH(QString, spec);
    QFETCH(int, rate);
    QFETCH(int, blockFrames);
    const QString path = make(QString("eos-%1.ogg").arg(QTest::currentDataTag()).replace(' ', '-'),
                              {"--stream", spec, "--duration", "2"});
    QVERIFY(!path.isEmpty());
    Recording::Feeder feeder;
    QVERIFY(feeder.feedFile(path));
    QVector<QSharedPointer<Sample>> samples;
    QVERIFY(feeder.collect(1, samples));
    QVERIFY(!samples.isEmpty());
    qint64 frames = 0;
    for (const auto& sample : samples) {
        QCOMPARE(sample->type, int(Sample::Audio));
        const AudioSample* audio = static_cast<const AudioSample*>(sample.data());
        QCOMPARE(audio->frames, blockFrames);
        QCOMPARE(sample->duration, qint64(blockFrames) * 1000000000 / rate);
        frames += audio->frames;
    }
    // Two seconds, less at most one partial block at the end and the codec's delay.
    QVERIFY2(frames > 2 * rate - 2 * blockFrames - rate / 20 && frames <= 2 * rate + 2 * blockFrames,
             qPrintable(QString::number(frames)));
    // Blocks follow each other without gaps.
    for (int i = 1; i < samples.size(); ++i)
        QCOMPARE(samples[i]->time, samples[i - 1]->time + samples[i - 1]->duration);
    // Nothing after the end-of-stream sample.
    QVERIFY(!feeder.queue(1)->dequeueSample());
}

void OggStreamTest::recorderSpeexLayoutHasThirteenChannels()
{
    const QString path = make("recorder.ogg", {"--stream", "speex:layout=serial1,serial=1,duration=0.5"});
    QVERIFY(!path.isEmpty());
    Recording::Feeder feeder;
    QVERIFY(feeder.feedFile(path));
    QCOMPARE(int(feeder.stream(1)->streamInfo().channels), 13);
    QCOMPARE(int(feeder.stream(1)->streamInfo().headerCount), 2);
    QVector<QSharedPointer<Sample>> samples;
    QVERIFY(feeder.collect(1, samples));
    QVERIFY(!samples.isEmpty());
    QCOMPARE(static_cast<AudioSample*>(samples.first().data())->channels, 13);

    // The same stream under another serial number is one channel with an extra header.
    const QString other = make("recorder-2.ogg", {"--stream", "speex:layout=serial1,serial=2,duration=0.5"});
    Recording::Feeder otherFeeder;
    otherFeeder.feedFile(other, false);
    QCOMPARE(int(otherFeeder.stream(2)->streamInfo().channels), 1);
    QCOMPARE(int(otherFeeder.stream(2)->streamInfo().headerCount), 3);
}

void OggStreamTest::inactiveStreamPassesPagesOver()
{
    const QString path = make("two.ogg", {"--stream", "vorbis:duration=1", "--stream", "speex:duration=1,serial=2"});
    QVERIFY(!path.isEmpty());
    const QVector<QByteArray> pages = Recording::pages(path);
    OggStream stream(1);
    QByteArray first = pages[0];
    ogg_page page = Recording::asPage(first);
    QVERIFY(stream.putPageBOS(&page));
    // A new stream is active: its data packets queue before any activation.
    int ownPages = 0;
    for (int i = 1; i < pages.size(); ++i) {
        QByteArray raw = pages[i];
        page = Recording::asPage(raw);
        if (ogg_page_serialno(&page) != 1 || ogg_page_bos(&page))
            continue;
        QVERIFY(stream.putPage(&page));
        if (++ownPages == 3)
            break;
    }
    QCOMPARE(stream.streamInfo().headersMissing, 0);
    QVERIFY(stream.queuedPackets() > 0);
    stream.deactivateStream();
    QCOMPARE(stream.queuedPackets(), 0);
    for (QByteArray raw : pages) {
        page = Recording::asPage(raw);
        if (ogg_page_bos(&page))
            continue;
        QCOMPARE(stream.putPage(&page), ogg_page_serialno(&page) == 1);
    }
    QCOMPARE(stream.queuedPackets(), 0);
    // The marker is dropped by the closed queue.
    stream.putEOSPacket();
    QCOMPARE(stream.queuedPackets(), 0);
}

void OggStreamTest::seekTellsTheDecoder()
{
    const QString path = make("seek.ogg", {"--stream", "opus:duration=1"});
    QVERIFY(!path.isEmpty());
    Recording::Feeder feeder;
    QVERIFY(feeder.feedFile(path));
    QVector<QSharedPointer<Sample>> samples;
    QVERIFY(feeder.collect(1, samples));
    OggStream* stream = feeder.stream(1);
    stream->preSeek();
    QVERIFY(stream->postSeek(700));
    // Pages fed again after the seek: the headers come as data and are skipped.
    Recording::Feeder::refeed(stream, path);
    stream->putEOSPacket();
    samples.clear();
    QVERIFY(feeder.collect(1, samples));
    QVERIFY(!samples.isEmpty());
    QCOMPARE(samples.first()->time, qint64(700) * 1000000);
}

void OggStreamTest::granuleEdgeCases()
{
    OggStream unknown(9);
    QCOMPARE(unknown.getTimeFromGranulepos(-1), qint64(-1));
    QCOMPARE(unknown.getTimeFromGranulepos(100), qint64(-1));
    QCOMPARE(unknown.getPreviousGranulepos(-5), qint64(-1));

    const QString path = make("granules.ogg", {"--stream", "opus:duration=0.2", "--stream",
                                               "theora:width=64,height=48,duration=0.2,keyint=64"});
    Recording::Feeder feeder;
    QVERIFY(feeder.feedFile(path, false));
    OggStream* opus = feeder.stream(1);
    OggStream* theora = feeder.stream(100);
    // Opus granule positions count 48 kHz samples.
    QCOMPARE(opus->getTimeFromGranulepos(48000), qint64(1000));
    QCOMPARE(opus->getTimeFromGranulepos(-1), qint64(-1));
    // Times too large for nanoseconds give no time.
    QCOMPARE(opus->getTimeFromGranulepos(std::numeric_limits<qint64>::max()), qint64(-1));
    QCOMPARE(theora->streamInfo().granuleShift, 6);
    QCOMPARE(theora->streamInfo().granuleOffset, 1);
    QCOMPARE(theora->getTimeFromGranulepos((10 << 6) + 3), qint64((10 + 3 - 1) * 1000 / 25));
    QCOMPARE(theora->getPreviousGranulepos((10 << 6) + 3), qint64(10 << 6));
    QCOMPARE(opus->getPreviousGranulepos(12345), qint64(12345));
}

QTEST_GUILESS_MAIN(OggStreamTest)
#include "tst_oggstream.moc"
