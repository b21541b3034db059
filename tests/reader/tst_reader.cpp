#include "Core/Decoder/AudioSample.h"
#include "Core/Decoder/Decoder.h"
#include "Core/Decoder/OggReader.h"
#include "Core/Decoder/OggStream.h"
#include "Core/Decoder/SampleQueue.h"
#include "Core/Decoder/VideoSample.h"
#include "ReaderHarness.h"
#include "tests/TestMain.h"
#include "tests/base/Unprivileged.h"
#include "tests/streams/Recording.h"

#include <QBuffer>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <iterator>
#include <memory>

#include <unistd.h>

using namespace Harbend;

namespace {

// How far the content of the first audio after a seek lies from its time,
// in ms, in each channel, by its first click in a recording with a click
// every `period` seconds in every channel; false when a channel had no click
// in the first `period`.
bool clickOffsets(ReaderHarness& harness, double period, QVector<double>& offsetsMs)
{
    QVector<QVector<float>> heard(1);
    qint64 first = -1;
    double rate = 0.0;
    QDeadlineTimer deadline(10000);
    while (heard[0].size() < rate * period * 1.2 + 1 && !deadline.hasExpired()) {
        const QSharedPointer<Sample> sample = harness.reader.getAudioQueue()->dequeueSample();
        if (!sample) {
            QThread::usleep(200);
            continue;
        }
        if (sample->type != Sample::Audio)
            return false;
        const AudioSample* audio = static_cast<const AudioSample*>(sample.data());
        if (first < 0) {
            first = audio->time;
            rate = audio->frames * 1e9 / audio->duration;
            heard.resize(std::max(1, audio->channels));
        }
        if (audio->channels != heard.size())
            return false;
        for (int c = 0; c < audio->channels; ++c) {
            const float* plane = audio->data + size_t(c) * audio->frames;
            std::copy(plane, plane + audio->frames, std::back_inserter(heard[c]));
        }
    }
    offsetsMs.clear();
    for (const QVector<float>& channel : heard) {
        const auto click = std::find_if(channel.begin(), channel.end(), [](float v) { return std::fabs(v) > 0.3f; });
        if (click == channel.end())
            return false;
        const double at = first / 1e9 + (click - channel.begin()) / rate;
        offsetsMs.append(1000.0 * (period * std::floor(at / period + 0.5) - at));
    }
    return true;
}

const int kHangLimitMs = 20000;

// A device that reads like a pipe: no random access.
class SequentialBuffer : public QBuffer {
public:
    bool isSequential() const override { return true; }
};

// A file whose reading thread, on meeting the end, waits a moment before it
// reports it: a stop made meanwhile comes while the last read is underway.
class SlowEndFile : public QFile {
public:
    using QFile::QFile;
    std::atomic<bool> atEnd{false};

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 got = QFile::readData(data, maxSize);
        if (got == 0 && !atEnd && QThread::currentThread() != QCoreApplication::instance()->thread()) {
            atEnd = true;
            QMutex mutex;
            QWaitCondition never;
            QMutexLocker lock(&mutex);
            never.wait(&mutex, 300);
        }
        return got;
    }
};

// Appends one file to another: a chained recording.
bool append(const QString& path, const QString& other)
{
    QFile target(path);
    QFile source(other);
    return target.open(QIODevice::Append) && source.open(QIODevice::ReadOnly) &&
           target.write(source.readAll()) == source.size();
}

// Appends bytes of which none is the 'O' of a capture pattern (each has its
// high bit set): a written tail that holds no page.
bool appendJunk(const QString& path, qint64 bytes)
{
    QByteArray chunk(1 << 20, '\0');
    for (int i = 0; i < chunk.size(); ++i)
        chunk[i] = char(0x80 | (i & 0x7f));
    QFile file(path);
    if (!file.open(QIODevice::Append))
        return false;
    for (qint64 left = bytes; left > 0; left -= chunk.size()) {
        const qint64 part = std::min<qint64>(left, chunk.size());
        if (file.write(chunk.constData(), part) != part)
            return false;
    }
    return file.flush();
}

bool haveDecoderFor(Codec::Enum codec)
{
    std::unique_ptr<Decoder> decoder(Decoder::createDecoder(codec));
    return decoder != nullptr;
}

QSharedPointer<OggStream> streamWithSerial(const OggReader& reader, int serial)
{
    for (const QSharedPointer<OggStream>& stream : reader.getStreams()) {
        if (stream->serialno == serial)
            return stream;
    }
    return QSharedPointer<OggStream>();
}

// The range that the reader must find: from the first sample of the stream
// whose page comes first (in file order) with a positive time, up to 1999 ms
// counting as 0, to the latest page time. firstPageSpan: how far that page's
// own time lies past its first sample.
void expectedRange(const QJsonObject& manifest, qint64& start, qint64& end, qint64& firstPageSpan)
{
    start = -1;
    end = -1;
    for (const ManifestPage& page : manifestPages(manifest)) {
        if (page.header || page.granule <= 0)
            continue;
        if (start < 0 && page.timeMs > 0) {
            start = qint64(Recording::streamEntry(manifest, page.serial).value("startMs").toDouble());
            firstPageSpan = page.timeMs - start;
            start = start <= 1999 ? 0 : start;
        }
        end = std::max(end, page.timeMs);
    }
}

} // namespace

class ReaderTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void openFailuresLeaveNothingRunning();
    void unreadableRecording();
    void preferredStreamsAreChosen();
    void fallsBackToTheFirstOtherStream();
    void undecodableStreamsAreDropped();
    void videoOnlyRecording();
    void headersAfterManyDataPackets();
    void discoveryGivesUpAtItsBound();
    void rangeMatchesTheManifest_data();
    void rangeMatchesTheManifest();
    void readsEveryStreamToItsEnd();
    void readingStopsAfterTheLastEndOfStream();
    void damagedFilesPlayWhatIsReadable_data();
    void damagedFilesPlayWhatIsReadable();
    void stoppingNeverHangs_data();
    void stoppingNeverHangs();
    void stoppingWhileTheEndIsMet();
    void secondPlayReadsFromTheStart();
    void disablingAStreamNeverWaitsForTheOther();
    void destroyingAReaderThatStillReads();
    void seekLandsNearTheTarget_data();
    void seekLandsNearTheTarget();
    void seekEdgeCases();
    void seekRightAfterTheEndOfTheFile();
    void seekCostGrowsWithTheLogarithmOfTheSize();
    void keyFrameFeedStartsAtTheKeyFrame_data();
    void keyFrameFeedStartsAtTheKeyFrame();
    void videoResumesAtTheTarget_data();
    void videoResumesAtTheTarget();

private:
    QString make(const QString& name, const QStringList& arguments);
    QTemporaryDir folder;
};

QString ReaderTest::make(const QString& name, const QStringList& arguments)
{
    const QString existing = folder.filePath(name);
    if (QFile::exists(existing))
        return existing;
    QString error;
    const QString path = Recording::make(folder.path(), name, arguments, &error);
    if (path.isEmpty())
        qWarning("make-recording failed: %s", qPrintable(error));
    return path;
}

void ReaderTest::initTestCase() { QVERIFY(folder.isValid()); }

void ReaderTest::openFailuresLeaveNothingRunning()
{
    const QString notOgg = make("not-ogg.ogg", {"--stream", "speex", "--duration", "1", "--damage", "no-oggs"});
    QVERIFY(!notOgg.isEmpty());
    QFile tiny(folder.filePath("tiny.ogg"));
    QVERIFY(tiny.open(QIODevice::WriteOnly) && tiny.write("Ogg") == 3);
    tiny.close();
    QByteArray oggBytes("OggS and more");

    struct Case {
        const char* name;
        std::function<QIODevice*()> device;
        const char* line;
    };
    std::vector<std::unique_ptr<QIODevice>> devices;
    const auto file = [&devices](const QString& path) {
        devices.emplace_back(new QFile(path));
        return devices.back().get();
    };
    const QList<Case> cases = {
        {"no device", [] { return nullptr; }, "Failed to create file object! Out of memory?"},
        {"missing file", [&] { return file(folder.filePath("missing.ogg")); }, "Failed to open stream! Reason: '"},
        {"folder", [&] { return file(folder.path()); }, "Failed to open stream! Reason: '"},
        {"not Ogg", [&] { return file(notOgg); }, "Stream is not a valid Ogg file! Can't play it!"},
        {"three bytes", [&] { return file(tiny.fileName()); },
         "Failed to read from the stream! Can't determine it's type!"},
        {"write-only",
         [&] {
             auto* buffer = new QBuffer;
             buffer->open(QIODevice::WriteOnly);
             devices.emplace_back(buffer);
             return buffer;
         },
         "Stream is not readable!"},
        {"pipe",
         [&] {
             auto* buffer = new SequentialBuffer;
             buffer->setBuffer(&oggBytes);
             devices.emplace_back(buffer);
             return buffer;
         },
         "Stream is not seekable!"},
    };
    for (const Case& c : cases) {
        Recording::LogCapture log;
        MetaDataControl metaData(nullptr);
        OggReader reader(&metaData, nullptr);
        QVERIFY2(!reader.open(c.device()), c.name);
        QVERIFY2(log.contains(c.line), c.name);
        QVERIFY2(!reader.read(), c.name);
        QVERIFY2(reader.getStreams().isEmpty(), c.name);
        QVERIFY2(!reader.isRunning(), c.name);
        QCOMPARE(reader.seek(0), qint64(-1));
        reader.close();
    }
    {
        // Closing a reader that never opened a file only resets its times.
        Recording::LogCapture log;
        MetaDataControl metaData(nullptr);
        OggReader reader(&metaData, nullptr);
        QSignalSpy duration(&reader, &OggReader::durationChanged);
        QSignalSpy position(&reader, &OggReader::positionChanged);
        QSignalSpy ranges(&reader, &OggReader::availablePlaybackRangesChanged);
        reader.close();
        QCOMPARE(duration.count() + position.count(), 0);
        QCOMPARE(ranges.count(), 1);
        QCOMPARE(ranges.at(0).at(0).value<QMediaTimeRange>(), QMediaTimeRange(-1, -1));
        QCOMPARE(reader.getStartTime(), qint64(-1));
        QVERIFY(!log.contains("Closed Ogg file."));
    }
}

void ReaderTest::unreadableRecording()
{
    RUN_UNPRIVILEGED();
    // Written here: the build folder, and make-recording in it, may be out of
    // this user's reach. Opening fails before a byte is read.
    const QString locked = folder.filePath("locked.ogg");
    QFile file(locked);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("OggS") == 4);
    file.close();
    QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
    Recording::LogCapture log;
    MetaDataControl metaData(nullptr);
    OggReader reader(&metaData, nullptr);
    QFile device(locked);
    QVERIFY(!reader.open(&device));
    QVERIFY(log.contains("Failed to open stream! Reason: '"));
    QVERIFY(!reader.isRunning());
}

void ReaderTest::preferredStreamsAreChosen()
{
    const bool video = haveDecoderFor(Codec::Theora);
    QStringList arguments = {"--stream",       "vorbis:serial=2", "--stream", "vorbis:serial=1", "--stream",
                             "speex:serial=3", "--duration",      "2",        "--comment",       "TITLE=Rozprawa 17"};
    if (video)
        arguments << "--stream"
                  << "theora:serial=101"
                  << "--stream"
                  << "theora:serial=100";
    const QString path = make(video ? "preferred-av.ogg" : "preferred.ogg", arguments);
    QVERIFY(!path.isEmpty());
    Recording::LogCapture log;
    ReaderHarness harness(path);
    QSignalSpy audio(&harness.reader, &OggReader::audioAvailable);
    QVERIFY(harness.openAndDiscover());
    QVERIFY(harness.reader.getAudioStream());
    QCOMPARE(harness.reader.getAudioStream()->serialno, 1);
    QCOMPARE(audio.count(), 1);
    QCOMPARE(audio.at(0).at(0).toBool(), true);
    QVERIFY(!log.contains("Failed to open preferred audio stream"));
    // Every other stream is switched off: no decoding thread.
    QVERIFY(harness.reader.getAudioStream()->isRunning());
    QVERIFY(!streamWithSerial(harness.reader, 2)->isRunning());
    QVERIFY(!streamWithSerial(harness.reader, 3)->isRunning());
    if (video) {
        QCOMPARE(harness.reader.getVideoStream()->serialno, 100);
        QVERIFY(!streamWithSerial(harness.reader, 101)->isRunning());
    } else {
        QVERIFY(log.contains("Initialization of decoder failed") || !harness.reader.getVideoStream());
    }
    // The comments of the audio stream that plays become the metadata.
    QCOMPARE(harness.metaData.metaData("TITLE").toString(), QStringLiteral("Rozprawa 17"));
    QVERIFY(harness.drainToEnd());
}

void ReaderTest::fallsBackToTheFirstOtherStream()
{
    const QString path = make("fallback.ogg",
                              {"--stream", "vorbis:serial=3", "--stream", "speex:serial=2", "--duration", "1"});
    QVERIFY(!path.isEmpty());
    Recording::LogCapture log;
    ReaderHarness harness(path);
    QVERIFY(harness.openAndDiscover());
    QVERIFY(log.contains("Failed to open preferred audio stream, trying to open a different one..."));
    QCOMPARE(harness.reader.getAudioStream()->serialno, 3);
    QVERIFY(!streamWithSerial(harness.reader, 2)->isRunning());
    QVERIFY(harness.drainToEnd());
    QVERIFY(harness.audioSamples > 0);
}

void ReaderTest::undecodableStreamsAreDropped()
{
    // The preferred stream's identification header names no codec.
    const QString path = make("undecodable.ogg", {"--stream", "vorbis:serial=1,patch=1:585858", "--stream",
                                                  "speex:serial=2", "--duration", "1"});
    QVERIFY(!path.isEmpty());
    Recording::LogCapture log;
    ReaderHarness harness(path);
    QVERIFY(harness.openAndDiscover());
    QVERIFY(log.contains("Ignoring logical stream #1."));
    QCOMPARE(harness.reader.getStreams().size(), 1);
    QCOMPARE(harness.reader.getAudioStream()->serialno, 2);
    QVERIFY(harness.drainToEnd());
}

void ReaderTest::videoOnlyRecording()
{
    const QString path = make("video-only.ogg", {"--stream", "theora:keyint=8", "--duration", "1"});
    QVERIFY(!path.isEmpty());
    Recording::LogCapture log;
    ReaderHarness harness(path);
    QSignalSpy metaData(&harness.metaData, SIGNAL(metaDataChanged()));
    const bool discovered = harness.openAndDiscover();
    QCOMPARE(metaData.count(), 0); // no audio, no metadata
    if (!haveDecoderFor(Codec::Theora)) {
        // Without a video decoder nothing of it plays.
        QVERIFY(!discovered);
        QVERIFY(log.contains("All of the streams found are not playable! Can't continue!"));
        QVERIFY(log.contains("Could not find any valid logical Ogg streams!"));
        QVERIFY(harness.reader.getStreams().isEmpty());
        return;
    }
    QVERIFY(discovered);
    QVERIFY(log.contains("Failed to open preferred audio stream, trying to open a different one..."));
    QCOMPARE(harness.reader.getVideoStream()->serialno, 100);
    QVERIFY(harness.drainToEnd());
    QVERIFY(harness.videoSamples > 0);
}

void ReaderTest::headersAfterManyDataPackets()
{
    // One packet per page: 300 data packets of stream 1 come before the rest
    // of stream 2's headers, more than a packet queue's limit.
    const QString source = make("late-headers-source.ogg", {"--stream", "speex:serial=1,mode=narrow,pages=1",
                                                            "--stream", "vorbis:serial=2", "--duration", "10"});
    QVERIFY(!source.isEmpty());
    const QString path = folder.filePath("late-headers.ogg");
    QVERIFY(delayHeaders(source, path, 2, 300));
    Recording::LogCapture log;
    ReaderHarness harness(path);
    {
        Watchdog watchdog(kHangLimitMs, "discovery with late headers");
        QVERIFY(harness.openAndDiscover());
    }
    QCOMPARE(harness.reader.getAudioStream()->serialno, 1);
    QVERIFY(!streamWithSerial(harness.reader, 2)->isRunning());
    QVERIFY(harness.reader.startReading());
    QVERIFY(harness.drainToEnd());
    // Every packet of stream 1 was kept: 10 s of sound.
    QVERIFY2(harness.audioNs >= 9900000000LL, qPrintable(QString::number(harness.audioNs)));
}

void ReaderTest::discoveryGivesUpAtItsBound()
{
    const QString source = make("endless-headers-source.ogg", {"--stream", "speex:serial=1,mode=narrow,pages=1",
                                                               "--stream", "vorbis:serial=2", "--duration", "90"});
    QVERIFY(!source.isEmpty());
    const QString path = folder.filePath("endless-headers.ogg");
    QVERIFY(delayHeaders(source, path, 2, 4400));
    Recording::LogCapture log;
    ReaderHarness harness(path);
    {
        Watchdog watchdog(kHangLimitMs, "discovery with headers past its bound");
        QVERIFY(harness.reader.open(&harness.file));
        QVERIFY(!harness.reader.read());
    }
    QVERIFY(log.contains("Failed to read data! Can't decode this stream!"));
    QVERIFY(log.contains("Could not find any valid logical Ogg streams!"));
    QVERIFY(harness.reader.getStreams().isEmpty());
}

void ReaderTest::rangeMatchesTheManifest_data()
{
    // The start is where the first data begins, however much a page holds.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<qint64>("startMs");
    QTest::addColumn<bool>("longFirstPage"); // more than 2 s on the first data page
    QTest::newRow("from 0") << QStringList{"--stream", "vorbis:pages=1", "--duration", "3"} << qint64(0) << false;
    QTest::newRow("from 1.5 s") << QStringList{"--stream", "speex:start=1.5,pages=1", "--duration", "3"} << qint64(0)
                                << false;
    // Up to 1999 ms counts as 0, from 2000 ms on the start stands.
    QTest::newRow("first sample at 1999 ms")
        << QStringList{"--stream", "speex:start=1.999,mode=narrow,pages=1", "--duration", "1"} << qint64(0) << false;
    QTest::newRow("first sample at 2000 ms")
        << QStringList{"--stream", "speex:start=2,mode=narrow,pages=1", "--duration", "1"} << qint64(2000) << false;
    QTest::newRow("from 10 s") << QStringList{"--stream", "opus:start=10,pages=1", "--duration", "3"} << qint64(10000)
                               << false;
    QTest::newRow("two streams from 10 s") << QStringList{"--stream",   "speex:start=10,serial=1,pages=1",
                                                          "--stream",   "vorbis:start=12,serial=2,pages=1",
                                                          "--duration", "3"}
                                           << qint64(10000) << false;
    QTest::newRow("long pages") << QStringList{"--stream", "vorbis", "--duration", "8"} << qint64(0) << true;
    // Low-rate speech as speech encoders write it: full pages of small packets.
    QTest::newRow("speex narrowband, full pages")
        << QStringList{"--stream", "speex:mode=narrow", "--duration", "20"} << qint64(0) << true;
    QTest::newRow("speex wideband, full pages")
        << QStringList{"--stream", "speex:mode=wide,quality=2", "--duration", "20"} << qint64(0) << true;
    QTest::newRow("vorbis mono 8 kHz, full pages")
        << QStringList{"--stream", "vorbis:rate=8000,quality=-0.1", "--duration", "20"} << qint64(0) << true;
    QTest::newRow("vorbis mono 16 kHz, full pages")
        << QStringList{"--stream", "vorbis:rate=16000,quality=-0.1", "--duration", "20"} << qint64(0) << true;
    QTest::newRow("opus at 6 kbit a second, full pages")
        << QStringList{"--stream", "opus:bitrate=6000", "--duration", "20"} << qint64(0) << true;
    QTest::newRow("vorbis 8 kHz from 10 s, full pages")
        << QStringList{"--stream", "vorbis:rate=8000,quality=-0.1,start=10", "--duration", "20"} << qint64(10000)
        << true;
    QTest::newRow("theora from 10 s, eight pictures a page")
        << QStringList{"--stream", "theora:serial=100,start=10,pages=8,width=64,height=48", "--duration", "3"}
        << qint64(10000) << false;
    // Chained files ("++" begins the next link): only the first link plays,
    // whatever the later ones carry under the same serial numbers.
    QTest::newRow("chained, serial number reused by another codec")
        << QStringList{"--stream", "speex:serial=1",  "--duration", "20", "++",
                       "--stream", "vorbis:serial=1", "--duration", "10"}
        << qint64(0) << false;
    QTest::newRow("chained, the same codec again")
        << QStringList{"--stream", "vorbis:serial=1", "--duration", "6", "++",
                       "--stream", "vorbis:serial=1", "--duration", "10"}
        << qint64(0) << true;
    QTest::newRow("chained, a short later link") << QStringList{"--stream",
                                                                "vorbis:serial=1",
                                                                "--duration",
                                                                "6",
                                                                "++",
                                                                "--stream",
                                                                "speex:serial=1,mode=narrow",
                                                                "--duration",
                                                                "0.5"}
                                                 << qint64(0) << true;
}

void ReaderTest::rangeMatchesTheManifest()
{
    QFETCH(QStringList, arguments);
    QFETCH(qint64, startMs);
    QFETCH(bool, longFirstPage);
    if (arguments.join(' ').contains("theora") && !haveDecoderFor(Codec::Theora))
        QSKIP("No Theora decoder in this build yet");
    const int link = arguments.indexOf("++");
    const QString name = QString("range-%1").arg(QTest::currentDataTag()).replace(' ', '-');
    const QString path = make(name + ".ogg", arguments.mid(0, link));
    QVERIFY(!path.isEmpty());
    if (link >= 0) {
        const QString later = make(name + "-later.ogg", arguments.mid(link + 1));
        QVERIFY(!later.isEmpty());
        QVERIFY(append(path, later));
    }
    const QJsonObject manifest = Recording::manifest(path);
    qint64 start = -1;
    qint64 end = -1;
    qint64 firstPageSpan = -1;
    expectedRange(manifest, start, end, firstPageSpan);
    QCOMPARE(start, startMs);
    QCOMPARE(firstPageSpan > 2000, longFirstPage);

    ReaderHarness harness(path);
    QSignalSpy duration(&harness.reader, &OggReader::durationChanged);
    QSignalSpy ranges(&harness.reader, &OggReader::availablePlaybackRangesChanged);
    QVERIFY(harness.openAndDiscover());
    QCOMPARE(harness.reader.getStartTime(), start);
    QCOMPARE(harness.reader.getEndTime(), end);
    qint64 streamsEnd = 0;
    for (const QJsonValue& stream : manifest.value("streams").toArray())
        streamsEnd = std::max<qint64>(streamsEnd, qint64(stream.toObject().value("endMs").toDouble()));
    QVERIFY2(qAbs(end - streamsEnd) < 1000, qPrintable(QString("%1 %2").arg(end).arg(streamsEnd)));
    QCOMPARE(duration.count(), 1);
    QCOMPARE(duration.at(0).at(0).toLongLong(), end);
    QCOMPARE(ranges.count(), 1);
    const QMediaTimeRange range = ranges.at(0).at(0).value<QMediaTimeRange>();
    QCOMPARE(range.earliestTime(), start);
    QCOMPARE(range.latestTime(), end);

    harness.reader.close();
    QCOMPARE(harness.reader.getStartTime(), qint64(-1));
    QCOMPARE(harness.reader.getEndTime(), qint64(-1));
    QCOMPARE(duration.last().at(0).toLongLong(), qint64(-1));
}

void ReaderTest::readsEveryStreamToItsEnd()
{
    const QString path = make("to-the-end.ogg",
                              {"--stream", "speex:serial=1", "--stream", "opus:serial=5", "--duration", "4"});
    QVERIFY(!path.isEmpty());
    Recording::LogCapture log;
    ReaderHarness harness(path);
    QSignalSpy eof(&harness.reader, &OggReader::eof);
    QVERIFY(harness.openAndDiscover());
    QVERIFY(harness.reader.startReading());
    QVERIFY(harness.drainToEnd());
    QCOMPARE(eof.count(), 1);
    QVERIFY(log.contains("End of file reached."));
    QVERIFY2(harness.audioNs >= 3900000000LL, qPrintable(QString::number(harness.audioNs)));
}

void ReaderTest::readingStopsAfterTheLastEndOfStream()
{
    // A second recording with the same serial number follows the first one's
    // end-of-stream page: it is not read.
    const QString first = make("chain-first.ogg", {"--stream", "speex:serial=1,mode=narrow", "--duration", "2"});
    const QString second = make("chain-second.ogg", {"--stream", "speex:serial=1,mode=narrow", "--duration", "3"});
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    const QString path = first;
    QVERIFY(append(path, second));

    Recording::LogCapture log;
    ReaderHarness harness(path);
    QSignalSpy eof(&harness.reader, &OggReader::eof);
    QVERIFY(harness.openAndDiscover());
    QVERIFY(harness.drainToEnd());
    QCOMPARE(eof.count(), 1);
    QVERIFY2(harness.audioNs >= 1900000000LL && harness.audioNs <= 2100000000LL,
             qPrintable(QString::number(harness.audioNs)));
    QVERIFY(!log.contains("Failed to put page into stream!"));
    QVERIFY(!harness.reader.read());
    QVERIFY(log.contains("End of file reached."));
}

void ReaderTest::damagedFilesPlayWhatIsReadable_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("garbage between pages") << "garbage=3";
    QTest::newRow("bad checksum") << "bad-crc";
    QTest::newRow("truncated last page") << "truncate-last-page";
    QTest::newRow("cut in the middle") << "truncate=20000";
}

void ReaderTest::damagedFilesPlayWhatIsReadable()
{
    QFETCH(QString, damage);
    const QString path = make(QString("damaged-%1.ogg").arg(QString(QTest::currentDataTag()).replace(' ', '-')),
                              {"--stream", "vorbis:serial=1", "--duration", "3", "--damage", damage});
    QVERIFY(!path.isEmpty());
    ReaderHarness harness(path);
    QVERIFY(harness.openAndDiscover());
    QVERIFY(harness.reader.startReading());
    QVERIFY(harness.drainToEnd());
    QVERIFY(harness.audioSamples > 0);
}

void ReaderTest::stoppingNeverHangs_data()
{
    QTest::addColumn<QString>("moment");
    QTest::newRow("while reading") << "reading";
    QTest::newRow("while nothing is taken") << "blocked";
    QTest::newRow("at the end of the file") << "end";
    QTest::newRow("after a seek") << "seek";
    QTest::newRow("after a failed seek") << "failed-seek";
}

void ReaderTest::stoppingNeverHangs()
{
    QFETCH(QString, moment);
    const QString longer = make("stop-long.ogg",
                                {"--stream", "speex:serial=1,mode=narrow,pages=1", "--duration", "20"});
    const QString shorter = make("stop-short.ogg", {"--stream", "speex:serial=1,mode=narrow", "--duration", "1"});
    QVERIFY(!longer.isEmpty() && !shorter.isEmpty());
    for (int round = 0; round < 50; ++round) {
        ReaderHarness harness(moment == "end" ? shorter : longer);
        QVERIFY(harness.openAndDiscover());
        QSignalSpy eof(&harness.reader, &OggReader::eof);
        QVERIFY(harness.reader.startReading());
        SampleQueue* audio = harness.reader.getAudioQueue();
        const QSharedPointer<OggStream> stream = harness.reader.getAudioStream();
        if (moment == "reading") {
            QTRY_VERIFY_WITH_TIMEOUT(audio->size() > 0, 10000);
        } else if (moment == "blocked") {
            // Decoder at a full sample queue, reader at a full packet queue.
            QTRY_VERIFY_WITH_TIMEOUT(audio->size() == audio->capacity() && stream->readerWaits(), 10000);
        } else if (moment == "end") {
            QTRY_VERIFY_WITH_TIMEOUT(eof.count() > 0, 10000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(audio->size() > 0, 10000);
            Watchdog watchdog(kHangLimitMs, "seek");
            harness.reader.preSeek();
            const qint64 target = moment == "seek" ? 9000 : harness.reader.getEndTime() + 1;
            QCOMPARE(harness.reader.seek(target) >= 0, moment == "seek");
        }
        Watchdog watchdog(kHangLimitMs, "close");
        harness.reader.close();
        QVERIFY(!harness.reader.isRunning());
        QVERIFY(!stream->isRunning());
    }
}

void ReaderTest::stoppingWhileTheEndIsMet()
{
    // No end-of-stream page: the reading thread learns of the end from the file.
    const QString path = make("slow-end.ogg", {"--stream", "speex:serial=1,mode=narrow,pages=1", "--duration", "1",
                                               "--damage", "truncate-last-page"});
    QVERIFY(!path.isEmpty());
    for (int round = 0; round < 5; ++round) {
        SlowEndFile file(path);
        MetaDataControl metaData(nullptr);
        OggReader reader(&metaData, nullptr);
        QVERIFY(reader.open(&file) && reader.read());
        QVERIFY(reader.startReading());
        QTRY_VERIFY_WITH_TIMEOUT(file.atEnd, 10000);
        Watchdog watchdog(kHangLimitMs, "stopping while the end is met");
        reader.close();
        QVERIFY(!reader.isRunning());
    }
}

void ReaderTest::secondPlayReadsFromTheStart()
{
    const QString path = make("twice.ogg", {"--stream", "speex:serial=1,mode=narrow", "--duration", "6"});
    QVERIFY(!path.isEmpty());
    ReaderHarness whole(path);
    QVERIFY(whole.openAndDiscover());
    QVERIFY(whole.reader.startReading());
    QVERIFY(whole.drainToEnd());

    ReaderHarness harness(path);
    QVERIFY(harness.openAndDiscover());
    QVERIFY(harness.reader.startReading());
    QTRY_VERIFY_WITH_TIMEOUT(harness.reader.getAudioQueue()->size() > 40, 10000);
    harness.reader.close(); // stopped in the middle of the file
    QCOMPARE(harness.reader.read(), true);
    QCOMPARE(harness.reader.getAudioStream()->serialno, 1);
    QVERIFY(harness.reader.startReading());
    QVERIFY(harness.drainToEnd());
    QCOMPARE(harness.audioNs, whole.audioNs);
}

void ReaderTest::disablingAStreamNeverWaitsForTheOther()
{
    const QString path = make("disable.ogg", {"--stream", "speex:serial=1,mode=narrow,pages=1", "--stream",
                                              "theora:serial=100,keyint=16,pages=1", "--duration", "30"});
    QVERIFY(!path.isEmpty());
    ReaderHarness harness(path);
    QVERIFY(harness.openAndDiscover());
    const QSharedPointer<OggStream> audio = harness.reader.getAudioStream();
    const QSharedPointer<OggStream> video = harness.reader.getVideoStream();
    if (!video)
        QSKIP("No Theora decoder in this build");
    QSignalSpy audioAvailable(&harness.reader, &OggReader::audioAvailable);
    QSignalSpy videoAvailable(&harness.reader, &OggReader::videoAvailable);
    // Nothing takes samples, as before the outputs start: the reading thread
    // ends up waiting at one stream's full packet queue.
    const auto blocked = [](const QSharedPointer<OggStream>& stream, SampleQueue* queue) {
        return stream->readerWaits() && queue->size() == queue->capacity();
    };
    QVERIFY(harness.reader.startReading());
    QTRY_VERIFY_WITH_TIMEOUT(
        blocked(audio, harness.reader.getAudioQueue()) || blocked(video, harness.reader.getVideoQueue()), 10000);
    const bool audioBlocked = blocked(audio, harness.reader.getAudioQueue());
    {
        Watchdog watchdog(kHangLimitMs, "switching off the stream that is not waited on");
        if (audioBlocked)
            harness.reader.disableVideoStream();
        else
            harness.reader.disableAudioStream();
    }
    QVERIFY(audioBlocked ? !video->isRunning() : !audio->isRunning());
    QCOMPARE((audioBlocked ? videoAvailable : audioAvailable).count(), 1);
    {
        Watchdog watchdog(kHangLimitMs, "switching off the other stream");
        harness.reader.disableAudioStream();
        harness.reader.disableVideoStream();
    }
    QVERIFY(!audio->isRunning() && !video->isRunning());
    Watchdog watchdog(kHangLimitMs, "close");
    harness.reader.close();
}

void ReaderTest::destroyingAReaderThatStillReads()
{
    const QString path = make("destroyed.ogg", {"--stream", "speex:serial=1,mode=narrow,pages=1", "--duration", "20"});
    QVERIFY(!path.isEmpty());
    QFile file(path);
    MetaDataControl metaData(nullptr);
    auto* reader = new OggReader(&metaData, nullptr);
    QVERIFY(reader->open(&file) && reader->read());
    // The session may still hold the stream when the reader goes.
    const QSharedPointer<OggStream> stream = reader->getAudioStream();
    SampleQueue* queue = reader->getAudioQueue();
    QVERIFY(reader->startReading());
    // Nothing takes samples: the decoder waits at the full sample queue and
    // the reading thread at the full packet queue.
    QTRY_VERIFY_WITH_TIMEOUT(queue->size() == queue->capacity() && stream->readerWaits(), 10000);
    {
        Watchdog watchdog(kHangLimitMs, "destroying a reader without close");
        delete reader;
    }
    QVERIFY(!stream->isRunning());
    QVERIFY(file.isOpen()); // the file is not the reader's
}

void ReaderTest::seekLandsNearTheTarget_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<qint64>("tailBytes"); // bytes after the last page
    QTest::addColumn<bool>("tailWritten"); // junk without a page, or zeros left unwritten (sparse)
    QTest::newRow("audio, short") << QStringList{"--stream", "vorbis:serial=1", "--duration", "20"} << qint64(0)
                                  << false;
    QTest::newRow("audio, long") << QStringList{"--stream", "speex:serial=1,mode=narrow", "--duration", "900"}
                                 << qint64(0) << false;
    QTest::newRow("audio from 10 s") << QStringList{"--stream", "opus:serial=1,start=10", "--duration", "60"}
                                     << qint64(0) << false;
    QTest::newRow("audio and video") << QStringList{"--stream",   "speex:serial=1",
                                                    "--stream",   "theora:serial=100,keyint=16",
                                                    "--duration", "30"}
                                     << qint64(0) << false;
    QTest::newRow("video") << QStringList{"--stream", "theora:serial=100,keyint=16", "--duration", "30"} << qint64(0)
                           << false;
    // A recorder that preallocates its file.
    QTest::newRow("audio, 100 MiB of zeros after the last page")
        << QStringList{"--stream", "speex:serial=1,mode=narrow", "--duration", "60"} << (qint64(100) << 20) << false;
    // Written junk has no holes to skip: the scan for the last page reads it all.
    QTest::newRow("audio, 100 MiB of junk after the last page")
        << QStringList{"--stream", "speex:serial=1,mode=narrow", "--duration", "60"} << (qint64(100) << 20) << true;
    // Clicks every quarter second: the first sound is the target's.
    for (const char* stream : {"vorbis:rate=16000", "vorbis:rate=44100", "speex:mode=wide",
                               "speex:mode=wide,channels=13,layout=serial1", "opus:input-rate=48000"}) {
        QTest::newRow((QByteArray("clicks, ") + stream).constData())
            << QStringList{"--stream", QString(stream) + ",serial=1,level=0.01,clicks=0.25", "--duration", "30"}
            << qint64(0) << false;
    }
}

void ReaderTest::seekLandsNearTheTarget()
{
    QFETCH(QStringList, arguments);
    QFETCH(qint64, tailBytes);
    QFETCH(bool, tailWritten);
    const bool video = arguments.join(' ').contains("theora");
    const bool audio = arguments.join(' ').contains("speex") || arguments.join(' ').contains("vorbis") ||
                       arguments.join(' ').contains("opus");
    if (video && !audio && !haveDecoderFor(Codec::Theora))
        QSKIP("No Theora decoder in this build yet");
    const QString path = make(
        QString("seek-%1.ogg").arg(QString(QTest::currentDataTag()).replace(' ', '-').remove(',')), arguments);
    QVERIFY(!path.isEmpty());
    const QVector<ManifestPage> pages = manifestPages(Recording::manifest(path));
    QVERIFY(tailWritten ? appendJunk(path, tailBytes) : QFile::resize(path, QFileInfo(path).size() + tailBytes));

    ReaderHarness harness(path);
    QVERIFY(harness.openAndDiscover());
    QVERIFY(harness.reader.startReading());
    qint64 lastTime = -1;
    for (const ManifestPage& page : pages)
        lastTime = std::max(lastTime, page.timeMs);
    QCOMPARE(harness.reader.getEndTime(), lastTime);
    const int searched = harness.reader.getAudioStream() ? harness.reader.getAudioStream()->serialno
                                                         : harness.reader.getVideoStream()->serialno;
    // Times of the searched stream's pages, and the longest stretch between two.
    QVector<qint64> times;
    qint64 longestGap = 0;
    for (const ManifestPage& page : pages) {
        if (page.serial != searched || page.header || page.granule < 0)
            continue;
        if (!times.isEmpty())
            longestGap = std::max(longestGap, page.timeMs - times.last());
        times.append(page.timeMs);
    }
    const qint64 start = std::max<qint64>(0, harness.reader.getStartTime());
    const qint64 end = harness.reader.getEndTime();
    QRandomGenerator random(4711);
    // With both kinds, one more close to the end: audio may end before the first picture.
    const int seeks = audio && video ? 21 : 20;
    for (int i = 0; i < seeks; ++i) {
        const qint64 target = i < 20 ? start + qint64(random.bounded(double(end - start))) : end - 100;
        Watchdog watchdog(kHangLimitMs, "seek");
        harness.reader.preSeek();
        const qint64 reached = harness.reader.seek(target);
        const QString where = QString("target %1 reached %2").arg(target).arg(reached);
        QVERIFY2(reached >= 0, qPrintable(where));
        if (audio) {
            // The audio decoders drop what lies before the target.
            QCOMPARE(reached, target);
        } else {
            // Never later than the tolerance, never earlier than one page before it.
            QVERIFY2(reached <= target + 500, qPrintable(where));
            QVERIFY2(reached >= target - 500 - longestGap, qPrintable(where));
            QVERIFY2(reached == 0 || times.contains(reached), qPrintable(where));
        }
        if (arguments.join(' ').contains("clicks")) {
            QVector<double> offsetsMs;
            QVERIFY2(clickOffsets(harness, 0.25, offsetsMs), qPrintable(where));
            // Vorbis granules place every sample exactly. Speex and Opus
            // sound lags its time by the codec's delay, which their Ogg
            // headers leave out (Speex) or which is not applied (Opus
            // pre-skip, 6.5 ms): always less than one 20 ms frame. A packet
            // too many or too few dropped shows as a frame more.
            const double lateMs = arguments.join(' ').contains("vorbis") ? 1.0 : 20.0;
            QStringList heard;
            for (double offsetMs : offsetsMs)
                heard << QString::asprintf("%+.1f", offsetMs);
            qInfo("%s: content %s ms", qPrintable(where), qPrintable(heard.join(' ')));
            // Every channel went through the same decoder delay: all lie alike.
            for (int c = 0; c < offsetsMs.size(); ++c) {
                QVERIFY2(offsetsMs[c] <= 1.0 && offsetsMs[c] >= -lateMs && qAbs(offsetsMs[c] - offsetsMs[0]) <= 1.0,
                         qPrintable(where + QString(": channel %1 content %2 ms").arg(c).arg(offsetsMs[c])));
            }
            continue;
        }
        qint64 audioTime = -1;
        qint64 videoTime = -1;
        QVERIFY2(harness.firstSamples(audioTime, videoTime), qPrintable(where));
        if (audio) {
            // The first sound is the target's, to the millisecond.
            QVERIFY2(audioTime >= 0, qPrintable(where));
            QVERIFY2(qAbs(audioTime - target * 1000000) < 1000000,
                     qPrintable(where + " audio " + QString::number(audioTime)));
        }
        if (harness.reader.getVideoStream()) {
            // Decoded from the key frame before, shown from the target on.
            QVERIFY2(videoTime / 1000000 >= reached - 40, qPrintable(where + " video " + QString::number(videoTime)));
        }
    }
    QVERIFY(harness.drainToEnd());
}

void ReaderTest::seekEdgeCases()
{
    const QString path = make("edges.ogg", {"--stream", "vorbis:serial=1", "--duration", "10"});
    QVERIFY(!path.isEmpty());
    Recording::LogCapture log;
    ReaderHarness harness(path);
    QVERIFY(harness.openAndDiscover());
    QVERIFY(harness.reader.startReading());

    // The start: the first probe is the file's first byte; no page is read.
    harness.reader.preSeek();
    QCOMPARE(harness.reader.seek(0), qint64(0));
    QVERIFY(log.contains("Found seek point after 1 tries."));
    QCOMPARE(harness.reader.lastSeekPages(), qint64(0));
    QVERIFY(harness.drainToEnd());

    // Past the end: refused, and the streams are let go.
    log.clear();
    harness.reader.preSeek();
    QCOMPARE(harness.reader.seek(harness.reader.getEndTime() + 1), qint64(-1));
    QVERIFY(log.contains("Can't seek past the stream duration!"));

    // A recording smaller than the bisection's window.
    const QString small = make("small.ogg", {"--stream", "speex:serial=1,mode=narrow", "--duration", "0.2"});
    QVERIFY(QFileInfo(small).size() < 1000);
    ReaderHarness tiny(small);
    QVERIFY(tiny.openAndDiscover());
    QVERIFY(tiny.reader.startReading());
    tiny.reader.preSeek();
    QCOMPARE(tiny.reader.seek(100), qint64(100));
    QVERIFY(tiny.drainToEnd());
    QVERIFY(tiny.audioSamples > 0);
}

void ReaderTest::seekRightAfterTheEndOfTheFile()
{
    const QString path = make("end-then-seek.ogg", {"--stream", "speex:serial=1,mode=narrow", "--duration", "4"});
    QVERIFY(!path.isEmpty());
    ReaderHarness harness(path);
    QVERIFY(harness.openAndDiscover());
    std::atomic<bool> atEnd{false};
    connect(
        &harness.reader, &OggReader::eof, this, [&atEnd] { atEnd = true; }, Qt::DirectConnection);
    QVERIFY(harness.reader.startReading());
    // The end is met, but its queued end-of-stream calls have not run yet.
    QDeadlineTimer deadline(10000);
    while (!atEnd && !deadline.hasExpired())
        QThread::usleep(200);
    QVERIFY(atEnd);
    harness.reader.preSeek();
    QVERIFY(harness.reader.seek(1000) >= 0);
    qint64 audioTime = -1;
    qint64 videoTime = -1;
    QVERIFY(harness.firstSamples(audioTime, videoTime));
    QVERIFY(audioTime >= 0); // a sample, not the end of the stream
    QVERIFY(harness.drainToEnd());
    QVERIFY(harness.audioNs >= 2900000000LL);
}

void ReaderTest::seekCostGrowsWithTheLogarithmOfTheSize()
{
#ifdef __SANITIZE_ADDRESS__
    QSKIP("Measured in the plain build; the sanitizer build only repeats the behaviour");
#endif
    // 13-channel Speex at its best quality: about 75 kB a second.
    const QList<int> seconds = {14, 56, 224};
    QVector<qint64> medians;
    QVector<qint64> sizes;
    for (int duration : seconds) {
        const QString path = make(QString("cost-%1.ogg").arg(duration),
                                  {"--stream", "speex:serial=1,layout=serial1,mode=ultra,quality=10", "--duration",
                                   QString::number(duration)});
        QVERIFY(!path.isEmpty());
        ReaderHarness harness(path);
        QVERIFY(harness.openAndDiscover());
        QVERIFY(harness.reader.startReading());
        QRandomGenerator random(17);
        QVector<qint64> bytes;
        for (int i = 0; i < 30; ++i) {
            harness.reader.preSeek();
            QVERIFY(harness.reader.seek(qint64(random.bounded(double(harness.reader.getEndTime())))) >= 0);
            bytes.append(harness.reader.lastSeekBytes());
        }
        std::sort(bytes.begin(), bytes.end());
        medians.append(bytes.at(bytes.size() / 2));
        sizes.append(QFileInfo(path).size());
    }
    const QString figures = QString("sizes %1 %2 %3, median bytes per seek %4 %5 %6")
                                .arg(sizes[0])
                                .arg(sizes[1])
                                .arg(sizes[2])
                                .arg(medians[0])
                                .arg(medians[1])
                                .arg(medians[2]);
    qInfo("%s", qPrintable(figures));
    for (int i = 0; i < sizes.size(); ++i) {
        // At most one read block per halving of the file down to the smallest window, and one more.
        const double bound = OggPageScanner::ReadSize * (std::log2(double(sizes[i]) / 1000.0) + 2.0);
        QVERIFY2(medians[i] <= bound, qPrintable(figures));
    }
    // Sixteen times the size: far from sixteen times the bytes.
    QVERIFY2(medians[2] < 3 * std::max<qint64>(medians[0], OggPageScanner::ReadSize), qPrintable(figures));
}

void ReaderTest::keyFrameFeedStartsAtTheKeyFrame_data()
{
    QTest::addColumn<int>("segments");
    QTest::newRow("one packet per page") << 0;
    QTest::newRow("key frames over several pages") << 2;
}

void ReaderTest::keyFrameFeedStartsAtTheKeyFrame()
{
    QFETCH(int, segments);
    const QString made = make("keyframes.ogg", {"--stream", "theora:serial=100,keyint=16,pages=1,quality=63",
                                                "--stream", "speex:serial=1", "--duration", "12"});
    QVERIFY(!made.isEmpty());
    QString path = made;
    if (segments > 0) {
        path = folder.filePath("keyframes-small-pages.ogg");
        QVERIFY(repaginate(made, path, 100, segments));
    }
    const QVector<ManifestPage> pages = scanPages(path);

    // A video stream that knows its headers, fed as discovery feeds it.
    OggStream video(100);
    QFile source(path);
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    int firstData = 0;
    for (; firstData < pages.size() && video.streamInfo().headersMissing != 0; ++firstData) {
        const ManifestPage& page = pages[firstData];
        if (page.serial != 100)
            continue;
        QByteArray raw = bytes.mid(int(page.offset), int(page.bytes));
        ogg_page header = Recording::asPage(raw);
        QVERIFY(page.bos ? video.putPageBOS(&header) : video.putPage(&header, false));
    }
    video.deactivateStream();
    const int shift = video.streamInfo().granuleShift;
    QVERIFY(shift > 0);

    ReaderHarness harness(path);
    QVERIFY(harness.reader.open(&harness.file));
    bool sawContinued = false;
    int fed = 0;
    for (int i = firstData; i < pages.size(); ++i) {
        const qint64 offset = pages[i].offset + (i % 3 == 0 ? 1 : 0); // page starts and inside pages
        // The first video page at or after the offset that ends a packet.
        int at = -1;
        for (int j = i; j < pages.size() && at < 0; ++j) {
            if (pages[j].serial == 100 && pages[j].offset >= offset && pages[j].granule >= 0)
                at = j;
        }
        if (at < 0)
            continue;
        const qint64 granule = pages[at].granule;
        const qint64 keyFrame = (granule >> shift) << shift;
        // The key frame's packet: its last page carries its granule position;
        // it begins where the pages that continue it begin.
        int first = -1;
        for (int j = 0; j < pages.size(); ++j) {
            if (pages[j].serial == 100 && pages[j].granule == keyFrame)
                first = j;
        }
        QVERIFY(first >= 0);
        while (pages[first].continued) {
            do
                --first;
            while (pages[first].serial != 100);
        }
        const bool nothingToFeed = offset == 0 || (granule == keyFrame && !pages[at].continued);
        sawContinued = sawContinued || (!nothingToFeed && pages[at].continued);
        qint64 foundGranule = -1;
        const qint64 feedFrom = harness.reader.locateVideoFeed(video, offset, foundGranule);
        const qint64 expected = nothingToFeed ? -1 : pages[first].offset;
        const QString where = QString("offset %1 granule %2: fed from %3, expected %4")
                                  .arg(offset)
                                  .arg(granule)
                                  .arg(feedFrom)
                                  .arg(expected);
        QVERIFY2(foundGranule == granule && feedFrom == expected, qPrintable(where));
        fed += feedFrom >= 0;
    }
    QVERIFY(fed > 0);
    QCOMPARE(sawContinued, segments > 0);
}

void ReaderTest::videoResumesAtTheTarget_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("arguments");
    const QString audio = "vorbis:channels=2,rate=44100";
    // libogg's pages hold several pictures each, so a key frame rarely ends its page.
    QTest::newRow("theora, shared pages")
        << "resume-shared.ogg"
        << QStringList{"--stream", "theora:width=160,height=120,fps=25", "--stream", audio, "--duration", "12"};
    QTest::newRow("theora, a picture a page")
        << "resume-single.ogg"
        << QStringList{"--stream", "theora:width=160,height=120,fps=25,pages=1", "--stream", audio, "--duration", "12"};
    QTest::newRow("theora alone") << "resume-alone.ogg"
                                  << QStringList{"--stream", "theora:width=160,height=120,fps=25,keyint=64",
                                                 "--duration", "12"};
    QTest::newRow("dirac") << "resume-dirac.ogg" << QStringList{"--stream",   "dirac:width=160,height=120,fps=25",
                                                                "--stream",   audio,
                                                                "--duration", "12"};
}

void ReaderTest::videoResumesAtTheTarget()
{
    QFETCH(QString, name);
    QFETCH(QStringList, arguments);
    const bool dirac = name.contains("dirac");
    if (!haveDecoderFor(dirac ? Codec::Dirac : Codec::Theora))
        QSKIP("No decoder for this video in this build");
    const QString path = make(name, arguments);
    QVERIFY(!path.isEmpty());
    ReaderHarness harness(path);
    QVERIFY(harness.openAndDiscover());
    QVERIFY(harness.reader.getVideoStream());
    QVERIFY(harness.reader.startReading());
    const qint64 frame = 40; // ms at 25 pictures a second
    SampleQueue* videoQueue = harness.reader.getVideoQueue();
    SampleQueue* audioQueue = harness.reader.getAudioQueue();
    const qint64 end = harness.reader.getEndTime();
    QVector<qint64> targets{300, 1500, 2000, 5000, end - 1500};
    QRandomGenerator random(1234);
    for (int i = 0; i < 15; ++i)
        targets.append(qint64(random.bounded(double(end - 1000))));
    for (const qint64 target : targets) {
        Watchdog watchdog(kHangLimitMs, "seek");
        harness.reader.preSeek();
        const qint64 reached = harness.reader.seek(target);
        QVERIFY(reached >= 0);
        // The first pictures after the seek; the sound is taken away meanwhile
        // so that the reader never waits for it.
        QVector<QSharedPointer<VideoSample>> pictures;
        QDeadlineTimer deadline(10000);
        while (pictures.size() < 3 && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            const QSharedPointer<Sample> sample = videoQueue->dequeueSample();
            if (audioQueue)
                audioQueue->dequeueSample();
            if (sample && sample->type == Sample::Video)
                pictures.append(sample.staticCast<VideoSample>());
            else if (!sample)
                QThread::usleep(200);
        }
        QCOMPARE(pictures.size(), 3);
        const qint64 shown = pictures.first()->time / 1000000;
        int number = Recording::pictureNumber(pictures.first()->frame);
        const QString where =
            QString("target %1, reached %2: first picture %3 at %4 ms").arg(target).arg(reached).arg(number).arg(shown);
        // The first picture at or after the position reached, none skipped.
        QVERIFY2(shown >= reached && shown < reached + frame, qPrintable(where));
        for (const QSharedPointer<VideoSample>& picture : pictures) {
            // Theora stamps picture n with the time of n - 1 (0 for both 0 and 1); Dirac with its own.
            const qint64 expected = (dirac ? number : qMax(0, number - 1)) * frame;
            QVERIFY2(Recording::pictureNumber(picture->frame) == number && picture->time / 1000000 == expected,
                     qPrintable(where + QString(": picture %1 at %2 ms")
                                            .arg(Recording::pictureNumber(picture->frame))
                                            .arg(picture->time / 1000000)));
            ++number;
        }
    }
}

HARBEND_TEST_MAIN(ReaderTest)
#include "tst_reader.moc"
