#pragma once

#include "StreamSpec.h"

#include <vector>

// The audio of a stream: channel c is a pure tone of baseFrequency + c *
// frequencyStep at the spec's level, with optional clicks (4 ms bursts of an
// eighth of the rate at 0.9) on every channel at each multiple of the click
// period and in the stream's last 4 ms.
class ToneSource {
public:
    ToneSource(const StreamSpec& spec, int rate);

    double frequency(int channel) const;
    // Sample n (counted from the first data) of a channel, -1 to 1.
    double sample(int channel, long long n) const;
    // Frames [first, first + count) of one channel, scaled; past the end: silence.
    void fill(int channel, long long first, int count, double scale, float* out) const;
    long long totalFrames() const { return total; }

private:
    const StreamSpec& spec;
    int rate;
    long long total;
};
