#include "Recording.h"
#include "tests/base/TestWorker.h"

#include "Core/Decoder/OggStream.h"
#include "Core/Decoder/SampleQueue.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <functional>

using namespace Harbend;

namespace {

const int kTimeout = 5000;

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
    QString opus;     // 2 s of Opus, 100 packets
    QString longOpus; // 6 s, 300 packets
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
    TestWorker closer([stream] { stream->deactivateStream(); });
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
    TestWorker closer([stream] { stream->deactivateStream(); });
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
    TestWorker closer([&stream] { stream.deactivateStream(); });
    closer.start();
    QVERIFY(closer.wait(kTimeout));
    QVERIFY(stream.isFinished());
}

void StreamThreadTest::endOfStreamMarkerNeverBlocks()
{
    // A stream with its headers complete, 200 packets and more queued, and
    // nobody decoding or producing (a producer at the limit would be woken by
    // the marker and wake it in turn): a marker that waited for room would
    // wait for ever.
    const QVector<QByteArray> pages = Recording::pages(longOpus);
    OggStream stream(1);
    QByteArray first = pages[0];
    ogg_page bos = Recording::asPage(first);
    QVERIFY(stream.putPageBOS(&bos));
    for (int i = 1; i < pages.size(); ++i) {
        QByteArray raw = pages[i];
        ogg_page page = Recording::asPage(raw);
        QVERIFY(stream.putPage(&page, false));
    }
    const int before = stream.queuedPackets();
    QVERIFY(before >= 200);
    // The GUI thread's marker goes in at once.
    TestWorker marker([&stream] { stream.putEOSPacket(); });
    marker.start();
    const bool returned = marker.wait(kTimeout);
    const int after = stream.queuedPackets();
    stream.deactivateStream(); // releases a marker that waits
    QVERIFY(marker.wait(kTimeout));
    QVERIFY(returned);
    QCOMPARE(after, before + 1);
}

QTEST_GUILESS_MAIN(StreamThreadTest)
#include "tst_stream_thread.moc"
