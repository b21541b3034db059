#pragma once

#include <QtGlobal>

namespace Harbend {

// The fields of an Opus identification header ("OpusHead") that the stream
// and its decoder read.
class OpusHeader {
public:
    // False when the packet is too short for the fixed fields.
    bool read(const unsigned char* packet, qint64 bytes);

    quint32 version = 0;
    quint32 channels = 0;
    quint32 preSkip = 0; // 48 kHz samples that only prime the decoder
    quint32 inputRate = 0;
    quint32 family = 0;
    // Read only when the packet holds the channel mapping (mapping not null).
    quint32 streams = 0;
    quint32 coupled = 0;
    const unsigned char* mapping = nullptr; // one byte per channel
};

} // namespace Harbend
