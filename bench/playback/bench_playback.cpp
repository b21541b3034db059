// Playback cost and latency through QMediaPlayer over the engine's service:
// process CPU time (user + system) per second of playback at 1x and 2x, and
// the median time that pause, seek and stop take, at 1x and at 0.5x. With
// --av: the offset between when a click is heard in the null sink's monitor
// (recorded by parec, each sample's wall time taken from the arrival of the
// block that holds it, so the monitor's own latency of up to 20 ms counts as
// late sound) and when the frame of the same stream time is presented (the
// frame's number read back from the code row that make-recording draws).
// With --host: the real host program playing in its window on the display,
// with OpenGL and with software drawing, beside ffplay on the same recording
// (runs interleaved, A B A B); CPU per second of playback and peak memory of
// each process. --ours PATH (repeatable) names host programs to compare.
// With --paints: the engine's video widget in this process playing 640x480
// Theora with Vorbis, nothing recording the sink; paints of the back end's
// widget per second, all and those 20 ms or more after the one before (25 when
// every picture is drawn, evenly). Software drawing with QT_XCB_GL_INTEGRATION=none.
// With --seek-pictures --rates: the same for rate changes while playing,
// in turn to 2x and back to 1x.
// With --seek-pictures: 640x480 Theora with Vorbis, --runs seeks, in turn
// while playing and while paused (timed from the play that follows), nothing
// recording the sink unless --recorded; per kind of seek the time to the first
// picture of the new position, to the clock's first move past it (the device
// takes the new sound), and the longest a picture stood in the second after
// the first one.
#include "Core/Base/Processor.h"
#include "Core/Multimedia/MediaServiceProvider.h"
#include "Core/Output/VideoSurface.h"
#include "Core/Output/VideoWidget.h"
#include "PlaybackTestSupport.h"
#include "tests/streams/Recording.h"

#include <QAbstractVideoSurface>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaPlayer>
#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
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
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
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
    // How evenly pictures come: each one's wall time less its stream time,
    // against the median of that; bursts show as large deviations.
    std::vector<double> lateness;
    for (const auto& frame : frames)
        lateness.push_back(double(frame.second - qint64(frame.first) * 40000000LL) / 1e6);
    const double middle = median(lateness);
    std::vector<double> deviations;
    for (double value : lateness)
        deviations.push_back(std::fabs(value - middle));
    std::sort(deviations.begin(), deviations.end());
    std::printf("av: %zu pictures; from their due time by median %.1f ms, 90%% within %.1f ms, %.0f%% within 5 ms\n",
                deviations.size(), median(deviations), deviations[deviations.size() * 9 / 10],
                100.0 * double(std::upper_bound(deviations.begin(), deviations.end(), 5.0) - deviations.begin()) /
                    double(deviations.size()));
    return 0;
}

// Process CPU seconds (user + system) and peak resident memory (kB) from /proc.
struct ProcessUse {
    double cpu = -1.0;
    long peakKb = -1;
};

ProcessUse processUse(qint64 pid)
{
    ProcessUse use;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        // Fields after the command's closing parenthesis: utime and stime are 14th and 15th.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            use.cpu = double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& row : status.readAll().split('\n'))
            if (row.startsWith("VmHWM:"))
                use.peakKb = row.mid(6).trimmed().split(' ').first().toLong();
    }
    return use;
}

struct Contender {
    QString name;
    QString program;
    QStringList arguments;
    QStringList environment; // NAME=VALUE per drawing mode: [0] OpenGL, [1] software
};

// CPU seconds per second of playback after a warm-up, and peak memory.
bool playOnce(const Contender& who, const QString& recording, int mode, int seconds, double& perSecond, long& peakKb)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString setting = who.environment.value(mode);
    if (!setting.isEmpty())
        environment.insert(setting.section('=', 0, 0), setting.section('=', 1));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(who.program, who.arguments + QStringList{recording});
    if (!process.waitForStarted(10000))
        return false;
    runFor(2000); // start-up, window, first pictures
    // Software drawing opens with a warning box whose OK the user presses.
    if (mode == 1 && who.program != "ffplay") {
        QProcess answer;
        answer.start("xdotool", {"search", "--sync", "--name", "Video rendering problem", "windowfocus", "key",
                                 "--window", "%1", "Return"});
        if (!answer.waitForFinished(5000))
            answer.kill();
        answer.waitForFinished();
    }
    runFor(1000);
    const ProcessUse before = processUse(process.processId());
    QElapsedTimer wall;
    wall.start();
    runFor(seconds * 1000);
    const ProcessUse after = processUse(process.processId());
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    const bool running = process.state() == QProcess::Running;
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
    if (!running || before.cpu < 0 || after.cpu < 0)
        return false;
    perSecond = (after.cpu - before.cpu) / elapsed;
    peakKb = after.peakKb;
    return true;
}

int measureHost(const QStringList& ours, const QString& given, int seconds, int runs)
{
    QTemporaryDir folder;
    struct Case {
        const char* name;
        QStringList streams;
    };
    const QList<Case> cases = {
        {"640x480 Theora + stereo Vorbis",
         {"--stream", "theora:width=640,height=480,fps=25", "--stream", "vorbis:channels=2,rate=44100"}},
        {"640x480 Theora alone", {"--stream", "theora:width=640,height=480,fps=25"}}};
    QList<Contender> contenders;
    for (const QString& program : ours)
        contenders.append({program, program, {}, {QString(), "QT_XCB_GL_INTEGRATION=none"}});
    contenders.append({"ffplay",
                       "ffplay",
                       {"-hide_banner", "-loglevel", "quiet", "-nostats", "-autoexit"},
                       {"SDL_RENDER_DRIVER=opengl", "SDL_RENDER_DRIVER=software"}});
    for (int c = 0; c < (given.isEmpty() ? cases.size() : 1); ++c) {
        QString recording = given;
        if (recording.isEmpty()) {
            recording = folder.path() + QStringLiteral("/host-%1.ogg").arg(c);
            QProcess make;
            make.start(HARBEND_BIN_DIR "/make-recording",
                       cases[c].streams + QStringList{"--duration", QString::number(seconds + 20), recording});
            if (!make.waitForFinished(600000) || make.exitCode() != 0)
                return 1;
        }
        std::printf("%s, %d s per run, %d runs interleaved:\n", given.isEmpty() ? cases[c].name : qPrintable(given),
                    seconds, runs);
        for (int mode = 0; mode < 2; ++mode) {
            std::vector<std::vector<double>> cpu(contenders.size());
            std::vector<std::vector<double>> peak(contenders.size());
            for (int run = 0; run < runs; ++run) {
                for (int who = 0; who < contenders.size(); ++who) {
                    double perSecond = 0.0;
                    long peakKb = 0;
                    if (!playOnce(contenders[who], recording, mode, seconds, perSecond, peakKb)) {
                        std::printf("  %s did not play\n", qPrintable(contenders[who].name));
                        continue;
                    }
                    cpu[who].push_back(perSecond);
                    peak[who].push_back(double(peakKb) / 1024.0);
                }
            }
            const double peer = median(cpu.back());
            for (int who = 0; who < contenders.size(); ++who)
                std::printf("  %-8s %-40s %.3f s CPU per s (%.2fx ffplay), peak %.0f MiB\n",
                            mode ? "software" : "OpenGL", qPrintable(contenders[who].name), median(cpu[who]),
                            peer > 0 ? median(cpu[who]) / peer : 0.0, median(peak[who]));
            std::fflush(stdout);
        }
    }
    return 0;
}

// Counts the paint events of the video widget's back end (placed at the first picture).
class PaintCounter : public QObject {
public:
    const Harbend::VideoWidget* watched = nullptr;
    QElapsedTimer wall;
    int paints = 0;
    int spaced = 0; // 20 ms or more after the paint before
    qint64 last = 0;
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (object != watched->backEndWidget() || event->type() != QEvent::Paint)
            return false;
        const qint64 now = wall.elapsed();
        ++paints;
        spaced += now - last >= 20;
        last = now;
        return false;
    }
};

int measurePaints(int seconds)
{
    QTemporaryDir folder;
    const QString recording = folder.path() + "/paints.ogg";
    QProcess make;
    make.start(HARBEND_BIN_DIR "/make-recording",
               {"--stream", "theora:width=640,height=480,fps=25", "--stream", "vorbis:channels=2,rate=44100",
                "--duration", QString::number(seconds + 5), recording});
    if (!make.waitForFinished(600000) || make.exitCode() != 0)
        return 1;
    Harbend::VideoWidget widget(nullptr);
    widget.resize(640, 480);
    widget.show();
    PaintCounter counter;
    counter.watched = &widget;
    counter.wall.start();
    qApp->installEventFilter(&counter);
    std::unique_ptr<QMediaPlayer> player = makePlayer();
    player->setVideoOutput(widget.surface);
    player->setMedia(QMediaContent(QUrl::fromLocalFile(recording)));
    player->play();
    runFor(2000);
    const int from = counter.paints;
    const int spacedFrom = counter.spaced;
    QElapsedTimer wall;
    wall.start();
    runFor(seconds * 1000);
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    player->stop();
    std::printf("paints: %s, %.1f per s, %.1f per s 20 ms or more apart, over %d s\n",
                widget.backEndWidget()->metaObject()->className(), double(counter.paints - from) / elapsed,
                double(counter.spaced - spacedFrom) / elapsed, seconds);
    return 0;
}

struct SeekFigures {
    std::vector<double> firstPicture, clockMoves, longestHold; // ms
};

void printFigures(const char* kind, const SeekFigures& figures)
{
    auto row = [](const char* what, std::vector<double> values) {
        std::sort(values.begin(), values.end());
        std::printf("    %-26s median %7.1f ms, max %7.1f ms\n", what, median(values),
                    values.empty() ? 0.0 : values.back());
    };
    std::printf("  %s (%zu seeks):\n", kind, figures.firstPicture.size());
    row("first new picture", figures.firstPicture);
    row("clock moves on", figures.clockMoves);
    row("longest hold afterwards", figures.longestHold);
}

int measureSeekPictures(int seeks, bool recorded, bool rates)
{
    QTemporaryDir folder;
    const QString recording = folder.path() + "/seeks.ogg";
    QProcess make;
    make.start(HARBEND_BIN_DIR "/make-recording", {"--stream", "theora:width=640,height=480,fps=25", "--stream",
                                                   "vorbis:channels=2,rate=44100", "--duration", "30", recording});
    if (!make.waitForFinished(600000) || make.exitCode() != 0)
        return 1;
    PlaybackTest::SinkRecorder recorder;
    if (recorded && (!recorder.start() || !recorder.waitUntilRunning()))
        return 1;
    QElapsedTimer wall;
    wall.start();
    TimingSurface surface(&wall);
    std::unique_ptr<QMediaPlayer> player = makePlayer();
    player->setVideoOutput(&surface);
    player->setMedia(QMediaContent(QUrl::fromLocalFile(recording)));
    player->play();
    runFor(3000);
    SeekFigures figures[2]; // playing, paused
    for (int k = 0; k < seeks; ++k) {
        // Rate changes alternate 2x and 1x while playing.
        const bool paused = !rates && k % 2 == 1;
        const qint64 target = qint64((k * 7 + 3) % 25) * 1000 + 500;
        if (paused) {
            player->pause();
            runFor(300);
        }
        const qint64 seekAt = wall.nsecsElapsed();
        if (rates)
            player->setPlaybackRate(k % 2 == 0 ? 2.0 : 1.0);
        else
            player->setPosition(target);
        const qint64 reached = player->position();
        if (paused) {
            runFor(300);
            player->play();
        }
        const qint64 from = paused ? wall.nsecsElapsed() : seekAt;
        qint64 moved = -1;
        while (wall.nsecsElapsed() - from < 3000000000LL) {
            if (moved < 0 && player->position() > reached + 50)
                moved = wall.nsecsElapsed();
            if (recorded)
                recorder.available();
            runFor(2);
        }
        const int near = int(reached / 40);
        qint64 first = -1, last = -1, hold = 0;
        for (const auto& frame : surface.frames()) {
            if (frame.second < seekAt || (first < 0 && qAbs(frame.first - near) > 25))
                continue;
            if (first < 0)
                first = last = frame.second;
            if (frame.second > first + 1000000000LL)
                break;
            hold = qMax(hold, frame.second - last);
            last = frame.second;
        }
        if (first >= 0)
            hold = qMax(hold, first + 1000000000LL - last);
        SeekFigures& into = figures[rates ? k % 2 : paused ? 1 : 0];
        into.firstPicture.push_back(first < 0 ? -1.0 : double(first - from) / 1e6);
        into.clockMoves.push_back(moved < 0 ? -1.0 : double(moved - from) / 1e6);
        into.longestHold.push_back(double(hold) / 1e6);
    }
    player->stop();
    std::printf("%s in 640x480 Theora + Vorbis, %s:\n", rates ? "rate changes" : "seeks",
                recorded ? "sink recorded" : "nothing records the sink");
    printFigures(rates ? "to 2x" : "playing", figures[0]);
    printFigures(rates ? "to 1x" : "paused, then play", figures[1]);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Harbend::Processor::initialize();
    int seconds = 60;
    int runs = 3;
    QString recording;
    QStringList ours;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--seconds")
            seconds = args[i + 1].toInt();
        else if (args[i] == "--recording")
            recording = args[i + 1];
        else if (args[i] == "--runs")
            runs = args[i + 1].toInt();
        else if (args[i] == "--ours")
            ours.append(args[i + 1]);
    }
    if (args.contains("--av"))
        return measureAvOffset(seconds, args.contains("--seeks"));
    if (args.contains("--seek-pictures"))
        return measureSeekPictures(runs, args.contains("--recorded"), args.contains("--rates"));
    if (args.contains("--paints"))
        return measurePaints(seconds);
    if (args.contains("--host"))
        return measureHost(ours.isEmpty() ? QStringList{HARBEND_BIN_DIR "/harbend-player"} : ours, recording, seconds,
                           runs);
    QTemporaryDir folder;
    if (recording.isEmpty()) {
        // 640x480 Theora and 13-channel Speex, long enough for the play.
        recording = folder.path() + "/bench.ogg";
        QProcess make;
        make.start(HARBEND_BIN_DIR "/make-recording",
                   {"--stream", "theora:width=640,height=480,fps=25", "--stream", "speex:channels=13,mode=wide",
                    "--duration", QString::number(seconds + 15), recording});
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
