#include "Core/Decoder/Codecs/VideoSampleWriter.h"

#include "Core/Decoder/VideoSample.h"
#include "Core/Output/VideoBuffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace Harbend {

VideoSample* VideoSampleWriter::write(const SourcePicture& source, const VideoPlaneLayout& layout,
                                      QVideoFrame::PixelFormat format, const QSize& size, qint64 time, qint64 duration,
                                      const QSharedPointer<VideoBufferPool>& pool)
{
    // A mapped frame tells its size in an int.
    if (layout.total > std::uint64_t(std::numeric_limits<int>::max()))
        return nullptr;
    QVideoFrame frame(new VideoBuffer(layout, pool), size, format);
    if (!frame.map(QAbstractVideoBuffer::WriteOnly))
        return nullptr;
    uchar* bits = frame.bits();
    for (int p = 0; p < 3; ++p) {
        const unsigned rows = std::min(layout.height[p], unsigned(std::max(0, source.height[p])));
        const unsigned bytes = std::min(layout.width[p], unsigned(std::max(0, source.width[p])));
        const unsigned char* from = source.data[p];
        uchar* to = bits + layout.offset[p];
        // What the source does not cover is black rather than stale memory.
        if (rows < layout.height[p] || bytes < layout.width[p])
            std::memset(to, p ? 128 : 16, std::size_t(layout.width[p]) * layout.height[p]);
        for (unsigned row = 0; row < rows && from; ++row) {
            std::memcpy(to, from, bytes);
            to += layout.width[p];
            from += source.stride[p];
        }
    }
    frame.unmap();
    VideoSample* sample = new VideoSample(frame);
    sample->time = time;
    sample->duration = duration;
    return sample;
}

} // namespace Harbend
