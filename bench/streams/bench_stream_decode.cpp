// Seconds of media demuxed and decoded per second of CPU, for our streams and
// decoders and for "ffmpeg -i FILE -f null -" on the same files.

#include "Core/Base/Logger.h"
#include "Core/Decoder/OggStream.h"
#include "Core/Decoder/SampleQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QSharedPointer>
#include <QThread>

#include <cstdio>
#include <ctime>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <ogg/ogg.h>

using namespace Harbend;

extern char** environ;

namespace {

const double kSeconds = 600.0;

struct Case {
    const char* name;
    const char* stream;
    bool ffmpegReadsIt;
    const char* library; // ffmpeg's decoder closest to ours (its wrapper of our library where it has one)
};

const Case kCases[] = {
    {"vorbis-stereo-44k", "vorbis:rate=44100,channels=2", true, "libvorbis"},
    {"opus-mono-20ms", "opus", true, "libopus"},
    {"opus-13ch", "opus:channels=13", true, "libopus"},
    {"speex-wide-mono", "speex:mode=wide", true, "libspeex"},
    {"speex-wide-13ch", "speex:mode=wide,layout=serial1", false, nullptr},
    {"speex-narrow-13ch-fpp3", "speex:mode=narrow,channels=13,fpp=3", false, nullptr},
    {"theora-640x480-25", "theora:width=640,height=480,keyint=64", true, "theora"},
    {"dirac-352x288-25", "dirac:width=352,height=288", true, "dirac"},
};

double cpuSeconds()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Drains a sample queue until the end-of-stream sample.
class Drain : public QThread {
public:
    explicit Drain(SampleQueue* queue) : queue(queue) {}
    void run() override
    {
        for (;;) {
            const QSharedPointer<Sample> sample = queue->waitForSample();
            if (!sample || sample->type == Sample::EndOfStream)
                return;
        }
    }

private:
    SampleQueue* queue;
};

// Reads every page, feeds the file's one stream and waits for its end.
bool decodeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    QSharedPointer<OggStream> stream;
    SampleQueue queue(80);
    Drain drain(&queue);
    bool active = false;
    ogg_page page;
    while (!file.atEnd()) {
        char* buffer = ogg_sync_buffer(&sync, 8500);
        const qint64 got = file.read(buffer, 8500);
        ogg_sync_wrote(&sync, long(got));
        while (ogg_sync_pageout(&sync, &page) == 1) {
            if (ogg_page_bos(&page)) {
                stream.reset(new OggStream(ogg_page_serialno(&page)));
                if (!stream->putPageBOS(&page))
                    return false;
                continue;
            }
            stream->putPage(&page);
            if (!active && stream->streamInfo().headersMissing == 0) {
                if (!stream->activateStream(&queue))
                    return false;
                drain.start();
                active = true;
            }
        }
    }
    ogg_sync_clear(&sync);
    stream->putEOSPacket();
    drain.wait();
    stream->deactivateStream();
    return true;
}

// CPU seconds (user and system) of a child process, -1 when it failed.
double childCpuSeconds(const QStringList& command)
{
    QList<QByteArray> arguments;
    for (const QString& part : command)
        arguments.append(part.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1.0;
    int status = 0;
    rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1.0;
    return double(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6 + double(usage.ru_stime.tv_sec) +
           usage.ru_stime.tv_usec / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    // The decoders' log lines are not part of the measurement.
    Logging::SystemLogger::get();
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(HARBEND_BINARY_DIR "/bench-recordings");
    QDir().mkpath(folder);
    std::printf("%-24s %14s %14s %16s %22s\n", "recording", "ours (s/s CPU)", "ours CPU (s)", "ffmpeg (s/s CPU)",
                "ffmpeg, our lib (s/s)");
    for (const Case& item : kCases) {
        const QString path = folder + "/" + item.name + ".ogg";
        if (!QFileInfo::exists(path)) {
            QProcess maker;
            maker.start(HARBEND_BIN_DIR "/make-recording",
                        {"--stream", item.stream, "--duration", QString::number(kSeconds), path});
            if (!maker.waitForFinished(-1) || maker.exitCode() != 0) {
                std::printf("%-24s cannot be made\n", item.name);
                continue;
            }
        }
        const double before = cpuSeconds();
        const bool decoded = decodeFile(path);
        const double ours = cpuSeconds() - before;
        QString theirs = "n/a", sameLibrary = "n/a";
        if (item.ffmpegReadsIt) {
            const double cpu = childCpuSeconds(
                {"ffmpeg", "-v", "error", "-threads", "1", "-i", path, "-f", "null", "-"});
            if (cpu > 0)
                theirs = QString::number(kSeconds / cpu, 'f', 0);
            const double libraryCpu = childCpuSeconds(
                {"ffmpeg", "-v", "error", "-threads", "1", "-c", item.library, "-i", path, "-f", "null", "-"});
            if (libraryCpu > 0)
                sameLibrary = QString::number(kSeconds / libraryCpu, 'f', 0);
        }
        std::printf("%-24s %14.0f %14.2f %16s %22s%s\n", item.name, kSeconds / ours, ours, qPrintable(theirs),
                    qPrintable(sameLibrary), decoded ? "" : "  (decoding failed)");
        std::fflush(stdout);
    }
    return 0;
}
