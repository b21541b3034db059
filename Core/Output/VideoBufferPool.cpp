#include "Core/Output/VideoBufferPool.h"

#include "Core/Base/Memory.h"

namespace Harbend {

namespace {
// Enough for the pictures let go between two decoded ones; the sample queue
// and the surface hold the others.
const int kMostKept = 4;
} // namespace

VideoBufferPool::~VideoBufferPool() { releaseAll(); }

void* VideoBufferPool::take(std::size_t size)
{
    {
        QMutexLocker lock(&mutex);
        // A new picture size retires the blocks of the old one.
        if (size != blockSize) {
            releaseAll();
            blockSize = size;
        } else if (!blocks.isEmpty()) {
            return blocks.takeLast();
        }
    }
    return Memory::allocate(size);
}

void VideoBufferPool::recycle(void* block, std::size_t size)
{
    if (!block)
        return;
    {
        QMutexLocker lock(&mutex);
        // Blocks of an old size that come back late are not kept.
        if (size == blockSize && blocks.size() < kMostKept) {
            blocks.append(block);
            return;
        }
    }
    Memory::free(block);
}

int VideoBufferPool::kept()
{
    QMutexLocker lock(&mutex);
    return blocks.size();
}

void VideoBufferPool::releaseAll()
{
    for (void* block : blocks)
        Memory::free(block);
    blocks.clear();
}

} // namespace Harbend
