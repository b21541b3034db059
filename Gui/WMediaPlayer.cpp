#include "Gui/WMediaPlayer.h"

#include "Core/Multimedia/MediaServiceProvider.h"
#include "Core/Output/VideoSurface.h"
#include "Core/Output/VideoWidget.h"
#include "ui_WMediaPlayer.h"

#include <QImage>
#include <QMediaContent>
#include <QMessageBox>
#include <QPixmap>
#include <QUrl>

namespace {
const char kBlackStyle[] = "*{color: Black; background-color: Black;border-width: 1px;}";

// Qt 5 takes a player's service from the default provider at construction,
// so ours stands in just for that and the previous one is put back.
QMediaPlayer* playerOverEngine(QObject* parent)
{
    QMediaServiceProvider* previous = QMediaServiceProvider::defaultServiceProvider();
    QMediaServiceProvider::setDefaultServiceProvider(&Harbend::g_serviceProvider);
    QMediaPlayer* player = new QMediaPlayer(parent, QMediaPlayer::Flags());
    QMediaServiceProvider::setDefaultServiceProvider(previous);
    return player;
}
} // namespace

WMediaPlayer::WMediaPlayer(QWidget* parent)
    : QWidget(parent, Qt::WindowFlags()), ui(new Ui_WMediaPlayer), mediaPlayer(nullptr), videoWidget(nullptr)
{
    ui->setupUi(this);
    ui->lPlayerIcon->setPixmap(QPixmap::fromImage(QImage(QStringLiteral(":/icons/video.png"))));
    ui->lPlayerIcon->setStyleSheet(QString::fromLatin1(kBlackStyle));

    videoWidget = new Harbend::VideoWidget(parent);
    ui->verticalLayout_2->addWidget(videoWidget);

    mediaPlayer = playerOverEngine(parent);
    if (videoWidget) {
        mediaPlayer->setVideoOutput(videoWidget->surface);
        videoWidget->setStyleSheet(QString::fromLatin1(kBlackStyle));
        connect(videoWidget, &Harbend::VideoWidget::error, this, &WMediaPlayer::videoError);
    }
    showVideo();
}

WMediaPlayer::~WMediaPlayer()
{
    // The playback goes before the widget that it draws on.
    if (mediaPlayer) {
        mediaPlayer->stop();
        delete mediaPlayer;
        mediaPlayer = nullptr;
    }
    delete videoWidget;
    videoWidget = nullptr;
    delete ui;
}

void WMediaPlayer::openMediaFile(QString name)
{
    fileName = name;
    mediaPlayer->setMedia(QMediaContent(QUrl::fromLocalFile(name)));
}

QMediaPlayer::State WMediaPlayer::getPlayingState() const { return mediaPlayer->state(); }

bool WMediaPlayer::isMediaOpened() const
{
    switch (mediaPlayer->mediaStatus()) {
    case QMediaPlayer::UnknownMediaStatus:
    case QMediaPlayer::NoMedia:
    case QMediaPlayer::LoadingMedia:
    case QMediaPlayer::InvalidMedia:
        return false;
    default:
        return true;
    }
}

bool WMediaPlayer::isPlayingOrPaused() const
{
    const QMediaPlayer::State state = mediaPlayer->state();
    return state == QMediaPlayer::PlayingState || state == QMediaPlayer::PausedState;
}

long WMediaPlayer::getTime() const
{
    if (isMediaOpened() && isPlayingOrPaused())
        return long(qint32(mediaPlayer->position()));
    return 0;
}

void WMediaPlayer::showVideo()
{
    ui->lPlayerIcon->hide();
    if (videoWidget)
        videoWidget->show();
    ui->startView->repaint();
}

void WMediaPlayer::hideVideo()
{
    ui->lPlayerIcon->show();
    if (videoWidget)
        videoWidget->hide();
    ui->startView->repaint();
}

void WMediaPlayer::play() { mediaPlayer->play(); }

void WMediaPlayer::stop() { mediaPlayer->stop(); }

void WMediaPlayer::pause()
{
    switch (mediaPlayer->state()) {
    case QMediaPlayer::PlayingState:
        mediaPlayer->pause();
        break;
    case QMediaPlayer::PausedState:
        mediaPlayer->play();
        break;
    default:
        break;
    }
}

void WMediaPlayer::seek(long position)
{
    if (isPlayingOrPaused())
        mediaPlayer->setPosition(qint64(position));
}

void WMediaPlayer::setVolume(int volume) { mediaPlayer->setVolume(volume); }

void WMediaPlayer::setMuted(int muted) { mediaPlayer->setMuted(muted != 0); }

void WMediaPlayer::videoError(QString description)
{
    // The engine reports from inside the start of its playback, which goes
    // on: the box only informs, so it must not hold the caller up.
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Video rendering problem"), description, QMessageBox::Ok,
                                this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
