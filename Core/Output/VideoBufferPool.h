#pragma once

#include <QMutex>
#include <QVector>

#include <cstddef>

namespace Harbend {

// A few picture blocks of one size kept for reuse: a decoder takes one per
// picture and the VideoBuffer gives it back when the last frame over it is let
// go (by the surface, usually on another thread). Shared between the decoder
// and its buffers, so it outlives whichever of them goes last.
class VideoBufferPool {
public:
    VideoBufferPool() = default;
    ~VideoBufferPool();

    VideoBufferPool(const VideoBufferPool&) = delete;
    VideoBufferPool& operator=(const VideoBufferPool&) = delete;

    // A 16-byte-aligned block of size bytes, kept or new; null without memory.
    void* take(std::size_t size);
    // Keeps the block for the next take() when it has the size last taken
    // and the pool is not full; else frees it.
    void recycle(void* block, std::size_t size);

    // Blocks kept for reuse now (for tests and benchmarks).
    int kept();

private:
    void releaseAll();

    // Guards what follows: taken by the decoding thread and by whichever
    // thread lets the last frame over a block go.
    QMutex mutex;
    std::size_t blockSize = 0;
    QVector<void*> blocks;
};

} // namespace Harbend
