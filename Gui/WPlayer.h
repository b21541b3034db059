#pragma once

#include "Gui/Settings.h"

#include <QIcon>
#include <QMainWindow>
#include <QMediaPlayer>
#include <QMediaTimeRange>
#include <QProxyStyle>
#include <QString>
#include <QTime>
#include <QTimer>

class QCloseEvent;
class QDockWidget;
class Ui_WPlayer;

namespace Harbend {
class ChannelControlWidget;
}

// The player's main window: the media widget and the annotations panel side
// by side, the position slider and the control bar under them, the menus,
// the annotation options dock and the channel volume dock.
class WPlayer : public QMainWindow {
    Q_OBJECT
public:
    // A left click on the position slider's groove puts the handle there at once.
    class SliderStyle : public QProxyStyle {
    public:
        SliderStyle();
        int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                      QStyleHintReturn* returnData = nullptr) const override;
    };

    explicit WPlayer(QWidget* parent = nullptr);
    ~WPlayer() override;

    void openMedia(QString fileName);
    void openDefaultFile();
    QString getMediaInPlayerDir();
    QString fileName2path(QString fileName);
    void updateWindowTitle();
    void setGuiFont();
    void setGuiStyle(QString uiMotif);
    void modifySettings();
    void init();
    void initGuiNoMedia();

    static QTime pos2time(qint64 position);
    static int time2pos(QTime time);
    static QString pos2tekst(long position);

signals:
    void changePlaybackRate(qreal rate);

public slots:
    void playerPlayPause();
    void playerStop();
    void playerSeek(long position);
    void playerRewindStart();
    void playerRewindStop();
    void playerForwardStart();
    void playerForwardStop();
    void playerOpenMedia();
    void playerOpenAdnotacje();
    void pteEscapePressed();
    void pteEnterPressed();
    void anSeek(qint64 position);

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void mpMediaStatusChanged(QMediaPlayer::MediaStatus status);
    void mpStateChanged(QMediaPlayer::State state);
    void availablePlaybackRanges(const QMediaTimeRange& range);
    void mpPositionChanged(qint64 position);
    void mpError(QMediaPlayer::Error error);
    void mpAudioAvailableChanged(bool available);
    void playerVolumeOnOff();
    void playerSlVolumeChanged(int value);
    void on_mediaPosition_sliderReleased();
    void on_actionPlikOtworzNagranie_triggered();
    void on_actionPlikOtworzAdnotacje_triggered();
    void on_actionPlikZamknij_triggered();
    void on_actionSettings_triggered();
    void on_actionAnnotationOptions_triggered();
    void on_actionOpcjeKanaly_triggered();
    void on_actionHelpAbout_triggered();
    void frTimerTimeout();
    void playbackRateSlow();
    void playbackRateNormal();
    void playbackRateFast();
    void playbackRateChanged(qreal rate);

private:
    // Hands the focus back and shows where playback stands, typed time or not.
    void leaveTimeEditor();
    void startFr(int direction);
    void stopFr();
    // The seven controls that only make sense with a recording playing or paused.
    void setPlayingControlsEnabled(bool enabled);
    void setRateIcons(const char* slow, const char* normal, const char* fast);
    QMediaPlayer* mediaPlayer() const;

    qint64 mediaStart;
    qint64 mediaStop;
    Ui_WPlayer* ui;
    QString currentFile;
    QIcon iconPlay;
    QIcon iconPause;
    bool soundOn;
    QIcon iconVolume;
    QIcon iconMuted;
    QString recordingsFilter;
    QString annotationsFilter;
    QDockWidget* channelDock;
    Harbend::ChannelControlWidget* channelPanel;
    SliderStyle sliderStyle;
    Settings settings;
    QString lastMediaOpenFile;
    QString lastMediaOpenDirectory;
    int fontSize;
    QString openMediaMode;
    QString uiMotif;
    QTimer frTimer;
    int frTick;
    int frDirection;
    QString criticalErrorTitle;
};
