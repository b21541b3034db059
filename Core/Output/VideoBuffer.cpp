#include "Core/Output/VideoBuffer.h"

#include "Core/Base/Memory.h"
#include "Core/Output/VideoBufferPool.h"

namespace Harbend {

namespace {

uchar* allocate(unsigned size, const QSharedPointer<VideoBufferPool>& pool)
{
    return static_cast<uchar*>(pool ? pool->take(size) : Memory::allocate(size));
}

// One plane: the whole block, at the given row length.
VideoPlaneLayout wholeBlock(unsigned size, unsigned bytesPerLine)
{
    VideoPlaneLayout block{};
    block.width[0] = bytesPerLine;
    block.total = size;
    return block;
}

} // namespace

VideoBuffer::VideoBuffer(const VideoPlaneLayout& layout, const QSharedPointer<VideoBufferPool>& pool)
    : QAbstractPlanarVideoBuffer(NoHandle),
      data(allocate(unsigned(layout.total), pool)),
      size(unsigned(layout.total)),
      planes(3),
      layout(layout),
      mode(NotMapped),
      pool(pool)
{
}

VideoBuffer::VideoBuffer(unsigned size, unsigned bytesPerLine, const QSharedPointer<VideoBufferPool>& pool)
    : QAbstractPlanarVideoBuffer(NoHandle),
      data(allocate(size, pool)),
      size(size),
      planes(1),
      layout(wholeBlock(size, bytesPerLine)),
      mode(NotMapped),
      pool(pool)
{
}

VideoBuffer::~VideoBuffer()
{
    if (pool)
        pool->recycle(data, size);
    else if (data)
        Memory::free(data);
}

QAbstractVideoBuffer::MapMode VideoBuffer::mapMode() const { return mode; }

int VideoBuffer::map(MapMode mapMode, int* numBytes, int bytesPerLine[4], uchar* planeData[4])
{
    if (mode != NotMapped || !data)
        return 0;
    mode = mapMode;
    if (numBytes)
        *numBytes = static_cast<int>(size);
    for (int p = 0; p < planes; ++p) {
        if (bytesPerLine)
            bytesPerLine[p] = static_cast<int>(layout.width[p]);
        if (planeData)
            planeData[p] = data + layout.offset[p];
    }
    return planes;
}

void VideoBuffer::unmap() { mode = NotMapped; }

} // namespace Harbend
