// The Direct3D 9 back end on a real X server, drawn through our software
// Direct3D 9 library (build/direct3d9/libd3d9.so, put on the library path for
// this test only): the façade's chain, the picture read back from the server,
// every failure of the back end (through the library's test controls), a
// recording played through QMediaPlayer, and no COM object left at the end.

#include "LogCapture.h"
#include "PrivateDisplay.h"
#include "ScreenCheck.h"
#include "VideoPattern.h"
#include "tests/playback/PlayerHarness.h"

#include "Core/Base/Processor.h"
#include "Core/Output/VideoFrameFormat.h"
#include "Core/Output/VideoSurface.h"
#include "Core/Output/VideoSurfaceDirect3D9.h"
#include "Core/Output/VideoSurfaceOpenGL.h"
#include "Core/Output/VideoWidget.h"
#include "Core/Output/VideoWidgetDirect3D9.h"
#include "Core/Output/VideoWidgetOpenGL.h"

#include <QApplication>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>

using namespace Harbend;

namespace {

const QSize kWidgetSize(1280, 720);
const QRect kGeometry(QPoint(40, 30), kWidgetSize);

// The counters of the library that the back end loaded.
struct StandIn {
    int (*liveObjects)() = nullptr;
    int (*presents)() = nullptr;
    int (*foreignCalls)() = nullptr;
    int (*hardwareRefusals)() = nullptr;
    int (*devicesCreated)() = nullptr;
    int (*cooperativeTests)() = nullptr;
    void (*setCooperativeHook)(void (*)(void*), void*) = nullptr;

    bool load()
    {
        void* library = dlopen("libd3d9.so", RTLD_NOW | RTLD_NOLOAD);
        if (!library)
            return false;
        liveObjects = reinterpret_cast<int (*)()>(dlsym(library, "D3D9StandInLiveObjects"));
        presents = reinterpret_cast<int (*)()>(dlsym(library, "D3D9StandInPresents"));
        foreignCalls = reinterpret_cast<int (*)()>(dlsym(library, "D3D9StandInForeignCalls"));
        hardwareRefusals = reinterpret_cast<int (*)()>(dlsym(library, "D3D9StandInHardwareRefusals"));
        devicesCreated = reinterpret_cast<int (*)()>(dlsym(library, "D3D9StandInDevicesCreated"));
        cooperativeTests = reinterpret_cast<int (*)()>(dlsym(library, "D3D9StandInCooperativeTests"));
        setCooperativeHook = reinterpret_cast<void (*)(void (*)(void*), void*)>(
            dlsym(library, "D3D9StandInSetCooperativeHook"));
        dlclose(library); // the loader keeps its own reference
        return liveObjects && presents && foreignCalls && hardwareRefusals && devicesCreated && cooperativeTests &&
               setCooperativeHook;
    }
};

StandIn g_standIn;

// A test control of the library for the widgets made while it lives.
class Control {
public:
    Control(const QByteArray& name, const QByteArray& value) : name(name)
    {
        if (!name.isEmpty())
            qputenv(name.constData(), value);
    }
    ~Control()
    {
        if (!name.isEmpty())
            qunsetenv(name.constData());
    }

private:
    QByteArray name;
};

std::unique_ptr<VideoWidget> shownWidget(const QSize& size = kWidgetSize)
{
    std::unique_ptr<VideoWidget> widget(new VideoWidget(nullptr));
    widget->setWindowFlags(Qt::FramelessWindowHint);
    widget->setGeometry(QRect(kGeometry.topLeft(), size));
    widget->show();
    return widget;
}

QStringList fallBack(const QSize& frame)
{
    return {"WARNING VideoSurface: Failed to initialize Direct3D video output! Trying with OpenGL...",
            QStringLiteral("INFO VideoWidgetOpenGL: Initializing video output with format %1x%2 pixels YUV420P.")
                .arg(frame.width())
                .arg(frame.height()),
            "INFO VideoSurface: Successfully initialized OpenGL video surface."};
}

const char kStarted[] = "INFO VideoSurface: Successfully initialized Direct3D video surface.";

// Waits until the screen shows the check's expectations.
#define VERIFY_SCREEN(name, makeCheck)                                                                                 \
    do {                                                                                                               \
        QString report;                                                                                                \
        QTRY_VERIFY2_WITH_TIMEOUT(([&] {                                                                               \
                                      const ScreenCheck verdict = makeCheck(screenshot(name));                         \
                                      report = verdict.report();                                                       \
                                      return verdict.ok();                                                             \
                                  }()),                                                                                \
                                  qPrintable(report), 5000);                                                           \
    } while (false)

} // namespace

class VideoDirect3D9Test : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void chainStartsWithDirect3D();
    void picture_data();
    void picture();
    void sameColoursAsOpenGL();
    void resizeRebuildsAndThePictureFollows();
    void failures_data();
    void failures();
    void lostDeviceIsRebuiltOnceItMayBeReset();
    void videoThreadNeverTouchesTheDevice();
    void presentsOverlapPaints();
    void recordingPlaysToItsEnd();

private:
    std::unique_ptr<VideoWidget> widget;
    QImage direct3dScreen;
};

void VideoDirect3D9Test::initTestCase()
{
    QVERIFY2(g_standIn.load(), "libd3d9.so is not loaded: the test runs with the stand-in on LD_LIBRARY_PATH");
    Processor::overrideFlags(Processor::MMX | Processor::SSE | Processor::SSE2);
    widget = shownWidget();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
}

void VideoDirect3D9Test::cleanupTestCase()
{
    widget.reset();
    // Every texture, shader, buffer, declaration, device and the Direct3D object went.
    QCOMPARE(g_standIn.liveObjects(), 0);
}

void VideoDirect3D9Test::chainStartsWithDirect3D()
{
    LogCapture log;
    QSignalSpy messages(widget.get(), &VideoWidget::error);
    QVERIFY(widget->surface->start(VideoFrameFormat::create(640, 480, 25, 1)));
    QCOMPARE(log.entries(), QStringList{kStarted});
    QCOMPARE(messages.count(), 0);
    QCOMPARE(widget->surface->surfaceType(), VideoSurfaceType::Direct3D);
    QVERIFY(qobject_cast<VideoWidgetDirect3D9*>(widget->backEndWidget()));
    QVERIFY(widget->backEndWidget()->testAttribute(Qt::WA_NativeWindow));
    QVERIFY(!widget->backEndWidget()->paintEngine());
}

// Sizes in device pixels. The test runs once more with QT_SCALE_FACTOR=2,
// where the picture fills the widget's device pixels as OpenGL's does.
void VideoDirect3D9Test::picture_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QSize>("area"); // the widget's
    // Each texel centre on a pixel centre: one-pixel lines stay one pixel wide.
    QTest::newRow("1:1, one-pixel lines") << QSize(320, 240) << QSize(320, 240);
    // 960 pixels wide, black bars of 160 at the sides, the first row at the
    // top, the bars within two levels of BT.709.
    QTest::newRow("640x480 fitted into 1280x720") << QSize(640, 480) << kWidgetSize;
}

void VideoDirect3D9Test::picture()
{
    QFETCH(QSize, frame);
    QFETCH(QSize, area);
    const qreal scale = widget->devicePixelRatioF();
    QVERIFY(widget->surface->start(VideoFrameFormat::create(frame.width(), frame.height(), 25, 1)));
    widget->resize(area / scale);
    QTRY_COMPARE(widget->backEndWidget()->size(), area / scale);
    const bool lines = frame == area;
    QVERIFY(widget->surface->present(lines ? VideoPattern::lineFrame(frame.width(), frame.height())
                                           : VideoPattern::barFrame(frame.width(), frame.height())));
    const QPoint origin = widget->mapToGlobal(QPoint(0, 0)) * scale;
    const QString name = QStringLiteral("direct3d9-%1-x%2").arg(lines ? "lines" : "bars").arg(scale);
    VERIFY_SCREEN(name, [&](const QImage& screen) {
        if (!lines) {
            direct3dScreen = screen;
            return checkPicture(screen, origin, frame, area, 2);
        }
        ScreenCheck check(screen, origin);
        check.expectEach(
            QRect(QPoint(0, 0), area), [](const QPoint& at) { return VideoPattern::expectedLineAt(at.x(), at.y()); }, 2,
            "1:1 picture");
        return check;
    });
}

// The OpenGL back end draws the same frame in the same place: the bars agree within two levels.
void VideoDirect3D9Test::sameColoursAsOpenGL()
{
    QVERIFY(!direct3dScreen.isNull());
    widget->hide();
    VideoWidgetOpenGL gl(nullptr);
    gl.setWindowFlags(Qt::FramelessWindowHint);
    gl.setGeometry(kGeometry);
    gl.show();
    QVERIFY(QTest::qWaitForWindowExposed(&gl));
    QVERIFY(gl.surface->start(VideoFrameFormat::create(640, 480, 25, 1)));
    QVERIFY(gl.surface->present(VideoPattern::barFrame(640, 480)));
    const QPoint origin = gl.mapToGlobal(QPoint(0, 0));
    VERIFY_SCREEN("direct3d9-opengl-bars", [&](const QImage& screen) {
        ScreenCheck check(screen, origin);
        const ScreenCheck direct3d(direct3dScreen, origin);
        for (int bar = 0; bar < 8; ++bar)
            for (int y : {90, 300, 585}) {
                const QPoint at(160 + bar * 120 + 60, y);
                check.expect(at, direct3d.at(at), 2, "as drawn by Direct3D");
            }
        return check;
    });
    gl.surface->stop();
    gl.hide();
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
}

// A 16:9 frame fills the widget; narrowed to 4:3 the device is rebuilt for
// the new size and the picture follows, with bars above and below.
void VideoDirect3D9Test::resizeRebuildsAndThePictureFollows()
{
    const QSize frame(1280, 720);
    QVERIFY(widget->surface->start(VideoFrameFormat::create(frame.width(), frame.height(), 25, 1)));
    QVERIFY(widget->surface->present(VideoPattern::barFrame(frame.width(), frame.height())));
    const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    VERIFY_SCREEN("direct3d9-wide",
                  [&](const QImage& screen) { return checkPicture(screen, origin, frame, kWidgetSize, 2); });

    const int devices = g_standIn.devicesCreated();
    const QSize narrow(960, 720);
    widget->resize(narrow);
    QTRY_COMPARE(widget->backEndWidget()->size(), narrow);
    QCOMPARE(g_standIn.devicesCreated(), devices + 1);
    VERIFY_SCREEN("direct3d9-narrow",
                  [&](const QImage& screen) { return checkPicture(screen, origin, frame, narrow, 2); });
    widget->surface->stop();
    widget->resize(kWidgetSize);
    QTRY_COMPARE(widget->backEndWidget()->size(), kWidgetSize);
}

// Every way that Direct3D can fail at the first start, through the library's
// controls: the FATAL line of the step and the fall-back to OpenGL (no
// message to the user), or a start that goes on in software vertex processing.
void VideoDirect3D9Test::failures_data()
{
    QTest::addColumn<QByteArray>("control");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QStringList>("entries");

    const QStringList fallen = fallBack(QSize(320, 240));
    const auto fatal = [&](const char* text) {
        return QStringList{QStringLiteral("FATAL VideoSurfaceDirect3D9: ") + text} + fallen;
    };
    QTest::newRow("Direct3DCreate9 gives null")
        << QByteArray("D3D9_STANDIN_NULL") << QByteArray("1")
        << QStringList{"FATAL VideoSurfaceDirect3D9: Direct3D 9 installed on this machine is too old, consider an "
                       "update.",
                       "FATAL VideoSurfaceDirect3D9: Direct3D 9 is unsupported on this platform."} +
               fallen;
    QTest::newRow("hardware vertex processing refused")
        << QByteArray("D3D9_STANDIN_REFUSE_HARDWARE") << QByteArray("1") << QStringList{kStarted};
    QTest::newRow("no device in either mode")
        << QByteArray("D3D9_STANDIN_FAIL") << QByteArray("device") << fatal("Failed to initialize Direct3D 9 device!");
    for (int plane = 0; plane < 3; ++plane)
        QTest::newRow(qPrintable(QStringLiteral("texture %1").arg(plane)))
            << QByteArray("D3D9_STANDIN_FAIL") << QByteArray("texture") + QByteArray::number(plane)
            << fatal(qPrintable(QStringLiteral("Failed to create YUV plane #%1 texture!").arg(plane)));
    QTest::newRow("vertex shader") << QByteArray("D3D9_STANDIN_FAIL") << QByteArray("vertexshader")
                                   << fatal("Failed to create vertex shader object!");
    QTest::newRow("pixel shader") << QByteArray("D3D9_STANDIN_FAIL") << QByteArray("pixelshader")
                                  << fatal("Failed to create pixel shader object!");
    QTest::newRow("vertex declaration") << QByteArray("D3D9_STANDIN_FAIL") << QByteArray("declaration")
                                        << fatal("Failed to create vertex declaration!");
    QTest::newRow("vertex buffer") << QByteArray("D3D9_STANDIN_FAIL") << QByteArray("vertexbuffer")
                                   << fatal("Failed to create vertex buffer!");
    QTest::newRow("vertex buffer lock") << QByteArray("D3D9_STANDIN_FAIL") << QByteArray("lock")
                                        << fatal("Failed to lock vertex buffer!");
}

void VideoDirect3D9Test::failures()
{
    QFETCH(QByteArray, control);
    QFETCH(QByteArray, value);
    QFETCH(QStringList, entries);
    const int liveBefore = g_standIn.liveObjects();
    const int refusals = g_standIn.hardwareRefusals();
    {
        const Control set(control, value);
        auto fresh = shownWidget(QSize(640, 480));
        QVERIFY(QTest::qWaitForWindowExposed(fresh.get()));
        LogCapture log;
        QSignalSpy messages(fresh.get(), &VideoWidget::error);
        QVERIFY(fresh->surface->start(VideoFrameFormat::create(320, 240, 25, 1)));
        QCOMPARE(log.entries(), entries);
        QCOMPARE(messages.count(), 0);
        const bool direct3d = entries.size() == 1;
        QCOMPARE(fresh->surface->surfaceType(), direct3d ? VideoSurfaceType::Direct3D : VideoSurfaceType::OpenGL);
        if (control == "D3D9_STANDIN_REFUSE_HARDWARE") {
            // Refused once; the rebuild after a resize asks for software vertex processing at once.
            QCOMPARE(g_standIn.hardwareRefusals(), refusals + 1);
            const int devices = g_standIn.devicesCreated();
            fresh->resize(800, 600);
            QTRY_COMPARE(g_standIn.devicesCreated(), devices + 1);
            QCOMPARE(g_standIn.hardwareRefusals(), refusals + 1);
            const int presents = g_standIn.presents();
            QVERIFY(fresh->surface->present(VideoPattern::barFrame(320, 240)));
            QTRY_VERIFY(g_standIn.presents() > presents);
        }
        fresh->surface->stop();
    }
    // Nothing of a failed start stays behind.
    QCOMPARE(g_standIn.liveObjects(), liveBefore);
}

// Lost for three tests of the cooperative level, then ready to be reset: one
// WARNING, the rebuild with its DEBUG line, and pictures reach the window again.
void VideoDirect3D9Test::lostDeviceIsRebuiltOnceItMayBeReset()
{
    const Control lost("D3D9_STANDIN_LOST", "3");
    auto fresh = shownWidget(QSize(640, 480));
    QVERIFY(QTest::qWaitForWindowExposed(fresh.get()));
    LogCapture log;
    QVERIFY(fresh->surface->start(VideoFrameFormat::create(320, 240, 25, 1)));
    const QVideoFrame frame = VideoPattern::barFrame(320, 240);
    const QString rebuilt = QStringLiteral("DEBUG VideoSurfaceDirect3D9: Successfully re-created Direct3D device.");
    // Each frame is drawn at the next paint, which tests the device once:
    // three times lost, then not reset.
    for (int paint = 0; paint < 10 && !log.entries().contains(rebuilt); ++paint) {
        const int tests = g_standIn.cooperativeTests();
        QVERIFY(fresh->surface->present(frame));
        QTRY_VERIFY(g_standIn.cooperativeTests() > tests);
    }
    const QStringList entries = log.entries();
    QCOMPARE(entries.count("WARNING VideoSurfaceDirect3D9: Direct3D device is lost, have to wait for an attempt to "
                           "re-create it."),
             1);
    QCOMPARE(entries.count(rebuilt), 1);
    const int presents = g_standIn.presents();
    QVERIFY(fresh->surface->present(frame));
    QTRY_VERIFY(g_standIn.presents() > presents);
    fresh->surface->stop();
}

// Frames presented from another thread only change the slots; a frame of
// another size stops the surface on the GUI thread, and the widget turns black.
void VideoDirect3D9Test::videoThreadNeverTouchesTheDevice()
{
    QVERIFY(widget->surface->start(VideoFrameFormat::create(640, 480, 25, 1)));
    QAbstractVideoSurface* backEnd = widget->surface->backEnd();
    const QVideoFrame frame = VideoPattern::barFrame(640, 480);
    const int foreign = g_standIn.foreignCalls();
    QThread* stoppedOn = nullptr;
    const QMetaObject::Connection watch = connect(
        backEnd, &QAbstractVideoSurface::activeChanged, backEnd,
        [&](bool active) {
            if (!active)
                stoppedOn = QThread::currentThread();
        },
        Qt::DirectConnection);
    int accepted = 0;
    bool wrongAnswer = true;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        for (int i = 0; i < 50; ++i)
            accepted += widget->surface->present(frame) ? 1 : 0;
        wrongAnswer = widget->surface->present(VideoPattern::barFrame(320, 240));
    }));
    thread->start();
    // The GUI thread keeps drawing what arrives while the frames come in.
    QTRY_VERIFY(thread->isFinished());
    QVERIFY(thread->wait(10000));
    QCOMPARE(accepted, 50);
    QVERIFY(!wrongAnswer);
    QCOMPARE(backEnd->error(), QAbstractVideoSurface::IncorrectFormatError);
    QTRY_VERIFY(!backEnd->isActive());
    QCOMPARE(stoppedOn, QThread::currentThread());
    disconnect(watch);
    QCOMPARE(g_standIn.foreignCalls(), foreign);

    const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    VERIFY_SCREEN("direct3d9-stopped", [&](const QImage& screen) {
        ScreenCheck check(screen, origin);
        for (int x = 5; x < kWidgetSize.width(); x += 90)
            for (int y = 5; y < kWidgetSize.height(); y += 90)
                check.expect(QPoint(x, y), Qt::black, 0, "stopped");
        return check;
    });
    // A paint of the stopped surface builds nothing.
    const int devices = g_standIn.devicesCreated();
    widget->backEndWidget()->repaint();
    QCOMPARE(g_standIn.devicesCreated(), devices);
}

// Frames presented from another thread while paints take the frame: each
// paint's device check lets one present go, which then runs while render()
// takes the frame from its slot. The threads share nothing else (relaxed
// counters), so only the surface's slot lock orders them: without it, a
// ThreadSanitizer run that suppresses only races at the top of Qt's own
// frames (race_top) reports the race on the slots in render() and present().
void VideoDirect3D9Test::presentsOverlapPaints()
{
    const QSize size(64, 48);
    auto fresh = shownWidget(size);
    QVERIFY(QTest::qWaitForWindowExposed(fresh.get()));
    QVERIFY(fresh->surface->start(VideoFrameFormat::create(size.width(), size.height(), 25, 1)));
    const VideoPattern::Yuv colours[2] = {{81, 90, 240}, {145, 54, 34}};
    const QVideoFrame frames[2] = {VideoPattern::flatFrame(size.width(), size.height(), colours[0]),
                                   VideoPattern::flatFrame(size.width(), size.height(), colours[1])};
    // The first present goes at once; its paint lets the next one go, and so on.
    const int presents = 200;
    std::atomic<int> released{1};
    std::atomic<int> presented{0};
    std::atomic<int> accepted{0};
    std::atomic<bool> abandoned{false};
    g_standIn.setCooperativeHook(
        [](void* context) { static_cast<std::atomic<int>*>(context)->fetch_add(1, std::memory_order_relaxed); },
        &released);
    std::unique_ptr<QThread> presenter(QThread::create([&] {
        for (int done = 0; done < presents && !abandoned.load(std::memory_order_relaxed);) {
            if (done < released.load(std::memory_order_relaxed)) {
                accepted += fresh->surface->present(frames[done % 2]) ? 1 : 0;
                presented = ++done;
            } else {
                QThread::yieldCurrentThread();
            }
        }
    }));
    presenter->start();
    QTRY_VERIFY_WITH_TIMEOUT(presenter->isFinished(), 30000);
    abandoned = true;
    QVERIFY(presenter->wait(30000));
    g_standIn.setCooperativeHook(nullptr, nullptr);
    QCOMPARE(presented.load(), presents);
    QCOMPARE(accepted.load(), presents);
    // The frame presented last is the one on the screen.
    const QColor last = VideoPattern::toRgb(colours[(presents - 1) % 2]);
    const QPoint origin = fresh->mapToGlobal(QPoint(0, 0));
    VERIFY_SCREEN("direct3d9-overlap", [&](const QImage& screen) {
        ScreenCheck check(screen, origin);
        check.expectEach(
            QRect(QPoint(0, 0), size), [&](const QPoint&) { return last; }, 2, "last frame");
        return check;
    });
    fresh->surface->stop();
}

void VideoDirect3D9Test::recordingPlaysToItsEnd()
{
    PlaybackTest::Recordings recordings;
    const QString path = recordings.get("direct3d9.ogg",
                                        {"--stream", "theora:width=320,height=240,fps=25", "--duration", "2"});
    QVERIFY(!path.isEmpty());
    const int presents = g_standIn.presents();
    {
        PlaybackTest::PlayerHarness harness;
        QMediaPlayer* player = harness.player.get();
        player->setVideoOutput(widget->surface);
        QSignalSpy errors(player, QOverload<QMediaPlayer::Error>::of(&QMediaPlayer::error));
        player->setMedia(QMediaContent(QUrl::fromLocalFile(path)));
        player->play();
        QVERIFY(player->isVideoAvailable());
        QTRY_COMPARE_WITH_TIMEOUT(player->state(), QMediaPlayer::StoppedState, 15000);
        QVERIFY(errors.isEmpty());
    }
    QCOMPARE(widget->surface->surfaceType(), VideoSurfaceType::Direct3D);
    // Two seconds at 25 frames a second went to the window (a late frame may be dropped).
    QVERIFY2(g_standIn.presents() - presents >= 25, qPrintable(QString::number(g_standIn.presents() - presents)));
    QVERIFY(!widget->surface->backEnd()->isActive());
}

HARBEND_TEST_MAIN_ON_PRIVATE_DISPLAY(VideoDirect3D9Test, 1600, 900)

#include "tst_video_direct3d9.moc"
