#include "Core/Multimedia/AudioDeviceSynchronizer.h"

#include "Core/Multimedia/GuardedAudioOutput.h"

namespace Harbend {

quint64 AudioDeviceSynchronizer::playedTime(qint64 processedUSecs, QAudio::State state, int bufferSize, int bytesFree,
                                            int frequency)
{
    quint64 played = processedUSecs > 0 ? quint64(processedUSecs) * 1000 : 0;
    // PulseAudio counts what was written, not what was played, so the
    // buffered part is taken off also while the output idles after a resume.
    const bool holdsData = state == QAudio::ActiveState || state == QAudio::SuspendedState ||
                           state == QAudio::IdleState;
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

quint64 AudioDeviceSynchronizer::carriedTime(quint64 reading, quint64 stepReading, quint64 sinceStep,
                                             quint64 stepLength, quint64 shown, bool active)
{
    const quint64 carry = active ? qMin(qMin(sinceStep, stepLength), kMaxCarry) : 0;
    return qMax(qMax(reading, stepReading + carry), shown);
}

quint64 AudioDeviceSynchronizer::elapsed() const
{
    if (paused)
        return frozen;
    if (!output)
        return base;
    const GuardedAudioOutput::Reading now = output->read();
    const quint64 played = playedTime(now.processedUSecs, now.state, now.bufferSize, now.bytesFree, now.sampleRate);
    // Rounding of the processed time moves the reading by less than a
    // millisecond on every write: only larger moves are steps. A reading
    // below the last step comes from a reader that lost the race for the lock.
    const quint64 kMinStep = 1000000;
    QMutexLocker lock(&carryMutex);
    if (!haveStep || played >= stepReading + kMinStep) {
        stepLength = haveStep ? played - stepReading : 0;
        stepReading = played;
        sinceStep.start();
        haveStep = true;
    }
    shown = carriedTime(played, stepReading, quint64(sinceStep.nsecsElapsed()), stepLength, shown,
                        now.state == QAudio::ActiveState);
    return base + scale(shown, rate);
}

void AudioDeviceSynchronizer::restartCarry(bool keepShown)
{
    QMutexLocker lock(&carryMutex);
    haveStep = false;
    stepLength = 0;
    if (!keepShown)
        shown = 0;
}

void AudioDeviceSynchronizer::reset(quint64 ns)
{
    Synchronizer::reset(ns);
    restartCarry(false);
}

void AudioDeviceSynchronizer::resume()
{
    // The device was suspended: no step is carried over the pause.
    restartCarry(true);
    Synchronizer::resume();
}

void AudioDeviceSynchronizer::setPlaybackRate(PlaybackRate::Enum newRate)
{
    // An unchanged rate leaves the output playing: nothing would restart it.
    if (newRate == rate)
        return;
    Synchronizer::setPlaybackRate(newRate);
    // The count starts from zero with nothing of the old rate queued; the
    // stream stays on the device meanwhile, so the sound server cannot run
    // ahead of it.
    if (output)
        output->restart();
    restartCarry(false);
}

} // namespace Harbend
