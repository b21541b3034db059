#include "Recording.h"

#include "Core/Decoder/OggStream.h"
#include "Core/Decoder/SampleQueue.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <functional>

using namespace Harbend;

namespace {

const int kTimeout = 5000;

// Runs a function on its own thread.
class Worker : public QThread {
public:
    explicit Worker(std::function<void()> body) : body(std::move(body)) {}
    void run() override { body(); }

private:
    std::function<void()> body;
};

} // namespace

// The decoding thread against full, closed and re-opened queues.
class StreamThreadTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void blockedOnFullSampleQueueEndsOnClose();
    void seekReleasesABlockedThreadAndResumes();
    void failedSeekParksTheThreadUntilClose();
    void idleThreadEndsOnClose();
    void endOfStreamMarkerNeverBlocks();

private:
    QTemporaryDir folder;
    QString opus;      // 2 s of Opus, 100 packets
    QString longOpus;  // 6 s, 300 packets
};

void StreamThreadTest::initTestCase()
{
    QVERIFY(folder.isValid());
    opus = Recording::make(folder.path(), "opus.ogg", {"--stream", "opus", "--duration", "2"});
    longOpus = Recording::make(folder.path(), "long.ogg", {"--stream", "opus", "--duration", "6"});
    QVERIFY(!opus.isEmpty() && !longOpus.isEmpty());
}

void StreamThreadTest::blockedOnFullSampleQueueEndsOnClose()
{
    Recording::Feeder feeder(2);
    QVERIFY(feeder.feedFile(opus));
    OggStream* stream = feeder.stream(1);
    QTRY_COMPARE_WITH_TIMEOUT(feeder.queue(1)->size(), 2u, kTimeout);
    QVERIFY(stream->isRunning());
    Worker closer([stream] { stream->deactivateStream(); });
    closer.start();
    QVERIFY(closer.wait(kTimeout));
    QVERIFY(stream->isFinished());
    QVERIFY(!stream->sampleQueue);
}

void StreamThreadTest::seekReleasesABlockedThreadAndResumes()
{
    Recording::Feeder feeder(2);
    QVERIFY(feeder.feedFile(opus));
    OggStream* stream = feeder.stream(1);
    QTRY_COMPARE_WITH_TIMEOUT(feeder.queue(1)->size(), 2u, kTimeout);
    // The seek closes the full queue first, so taking the stream lock does not wait for ever.
    stream->preSeek();
    QCOMPARE(feeder.queue(1)->size(), 0u);
    QVERIFY(stream->postSeek(500));
    Recording::Feeder::refeed(stream, opus);
    stream->putEOSPacket();
    QVector<QSharedPointer<Sample>> samples;
    QVERIFY(feeder.collect(1, samples));
    QVERIFY(samples.size() > 50);
    QCOMPARE(samples.first()->time, qint64(500) * 1000000);
}

void StreamThreadTest::failedSeekParksTheThreadUntilClose()
{
    Recording::Feeder feeder(2);
    QVERIFY(feeder.feedFile(opus));
    OggStream* stream = feeder.stream(1);
    QTRY_COMPARE_WITH_TIMEOUT(feeder.queue(1)->size(), 2u, kTimeout);
    stream->preSeek();
    stream->unlock();
    QVERIFY(stream->isRunning());
    Worker closer([stream] { stream->deactivateStream(); });
    closer.start();
    QVERIFY(closer.wait(kTimeout));
    QVERIFY(stream->isFinished());
}

void StreamThreadTest::idleThreadEndsOnClose()
{
    // Headers only: the thread waits for packets that never come.
    const QVector<QByteArray> pages = Recording::pages(opus);
    OggStream stream(1);
    SampleQueue queue(80);
    QByteArray first = pages[0], second = pages[1];
    ogg_page page = Recording::asPage(first);
    QVERIFY(stream.putPageBOS(&page));
    page = Recording::asPage(second);
    QVERIFY(stream.putPage(&page));
    QVERIFY(stream.activateStream(&queue));
    QVERIFY(stream.isRunning());
    Worker closer([&stream] { stream.deactivateStream(); });
    closer.start();
    QVERIFY(closer.wait(kTimeout));
    QVERIFY(stream.isFinished());
}

void StreamThreadTest::endOfStreamMarkerNeverBlocks()
{
    // A stream with its headers complete and nobody decoding: its producer
    // stops at 200 queued packets.
    const QVector<QByteArray> pages = Recording::pages(longOpus);
    OggStream stream(1);
    QByteArray first = pages[0];
    ogg_page bos = Recording::asPage(first);
    QVERIFY(stream.putPageBOS(&bos));
    Worker producer([&stream, &pages] {
        for (int i = 1; i < pages.size(); ++i) {
            QByteArray raw = pages[i];
            ogg_page page = Recording::asPage(raw);
            stream.putPage(&page);
        }
    });
    producer.start();
    QTRY_VERIFY_WITH_TIMEOUT(stream.queuedPackets() >= 200, kTimeout);
    QVERIFY(!producer.wait(100));
    // The GUI thread's marker goes in at once.
    const int before = stream.queuedPackets();
    Worker marker([&stream] { stream.putEOSPacket(); });
    marker.start();
    QVERIFY(marker.wait(kTimeout));
    // (Its wake-up may also let the waiting producer add one more.)
    QVERIFY(stream.queuedPackets() >= before + 1);
    stream.deactivateStream();
    QVERIFY(producer.wait(kTimeout));
}

QTEST_GUILESS_MAIN(StreamThreadTest)
#include "tst_stream_thread.moc"
