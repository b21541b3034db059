#pragma once

namespace Harbend {
namespace PlaybackRate {

// How fast playback runs; the vocoder keeps the pitch at Double and Half.
enum Enum {
    Normal = 0,
    Double = 1,
    Half = 2
};

} // namespace PlaybackRate
} // namespace Harbend
