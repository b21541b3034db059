#pragma once

#include "Core/Output/VideoPlaneLayout.h"

#include <QAbstractPlanarVideoBuffer>
#include <QSharedPointer>

namespace Harbend {

class VideoBufferPool;

// The memory of one decoded picture: planar Y, U, V one after the other in one
// 16-byte-aligned block, rows packed, the top row first. The QVideoFrame it
// was made for owns it; a block taken from a pool goes back to it.
class VideoBuffer : public QAbstractPlanarVideoBuffer {
public:
    // A picture of that layout; it maps as its three planes, so that the
    // frame never derives them itself (Qt divides by half the frame's height,
    // which is 0 for a picture one row high).
    explicit VideoBuffer(const VideoPlaneLayout& layout,
                         const QSharedPointer<VideoBufferPool>& pool = QSharedPointer<VideoBufferPool>());
    // A block of bytes without planes of its own.
    VideoBuffer(unsigned size, unsigned bytesPerLine,
                const QSharedPointer<VideoBufferPool>& pool = QSharedPointer<VideoBufferPool>());
    ~VideoBuffer() override;

    VideoBuffer(const VideoBuffer&) = delete;
    VideoBuffer& operator=(const VideoBuffer&) = delete;

    MapMode mapMode() const override;
    using QAbstractPlanarVideoBuffer::map;
    // No planes while already mapped or when the block could not be allocated.
    int map(MapMode mode, int* numBytes, int bytesPerLine[4], uchar* data[4]) override;
    void unmap() override;

    unsigned byteCount() const { return size; }

private:
    uchar* data;
    unsigned size;
    // Three planes, or one (the whole block) when planes is 1.
    int planes;
    VideoPlaneLayout layout;
    MapMode mode;
    QSharedPointer<VideoBufferPool> pool;
};

} // namespace Harbend
