#pragma once

namespace Harbend {
namespace Codec {

// The codec of a logical stream; 0 until its identification header is parsed.
enum Enum { Unknown = 0, Opus = 1, Speex = 2, Vorbis = 3, Theora = 4, Dirac = 5 };

} // namespace Codec
} // namespace Harbend
