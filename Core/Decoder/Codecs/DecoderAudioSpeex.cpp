#include "Core/Decoder/Codecs/DecoderAudioSpeex.h"

#include "Core/Decoder/AudioSample.h"
#include "Core/Decoder/ByteReader.h"
#include "Core/Decoder/Codecs/SpeexHeader.h"

#include <speex/speex.h>

#include <cstring>
#include <limits>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Decoder/Codecs/DecoderAudioSpeex";

// Frames per packet beyond this are a lying header, not a Speex stream.
const quint32 kMostFramesPerPacket = 64;
// libspeex's float output is in the 16-bit integer range.
const float kScale = 1.0f / 32768.0f;
} // namespace

Logging::Log DecoderAudioSpeex::ms_log("DecoderAudioSpeex", Logging::Log::systemLogger());

DecoderAudioSpeex::DecoderAudioSpeex()
{
    std::memset(bits, 0, sizeof bits);
    std::memset(states, 0, sizeof states);
    std::memset(bitsReady, 0, sizeof bitsReady);
}

DecoderAudioSpeex::~DecoderAudioSpeex() { close(); }

bool DecoderAudioSpeex::open(Headers* headers)
{
    const OggPacket* header = firstHeader(headers, "Speex", ms_log, kLogSource);
    if (!header)
        return false;
    SpeexHeader fields;
    if (!fields.read(header->packet, header->bytes)) {
        HARBEND_LOG(Error, "Header packet corrupted!");
        return false;
    }
    const quint32 versionId = fields.versionId, sampleRate = fields.rate, modeId = fields.modeId;
    const quint32 bitstreamVersion = fields.bitstreamVersion, channelCount = fields.channels;
    const quint32 perPacket = fields.framesPerPacket;
    if (modeId >= 3) {
        HARBEND_LOG(Error, "Unsupported mode!");
        return false;
    }
    if (channelCount >= quint32(kMaxChannels) + 1 || channelCount == 0) {
        HARBEND_LOG(Error, "Unsupported channel count!");
        return false;
    }
    mode = speex_lib_get_mode(int(modeId));
    if (versionId > 1 || !mode || int(bitstreamVersion) != mode->bitstream_version) {
        HARBEND_LOG(Error, "This Speex stream was created using newer encoder than supported one. Can't decode it.");
        return false;
    }
    if (sampleRate == 0 || perPacket == 0 || perPacket > kMostFramesPerPacket) {
        HARBEND_LOG(Error, "Header packet corrupted!");
        return false;
    }
    channels = channelCount;
    framesPerPacket = perPacket;
    rate = sampleRate;
    for (quint32 c = 0; c < channels; ++c) {
        speex_bits_init(&bits[c]);
        bitsReady[c] = true;
        states[c] = newState();
        if (!states[c]) {
            HARBEND_LOG(Error, "Failed to initialize decoder for Speex channel #%u! Out of memory?", c + 1);
            return false;
        }
    }
    if (frameSize <= 0) {
        HARBEND_LOG(Error, "Header packet corrupted!");
        return false;
    }
    const quint32 wanted = rate / 25;
    const quint32 unit = quint32(frameSize) * framesPerPacket;
    blockFrames = wanted % unit == 0 && wanted > 0 ? wanted : unit * (wanted / unit + 1);
    blockDuration = qint64(quint64(blockFrames) * 1000000000ull / rate);
    pending = nullptr;
    filled = 0;
    HARBEND_LOG(Success, "Successfully initialized Speex decoder.");
    return true;
}

void* DecoderAudioSpeex::newState()
{
    void* state = speex_decoder_init(mode);
    if (!state)
        return nullptr;
    spx_int32_t value = spx_int32_t(rate);
    speex_decoder_ctl(state, SPEEX_SET_SAMPLING_RATE, &value);
    value = 1;
    speex_decoder_ctl(state, SPEEX_SET_ENH, &value);
    speex_decoder_ctl(state, SPEEX_GET_FRAME_SIZE, &frameSize);
    return state;
}

bool DecoderAudioSpeex::loadBits(const OggPacket& packet)
{
    if (channels == 1) {
        speex_bits_read_from(&bits[0], reinterpret_cast<const char*>(packet.packet), int(packet.bytes));
        return true;
    }
    const ByteReader bytes(packet.packet, packet.bytes);
    qint64 offset = 0;
    for (quint32 c = 0; c < channels; ++c) {
        quint32 length = 0;
        if (!bytes.le32(offset, length) || !bytes.has(offset + 4, length)) {
            HARBEND_LOG(Warning, "Invalid multichannel Speex packet!");
            for (quint32 loaded = 0; loaded < c; ++loaded)
                speex_bits_reset(&bits[loaded]);
            return false;
        }
        speex_bits_read_from(&bits[c], reinterpret_cast<const char*>(packet.packet + offset + 4), int(length));
        offset += 4 + qint64(length);
    }
    return true;
}

bool DecoderAudioSpeex::decode(QSharedPointer<OggPacket> packet, Sample*& sample)
{
    if (isEmpty(packet) || channels == 0)
        return true;
    if (!alignment.active())
        return decodePacket(packet, sample);
    if (alignment.holding()) {
        const qint64 granule = packet->granulepos;
        if (!alignment.hold(packet, qint64(framesPerPacket) * frameSize, granule))
            return true;
        time = alignment.startTime();
    }
    return alignment.replay(sample, [&](const QSharedPointer<OggPacket>& held) { return decodePacket(held, sample); });
}

bool DecoderAudioSpeex::decodePacket(const QSharedPointer<OggPacket>& packet, Sample*& sample)
{
    // The time at the start of this packet: from its granule position (which
    // tells where it ends) when it has one, else where the last one ended.
    const quint64 unit = quint64(framesPerPacket) * quint64(frameSize);
    const quint64 granule = quint64(packet->granulepos);
    if (packet->granulepos >= 0 && granule <= quint64(std::numeric_limits<qint64>::max()) / 1000000000ull)
        time = qint64((granule > unit ? granule - unit : 0) * 1000000000ull / rate);
    if (!pending) {
        // A block carries the time reached before its first packet.
        pending = newAudioBlock(time, blockDuration, int(channels), int(blockFrames), ms_log, kLogSource);
        if (!pending)
            return true;
        filled = 0;
    }
    const qint64 packetStart = time;
    time += qint64(unit * 1000000000ull / rate);
    if (!loadBits(*packet))
        return true;
    for (quint32 f = 0; f < framesPerPacket; ++f) {
        for (quint32 c = 0; c < channels; ++c) {
            float* out = pending->data + size_t(c) * blockFrames + filled + size_t(f) * size_t(frameSize);
            const int result = speex_decode(states[c], &bits[c], out);
            if (result < 0) {
                std::memset(out, 0, size_t(frameSize) * sizeof(float));
                if (result == -2 || speex_bits_remaining(&bits[c]) < 0)
                    HARBEND_LOG(Error, "Failed to decode audio data for channel #%u!", c);
            }
        }
    }
    // After a seek, what lies before the target is not heard.
    const quint32 dropped = quint32(alignment.drop(qint64(unit)));
    if (dropped > 0) {
        for (quint32 c = 0; c < channels; ++c) {
            float* plane = pending->data + size_t(c) * blockFrames + filled;
            std::memmove(plane, plane + dropped, size_t(unit - dropped) * sizeof(float));
        }
    }
    if (filled == 0)
        pending->time = packetStart + qint64(quint64(dropped) * 1000000000ull / rate);
    filled += quint32(unit) - dropped;
    // A block cut short by a seek ends where the next packet would not fit.
    if (filled + unit > blockFrames) {
        float* data = pending->data;
        const size_t count = size_t(channels) * blockFrames;
        for (size_t i = 0; i < count; ++i)
            data[i] *= kScale;
        if (filled < blockFrames)
            SeekAlignment::keepFrames(pending, 0, int(filled), int(rate));
        sample = pending;
        pending = nullptr;
    }
    return true;
}

bool DecoderAudioSpeex::seeked(qint64 ns)
{
    for (quint32 c = 0; c < channels; ++c) {
        speex_bits_reset(&bits[c]);
        // A decoder keeps the sound before the seek in its filters and blends
        // the next frame's spectrum from the last one's: after a seek that
        // would ring into the first frames, differently in each channel. A
        // fresh decoder starts from silence, as at the start of the stream.
        void* fresh = newState();
        if (!fresh) {
            if (states[c])
                speex_decoder_ctl(states[c], SPEEX_RESET_STATE, nullptr);
            continue;
        }
        if (states[c])
            speex_decoder_destroy(states[c]);
        states[c] = fresh;
    }
    // A block begun before the seek would carry its old time.
    delete pending;
    pending = nullptr;
    filled = 0;
    time = ns;
    alignment.start(ns, int(rate));
    return true;
}

void DecoderAudioSpeex::close()
{
    for (int c = 0; c < kMaxChannels; ++c) {
        if (bitsReady[c])
            speex_bits_destroy(&bits[c]);
        if (states[c])
            speex_decoder_destroy(states[c]);
    }
    std::memset(bits, 0, sizeof bits);
    std::memset(states, 0, sizeof states);
    std::memset(bitsReady, 0, sizeof bitsReady);
    channels = 0;
    mode = nullptr;
    frameSize = 0;
    framesPerPacket = 0;
    filled = 0;
    delete pending;
    pending = nullptr;
    alignment.reset();
    HARBEND_LOG(Info, "Closed Speex decoder.");
}

} // namespace Harbend
