#pragma once

#include "Core/Decoder/Sample.h"

namespace Harbend {

// Planar float audio: channel c starts at data + c * frames.
class AudioSample : public Sample {
public:
    AudioSample();
    ~AudioSample() override;

    AudioSample(const AudioSample&) = delete;
    AudioSample& operator=(const AudioSample&) = delete;

    // Allocates channels * frames floats (aligned); false when the size is
    // invalid or the heap refuses, leaving the sample empty.
    bool allocate(int channels, int frames);

    int channels = 0;
    int frames = 0;
    float* data = nullptr;
};

} // namespace Harbend
