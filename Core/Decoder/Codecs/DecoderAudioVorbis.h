#pragma once

#include "Core/Decoder/Decoder.h"
#include "Core/Decoder/SeekAlignment.h"

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
    bool decodePacket(const QSharedPointer<OggPacket>& packet, Sample*& sample);
    // The frames a packet adds to the output after a restart (the first adds none).
    qint64 framesOf(const OggPacket& packet);

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
    long previousBlockSize = -1; // of the packet before, -1 after a restart
    SeekAlignment alignment;

    static Logging::Log ms_log;
};

} // namespace Harbend
