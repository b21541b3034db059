#include "Core/Decoder/Codecs/DecoderVideoTheora.h"

#include "Core/Decoder/Codecs/VideoSampleWriter.h"
#include "Core/Decoder/VideoSample.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Decoder/Codecs/DecoderVideoTheora";

// libtheora reads from a non-const ogg_packet.
ogg_packet asOggPacket(const OggPacket& p)
{
    return ogg_packet{p.packet, p.bytes, p.b_o_s, p.e_o_s, p.granulepos, p.packetno};
}

// Saturates instead of overflowing on granule positions that no real stream has.
qint64 timeOfPicture(qint64 number, qint64 duration)
{
    qint64 result = 0;
    if (__builtin_mul_overflow(number, duration, &result))
        return number < 0 ? std::numeric_limits<qint64>::min() : std::numeric_limits<qint64>::max();
    return result;
}

// Pictures after a saturated time stay at the largest time instead of wrapping.
qint64 nextTime(qint64 time, qint64 duration)
{
    qint64 result = 0;
    return __builtin_add_overflow(time, duration, &result) ? std::numeric_limits<qint64>::max() : result;
}
} // namespace

Logging::Log DecoderVideoTheora::ms_log("DecoderVideoTheora", Logging::Log::systemLogger());

DecoderVideoTheora::DecoderVideoTheora()
    : decoder(nullptr),
      infoReady(false),
      pixelFormat(QVideoFrame::Format_Invalid),
      frameBytes(0),
      frameDuration(0),
      time(0),
      target(0),
      layout(VideoPlaneLayout::yuv420p(0, 0)),
      granuleOffset(0),
      waitKeyFrame(false),
      timeKnown(true)
{
    std::memset(&info, 0, sizeof info);
}

DecoderVideoTheora::~DecoderVideoTheora() { close(); }

bool DecoderVideoTheora::open(Headers* headers)
{
    th_info_init(&info);
    infoReady = true;
    th_comment comment;
    th_comment_init(&comment);
    th_setup_info* setup = nullptr;
    bool headersRead = headers != nullptr && !headers->isEmpty();
    for (int i = 0; headersRead && i < headers->size(); ++i) {
        const OggPacket* header = headers->at(i).data();
        ogg_packet packet = header ? asOggPacket(*header) : ogg_packet{};
        headersRead = header && th_decode_headerin(&info, &comment, &setup, &packet) >= 0;
    }
    if (headersRead && (info.fps_numerator == 0 || info.fps_denominator == 0))
        headersRead = false;
    if (!headersRead) {
        HARBEND_LOG(Error, "Failed to decode headers!");
        th_setup_free(setup);
        th_comment_clear(&comment);
        return false;
    }
    decoder = th_decode_alloc(&info, setup);
    th_setup_free(setup);
    th_comment_clear(&comment);
    if (!decoder) {
        HARBEND_LOG(Error, "Failed to allocate Theora decoder! Out of memory?");
        return false;
    }

    // Only the picture region is shown, not the padding of the coded frame.
    const unsigned w = info.pic_width, h = info.pic_height;
    switch (info.pixel_fmt) {
    case TH_PF_420:
        pixelFormat = QVideoFrame::Format_YUV420P;
        layout = VideoPlaneLayout::yuv420p(w, h);
        break;
    case TH_PF_422:
        // Planar, as libtheora gives it: no packed format describes these bytes.
        pixelFormat = QVideoFrame::Format_YUV422P;
        layout = VideoPlaneLayout::yuv422p(w, h);
        break;
    case TH_PF_444:
        pixelFormat = QVideoFrame::Format_YUV444;
        layout = VideoPlaneLayout::yuv444p(w, h);
        break;
    default:
        HARBEND_LOG(Error, "Unsupported pixel format!");
        return false;
    }
    frameBytes = layout.total;
    frameDuration = qint64(info.fps_denominator) * 1000000000 / qint64(info.fps_numerator);
    time = target = 0;
    waitKeyFrame = false;
    timeKnown = true;
    const int version = info.version_major * 1000000 + info.version_minor * 1000 + info.version_subminor;
    granuleOffset = version > 3002000 ? 1 : 0;
    HARBEND_LOG(Success, "Successfully initialized Theora decoder.");
    return true;
}

void DecoderVideoTheora::close()
{
    if (infoReady) {
        th_info_clear(&info);
        infoReady = false;
    }
    if (decoder) {
        th_decode_free(decoder);
        decoder = nullptr;
        HARBEND_LOG(Success, "Closed Theora decoder.");
    }
}

bool DecoderVideoTheora::decode(QSharedPointer<OggPacket> packet, Sample*& sample)
{
    // The end-of-stream marker carries no picture, and its granule position is no time.
    if (!packet || packet->isEndOfStreamMarker() || !decoder)
        return true;

    const qint64 granule = packet->granulepos;
    if (granule < 0) {
        if (timeKnown)
            time = nextTime(time, frameDuration);
    } else {
        const int shift = info.keyframe_granule_shift;
        const qint64 number = (granule >> shift) + (granule & ((qint64(1) << shift) - 1)) - granuleOffset;
        qint64 t = timeOfPicture(number, frameDuration);
        if (t != 0)
            t -= frameDuration;
        // A granule position below the first picture's is no reason to show it before 0.
        time = std::max<qint64>(t, 0);
        timeKnown = true;
    }

    ogg_packet op = asOggPacket(*packet);
    if (waitKeyFrame) {
        if (th_packet_iskeyframe(&op) == 0)
            return true;
        waitKeyFrame = false;
    }

    const int result = th_decode_packetin(decoder, &op, nullptr);
    if (result == TH_DUPFRAME)
        return true;
    if (result != 0) {
        HARBEND_LOG(Error, "Failed to parse packet!");
        return true;
    }
    if (timeKnown && time >= target)
        emitPicture(sample);
    return true;
}

void DecoderVideoTheora::emitPicture(Sample*& sample)
{
    th_ycbcr_buffer picture;
    if (th_decode_ycbcr_out(decoder, picture) != 0) {
        HARBEND_LOG(Error, "Failed to decode frame!");
        return;
    }
    SourcePicture source;
    for (int p = 0; p < 3; ++p) {
        // The region's offset in this plane (chroma planes may be halved either way).
        const int x = p && info.pixel_fmt != TH_PF_444 ? int(info.pic_x / 2) : int(info.pic_x);
        const int y = p && info.pixel_fmt == TH_PF_420 ? int(info.pic_y / 2) : int(info.pic_y);
        source.data[p] = picture[p].data + std::ptrdiff_t(y) * picture[p].stride + x;
        source.stride[p] = picture[p].stride;
        source.width[p] = picture[p].width - x;
        source.height[p] = picture[p].height - y;
    }
    sample = VideoSampleWriter::write(source, layout, pixelFormat, QSize(int(info.pic_width), int(info.pic_height)),
                                      time, frameDuration, pool);
    if (!sample)
        HARBEND_LOG(Error, "Failed to write data to video output buffer!");
}

bool DecoderVideoTheora::seeked(qint64 ns)
{
    time = target = ns;
    waitKeyFrame = true;
    timeKnown = false;
    return true;
}

} // namespace Harbend
