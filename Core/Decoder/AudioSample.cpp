#include "Core/Decoder/AudioSample.h"

#include "Core/Base/Memory.h"

#include <cstdint>

namespace Harbend {

AudioSample::AudioSample() : Sample(Audio, 0, 0) {}

AudioSample::~AudioSample()
{
    if (data)
        Memory::free(data);
}

bool AudioSample::allocate(int channelCount, int frameCount)
{
    if (data) {
        Memory::free(data);
        data = nullptr;
    }
    channels = 0;
    frames = 0;
    if (channelCount <= 0 || frameCount < 0)
        return false;
    const std::size_t count = static_cast<std::size_t>(channelCount) * static_cast<std::size_t>(frameCount);
    if (count > SIZE_MAX / sizeof(float))
        return false;
    data = static_cast<float*>(Memory::allocate(count * sizeof(float)));
    if (!data)
        return false;
    channels = channelCount;
    frames = frameCount;
    return true;
}

} // namespace Harbend
