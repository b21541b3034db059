#pragma once

#include "Core/Multimedia/Synchronizer.h"

#include <QAudio>
#include <QElapsedTimer>
#include <QMutex>

namespace Harbend {

class GuardedAudioOutput;

// The clock of a recording with audio: the time the audio device has played.
// The device's reading moves in steps as large as the chunks the sound server
// asks for (160 ms when nothing records the sink); between steps the clock is
// carried on with a monotonic timer, so that pictures do not come in bursts.
class AudioDeviceSynchronizer : public Synchronizer {
public:
    AudioDeviceSynchronizer(quint64 base, GuardedAudioOutput* output, PlaybackRate::Enum rate = PlaybackRate::Normal)
        : Synchronizer(base, rate), output(output)
    {
    }

    quint64 elapsed() const override;
    void reset(quint64 ns) override;
    // A changed rate restarts the output, which then counts from zero.
    void setPlaybackRate(PlaybackRate::Enum newRate) override;
    void resume() override;

    // Time played in ns: the processed time less what still waits in the
    // device buffer (16-bit mono), when the output holds data.
    static quint64 playedTime(qint64 processedUSecs, QAudio::State state, int bufferSize, int bytesFree, int frequency);

    // Device time in ns carried on from the last step: the reading at the
    // step plus the time since, no further than the last step's length nor
    // the cap, not while the output is inactive, never below the reading or
    // what was shown before.
    static quint64 carriedTime(quint64 reading, quint64 stepReading, quint64 sinceStep, quint64 stepLength,
                               quint64 shown, bool active);

    // The most the clock is carried ahead of the device's reading.
    static constexpr quint64 kMaxCarry = 200000000;

private:
    // Forgets the steps; what was shown is kept only when the device count
    // goes on (after a pause), not when it starts anew.
    void restartCarry(bool keepShown);

    GuardedAudioOutput* output;

    mutable QMutex carryMutex; // guards the members below (video and GUI threads read the clock)
    mutable bool haveStep = false;
    mutable quint64 stepReading = 0; // device ns at the last step
    mutable quint64 stepLength = 0;  // ns the last step moved the reading
    mutable QElapsedTimer sinceStep;
    mutable quint64 shown = 0; // device ns last returned
};

} // namespace Harbend
