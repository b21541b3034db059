#include "SpeexEncoder.h"

#include "CommentPacket.h"
#include "ToneSource.h"

#include <speex/speex.h>
#include <speex/speex_header.h>

#include <cmath>
#include <cstdlib>

namespace {

const int kRecorderChannels = 13;

} // namespace

bool SpeexEncoder::encode(const StreamSpec& spec, std::vector<Packet>& headers, std::vector<Packet>& data,
                          std::string& error)
{
    mode = spec.mode;
    const int modeId = mode == "narrow" ? SPEEX_MODEID_NB : mode == "ultra" ? SPEEX_MODEID_UWB : SPEEX_MODEID_WB;
    if (mode != "narrow" && mode != "wide" && mode != "ultra") {
        error = "speex modes are narrow, wide and ultra";
        return false;
    }
    const bool recorderLayout = spec.layout == "serial1";
    channels = recorderLayout ? kRecorderChannels : spec.channels;
    if (channels < 1 || channels > 13) {
        error = "speex carries 1 to 13 channels";
        return false;
    }
    rate = spec.rate ? spec.rate : (modeId == SPEEX_MODEID_NB ? 8000 : modeId == SPEEX_MODEID_WB ? 16000 : 32000);
    framesPerPacket = spec.framesPerPacket;
    const SpeexMode* speexMode = speex_lib_get_mode(modeId);

    SpeexHeader header;
    speex_init_header(&header, rate, 1, speexMode);
    header.frames_per_packet = framesPerPacket;
    header.nb_channels = recorderLayout ? 1 : channels;
    header.extra_headers = recorderLayout ? 1 : 0;
    header.vbr = 0;
    int size = 0;
    char* bytes = speex_header_to_packet(&header, &size);
    Packet head;
    head.data.assign(bytes, bytes + size);
    head.granule = 0;
    speex_header_free(bytes);
    headers.push_back(head);
    Packet comments;
    comments.data = makeCommentPacket("", "make-recording", spec.comments);
    comments.granule = 0;
    headers.push_back(comments);

    std::vector<void*> states(static_cast<size_t>(channels));
    std::vector<SpeexBits> bits(static_cast<size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        states[size_t(c)] = speex_encoder_init(speexMode);
        int value = spec.quality >= 0 ? int(spec.quality) : 8;
        speex_encoder_ctl(states[size_t(c)], SPEEX_SET_QUALITY, &value);
        value = rate;
        speex_encoder_ctl(states[size_t(c)], SPEEX_SET_SAMPLING_RATE, &value);
        speex_encoder_ctl(states[size_t(c)], SPEEX_GET_FRAME_SIZE, &frameSize);
        speex_bits_init(&bits[size_t(c)]);
    }
    const ToneSource tones(spec, rate);
    const int unit = frameSize * framesPerPacket;
    const std::int64_t offset = std::llround(spec.start * rate);
    std::vector<float> frame(static_cast<size_t>(frameSize));
    std::vector<char> out(4096);
    long long packetIndex = 0;
    for (long long position = 0; position < tones.totalFrames(); position += unit, ++packetIndex) {
        Packet packet;
        for (int c = 0; c < channels; ++c) {
            speex_bits_reset(&bits[size_t(c)]);
            for (int f = 0; f < framesPerPacket; ++f) {
                tones.fill(c, position + f * frameSize, frameSize, 32767.0, frame.data());
                speex_encode(states[size_t(c)], frame.data(), &bits[size_t(c)]);
            }
            const int length = speex_bits_write(&bits[size_t(c)], out.data(), int(out.size()));
            if (c == spec.badChannel) {
                // Bits no Speex decoder can follow.
                for (int i = 0; i < length; ++i)
                    out[size_t(i)] = static_cast<char>(0xFF);
            }
            if (channels > 1)
                appendLe32(packet.data, unsigned(length));
            packet.data.insert(packet.data.end(), out.begin(), out.begin() + length);
        }
        if (spec.truncatedRecordEvery > 0 && channels > 1 && packetIndex % spec.truncatedRecordEvery == 0) {
            // The last record announces more bits than the packet holds.
            packet.data.resize(packet.data.size() - 2);
        }
        packet.granule = offset + position + unit;
        data.push_back(packet);
    }
    for (int c = 0; c < channels; ++c) {
        speex_encoder_destroy(states[size_t(c)]);
        speex_bits_destroy(&bits[size_t(c)]);
    }
    return true;
}

double SpeexEncoder::granuleToMs(std::int64_t granule) const { return double(granule) * 1000.0 / rate; }

std::string SpeexEncoder::describe() const
{
    return "\"rate\": " + std::to_string(rate) + ", \"channels\": " + std::to_string(channels) + ", \"mode\": \"" +
           mode + "\", \"frameSize\": " + std::to_string(frameSize) +
           ", \"framesPerPacket\": " + std::to_string(framesPerPacket);
}
