// Playback cost and latency through QMediaPlayer over the engine's service:
// process CPU time (user + system) per second of playback at 1x and 2x, and
// the median time that pause, seek and stop take, at 1x and at 0.5x.
#include "Core/Base/Processor.h"
#include "Core/Multimedia/MediaServiceProvider.h"

#include <QAbstractVideoSurface>
#include <QApplication>
#include <QElapsedTimer>
#include <QMediaPlayer>
#include <QProcess>
#include <QTemporaryDir>
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
