// Each codec's decoder after headers that the header parser and the decoder
// accept; the packets after them, their granule positions and seeks are hostile.
#include "PacketStream.h"

#include "Core/Decoder/AudioSample.h"
#include "Core/Decoder/OggStream.h"
#include "Core/Decoder/VideoSample.h"

#include <QVideoSurfaceFormat>

#include <cstdio>
#include <cstdlib>

using namespace Harbend;

namespace {

void fail(const char* what)
{
    std::fprintf(stderr, "decoder harness: %s\n", what);
    std::abort();
}

void check(const Sample& sample, const StreamInfo& info)
{
    if (sample.duration < 0)
        fail("a sample with a negative duration");
    if (sample.type == Sample::Video) {
        if (sample.time < 0)
            fail("a picture at a negative time");
        QVideoFrame frame = static_cast<const VideoSample&>(sample).frame;
        if (!frame.isValid())
            fail("a picture without a frame");
        // Theora's surface is started with the header's format, which every picture keeps.
        const QVideoSurfaceFormat format = OggStream::videoFormatOf(info);
        if (info.codec == Codec::Theora &&
            (frame.size() != format.frameSize() || frame.pixelFormat() != format.pixelFormat()))
            fail("a picture of another size or format than its header");
        if (!frame.map(QAbstractVideoBuffer::ReadOnly))
            fail("a picture that does not map");
        frame.unmap();
    } else if (sample.type == Sample::Audio) {
        const AudioSample& audio = static_cast<const AudioSample&>(sample);
        if (audio.frames <= 0 || !audio.data || audio.channels != int(info.channels))
            fail("an audio block of another shape than its header");
    } else {
        fail("a sample of an unknown type");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PacketStream(data, size).decode(check);
    return 0;
}
