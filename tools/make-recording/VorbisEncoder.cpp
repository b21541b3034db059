#include "VorbisEncoder.h"

#include "ToneSource.h"

#include <vorbis/vorbisenc.h>

#include <cmath>

namespace {

Packet toPacket(const ogg_packet& source, std::int64_t granuleOffset)
{
    Packet packet;
    packet.data.assign(source.packet, source.packet + source.bytes);
    packet.granule = source.granulepos < 0 ? -1 : source.granulepos + granuleOffset;
    return packet;
}

} // namespace

bool VorbisEncoder::encode(const StreamSpec& spec, std::vector<Packet>& headers, std::vector<Packet>& data,
                           std::string& error)
{
    rate = spec.rate ? spec.rate : 44100;
    channels = spec.channels;
    vorbis_info info;
    vorbis_info_init(&info);
    const float quality = spec.quality >= 0 ? float(spec.quality) : 0.4f;
    if (vorbis_encode_init_vbr(&info, channels, rate, quality) != 0) {
        vorbis_info_clear(&info);
        error = "libvorbis refuses this rate and channel count";
        return false;
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    for (const auto& entry : spec.comments)
        vorbis_comment_add_tag(&comment, entry.first.c_str(), entry.second.c_str());
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_packet id, commentPacket, codebooks;
    vorbis_analysis_headerout(&dsp, &comment, &id, &commentPacket, &codebooks);
    headers.push_back(toPacket(id, 0));
    headers.push_back(toPacket(commentPacket, 0));
    headers.push_back(toPacket(codebooks, 0));

    const ToneSource tones(spec, rate);
    const std::int64_t offset = std::llround(spec.start * rate);
    const int chunk = 1024;
    long long position = 0;
    bool ended = false;
    while (!ended) {
        const long long left = tones.totalFrames() - position;
        if (left > 0) {
            const int count = int(left < chunk ? left : chunk);
            float** buffer = vorbis_analysis_buffer(&dsp, count);
            for (int c = 0; c < channels; ++c)
                tones.fill(c, position, count, 1.0, buffer[c]);
            vorbis_analysis_wrote(&dsp, count);
            position += count;
        } else {
            vorbis_analysis_wrote(&dsp, 0);
            ended = true;
        }
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet) == 1)
                data.push_back(toPacket(packet, offset));
        }
    }
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return true;
}

double VorbisEncoder::granuleToMs(std::int64_t granule) const { return double(granule) * 1000.0 / rate; }

std::string VorbisEncoder::describe() const
{
    return "\"rate\": " + std::to_string(rate) + ", \"channels\": " + std::to_string(channels);
}
