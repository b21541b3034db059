#include "Core/Output/VideoPlaneLayout.h"

namespace Harbend {

namespace {

unsigned half(unsigned size) { return size / 2 + size % 2; }

VideoPlaneLayout planes(unsigned width, unsigned height, unsigned chromaWidth, unsigned chromaHeight)
{
    VideoPlaneLayout layout;
    layout.width[0] = width;
    layout.height[0] = height;
    layout.width[1] = layout.width[2] = chromaWidth;
    layout.height[1] = layout.height[2] = chromaHeight;
    layout.offset[0] = 0;
    const std::uint64_t chromaBytes = std::uint64_t(chromaWidth) * chromaHeight;
    layout.offset[1] = std::uint64_t(width) * height;
    layout.offset[2] = layout.offset[1] + chromaBytes;
    layout.total = layout.offset[2] + chromaBytes;
    return layout;
}

} // namespace

VideoPlaneLayout VideoPlaneLayout::yuv420p(unsigned width, unsigned height)
{
    return planes(width, height, half(width), half(height));
}

VideoPlaneLayout VideoPlaneLayout::yuv422p(unsigned width, unsigned height)
{
    return planes(width, height, half(width), height);
}

VideoPlaneLayout VideoPlaneLayout::yuv444p(unsigned width, unsigned height)
{
    return planes(width, height, width, height);
}

} // namespace Harbend
