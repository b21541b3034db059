#include "Core/Base/Memory.h"

#include <cstdint>
#include <cstdlib>

namespace Harbend {

namespace {
const std::size_t kSlack = 17;
}

void* Memory::allocate(std::size_t size)
{
    if (size > SIZE_MAX - kSlack)
        return nullptr;
    unsigned char* heap = static_cast<unsigned char*>(std::malloc(size + kSlack));
    if (!heap)
        return nullptr;
    const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(heap);
    const std::uintptr_t aligned = ((base + 1) & ~std::uintptr_t(15)) + 16;
    unsigned char* block = reinterpret_cast<unsigned char*>(aligned);
    block[-1] = static_cast<unsigned char>(aligned - base);
    return block;
}

void Memory::free(void* block)
{
    unsigned char* aligned = static_cast<unsigned char*>(block);
    std::free(aligned - aligned[-1]);
}

} // namespace Harbend
