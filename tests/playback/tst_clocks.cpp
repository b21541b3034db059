#include "Core/Decoder/OggStream.h"
#include "Core/Multimedia/AudioDeviceSynchronizer.h"
#include "Core/Multimedia/GuardedAudioOutput.h"
#include "Core/Multimedia/TimerSynchronizer.h"
#include "tests/TestMain.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

using namespace Harbend;

namespace {

const quint64 kMs = 1000000;
const quint64 kSecond = 1000 * kMs;

// Keeps a push-mode output fed with silence from the event loop.
class SilenceFeeder : public QObject {
public:
    explicit SilenceFeeder(GuardedAudioOutput* output) : output(output)
    {
        connect(&timer, &QTimer::timeout, this, [this] { feed(); });
        timer.start(10);
    }
    void restart() { started = output->start(); }
    void feed()
    {
        const QAudio::State state = output->read().state;
        if (!started || state == QAudio::StoppedState || state == QAudio::SuspendedState)
            return;
        const int free = output->bytesFree() & ~1;
        if (free > 0)
            output->write(QByteArray(free, 0).constData(), free);
    }

    GuardedAudioOutput* output;
    bool started = false;
    QTimer timer;
};

} // namespace

class ClocksTest : public QObject {
    Q_OBJECT
private slots:
    void timerArithmeticByRate();
    void timerRunsAtItsRateAndKeepsItsValueOnRateChange();
    void timerStandsStillWhilePaused();
    void timerResetMovesToTheNewPosition();
    void audioCorrectionForBufferedData();
    void audioCarriedBetweenSteps();
    void audioClockFollowsTheDevice();
};

void ClocksTest::timerArithmeticByRate()
{
    TimerSynchronizer clock(7);
    QCOMPARE(clock.valueAfter(3001), quint64(7 + 3001));
    clock.setPlaybackRate(PlaybackRate::Half);
    const quint64 base = clock.valueAfter(0);
    QCOMPARE(clock.valueAfter(3001), base + 1500);
    clock.setPlaybackRate(PlaybackRate::Double);
    QCOMPARE(clock.valueAfter(3001) - clock.valueAfter(0), quint64(6002));
    // Before the video thread starts it, the clock shows its base.
    TimerSynchronizer fresh(5 * kSecond);
    QCOMPARE(fresh.elapsed(), 5 * kSecond);
}

void ClocksTest::timerRunsAtItsRateAndKeepsItsValueOnRateChange()
{
    for (PlaybackRate::Enum rate : {PlaybackRate::Double, PlaybackRate::Half}) {
        TimerSynchronizer clock(0);
        clock.start();
        clock.reset(10 * kSecond);
        QElapsedTimer wall;
        wall.start();
        clock.setPlaybackRate(rate);
        const quint64 atChange = clock.elapsed();
        QVERIFY(atChange >= 10 * kSecond && atChange < 10 * kSecond + 50 * kMs);
        QTRY_VERIFY_WITH_TIMEOUT(wall.elapsed() >= 300, 2000);
        const double wallNs = double(wall.nsecsElapsed());
        const double ran = double(clock.elapsed() - 10 * kSecond);
        const double expected = rate == PlaybackRate::Double ? 2.0 : 0.5;
        qInfo("timer at %.1fx: %.3f", expected, ran / wallNs);
        QVERIFY2(qAbs(ran / wallNs - expected) < 0.1 * expected, qPrintable(QString("ratio %1").arg(ran / wallNs)));
    }
}

void ClocksTest::timerStandsStillWhilePaused()
{
    TimerSynchronizer clock(kSecond);
    clock.start();
    QElapsedTimer wall;
    wall.start();
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() >= kSecond + 50 * kMs, 2000);
    clock.pause();
    const quint64 atPause = clock.elapsed();
    QTRY_VERIFY_WITH_TIMEOUT(wall.elapsed() >= 200, 2000);
    QCOMPARE(clock.elapsed(), atPause);
    // A rate change and a seek while paused keep it paused.
    clock.setPlaybackRate(PlaybackRate::Double);
    QCOMPARE(clock.elapsed(), atPause);
    clock.reset(3 * kSecond);
    QCOMPARE(clock.elapsed(), 3 * kSecond);
    clock.resume();
    const quint64 afterResume = clock.elapsed();
    QVERIFY(afterResume >= 3 * kSecond && afterResume < 3 * kSecond + 50 * kMs);
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() >= 3 * kSecond + 100 * kMs, 2000);
}

void ClocksTest::timerResetMovesToTheNewPosition()
{
    TimerSynchronizer clock(0);
    clock.start();
    clock.reset(42 * kSecond);
    const quint64 now = clock.elapsed();
    QVERIFY(now >= 42 * kSecond && now < 42 * kSecond + 50 * kMs);
}

void ClocksTest::audioCorrectionForBufferedData()
{
    // 8820 bytes are 4410 samples, 100 ms at 44.1 kHz.
    QCOMPARE(AudioDeviceSynchronizer::playedTime(500000, QAudio::ActiveState, 17600, 17600 - 8820, 44100), 400 * kMs);
    QCOMPARE(AudioDeviceSynchronizer::playedTime(500000, QAudio::SuspendedState, 17600, 17600 - 8820, 44100),
             400 * kMs);
    QCOMPARE(AudioDeviceSynchronizer::playedTime(500000, QAudio::IdleState, 17600, 17600 - 8820, 44100), 400 * kMs);
    // All that was written still waits: nothing has been played (rounding of
    // the processed time may make the correction the larger).
    QCOMPARE(AudioDeviceSynchronizer::playedTime(80000, QAudio::ActiveState, 17600, 17600 - 8820, 44100), quint64(0));
    QCOMPARE(AudioDeviceSynchronizer::playedTime(199546, QAudio::ActiveState, 17600, 0, 44100), quint64(0));
    QCOMPARE(AudioDeviceSynchronizer::playedTime(500000, QAudio::StoppedState, 17600, 0, 44100), 500 * kMs);
    // More free space than buffer counts as an empty buffer.
    QCOMPARE(AudioDeviceSynchronizer::playedTime(500000, QAudio::ActiveState, 17600, 20000, 44100), 500 * kMs);
    // The correction keeps its fraction of a second: 1 sample at 44.1 kHz.
    QCOMPARE(AudioDeviceSynchronizer::playedTime(1000, QAudio::ActiveState, 2, 0, 44100), quint64(1000000 - 22675));
    QCOMPARE(AudioDeviceSynchronizer::playedTime(500000, QAudio::ActiveState, 17600, 0, 0), 500 * kMs);
}

void ClocksTest::audioCarriedBetweenSteps()
{
    // Reading, reading at the last step, time since it, its length, shown, active.
    QCOMPARE(AudioDeviceSynchronizer::carriedTime(1000 * kMs, 1000 * kMs, 50 * kMs, 160 * kMs, 0, true), 1050 * kMs);
    // No further than the step's length, nor than the cap.
    QCOMPARE(AudioDeviceSynchronizer::carriedTime(1000 * kMs, 1000 * kMs, 300 * kMs, 160 * kMs, 0, true), 1160 * kMs);
    QCOMPARE(AudioDeviceSynchronizer::carriedTime(1000 * kMs, 1000 * kMs, 900 * kMs, 800 * kMs, 0, true), 1200 * kMs);
    // A reading that moved less than a step since is not passed by.
    QCOMPARE(AudioDeviceSynchronizer::carriedTime(1030 * kMs, 1000 * kMs, 20 * kMs, 160 * kMs, 0, true), 1030 * kMs);
    // No going back: a new step below what was shown holds until it catches up.
    QCOMPARE(AudioDeviceSynchronizer::carriedTime(1150 * kMs, 1150 * kMs, 0, 150 * kMs, 1160 * kMs, true), 1160 * kMs);
    // Suspended or idle: the reading as it is.
    QCOMPARE(AudioDeviceSynchronizer::carriedTime(1000 * kMs, 1000 * kMs, 300 * kMs, 160 * kMs, 0, false), 1000 * kMs);
}

void ClocksTest::audioClockFollowsTheDevice()
{
    const QAudioFormat format = Harbend::OggStream::pcmFormat(44100);
    const QAudioDeviceInfo device = QAudioDeviceInfo::defaultOutputDevice();
    if (device.isNull())
        QSKIP("no audio output device");
    QVERIFY(device.isFormatSupported(format));
    GuardedAudioOutput output(new QAudioOutput(device, format), [&] { return new QAudioOutput(device, format); });
    output.setBufferSize(17600);
    SilenceFeeder feeder(&output);
    feeder.restart();
    QVERIFY(feeder.started);
    AudioDeviceSynchronizer clock(2 * kSecond, &output);

    // Runs with the wall clock, a buffer's worth behind at most.
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() > 2 * kSecond + 100 * kMs, 5000);
    QElapsedTimer wall;
    wall.start();
    const quint64 from = clock.elapsed();
    QTRY_VERIFY_WITH_TIMEOUT(wall.elapsed() >= 1000, 3000);
    const double ratio = double(clock.elapsed() - from) / double(wall.nsecsElapsed());
    qInfo("the audio clock ran %.3f times as fast as the wall clock", ratio);
    QVERIFY2(qAbs(ratio - 1.0) < 0.25, qPrintable(QString("ratio %1").arg(ratio)));

    // Moves between the device's steps (up to 160 ms when nothing records the
    // sink), never back.
    quint64 last = clock.elapsed();
    int moves = 0;
    int looks = 0;
    bool back = false;
    QElapsedTimer looking;
    looking.start();
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                 const quint64 now = clock.elapsed();
                                 moves += now != last;
                                 back = back || now < last;
                                 last = now;
                                 return ++looks >= 40;
                             }()),
                             20000);
    qInfo("the clock moved between %d of %d looks in %lld ms", moves, looks, looking.elapsed());
    // A clock that moved only at the steps would stand still at most looks.
    QVERIFY2(moves * 4 >= looks * 3, qPrintable(QString("%1 of %2").arg(moves).arg(looks)));
    QVERIFY(!back);

    // Stands still while paused and suspended.
    clock.pause();
    output.suspend();
    const quint64 atPause = clock.elapsed();
    QElapsedTimer paused;
    paused.start();
    QTRY_VERIFY_WITH_TIMEOUT(paused.elapsed() >= 300, 2000);
    QCOMPARE(clock.elapsed(), atPause);
    output.resume();
    clock.resume();
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() > atPause + 200 * kMs, 3000);
    QVERIFY(clock.elapsed() < atPause + 2 * kSecond);

    // A rate change keeps the value, restarts the count on a stream that
    // never left the device (a sink left alone runs seconds ahead), and runs
    // twice as fast.
    clock.pause();
    clock.setPlaybackRate(PlaybackRate::Double);
    QVERIFY(output.read().state != QAudio::StoppedState);
    QCOMPARE(output.read().processedUSecs, 0);
    const quint64 atChange = clock.elapsed();
    clock.resume();
    wall.restart();
    QVERIFY(qAbs(qint64(clock.elapsed() - atChange)) < qint64(50 * kMs));
    QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() > atChange + 400 * kMs, 5000);
    QVERIFY2(wall.elapsed() < 1500, qPrintable(QString("%1 ms to play 200 ms").arg(wall.elapsed())));
    // The same rate again leaves the output playing.
    clock.setPlaybackRate(PlaybackRate::Double);
    QVERIFY(output.read().state != QAudio::StoppedState);
    output.stop();
}

HARBEND_TEST_MAIN(ClocksTest)
#include "tst_clocks.moc"
