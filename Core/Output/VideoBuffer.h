#pragma once

#include <QAbstractVideoBuffer>
#include <QSharedPointer>

namespace Harbend {

class VideoBufferPool;

// The memory of one decoded picture: planar Y, U, V one after the other in one
// 16-byte-aligned block, rows packed, the top row first. The QVideoFrame it
// was made for owns it; a block taken from a pool goes back to it.
class VideoBuffer : public QAbstractVideoBuffer {
public:
    VideoBuffer(unsigned size, unsigned bytesPerLine,
                const QSharedPointer<VideoBufferPool>& pool = QSharedPointer<VideoBufferPool>());
    ~VideoBuffer() override;

    VideoBuffer(const VideoBuffer&) = delete;
    VideoBuffer& operator=(const VideoBuffer&) = delete;

    MapMode mapMode() const override;
    // Null while already mapped or when the block could not be allocated.
    uchar* map(MapMode mode, int* numBytes, int* bytesPerLine) override;
    void unmap() override;

    unsigned byteCount() const { return size; }

private:
    uchar* data;
    unsigned size;
    unsigned bytesPerLine;
    MapMode mode;
    QSharedPointer<VideoBufferPool> pool;
};

} // namespace Harbend
