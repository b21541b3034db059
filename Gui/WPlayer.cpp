#include "Gui/WPlayer.h"

#include "Core/Multimedia/AudioChannelControl.h"
#include "Core/Multimedia/PlaybackRate.h"
#include "Core/Multimedia/PlayerService.h"
#include "Gui/ChannelControlWidget.h"
#include "Gui/DInfo.h"
#include "Gui/DSettings.h"
#include "Gui/TimeEditSlider.h"
#include "HarbendVersion.h"
#include "ui_WPlayer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMediaPlayerControl>
#include <QMediaService>
#include <QMessageBox>
#include <QStyle>

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace {
const int kFastWindInterval = 3000;
const int kFastWindFirstStep = 10000;
const int kFastWindLongStep = 60000;
const int kFastWindLongFromTick = 4;

// A slider value or seek target computed in double, passed through single
// precision and truncated toward zero; kept inside int so the cut is defined.
int truncatedThroughFloat(double value)
{
    const float single = float(value);
    if (std::isnan(single))
        return 0;
    const float limit = 2147483520.0f; // the largest float below 2^31
    return int(std::clamp(single, -limit, limit));
}

} // namespace

WPlayer::SliderStyle::SliderStyle() : QProxyStyle(static_cast<QStyle*>(nullptr)) {}

int WPlayer::SliderStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                                    QStyleHintReturn* returnData) const
{
    if (hint == QStyle::SH_Slider_AbsoluteSetButtons)
        return Qt::LeftButton;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

WPlayer::WPlayer(QWidget* parent)
    : QMainWindow(parent, Qt::WindowFlags()),
      mediaStart(0),
      mediaStop(0),
      ui(new Ui_WPlayer),
      soundOn(true),
      channelDock(nullptr),
      channelPanel(nullptr),
      fontSize(0),
      frTick(0),
      frDirection(0),
      criticalErrorTitle(tr("Critical error"))
{
    ui->setupUi(this);

    QMediaService* service = mediaPlayer()->service();
    auto* channelControl = service ? qobject_cast<Harbend::AudioChannelControl*>(
                                         service->requestControl(Harbend::PlayerService::AudioChannelControlId))
                                   : nullptr;
    if (!channelControl)
        return;

    if (auto* playerControl = qobject_cast<QMediaPlayerControl*>(service->requestControl(QMediaPlayerControl_iid)))
        connect(playerControl, &QMediaPlayerControl::availablePlaybackRangesChanged, this,
                &WPlayer::availablePlaybackRanges);

    connect(ui->btSlowPlayback, &QPushButton::clicked, this, &WPlayer::playbackRateSlow);
    connect(ui->btNormalPlayback, &QPushButton::clicked, this, &WPlayer::playbackRateNormal);
    connect(ui->btFastPlayback, &QPushButton::clicked, this, &WPlayer::playbackRateFast);
    connect(this, &WPlayer::changePlaybackRate, mediaPlayer(), &QMediaPlayer::setPlaybackRate);
    connect(mediaPlayer(), &QMediaPlayer::playbackRateChanged, this, &WPlayer::playbackRateChanged);

    for (QWidget* w : std::initializer_list<QWidget*>{
             ui->ltFrameControls, ui->playerBtForward, ui->playerBtRevind, ui->playerBtPlayPause, ui->playerBtStop,
             ui->btSlowPlayback, ui->btNormalPlayback, ui->btFastPlayback, ui->playerBtOpenAdnotacje,
             ui->playerBtOpenMedia, ui->playerBtMute, ui->playerSlVolume})
        w->setAttribute(Qt::WA_LayoutUsesWidgetRect);

    mediaStart = mediaStop = 0;

    channelDock = new QDockWidget(this);
    channelDock->setEnabled(true);
    channelDock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    channelDock->setWindowTitle(tr("Channel volume control"));
    QWidget* container = new QWidget;
    channelPanel = new Harbend::ChannelControlWidget(channelControl, container);
    container->setMinimumSize(channelPanel->width(), channelPanel->height());
    channelDock->setWidget(container);
    addDockWidget(Qt::RightDockWidgetArea, channelDock);
    channelDock->hide();

    init();
}

WPlayer::~WPlayer()
{
    // The media widget stops the player while the window's children go, after
    // this destructor: its last reports must not reach a window that is gone.
    mediaPlayer()->disconnect(this);
    if (QMediaService* service = mediaPlayer()->service())
        if (QMediaControl* playerControl = service->requestControl(QMediaPlayerControl_iid))
            playerControl->disconnect(this);
    delete channelPanel;
    delete channelDock;
    // The slider would otherwise outlive the style it was given.
    ui->mediaPosition->setStyle(nullptr);
    delete ui;
}

QMediaPlayer* WPlayer::mediaPlayer() const { return ui->widgetMediaPlayer->getMediaPlayer(); }

void WPlayer::init()
{
    updateWindowTitle();

    fontSize = settings.readFontSize();
    lastMediaOpenDirectory = settings.readLastMediaOpenDirectory();
    lastMediaOpenFile = settings.readLastMediaOpenFile();
    ui->widgetAnnotationOptions->setSpinOffset(settings.readAnnotationJumpMargin());
    openMediaMode = settings.readOpenMediaMode();
    uiMotif = settings.readUiMotif();

    setGuiFont();
    setGuiStyle(uiMotif);

    recordingsFilter = tr("Harbend recordings (*.ogg *.oga);;All files (*.*)");
    annotationsFilter = tr("Harbend annotation files (*.xml);;All files(*.*)");

    ui->dwAnnotationOptions->hide();
    ui->mediaPosition->setStyle(&sliderStyle);
    ui->mainSplitter->setCollapsible(0, false);
    ui->mainSplitter->setSizes({1000, 1000});
    ui->playerTePozycjaNagrania->setCurrentSection(QDateTimeEdit::MinuteSection);

    iconPlay = style()->standardIcon(QStyle::SP_MediaPlay);
    iconPause = style()->standardIcon(QStyle::SP_MediaPause);
    iconVolume = style()->standardIcon(QStyle::SP_MediaVolume);
    iconMuted = style()->standardIcon(QStyle::SP_MediaVolumeMuted);
    ui->playerBtStop->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
    ui->playerBtForward->setIcon(style()->standardIcon(QStyle::SP_MediaSeekForward));
    ui->playerBtRevind->setIcon(style()->standardIcon(QStyle::SP_MediaSeekBackward));
    ui->playerBtMute->setIcon(iconVolume);
    soundOn = true;

    connect(ui->widgetAdnotacje, &Adnotacje::annShowLayers, ui->widgetAnnotationOptions,
            &AnnotationOptions::showLayers);

    connect(mediaPlayer(), &QMediaPlayer::mediaStatusChanged, this, &WPlayer::mpMediaStatusChanged);
    connect(mediaPlayer(), &QMediaPlayer::stateChanged, this, &WPlayer::mpStateChanged);
    connect(mediaPlayer(), &QMediaPlayer::positionChanged, this, &WPlayer::mpPositionChanged);
    connect(mediaPlayer(), qOverload<QMediaPlayer::Error>(&QMediaPlayer::error), this, &WPlayer::mpError);
    connect(mediaPlayer(), &QMediaPlayer::audioAvailableChanged, this, &WPlayer::mpAudioAvailableChanged);

    initGuiNoMedia();

    connect(&frTimer, &QTimer::timeout, this, &WPlayer::frTimerTimeout);
}

void WPlayer::updateWindowTitle()
{
    QString title = QStringLiteral("HarbendPlayer v:") + QString::fromLatin1(Harbend::Version);
    if (!currentFile.isEmpty())
        title += QStringLiteral(" [") + currentFile + QStringLiteral("]");
    setWindowTitle(title);
}

void WPlayer::openMedia(QString fileName)
{
    if (fileName.isEmpty())
        return;
    currentFile = fileName;
    ui->widgetMediaPlayer->openMediaFile(fileName);
    ui->widgetMediaPlayer->setVolume(ui->playerSlVolume->value());
    ui->widgetMediaPlayer->setMuted(!soundOn);
    ui->widgetMediaPlayer->play();
}

void WPlayer::openDefaultFile()
{
    const QString path = getMediaInPlayerDir();
    if (!path.isNull())
        openMedia(path);
}

QString WPlayer::getMediaInPlayerDir()
{
    const QDir folder(QFileInfo(QCoreApplication::applicationFilePath()).absolutePath());
    const QFileInfoList entries = folder.entryInfoList({QStringLiteral("*.ogg"), QStringLiteral("*.oga")}, QDir::Files,
                                                       QDir::NoSort);
    return entries.isEmpty() ? QString() : entries.first().filePath();
}

QString WPlayer::fileName2path(QString fileName)
{
    if (fileName.isEmpty())
        return QStringLiteral(".");
    fileName.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!fileName.contains(QLatin1Char('/')))
        return QStringLiteral(".");
    const QString folder = fileName.section(QLatin1Char('/'), 0, -2);
    // A file in the root folder: the root, not the empty (working) folder.
    return folder.isEmpty() ? QStringLiteral("/") : folder;
}

void WPlayer::playerOpenMedia()
{
    if (ui->widgetAdnotacje->editAnnonInProgress())
        return;
    openMedia(QFileDialog::getOpenFileName(this, tr("Open recording file"), lastMediaOpenDirectory, recordingsFilter));
}

void WPlayer::playerOpenAdnotacje()
{
    if (ui->widgetAdnotacje->editAnnonInProgress())
        return;
    const QString name = QFileDialog::getOpenFileName(this, tr("Open annotation file"), QString(), annotationsFilter);
    if (!name.isEmpty())
        ui->widgetAdnotacje->loadAdnotationsFile(name, true);
}

void WPlayer::on_actionPlikOtworzNagranie_triggered() { playerOpenMedia(); }

void WPlayer::on_actionPlikOtworzAdnotacje_triggered() { playerOpenAdnotacje(); }

void WPlayer::mpMediaStatusChanged(QMediaPlayer::MediaStatus status)
{
    if (status == QMediaPlayer::LoadedMedia) {
        ui->playerBtPlayPause->setEnabled(true);
        ui->playerBtPlayPause->setIcon(iconPlay);
        ui->mediaPosition->setValue(0);
        ui->playerTePozycjaNagrania->setTime(QTime(0, 0, 0));
        ui->playerLCzasNagrania->setText(QStringLiteral("00:00:00"));
        ui->widgetMediaPlayer->hideVideo();
        const QString dir = fileName2path(QFileInfo(currentFile).absoluteFilePath());
        ui->widgetAdnotacje->loadAdnotationsDir(dir, true);
        lastMediaOpenFile = currentFile;
        lastMediaOpenDirectory = dir;
        settings.saveLastMediaOpenFile(lastMediaOpenFile);
        settings.saveLastMediaOpenDirectory(lastMediaOpenDirectory);
        updateWindowTitle();
    } else if (status == QMediaPlayer::InvalidMedia) {
        initGuiNoMedia();
        QMessageBox::critical(this, criticalErrorTitle, tr("Failed to open recording file '%1'.").arg(currentFile),
                              QMessageBox::Ok);
        currentFile = QString();
        updateWindowTitle();
    }
}

void WPlayer::on_actionPlikZamknij_triggered()
{
    // The same question as the window's close button: an open edit is not dropped unasked.
    if (close())
        QCoreApplication::exit(0);
}

void WPlayer::on_actionOpcjeKanaly_triggered()
{
    if (channelDock)
        channelDock->setVisible(!channelDock->isVisible());
}

void WPlayer::on_actionAnnotationOptions_triggered()
{
    if (ui->dwAnnotationOptions->isVisible()) {
        ui->dwAnnotationOptions->hide();
        return;
    }
    ui->dwAnnotationOptions->show();
    ui->widgetAnnotationOptions->setGuiFont();
}

void WPlayer::on_actionHelpAbout_triggered()
{
    DInfo dialog(this);
    dialog.setGuiFont(fontSize);
    dialog.exec();
}

void WPlayer::on_actionSettings_triggered() { modifySettings(); }

void WPlayer::modifySettings()
{
    DSettings dialog(ui->widgetAnnotationOptions->getSpinOffset(), lastMediaOpenFile, lastMediaOpenDirectory, fontSize,
                     openMediaMode, uiMotif, this);
    dialog.setGuiFont(fontSize);
    if (dialog.exec() != QDialog::Accepted)
        return;
    ui->widgetAnnotationOptions->setSpinOffset(dialog.getSpinOffset());
    lastMediaOpenFile = dialog.getLastMediaOpenFile();
    lastMediaOpenDirectory = dialog.getLastMediaOpenDirectory();
    fontSize = dialog.getFontSize();
    openMediaMode = dialog.getOpenMediaMode();
    uiMotif = dialog.getUiMotif();
    settings.saveAnnotationJumpMargin(dialog.getSpinOffset());
    settings.saveLastMediaOpenDirectory(dialog.getLastMediaOpenDirectory());
    settings.saveLastMediaOpenFile(dialog.getLastMediaOpenFile());
    settings.saveFontSize(dialog.getFontSize());
    settings.saveOpenMediaMode(dialog.getOpenMediaMode());
    settings.saveUiMotif(dialog.getUiMotif());
    setGuiFont();
    uiMotif = settings.readUiMotif();
    setGuiStyle(uiMotif);
    // A widget with a style of its own takes a changed theme only when given that style again.
    ui->mediaPosition->setStyle(&sliderStyle);
}

void WPlayer::setGuiFont()
{
    QFont font = QApplication::font();
    font.setPointSize(fontSize);
    QApplication::setFont(font);
    QWidget* const widgets[] = {this, ui->widgetAdnotacje, ui->widgetAnnotationOptions, ui->widgetMediaPlayer};
    for (QWidget* w : widgets)
        w->setFont(font);
    ui->widgetAdnotacje->setGuiFont(font);
    for (QWidget* w : widgets)
        w->repaint();
    ui->widgetAnnotationOptions->setGuiFont();
}

void WPlayer::setGuiStyle(QString motif)
{
    QString path;
    if (motif == QLatin1String("SREBRNY1"))
        path = QStringLiteral(":/Style/silver.qss");
    else if (motif == QLatin1String("NOCNY"))
        path = QStringLiteral(":/Style/night.qss");
    if (path.isEmpty()) {
        qApp->setStyleSheet(QString());
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        QMessageBox::critical(this, criticalErrorTitle,
                              tr("Failed to open style file '%1'. Loading default style.").arg(path), QMessageBox::Ok);
        qApp->setStyleSheet(QString());
        return;
    }
    QByteArray contents = file.readAll();
    const int end = contents.indexOf('\0');
    if (end >= 0)
        contents.truncate(end);
    qApp->setStyleSheet(QString::fromUtf8(contents));
}

void WPlayer::closeEvent(QCloseEvent* event)
{
    if (ui->widgetAdnotacje->editAnnonInProgress())
        event->ignore();
    else
        event->accept();
}

// ---- transport and position ----

void WPlayer::setPlayingControlsEnabled(bool enabled)
{
    for (QWidget* w :
         std::initializer_list<QWidget*>{ui->playerBtStop, ui->playerBtForward, ui->playerBtRevind, ui->btSlowPlayback,
                                         ui->btNormalPlayback, ui->btFastPlayback, ui->playerTePozycjaNagrania})
        w->setEnabled(enabled);
}

void WPlayer::initGuiNoMedia()
{
    ui->widgetMediaPlayer->hideVideo();
    ui->playerBtPlayPause->setEnabled(false);
    setPlayingControlsEnabled(false);
    ui->playerBtPlayPause->setIcon(iconPlay);
    ui->mediaPosition->tesSetEnabled(false);
    ui->mediaPosition->setValue(0);
    ui->playerTePozycjaNagrania->setTime(QTime(0, 0, 0));
    ui->playerLCzasNagrania->setText(QStringLiteral("00:00:00"));
}

void WPlayer::mpError(QMediaPlayer::Error)
{
    initGuiNoMedia();
    // Invalid media has had its own box; any other failure would otherwise leave
    // the controls disabled without a reason.
    if (mediaPlayer()->mediaStatus() == QMediaPlayer::InvalidMedia)
        return;
    // Reported from inside the engine's own call: the box must not run an event loop there.
    auto* box = new QMessageBox(QMessageBox::Critical, criticalErrorTitle, mediaPlayer()->errorString(),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void WPlayer::mpAudioAvailableChanged(bool) {}

void WPlayer::mpStateChanged(QMediaPlayer::State state)
{
    switch (state) {
    case QMediaPlayer::StoppedState:
        // Before the controls go: disabling a held winding button releases it.
        frTimer.stop();
        frDirection = 0;
        ui->widgetMediaPlayer->hideVideo();
        ui->mediaPosition->tesSetEnabled(false);
        setPlayingControlsEnabled(false);
        ui->playerBtPlayPause->setIcon(iconPlay);
        ui->playerTePozycjaNagrania->setTime(QTime(0, 0, 0));
        break;
    case QMediaPlayer::PlayingState:
    case QMediaPlayer::PausedState:
        ui->widgetMediaPlayer->showVideo();
        ui->mediaPosition->tesSetEnabled(true);
        setPlayingControlsEnabled(true);
        ui->playerBtPlayPause->setIcon(state == QMediaPlayer::PlayingState ? iconPause : iconPlay);
        break;
    }
}

void WPlayer::playerPlayPause()
{
    if (ui->widgetMediaPlayer->getPlayingState() == QMediaPlayer::PlayingState)
        ui->widgetMediaPlayer->pause();
    else
        ui->widgetMediaPlayer->play();
}

void WPlayer::playerStop() { ui->widgetMediaPlayer->stop(); }

void WPlayer::availablePlaybackRanges(const QMediaTimeRange& range)
{
    mediaStart = std::max<qint64>(range.earliestTime(), 0);
    mediaStop = std::max<qint64>(range.latestTime(), 0);
    ui->playerLCzasNagrania->setText(pos2tekst(long(mediaStop)));
    ui->mediaPosition->setMediaStart(mediaStart);
    ui->mediaPosition->setMediaStop(mediaStop);
}

void WPlayer::mpPositionChanged(qint64 position)
{
    const qint64 p = std::max<qint64>(position, 0);
    if (!ui->mediaPosition->isSliderDown()) {
        const qint32 d = qint32(mediaStop - mediaStart);
        if (d == 0) {
            ui->mediaPosition->setValue(0);
        } else {
            const qint32 n = qint32(p - mediaStart);
            ui->mediaPosition->setValue(truncatedThroughFloat(double(n) / double(d) * 1000.0));
        }
    }
    if (!ui->playerTePozycjaNagrania->hasFocus())
        ui->playerTePozycjaNagrania->setTime(pos2time(p));
    ui->widgetAdnotacje->spyAdnotations(p);
}

void WPlayer::on_mediaPosition_sliderReleased()
{
    const double v = ui->mediaPosition->value();
    const double target = v * 0.001 * double(qint32(mediaStop - mediaStart)) + double(qint32(mediaStart));
    playerSeek(truncatedThroughFloat(target));
}

void WPlayer::playerSeek(long position)
{
    qint64 target = position;
    if (target < mediaStart)
        target = mediaStart;
    else if (target > mediaStop)
        target = mediaStop;
    const QMediaPlayer::State state = ui->widgetMediaPlayer->getPlayingState();
    if (state == QMediaPlayer::PlayingState || state == QMediaPlayer::PausedState)
        ui->widgetMediaPlayer->seek(long(target));
}

void WPlayer::anSeek(qint64 position)
{
    const QMediaPlayer::State state = ui->widgetMediaPlayer->getPlayingState();
    if (ui->widgetMediaPlayer->isMediaOpened() &&
        (state == QMediaPlayer::PlayingState || state == QMediaPlayer::PausedState))
        playerSeek(long(qint32(position)));
}

void WPlayer::pteEnterPressed()
{
    // The editor shows whole seconds but keeps the milliseconds of the last
    // position report: a typed time means the start of that second.
    const QTime typed = ui->playerTePozycjaNagrania->time();
    playerSeek(time2pos(QTime(typed.hour(), typed.minute(), typed.second())));
    leaveTimeEditor();
}

void WPlayer::pteEscapePressed() { leaveTimeEditor(); }

void WPlayer::leaveTimeEditor()
{
    ui->playerBtPlayPause->setFocus(Qt::OtherFocusReason);
    // A paused recording sends no position reports that would replace the typed time.
    ui->playerTePozycjaNagrania->setTime(pos2time(ui->widgetMediaPlayer->getTime()));
}

void WPlayer::playerForwardStart() { startFr(1); }

void WPlayer::playerForwardStop() { stopFr(); }

void WPlayer::playerRewindStart() { startFr(-1); }

void WPlayer::playerRewindStop() { stopFr(); }

void WPlayer::startFr(int direction)
{
    frDirection = direction;
    frTick = 1;
    frTimer.setInterval(kFastWindInterval);
    frTimer.start();
    const long now = ui->widgetMediaPlayer->getTime();
    playerSeek(direction > 0 ? now + kFastWindFirstStep : now - kFastWindFirstStep);
}

void WPlayer::stopFr()
{
    // Winding that ran into the end of the recording stays stopped.
    if (frDirection == 0)
        return;
    frDirection = 0;
    frTimer.stop();
    ui->widgetMediaPlayer->play();
}

void WPlayer::frTimerTimeout()
{
    ++frTick;
    const int base = frTick < kFastWindLongFromTick ? kFastWindFirstStep : kFastWindLongStep;
    // The timer's own 3 s of playing count toward the step.
    const int step = frDirection > 0 ? base - kFastWindInterval : -(base + kFastWindInterval);
    playerSeek(ui->widgetMediaPlayer->getTime() + step);
    const long now = ui->widgetMediaPlayer->getTime();
    if (now >= mediaStop || now <= mediaStart)
        frTimer.stop();
}

void WPlayer::playbackRateSlow() { emit changePlaybackRate(0.5); }

void WPlayer::playbackRateNormal() { emit changePlaybackRate(1.0); }

void WPlayer::playbackRateFast() { emit changePlaybackRate(2.0); }

void WPlayer::setRateIcons(const char* slow, const char* normal, const char* fast)
{
    ui->btSlowPlayback->setIcon(QIcon(QString::fromLatin1(slow)));
    ui->btNormalPlayback->setIcon(QIcon(QString::fromLatin1(normal)));
    ui->btFastPlayback->setIcon(QIcon(QString::fromLatin1(fast)));
}

void WPlayer::playbackRateChanged(qreal rate)
{
    const Harbend::PlaybackRate::Enum kind = Harbend::PlaybackRate::fromRate(rate);
    if (kind == Harbend::PlaybackRate::Half)
        setRateIcons(":/icons/playslowon.png", ":/icons/playnormaloff.png", ":/icons/playfastoff.png");
    else if (kind == Harbend::PlaybackRate::Double)
        setRateIcons(":/icons/playslowoff.png", ":/icons/playnormaloff.png", ":/icons/playfaston.png");
    else
        setRateIcons(":/icons/playslowoff.png", ":/icons/playnormalon.png", ":/icons/playfastoff.png");
}

void WPlayer::playerSlVolumeChanged(int)
{
    soundOn = true;
    ui->playerBtMute->setIcon(iconVolume);
    ui->widgetMediaPlayer->setVolume(ui->playerSlVolume->value());
    ui->widgetMediaPlayer->setMuted(0);
}

void WPlayer::playerVolumeOnOff()
{
    soundOn = !soundOn;
    ui->playerBtMute->setIcon(soundOn ? iconVolume : iconMuted);
    ui->widgetMediaPlayer->setMuted(!soundOn);
}

QTime WPlayer::pos2time(qint64 position) { return QTime(0, 0, 0).addMSecs(int(qint32(position))); }

int WPlayer::time2pos(QTime time) { return QTime(0, 0, 0).msecsTo(time); }

QString WPlayer::pos2tekst(long position) { return TimeEditSlider::pos2tekst(position); }
