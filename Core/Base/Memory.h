#pragma once

#include <cstddef>

namespace Harbend {

// 16-byte-aligned heap blocks for sample data and video frames.
class Memory {
public:
    // Null when the heap refuses or the size would overflow.
    static void* allocate(std::size_t size);
    // Takes only blocks from allocate(), never null.
    static void free(void* block);
};

} // namespace Harbend
