#pragma once

#include "Core/Base/Log.h"

#include <QAudio>
#include <QObject>

class QAbstractVideoSurface;
class QAudioOutput;

namespace Harbend {

class AudioOutputThread;
class GuardedAudioOutput;
class OggReader;
class PlayerService;
class Synchronizer;
class VideoOutputThread;

// Runs one playback at a time for the player control: builds the audio part
// and the video part each on its own from the reader's current streams (a
// part that cannot start is left out and the other plays alone, on the timer
// clock when audio is missing), and drives their output threads and clock.
// Every operation runs on the GUI thread.
class PlayerSession : public QObject {
    Q_OBJECT
public:
    explicit PlayerSession(PlayerService* service);
    ~PlayerSession() override;

    // False only for an invalid stream format; then nothing is left running.
    bool play(OggReader* reader, quint64 startMs);
    void stop();
    void pause();
    void resume();
    void preSeek();
    bool postSeek(qint64 ms);
    // False when the change failed; sessionStopped() has been raised then.
    bool changePlaybackRate(double rate);
    bool setVolume(int volume);
    bool setMuted(bool muted);
    // The clock in ns; 0 without one.
    quint64 position() const;

    // Tags the output threads' end reports; changes at every play and stop.
    quint64 playbackId() const { return playback; }
    bool hasAudio() const { return audioThread != nullptr; }
    bool hasVideo() const { return videoThread != nullptr; }

signals:
    void sessionStopped();

public slots:
    // An output thread has played its stream out; the session stops once
    // every part has. Reports from an earlier playback are ignored.
    void outputStopped(quint64 playback);

private slots:
    void stateChanged(QAudio::State state);

private:
    void startAudio(OggReader* reader, quint64 startNs);
    void startVideo(OggReader* reader, quint64 startNs);
    void pauseAudio();
    void pauseVideo();
    void resumeAudio();
    void resumeVideo();
    // Stops and deletes the audio part and its output.
    void dropAudio();
    // Starts the audio output anew with nothing of before queued.
    bool restartOutput();
    // Follows the output in use when a restart has replaced the one before.
    void followOutput(QAudioOutput* before);

    static Logging::Log ms_log;

    // GUI thread. The output threads read the clock, output and surface,
    // which change only while they are paused or stopped.
    PlayerService* service;
    AudioOutputThread* audioThread = nullptr;
    VideoOutputThread* videoThread = nullptr;
    Synchronizer* clock = nullptr;
    GuardedAudioOutput* output = nullptr;
    QAbstractVideoSurface* surface = nullptr;
    quint64 playback = 0;
};

} // namespace Harbend
