#pragma once

#include "Core/Decoder/Codec.h"
#include "Core/Decoder/MediaType.h"

#include <QtGlobal>

namespace Harbend {

// What a logical stream's identification header tells; for video, rate and
// channels hold the width and height.
struct StreamInfo {
    MediaType::Enum mediaType = MediaType::Unknown;
    Codec::Enum codec = Codec::Unknown;
    union {
        quint32 rate;
        quint32 width;
    };
    union {
        quint32 channels;
        quint32 height;
    };
    quint32 fpsNumerator = 0;
    quint32 fpsDenominator = 0;
    double granuleRate = 0.0;
    int granuleShift = 0;
    int granuleOffset = 0;
    quint32 headerCount = 0;
    // Theora's chroma layout: 0 4:2:0, 2 4:2:2, 3 4:4:4 (1 is reserved).
    quint32 theoraChroma = 0;
    int headersMissing = -1;

    StreamInfo() : rate(0), channels(0) {}
};

} // namespace Harbend
