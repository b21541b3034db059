#pragma once

#include <cstdint>

namespace Harbend {

// Where the Y, U and V planes of one picture lie in its buffer: rows packed,
// planes one after the other with no gap.
struct VideoPlaneLayout {
    unsigned width[3];  // bytes per row (pixels per row)
    unsigned height[3]; // rows
    // In 64 bits: the planes of a large picture add up past 4 GB.
    std::uint64_t offset[3]; // bytes from the start of the buffer
    std::uint64_t total;     // bytes of the whole picture

    // Chroma halved in both directions. Halves round up: the last column or
    // row of an odd-sized picture has chroma of its own (a 1x1 picture too).
    static VideoPlaneLayout yuv420p(unsigned width, unsigned height);
    // Chroma halved across (rounded up).
    static VideoPlaneLayout yuv422p(unsigned width, unsigned height);
    static VideoPlaneLayout yuv444p(unsigned width, unsigned height);
};

} // namespace Harbend
