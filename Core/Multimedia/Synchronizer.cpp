#include "Core/Multimedia/Synchronizer.h"

namespace Harbend {

void Synchronizer::setPlaybackRate(PlaybackRate::Enum newRate)
{
    base = elapsed();
    rate = newRate;
}

void Synchronizer::pause()
{
    if (paused)
        return;
    frozen = elapsed();
    paused = true;
}

quint64 Synchronizer::scale(quint64 n, PlaybackRate::Enum rate)
{
    switch (rate) {
    case PlaybackRate::Double:
        return n << 1;
    case PlaybackRate::Half:
        return n >> 1;
    case PlaybackRate::Normal:
        break;
    }
    return n;
}

} // namespace Harbend
