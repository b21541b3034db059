#include "TheoraEncoder.h"

#include "PictureDrawer.h"

#include <theora/theoraenc.h>

namespace {

Packet toPacket(const ogg_packet& source)
{
    Packet packet;
    packet.data.assign(source.packet, source.packet + source.bytes);
    packet.granule = source.granulepos;
    return packet;
}

} // namespace

bool TheoraEncoder::encode(const StreamSpec& spec, std::vector<Packet>& headers, std::vector<Packet>& data,
                           std::string& error)
{
    width = spec.width;
    height = spec.height;
    // Any picture from 1 x 1 up; the coded frame is whole macroblocks around it.
    if (width < 1 || height < 1) {
        error = "theora pictures have at least one pixel each way";
        return false;
    }
    frameWidth = (width + 15) & ~15;
    frameHeight = (height + 15) & ~15;
    placePictures(spec);
    keyInterval = spec.keyInterval;
    th_info info;
    th_info_init(&info);
    info.frame_width = unsigned(frameWidth);
    info.frame_height = unsigned(frameHeight);
    info.pic_width = unsigned(width);
    info.pic_height = unsigned(height);
    info.pic_x = 0;
    info.pic_y = 0;
    info.fps_numerator = unsigned(fpsNumerator);
    info.fps_denominator = unsigned(fpsDenominator);
    info.aspect_numerator = 1;
    info.aspect_denominator = 1;
    info.colorspace = TH_CS_UNSPECIFIED;
    info.pixel_fmt = TH_PF_420;
    info.target_bitrate = 0;
    info.quality = spec.quality >= 0 ? int(spec.quality) : 40;
    shift = 0;
    while ((1 << shift) < keyInterval)
        ++shift;
    info.keyframe_granule_shift = shift;
    th_enc_ctx* encoder = th_encode_alloc(&info);
    th_info_clear(&info);
    if (!encoder) {
        error = "libtheora refuses these parameters";
        return false;
    }
    int interval = keyInterval;
    th_encode_ctl(encoder, TH_ENCCTL_SET_KEYFRAME_FREQUENCY_FORCE, &interval, sizeof interval);
    th_comment comment;
    th_comment_init(&comment);
    for (const auto& entry : spec.comments)
        th_comment_add_tag(&comment, const_cast<char*>(entry.first.c_str()), const_cast<char*>(entry.second.c_str()));
    ogg_packet packet;
    while (th_encode_flushheader(encoder, &comment, &packet) > 0)
        headers.push_back(toPacket(packet));
    th_comment_clear(&comment);

    const PictureDrawer drawer(width, height);
    cellWidth = drawer.cellWidth();
    cellHeight = drawer.cellHeight();
    std::vector<unsigned char> y, u, v;
    for (long long n = 0; n < pictures; ++n) {
        drawer.draw(firstPicture + n, y, u, v, frameWidth, frameHeight);
        if (spec.busyAt(double(n) * spec.fpsDenominator / spec.fpsNumerator)) {
            // Noise over the lower half: the code row and the digits' top stay readable.
            for (std::size_t i = y.size() / 2; i < y.size(); ++i)
                y[i] = static_cast<unsigned char>(128 + 100 * StreamSpec::noise(std::uint64_t(n) << 24 | i));
        }
        th_ycbcr_buffer buffer;
        unsigned char* planes[3] = {y.data(), u.data(), v.data()};
        for (int p = 0; p < 3; ++p) {
            const int w = p ? frameWidth / 2 : frameWidth;
            const int h = p ? frameHeight / 2 : frameHeight;
            buffer[p].width = w;
            buffer[p].height = h;
            buffer[p].stride = w;
            buffer[p].data = planes[p];
        }
        if (th_encode_ycbcr_in(encoder, buffer) != 0) {
            th_encode_free(encoder);
            error = "libtheora refused a picture";
            return false;
        }
        while (th_encode_packetout(encoder, n + 1 == pictures, &packet) > 0) {
            Packet out = toPacket(packet);
            if (out.granule >= 0) {
                const std::int64_t key = out.granule >> shift;
                const std::int64_t delta = out.granule & ((std::int64_t(1) << shift) - 1);
                out.granule = ((key + firstPicture) << shift) + delta;
            }
            data.push_back(out);
        }
    }
    th_encode_free(encoder);
    return true;
}

double TheoraEncoder::granuleToMs(std::int64_t granule) const
{
    return pictureMs((granule >> shift) + (granule & ((std::int64_t(1) << shift) - 1)) - 1);
}

double TheoraEncoder::pageEndMs(std::int64_t granule) const { return granuleToMs(granule) + pictureMs(1); }

std::string TheoraEncoder::describe() const
{
    return "\"width\": " + std::to_string(width) + ", \"height\": " + std::to_string(height) +
           ", \"frameWidth\": " + std::to_string(frameWidth) + ", \"frameHeight\": " + std::to_string(frameHeight) +
           ", \"fpsNumerator\": " + std::to_string(fpsNumerator) +
           ", \"fpsDenominator\": " + std::to_string(fpsDenominator) + ", \"granuleShift\": " + std::to_string(shift) +
           ", \"keyInterval\": " + std::to_string(keyInterval) + ", \"firstPicture\": " + std::to_string(firstPicture) +
           ", \"pictureCode\": {\"bits\": " + std::to_string(PictureDrawer::kCodeBits) +
           ", \"cellWidth\": " + std::to_string(cellWidth) + ", \"cellHeight\": " + std::to_string(cellHeight) + "}";
}
