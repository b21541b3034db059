#pragma once

#include "Core/Multimedia/Synchronizer.h"

#include <QAudio>

namespace Harbend {

class GuardedAudioOutput;

// The clock of a recording with audio: the time the audio device has played.
class AudioDeviceSynchronizer : public Synchronizer {
public:
    AudioDeviceSynchronizer(quint64 base, GuardedAudioOutput* output,
                            PlaybackRate::Enum rate = PlaybackRate::Normal)
        : Synchronizer(base, rate), output(output) {}

    quint64 elapsed() const override;
    // The output must be started anew afterwards when the rate changed.
    void setPlaybackRate(PlaybackRate::Enum newRate) override;

    // Time played in ns: the processed time less what still waits in the
    // device buffer (16-bit mono), when the output holds data.
    static quint64 playedTime(qint64 processedUSecs, QAudio::State state, int bufferSize,
                              int bytesFree, int frequency);

private:
    GuardedAudioOutput* output;
};

} // namespace Harbend
