#pragma once

#include <QVideoSurfaceFormat>

namespace Harbend {

// The one format in which every video stream announces its pictures to a surface.
class VideoFrameFormat {
public:
    // Planar YUV 4:2:0 in memory, BT.709, square pixels, first row at the top
    // (declared BottomToTop, which the surfaces draw without a flip). A stream
    // of other pictures says so, so that the surface can refuse it at once.
    static QVideoSurfaceFormat create(unsigned width, unsigned height, unsigned fpsNumerator, unsigned fpsDenominator,
                                      QVideoFrame::PixelFormat pixelFormat = QVideoFrame::Format_YUV420P);
};

} // namespace Harbend
