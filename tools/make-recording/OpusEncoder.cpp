#include "OpusEncoder.h"

#include "CommentPacket.h"
#include "ToneSource.h"

#include <opus/opus.h>
#include <opus/opus_multistream.h>

#include <cmath>

namespace {

const int kGranuleRate = 48000;

bool supportedRate(int rate)
{
    return rate == 8000 || rate == 12000 || rate == 16000 || rate == 24000 || rate == 48000;
}

} // namespace

bool OpusEncoder::encode(const StreamSpec& spec, std::vector<Packet>& headers, std::vector<Packet>& data,
                         std::string& error)
{
    inputRate = spec.inputRate;
    encodingRate = supportedRate(inputRate) ? inputRate : kGranuleRate;
    channels = spec.channels;
    if (channels < 1 || channels > 255) {
        error = "opus needs 1 to 255 channels";
        return false;
    }
    if (spec.frameMs != 10 && spec.frameMs != 20 && spec.frameMs != 40 && spec.frameMs != 60 && spec.frameMs != 80 &&
        spec.frameMs != 100 && spec.frameMs != 120) {
        error = "opus frames are 10, 20, 40, 60, 80, 100 or 120 ms";
        return false;
    }
    std::vector<unsigned char> mapping(static_cast<size_t>(channels));
    for (int c = 0; c < channels; ++c)
        mapping[size_t(c)] = static_cast<unsigned char>(c);
    const int application = spec.application == "voip"       ? OPUS_APPLICATION_VOIP
                            : spec.application == "lowdelay" ? OPUS_APPLICATION_RESTRICTED_LOWDELAY
                                                             : OPUS_APPLICATION_AUDIO;
    int result = 0;
    OpusMSEncoder* encoder = opus_multistream_encoder_create(encodingRate, channels, channels, 0, mapping.data(),
                                                             application, &result);
    if (!encoder || result != OPUS_OK) {
        error = std::string("libopus: ") + opus_strerror(result);
        return false;
    }
    opus_multistream_encoder_ctl(encoder, OPUS_SET_BITRATE(spec.bitrate > 0 ? spec.bitrate : 24000 * channels));
    opus_multistream_encoder_ctl(encoder, OPUS_SET_COMPLEXITY(10));
    opus_int32 lookahead = 0;
    opus_multistream_encoder_ctl(encoder, OPUS_GET_LOOKAHEAD(&lookahead));
    preSkip = int(lookahead) * (kGranuleRate / encodingRate);

    Packet head;
    const std::string magic = "OpusHead";
    head.data.assign(magic.begin(), magic.end());
    head.data.push_back(1);
    head.data.push_back(static_cast<unsigned char>(channels));
    appendLe16(head.data, unsigned(preSkip));
    appendLe32(head.data, unsigned(inputRate));
    appendLe16(head.data, 0);
    if (channels == 1) {
        head.data.push_back(0);
    } else {
        head.data.push_back(255);
        head.data.push_back(static_cast<unsigned char>(channels));
        head.data.push_back(0);
        head.data.insert(head.data.end(), mapping.begin(), mapping.end());
    }
    head.granule = 0;
    headers.push_back(head);
    Packet tags;
    tags.data = makeCommentPacket("OpusTags", "make-recording", spec.comments);
    tags.granule = 0;
    headers.push_back(tags);

    const ToneSource tones(spec, encodingRate);
    const int frame = encodingRate * spec.frameMs / 1000;
    const int scale = kGranuleRate / encodingRate;
    const std::int64_t offset = std::llround(spec.start * kGranuleRate) + preSkip;
    std::vector<float> planar(static_cast<size_t>(frame));
    std::vector<float> interleaved(size_t(frame) * size_t(channels));
    std::vector<unsigned char> out(size_t(4000) * size_t(channels));
    const long long total = tones.totalFrames();
    for (long long position = 0; position < total; position += frame) {
        for (int c = 0; c < channels; ++c) {
            tones.fill(c, position, frame, 1.0, planar.data());
            for (int i = 0; i < frame; ++i)
                interleaved[size_t(i) * size_t(channels) + size_t(c)] = planar[size_t(i)];
        }
        const int bytes = opus_multistream_encode_float(encoder, interleaved.data(), frame, out.data(),
                                                        opus_int32(out.size()));
        if (bytes < 0) {
            opus_multistream_encoder_destroy(encoder);
            error = std::string("libopus: ") + opus_strerror(bytes);
            return false;
        }
        Packet packet;
        packet.data.assign(out.begin(), out.begin() + bytes);
        const long long end = position + frame < total ? position + frame : total;
        packet.granule = offset + end * scale;
        data.push_back(packet);
    }
    opus_multistream_encoder_destroy(encoder);
    return true;
}

double OpusEncoder::granuleToMs(std::int64_t granule) const { return double(granule) * 1000.0 / kGranuleRate; }

std::string OpusEncoder::describe() const
{
    return "\"rate\": " + std::to_string(supportedRate(inputRate) ? inputRate : kGranuleRate) +
           ", \"inputRate\": " + std::to_string(inputRate) + ", \"channels\": " + std::to_string(channels) +
           ", \"preSkip\": " + std::to_string(preSkip);
}
