#pragma once

#include <QtGlobal>

namespace Harbend {

// The fields of a Speex identification header that the stream and its
// decoder read.
class SpeexHeader {
public:
    static constexpr qint64 Bytes = 80;

    // False when the packet is shorter than the header.
    bool read(const unsigned char* packet, qint64 bytes);
    // Declares the channels in the packet itself, with no extra header.
    static void declareChannels(unsigned char* packet, quint32 channels);

    quint32 versionId = 0;
    quint32 rate = 0;
    quint32 modeId = 0;
    quint32 bitstreamVersion = 0;
    quint32 channels = 0;
    quint32 framesPerPacket = 0;
    quint32 extraHeaders = 0;
};

} // namespace Harbend
