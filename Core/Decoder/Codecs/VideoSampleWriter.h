#pragma once

#include "Core/Output/VideoPlaneLayout.h"

#include <QSharedPointer>
#include <QSize>
#include <QVideoFrame>

namespace Harbend {

class VideoBufferPool;
class VideoSample;

// The source planes of one decoded picture, as a codec library hands them out.
struct SourcePicture {
    const unsigned char* data[3];
    int stride[3]; // bytes from one row to the next (may be padded)
    int width[3];  // bytes of picture data per row
    int height[3]; // rows
};

// Copies decoded pictures into the system's frames: one VideoBuffer per
// picture, planes one after the other, rows packed, its block from the
// decoder's pool when it has one.
class VideoSampleWriter {
public:
    // A sample over a new frame of that size and format, or null when the
    // buffer cannot be mapped for writing (no memory). Rows and row lengths
    // are bounded by both the source and the layout, so neither is overrun.
    static VideoSample* write(const SourcePicture& source, const VideoPlaneLayout& layout,
                              QVideoFrame::PixelFormat format, const QSize& size, qint64 time, qint64 duration,
                              const QSharedPointer<VideoBufferPool>& pool = QSharedPointer<VideoBufferPool>());
};

} // namespace Harbend
