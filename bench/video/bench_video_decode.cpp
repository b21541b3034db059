// Pictures decoded per second by our Theora and Dirac decoders (packets read
// into memory first) beside "ffmpeg -i FILE -f null -" on the same files.
// Usage: bench_video_decode [FOLDER] (the recordings are made once and kept;
// build/bench-recordings by default).

#include "tests/video/VideoStreams.h"

#include "Core/Base/Logger.h"
#include "Core/Decoder/Codecs/DecoderVideoDirac.h"
#include "Core/Decoder/Codecs/DecoderVideoTheora.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <cstdio>
#include <memory>

using namespace Harbend;

namespace {

struct Case {
    const char* name;
    const char* stream;
    int headers;
    bool theora;
};

const Case kCases[] = {
    {"theora-640x480", "theora:width=640,height=480,duration=20,keyint=64", 3, true},
    {"theora-1280x720", "theora:width=1280,height=720,duration=10,keyint=64", 3, true},
    {"dirac-640x480", "dirac:width=640,height=480,duration=10", 1, false},
    {"dirac-1280x720", "dirac:width=1280,height=720,duration=5", 1, false},
};

// Wall-clock seconds of one ffmpeg run, -1 when it failed.
double ffmpegSeconds(const QString& path, const QStringList& extra)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-nostdin"} + extra +
                                                 QStringList{"-i", path, "-f", "null", "-"});
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        return -1.0;
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    Logging::SystemLogger::get();
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(HARBEND_BINARY_DIR "/bench-recordings");
    QDir().mkpath(folder);
    std::printf("%-18s %8s %12s %14s %18s\n", "recording", "pictures", "ours (fps)", "ffmpeg (fps)",
                "ffmpeg 1 thread");
    for (const Case& item : kCases) {
        VideoStreams::Recorded recording;
        const QString name = QString::fromLatin1(item.name) + QStringLiteral(".ogg");
        if (QFile::exists(folder + "/" + name)) {
            recording.path = folder + "/" + name;
            VideoStreams::readPackets(recording.path, 100, item.headers, recording.headers, recording.data);
        } else if (!VideoStreams::record(folder, name, QString::fromLatin1(item.stream), item.headers, recording)) {
            std::fprintf(stderr, "cannot make %s\n", item.name);
            return 1;
        }
        std::unique_ptr<Decoder> decoder(item.theora ? static_cast<Decoder*>(new DecoderVideoTheora)
                                                     : static_cast<Decoder*>(new DecoderVideoDirac));
        if (!decoder->open(&recording.headers))
            return 1;
        QElapsedTimer timer;
        timer.start();
        VideoStreams::Packets packets = recording.data;
        packets.append(OggPacket::createEndOfStreamMarker());
        const int pictures = VideoStreams::decodeAll(*decoder, packets).size();
        const double ours = timer.nsecsElapsed() / 1e9;
        decoder->close();
        const double ffmpeg = ffmpegSeconds(recording.path, {});
        const double single = ffmpegSeconds(recording.path, {"-threads", "1"});
        std::printf("%-18s %8d %12.1f %14.1f %18.1f\n", item.name, pictures, pictures / ours,
                    ffmpeg > 0 ? pictures / ffmpeg : 0.0, single > 0 ? pictures / single : 0.0);
    }
    return 0;
}
