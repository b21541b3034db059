#pragma once

#include "Core/Base/Memory.h"

#include <cstddef>

namespace Harbend {

// An aligned block of floats for the signal kernels; null when the heap
// refuses or the size would overflow.
inline float* allocateFloats(std::size_t count)
{
    if (count > static_cast<std::size_t>(-1) / sizeof(float))
        return nullptr;
    return static_cast<float*>(Memory::allocate(count * sizeof(float)));
}

} // namespace Harbend
