#include "Core/Decoder/Codecs/DecoderVideoDirac.h"

#include "Core/Decoder/Codecs/VideoSampleWriter.h"
#include "Core/Decoder/VideoSample.h"
#include "Core/Output/VideoPlaneLayout.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/dirac.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <cstring>
#include <limits>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Decoder/Codecs/DecoderVideoDirac";

// The parse-info header in front of every Dirac data unit.
const int kParseInfoBytes = 13;
// Library failures in a row before a packet is given up.
const int kMaxFailures = 8;

// The sequence header that leads a packet, with its link to the unit before
// it cleared (it differs from packet to packet); empty when there is none.
QByteArray leadingSequenceHeader(const unsigned char* data, long bytes)
{
    if (!data || bytes < kParseInfoBytes || std::memcmp(data, "BBCD", 4) != 0 || data[4] != 0x00)
        return QByteArray();
    const long size = long((unsigned(data[5]) << 24) | (unsigned(data[6]) << 16) | (unsigned(data[7]) << 8) | data[8]);
    if (size < kParseInfoBytes || size > bytes)
        return QByteArray();
    QByteArray unit(reinterpret_cast<const char*>(data), int(size));
    std::memset(unit.data() + 9, 0, 4);
    return unit;
}

quint32 pictureDuration(const AVRational& rate) { return quint32(qint64(rate.den) * 1000000000 / rate.num); }

// The library's bit reader reads past the end of what it is given: the
// sequence header is parsed from a copy followed by the zeros it expects.
int parseSequenceHeader(AVDiracSeqHeader** sequence, const unsigned char* unit, long bytes)
{
    if (!unit || bytes <= kParseInfoBytes)
        return -1;
    QByteArray padded(reinterpret_cast<const char*>(unit) + kParseInfoBytes, int(bytes - kParseInfoBytes));
    padded.append(QByteArray(AV_INPUT_BUFFER_PADDING_SIZE, '\0'));
    return av_dirac_parse_sequence_header(sequence, reinterpret_cast<const uint8_t*>(padded.constData()),
                                          size_t(bytes - kParseInfoBytes), nullptr);
}
} // namespace

Logging::Log DecoderVideoDirac::ms_log("DecoderVideoDirac", Logging::Log::systemLogger());

DecoderVideoDirac::DecoderVideoDirac()
    : context(nullptr),
      picture(nullptr),
      packet(nullptr),
      frameDuration(0),
      waitIntra(false),
      target(0),
      draining(false),
      failures(0)
{
}

DecoderVideoDirac::~DecoderVideoDirac() { close(); }

bool DecoderVideoDirac::open(Headers* headers)
{
    const OggPacket* header = headers && !headers->isEmpty() ? headers->first().data() : nullptr;
    if (!header) {
        HARBEND_LOG(Error, "Unable to open Dirac decoder, provided headerlist is null!");
        return false;
    }

    // The library's own messages stay out of the console and the log.
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DIRAC);
    context = codec ? avcodec_alloc_context3(codec) : nullptr;
    picture = av_frame_alloc();
    packet = av_packet_alloc();
    if (context) {
        // Slice threads stand for the library's own workers; they add no delay.
        context->thread_type = FF_THREAD_SLICE;
        context->thread_count = 0;
    }
    if (!context || !picture || !packet || avcodec_open2(context, codec, nullptr) < 0) {
        HARBEND_LOG(Error, "Failed to initialize Dirac decoder. Out of memory?");
        return false;
    }

    AVDiracSeqHeader* sequence = nullptr;
    if (parseSequenceHeader(&sequence, header->packet, header->bytes) < 0) {
        HARBEND_LOG(Error, "Error occured during parsing of the header!");
        return false;
    }
    const bool planar420 = sequence->pix_fmt == AV_PIX_FMT_YUV420P;
    const AVRational rate = sequence->framerate;
    av_free(sequence);
    if (!planar420) {
        HARBEND_LOG(Error, "Wrong chroma format!");
        return false;
    }
    if (rate.num <= 0 || rate.den <= 0) {
        HARBEND_LOG(Error, "Error occured during parsing of the header!");
        return false;
    }
    sequenceHeader = leadingSequenceHeader(header->packet, header->bytes);
    if (sequenceHeader.isEmpty() || !push(header->packet, int(header->bytes))) {
        HARBEND_LOG(Error, "Error occured during parsing of the header!");
        return false;
    }
    frameDuration = pictureDuration(rate);
    waitIntra = false;
    target = 0;
    draining = false;
    failures = 0;
    HARBEND_LOG(Success, "Successfully initialized Dirac decoder.");
    return true;
}

void DecoderVideoDirac::close()
{
    const bool opened = context != nullptr;
    avcodec_free_context(&context);
    av_frame_free(&picture);
    av_packet_free(&packet);
    sequenceHeader.clear();
    if (opened)
        HARBEND_LOG(Success, "Closed Dirac decoder.");
}

bool DecoderVideoDirac::push(const unsigned char* data, int bytes)
{
    // The library reads past the end of the data: the packet carries its padding.
    if (av_new_packet(packet, bytes) < 0)
        return false;
    std::memcpy(packet->data, data, size_t(bytes));
    const int result = avcodec_send_packet(context, packet);
    av_packet_unref(packet);
    return result >= 0;
}

bool DecoderVideoDirac::decode(QSharedPointer<OggPacket> in, Sample*& sample)
{
    if (!context || !in)
        return true;
    const bool endOfStream = in->isEndOfStreamMarker();
    if (!endOfStream && isEmpty(in))
        return true;

    // A picture finished from earlier bits goes out first, one per call.
    const int received = avcodec_receive_frame(context, picture);
    if (received == 0) {
        failures = 0;
        const bool intra = picture->key_frame || picture->pict_type == AV_PICTURE_TYPE_I;
        if (waitIntra && !intra) {
            av_frame_unref(picture);
            return false;
        }
        waitIntra = false;
        if (pictureTime() < target) {
            av_frame_unref(picture);
            return false;
        }
        // Reached: later pictures all go out, whatever comes next.
        target = 0;
        // A picture that cannot be copied is dropped, but the packet in hand
        // has not been given to the library yet: ask for it again.
        emitPicture(sample);
        av_frame_unref(picture);
        return false;
    }
    if (received != AVERROR(EAGAIN) && received != AVERROR_EOF) {
        HARBEND_LOG(Error, "Unexpected decoder state!");
        return ++failures >= kMaxFailures;
    }

    if (endOfStream) {
        if (received == AVERROR_EOF || draining) {
            HARBEND_LOG(Debug, "Encountered EOS");
            return true;
        }
        draining = true;
        avcodec_send_packet(context, nullptr);
        return false;
    }
    // A new sequence (another size, rate or format): the library keeps the
    // first one it saw, so it is drained and started again on the new one.
    const QByteArray header = leadingSequenceHeader(in->packet, in->bytes);
    const bool newSequence = !header.isEmpty() && header != sequenceHeader;
    if (newSequence && !draining && received != AVERROR_EOF) {
        draining = true;
        avcodec_send_packet(context, nullptr);
        return false;
    }
    if (draining || received == AVERROR_EOF) {
        avcodec_flush_buffers(context);
        if (newSequence)
            adopt(header);
        else
            push(reinterpret_cast<const unsigned char*>(sequenceHeader.constData()), sequenceHeader.size());
        draining = false;
    }
    failures = 0;
    if (!push(in->packet, int(in->bytes)))
        HARBEND_LOG(Error, "Failed to push packet into the decoder!");
    return true;
}

void DecoderVideoDirac::adopt(const QByteArray& header)
{
    sequenceHeader = header;
    AVDiracSeqHeader* sequence = nullptr;
    if (parseSequenceHeader(&sequence, reinterpret_cast<const unsigned char*>(header.constData()), header.size()) >=
        0) {
        if (sequence->framerate.num > 0 && sequence->framerate.den > 0)
            frameDuration = pictureDuration(sequence->framerate);
        av_free(sequence);
    }
}

bool DecoderVideoDirac::emitPicture(Sample*& sample)
{
    const int width = picture->width, height = picture->height;
    if (picture->format != AV_PIX_FMT_YUV420P || width <= 0 || height <= 0) {
        HARBEND_LOG(Error, "Failed to write data to video output buffer!");
        return false;
    }
    // Sized from this picture: a change of size within the stream cannot overrun it.
    const VideoPlaneLayout layout = VideoPlaneLayout::yuv420p(unsigned(width), unsigned(height));
    SourcePicture source;
    for (int p = 0; p < 3; ++p) {
        source.data[p] = picture->data[p];
        source.stride[p] = picture->linesize[p];
        source.width[p] = int(layout.width[p]);
        source.height[p] = int(layout.height[p]);
    }
    sample = VideoSampleWriter::write(source, layout, QVideoFrame::Format_YUV420P, QSize(width, height), pictureTime(),
                                      frameDuration, pool);
    if (!sample) {
        HARBEND_LOG(Error, "Failed to write data to video output buffer!");
        return false;
    }
    return true;
}

qint64 DecoderVideoDirac::pictureTime() const
{
    qint64 time = 0;
    if (__builtin_mul_overflow(qint64(picture->display_picture_number), qint64(frameDuration), &time))
        time = std::numeric_limits<qint64>::max();
    return time;
}

bool DecoderVideoDirac::seeked(qint64 ns)
{
    target = ns;
    if (!context)
        return true;
    avcodec_flush_buffers(context);
    draining = false;
    failures = 0;
    waitIntra = true;
    // The library forgets the sequence with its pictures: it comes first again.
    push(reinterpret_cast<const unsigned char*>(sequenceHeader.constData()), sequenceHeader.size());
    return true;
}

} // namespace Harbend
