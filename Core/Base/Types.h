#pragma once

#include <cstdint>

namespace Harbend {

// The system's names for the fixed-width integers that cross its interfaces.
typedef std::uint32_t ui32;
typedef std::int32_t i32;

} // namespace Harbend
