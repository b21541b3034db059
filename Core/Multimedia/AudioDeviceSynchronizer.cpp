#include "Core/Multimedia/AudioDeviceSynchronizer.h"

#include "Core/Multimedia/GuardedAudioOutput.h"

namespace Harbend {

quint64 AudioDeviceSynchronizer::playedTime(qint64 processedUSecs, QAudio::State state,
                                            int bufferSize, int bytesFree, int frequency)
{
    quint64 played = processedUSecs > 0 ? quint64(processedUSecs) * 1000 : 0;
    // PulseAudio counts what was written, not what was played, so the
    // buffered part is taken off also while the output idles after a resume.
    const bool holdsData = state == QAudio::ActiveState || state == QAudio::SuspendedState
        || state == QAudio::IdleState;
    if (!holdsData || frequency <= 0)
        return played;
    const qint64 buffered = qint64(bufferSize) - bytesFree;
    if (buffered <= 0)
        return played;
    const quint64 samples = quint64(buffered) / 2;
    const quint64 correction = samples * 1000000000ULL / quint64(frequency);
    // Nothing has been played while the buffer holds all that was written.
    return correction > played ? 0 : played - correction;
}

quint64 AudioDeviceSynchronizer::elapsed() const
{
    if (paused)
        return frozen;
    if (!output)
        return base;
    const GuardedAudioOutput::Reading now = output->read();
    const quint64 played = playedTime(now.processedUSecs, now.state, now.bufferSize, now.bytesFree,
                                      now.sampleRate);
    return base + scale(played, rate);
}

void AudioDeviceSynchronizer::setPlaybackRate(PlaybackRate::Enum newRate)
{
    // An unchanged rate leaves the output playing: nothing would restart it.
    if (newRate == rate)
        return;
    Synchronizer::setPlaybackRate(newRate);
    if (output)
        output->reset();
}

} // namespace Harbend
