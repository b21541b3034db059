#pragma once

namespace Harbend {
namespace PlaybackRate {

// How fast playback runs; the vocoder keeps the pitch at Double and Half.
enum Enum { Normal = 0, Double = 1, Half = 2 };

// The two rules for a rate, each in one place. The player control plays a
// requested rate as 2.0 above 1.5, 0.5 below 0.75 and 1.0 otherwise, so 1.5
// and 0.75 play at 1.0.
inline double quantise(double requested) { return requested > 1.5 ? 2.0 : requested < 0.75 ? 0.5 : 1.0; }

// What plays a given rate (the session's and the window's rule): Double from
// 1.5 up, Half from 0.75 down, bounds included.
inline Enum fromRate(double rate) { return rate >= 1.5 ? Double : rate <= 0.75 ? Half : Normal; }

} // namespace PlaybackRate
} // namespace Harbend
