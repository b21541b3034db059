#pragma once

#include "Core/Base/RecorderChannels.h"
#include "Core/Decoder/Decoder.h"
#include "Core/Decoder/SeekAlignment.h"

#include <speex/speex_bits.h>

struct SpeexMode;

namespace Harbend {

// Speex with 1 to 13 channels. Packets of a stream with two or more channels
// hold one record per channel: a 32-bit little-endian length and that
// channel's Speex bits. Output comes in blocks of about 40 ms, rounded up to
// whole packets.
class DecoderAudioSpeex : public Decoder {
public:
    static const int kMaxChannels = int(RecorderChannels);

    DecoderAudioSpeex();
    ~DecoderAudioSpeex() override;

    bool open(Headers* headers) override;
    void close() override;
    bool decode(QSharedPointer<OggPacket> packet, Sample*& sample) override;
    bool seeked(qint64 ns) override;

private:
    // Loads each channel's bits from a packet; false for a packet whose
    // records do not fit into it.
    bool loadBits(const OggPacket& packet);
    bool decodePacket(const QSharedPointer<OggPacket>& packet, Sample*& sample);
    // One channel's decoder, set to the stream's rate with the enhancer on;
    // null when out of memory.
    void* newState();

    SpeexBits bits[kMaxChannels];
    void* states[kMaxChannels];
    bool bitsReady[kMaxChannels];
    qint64 time = 0;
    quint32 channels = 0;
    int frameSize = 0;
    quint32 framesPerPacket = 0;
    qint64 blockDuration = 0;
    quint32 rate = 0;
    const SpeexMode* mode = nullptr;
    quint32 blockFrames = 0;
    quint32 filled = 0;
    AudioSample* pending = nullptr;
    SeekAlignment alignment;

    static Logging::Log ms_log;
};

} // namespace Harbend
