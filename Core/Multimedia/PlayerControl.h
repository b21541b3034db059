#pragma once

#include "Core/Base/Log.h"
#include "Core/Decoder/OggReader.h"
#include "Core/Multimedia/PlayerSession.h"

#include <QMediaContent>
#include <QMediaPlayerControl>
#include <QMediaTimeRange>

#include <functional>

namespace Harbend {

class PlayerService;

// The media player's control: opens a recording, plays, pauses, stops,
// seeks, changes rate, volume and mute through the reader and the session,
// and reports state, media status, position and availability through the
// signals of its Qt base. Every operation runs on the GUI thread.
class PlayerControl : public QMediaPlayerControl {
    Q_OBJECT
public:
    explicit PlayerControl(PlayerService* service);
    ~PlayerControl() override;

    QMediaPlayer::State state() const override;
    QMediaPlayer::MediaStatus mediaStatus() const override;
    qint64 duration() const override;
    qint64 position() const override;
    void setPosition(qint64 position) override;
    int volume() const override;
    void setVolume(int volume) override;
    bool isMuted() const override;
    void setMuted(bool muted) override;
    int bufferStatus() const override;
    bool isAudioAvailable() const override;
    bool isVideoAvailable() const override;
    bool isSeekable() const override;
    QMediaTimeRange availablePlaybackRanges() const override;
    qreal playbackRate() const override;
    void setPlaybackRate(qreal rate) override;
    QMediaContent media() const override;
    const QIODevice* mediaStream() const override;
    void setMedia(const QMediaContent& media, QIODevice* stream) override;
    void play() override;
    void pause() override;
    void stop() override;

private slots:
    void durationUpdate(qint64 duration);
    void positionUpdate(qint64 position);
    void playbackRangesUpdate(const QMediaTimeRange& range);
    void seekableUpdate(bool seekable);
    void audioAvailable(bool available);
    void videoAvailable(bool available);
    void streamHasStopped();

private:
    void changeState(QMediaPlayer::State state);
    void changeMediaStatus(QMediaPlayer::MediaStatus status);
    void changePlaybackRate(double rate);
    void resetAudioVideoAvailable();
    // Opens the device chosen for the media; the status tells the outcome.
    void openDevice(QIODevice* device);
    void releaseStream();
    // Undoes whatever a failed start had begun, so that the next play starts clean.
    void abandonStart();
    // Starts playing from the stopped state. On failure it has undone what
    // it began and gives the error to report (none when empty).
    bool start(QString* errorText);
    // Stops without running postponed calls: for the operations that go on
    // after the stop, and the destructor.
    void stopPlayback();
    // While a playback is started or torn down the call is kept, to be made
    // when the operation that started it has ended (true); else it is left
    // to the caller (false).
    bool postponedWhileBusy(const std::function<void()>& call);
    // Makes the calls kept while busy, in the order they came.
    void runPostponed();

    static Logging::Log ms_log;

    // GUI thread, as is every member.
    PlayerService* service;
    // A playback is being started or torn down. The audio output runs the
    // event loop while it is deleted, and a play, stop or new media that
    // arrives then waits in postponed until the playback is whole or gone.
    bool busy = false;
    QList<std::function<void()>> postponed;
    QMediaPlayer::State playerState = QMediaPlayer::StoppedState;
    QMediaPlayer::MediaStatus status = QMediaPlayer::NoMedia;
    bool hasAudio = false;
    bool hasVideo = false;
    qint64 durationMs = -1;
    mutable qint64 positionMs = -1;
    bool seekable = false;
    QMediaTimeRange ranges;
    double rate = 1.0;
    bool ownsStream = false;
    QIODevice* stream = nullptr;
    // A released device of ours, closed but kept until the reader is given
    // another one: the reader keeps its pointer after close().
    QIODevice* retired = nullptr;
    QMediaContent content;
    OggReader reader;
    PlayerSession session;
    bool muted = false;
    int volumeLevel = 100;
};

} // namespace Harbend
