#pragma once

#include "Core/Decoder/Decoder.h"

#include <vorbis/codec.h>

namespace Harbend {

// Vorbis, handed out in fixed 40 ms blocks assembled across packets.
class DecoderAudioVorbis : public Decoder {
public:
    DecoderAudioVorbis();
    ~DecoderAudioVorbis() override;

    bool open(Headers* headers) override;
    void close() override;
    bool decode(QSharedPointer<OggPacket> packet, Sample*& sample) override;
    bool seeked(qint64 ns) override;

private:
    vorbis_info info;
    vorbis_dsp_state dspState;
    vorbis_block block;
    bool infoReady = false;
    bool dspReady = false;
    bool blockReady = false;
    qint64 time = 0;
    quint32 blockFrames = 0;
    qint64 blockDuration = 0;
    quint32 filled = 0;
    AudioSample* pending = nullptr;

    static Logging::Log ms_log;
};

} // namespace Harbend
