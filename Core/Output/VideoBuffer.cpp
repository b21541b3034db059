#include "Core/Output/VideoBuffer.h"

#include "Core/Base/Memory.h"
#include "Core/Output/VideoBufferPool.h"

namespace Harbend {

VideoBuffer::VideoBuffer(unsigned size, unsigned bytesPerLine, const QSharedPointer<VideoBufferPool>& pool)
    : QAbstractVideoBuffer(NoHandle),
      data(static_cast<uchar*>(pool ? pool->take(size) : Memory::allocate(size))),
      size(size),
      bytesPerLine(bytesPerLine),
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

uchar* VideoBuffer::map(MapMode mapMode, int* numBytes, int* lineBytes)
{
    if (mode != NotMapped || !data)
        return nullptr;
    mode = mapMode;
    if (numBytes)
        *numBytes = static_cast<int>(size);
    if (lineBytes)
        *lineBytes = static_cast<int>(bytesPerLine);
    return data;
}

void VideoBuffer::unmap() { mode = NotMapped; }

} // namespace Harbend
