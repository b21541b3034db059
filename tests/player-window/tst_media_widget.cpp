#include "Core/Multimedia/MediaServiceProvider.h"
#include "Core/Multimedia/PlayerService.h"
#include "Core/Multimedia/VideoRendererControl.h"
#include "Core/Output/VideoSurface.h"
#include "Core/Output/VideoWidget.h"
#include "Gui/WMediaPlayer.h"
#include "ModalAnswer.h"
#include "tests/TestMain.h"

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QTranslator>
#include <QtTest>

#include <memory>

using namespace Harbend;

class MediaWidgetTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void playerOverTheEngine();
    void placeholderAndVideoTakeTurns();
    void videoErrorIsShownWithoutHoldingUpTheEngine();
    void withoutARecordingNothingMoves();
    void playerGoesBeforeTheVideoWidget();

private:
    QTranslator polish;
};

void MediaWidgetTest::initTestCase()
{
    QVERIFY(polish.load(QStringLiteral(":/Language/pl_PL")));
    QCoreApplication::installTranslator(&polish);
}

void MediaWidgetTest::playerOverTheEngine()
{
    QMediaServiceProvider* before = QMediaServiceProvider::defaultServiceProvider();
    WMediaPlayer widget;
    QMediaPlayer* player = widget.getMediaPlayer();
    QVERIFY(player);
    QVERIFY(qobject_cast<PlayerService*>(player->service()));
    // Everyone else still gets the provider that was there before.
    QCOMPARE(QMediaServiceProvider::defaultServiceProvider(), before);
    QVERIFY(before != &g_serviceProvider);
    // The video goes to the engine's video widget through our renderer control.
    auto* service = qobject_cast<PlayerService*>(player->service());
    QVERIFY(service->videoRendererControl);
    QCOMPARE(service->videoRendererControl->surface(), widget.getVideoWidget()->surface);

    QCOMPARE(widget.size(), QSize(400, 352));
    QCOMPARE(widget.windowTitle(), QStringLiteral("Form"));
    auto* startView = widget.findChild<QFrame*>(QStringLiteral("startView"));
    QVERIFY(startView);
    QCOMPARE(startView->minimumSize(), QSize(250, 350));
    QCOMPARE(widget.getVideoWidget()->parentWidget(), startView);
    QCOMPARE(startView->palette().color(QPalette::Active, QPalette::Window), QColor(Qt::black));
    auto* icon = widget.findChild<QLabel*>(QStringLiteral("lPlayerIcon"));
    QVERIFY(icon && !icon->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(icon->pixmap(Qt::ReturnByValue).size(), QImage(QStringLiteral(":/icons/video.png")).size());
}

void MediaWidgetTest::placeholderAndVideoTakeTurns()
{
    WMediaPlayer widget;
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    auto* icon = widget.findChild<QLabel*>(QStringLiteral("lPlayerIcon"));
    // Built showing the video area.
    QVERIFY(widget.getVideoWidget()->isVisible());
    QVERIFY(!icon->isVisible());
    widget.hideVideo();
    QVERIFY(icon->isVisible());
    QVERIFY(!widget.getVideoWidget()->isVisible());
    widget.showVideo();
    QVERIFY(!icon->isVisible());
    QVERIFY(widget.getVideoWidget()->isVisible());
}

void MediaWidgetTest::videoErrorIsShownWithoutHoldingUpTheEngine()
{
    WMediaPlayer widget;
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    // Only there so that a box that holds the report up cannot hang the test.
    ModalAnswer guard(ModalAnswer::press(QMessageBox::Ok));
    // The engine reports from inside its surface's start: the report returns
    // at once and the box stays up until the user closes it.
    widget.getVideoWidget()->emitError(QStringLiteral("Brak powierzchni"));
    QCOMPARE(guard.seen.size(), 0);
    auto* box = widget.findChild<QMessageBox*>();
    QVERIFY(box && box->isVisible());
    QCOMPARE(box->windowTitle(), QStringLiteral("Problem renderowania video"));
    QCOMPARE(box->text(), QStringLiteral("Brak powierzchni"));
    QCOMPARE(box->icon(), QMessageBox::Warning);
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(!widget.findChild<QMessageBox*>());
}

void MediaWidgetTest::withoutARecordingNothingMoves()
{
    WMediaPlayer widget;
    QVERIFY(!widget.isMediaOpened());
    QCOMPARE(widget.getPlayingState(), QMediaPlayer::StoppedState);
    QCOMPARE(widget.getTime(), 0L);
    const qint64 before = widget.getMediaPlayer()->position();
    widget.pause();
    QCOMPARE(widget.getPlayingState(), QMediaPlayer::StoppedState);
    widget.seek(5000);
    QCOMPARE(widget.getMediaPlayer()->position(), before);
}

void MediaWidgetTest::playerGoesBeforeTheVideoWidget()
{
    auto* widget = new WMediaPlayer;
    QStringList order;
    QPointer<QMediaService> service(widget->getMediaPlayer()->service());
    QPointer<QMediaPlayer> player(widget->getMediaPlayer());
    // The service, with the playback in it, is released by the player's destructor.
    connect(service.data(), &QObject::destroyed, [&] { order << QStringLiteral("service"); });
    connect(widget->getVideoWidget(), &QObject::destroyed, [&] { order << QStringLiteral("video"); });
    delete widget;
    QCOMPARE(order, (QStringList{QStringLiteral("service"), QStringLiteral("video")}));
    QVERIFY(player.isNull());
}

HARBEND_TEST_MAIN(MediaWidgetTest)
#include "tst_media_widget.moc"
