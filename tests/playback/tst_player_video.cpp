#include "PlaybackTestSupport.h"
#include "PlayerHarness.h"
#include "tests/streams/Recording.h"

#include "Core/Multimedia/PlayerControl.h"
#include "tests/TestMain.h"

#include <QAbstractVideoSurface>
#include <QAudioDeviceInfo>
#include <QElapsedTimer>
#include <QMutex>
#include <QtTest>

#include <climits>

using namespace PlaybackTest;

namespace {

// Notes the wall time of every frame it is given, on the video thread.
class ArrivalSurface : public QAbstractVideoSurface {
public:
    ArrivalSurface() { wall.start(); }
    QList<QVideoFrame::PixelFormat> supportedPixelFormats(QAbstractVideoBuffer::HandleType) const override
    {
        return {QVideoFrame::Format_YUV420P};
    }
    bool present(const QVideoFrame& frame) override
    {
        const int number = Recording::pictureNumber(frame);
        QMutexLocker lock(&mutex);
        if (frame.isValid()) {
            arrivals.append(wall.elapsed());
            numbers.append(number);
        }
        return true;
    }
    // The first picture since the given wall time whose number lies in [low, high].
    int firstNumberSince(qint64 ms, int low = 0, int high = INT_MAX)
    {
        const int i = firstSince(ms, low, high);
        QMutexLocker lock(&mutex);
        return i < 0 ? -1 : numbers[i];
    }
    // When that picture arrived; -1 if none did.
    qint64 firstArrivalSince(qint64 ms, int low = 0, int high = INT_MAX)
    {
        const int i = firstSince(ms, low, high);
        QMutexLocker lock(&mutex);
        return i < 0 ? -1 : arrivals[i];
    }
    // The longest wait for a picture between the given wall times.
    qint64 longestGap(qint64 from, qint64 to)
    {
        QMutexLocker lock(&mutex);
        qint64 last = from, longest = 0;
        for (qint64 t : arrivals) {
            if (t < from || t > to)
                continue;
            longest = qMax(longest, t - last);
            last = t;
        }
        return qMax(longest, to - last);
    }
    int count()
    {
        QMutexLocker lock(&mutex);
        return arrivals.size();
    }
    int lastNumber()
    {
        QMutexLocker lock(&mutex);
        return numbers.isEmpty() ? -1 : numbers.last();
    }
    // Frames that arrived at or after the given wall time.
    int since(qint64 ms)
    {
        QMutexLocker lock(&mutex);
        return int(std::count_if(arrivals.begin(), arrivals.end(), [ms](qint64 t) { return t >= ms; }));
    }
    qint64 now() const { return wall.elapsed(); }

private:
    int firstSince(qint64 ms, int low, int high)
    {
        QMutexLocker lock(&mutex);
        for (int i = 0; i < arrivals.size(); ++i)
            if (arrivals[i] >= ms && numbers[i] >= low && numbers[i] <= high)
                return i;
        return -1;
    }

    QElapsedTimer wall;
    QMutex mutex;
    QVector<qint64> arrivals;
    QVector<int> numbers;
};

void pass(int ms)
{
    QElapsedTimer wait;
    wait.start();
    QTRY_VERIFY_WITH_TIMEOUT(wait.elapsed() >= ms, ms + 5000);
}

QStringList video(int seconds, bool withAudio, const QString& codec = "theora")
{
    QStringList arguments{"--stream", codec + ":width=160,height=120,fps=25", "--duration", QString::number(seconds)};
    if (withAudio)
        arguments << "--stream"
                  << "vorbis:channels=2,rate=44100,base=600,level=0.2";
    return arguments;
}

} // namespace

class PlayerVideoTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void videoAloneRunsOnATimerThatStopsWhilePaused();
    void videoFollowsTheSoundAndSeeks_data();
    void videoFollowsTheSoundAndSeeks();
    void playingAgainRightAtTheEnd();
    void theWholeRecordingIsHeardAndSeen_data();
    void theWholeRecordingIsHeardAndSeen();

private:
    SinkRecorder recorder; // keeps the null sink awake between streams
    Recordings recordings;
};

void PlayerVideoTest::initTestCase()
{
    if (QAudioDeviceInfo::defaultOutputDevice().isNull())
        QSKIP("no audio output device");
    QVERIFY(recorder.start());
    QVERIFY(recorder.waitUntilRunning());
}

void PlayerVideoTest::cleanup()
{
    if (!recorder.isRunning()) {
        QVERIFY(recorder.start());
        QVERIFY(recorder.waitUntilRunning());
    }
}

void PlayerVideoTest::videoAloneRunsOnATimerThatStopsWhilePaused()
{
    ArrivalSurface surface; // outlives the player that draws on it
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    player->setVideoOutput(&surface);
    QSignalSpy statuses(player, &QMediaPlayer::mediaStatusChanged);
    QSignalSpy states(player, &QMediaPlayer::stateChanged);
    QSignalSpy errors(player, QOverload<QMediaPlayer::Error>::of(&QMediaPlayer::error));
    player->setMedia(QMediaContent(QUrl::fromLocalFile(recordings.get("video.ogg", video(8, false)))));
    player->play();
    QCOMPARE(player->state(), QMediaPlayer::PlayingState);
    const QList<QMediaPlayer::MediaStatus> expected{QMediaPlayer::LoadingMedia, QMediaPlayer::LoadedMedia,
                                                    QMediaPlayer::BufferedMedia};
    QCOMPARE(statuses.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(statuses.at(i).at(0).value<QMediaPlayer::MediaStatus>(), expected[i]);
    QCOMPARE(states.size(), 1);
    QVERIFY(errors.isEmpty());
    QVERIFY(player->isVideoAvailable());
    QVERIFY(!player->isAudioAvailable());
    QTRY_VERIFY_WITH_TIMEOUT(surface.count() > 10, 5000);
    // 25 frames a second on the timer clock.
    const int before = surface.count();
    const qint64 position = player->position();
    pass(1000);
    qInfo("%d frames and %lld ms of position in a second", surface.count() - before, player->position() - position);
    QVERIFY2(qAbs(surface.count() - before - 25) <= 5, qPrintable(QString::number(surface.count() - before)));
    QVERIFY(qAbs(player->position() - position - 1000) < 150);

    // Paused: the position stands, no frame arrives, and none burst out on resume.
    player->pause();
    const qint64 pausedAt = player->position();
    const int framesAtPause = surface.count();
    pass(600);
    QCOMPARE(player->position(), pausedAt);
    QVERIFY(surface.count() <= framesAtPause + 1);
    const qint64 resumed = surface.now();
    player->play();
    pass(200);
    QVERIFY2(surface.since(resumed) <= 7, qPrintable(QString::number(surface.since(resumed))));
    QVERIFY(player->position() - pausedAt < 400);
    player->setVolume(20);
    QCOMPARE(player->volume(), 20);
    player->stop();
}

void PlayerVideoTest::videoFollowsTheSoundAndSeeks_data()
{
    QTest::addColumn<QString>("codec");
    QTest::addColumn<int>("numberAtZero"); // of the picture due at 0 ms in the decoder's times
    QTest::addColumn<bool>("recorded");
    for (const auto& codec : {qMakePair(QString("theora"), 1), qMakePair(QString("dirac"), 0)}) {
        QTest::newRow(qPrintable(codec.first + ", sink recorded")) << codec.first << codec.second << true;
        // As on a desktop: the sink then takes sound in large steps.
        QTest::newRow(qPrintable(codec.first + ", nothing records the sink")) << codec.first << codec.second << false;
    }
}

void PlayerVideoTest::videoFollowsTheSoundAndSeeks()
{
    QFETCH(QString, codec);
    QFETCH(int, numberAtZero);
    QFETCH(bool, recorded);
    if (!recorded)
        recorder.stop();
    ArrivalSurface surface; // outlives the player that draws on it
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    player->setVideoOutput(&surface);
    player->setMedia(QMediaContent(QUrl::fromLocalFile(recordings.get(codec + "-both.ogg", video(8, true, codec)))));
    player->play();
    QVERIFY(player->isVideoAvailable());
    QVERIFY(player->isAudioAvailable());
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > 300, 8000);
    QTRY_VERIFY_WITH_TIMEOUT(surface.count() > 5, 3000);

    for (QMediaPlayer::State state : {QMediaPlayer::PlayingState, QMediaPlayer::PausedState}) {
        if (state == QMediaPlayer::PausedState)
            player->pause();
        const qint64 asked = state == QMediaPlayer::PlayingState ? 5000 : 2000;
        // The position the seek reached, as the control reports it: the audio
        // clock read afterwards may already stand ahead of it while playing.
        QSignalSpy moved(harness.control, &QMediaPlayerControl::positionChanged);
        // The first picture may come before the seek returns; pictures of
        // before the seek may still arrive while it begins.
        const qint64 start = surface.now();
        qint64 shown = start; // from when the new position may be seen
        player->setPosition(asked);
        QVERIFY(!moved.isEmpty());
        const qint64 reached = moved.first().at(0).toLongLong();
        QVERIFY2(qAbs(reached - asked) <= 500, qPrintable(QString::number(reached)));
        if (state == QMediaPlayer::PausedState) {
            pass(300);
            QCOMPARE(player->position(), reached);
            shown = surface.now();
            player->play();
        }
        // The first picture comes at once: the frames before the target are not waited for.
        const int near = int(reached / 40) + 1;
        QTRY_VERIFY_WITH_TIMEOUT(surface.firstNumberSince(start, near - 25, near + 25) >= 0, 1500);
        // ... and it is the first picture at or after the position reached (25 a
        // second): picture n is due at (n - numberAtZero) x 40 ms. No more
        // tolerance than the frame: the decoder picks it by its time, and the
        // output thread drops none after the seek.
        const int number = surface.firstNumberSince(start, near - 25, near + 25);
        const qint64 due = qint64(number - numberAtZero) * 40;
        QVERIFY2(due >= reached && due < reached + 40,
                 qPrintable(QString("picture %1 due at %2 ms, position %3 ms").arg(number).arg(due).arg(reached)));
        QTRY_VERIFY_WITH_TIMEOUT(player->position() > reached + 300, 5000);
        QVERIFY(player->position() < reached + 3000);
        // The new picture comes with the new sound, which the device takes at
        // once, and pictures follow as in steady playback (a sink that had no
        // stream for a moment would hold them for about two seconds).
        const qint64 first = surface.firstArrivalSince(start, near - 25, near + 25);
        QVERIFY2(first - shown < 600, qPrintable(QString("first new picture after %1 ms").arg(first - shown)));
        QTRY_VERIFY_WITH_TIMEOUT(surface.now() > first + 1000, 5000);
        const qint64 gap = surface.longestGap(first, first + 1000);
        qInfo("%s: first new picture after %lld ms, longest gap then %lld ms",
              state == QMediaPlayer::PlayingState ? "playing" : "paused", first - shown, gap);
        QVERIFY2(gap < 500, qPrintable(QString("a picture stood %1 ms").arg(gap)));
    }
    player->stop();
}

void PlayerVideoTest::playingAgainRightAtTheEnd()
{
    // Video ends before the sound; a play started from the stop signal plays
    // on to its own end.
    const QString path = recordings.get("ends.ogg",
                                        {"--stream", "theora:width=160,height=120,fps=25,duration=1", "--stream",
                                         "vorbis:channels=1,rate=44100,duration=1.4", "--duration", "1.4"});
    ArrivalSurface surface; // outlives the player that draws on it
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    player->setVideoOutput(&surface);
    player->setMedia(QMediaContent(QUrl::fromLocalFile(path)));
    int restarts = 0;
    connect(player, &QMediaPlayer::stateChanged, this, [&](QMediaPlayer::State state) {
        if (state == QMediaPlayer::StoppedState && restarts++ == 0)
            player->play();
    });
    player->play();
    QTRY_COMPARE_WITH_TIMEOUT(restarts, 1, 15000);
    QCOMPARE(player->state(), QMediaPlayer::PlayingState);
    pass(700);
    QCOMPARE(player->state(), QMediaPlayer::PlayingState);
    QTRY_COMPARE_WITH_TIMEOUT(player->state(), QMediaPlayer::StoppedState, 15000);
}

void PlayerVideoTest::theWholeRecordingIsHeardAndSeen_data()
{
    QTest::addColumn<double>("videoSeconds");
    QTest::newRow("video 2 s shorter") << 2.4;
    QTest::newRow("equal") << 4.4;
    QTest::newRow("video 2 s longer") << 6.4;
}

void PlayerVideoTest::theWholeRecordingIsHeardAndSeen()
{
    QFETCH(double, videoSeconds);
    // A click every second and one in the last 4 ms of the sound, 0.4 s after the one before.
    const double audioSeconds = 4.4;
    const QString path = recordings.get(
        QString("end-%1.ogg").arg(videoSeconds),
        {"--stream", QString("theora:width=160,height=120,fps=25,duration=%1").arg(videoSeconds), "--stream",
         QString("vorbis:channels=1,rate=44100,level=0.05,base=500,clicks=1,duration=%1").arg(audioSeconds)});
    ArrivalSurface surface; // outlives the player that draws on it
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    player->setVideoOutput(&surface);
    player->setMedia(QMediaContent(QUrl::fromLocalFile(path)));
    QSignalSpy statuses(player, &QMediaPlayer::mediaStatusChanged);
    QSignalSpy states(player, &QMediaPlayer::stateChanged);
    recorder.restart();
    player->play();
    QTRY_COMPARE_WITH_TIMEOUT(player->state(), QMediaPlayer::StoppedState, 20000);
    // Stopped once, and the media status stays buffered.
    QCOMPARE(states.size(), 2);
    QCOMPARE(states.at(0).at(0).value<QMediaPlayer::State>(), QMediaPlayer::PlayingState);
    QCOMPARE(statuses.size(), 1);
    QCOMPARE(statuses.at(0).at(0).value<QMediaPlayer::MediaStatus>(), QMediaPlayer::BufferedMedia);
    // Every picture was shown, the last one too (numbered from 0).
    QCOMPARE(surface.lastNumber(), qRound(videoSeconds * 25) - 1);
    // The clicks of seconds 1 to 4 and the last one were heard: all was
    // played before the stop, so it is recorded once the recording runs
    // past it.
    const qint64 stoppedAt = recorder.now();
    QTRY_VERIFY_WITH_TIMEOUT(recorder.heardAt(recorder.available() - 1) >= stoppedAt + 200000000LL, 5000);
    const QVector<qint16> sound = recorder.take(recorder.available());
    const QVector<int> heard = clicks(sound);
    int last = sound.size() - 1;
    while (last > 0 && qAbs(int(sound[last])) < 800)
        --last;
    QVERIFY2(heard.size() >= 5, qPrintable(QString("%1 clicks").arg(heard.size())));
    const int lastGap = heard.last() - heard[heard.size() - 2];
    qInfo("%d clicks; the sound ends %d ms after the first one; the last two %.1f ms apart", heard.size(),
          int(qint64(last - heard.first()) * 1000 / kSinkRate), lastGap * 1000.0 / kSinkRate);
    QVERIFY2(qAbs(lastGap - kSinkRate * 396 / 1000) < kSinkRate / 50, qPrintable(QString::number(lastGap)));
}

HARBEND_TEST_MAIN(PlayerVideoTest)
#include "tst_player_video.moc"
