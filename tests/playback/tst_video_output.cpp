#include "PlaybackTestSupport.h"

#include "Core/Decoder/EOSSample.h"
#include "Core/Decoder/VideoSample.h"
#include "Core/Multimedia/TimerSynchronizer.h"
#include "Core/Multimedia/VideoOutputThread.h"

#include <QAbstractVideoSurface>
#include <QMutex>
#include <QtTest>

#include <cmath>

using namespace Harbend;
using namespace PlaybackTest;

namespace {

const quint64 kMs = 1000000;

// Notes when each frame arrives, by the clock, on the video thread.
class RecordingSurface : public QAbstractVideoSurface {
public:
    explicit RecordingSurface(Synchronizer* clock) : clock(clock) {}
    QList<QVideoFrame::PixelFormat> supportedPixelFormats(QAbstractVideoBuffer::HandleType) const override
    {
        return {QVideoFrame::Format_YUV420P};
    }
    bool present(const QVideoFrame& frame) override
    {
        QMutexLocker lock(&mutex);
        presented.append(qMakePair(quint64(frame.startTime()) * 1000, clock->elapsed()));
        return true;
    }
    QList<QPair<quint64, quint64>> frames()
    {
        QMutexLocker lock(&mutex);
        return presented;
    }

private:
    Synchronizer* clock;
    QMutex mutex;
    QList<QPair<quint64, quint64>> presented; // frame time, clock at presentation (ns)
};

QSharedPointer<Sample> frameAt(quint64 ns)
{
    QVideoFrame frame(16 * 16 * 3 / 2, QSize(16, 16), 16, QVideoFrame::Format_YUV420P);
    frame.setStartTime(qint64(ns / 1000));
    VideoSample* sample = new VideoSample(frame);
    sample->time = qint64(ns);
    return QSharedPointer<Sample>(sample);
}

struct VideoPlayback {
    explicit VideoPlayback(quint64 start)
        : queue(15), clock(start), surface(&clock), thread(&session, 9, &surface, &clock, &queue, 25.0)
    {
        queue.open();
    }
    ~VideoPlayback()
    {
        queue.close();
        thread.requestStop();
    }
    SessionStub session;
    SampleQueue queue;
    TimerSynchronizer clock;
    RecordingSurface surface;
    VideoOutputThread thread;
};

} // namespace

class VideoOutputTest : public QObject {
    Q_OBJECT
private slots:
    void sleepsAreBounded();
    void presentsEachFrameWhenTheClockReachesIt();
    void lateFramesArePresentedNotDropped();
    void pauseWhileAFrameWaitsDropsItAndReturnsPromptly();
};

void VideoOutputTest::sleepsAreBounded()
{
    QCOMPARE(VideoOutputThread::idleSleep(25.0), 20000ul);
    QCOMPARE(VideoOutputThread::idleSleep(30000.0 / 1001.0), 16683ul);
    // No usable rate: a bounded default instead of a division by zero.
    QCOMPARE(VideoOutputThread::idleSleep(0.0), 20000ul);
    QCOMPARE(VideoOutputThread::idleSleep(-3.0), 20000ul);
    QCOMPARE(VideoOutputThread::idleSleep(std::nan("")), 20000ul);
    QCOMPARE(VideoOutputThread::idleSleep(0.5), 100000ul);
    // A frame 40 ms ahead: one nap to 2 ms before it, then the rest whole;
    // never less than 1 ms nor more than 100 ms.
    QCOMPARE(VideoOutputThread::waitSleep(40 * kMs), 38000ul);
    QCOMPARE(VideoOutputThread::waitSleep(3 * kMs), 3000ul);
    QCOMPARE(VideoOutputThread::waitSleep(kMs / 5), 1000ul);
    QCOMPARE(VideoOutputThread::waitSleep(5000 * kMs), 100000ul);
}

void VideoOutputTest::presentsEachFrameWhenTheClockReachesIt()
{
    VideoPlayback playback(0);
    QVERIFY(playback.thread.startPaused());
    for (int i = 0; i < 10; ++i)
        playback.queue.addSample(frameAt(quint64(i) * 40 * kMs));
    QVERIFY(playback.thread.requestResume());
    for (int i = 10; i < 25; ++i)
        playback.queue.addSample(frameAt(quint64(i) * 40 * kMs));
    playback.queue.addSample(QSharedPointer<Sample>(new EOSSample));
    QTRY_COMPARE_WITH_TIMEOUT(playback.session.stopped, QVector<quint64>{9}, 5000);
    const auto frames = playback.surface.frames();
    QCOMPARE(frames.size(), 25);
    for (int i = 0; i < frames.size(); ++i) {
        QCOMPARE(frames[i].first, quint64(i) * 40 * kMs);
        QVERIFY(frames[i].second >= frames[i].first);
    }
    // The last picture stays; the thread waits for the session's seek or stop.
    QVERIFY(playback.thread.hasEnded());
    QCOMPARE(playback.thread.state(), OutputThread::Play);
}

void VideoOutputTest::lateFramesArePresentedNotDropped()
{
    VideoPlayback playback(5000 * kMs);
    QVERIFY(playback.thread.startPaused());
    QVERIFY(playback.thread.requestResume());
    for (int i = 0; i < 10; ++i)
        playback.queue.addSample(frameAt(quint64(i) * 40 * kMs));
    QTRY_COMPARE_WITH_TIMEOUT(playback.surface.frames().size(), 10, 3000);
    // All at once: the clock had passed them all.
    QVERIFY(playback.surface.frames().last().second < 5000 * kMs + 500 * kMs);
}

void VideoOutputTest::pauseWhileAFrameWaitsDropsItAndReturnsPromptly()
{
    VideoPlayback playback(0);
    QVERIFY(playback.thread.startPaused());
    QVERIFY(playback.thread.requestResume());
    playback.queue.addSample(frameAt(0));
    playback.queue.addSample(frameAt(60000 * kMs));
    QTRY_COMPARE_WITH_TIMEOUT(playback.surface.frames().size(), 1, 2000);
    QTRY_VERIFY_WITH_TIMEOUT(playback.queue.size() == 0, 2000);
    QVERIFY(playback.thread.requestPause());
    playback.clock.pause();
    QVERIFY(playback.thread.requestResume());
    playback.clock.resume();
    playback.queue.addSample(frameAt(10 * kMs));
    QTRY_COMPARE_WITH_TIMEOUT(playback.surface.frames().size(), 2, 2000);
    QCOMPARE(playback.surface.frames().last().first, 10 * kMs);
}

QTEST_MAIN(VideoOutputTest)
#include "tst_video_output.moc"
