#include "Core/Multimedia/PlayerControl.h"

#include "Core/Base/ClockParts.h"
#include "Core/Base/GuiThread.h"
#include "Core/Multimedia/MetaDataControl.h"
#include "Core/Multimedia/PlaybackRate.h"
#include "Core/Multimedia/PlayerService.h"

#include <QCoreApplication>
#include <QFile>
#include <QScopedValueRollback>
#include <QUrl>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Multimedia/PlayerControl";

QString translated(const char* text) { return QCoreApplication::translate("PlayerControl", text); }

} // namespace

Logging::Log PlayerControl::ms_log("PlayerControl", Logging::Log::systemLogger());

PlayerControl::PlayerControl(PlayerService* service)
    : QMediaPlayerControl(service), service(service), reader(service->metaDataControl, this), session(service)
{
    connect(&reader, &OggReader::durationChanged, this, &PlayerControl::durationUpdate);
    connect(&reader, &OggReader::availablePlaybackRangesChanged, this, &PlayerControl::playbackRangesUpdate);
    connect(&reader, &OggReader::audioAvailable, this, &PlayerControl::audioAvailable);
    connect(&reader, &OggReader::videoAvailable, this, &PlayerControl::videoAvailable);
    connect(&session, &PlayerSession::sessionStopped, this, &PlayerControl::streamHasStopped);
}

PlayerControl::~PlayerControl()
{
    stopPlayback();
    reader.close();
    disconnect(&reader, nullptr, this, nullptr);
    disconnect(&session, nullptr, this, nullptr);
    if (ownsStream)
        delete stream;
    stream = nullptr;
    delete retired;
}

QMediaPlayer::State PlayerControl::state() const { return playerState; }

QMediaPlayer::MediaStatus PlayerControl::mediaStatus() const { return status; }

qint64 PlayerControl::duration() const { return durationMs; }

qint64 PlayerControl::position() const
{
    if (playerState != QMediaPlayer::StoppedState)
        positionMs = qint64(session.position() / 1000000ULL);
    return positionMs;
}

int PlayerControl::volume() const { return volumeLevel; }

bool PlayerControl::isMuted() const { return muted; }

int PlayerControl::bufferStatus() const { return 100; }

bool PlayerControl::isAudioAvailable() const { return hasAudio; }

bool PlayerControl::isVideoAvailable() const { return hasVideo; }

bool PlayerControl::isSeekable() const { return seekable; }

QMediaTimeRange PlayerControl::availablePlaybackRanges() const { return ranges; }

qreal PlayerControl::playbackRate() const { return rate; }

QMediaContent PlayerControl::media() const { return content; }

const QIODevice* PlayerControl::mediaStream() const { return stream; }

void PlayerControl::changeState(QMediaPlayer::State value)
{
    if (value == playerState)
        return;
    playerState = value;
    emit stateChanged(value);
}

void PlayerControl::changeMediaStatus(QMediaPlayer::MediaStatus value)
{
    if (value == status)
        return;
    status = value;
    emit mediaStatusChanged(value);
}

void PlayerControl::changePlaybackRate(double value)
{
    if (value == rate)
        return;
    rate = value;
    emit playbackRateChanged(value);
}

void PlayerControl::durationUpdate(qint64 value)
{
    if (value == durationMs)
        return;
    durationMs = value;
    emit durationChanged(value);
}

void PlayerControl::positionUpdate(qint64 value)
{
    if (value == positionMs)
        return;
    positionMs = value;
    emit positionChanged(value);
}

void PlayerControl::playbackRangesUpdate(const QMediaTimeRange& value)
{
    if (value == ranges)
        return;
    ranges = value;
    emit availablePlaybackRangesChanged(value);
}

void PlayerControl::seekableUpdate(bool value)
{
    if (value == seekable)
        return;
    seekable = value;
    emit seekableChanged(value);
}

void PlayerControl::audioAvailable(bool available)
{
    if (available == hasAudio)
        return;
    HARBEND_LOG(Debug, "Audio stream is %s.", available ? "available" : "unavailable");
    hasAudio = available;
    emit audioAvailableChanged(available);
}

void PlayerControl::videoAvailable(bool available)
{
    if (available == hasVideo)
        return;
    HARBEND_LOG(Debug, "Video stream is %s.", available ? "available" : "unavailable");
    hasVideo = available;
    emit videoAvailableChanged(available);
}

void PlayerControl::resetAudioVideoAvailable()
{
    const bool hadAudio = hasAudio;
    const bool hadVideo = hasVideo;
    hasAudio = false;
    hasVideo = false;
    if (hadAudio)
        emit audioAvailableChanged(false);
    if (hadVideo)
        emit videoAvailableChanged(false);
}

void PlayerControl::streamHasStopped() { stop(); }

void PlayerControl::setVolume(int value)
{
    if (value == volumeLevel)
        return;
    volumeLevel = value;
    session.setVolume(volumeLevel);
    emit volumeChanged(volumeLevel);
}

void PlayerControl::setMuted(bool value)
{
    if (value == muted)
        return;
    muted = value;
    session.setMuted(muted);
    emit mutedChanged(muted);
}

void PlayerControl::releaseStream()
{
    if (ownsStream) {
        stream->close();
        delete retired;
        retired = stream;
        ownsStream = false;
    } else if (stream) {
        stream->close();
    }
    stream = nullptr;
}

void PlayerControl::setMedia(const QMediaContent& media, QIODevice* given)
{
    Q_ASSERT(onGuiThread());
    if (postponedWhileBusy([this, media, given] { setMedia(media, given); }))
        return;
    stopPlayback();
    // The reader lets go of the old device before it is closed or deleted.
    reader.close();
    releaseStream();
    content = media;
    stream = given;
    resetAudioVideoAvailable();
    durationUpdate(-1);
    seekableUpdate(false);

    QIODevice* device = nullptr;
    bool decided = false;
    if (media.isNull() && !given) {
        changeMediaStatus(QMediaPlayer::NoMedia);
        decided = true;
    } else if (given) {
        if (!given->isReadable()) {
            changeMediaStatus(QMediaPlayer::InvalidMedia);
            emit error(QMediaPlayer::ResourceError, translated("Invalid stream source!"));
            decided = true;
        } else {
            device = given;
        }
    } else {
        const QUrl url = media.request().url();
        if (url.scheme() == QLatin1String("file")) {
            device = new QFile(url.toLocalFile(), this);
        } else if (url.scheme() == QLatin1String("qrc")) {
            device = new QFile(QLatin1Char(':') + url.path(), this);
        } else {
            HARBEND_LOG(Error, "Unsupported stream url '%s'!", url.path().toLocal8Bit().constData());
        }
        if (device) {
            stream = device;
            ownsStream = true;
        }
    }
    if (!decided)
        openDevice(device);
    seekableUpdate(status == QMediaPlayer::LoadedMedia);
    emit mediaChanged(content);
    // The rate that the next play uses.
    emit playbackRateChanged(rate);
    runPostponed();
}

void PlayerControl::openDevice(QIODevice* device)
{
    if (!device) {
        changeMediaStatus(QMediaPlayer::InvalidMedia);
        emit error(QMediaPlayer::ResourceError, translated("Can't open media source!"));
        return;
    }
    changeMediaStatus(QMediaPlayer::LoadingMedia);
    const bool opened = reader.open(device);
    delete retired;
    retired = nullptr;
    if (!opened) {
        changeMediaStatus(QMediaPlayer::InvalidMedia);
        emit error(QMediaPlayer::ResourceError, translated("Invalid stream source!"));
        return;
    }
    changeMediaStatus(QMediaPlayer::LoadedMedia);
}

bool PlayerControl::postponedWhileBusy(const std::function<void()>& call)
{
    if (!busy)
        return false;
    postponed.append(call);
    return true;
}

void PlayerControl::runPostponed()
{
    while (!busy && !postponed.isEmpty())
        postponed.takeFirst()();
}

void PlayerControl::abandonStart()
{
    session.stop();
    reader.close();
    resetAudioVideoAvailable();
}

bool PlayerControl::start(QString* errorText)
{
    // A start that fails deletes what it built, the audio output among them.
    const QScopedValueRollback<bool> guard(busy, true);
    if (!reader.read()) {
        HARBEND_LOG(Error, "Failed to read from file!");
        abandonStart();
        *errorText = translated("Failed to start Ogg reading thread!");
        return false;
    }
    if (!reader.startReading()) {
        HARBEND_LOG(Error, "Failed to start reading from the Ogg file!");
        abandonStart();
        *errorText = translated("Failed to start reading from the Ogg file!");
        return false;
    }
    const qint64 startMs = reader.getStartTime();
    if (!session.play(&reader, quint64(startMs < 0 ? 0 : startMs))) {
        HARBEND_LOG(Error, "Failed to start player session thread!");
        abandonStart();
        return false;
    }
    session.setVolume(volumeLevel);
    session.setMuted(muted);
    // A rate chosen while stopped applies to this playback; a playback that
    // cannot take it does not start (the session's stop report found this
    // control still stopped).
    if (rate != 1.0 && !session.changePlaybackRate(rate)) {
        HARBEND_LOG(Error, "Failed to start player session thread!");
        abandonStart();
        return false;
    }
    return true;
}

void PlayerControl::play()
{
    Q_ASSERT(onGuiThread());
    if (postponedWhileBusy([this] { play(); }))
        return;
    if (playerState == QMediaPlayer::PlayingState)
        return;
    switch (status) {
    case QMediaPlayer::UnknownMediaStatus:
    case QMediaPlayer::NoMedia:
    case QMediaPlayer::InvalidMedia:
        HARBEND_LOG(Warning, "No media loaded, can't play!");
        return;
    case QMediaPlayer::LoadingMedia:
    case QMediaPlayer::StalledMedia:
        return;
    default:
        break;
    }
    if (playerState == QMediaPlayer::PausedState) {
        session.resume();
    } else {
        QString errorText;
        if (!start(&errorText)) {
            if (!errorText.isEmpty())
                emit error(QMediaPlayer::ResourceError, errorText);
            runPostponed();
            return;
        }
    }
    changeMediaStatus(QMediaPlayer::BufferedMedia);
    changeState(QMediaPlayer::PlayingState);
    runPostponed();
}

void PlayerControl::pause()
{
    Q_ASSERT(onGuiThread());
    if (playerState != QMediaPlayer::PlayingState)
        return;
    session.pause();
    changeState(QMediaPlayer::PausedState);
}

void PlayerControl::stop()
{
    Q_ASSERT(onGuiThread());
    if (postponedWhileBusy([this] { stop(); }))
        return;
    stopPlayback();
    runPostponed();
}

void PlayerControl::stopPlayback()
{
    if (playerState == QMediaPlayer::StoppedState)
        return;
    // Stopped before the teardown, reported after it: the audio output runs
    // the event loop while it is deleted, and a position read then gets the
    // last one, not the half-stopped session's.
    playerState = QMediaPlayer::StoppedState;
    {
        const QScopedValueRollback<bool> guard(busy, true);
        session.stop();
        reader.close();
    }
    positionUpdate(-1);
    changePlaybackRate(1.0);
    emit stateChanged(playerState);
}

void PlayerControl::setPosition(qint64 ms)
{
    Q_ASSERT(onGuiThread());
    if (playerState == QMediaPlayer::StoppedState)
        return;
    if (ms < 0)
        ms = 0;
    const ClockParts target(ms);
    HARBEND_LOG(Debug, "Trying to seek to %02u:%02u:%02u.", target.hours, target.minutes, target.seconds);
    session.preSeek();
    reader.preSeek();
    const qint64 reached = reader.seek(ms);
    if (reached < 0) {
        HARBEND_LOG(Warning, "Failed to seek!");
        stop();
        return;
    }
    positionUpdate(reached);
    if (!session.postSeek(reached)) {
        HARBEND_LOG(Error, "Failed to restart playback session!");
        stop();
        return;
    }
    if (playerState == QMediaPlayer::PlayingState)
        session.resume();
    const ClockParts at(reached);
    HARBEND_LOG(Info, "Seeked to %02u:%02u:%02u.", at.hours, at.minutes, at.seconds);
}

void PlayerControl::setPlaybackRate(qreal requested)
{
    Q_ASSERT(onGuiThread());
    const double quantised = PlaybackRate::quantise(requested);
    if (quantised == rate)
        return;
    const bool wasStopped = playerState == QMediaPlayer::StoppedState;
    session.changePlaybackRate(quantised);
    // A failed change has stopped playback, which reported 1.0; that stands.
    if (wasStopped || playerState != QMediaPlayer::StoppedState)
        changePlaybackRate(quantised);
}

} // namespace Harbend
