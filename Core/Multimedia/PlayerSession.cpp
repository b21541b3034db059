#include "Core/Multimedia/PlayerSession.h"

#include "Core/Base/GainFromVolume.h"
#include "Core/Base/GuiThread.h"
#include "Core/Decoder/OggReader.h"
#include "Core/Decoder/OggStream.h"
#include "Core/Decoder/SampleQueue.h"
#include "Core/Multimedia/AudioDeviceSynchronizer.h"
#include "Core/Multimedia/AudioEndpointControl.h"
#include "Core/Multimedia/AudioOutputThread.h"
#include "Core/Multimedia/GuardedAudioOutput.h"
#include "Core/Multimedia/PlaybackRate.h"
#include "Core/Multimedia/PlayerService.h"
#include "Core/Multimedia/TimerSynchronizer.h"
#include "Core/Multimedia/VideoOutputThread.h"
#include "Core/Multimedia/VideoRendererControl.h"

#include <QAbstractVideoSurface>
#include <QAudioOutput>
#include <QPointer>

#include <utility>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Multimedia/PlayerSession";

// The session writes some lines through the output threads' loggers.
#define HARBEND_LOG_AOT(level, ...)                                                                                    \
    AudioOutputThread::ms_log.log(::Harbend::SourceInfo{kLogSource, static_cast<unsigned>(__LINE__)},                  \
                                  ::Harbend::LogLevel::level, __VA_ARGS__)
#define HARBEND_LOG_VOT(level, ...)                                                                                    \
    VideoOutputThread::ms_log.log(::Harbend::SourceInfo{kLogSource, static_cast<unsigned>(__LINE__)},                  \
                                  ::Harbend::LogLevel::level, __VA_ARGS__)
} // namespace

Logging::Log PlayerSession::ms_log("PlayerSession", Logging::Log::systemLogger());

PlayerSession::PlayerSession(PlayerService* service) : service(service)
{
    qRegisterMetaType<QAudio::State>("QAudio::State");
}

PlayerSession::~PlayerSession() { stop(); }

bool PlayerSession::play(OggReader* reader, quint64 startMs)
{
    Q_ASSERT(onGuiThread());
    stop();
    ++playback;
    const quint64 startNs = startMs * 1000000ULL;
    const QSharedPointer<OggStream> audioStream = reader->getAudioStream();
    const QSharedPointer<OggStream> videoStream = reader->getVideoStream();
    if (audioStream) {
        if (!audioStream->getAudioFormat().isValid()) {
            HARBEND_LOG(Error, "Audio format is not valid!");
            return false;
        }
        startAudio(reader, startNs);
    }
    if (videoStream) {
        if (!videoStream->getVideoFormat().isValid()) {
            HARBEND_LOG(Error, "Video format is not valid!");
            // Nothing of a playback that cannot start is left running.
            stop();
            return false;
        }
        startVideo(reader, startNs);
    }
    if (!videoThread) {
        if (videoStream)
            reader->disableVideoStream();
    } else {
        resumeVideo();
    }
    if (!audioThread) {
        if (audioStream)
            reader->disableAudioStream();
    } else {
        resumeAudio();
    }
    return true;
}

void PlayerSession::startAudio(OggReader* reader, quint64 startNs)
{
    const QSharedPointer<OggStream> stream = reader->getAudioStream();
    if (!service->audioEndpointControl) {
        HARBEND_LOG(Warning, "Audio endpoint not created, won't play audio!");
        return;
    }
    if (!service->audioChannelControl) {
        HARBEND_LOG(Warning, "Audio channel control not created, won't play audio!");
        return;
    }
    QAudioOutput* created = service->audioEndpointControl->createAudioOutput(stream->getAudioFormat());
    if (!created) {
        HARBEND_LOG(Warning, "Failed to create audio output! Won't play audio!");
        return;
    }
    const QPointer<AudioEndpointControl> endpoint(service->audioEndpointControl);
    const QAudioFormat format = stream->getAudioFormat();
    output = new GuardedAudioOutput(
        created, [endpoint, format] { return endpoint ? endpoint->createAudioOutput(format) : nullptr; });
    const unsigned bufferSize = unsigned(output->sampleRate() / 1000) * 400;
    audioThread = new AudioOutputThread(this, playback, output, stream->sampleQueue, service->audioChannelControl,
                                        bufferSize);
    output->setBufferSize(int(bufferSize));
    audioThread->chooseKernels();
    if (!audioThread->isValid() || bufferSize == 0) {
        HARBEND_LOG(Warning, "Failed to create audio output thread object! Won't play audio!");
        dropAudio();
        return;
    }
    bool started = false;
    if (!output->start())
        HARBEND_LOG_AOT(Error, "Failed to start audio playback!");
    else if (!audioThread->startPaused())
        HARBEND_LOG_AOT(Error, "Failed to start player session thread!");
    else
        started = true;
    if (!started) {
        HARBEND_LOG(Warning, "Failed to initialize audio output thread object! Won't play audio!");
        dropAudio();
        return;
    }
    connect(output->object(), &QAudioOutput::stateChanged, this, &PlayerSession::stateChanged);
    clock = new AudioDeviceSynchronizer(startNs, output);
}

void PlayerSession::startVideo(OggReader* reader, quint64 startNs)
{
    const QSharedPointer<OggStream> stream = reader->getVideoStream();
    const QVideoSurfaceFormat format = stream->getVideoFormat();
    if (!service->videoRendererControl) {
        HARBEND_LOG(Warning, "Video renderer control not created, won't play video.");
        return;
    }
    QAbstractVideoSurface* target = service->videoRendererControl->surface();
    if (!target) {
        HARBEND_LOG(Warning, "Video renderer does not have a valid video surface! Can't play video!");
        return;
    }
    if (!target->start(format)) {
        HARBEND_LOG(Warning, "Failed to start video renderer!");
        return;
    }
    if (!clock)
        clock = new TimerSynchronizer(startNs);
    videoThread = new VideoOutputThread(this, playback, target, clock, stream->sampleQueue, format.frameRate());
    if (!videoThread->startPaused()) {
        HARBEND_LOG_VOT(Error, "Failed to start player session thread!");
        HARBEND_LOG(Warning, "Failed to initialize video output thread object! Won't play video!");
        VideoOutputThread* thread = std::exchange(videoThread, nullptr);
        thread->requestStop();
        delete thread;
        target->stop();
        return;
    }
    surface = target;
}

void PlayerSession::dropAudio()
{
    // Each member is cleared before its object goes: the output runs the
    // event loop while it is deleted, and a stop that arrives then must find
    // nothing left to stop.
    if (AudioOutputThread* thread = std::exchange(audioThread, nullptr)) {
        thread->requestStop();
        thread->queue->close();
        thread->queue->clear();
        delete thread;
    }
    if (GuardedAudioOutput* doomed = std::exchange(output, nullptr)) {
        disconnect(doomed->object(), nullptr, this, nullptr);
        // Stops it. One output per playback: kept past its playback, each
        // would stay with the endpoint control until the service goes.
        delete doomed;
    }
}

bool PlayerSession::restartOutput()
{
    QAudioOutput* const before = output->object();
    const bool started = output->restart();
    followOutput(before);
    return started;
}

void PlayerSession::followOutput(QAudioOutput* before)
{
    if (output->object() == before)
        return;
    disconnect(before, nullptr, this, nullptr);
    connect(output->object(), &QAudioOutput::stateChanged, this, &PlayerSession::stateChanged);
}

void PlayerSession::stop()
{
    Q_ASSERT(onGuiThread());
    // Reports still on their way from this playback's threads are stale now.
    ++playback;
    if (VideoOutputThread* thread = std::exchange(videoThread, nullptr)) {
        thread->requestStop();
        thread->queue->close();
        thread->queue->clear();
        delete thread;
    }
    if (QAbstractVideoSurface* target = std::exchange(surface, nullptr))
        target->stop();
    if (audioThread)
        HARBEND_LOG_AOT(Debug, "Closing audio playback.");
    // The clock goes first: the output may run the event loop while it
    // stops, and the position read then must not reach it.
    delete std::exchange(clock, nullptr);
    dropAudio();
}

void PlayerSession::pauseAudio()
{
    if (!audioThread || !audioThread->requestPause())
        return;
    HARBEND_LOG_AOT(Debug, "Pausing audio playback.");
}

void PlayerSession::pauseVideo()
{
    if (!videoThread || !videoThread->requestPause())
        return;
    HARBEND_LOG_VOT(Debug, "Pausing video playback.");
}

void PlayerSession::resumeAudio()
{
    if (audioThread && audioThread->requestResume())
        HARBEND_LOG_AOT(Debug, "Resuming audio playback.");
}

void PlayerSession::resumeVideo()
{
    if (videoThread && videoThread->requestResume())
        HARBEND_LOG_VOT(Debug, "Resuming video playback.");
}

void PlayerSession::pause()
{
    Q_ASSERT(onGuiThread());
    pauseAudio();
    pauseVideo();
    // With both threads paused nothing reads the clock or the output; the
    // clock stops before the output, while it still sees what the device holds.
    if (clock)
        clock->pause();
    if (audioThread && audioThread->state() == OutputThread::Paused)
        output->suspend();
}

void PlayerSession::resume()
{
    Q_ASSERT(onGuiThread());
    // The clock and the output start again before any thread reads them.
    if (clock)
        clock->resume();
    if (audioThread && audioThread->state() == OutputThread::Paused)
        output->resume();
    resumeVideo();
    resumeAudio();
}

void PlayerSession::preSeek()
{
    Q_ASSERT(onGuiThread());
    if (videoThread && videoThread->state() == OutputThread::Play) {
        HARBEND_LOG_VOT(Debug, "Pausing video playback in preparation for the seek.");
        pauseVideo();
        videoThread->queue->close();
    }
    if (clock)
        clock->pause();
    if (audioThread && audioThread->state() == OutputThread::Play) {
        HARBEND_LOG_AOT(Debug, "Pausing audio playback in preparation for the seek.");
        pauseAudio();
        // Silent at once, but still on the device until the restart.
        output->suspend();
        audioThread->queue->close();
        audioThread->queue->clear();
    }
    HARBEND_LOG(Debug, "Prepared for seek.");
}

bool PlayerSession::postSeek(qint64 ms)
{
    Q_ASSERT(onGuiThread());
    if (clock)
        clock->reset(quint64(qMax<qint64>(0, ms)) * 1000000ULL);
    if (audioThread) {
        if (audioThread->state() != OutputThread::Paused) {
            HARBEND_LOG_AOT(Error, "Invalid state! Can't resume after the seek!");
            return false;
        }
        // Nothing from before the seek may be heard after it.
        if (!audioThread->discardPending())
            return false;
        audioThread->queue->open();
        if (!restartOutput()) {
            HARBEND_LOG_AOT(Error, "Failed to start audio playback!");
            return false;
        }
    }
    if (videoThread) {
        if (videoThread->state() != OutputThread::Paused) {
            HARBEND_LOG_VOT(Error, "Invalid state! Can't resume after the seek!");
            return false;
        }
        videoThread->clearEnd();
        videoThread->queue->open();
    }
    HARBEND_LOG(Debug, "Resumed after the seek.");
    return true;
}

bool PlayerSession::changePlaybackRate(double rate)
{
    Q_ASSERT(onGuiThread());
    const PlaybackRate::Enum target = PlaybackRate::fromRate(rate);
    const bool audioWasPlaying = audioThread && audioThread->state() == OutputThread::Play;
    const bool videoWasPlaying = videoThread && videoThread->state() == OutputThread::Play;
    pauseAudio();
    pauseVideo();
    bool failed = false;
    // The stream time heard since the output last started: the sound goes on
    // from there.
    const quint64 heard = clock ? clock->elapsed() - clock->runStart() : 0;
    QAudioOutput* const before = output ? output->object() : nullptr;
    if (clock)
        clock->setPlaybackRate(target);
    if (output)
        followOutput(before);
    if (audioThread && target != audioThread->playbackRate()) {
        if (audioThread->state() != OutputThread::Paused) {
            HARBEND_LOG_AOT(Error, "Invalid state! Can't change playback rate!");
            failed = true;
        } else if (!audioThread->setPlaybackRate(target)) {
            failed = true;
        } else {
            // The clock has restarted the output; it counts from zero.
            if (output->read().state == QAudio::StoppedState) {
                HARBEND_LOG_AOT(Error, "Failed to start audio playback!");
                failed = true;
            } else {
                audioThread->continueFrom(heard);
                // A paused playback stays paused with the new rate in place.
                if (!audioWasPlaying)
                    output->suspend();
            }
        }
    }
    if (failed) {
        HARBEND_LOG(Error, "Failed to set playback rate!");
        emit sessionStopped();
        return false;
    }
    if (audioWasPlaying)
        resumeAudio();
    if (videoWasPlaying)
        resumeVideo();
    HARBEND_LOG(Debug, "Set playback rate to %.1f.", rate);
    return true;
}

bool PlayerSession::setVolume(int volume)
{
    if (!audioThread)
        return false;
    const float gain = gainFromVolume(volume);
    HARBEND_LOG(Debug, "Setting volume to %3.2f%%.", double(gain) * 100.0);
    audioThread->gain = gain;
    return true;
}

bool PlayerSession::setMuted(bool muted)
{
    if (!audioThread)
        return false;
    HARBEND_LOG(Debug, "%s all audio tracks.", muted ? "Muting" : "Unmuting");
    audioThread->muted = muted;
    return true;
}

quint64 PlayerSession::position() const { return clock ? clock->elapsed() : 0; }

void PlayerSession::outputStopped(quint64 stoppedPlayback)
{
    if (stoppedPlayback != playback)
        return;
    // A report from before a seek finds its thread's end cleared.
    if ((audioThread && !audioThread->hasEnded()) || (videoThread && !videoThread->hasEnded()))
        return;
    emit sessionStopped();
}

void PlayerSession::stateChanged(QAudio::State state)
{
    switch (state) {
    case QAudio::ActiveState:
        HARBEND_LOG(Info, "Audio output is changing state to %s.", "active");
        return;
    case QAudio::SuspendedState:
        HARBEND_LOG(Info, "Audio output is changing state to %s.", "suspended");
        return;
    case QAudio::StoppedState:
        HARBEND_LOG(Info, "Audio output is changing state to %s.", "stopped");
        return;
    case QAudio::IdleState:
        HARBEND_LOG(Info, "Audio output is changing state to %s.", "idle");
        return;
    case QAudio::InterruptedState:
        HARBEND_LOG(Info, "Audio output is changing state to %s.", "interrupted");
        return;
    }
    HARBEND_LOG(Error, "Invalid state!");
}

} // namespace Harbend
