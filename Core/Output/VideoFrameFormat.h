#pragma once

#include <QVideoSurfaceFormat>

namespace Harbend {

// The one format in which every video stream announces its pictures to a surface.
class VideoFrameFormat {
public:
    // Planar YUV 4:2:0 in memory, BT.709, square pixels, first row at the top
    // (declared BottomToTop, which the surfaces draw without a flip).
    static QVideoSurfaceFormat create(unsigned width, unsigned height, unsigned fpsNumerator,
                                      unsigned fpsDenominator);
};

} // namespace Harbend
