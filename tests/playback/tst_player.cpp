#include "PlaybackTestSupport.h"
#include "PlayerHarness.h"

#include "Core/Base/GainFromVolume.h"
#include "Core/Decoder/OggReader.h"
#include "Core/Multimedia/AudioChannelControl.h"
#include "Core/Multimedia/MetaDataControl.h"
#include "Core/Multimedia/PlayerControl.h"
#include "Core/Multimedia/PlayerService.h"
#include "Core/Multimedia/PlayerSession.h"
#include "tests/TestMain.h"

#include <QAudioDeviceInfo>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaContent>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>

using namespace Harbend;
using namespace PlaybackTest;

namespace {

const double kLevel = 0.03;
const int kBase = 400;
const int kStep = 170;

QStringList thirteenTones(int seconds)
{
    return {
        "--stream",
        QString("vorbis:channels=13,rate=44100,base=%1,step=%2,level=%3,quality=0.9").arg(kBase).arg(kStep).arg(kLevel),
        "--duration", QString::number(seconds)};
}

QStringList oneTone(int seconds, int frequency = 1000)
{
    return {"--stream", QString("vorbis:channels=1,rate=44100,base=%1,level=0.2,quality=0.9").arg(frequency),
            "--duration", QString::number(seconds)};
}

QMediaContent local(const QString& path) { return QMediaContent(QUrl::fromLocalFile(path)); }

// Waits for the given wall time with the event loop running.
void pass(int ms)
{
    QElapsedTimer wait;
    wait.start();
    QTRY_VERIFY_WITH_TIMEOUT(wait.elapsed() >= ms, ms + 5000);
}

// Stream milliseconds per wall millisecond, over a second of playback.
double pace(QMediaPlayer* player)
{
    QElapsedTimer wall;
    const qint64 from = player->position();
    wall.start();
    pass(1200);
    const double measured = double(player->position() - from) / double(wall.elapsed());
    qInfo("pace %.3f at %.1fx", measured, player->playbackRate());
    return measured;
}

// Follows the clock and the sink for the given wall time and returns, for
// each click heard, how far the clock stood ahead of the sound at that moment
// in ms. A click's stream time is the multiple of the click period nearest to
// the clock's value then.
QVector<double> clockLeads(SinkRecorder& recorder, PlayerControl* control, int ms, double periodMs)
{
    recorder.restart();
    QVector<QPair<qint64, double>> clock; // wall ns, position ms
    const qint64 from = recorder.now();
    while (recorder.now() - from < qint64(ms) * 1000000) {
        recorder.pull();
        clock.append(qMakePair(recorder.now(), double(control->position())));
    }
    QVector<double> leads;
    for (int index : clicks(recorder.take(recorder.available()))) {
        const qint64 at = recorder.heardAt(index);
        for (int i = 1; i < clock.size() && at >= clock[0].first; ++i) {
            if (clock[i].first < at)
                continue;
            const double f = double(at - clock[i - 1].first) / double(clock[i].first - clock[i - 1].first);
            const double position = clock[i - 1].second + f * (clock[i].second - clock[i - 1].second);
            leads.append(position - std::round(position / periodMs) * periodMs);
            break;
        }
    }
    return leads;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QString joined(const QVector<double>& values)
{
    QStringList texts;
    for (double value : values)
        texts << QString::number(value, 'f', 1);
    return texts.join(' ');
}

} // namespace

class PlayerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void signalsForGoodAndBadMedia();
    void playsEveryChannelAtItsLevel();
    void ratesKeepPitchAndPace();
    void rateChosenWhileStoppedAppliesToTheNextPlay();
    void rateChangesGoOnFromTheClock_data();
    void rateChangesGoOnFromTheClock();
    void seekWhilePlayingAndWhilePaused();
    void soundAfterASeekBeginsAtTheTarget_data();
    void soundAfterASeekBeginsAtTheTarget();
    void endOfTheRecordingStopsAndPlaysAgain();
    void endReportsOfAnEarlierPlaybackAreIgnored();
    void stressOpenPlaySeekPauseStop();

private:
    SinkRecorder recorder;
    Recordings recordings;
};

void PlayerTest::initTestCase()
{
    qRegisterMetaType<QMediaPlayer::State>();
    qRegisterMetaType<QMediaPlayer::MediaStatus>();
    qRegisterMetaType<QMediaPlayer::Error>();
    if (QAudioDeviceInfo::defaultOutputDevice().isNull())
        QSKIP("no audio output device");
    QVERIFY(recorder.start());
    QVERIFY(recorder.waitUntilRunning());
}

void PlayerTest::signalsForGoodAndBadMedia()
{
    PlayerHarness harness;
    QVERIFY(harness.control);
    QMediaPlayer* player = harness.player.get();
    QCOMPARE(player->state(), QMediaPlayer::StoppedState);
    QCOMPARE(player->mediaStatus(), QMediaPlayer::NoMedia);
    QCOMPARE(harness.control->position(), qint64(-1));
    QCOMPARE(player->duration(), qint64(-1));
    QCOMPARE(player->playbackRate(), 1.0);
    QCOMPARE(player->volume(), 100);
    QCOMPARE(player->bufferStatus(), 100);
    QVERIFY(!player->isSeekable());

    QSignalSpy statuses(player, &QMediaPlayer::mediaStatusChanged);
    QSignalSpy states(player, &QMediaPlayer::stateChanged);
    QSignalSpy errors(player, QOverload<QMediaPlayer::Error>::of(&QMediaPlayer::error));

    // A good recording: loading, loaded; playing; the end stops it.
    const QString good = recordings.get("good.ogg", oneTone(2));
    player->setMedia(local(good));
    QCOMPARE(statuses.size(), 2);
    QCOMPARE(statuses.at(0).at(0).value<QMediaPlayer::MediaStatus>(), QMediaPlayer::LoadingMedia);
    QCOMPARE(statuses.at(1).at(0).value<QMediaPlayer::MediaStatus>(), QMediaPlayer::LoadedMedia);
    QVERIFY(player->isSeekable());
    player->play();
    QCOMPARE(statuses.size(), 3);
    QCOMPARE(statuses.at(2).at(0).value<QMediaPlayer::MediaStatus>(), QMediaPlayer::BufferedMedia);
    QCOMPARE(states.size(), 1);
    QCOMPARE(states.at(0).at(0).value<QMediaPlayer::State>(), QMediaPlayer::PlayingState);
    QVERIFY(player->isAudioAvailable());
    QVERIFY(!player->isVideoAvailable());
    QCOMPARE(player->duration(), qint64(2000));
    QTRY_COMPARE_WITH_TIMEOUT(player->state(), QMediaPlayer::StoppedState, 15000);
    QCOMPARE(states.size(), 2);
    QCOMPARE(statuses.size(), 3);
    QVERIFY(errors.isEmpty());

    // A missing file and a file that is not Ogg: invalid, with the error text.
    const QString notOgg = recordings.get("good.ogg", {}) + ".json";
    for (const QString& path : {QString("/nonexistent/recording.ogg"), notOgg}) {
        statuses.clear();
        errors.clear();
        player->setMedia(local(path));
        QCOMPARE(statuses.size(), 2);
        QCOMPARE(statuses.at(0).at(0).value<QMediaPlayer::MediaStatus>(), QMediaPlayer::LoadingMedia);
        QCOMPARE(statuses.at(1).at(0).value<QMediaPlayer::MediaStatus>(), QMediaPlayer::InvalidMedia);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(player->error(), QMediaPlayer::ResourceError);
        QCOMPARE(player->errorString(), QString("Invalid stream source!"));
        QVERIFY(!player->isSeekable());
        player->play();
        QCOMPARE(player->state(), QMediaPlayer::StoppedState);
    }

    // A scheme that is not a local file.
    errors.clear();
    player->setMedia(QMediaContent(QUrl("http://localhost/recording.ogg")));
    QCOMPARE(player->mediaStatus(), QMediaPlayer::InvalidMedia);
    QCOMPARE(player->errorString(), QString("Can't open media source!"));

    // Ogg in name only: it opens, but the start fails and is undone completely,
    // so that every later start meets the same clean state.
    const QString junk = recordings.get("good.ogg", {}) + ".junk.ogg";
    {
        QFile file(junk);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("OggS") + QByteArray(20000, 'x'));
    }
    player->setMedia(local(junk));
    QCOMPARE(player->mediaStatus(), QMediaPlayer::LoadedMedia);
    const int threads = threadCount();
    for (int attempt = 0; attempt < 2; ++attempt) {
        errors.clear();
        player->play();
        QCOMPARE(errors.size(), 1);
        QCOMPARE(player->errorString(), QString("Failed to start Ogg reading thread!"));
        QCOMPARE(player->state(), QMediaPlayer::StoppedState);
        QCOMPARE(player->mediaStatus(), QMediaPlayer::LoadedMedia);
        QVERIFY(threadCount() <= threads);
    }

    // No media at all: no error.
    errors.clear();
    player->setMedia(QMediaContent());
    QCOMPARE(player->mediaStatus(), QMediaPlayer::NoMedia);
    QVERIFY(errors.isEmpty());
    // And a recording after it plays.
    player->setMedia(local(good));
    player->play();
    QCOMPARE(player->state(), QMediaPlayer::PlayingState);
}

void PlayerTest::playsEveryChannelAtItsLevel()
{
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    player->setMedia(local(recordings.get("thirteen.ogg", thirteenTones(12))));
    player->play();
    QCOMPARE(player->state(), QMediaPlayer::PlayingState);
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > 300, 8000);
    recorder.restart();
    QVector<qint16> heard = recorder.take(8820);
    // Small levels mix almost as a sum: each tone at its own level.
    for (int k = 0; k < 13; ++k) {
        const double level = toneLevel(heard, kBase + kStep * k);
        QVERIFY2(qAbs(level - kLevel) < 0.15 * kLevel, qPrintable(QString("channel %1: %2").arg(k).arg(level)));
    }

    // Channel 5 off: gone within half a second.
    harness.channels->setChannelEnabled(5, false);
    pass(500);
    recorder.restart();
    heard = recorder.take(8820);
    QVERIFY(toneLevel(heard, kBase + kStep * 5) < 0.05 * kLevel);
    QVERIFY(toneLevel(heard, kBase + kStep * 6) > 0.85 * kLevel);

    // Master volume 50.
    player->setVolume(50);
    pass(500);
    recorder.restart();
    heard = recorder.take(8820);
    const double ratio = toneLevel(heard, kBase + kStep * 6) / kLevel;
    QVERIFY2(qAbs(ratio - gainFromVolume(50)) < 0.15 * gainFromVolume(50), qPrintable(QString::number(ratio)));

    // Mute: silence, while the position runs on.
    player->setMuted(true);
    pass(500);
    recorder.restart();
    const qint64 before = player->position();
    heard = recorder.take(8820);
    QVERIFY(rms(heard) < 2.0 / 32768);
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > before + 200, 3000);
    player->stop();
    // The channel switch is the service's: it stays for the next recording.
    QVERIFY(!harness.channels->enabled[5]);
}

void PlayerTest::ratesKeepPitchAndPace()
{
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    player->setMedia(local(recordings.get("tone.ogg", oneTone(30))));
    player->play();
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > 200, 8000);
    for (double rate : {2.0, 0.5, 1.0}) {
        player->setPlaybackRate(rate);
        QCOMPARE(player->playbackRate(), rate);
        pass(700);
        const double measured = pace(player);
        QVERIFY2(qAbs(measured - rate) < 0.15 * rate, qPrintable(QString("%1x: %2").arg(rate).arg(measured)));
        recorder.restart();
        const QVector<qint16> heard = recorder.take(kSinkRate / 2);
        const double frequency = strongestFrequency(heard, 970.0, 1030.0);
        QVERIFY2(qAbs(frequency - 1000.0) < 10.0, qPrintable(QString("%1x: %2 Hz").arg(rate).arg(frequency)));
        QVERIFY(rms(heard) > 0.05);
    }
    // Quantised: 1.6 is 2x, 0.74 is 0.5x, 1.5 and 0.75 are 1x.
    player->setPlaybackRate(1.6);
    QCOMPARE(player->playbackRate(), 2.0);
    player->setPlaybackRate(0.74);
    QCOMPARE(player->playbackRate(), 0.5);
    player->setPlaybackRate(1.5);
    QCOMPARE(player->playbackRate(), 1.0);
    player->setPlaybackRate(0.75);
    QCOMPARE(player->playbackRate(), 1.0);
    // A rate change while paused stays paused and plays at the new rate on resume.
    player->pause();
    const qint64 paused = player->position();
    player->setPlaybackRate(2.0);
    pass(300);
    QCOMPARE(player->position(), paused);
    player->play();
    pass(500);
    const double measured = pace(player);
    QVERIFY2(qAbs(measured - 2.0) < 0.3, qPrintable(QString::number(measured)));
}

void PlayerTest::rateChosenWhileStoppedAppliesToTheNextPlay()
{
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    player->setMedia(local(recordings.get("tone.ogg", oneTone(30))));
    player->setPlaybackRate(2.0);
    QCOMPARE(player->playbackRate(), 2.0);
    player->play();
    QCOMPARE(player->playbackRate(), 2.0);
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > 200, 8000);
    const double measured = pace(player);
    QVERIFY2(qAbs(measured - 2.0) < 0.3, qPrintable(QString::number(measured)));
    player->stop();
    QCOMPARE(player->playbackRate(), 1.0);
}

void PlayerTest::rateChangesGoOnFromTheClock_data()
{
    QTest::addColumn<int>("rate");
    QTest::newRow("16 kHz") << 16000;
    QTest::newRow("48 kHz") << 48000;
}

void PlayerTest::rateChangesGoOnFromTheClock()
{
    QFETCH(int, rate);
    // Clicks farther apart than twice any skip to be seen; three in each look.
    const double period = 1300;
    const int look = 4000;
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    player->setMedia(
        local(recordings.get(QString("clicks-%1.ogg").arg(rate),
                             {"--stream", QString("vorbis:channels=1,rate=%1,level=0.05,base=500,clicks=1.3").arg(rate),
                              "--duration", "40"})));
    player->play();
    QTRY_VERIFY_WITH_TIMEOUT(harness.control->position() > 500, 8000);
    // At 1x the clock leads the sound by the output's latency ...
    const QVector<double> before = clockLeads(recorder, harness.control, look, period);
    QVERIFY2(before.size() >= 3, qPrintable(joined(before)));
    const double lead = median(before);
    // ... and by the same after each trip to other rates: nothing skipped or repeated.
    for (const QVector<double>& trip : QVector<QVector<double>>{{2.0, 1.0}, {0.5, 1.0}, {2.0, 0.5, 1.0}}) {
        for (double to : trip) {
            // Played for 0.7 s at each rate: the clock runs at that rate.
            player->setPlaybackRate(to);
            const qint64 from = harness.control->position();
            QTRY_VERIFY_WITH_TIMEOUT(harness.control->position() >= from + qint64(700 * to), 10000);
        }
        const QVector<double> after = clockLeads(recorder, harness.control, look, period);
        qInfo("lead %.1f ms, after %s: %s (median %.1f ms apart)", lead, qPrintable(joined(trip)),
              qPrintable(joined(after)), qAbs(median(after) - lead));
        QVERIFY(after.size() >= 3);
        // A skip moves every click after it; the median leaves out a click
        // whose arrival a busy machine noted late.
        QVERIFY2(qAbs(median(after) - lead) < 50.0,
                 qPrintable(QString("%1 ms, at first %2 ms").arg(median(after)).arg(lead)));
    }
}

void PlayerTest::seekWhilePlayingAndWhilePaused()
{
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    QSignalSpy positions(player, &QMediaPlayer::positionChanged);
    player->setMedia(local(recordings.get("thirteen.ogg", thirteenTones(12))));
    player->play();
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > 300, 8000);

    player->setPosition(7000);
    QCOMPARE(player->state(), QMediaPlayer::PlayingState);
    const qint64 reached = harness.control->position();
    QVERIFY2(qAbs(reached - 7000) <= 500, qPrintable(QString::number(reached)));
    QVERIFY(!positions.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > reached + 300, 5000);
    QVERIFY(player->position() < reached + 3000);
    recorder.restart();
    QVERIFY(toneLevel(recorder.take(8820), kBase) > 0.5 * kLevel);

    player->pause();
    player->setPosition(3000);
    QCOMPARE(player->state(), QMediaPlayer::PausedState);
    const qint64 pausedAt = player->position();
    QVERIFY2(qAbs(pausedAt - 3000) <= 500, qPrintable(QString::number(pausedAt)));
    pass(400);
    QCOMPARE(player->position(), pausedAt);
    player->play();
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > pausedAt + 300, 5000);
    QVERIFY(player->position() < pausedAt + 3000);
}

void PlayerTest::soundAfterASeekBeginsAtTheTarget_data()
{
    QTest::addColumn<QString>("stream");
    QTest::newRow("vorbis 16 kHz") << "vorbis:rate=16000,level=0.05";
    QTest::newRow("vorbis 44.1 kHz") << "vorbis:rate=44100,level=0.05";
    QTest::newRow("speex wideband") << "speex:mode=wide,level=0.05";
    QTest::newRow("speex 13 channels") << "speex:mode=wide,channels=13,layout=serial1,level=0.01";
    QTest::newRow("opus 48 kHz") << "opus:input-rate=48000,level=0.05";
    // Low-rate speech: more than 6 s on the first data page.
    QTest::newRow("vorbis 8 kHz, full pages") << "vorbis:rate=8000,quality=-0.1,level=0.05";
}

// The recording's time (ms) of the first sound heard, less `from`, in a
// recording whose quiet tone carries a click every `period` seconds: the
// sound starts after the first silence and its first click tells the time.
// The monitor of the idle null sink records no time, so a stream that
// starts from silence may start at the first sample taken.
static bool firstSoundOffset(SinkRecorder& recorder, double period, qint64 from, double& offsetMs)
{
    QVector<qint16> heard;
    int start = 0;
    for (int wanted = kSinkRate / 2; heard.size() < start + kSinkRate * period * 2; wanted += kSinkRate / 4) {
        if (wanted > kSinkRate * (2 + 2 * period))
            return false;
        heard = recorder.take(wanted);
        if (heard.size() != wanted)
            return false;
        // The first silence (the tone never rounds to zero twice running); a
        // later one would be a stall of the loaded machine, not the start.
        int zeros = 0;
        start = 0;
        for (int k = 0; k < heard.size() && (start == 0 || zeros > 0); ++k) {
            zeros = heard[k] == 0 ? zeros + 1 : 0;
            if (zeros >= 8)
                start = k + 1;
        }
    }
    // A device that ran dry on a busy machine played silence in between,
    // which holds no recording time.
    int click = start;
    int stalled = 0;
    for (int zeros = 0; click < heard.size() && std::abs(heard[click]) < 0.3 * 32768; ++click) {
        zeros = heard[click] == 0 ? zeros + 1 : 0;
        stalled += zeros == 8 ? 8 : zeros > 8 ? 1 : 0;
    }
    if (click == heard.size())
        return false;
    const double untilClick = double(click - start - stalled) / kSinkRate;
    const double clickTime = period * std::floor((from / 1000.0 + untilClick) / period + 0.5);
    offsetMs = 1000.0 * (clickTime - untilClick) - from;
    return true;
}

void PlayerTest::soundAfterASeekBeginsAtTheTarget()
{
    QFETCH(QString, stream);
    const double period = 0.25;
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    const QString name = QString(QTest::currentDataTag()).replace(' ', '-') + "-clicks.ogg";
    player->setMedia(local(
        recordings.get(name, {"--stream", stream + QString(",base=440,clicks=%1").arg(period), "--duration", "30"})));

    // The monitor loses up to 20 ms of a stream that starts right after
    // another stopped (so do two plain audio outputs): measured on stops and
    // plays from the start, the median is what the seeks are held to.
    QElapsedTimer playing;
    playing.start();
    player->play();
    // The recording, its range and its clock start at its first sample.
    const qint64 first = harness.control->position();
    QVERIFY2(first < playing.elapsed() + 1000, qPrintable(QString::number(first)));
    QCOMPARE(harness.control->availablePlaybackRanges().earliestTime(), qint64(0));
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > 300, 8000);
    QVector<double> starts;
    for (int i = 0; i < 3; ++i) {
        player->stop();
        recorder.restart();
        player->play();
        double offsetMs = 0.0;
        QVERIFY(firstSoundOffset(recorder, period, 0, offsetMs));
        starts.append(offsetMs);
    }
    const double startMs = median(starts);

    QRandomGenerator random(1913);
    QStringList offsets;
    QVector<double> apart;
    for (int i = 0; i < 20; ++i) {
        const bool paused = i % 2 == 1;
        const qint64 target = i == 0 ? 1000 : 500 + random.bounded(28000);
        if (paused)
            player->pause();
        recorder.restart();
        player->setPosition(target);
        if (paused)
            player->play();
        double offsetMs = 0.0;
        QVERIFY2(firstSoundOffset(recorder, period, target, offsetMs), qPrintable(QString::number(target)));
        offsets << QString("%1%2").arg(paused ? "p" : "").arg(offsetMs, 0, 'f', 1);
        apart.append(std::fabs(offsetMs - startMs));
    }
    // Each measure loses 0 to 20 ms in the monitor (nothing at all when the
    // sink had gone idle), so two differ by up to 20 ms whatever is played;
    // on two busy cores the median lay within 16 ms, single seeks within
    // 31 ms. Sound from before a seek, or a seek that lands off by more than
    // the monitor's loss, moves the seeks past these bounds.
    const double worst = *std::max_element(apart.begin(), apart.end());
    // p: a seek while paused.
    const QString figures = QString("sound began at the target plus (ms): %1; after a stop at the start: %2; "
                                    "apart: median %3, worst %4")
                                .arg(offsets.join(' '))
                                .arg(joined(starts))
                                .arg(median(apart), 0, 'f', 1)
                                .arg(worst, 0, 'f', 1);
    qInfo("%s", qPrintable(figures));
    QVERIFY2(median(apart) <= 25.0, qPrintable(figures));
    QVERIFY2(worst <= 40.0, qPrintable(figures));
}

void PlayerTest::endOfTheRecordingStopsAndPlaysAgain()
{
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    player->setMedia(local(recordings.get("good.ogg", oneTone(2))));
    player->setNotifyInterval(5);
    for (int round = 0; round < 2; ++round) {
        QSignalSpy positions(player, &QMediaPlayer::positionChanged);
        player->play();
        player->setPlaybackRate(2.0);
        QCOMPARE(player->state(), QMediaPlayer::PlayingState);
        QTRY_COMPARE_WITH_TIMEOUT(player->state(), QMediaPlayer::StoppedState, 15000);
        QCOMPARE(harness.control->position(), qint64(-1));
        // Once playback has moved, no report goes back to 0 while it stops.
        QList<qint64> reported;
        for (const QList<QVariant>& report : positions)
            reported << report.at(0).toLongLong();
        QCOMPARE(reported.last(), qint64(-1));
        reported.removeLast();
        const int moved = int(std::find_if(reported.begin(), reported.end(), [](qint64 p) { return p > 0; }) -
                              reported.begin());
        QVERIFY2(!reported.mid(moved).contains(0), qPrintable(QString::number(reported.size())));
        QCOMPARE(player->playbackRate(), 1.0);
        QCOMPARE(player->mediaStatus(), QMediaPlayer::BufferedMedia);
    }
}

void PlayerTest::endReportsOfAnEarlierPlaybackAreIgnored()
{
    PlayerHarness harness;
    PlayerSession session(harness.service);
    OggReader reader(harness.service->metaDataControl, nullptr);
    QFile file(recordings.get("thirteen.ogg", thirteenTones(12)));
    QSignalSpy stopped(&session, &PlayerSession::sessionStopped);
    QVERIFY(reader.open(&file));
    QVERIFY(reader.read());
    QVERIFY(reader.startReading());
    QVERIFY(session.play(&reader, 0));
    QVERIFY(session.hasAudio());
    const quint64 first = session.playbackId();
    session.stop();
    QVERIFY(session.play(&reader, 0));
    // A report posted by the first playback's thread just before the stop.
    QMetaObject::invokeMethod(&session, "outputStopped", Qt::QueuedConnection, Q_ARG(quint64, first));
    QCoreApplication::sendPostedEvents(&session, QEvent::MetaCall);
    QVERIFY(stopped.isEmpty());
    // So is one of this playback while its streams play on (sent before a seek).
    QMetaObject::invokeMethod(&session, "outputStopped", Qt::QueuedConnection, Q_ARG(quint64, session.playbackId()));
    QCoreApplication::sendPostedEvents(&session, QEvent::MetaCall);
    QVERIFY(stopped.isEmpty());
    // Without audio the session has no volume to set.
    session.stop();
    QVERIFY(!session.setVolume(50));
    QVERIFY(!session.setMuted(true));
    QCOMPARE(session.position(), quint64(0));
    reader.close();
}

void PlayerTest::stressOpenPlaySeekPauseStop()
{
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    const QString path = recordings.get("thirteen.ogg", thirteenTones(12));
    QRandomGenerator random(11);
    // Warm up what stays for the process (audio back end, thread pools).
    player->setMedia(local(path));
    player->play();
    pass(100);
    player->stop();
    const int threads = threadCount();
    const qint64 memory = residentKb();
    QElapsedTimer total;
    total.start();
    for (int cycle = 0; cycle < 200; ++cycle) {
        player->setMedia(local(path));
        player->play();
        QTest::qWait(int(random.bounded(20)));
        if (random.bounded(2))
            player->setPlaybackRate(random.bounded(2) ? 2.0 : 0.5);
        player->setPosition(qint64(random.bounded(11000)));
        QTest::qWait(int(random.bounded(15)));
        player->pause();
        if (random.bounded(2))
            player->setPosition(qint64(random.bounded(11000)));
        QTest::qWait(int(random.bounded(10)));
        if (random.bounded(2))
            player->play();
        player->stop();
        QCOMPARE(player->state(), QMediaPlayer::StoppedState);
    }
    QTest::qWait(200);
    QVERIFY2(threadCount() <= threads + 2, qPrintable(QString("%1 -> %2").arg(threads).arg(threadCount())));
    QVERIFY2(residentKb() < memory + 40000, qPrintable(QString("%1 -> %2 kB").arg(memory).arg(residentKb())));
    qInfo("200 cycles in %lld ms", total.elapsed());
}

HARBEND_TEST_MAIN(PlayerTest)
#include "tst_player.moc"
