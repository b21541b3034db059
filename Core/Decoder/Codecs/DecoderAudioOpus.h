#pragma once

#include "Core/Decoder/Decoder.h"
#include "Core/Decoder/SeekAlignment.h"

struct OpusDecoder;
struct OpusMSDecoder;

namespace Harbend {

// Opus, one stream or several (one per channel, or as the header's mapping
// says), handed out one packet per block. Pre-skip and output gain are not
// applied.
class DecoderAudioOpus : public Decoder {
public:
    // Ogg Opus granule positions always count samples at this rate.
    static const int kGranuleRate = 48000;
    // The longest Opus packet: 120 ms at 48 kHz.
    static const int kLongestPacketFrames = 5760;

    DecoderAudioOpus() {}
    ~DecoderAudioOpus() override;

    bool open(Headers* headers) override;
    void close() override;
    bool decode(QSharedPointer<OggPacket> packet, Sample*& sample) override;
    bool seeked(qint64 ns) override;

    // The rate a stream with this input rate is decoded at: the input rate
    // where libopus supports it, else 48 kHz.
    static int decodingRate(quint32 inputRate);

private:
    bool openMultistream(int streams, int coupled);
    bool decodePacket(const QSharedPointer<OggPacket>& packet, Sample*& sample);

    int channels = 0;
    int rate = 0;
    unsigned char* mapping = nullptr;
    float* buffer = nullptr;
    OpusDecoder* decoder = nullptr;
    OpusMSDecoder* msDecoder = nullptr;
    qint64 time = 0;
    int frameSize = 0;
    quint32 frameDuration = 0;
    SeekAlignment alignment;

    static Logging::Log ms_log;
};

} // namespace Harbend
