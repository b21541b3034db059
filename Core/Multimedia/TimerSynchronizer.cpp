#include "Core/Multimedia/TimerSynchronizer.h"

namespace Harbend {

void TimerSynchronizer::start() { timer.start(); }

quint64 TimerSynchronizer::valueAfter(quint64 timerNs) const { return base + scale(timerNs, rate); }

quint64 TimerSynchronizer::elapsed() const
{
    if (paused)
        return frozen;
    if (!timer.isValid())
        return base;
    return valueAfter(static_cast<quint64>(timer.nsecsElapsed()));
}

void TimerSynchronizer::reset(quint64 ns)
{
    timer.invalidate();
    timer.start();
    Synchronizer::reset(ns);
}

void TimerSynchronizer::setPlaybackRate(PlaybackRate::Enum newRate)
{
    Synchronizer::setPlaybackRate(newRate);
    timer.invalidate();
    timer.start();
}

void TimerSynchronizer::resume()
{
    if (!paused)
        return;
    // The time spent paused is not counted.
    base = frozen;
    paused = false;
    timer.start();
}

} // namespace Harbend
