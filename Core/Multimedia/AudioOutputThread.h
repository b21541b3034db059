#pragma once

#include "Core/Base/Log.h"
#include "Core/Base/RecorderChannels.h"
#include "Core/Dsp/AudioKernels.h"
#include "Core/Multimedia/OutputThread.h"
#include "Core/Multimedia/PlaybackRate.h"

#include <atomic>

namespace Harbend {

class AudioChannelControl;
class GuardedAudioOutput;
class PhaseVocoder;
class SampleQueue;

// Mixes the enabled channels of each audio sample into one, passes it through
// the phase vocoder at 0.5x and 2x, applies the master volume, converts it to
// 16-bit samples and writes them to the audio output as its free space allows.
// Only the GUI thread starts, suspends, resets or stops the output.
//
// The mixed sound is kept for a few seconds, so that a change of rate goes on
// from the sample last heard rather than from what the device and the vocoder
// held. At the end of the stream the thread writes silence, which lets the
// device play the last samples and keeps the clock going for the pictures; it
// reports the end once the device has played them.
class AudioOutputThread : public OutputThread {
public:
    static constexpr unsigned VocoderBlockSize = 12288;
    static constexpr unsigned VocoderFrameSize = 4096;
    // Input samples by which the vocoder's output lags its input.
    static constexpr unsigned VocoderDelay = 3 * (VocoderFrameSize / 4);
    // Mixed samples kept (a power of two): more than the vocoder and the
    // device hold at any rate from 8 kHz up.
    static constexpr unsigned HistorySize = 1u << 17;

    AudioOutputThread(QObject* session, quint64 playback, GuardedAudioOutput* output, SampleQueue* queue,
                      AudioChannelControl* channelControl, unsigned bufferSize);
    ~AudioOutputThread() override;

    AudioOutputThread(const AudioOutputThread&) = delete;
    AudioOutputThread& operator=(const AudioOutputThread&) = delete;

    // False when the conversion buffer or the history could not be had.
    bool isValid() const { return buffer != nullptr && history != nullptr; }

    // Plain kernels unless the processor has SSE (mixing, volume) or SSE2
    // (conversion).
    void chooseKernels();

    // Between a pause and a resume (GUI thread): switches to a new vocoder for
    // the rate, or to the direct path; false when out of memory.
    bool setPlaybackRate(PlaybackRate::Enum rate);
    PlaybackRate::Enum playbackRate() const { return rate; }
    // Between a pause and a resume, with the output started anew: plays on
    // from the sample heard after heardNs of stream time since the output's
    // last start, whatever the device and the vocoder held.
    void continueFrom(quint64 heardNs);
    // Between a pause and a resume: forgets all that was taken and renews the
    // vocoder, so that nothing from before a seek is heard after it; false
    // when out of memory.
    bool discardPending();

    // Mixes channels 1..12 of a planar block into channel 0 by the channels'
    // gains and switches; the given kernels serve when frames is a multiple
    // of 4, the plain arithmetic otherwise.
    static void mixDown(float* data, unsigned channels, unsigned frames, const float* gains, const bool* enabled,
                        AudioKernels::AdjustVolumeFunction adjust, AudioKernels::MixChannelsFunction mix);

    // Atomic: the GUI thread sets them at any time, the thread reads them.
    std::atomic<float> gain{1.0f}; // master gain
    std::atomic<bool> muted{false};

protected:
    void run() override;

private:
    friend class PlayerSession;

    // One step: takes a sample when all is fed, then feeds the path.
    void playStep();
    // Mixes the next sample into the history (silence once the stream has
    // ended); false when there was none.
    bool takeSample();
    void appendToHistory(const float* data, unsigned count);
    void feedDirect();
    void feedVocoder();
    // Writes data[0..count) in pieces the device takes, until all is written
    // or the state changes; returns the count written.
    unsigned writeSamples(const float* data, unsigned count);
    // Starts a path (direct or a fresh vocoder) at the history's cursor.
    void startPath();
    // Forgets the vocoder's input and output, and drops its lead-in again.
    void restartVocoderPath();
    // Device samples for a count of stream samples at the current rate.
    quint64 deviceSamples(quint64 streamSamples) const;
    bool endHeard() const;
    bool renewVocoder(PlaybackRate::Enum rate);
    void releaseVocoder();

    static constexpr quint64 NoEnd = ~quint64(0);

    static Logging::Log ms_log;

    // Chosen by the GUI thread before the thread starts.
    AudioKernels::ConvertFunction convertFunction = &AudioKernels::convertFloatToI16;
    AudioKernels::AdjustVolumeFunction adjustVolumeFunction = &AudioKernels::adjustVolume;
    AudioKernels::MixChannelsFunction mixChannelsFunction = &AudioKernels::mixChannels;
    // Fixed at construction; each locked inside, or atomic (the control's levels).
    GuardedAudioOutput* output;
    SampleQueue* queue;
    AudioChannelControl* channelControl;
    // The thread's own while it plays; the GUI thread changes them only while
    // the thread is paused (rate change, seek) or stopped.
    unsigned bufferSize;
    qint16* buffer = nullptr;
    PlaybackRate::Enum rate = PlaybackRate::Normal;
    // The history and its positions, counted in samples since the last discard.
    float* history = nullptr;
    quint64 historyEnd = 0;    // samples taken so far
    quint64 cursor = 0;        // the next sample to feed to the path
    quint64 pathStart = 0;     // the sample the device's output started with
    quint64 streamEnd = NoEnd; // where the stream ended, once it has
    PhaseVocoder* vocoder = nullptr;
    float* vocoderInput = nullptr;
    float* vocoderOutput = nullptr;
    unsigned vocoderInputFill = 0;
    unsigned vocoderOutputCount = 0;
    unsigned writePosition = 0; // of vocoderOutput
    unsigned leadIn = 0;        // vocoder output samples still to drop at a path's start
};

} // namespace Harbend
