#pragma once

namespace Harbend {
namespace LogLevel {

enum Enum { Fatal = 0, Debug = 1, Info = 2, Success = 4, Warning = 8, Error = 16 };

// The printed name of a level; an empty text for values that are not levels.
const char* name(Enum level);

} // namespace LogLevel
} // namespace Harbend
