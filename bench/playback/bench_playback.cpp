// Playback cost and latency through QMediaPlayer over the engine's service:
// process CPU time (user + system) per second of playback at 1x and 2x, and
// the median time that pause, seek and stop take, at 1x and at 0.5x. With
// --av: the offset between when a click is heard in the null sink's monitor
// (recorded by parec, each sample's wall time taken from the arrival of the
// block that holds it, so the monitor's own latency of up to 20 ms counts as
// late sound) and when the frame of the same stream time is presented (the
// frame's number read back from the code row that make-recording draws).
#include "Core/Base/Processor.h"
#include "Core/Multimedia/MediaServiceProvider.h"
#include "PlaybackTestSupport.h"
#include "tests/streams/Recording.h"

#include <QAbstractVideoSurface>
#include <QApplication>
#include <QElapsedTimer>
#include <QMediaPlayer>
#include <QProcess>
#include <QTemporaryDir>
#include <QMutex>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Takes every frame and draws nothing: the cost measured is the engine's.
class NullSurface : public QAbstractVideoSurface {
public:
    QList<QVideoFrame::PixelFormat> supportedPixelFormats(QAbstractVideoBuffer::HandleType) const override
    {
        return {QVideoFrame::Format_YUV420P};
    }
    bool present(const QVideoFrame&) override
    {
        ++frames;
        return true;
    }
    std::atomic<int> frames{0};
};

// Notes the wall time at which each numbered picture is presented.
class TimingSurface : public QAbstractVideoSurface {
public:
    explicit TimingSurface(const QElapsedTimer* wall) : wall(wall) {}
    QList<QVideoFrame::PixelFormat> supportedPixelFormats(QAbstractVideoBuffer::HandleType) const override
    {
        return {QVideoFrame::Format_YUV420P};
    }
    bool present(const QVideoFrame& frame) override
    {
        const qint64 now = wall->nsecsElapsed();
        const int number = Recording::pictureNumber(frame);
        QMutexLocker lock(&mutex);
        presented.append(qMakePair(number, now));
        return true;
    }
    QVector<QPair<int, qint64>> frames()
    {
        QMutexLocker lock(&mutex);
        return presented;
    }

private:
    const QElapsedTimer* wall;
    QMutex mutex;
    QVector<QPair<int, qint64>> presented;
};

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

std::unique_ptr<QMediaPlayer> makePlayer()
{
    QMediaServiceProvider::setDefaultServiceProvider(&Harbend::g_serviceProvider);
    std::unique_ptr<QMediaPlayer> player(new QMediaPlayer);
    QMediaServiceProvider::setDefaultServiceProvider(nullptr);
    return player;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

template <class F>
double timed(F f)
{
    QElapsedTimer timer;
    timer.start();
    f();
    return double(timer.nsecsElapsed()) / 1e6;
}

// Plays a recording whose clicks (every second) coincide with pictures
// 0, 25, 50, ... and prints the offsets of sound behind picture; with seeks,
// one every 1.7 s, apart for the clicks heard in the first half second after one.
int measureAvOffset(int seconds, bool withSeeks)
{
    QTemporaryDir folder;
    const QString recording = folder.path() + "/av.ogg";
    QProcess make;
    make.start(HARBEND_BIN_DIR "/make-recording",
               {"--stream", "theora:width=320,height=240,fps=25", "--stream",
                "vorbis:channels=1,rate=44100,level=0.05,base=500,clicks=1.0,quality=1.0", "--duration",
                QString::number(seconds + 2), recording});
    if (!make.waitForFinished(600000) || make.exitCode() != 0)
        return 1;
    QElapsedTimer wall;
    wall.start();
    QProcess parec;
    parec.start("parec", {"-d", "nullsink.monitor", "--raw", "--format=s16le", "--rate=44100", "--channels=1",
                          "--latency-msec=20"});
    parec.waitForStarted();
    QByteArray sound;
    QVector<QPair<qint64, qint64>> arrivals; // samples received so far, wall ns
    auto pull = [&] {
        const QByteArray block = parec.readAllStandardOutput();
        if (block.isEmpty())
            return;
        sound.append(block);
        arrivals.append(qMakePair(qint64(sound.size() / 2), wall.nsecsElapsed()));
    };
    QObject::connect(&parec, &QProcess::readyReadStandardOutput, pull);
    runFor(2500); // the null sink wakes up
    TimingSurface surface(&wall);
    std::unique_ptr<QMediaPlayer> player = makePlayer();
    player->setVideoOutput(&surface);
    player->setMedia(QMediaContent(QUrl::fromLocalFile(recording)));
    player->play();
    QVector<qint64> seekTimes; // wall ns
    if (withSeeks) {
        for (int k = 0; k < seconds * 10 / 17; ++k) {
            runFor(1700);
            seekTimes.append(wall.nsecsElapsed());
            player->setPosition(qint64((k * 7 + 3) % qMax(1, seconds)) * 1000 + 850);
        }
        runFor(1000);
    } else {
        runFor(seconds * 1000 + 1000);
    }
    player->stop();
    pull();
    parec.kill();
    parec.waitForFinished();

    const qint16* samples = reinterpret_cast<const qint16*>(sound.constData());
    const qint64 count = sound.size() / 2;
    auto wallOf = [&](qint64 index) {
        for (const auto& arrival : arrivals)
            if (arrival.first > index)
                return arrival.second - (arrival.first - index) * 1000000000LL / 44100;
        return qint64(-1);
    };
    const auto frames = surface.frames();
    auto soonAfterASeek = [&](qint64 heard) {
        for (qint64 at : seekTimes)
            if (heard >= at && heard - at < 500000000LL)
                return true;
        return false;
    };
    std::vector<double> offsets, afterSeeks;
    qint64 last = -44100;
    for (qint64 i = 1; i < count; ++i) {
        if (qAbs(int(samples[i]) - int(samples[i - 1])) < 8000 || i - last < 22050)
            continue;
        last = i;
        const qint64 heard = wallOf(i);
        // The presentation of a picture on a whole second nearest to the click.
        qint64 best = -1;
        for (const auto& frame : frames) {
            if (frame.first % 25 == 0 && (best < 0 || qAbs(frame.second - heard) < qAbs(best - heard)))
                best = frame.second;
        }
        if (best >= 0 && qAbs(best - heard) < 500000000LL)
            (soonAfterASeek(heard) ? afterSeeks : offsets).push_back(double(heard - best) / 1e6);
    }
    if (withSeeks && !afterSeeks.empty()) {
        std::sort(afterSeeks.begin(), afterSeeks.end());
        std::printf("av after seeks: %zu clicks within 0.5 s of a seek; sound after picture by median %.1f ms "
                    "(min %.1f, max %.1f)\n",
                    afterSeeks.size(), afterSeeks[afterSeeks.size() / 2], afterSeeks.front(), afterSeeks.back());
    }
    if (offsets.empty()) {
        std::printf("av: no click matched a picture\n");
        return 1;
    }
    std::sort(offsets.begin(), offsets.end());
    std::printf("av: %zu clicks; sound after picture by median %.1f ms (min %.1f, max %.1f)\n", offsets.size(),
                offsets[offsets.size() / 2], offsets.front(), offsets.back());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Harbend::Processor::initialize();
    int seconds = 60;
    QString recording;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--seconds")
            seconds = args[i + 1].toInt();
        else if (args[i] == "--recording")
            recording = args[i + 1];
    }
    if (args.contains("--av"))
        return measureAvOffset(seconds, args.contains("--seeks"));
    QTemporaryDir folder;
    if (recording.isEmpty()) {
        // 640x480 Theora and 13-channel Speex, long enough for the play.
        recording = folder.path() + "/bench.ogg";
        QProcess make;
        make.start(HARBEND_BIN_DIR "/make-recording",
                   {"--stream", "theora:width=640,height=480,fps=25", "--stream",
                    "speex:channels=13,mode=wide", "--duration", QString::number(seconds + 15), recording});
        if (!make.waitForFinished(600000) || make.exitCode() != 0) {
            std::fprintf(stderr, "make-recording failed: %s\n", make.readAllStandardError().constData());
            return 1;
        }
    }

    NullSurface surface;
    std::unique_ptr<QMediaPlayer> player = makePlayer();
    player->setVideoOutput(&surface);
    player->setMedia(QMediaContent(QUrl::fromLocalFile(recording)));

    for (double rate : {1.0, 2.0}) {
        player->play();
        player->setPlaybackRate(rate);
        runFor(1000);
        const int framesBefore = surface.frames;
        const double cpu = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        runFor(seconds * 1000 / (rate > 1.0 ? 2 : 1));
        const double usedCpu = cpuSeconds() - cpu;
        const double wallSeconds = double(wall.elapsed()) / 1000.0;
        std::printf("%.1fx: %.3f s CPU per s of wall time (%.1f%% of one core), %.3f s CPU per s of stream; "
                    "audio %s, video %s, %d frames\n",
                    rate, usedCpu / wallSeconds, 100.0 * usedCpu / wallSeconds, usedCpu / (wallSeconds * rate),
                    player->isAudioAvailable() ? "yes" : "no", player->isVideoAvailable() ? "yes" : "no",
                    surface.frames - framesBefore);
        player->stop();
    }

    for (double rate : {1.0, 0.5}) {
        std::vector<double> pauses, seeks, stops;
        for (int i = 0; i < 100; ++i) {
            player->play();
            player->setPlaybackRate(rate);
            runFor(30);
            pauses.push_back(timed([&] { player->pause(); }));
            player->play();
            seeks.push_back(timed([&] { player->setPosition(qint64((i * 7919) % (seconds * 1000))); }));
            runFor(20);
            stops.push_back(timed([&] { player->stop(); }));
        }
        std::printf("%.1fx: median pause %.2f ms, seek %.2f ms, stop %.2f ms (100 each)\n", rate, median(pauses),
                    median(seeks), median(stops));
    }
    return 0;
}
