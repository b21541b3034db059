#include "Core/Multimedia/AudioOutputThread.h"

#include "Core/Base/Memory.h"
#include "Core/Base/Processor.h"
#include "Core/Decoder/AudioSample.h"
#include "Core/Decoder/SampleQueue.h"
#include "Core/Dsp/PhaseVocoder.h"
#include "Core/Multimedia/AudioChannelControl.h"
#include "Core/Multimedia/AudioDeviceSynchronizer.h"
#include "Core/Multimedia/GuardedAudioOutput.h"

#include <algorithm>
#include <cstring>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Multimedia/PlayerSession";
const unsigned long kSleepUs = 10000;
// Silence taken at a time once the stream has ended.
const unsigned kSilenceBlock = 1024;
const float kSilence[kSilenceBlock] = {};
} // namespace

Logging::Log AudioOutputThread::ms_log("AudioOutputThread", Logging::Log::systemLogger());

AudioOutputThread::AudioOutputThread(QObject* session, quint64 playback, GuardedAudioOutput* output, SampleQueue* queue,
                                     AudioChannelControl* channelControl, unsigned bufferSize)
    : OutputThread(session, playback),
      output(output),
      queue(queue),
      channelControl(channelControl),
      bufferSize(bufferSize)
{
    buffer = static_cast<qint16*>(Memory::allocate(bufferSize));
    if (!buffer)
        buffer = static_cast<qint16*>(Memory::allocate(bufferSize));
    history = static_cast<float*>(Memory::allocate(HistorySize * sizeof(float)));
}

AudioOutputThread::~AudioOutputThread()
{
    releaseVocoder();
    for (void* block : {static_cast<void*>(buffer), static_cast<void*>(history)}) {
        if (block)
            Memory::free(block);
    }
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

bool AudioOutputThread::renewVocoder(PlaybackRate::Enum newRate)
{
    releaseVocoder();
    // Without a vocoder only the direct path is safe, whatever happens below.
    rate = PlaybackRate::Normal;
    if (newRate != PlaybackRate::Normal) {
        vocoder = new (std::nothrow)
            PhaseVocoder(VocoderFrameSize, VocoderBlockSize, newRate == PlaybackRate::Double ? 2.0f : 0.5f);
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
    restartVocoderPath();
    return true;
}

bool AudioOutputThread::setPlaybackRate(PlaybackRate::Enum newRate) { return renewVocoder(newRate); }

void AudioOutputThread::startPath()
{
    pathStart = cursor;
    restartVocoderPath();
}

void AudioOutputThread::restartVocoderPath()
{
    vocoderInputFill = 0;
    vocoderOutputCount = 0;
    vocoderOutput = nullptr;
    writePosition = 0;
    // The vocoder's first output belongs before the start: dropped, the
    // device's first sample is the path's first.
    leadIn = rate == PlaybackRate::Normal ? 0 : unsigned(deviceSamples(VocoderDelay));
}

void AudioOutputThread::continueFrom(quint64 heardNs)
{
    const quint64 heard = heardNs * quint64(output->sampleRate()) / 1000000000ULL;
    const quint64 oldest = historyEnd > HistorySize ? historyEnd - HistorySize : 0;
    cursor = std::min(historyEnd, std::max(oldest, pathStart + heard));
    startPath();
}

bool AudioOutputThread::discardPending()
{
    historyEnd = 0;
    cursor = 0;
    pathStart = 0;
    streamEnd = NoEnd;
    clearEnd();
    return renewVocoder(rate);
}

quint64 AudioOutputThread::deviceSamples(quint64 streamSamples) const
{
    switch (rate) {
    case PlaybackRate::Double:
        return streamSamples / 2;
    case PlaybackRate::Half:
        return streamSamples * 2;
    case PlaybackRate::Normal:
        break;
    }
    return streamSamples;
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
            return;
        case Paused:
            waitWhilePaused();
            break;
        case Play:
            playStep();
            break;
        }
    }
}

void AudioOutputThread::playStep()
{
    if (cursor == historyEnd && !takeSample())
        return;
    if (rate == PlaybackRate::Normal)
        feedDirect();
    else
        feedVocoder();
    if (streamEnd != NoEnd && !hasEnded() && endHeard())
        reportEnd();
}

bool AudioOutputThread::takeSample()
{
    if (streamEnd != NoEnd) {
        appendToHistory(kSilence, kSilenceBlock);
        return true;
    }
    const QSharedPointer<Sample> sample = queue->dequeueSample();
    if (!sample) {
        rest(kSleepUs);
        return false;
    }
    if (sample->type == Sample::EndOfStream) {
        streamEnd = historyEnd;
        queue->close();
        queue->clear();
        return false;
    }
    if (sample->type != Sample::Audio)
        return false;
    AudioSample* audio = static_cast<AudioSample*>(sample.data());
    if (!audio->data || audio->channels <= 0 || audio->frames <= 0)
        return false;
    // The channel settings are read once per sample; the panel may change them at any time.
    float gains[RecorderChannels];
    bool enabled[RecorderChannels];
    for (unsigned k = 0; k < RecorderChannels; ++k) {
        gains[k] = channelControl->gain[k];
        enabled[k] = channelControl->enabled[k];
    }
    mixDown(audio->data, unsigned(audio->channels), unsigned(audio->frames), gains, enabled, adjustVolumeFunction,
            mixChannelsFunction);
    appendToHistory(audio->data, unsigned(audio->frames));
    return true;
}

void AudioOutputThread::appendToHistory(const float* data, unsigned count)
{
    // Only what fits is kept; the cursor stands at the end when this is called.
    if (count > HistorySize) {
        historyEnd += count - HistorySize;
        data += count - HistorySize;
        count = HistorySize;
        cursor = historyEnd;
    }
    while (count > 0) {
        const unsigned at = unsigned(historyEnd & (HistorySize - 1));
        const unsigned piece = std::min(count, HistorySize - at);
        std::memcpy(history + at, data, piece * sizeof(float));
        historyEnd += piece;
        data += piece;
        count -= piece;
    }
}

void AudioOutputThread::feedDirect()
{
    while (cursor < historyEnd && playing()) {
        const unsigned at = unsigned(cursor & (HistorySize - 1));
        const unsigned count = unsigned(std::min<quint64>(historyEnd - cursor, HistorySize - at));
        cursor += writeSamples(history + at, count);
    }
}

void AudioOutputThread::feedVocoder()
{
    while (playing()) {
        if (vocoderOutputCount != 0) {
            const unsigned dropped = std::min(leadIn, vocoderOutputCount - writePosition);
            leadIn -= dropped;
            writePosition += dropped;
            writePosition += writeSamples(vocoderOutput + writePosition, vocoderOutputCount - writePosition);
            if (writePosition < vocoderOutputCount)
                return;
            vocoderOutputCount = 0;
            writePosition = 0;
            continue;
        }
        if (cursor == historyEnd)
            return;
        const unsigned at = unsigned(cursor & (HistorySize - 1));
        const unsigned take = unsigned(
            std::min<quint64>(historyEnd - cursor, std::min(HistorySize - at, VocoderBlockSize - vocoderInputFill)));
        std::memcpy(vocoderInput + vocoderInputFill, history + at, take * sizeof(float));
        vocoderInputFill += take;
        cursor += take;
        if (vocoderInputFill == VocoderBlockSize) {
            vocoderInputFill = 0;
            writePosition = 0;
            vocoderOutput = vocoder->processData(vocoderInput, vocoderOutputCount);
        }
    }
}

unsigned AudioOutputThread::writeSamples(const float* data, unsigned count)
{
    const unsigned largest = (bufferSize / 2) & ~7u;
    unsigned done = 0;
    while (done < count && playing()) {
        const int free = output->bytesFree();
        const unsigned room = free > 0 ? (unsigned(free) / 2) & ~7u : 0;
        const unsigned piece = std::min(std::min(count - done, largest), room);
        if (piece == 0) {
            rest(kSleepUs);
            continue;
        }
        const float* from = data + done;
        if (muted)
            std::memset(buffer, 0, piece * sizeof(qint16));
        else if (piece % 8 == 0 && (reinterpret_cast<quintptr>(from) & 15) == 0)
            convertFunction(buffer, from, 0, piece, gain);
        else
            AudioKernels::convertFloatToI16(buffer, from, 0, piece, gain);
        const qint64 written = output->write(reinterpret_cast<const char*>(buffer), qint64(piece) * 2);
        if (written < 0) {
            HARBEND_LOG(Warning, "Failed to write audio samples into buffer!");
            done += piece;
        } else {
            // A device that takes less keeps the rest for the next piece.
            done += unsigned(written / 2);
        }
        if (done < count)
            rest(kSleepUs);
    }
    return done;
}

bool AudioOutputThread::endHeard() const
{
    const quint64 end = streamEnd > pathStart ? deviceSamples(streamEnd - pathStart) : 0;
    const GuardedAudioOutput::Reading now = output->read();
    const quint64 played = AudioDeviceSynchronizer::playedTime(now.processedUSecs, now.state, now.bufferSize,
                                                               now.bytesFree, now.sampleRate);
    return played >= end * 1000000000ULL / quint64(qMax(1, now.sampleRate));
}

} // namespace Harbend
