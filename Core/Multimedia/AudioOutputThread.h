#pragma once

#include "Core/Base/Log.h"
#include "Core/Base/RecorderChannels.h"
#include "Core/Dsp/AudioKernels.h"
#include "Core/Multimedia/OutputThread.h"
#include "Core/Multimedia/PlaybackRate.h"

#include <QSharedPointer>

#include <atomic>

class QAudioOutput;
class QIODevice;

namespace Harbend {

class AudioChannelControl;
class PhaseVocoder;
class Sample;
class SampleQueue;

// Mixes the enabled channels of each audio sample into one, passes it through
// the phase vocoder at 0.5x and 2x, applies the master volume, converts it to
// 16-bit samples and writes them to the audio output as its free space allows.
// Only the GUI thread starts, suspends, resets or stops the output.
class AudioOutputThread : public OutputThread {
public:
    static constexpr unsigned VocoderBlockSize = 12288;
    static constexpr unsigned VocoderFrameSize = 4096;

    AudioOutputThread(QObject* session, quint64 playback, QAudioOutput* output, SampleQueue* queue,
                      AudioChannelControl* channelControl, unsigned bufferSize);
    ~AudioOutputThread() override;

    AudioOutputThread(const AudioOutputThread&) = delete;
    AudioOutputThread& operator=(const AudioOutputThread&) = delete;

    // False when the conversion buffer could not be had.
    bool isValid() const { return buffer != nullptr; }

    // Plain kernels unless the processor has SSE (mixing, volume) or SSE2
    // (conversion).
    void chooseKernels();

    // Between a pause and a resume (GUI thread): switches to the vocoder path
    // of the rate, or back; false when out of memory.
    bool setPlaybackRate(PlaybackRate::Enum rate);
    PlaybackRate::Enum playbackRate() const { return rate; }
    // Between a pause and a resume: forgets the sample in hand and what waits
    // in the vocoder, so that nothing from before a seek is heard after it.
    void discardPending();

    // Mixes channels 1..12 of a planar block into channel 0 by the channels'
    // gains and switches; the given kernels serve when frames is a multiple
    // of 4, the plain arithmetic otherwise.
    static void mixDown(float* data, unsigned channels, unsigned frames, const float* gains,
                        const bool* enabled, AudioKernels::AdjustVolumeFunction adjust,
                        AudioKernels::MixChannelsFunction mix);

    // Set by the session from output->start() while the thread is paused.
    QIODevice* device = nullptr;
    // Atomic: the GUI thread sets them at any time, the thread reads them.
    std::atomic<float> gain{1.0f};      // master gain
    std::atomic<bool> muted{false};

protected:
    void run() override;

private:
    friend class PlayerSession;

    // One step of the current sample; returns when it is done or the state changed.
    void playSample();
    // Writes data[position..count) in pieces the device takes; true when all is written.
    bool writeBlock(const float* data, unsigned count, unsigned& position);
    bool writeThroughVocoder(const float* data, unsigned count);
    void finishStream();
    void releaseVocoder();

    static Logging::Log ms_log;

    // Chosen by the GUI thread before the thread starts.
    AudioKernels::ConvertFunction convertFunction = &AudioKernels::convertFloatToI16;
    AudioKernels::AdjustVolumeFunction adjustVolumeFunction = &AudioKernels::adjustVolume;
    AudioKernels::MixChannelsFunction mixChannelsFunction = &AudioKernels::mixChannels;
    // Fixed at construction; each locked inside, or atomic (the control's levels).
    QAudioOutput* output;
    SampleQueue* queue;
    AudioChannelControl* channelControl;
    // The thread's own while it plays; the GUI thread changes them only while
    // the thread is paused (rate change, seek) or stopped.
    QSharedPointer<Sample> current;
    unsigned writePosition = 0;
    unsigned bufferSize;
    qint16* buffer = nullptr;
    PlaybackRate::Enum rate = PlaybackRate::Normal;
    PhaseVocoder* vocoder = nullptr;
    float* vocoderInput = nullptr;
    float* vocoderOutput = nullptr;
    unsigned vocoderInputFill = 0;
    unsigned readPosition = 0;
    unsigned vocoderOutputCount = 0;
};

} // namespace Harbend
