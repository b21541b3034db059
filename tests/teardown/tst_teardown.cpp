#include "Core/Multimedia/AudioEndpointControl.h"
#include "Core/Multimedia/PlayerControl.h"
#include "Core/Multimedia/PlayerService.h"
#include "Core/Output/VideoSurface.h"
#include "Core/Output/VideoWidget.h"
#include "Gui/WMediaPlayer.h"

#include "tests/TestMain.h"
#include "tests/playback/PlayerHarness.h"

#include <QAudioOutput>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

#include <functional>
#include <memory>

using PlaybackTest::PlayerHarness;

namespace {

// How long each kind of player is torn down again and again.
const qint64 kBudgetMs = 3000;

// Where in its life a playback is destroyed.
enum Moment { Starting, Playing, Seeking, Ending, MomentCount };

// A player to destroy: the window's media widget, or a bare QMediaPlayer over
// the engine drawing on a video widget of its own, which goes after it.
class Subject {
public:
    virtual ~Subject() = default;
    virtual QMediaPlayer* player() const = 0;
};

class MediaWidgetSubject : public Subject {
public:
    explicit MediaWidgetSubject(bool shown)
    {
        if (shown)
            widget.show();
    }
    QMediaPlayer* player() const override { return widget.getMediaPlayer(); }

private:
    WMediaPlayer widget;
};

class BarePlayerSubject : public Subject {
public:
    explicit BarePlayerSubject(bool withVideo)
    {
        if (withVideo) {
            video.reset(new Harbend::VideoWidget(nullptr));
            harness.player->setVideoOutput(video->surface);
            video->show();
        }
    }
    ~BarePlayerSubject() override
    {
        // Deleted while playing, without a stop first; the surface outlives it.
        harness.player.reset();
        video.reset();
    }
    QMediaPlayer* player() const override { return harness.player.get(); }

private:
    std::unique_ptr<Harbend::VideoWidget> video;
    PlayerHarness harness;
};

} // namespace

class TeardownTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void destroyedAtRandomMoments_data();
    void destroyedAtRandomMoments();
    void callsArrivingWhileAStopRuns_data();
    void callsArrivingWhileAStopRuns();

private:
    PlaybackTest::Recordings recordings;
    QString withVideo;
    QString audioOnly;
    QString longer;
};

void TeardownTest::initTestCase()
{
    withVideo = recordings.get(QStringLiteral("av.ogg"),
                               {QStringLiteral("--stream"), QStringLiteral("theora:width=160,height=120,fps=25"),
                                QStringLiteral("--stream"), QStringLiteral("vorbis:channels=2"),
                                QStringLiteral("--duration"), QStringLiteral("2")});
    QVERIFY(!withVideo.isEmpty());
    audioOnly = recordings.get(QStringLiteral("audio.ogg"),
                               {QStringLiteral("--stream"), QStringLiteral("vorbis:channels=1"),
                                QStringLiteral("--duration"), QStringLiteral("1.5")});
    QVERIFY(!audioOnly.isEmpty());
    longer = recordings.get(QStringLiteral("longer.ogg"),
                            {QStringLiteral("--stream"), QStringLiteral("theora:width=160,height=120,fps=25"),
                             QStringLiteral("--stream"), QStringLiteral("vorbis:channels=2"),
                             QStringLiteral("--duration"), QStringLiteral("20")});
    QVERIFY(!longer.isEmpty());
}

void TeardownTest::destroyedAtRandomMoments_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("video");
    QTest::newRow("media widget") << 0 << true;
    QTest::newRow("bare player with a video widget") << 1 << true;
    QTest::newRow("bare player, audio only") << 1 << false;
}

// Every playback is destroyed while it starts, plays, seeks or meets the end
// of its recording; the threads that it started must all be gone again.
void TeardownTest::destroyedAtRandomMoments()
{
    QFETCH(int, kind);
    QFETCH(bool, video);
    const quint32 seed = qEnvironmentVariableIsSet("HARBEND_TEARDOWN_SEED")
                             ? quint32(qEnvironmentVariableIntValue("HARBEND_TEARDOWN_SEED"))
                             : QRandomGenerator::global()->generate();
    qInfo("seed %u (HARBEND_TEARDOWN_SEED repeats it)", seed);
    QRandomGenerator random(seed);
    const QString path = video ? withVideo : audioOnly;
    auto make = [&]() -> Subject* {
        if (kind == 0)
            return new MediaWidgetSubject(random.bounded(2) == 0);
        return new BarePlayerSubject(video);
    };
    // One whole playback first: the sound system's and the display's own
    // threads, which stay, are counted in.
    {
        std::unique_ptr<Subject> first(make());
        first->player()->setMedia(QUrl::fromLocalFile(path));
        first->player()->play();
        QTRY_COMPARE_WITH_TIMEOUT(first->player()->state(), QMediaPlayer::StoppedState, 10000);
    }
    QCoreApplication::processEvents();
    const int threads = PlaybackTest::threadCount();
    int counts[MomentCount] = {};

    QElapsedTimer elapsed;
    elapsed.start();
    for (int round = 0; elapsed.elapsed() < kBudgetMs || round < 2 * MomentCount; ++round) {
        const Moment moment = Moment(round % MomentCount);
        std::unique_ptr<Subject> subject(make());
        QMediaPlayer* player = subject->player();
        player->setMedia(QUrl::fromLocalFile(path));
        QCOMPARE(player->mediaStatus(), QMediaPlayer::LoadedMedia);
        player->play();
        QCOMPARE(player->state(), QMediaPlayer::PlayingState);
        const qint64 duration = player->duration();
        QVERIFY2(duration > 1000, qPrintable(QString::number(duration)));

        switch (moment) {
        case Starting:
            // The output and decoding threads have only just been started.
            if (random.bounded(2))
                QCoreApplication::processEvents();
            break;
        case Playing:
            QTest::qWait(int(random.bounded(40, 300)));
            break;
        case Seeking:
            QTest::qWait(int(random.bounded(100)));
            player->setPosition(qint64(random.bounded(int(duration))));
            // Destroyed straight after the seek, or while the reader refills.
            if (random.bounded(2))
                QTest::qWait(int(random.bounded(30)));
            break;
        case Ending:
            // From just before the last packets to just after the end report.
            player->setPosition(duration - 400);
            QTest::qWait(int(random.bounded(100, 900)));
            break;
        default:
            break;
        }
        ++counts[moment];
        subject.reset();
        // Reports queued by the threads of the destroyed playback arrive now.
        QCoreApplication::processEvents();
    }
    qInfo("destroyed %d starting, %d playing, %d seeking, %d ending", counts[Starting], counts[Playing],
          counts[Seeking], counts[Ending]);
    // Every thread of every playback was joined when its player went.
    QTRY_VERIFY_WITH_TIMEOUT(PlaybackTest::threadCount() <= threads, 5000);
}

void TeardownTest::callsArrivingWhileAStopRuns_data()
{
    QTest::addColumn<QString>("calls");
    QTest::addColumn<QMediaPlayer::State>("after");
    QTest::newRow("stop twice") << "stop stop" << QMediaPlayer::StoppedState;
    QTest::newRow("stop three times") << "stop stop stop" << QMediaPlayer::StoppedState;
    QTest::newRow("seek, stop twice") << "seek stop stop" << QMediaPlayer::StoppedState;
    QTest::newRow("rate, stop twice") << "rate stop stop" << QMediaPlayer::StoppedState;
    QTest::newRow("stop, seek") << "stop seek" << QMediaPlayer::StoppedState;
    QTest::newRow("stop, rate") << "stop rate" << QMediaPlayer::StoppedState;
    QTest::newRow("end report, stop") << "end stop" << QMediaPlayer::StoppedState;
    QTest::newRow("stop, open") << "stop open" << QMediaPlayer::StoppedState;
    QTest::newRow("stop, play") << "stop play" << QMediaPlayer::PlayingState;
}

// Calls made while a recording plays, each posted when the one before it has
// run; those after a stop are posted from inside it, when its audio output has
// stopped. The output runs the event loop while the stop deletes it, so they
// arrive inside the stop, as a second click on Stop does.
void TeardownTest::callsArrivingWhileAStopRuns()
{
    QFETCH(QString, calls);
    QFETCH(QMediaPlayer::State, after);
    PlayerHarness harness;
    QMediaPlayer* player = harness.player.get();
    QSignalSpy positions(player, &QMediaPlayer::positionChanged);
    player->setNotifyInterval(5);
    player->setMedia(QUrl::fromLocalFile(longer));
    player->play();
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > 300, 10000);
    const QMap<QString, std::function<void()>> call{
        {QStringLiteral("stop"), [&] { player->stop(); }},
        {QStringLiteral("seek"), [&] { player->setPosition(10000); }},
        {QStringLiteral("rate"), [&] { player->setPlaybackRate(2.0); }},
        {QStringLiteral("end"), [&] { QMetaObject::invokeMethod(harness.control, "streamHasStopped"); }},
        {QStringLiteral("open"), [&] { player->setMedia(QUrl::fromLocalFile(audioOnly)); }},
        {QStringLiteral("play"), [&] { player->play(); }}};
    const QStringList names = calls.split(' ');
    int posted = 0;
    int depth = 0;
    int deepest = 0;
    int done = 0;
    std::function<void(int)> post = [&](int count) {
        for (; count > 0 && posted < names.size(); --count) {
            const QString name = names.at(posted++);
            QVERIFY(call.contains(name));
            QMetaObject::invokeMethod(
                player,
                [&, name] {
                    deepest = std::max(deepest, ++depth);
                    const int before = posted;
                    QVector<QMetaObject::Connection> hooks;
                    if (name == QLatin1String("stop") || name == QLatin1String("end")) {
                        for (QAudioOutput* output :
                             harness.service->audioEndpointControl->findChildren<QAudioOutput*>())
                            hooks << connect(output, &QAudioOutput::stateChanged, [&](QAudio::State state) {
                                if (state == QAudio::StoppedState)
                                    post(int(names.size()));
                            });
                    }
                    call[name]();
                    for (const QMetaObject::Connection& hook : hooks)
                        disconnect(hook);
                    --depth;
                    ++done;
                    if (posted == before)
                        post(1);
                },
                Qt::QueuedConnection);
        }
    };
    post(1);
    QTRY_COMPARE_WITH_TIMEOUT(done, names.size(), 10000);
    // The calls after the stop came inside it.
    QCOMPARE(deepest, 2);
    QTRY_COMPARE_WITH_TIMEOUT(player->state(), after, 10000);
    QCOMPARE(harness.control->state(), after);
    if (names.contains(QStringLiteral("open")))
        QCOMPARE(harness.control->media().request().url(), QUrl::fromLocalFile(audioOnly));
    if (after == QMediaPlayer::StoppedState) {
        QCOMPARE(player->position(), qint64(-1));
        // The last position reported before the stop's -1 is where playback was.
        QVERIFY(positions.size() >= 2);
        QCOMPARE(positions.last().at(0).toLongLong(), qint64(-1));
        QVERIFY2(positions.at(positions.size() - 2).at(0).toLongLong() > 0,
                 qPrintable(QString::number(positions.at(positions.size() - 2).at(0).toLongLong())));
    }
    // The player plays again, and stops, as if nothing had happened.
    player->play();
    QTRY_VERIFY_WITH_TIMEOUT(player->position() > 300, 10000);
    player->stop();
    QCOMPARE(player->state(), QMediaPlayer::StoppedState);
}

HARBEND_TEST_MAIN(TeardownTest)
#include "tst_teardown.moc"
