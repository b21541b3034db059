#pragma once

namespace Harbend {

// The recorder's microphone channels: the most that a stream carries, and
// the channels that playback levels and switches one by one.
constexpr unsigned RecorderChannels = 13;

} // namespace Harbend
