#include "DiracEncoder.h"

#include "PictureDrawer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <cstring>

namespace {

const unsigned char kEndOfSequence = 0x10;
const unsigned char kSequenceHeader = 0x00;
// Parse codes of pictures have this bit set; their number follows the parse-info header.
const unsigned char kPictureBit = 0x08;
const size_t kParseInfoBytes = 13;

unsigned readBe32(const unsigned char* at)
{
    return (unsigned(at[0]) << 24) | (unsigned(at[1]) << 16) | (unsigned(at[2]) << 8) | at[3];
}

void writeBe32(unsigned char* at, unsigned value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

struct Unit {
    size_t offset;
    size_t size;
    unsigned char code;
};

// The parse units of one encoded packet, in order.
std::vector<Unit> splitUnits(const unsigned char* data, size_t size)
{
    std::vector<Unit> units;
    size_t offset = 0;
    while (offset + kParseInfoBytes <= size && std::memcmp(data + offset, "BBCD", 4) == 0) {
        const unsigned next = readBe32(data + offset + 5);
        const size_t unitSize = next == 0 ? kParseInfoBytes : next;
        if (offset + unitSize > size)
            break;
        units.push_back({offset, unitSize, data[offset + 4]});
        offset += unitSize;
    }
    return units;
}

// Joins units into one packet, rewriting the next and previous offsets and
// giving each picture the number its granule position carries (the encoder
// counts from 0, the stream from its first data time).
std::vector<unsigned char> joinUnits(const unsigned char* data, const std::vector<Unit>& units,
                                     long long pictureNumber = 0)
{
    std::vector<unsigned char> out;
    size_t previous = 0;
    for (const Unit& unit : units) {
        const size_t at = out.size();
        out.insert(out.end(), data + unit.offset, data + unit.offset + unit.size);
        writeBe32(out.data() + at + 5, unsigned(unit.size));
        writeBe32(out.data() + at + 9, unsigned(previous));
        if ((unit.code & kPictureBit) && unit.size >= kParseInfoBytes + 4)
            writeBe32(out.data() + at + kParseInfoBytes, unsigned(pictureNumber));
        previous = unit.size;
    }
    return out;
}

} // namespace

bool DiracEncoder::encode(const StreamSpec& spec, std::vector<Packet>& headers, std::vector<Packet>& data,
                          std::string& error)
{
    width = spec.width;
    height = spec.height;
    placePictures(spec);
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_encoder_by_name("vc2");
    if (!codec) {
        error = "libavcodec has no VC-2 encoder";
        return false;
    }
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = AVRational{fpsDenominator, fpsNumerator};
    context->framerate = AVRational{fpsNumerator, fpsDenominator};
    context->bit_rate = int64_t(width) * height * 2 * fpsNumerator / fpsDenominator;
    context->thread_count = 1;
    if (avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        error = "libavcodec refuses these VC-2 parameters";
        return false;
    }
    AVFrame* frame = av_frame_alloc();
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_YUV420P;
    av_frame_get_buffer(frame, 0);
    AVPacket* encoded = av_packet_alloc();

    const PictureDrawer drawer(width, height);
    cellWidth = drawer.cellWidth();
    cellHeight = drawer.cellHeight();
    std::vector<unsigned char> planes[3];
    long long picture = 0;
    bool failed = false;
    for (long long n = 0; n <= pictures && !failed; ++n) {
        if (n < pictures) {
            drawer.draw(firstPicture + n, planes[0], planes[1], planes[2], width, height);
            av_frame_make_writable(frame);
            for (int p = 0; p < 3; ++p) {
                const int w = p ? (width + 1) / 2 : width;
                const int h = p ? (height + 1) / 2 : height;
                for (int row = 0; row < h; ++row)
                    std::memcpy(frame->data[p] + row * frame->linesize[p], planes[p].data() + size_t(row) * size_t(w),
                                size_t(w));
            }
            frame->pts = n;
            failed = avcodec_send_frame(context, frame) < 0;
        } else {
            failed = avcodec_send_frame(context, nullptr) < 0;
        }
        while (!failed && avcodec_receive_packet(context, encoded) == 0) {
            std::vector<Unit> units = splitUnits(encoded->data, size_t(encoded->size));
            std::vector<Unit> kept;
            for (const Unit& unit : units) {
                if (unit.code == kSequenceHeader && headers.empty()) {
                    Packet header;
                    header.data = joinUnits(encoded->data, {unit});
                    header.granule = 0;
                    headers.push_back(header);
                }
                if (unit.code != kEndOfSequence)
                    kept.push_back(unit);
            }
            Packet packet;
            packet.data = joinUnits(encoded->data, kept, firstPicture + picture);
            packet.granule = (firstPicture + picture) << 32;
            data.push_back(packet);
            ++picture;
            av_packet_unref(encoded);
        }
    }
    av_packet_free(&encoded);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    if (failed || headers.empty()) {
        error = "VC-2 encoding failed";
        return false;
    }
    return true;
}

double DiracEncoder::granuleToMs(std::int64_t granule) const { return pictureMs(granule >> 32); }

// A page's data ends with its last picture.
double DiracEncoder::pageEndMs(std::int64_t granule) const { return granuleToMs(granule) + pictureMs(1); }

std::string DiracEncoder::describe() const
{
    return "\"width\": " + std::to_string(width) + ", \"height\": " + std::to_string(height) +
           ", \"fpsNumerator\": " + std::to_string(fpsNumerator) +
           ", \"fpsDenominator\": " + std::to_string(fpsDenominator) +
           ", \"firstPicture\": " + std::to_string(firstPicture) +
           ", \"pictureCode\": {\"bits\": " + std::to_string(PictureDrawer::kCodeBits) +
           ", \"cellWidth\": " + std::to_string(cellWidth) + ", \"cellHeight\": " + std::to_string(cellHeight) + "}";
}
