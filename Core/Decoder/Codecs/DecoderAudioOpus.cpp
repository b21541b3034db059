#include "Core/Decoder/Codecs/DecoderAudioOpus.h"

#include "Core/Base/Memory.h"
#include "Core/Decoder/AudioSample.h"
#include "Core/Decoder/Codecs/OpusHeader.h"

#include <opus/opus.h>
#include <opus/opus_multistream.h>

#include <cstring>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Decoder/Codecs/DecoderAudioOpus";
} // namespace

Logging::Log DecoderAudioOpus::ms_log("DecoderAudioOpus", Logging::Log::systemLogger());

DecoderAudioOpus::~DecoderAudioOpus() { close(); }

int DecoderAudioOpus::decodingRate(quint32 inputRate)
{
    switch (inputRate) {
    case 8000:
    case 12000:
    case 16000:
    case 24000:
    case 48000:
        return int(inputRate);
    default:
        return kGranuleRate;
    }
}

bool DecoderAudioOpus::open(Headers* headers)
{
    const OggPacket* header = firstHeader(headers, "Opus", ms_log, kLogSource);
    if (!header)
        return false;
    OpusHeader fields;
    if (!fields.read(header->packet, header->bytes) || fields.channels == 0) {
        HARBEND_LOG(Error, "Invalid Opus header!");
        return false;
    }
    const quint32 channelCount = fields.channels, family = fields.family;
    quint32 streams = fields.streams, coupled = fields.coupled;
    channels = int(channelCount);
    rate = decodingRate(fields.inputRate);

    if (channels == 1 && family == 0) {
        const int size = opus_decoder_get_size(1);
        if (size < 0) {
            HARBEND_LOG(Error, "Failed to get size of Opus decoder!");
            return false;
        }
        decoder = static_cast<OpusDecoder*>(Memory::allocate(size_t(size)));
        if (!decoder) {
            HARBEND_LOG(Error, "Failed to allocate Opus decoder!");
            return false;
        }
        const int result = opus_decoder_init(decoder, rate, channels);
        if (result != 0) {
            HARBEND_LOG(Error, "Failed to initialize Opus decoder! Reason: %s", opus_strerror(result));
            return false;
        }
    } else {
        if (family == 0) {
            // One stream, coupled when there are two channels; the identity mapping.
            streams = 1;
            coupled = channelCount > 1 ? 1 : 0;
        } else if (!fields.mapping) {
            HARBEND_LOG(Error, "Invalid Opus header! Too short for channel mapping!");
            return false;
        }
        if (family >= 2) {
            if (streams != channelCount) {
                HARBEND_LOG(Error, "Encoded stream reported less channels than expected!");
                return false;
            }
            if (coupled != 0)
                return false;
        }
        mapping = static_cast<unsigned char*>(Memory::allocate(size_t(channels)));
        if (!mapping) {
            HARBEND_LOG(Error, "Failed to allocate mapping! Out of memory?");
            return false;
        }
        for (int c = 0; c < channels; ++c)
            mapping[c] = family == 0 ? static_cast<unsigned char>(c) : fields.mapping[c];
        if (!openMultistream(int(streams), int(coupled)))
            return false;
    }
    HARBEND_LOG(Success, "Successfully initialized Opus decoder.");
    return true;
}

bool DecoderAudioOpus::openMultistream(int streams, int coupled)
{
    const int size = opus_multistream_decoder_get_size(streams, coupled);
    if (size <= 0) {
        HARBEND_LOG(Error, "Failed to get size of Opus multistream decoder!");
        return false;
    }
    msDecoder = static_cast<OpusMSDecoder*>(Memory::allocate(size_t(size)));
    if (!msDecoder) {
        HARBEND_LOG(Error, "Failed to allocate Opus multistream decoder!");
        return false;
    }
    const int result = opus_multistream_decoder_init(msDecoder, rate, channels, streams, coupled, mapping);
    if (result != 0) {
        HARBEND_LOG(Error, "Failed to initialize Opus multistream decoder! Reason: %s", opus_strerror(result));
        return false;
    }
    // Room for the longest packet, whatever the first one measured.
    buffer = static_cast<float*>(Memory::allocate(size_t(channels) * kLongestPacketFrames * sizeof(float)));
    if (!buffer) {
        HARBEND_LOG(Error, "Failed to allocate buffer! Out of memory?");
        return false;
    }
    return true;
}

bool DecoderAudioOpus::decode(QSharedPointer<OggPacket> packet, Sample*& sample)
{
    if (isEmpty(packet) || (!decoder && !msDecoder))
        return true;
    if (!alignment.active())
        return decodePacket(packet, sample);
    if (alignment.holding()) {
        const int frames = frameSize > 0 ? frameSize
                                         : opus_packet_get_nb_samples(packet->packet, opus_int32(packet->bytes), rate);
        // Granule positions count at 48 kHz; damaged ones beyond years are left unread.
        const qint64 granule = packet->granulepos;
        const qint64 endFrame = granule < 0                   ? -1
                                : granule < (qint64(1) << 46) ? granule * rate / kGranuleRate
                                                              : qint64(1) << 46;
        if (!alignment.hold(packet, qMax(0, frames), endFrame))
            return true;
        time = alignment.startTime();
    }
    return alignment.replay(sample, [&](const QSharedPointer<OggPacket>& held) { return decodePacket(held, sample); });
}

bool DecoderAudioOpus::decodePacket(const QSharedPointer<OggPacket>& packet, Sample*& sample)
{
    if (frameSize == 0) {
        const int frames = opus_packet_get_nb_samples(packet->packet, opus_int32(packet->bytes), rate);
        if (frames < 1) {
            HARBEND_LOG(Error, "Failed to get number of samples in Opus packet! Packet corrupted?");
            return true;
        }
        frameSize = frames;
        frameDuration = quint32(quint64(frames) * 1000000000ull / quint64(rate));
    }
    AudioSample* block = newAudioBlock(time, frameDuration, channels, frameSize, ms_log, kLogSource);
    if (!block)
        return true;
    if (decoder) {
        const int decoded = opus_decode_float(decoder, packet->packet, opus_int32(packet->bytes), block->data,
                                              frameSize, 0);
        if (decoded < 0) {
            HARBEND_LOG(Error, "Failed to decode packet!");
            delete block;
            return true;
        }
        // A shorter packet leaves silence behind its frames.
        if (decoded < frameSize)
            std::memset(block->data + decoded, 0, size_t(frameSize - decoded) * sizeof(float));
    } else {
        const int decoded = opus_multistream_decode_float(msDecoder, packet->packet, opus_int32(packet->bytes), buffer,
                                                          qMin(frameSize, int(kLongestPacketFrames)), 0);
        if (decoded < 0) {
            delete block;
            return true;
        }
        for (int c = 0; c < channels; ++c) {
            float* plane = block->data + size_t(c) * size_t(frameSize);
            for (int i = 0; i < frameSize; ++i)
                plane[i] = i < decoded ? buffer[size_t(i) * size_t(channels) + size_t(c)] : 0.0f;
        }
    }
    time += frameDuration;
    // After a seek, what lies before the target is not heard.
    const int dropped = int(alignment.drop(frameSize));
    if (dropped == frameSize) {
        delete block;
        return true;
    }
    if (dropped > 0)
        SeekAlignment::keepFrames(block, dropped, frameSize - dropped, rate);
    sample = block;
    return true;
}

bool DecoderAudioOpus::seeked(qint64 ns)
{
    time = ns;
    alignment.start(ns, rate);
    if (decoder)
        opus_decoder_ctl(decoder, OPUS_RESET_STATE);
    if (msDecoder)
        opus_multistream_decoder_ctl(msDecoder, OPUS_RESET_STATE);
    return true;
}

void DecoderAudioOpus::close()
{
    for (void* block : {static_cast<void*>(mapping), static_cast<void*>(decoder), static_cast<void*>(msDecoder),
                        static_cast<void*>(buffer)}) {
        if (block)
            Memory::free(block);
    }
    mapping = nullptr;
    decoder = nullptr;
    msDecoder = nullptr;
    buffer = nullptr;
    frameSize = 0;
    frameDuration = 0;
    alignment.reset();
}

} // namespace Harbend
