#pragma once

#include "Core/Multimedia/Synchronizer.h"

#include <QElapsedTimer>

namespace Harbend {

// The clock of a recording without audio: a monotonic timer.
class TimerSynchronizer : public Synchronizer {
public:
    explicit TimerSynchronizer(quint64 base, PlaybackRate::Enum rate = PlaybackRate::Normal) : Synchronizer(base, rate)
    {
    }

    void start() override;
    quint64 elapsed() const override;
    void reset(quint64 ns) override;
    void setPlaybackRate(PlaybackRate::Enum newRate) override;
    void resume() override;

    // The clock value after the given timer time; the arithmetic of elapsed().
    quint64 valueAfter(quint64 timerNs) const;

private:
    QElapsedTimer timer;
};

} // namespace Harbend
