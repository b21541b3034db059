#pragma once

namespace Harbend {
namespace MediaType {

// The kind of a logical stream; 0 until its identification header is parsed.
enum Enum { Unknown = 0, Audio = 1, Video = 2 };

} // namespace MediaType
} // namespace Harbend
