#include "Core/Output/VideoFrameFormat.h"

namespace Harbend {

QVideoSurfaceFormat VideoFrameFormat::create(unsigned width, unsigned height, unsigned fpsNumerator,
                                             unsigned fpsDenominator, QVideoFrame::PixelFormat pixelFormat)
{
    QVideoSurfaceFormat format(QSize(static_cast<int>(width), static_cast<int>(height)), pixelFormat,
                               QAbstractVideoBuffer::NoHandle);
    if (fpsDenominator != 0)
        format.setFrameRate(double(fpsNumerator) / double(fpsDenominator));
    format.setScanLineDirection(QVideoSurfaceFormat::BottomToTop);
    format.setYCbCrColorSpace(QVideoSurfaceFormat::YCbCr_BT709);
    format.setPixelAspectRatio(1, 1);
    return format;
}

} // namespace Harbend
