#pragma once

namespace Harbend {

// Turns a volume of 0 to 100 into a linear gain of 0 to 1 (roughly exponential).
float gainFromVolume(int volume);

} // namespace Harbend
