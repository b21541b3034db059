// Each codec's decoder after headers that the header parser and the decoder
// accept; the packets after them, their granule positions and seeks are hostile.
#include "PacketStream.h"

#include "Core/Decoder/AudioSample.h"
#include "Core/Decoder/VideoSample.h"

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
        const QVideoFrame& frame = static_cast<const VideoSample&>(sample).frame;
        if (!frame.isValid())
            fail("a picture without a frame");
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
