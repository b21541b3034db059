#pragma once

#include "Core/Base/Memory.h"

#include <cstddef>
#include <new>

namespace Harbend {

// An aligned block of floats for the signal kernels; a refused heap ends the
// construction of the owner as a failed new would.
inline float* allocateFloats(std::size_t count)
{
    if (count > static_cast<std::size_t>(-1) / sizeof(float))
        throw std::bad_alloc();
    void* block = Memory::allocate(count * sizeof(float));
    if (!block)
        throw std::bad_alloc();
    return static_cast<float*>(block);
}

} // namespace Harbend
