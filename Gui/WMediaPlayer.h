#pragma once

#include <QMediaPlayer>
#include <QString>
#include <QWidget>

class Ui_WMediaPlayer;

namespace Harbend {
class VideoWidget;
}

// The window's video area: owns the Qt media player, built over the engine's
// service provider, and the engine's video widget that draws its pictures;
// a placeholder picture stands in while no video plays.
class WMediaPlayer : public QWidget {
    Q_OBJECT
public:
    explicit WMediaPlayer(QWidget* parent = nullptr);
    ~WMediaPlayer() override;

    QMediaPlayer* getMediaPlayer() const { return mediaPlayer; }
    Harbend::VideoWidget* getVideoWidget() const { return videoWidget; }
    void openMediaFile(QString name);
    QMediaPlayer::State getPlayingState() const;
    bool isMediaOpened() const;
    // The position in ms while a recording plays or pauses, else 0.
    long getTime() const;
    void showVideo();
    void hideVideo();

public slots:
    void play();
    void stop();
    // Toggles between playing and paused; other states are left alone.
    void pause();
    void seek(long position);
    void setVolume(int volume);
    void setMuted(int muted);

private slots:
    void videoError(QString description);

private:
    bool isPlayingOrPaused() const;

    Ui_WMediaPlayer* ui;
    QMediaPlayer* mediaPlayer;
    Harbend::VideoWidget* videoWidget;
    QString fileName;
};
