// Pictures decoded per CPU second by our Theora and Dirac decoders beside
// libavcodec's decoders of the same formats, both in this process, on the
// same packets already in memory, one picture held at a time (as playback
// lets each go once shown). Dirac: our decoder wraps libavcodec's, with the
// same slice threads; Theora: libtheora against libavcodec's own decoder, one
// thread each. CPU time is the process's (all threads), wall time beside it.
// Usage: bench_video_decode [FOLDER] (the recordings are made once and kept;
// build/bench-recordings by default).

#include "tests/video/VideoStreams.h"

#include "Core/Base/Logger.h"
#include "Core/Decoder/Codecs/DecoderVideoDirac.h"
#include "Core/Decoder/Codecs/DecoderVideoTheora.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

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

const int kRuns = 5;

double cpuSeconds()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

struct Cost {
    int pictures = 0;
    double cpu = 0.0;
    double wall = 0.0;
};

template <class F>
Cost measured(F decode)
{
    Cost cost;
    QElapsedTimer timer;
    timer.start();
    const double before = cpuSeconds();
    cost.pictures = decode();
    cost.cpu = cpuSeconds() - before;
    cost.wall = timer.nsecsElapsed() / 1e9;
    return cost;
}

// Ours: every packet through the decoder as its stream thread feeds it; each
// picture let go at once.
int decodeOurs(const Case& item, VideoStreams::Recorded& recording)
{
    std::unique_ptr<Decoder> decoder(item.theora ? static_cast<Decoder*>(new DecoderVideoTheora)
                                                 : static_cast<Decoder*>(new DecoderVideoDirac));
    if (!decoder->open(&recording.headers))
        return -1;
    int pictures = 0;
    VideoStreams::Packets packets = recording.data;
    packets.append(OggPacket::createEndOfStreamMarker());
    for (const QSharedPointer<OggPacket>& packet : packets) {
        for (int calls = 0; calls < 1000; ++calls) {
            Sample* sample = nullptr;
            const bool finished = decoder->decode(packet, sample);
            if (sample) {
                ++pictures;
                delete sample;
            }
            if (finished)
                break;
        }
    }
    decoder->close();
    return pictures;
}

// Theora headers as libavcodec takes them: each with a 16-bit length in front.
QByteArray theoraExtradata(const VideoStreams::Packets& headers)
{
    QByteArray bytes;
    for (const auto& header : headers) {
        bytes.append(char(header->bytes >> 8));
        bytes.append(char(header->bytes & 0xFF));
        bytes.append(reinterpret_cast<const char*>(header->packet), int(header->bytes));
    }
    return bytes;
}

int receiveAll(AVCodecContext* context, AVFrame* frame)
{
    int pictures = 0;
    while (avcodec_receive_frame(context, frame) == 0) {
        ++pictures;
        av_frame_unref(frame);
    }
    return pictures;
}

// libavcodec: the same packets (Dirac: its header packet first, as ours).
int decodeLibavcodec(const Case& item, const VideoStreams::Recorded& recording)
{
    const AVCodec* codec = avcodec_find_decoder(item.theora ? AV_CODEC_ID_THEORA : AV_CODEC_ID_DIRAC);
    AVCodecContext* context = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!context)
        return -1;
    QByteArray extradata;
    if (item.theora) {
        extradata = theoraExtradata(recording.headers);
        context->extradata = static_cast<uint8_t*>(av_mallocz(size_t(extradata.size()) + AV_INPUT_BUFFER_PADDING_SIZE));
        std::copy(extradata.constBegin(), extradata.constEnd(), context->extradata);
        context->extradata_size = extradata.size();
        context->thread_count = 1;
    } else {
        context->thread_type = FF_THREAD_SLICE;
        context->thread_count = 0;
    }
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    int pictures = -1;
    if (avcodec_open2(context, codec, nullptr) == 0) {
        pictures = 0;
        VideoStreams::Packets packets = recording.data;
        if (!item.theora)
            packets.prepend(recording.headers.first());
        for (const auto& source : packets) {
            if (av_new_packet(packet, int(source->bytes)) != 0)
                break;
            std::copy(source->packet, source->packet + source->bytes, packet->data);
            if (avcodec_send_packet(context, packet) == AVERROR(EAGAIN)) {
                pictures += receiveAll(context, frame);
                avcodec_send_packet(context, packet);
            }
            av_packet_unref(packet);
            pictures += receiveAll(context, frame);
        }
        avcodec_send_packet(context, nullptr);
        pictures += receiveAll(context, frame);
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return pictures;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    Logging::SystemLogger::get();
    av_log_set_level(AV_LOG_QUIET);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(HARBEND_BINARY_DIR "/bench-recordings");
    QDir().mkpath(folder);
    std::printf("Medians of %d runs, ours and libavcodec alternating.\n", kRuns);
    std::printf("%-16s %8s %14s %14s %14s %14s %10s\n", "recording", "pictures", "ours fps/CPU", "lavc fps/CPU",
                "ours fps/wall", "lavc fps/wall", "CPU ratio");
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
        std::vector<double> oursCpu, oursWall, theirsCpu, theirsWall;
        int ourPictures = 0, theirPictures = 0;
        for (int run = 0; run < kRuns; ++run) {
            const Cost ours = measured([&] { return decodeOurs(item, recording); });
            const Cost theirs = measured([&] { return decodeLibavcodec(item, recording); });
            ourPictures = ours.pictures;
            theirPictures = theirs.pictures;
            oursCpu.push_back(ours.pictures / ours.cpu);
            oursWall.push_back(ours.pictures / ours.wall);
            theirsCpu.push_back(theirs.pictures / theirs.cpu);
            theirsWall.push_back(theirs.pictures / theirs.wall);
        }
        std::printf("%-16s %4d/%-4d %14.1f %14.1f %14.1f %14.1f %10.2f\n", item.name, ourPictures, theirPictures,
                    median(oursCpu), median(theirsCpu), median(oursWall), median(theirsWall),
                    median(oursCpu) / median(theirsCpu));
        std::fflush(stdout);
    }
    return 0;
}
