#include "Core/Multimedia/AudioOutputThread.h"

#include "Core/Base/Memory.h"
#include "Core/Base/Processor.h"
#include "Core/Decoder/AudioSample.h"
#include "Core/Decoder/SampleQueue.h"
#include "Core/Dsp/PhaseVocoder.h"
#include "Core/Multimedia/AudioChannelControl.h"

#include <QAudioOutput>
#include <QElapsedTimer>

#include <algorithm>
#include <cstring>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Multimedia/PlayerSession";
const unsigned long kSleepUs = 10000;
// How long the end of a stream waits for the device to play what it holds,
// beyond the buffer's own length.
const qint64 kDrainSlackMs = 500;
} // namespace

Logging::Log AudioOutputThread::ms_log("AudioOutputThread", Logging::Log::systemLogger());

AudioOutputThread::AudioOutputThread(QObject* session, quint64 playback, QAudioOutput* output,
                                     SampleQueue* queue, AudioChannelControl* channelControl,
                                     unsigned bufferSize)
    : OutputThread(session, playback), output(output), queue(queue), channelControl(channelControl),
      bufferSize(bufferSize)
{
    buffer = static_cast<qint16*>(Memory::allocate(bufferSize));
    if (!buffer)
        buffer = static_cast<qint16*>(Memory::allocate(bufferSize));
}

AudioOutputThread::~AudioOutputThread()
{
    releaseVocoder();
    if (buffer)
        Memory::free(buffer);
}

void AudioOutputThread::chooseKernels()
{
    if (Processor::has(Processor::SSE2)) {
        convertFunction = &AudioKernels::convertFloatToI16SSE2;
        HARBEND_LOG(Info, "Using SSE2 accelerated audio data float->i16 conversion.");
    }
    if (Processor::has(Processor::SSE)) {
        mixChannelsFunction = &AudioKernels::mixChannelsSSE;
        adjustVolumeFunction = &AudioKernels::adjustVolumeSSE;
        HARBEND_LOG(Info, "Using SSE accelerated audio channel mixing.");
    }
}

void AudioOutputThread::releaseVocoder()
{
    delete vocoder;
    vocoder = nullptr;
    if (vocoderInput)
        Memory::free(vocoderInput);
    vocoderInput = nullptr;
}

bool AudioOutputThread::setPlaybackRate(PlaybackRate::Enum newRate)
{
    releaseVocoder();
    discardPending();
    // Without a vocoder only the direct path is safe, whatever happens below.
    rate = PlaybackRate::Normal;
    if (newRate != PlaybackRate::Normal) {
        vocoder = new (std::nothrow) PhaseVocoder(VocoderFrameSize, VocoderBlockSize,
                                                  newRate == PlaybackRate::Double ? 2.0f : 0.5f);
        // A vocoder whose buffers were refused would turn every block into silence.
        if (!vocoder || !vocoder->isValid()) {
            HARBEND_LOG(Fatal, "Failed to allocate vocoder object! Out of memory?");
            releaseVocoder();
            return false;
        }
        vocoderInput = static_cast<float*>(Memory::allocate(VocoderBlockSize * sizeof(float)));
        if (!vocoderInput) {
            HARBEND_LOG(Fatal, "Failed to allocate a buffer for vocoder input!");
            releaseVocoder();
            return false;
        }
    }
    rate = newRate;
    return true;
}

void AudioOutputThread::discardPending()
{
    current.reset();
    writePosition = 0;
    readPosition = 0;
    vocoderInputFill = 0;
    vocoderOutputCount = 0;
    vocoderOutput = nullptr;
}

void AudioOutputThread::mixDown(float* data, unsigned channels, unsigned frames, const float* gains,
                                const bool* enabled, AudioKernels::AdjustVolumeFunction adjust,
                                AudioKernels::MixChannelsFunction mix)
{
    if (frames % 4 != 0) {
        adjust = &AudioKernels::adjustVolume;
        mix = &AudioKernels::mixChannels;
    }
    if (!enabled[0])
        std::memset(data, 0, frames * sizeof(float));
    adjust(data, frames, gains[0]);
    const unsigned last = std::min(channels, RecorderChannels);
    for (unsigned k = 1; k < last; ++k) {
        if (enabled[k])
            mix(data, data + std::size_t(k) * frames, frames, gains[k]);
    }
}

void AudioOutputThread::run()
{
    HARBEND_LOG(Debug, "Starting audio output thread.");
    for (;;) {
        switch (state()) {
        case Stop:
            HARBEND_LOG(Debug, "Stopping audio output thread.");
            current.reset();
            return;
        case Paused:
            waitWhilePaused();
            break;
        case Play:
            playSample();
            break;
        }
    }
}

void AudioOutputThread::playSample()
{
    if (!current) {
        current = queue->dequeueSample();
        if (!current) {
            rest(kSleepUs);
            return;
        }
        if (current->type == Sample::EndOfStream) {
            current.reset();
            finishStream();
            return;
        }
        if (current->type != Sample::Audio) {
            current.reset();
            return;
        }
        AudioSample* audio = static_cast<AudioSample*>(current.data());
        if (!audio->data || audio->channels <= 0 || audio->frames <= 0) {
            current.reset();
            return;
        }
        // The channel settings are read once per sample; the panel may change them at any time.
        float gains[RecorderChannels];
        bool enabled[RecorderChannels];
        for (unsigned k = 0; k < RecorderChannels; ++k) {
            gains[k] = channelControl->gain[k];
            enabled[k] = channelControl->enabled[k];
        }
        mixDown(audio->data, unsigned(audio->channels), unsigned(audio->frames), gains, enabled,
                adjustVolumeFunction, mixChannelsFunction);
        writePosition = 0;
        readPosition = 0;
    }
    const AudioSample* audio = static_cast<const AudioSample*>(current.data());
    const bool done = rate == PlaybackRate::Normal
        ? writeBlock(audio->data, unsigned(audio->frames), writePosition)
        : writeThroughVocoder(audio->data, unsigned(audio->frames));
    if (done) {
        current.reset();
        writePosition = 0;
    }
}

bool AudioOutputThread::writeBlock(const float* data, unsigned count, unsigned& position)
{
    const unsigned largest = (bufferSize / 2) & ~7u;
    while (playing()) {
        const int free = output->bytesFree();
        if (free <= 0) {
            rest(kSleepUs);
            continue;
        }
        unsigned left = count - position;
        if (left > largest)
            left = largest;
        const unsigned room = (unsigned(free) / 2) & ~7u;
        const unsigned pieceCount = std::min(left, room);
        if (pieceCount == 0) {
            rest(kSleepUs);
            continue;
        }
        if (muted)
            std::memset(buffer, 0, pieceCount * sizeof(qint16));
        else if (pieceCount % 8 == 0 && position % 8 == 0)
            convertFunction(buffer, data, position, pieceCount, gain);
        else
            AudioKernels::convertFloatToI16(buffer, data, position, pieceCount, gain);
        const qint64 written = device ? device->write(reinterpret_cast<const char*>(buffer),
                                                      qint64(pieceCount) * 2)
                                      : -1;
        if (written < 0) {
            HARBEND_LOG(Warning, "Failed to write audio samples into buffer!");
            position += pieceCount;
        } else {
            // A device that takes less keeps the rest for the next piece.
            position += unsigned(written / 2);
        }
        if (position >= count) {
            position = 0;
            return true;
        }
        rest(kSleepUs);
    }
    return false;
}

bool AudioOutputThread::writeThroughVocoder(const float* data, unsigned count)
{
    while (playing()) {
        if (vocoderOutputCount != 0) {
            if (!writeBlock(vocoderOutput, vocoderOutputCount, writePosition))
                return false;
            vocoderOutputCount = 0;
            continue;
        }
        const unsigned take = std::min(count - readPosition, VocoderBlockSize - vocoderInputFill);
        std::memcpy(vocoderInput + vocoderInputFill, data + readPosition, take * sizeof(float));
        vocoderInputFill += take;
        readPosition += take;
        if (vocoderInputFill == VocoderBlockSize) {
            vocoderInputFill = 0;
            writePosition = 0;
            vocoderOutput = vocoder->processData(vocoderInput, vocoderOutputCount);
        }
        if (readPosition >= count) {
            readPosition = 0;
            return true;
        }
    }
    return false;
}

void AudioOutputThread::finishStream()
{
    // Let the device play what it holds; the GUI thread stops the output.
    const unsigned rateHz = unsigned(qMax(1, output->format().sampleRate()));
    const qint64 limit = qint64(bufferSize / 2) * 1000 / rateHz + kDrainSlackMs;
    QElapsedTimer waited;
    waited.start();
    while (playing() && output->bytesFree() < int(bufferSize) && waited.elapsed() < limit)
        rest(kSleepUs);
    queue->close();
    queue->clear();
    stopByItself();
}

} // namespace Harbend
