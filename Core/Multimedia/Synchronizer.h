#pragma once

#include "Core/Multimedia/PlaybackRate.h"

#include <QtGlobal>

namespace Harbend {

// A playback clock in nanoseconds of stream time. No lock: it is changed only
// while every output thread is paused.
class Synchronizer {
public:
    explicit Synchronizer(quint64 base, PlaybackRate::Enum rate = PlaybackRate::Normal) : base(base), rate(rate) {}
    virtual ~Synchronizer() {}

    Synchronizer(const Synchronizer&) = delete;
    Synchronizer& operator=(const Synchronizer&) = delete;

    virtual void start() {}
    virtual quint64 elapsed() const = 0;
    virtual void reset(quint64 ns) { base = frozen = ns; }
    virtual void setPlaybackRate(PlaybackRate::Enum newRate);

    // While paused the clock shows the value it had when paused.
    void pause();
    virtual void resume() { paused = false; }
    bool isPaused() const { return paused; }

    PlaybackRate::Enum playbackRate() const { return rate; }
    // The value at the last reset or rate change: elapsed() less it is the
    // stream time played since.
    quint64 runStart() const { return base; }

    // n counted at the given rate: doubled, halved (rounding down) or as it is.
    static quint64 scale(quint64 n, PlaybackRate::Enum rate);

protected:
    quint64 base;
    PlaybackRate::Enum rate;
    bool paused = false;
    quint64 frozen = 0; // the value shown while paused
};

} // namespace Harbend
