#include "Core/Base/GainFromVolume.h"

#include <algorithm>
#include <cmath>

namespace Harbend {

float gainFromVolume(int volume)
{
    if (volume <= 0)
        return 0.0f;
    const float v = static_cast<float>(std::min(volume, 100));
    const float gain = 0.01f * std::exp(v * 4.6051702f * 0.01f) - 0.0001f * (100.0f - v);
    return std::clamp(gain, 0.0f, 1.0f);
}

} // namespace Harbend
