// The video widget on a real X server: the façade's choice of back end, and
// what the chosen back end really puts on the screen, read back from the
// server with ImageMagick's import. Run once as it is (OpenGL through GLX)
// and once with QT_XCB_GL_INTEGRATION=none (no OpenGL: the software back end).

#include "LogCapture.h"
#include "PrivateDisplay.h"
#include "ScreenCheck.h"
#include "VideoPattern.h"
#include "VideoStreams.h"

#include "Core/Base/Processor.h"
#include "Core/Decoder/Codecs/DecoderVideoTheora.h"
#include "Core/Output/VideoFrameFormat.h"
#include "Core/Output/VideoSurface.h"
#include "Core/Output/VideoWidget.h"
#include "Core/Output/VideoWidgetOpenGL.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTranslator>
#include <QtTest>

#include <memory>

using namespace Harbend;

namespace {

const QSize kWidgetSize(1280, 720);

bool softwareExpected() { return qgetenv("QT_XCB_GL_INTEGRATION") == "none"; }

QString modeName() { return softwareExpected() ? QStringLiteral("software") : QStringLiteral("opengl"); }

QImage screenshotOf(const QString& name) { return screenshot(QStringLiteral("video-%1-%2").arg(modeName(), name)); }

ScreenCheck checkBars(const QImage& screen, const QPoint& origin, const QSize& frame)
{
    return checkPicture(screen, origin, frame, kWidgetSize);
}

// Marks the texts of the context "VideoSurface", so that a message shows
// which context it was translated in.
class ContextTranslator : public QTranslator {
public:
    QString translate(const char* context, const char* sourceText, const char*, int) const override
    {
        return qstrcmp(context, "VideoSurface") == 0 ? QStringLiteral("[VideoSurface] ") + QString::fromUtf8(sourceText)
                                                     : QString();
    }
    bool isEmpty() const override { return false; }
};

} // namespace

class VideoWidgetTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void beforeTheFirstStart();
    void noBackEndStarts();
    void firstStartChoosesTheBackEnd();
    void barsAndMarginsOnScreen();
    void frameOfAnotherSizeStopsTheSurface();
    void secondRecordingReusesTheBackEnd();
    void decodedPictureOnScreen();

private:
    std::unique_ptr<VideoWidget> widget;
};

void VideoWidgetTest::initTestCase()
{
    Processor::overrideFlags(Processor::MMX | Processor::SSE | Processor::SSE2);
    widget.reset(new VideoWidget(nullptr));
    widget->setWindowFlags(Qt::FramelessWindowHint);
    widget->setGeometry(QRect(QPoint(40, 30), kWidgetSize));
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
    QCOMPARE(widget->size(), kWidgetSize);
}

void VideoWidgetTest::cleanupTestCase() { widget.reset(); }

void VideoWidgetTest::beforeTheFirstStart()
{
    VideoWidget fresh(nullptr);
    QVERIFY(fresh.surface);
    QCOMPARE(fresh.surface->parent(), &fresh);
    QCOMPARE(fresh.surface->surfaceType(), VideoSurfaceType::None);
    QVERIFY(!fresh.surface->present(VideoPattern::barFrame(64, 64)));
    QVERIFY(!fresh.surface->isFormatSupported(VideoFrameFormat::create(64, 64, 25, 1)));
    QVERIFY(fresh.surface->supportedPixelFormats(QAbstractVideoBuffer::NoHandle).isEmpty());
    fresh.surface->stop();
    QVERIFY(!fresh.backEndWidget());
    QCOMPARE(fresh.palette().brush(QPalette::Inactive, QPalette::Window).color(), QColor(Qt::black));
    QCOMPARE(fresh.sizePolicy().horizontalPolicy(), QSizePolicy::MinimumExpanding);
}

// A format that no back end takes: every step of the chain fails, and the
// software back end, once reached, is the only one tried from then on.
void VideoWidgetTest::noBackEndStarts()
{
    ContextTranslator translator;
    QCoreApplication::installTranslator(&translator);
    VideoWidget fresh(nullptr);
    QSignalSpy messages(&fresh, &VideoWidget::error);
    // Pictures that no back end draws are refused before any is tried, and the user is told.
    QVERIFY(!fresh.surface->start(VideoFrameFormat::create(64, 64, 25, 1, QVideoFrame::Format_YUV444)));
    QCOMPARE(fresh.surface->surfaceType(), VideoSurfaceType::None);
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.takeFirst()[0].toString(),
             QStringLiteral(
                 "[VideoSurface] The picture format of this recording is not supported. It plays without video."));
    LogCapture log;
    const QVideoSurfaceFormat packed(QSize(0, 0), QVideoFrame::Format_YUV420P);
    QVERIFY(!fresh.surface->start(packed));
    QStringList expected{
        "FATAL VideoSurfaceDirect3D9: Failed to load Direct3D 9 support!",
        "FATAL VideoSurfaceDirect3D9: Direct3D 9 is unsupported on this platform.",
        "WARNING VideoSurface: Failed to initialize Direct3D video output! Trying with OpenGL...",
        "WARNING VideoSurfaceOpenGL: Unsupported format!",
        "WARNING VideoSurface: Failed to initialize accelerated video output! Trying the software fallback...",
        "WARNING VideoSurfaceSoftware: Unsupported format!"};
    QCOMPARE(log.entries(), expected);
    const QString failure = QStringLiteral(
        "[VideoSurface] Failed to initialize video output! Won't have video support!");
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages[0][0].toString(), failure);
    QCOMPARE(fresh.surface->surfaceType(), VideoSurfaceType::Software);

    // A later start tries the software back end twice before it gives up.
    QVERIFY(!fresh.surface->start(packed));
    expected << "WARNING VideoSurfaceSoftware: Unsupported format!"
             << "WARNING VideoSurfaceSoftware: Unsupported format!";
    QCOMPARE(log.entries(), expected);
    QCOMPARE(messages.count(), 2);
    QCOMPARE(messages[1][0].toString(), failure);
    // A format it takes starts it at once: no fall-back line, no message.
    QVERIFY(fresh.surface->start(VideoFrameFormat::create(64, 64, 25, 1)));
    QCOMPARE(log.entries().last(),
             QStringLiteral("INFO VideoSurface: Successfully initialized software video surface."));
    QCOMPARE(messages.count(), 2);
    fresh.surface->stop();

    if (softwareExpected()) {
        // Without OpenGL the first start falls back and tells the user, in the same context.
        VideoWidget other(nullptr);
        QSignalSpy told(&other, &VideoWidget::error);
        QVERIFY(other.surface->start(VideoFrameFormat::create(64, 64, 25, 1)));
        QCOMPARE(told.count(), 1);
        QCOMPARE(told[0][0].toString(),
                 QStringLiteral("[VideoSurface] The newest graphics drivers are not installed in this system. "
                                "Video playback would be done in software."));
        other.surface->stop();
    }
    QCoreApplication::removeTranslator(&translator);
}

// Without a Direct3D 9 library (as on every normal run) the chain goes on to OpenGL.
void VideoWidgetTest::firstStartChoosesTheBackEnd()
{
    LogCapture log;
    QSignalSpy messages(widget.get(), &VideoWidget::error);
    QVERIFY(widget->surface->start(VideoFrameFormat::create(640, 480, 25, 1)));
    const QStringList direct3d{
        "FATAL VideoSurfaceDirect3D9: Failed to load Direct3D 9 support!",
        "FATAL VideoSurfaceDirect3D9: Direct3D 9 is unsupported on this platform.",
        "WARNING VideoSurface: Failed to initialize Direct3D video output! Trying with OpenGL..."};

    if (softwareExpected()) {
        QCOMPARE(widget->surface->surfaceType(), VideoSurfaceType::Software);
        QCOMPARE(log.entries(),
                 direct3d +
                     QStringList({"FATAL VideoWidgetOpenGL: Failed to initialize OpenGL context!",
                                  "ERROR VideoSurfaceOpenGL: Failed to initialize video presenter!",
                                  "WARNING VideoSurface: Failed to initialize accelerated video output! Trying the "
                                  "software fallback...",
                                  "INFO VideoSurfaceSoftware: Using SSE2 accelerated YUV420p->RGB conversion.",
                                  "INFO VideoSurface: Successfully initialized software video surface."}));
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages[0][0].toString(),
                 QStringLiteral("The newest graphics drivers are not installed in this system. Video playback "
                                "would be done in software."));
        QVERIFY(!qobject_cast<VideoWidgetOpenGL*>(widget->backEndWidget()));
    } else {
        QCOMPARE(widget->surface->surfaceType(), VideoSurfaceType::OpenGL);
        QCOMPARE(
            log.entries(),
            direct3d +
                QStringList({"INFO VideoWidgetOpenGL: Initializing video output with format 640x480 pixels YUV420P.",
                             "INFO VideoSurface: Successfully initialized OpenGL video surface."}));
        QCOMPARE(messages.count(), 0);
        // No adjustment: the shader's matrix is BT.709 itself; mid grey is 1.1643836 * 112 / 255.
        auto* gl = qobject_cast<VideoWidgetOpenGL*>(widget->backEndWidget());
        QVERIFY(gl);
        const QMatrix4x4 matrix = gl->colorMatrixInUse();
        QVERIFY(qAbs(matrix(0, 2) - 1.792741f) < 1e-5f);
        QVERIFY(qAbs(matrix(2, 1) - 2.112402f) < 1e-5f);
        const QVector4D grey = matrix * QVector4D(128 / 255.0f, 128 / 255.0f, 128 / 255.0f, 1.0f);
        QVERIFY(qAbs(grey.x() - 0.5114f) < 1e-3f && qAbs(grey.y() - 0.5114f) < 1e-3f &&
                qAbs(grey.z() - 0.5114f) < 1e-3f);
    }
    QVERIFY(widget->backEndWidget());
    QCOMPARE(widget->backEndWidget()->parentWidget(), widget.get());
    QVERIFY(widget->surface->backEnd()->isActive());
    QVERIFY(widget->surface->isFormatSupported(VideoFrameFormat::create(64, 64, 25, 1)));
    QCOMPARE(widget->surface->supportedPixelFormats(QAbstractVideoBuffer::NoHandle),
             QList<QVideoFrame::PixelFormat>{QVideoFrame::Format_YUV420P});
    QTRY_COMPARE(widget->backEndWidget()->geometry(), QRect(QPoint(0, 0), kWidgetSize));
}

// A 640x480 picture in a 1280x720 widget: 960 pixels wide, black bars of 160 at both sides.
void VideoWidgetTest::barsAndMarginsOnScreen()
{
    QVERIFY(widget->surface->present(VideoPattern::barFrame(640, 480)));
    const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    QString report;
    QTRY_VERIFY2_WITH_TIMEOUT(([&] {
                                  const ScreenCheck check = checkBars(screenshotOf(QStringLiteral("bars")), origin,
                                                                      QSize(640, 480));
                                  report = check.report();
                                  return check.ok();
                              }()),
                              qPrintable(report), 15000);
}

void VideoWidgetTest::frameOfAnotherSizeStopsTheSurface()
{
    QAbstractVideoSurface* backEnd = widget->surface->backEnd();
    // Presented from another thread, as the video output thread does: the
    // back end stops on the GUI thread, which owns its widget and context.
    QThread* stoppedOn = nullptr;
    const QMetaObject::Connection watch = connect(
        backEnd, &QAbstractVideoSurface::activeChanged, backEnd,
        [&](bool active) {
            if (!active)
                stoppedOn = QThread::currentThread();
        },
        Qt::DirectConnection);
    bool answer = true;
    std::unique_ptr<QThread> thread(
        QThread::create([&] { answer = widget->surface->present(VideoPattern::barFrame(320, 240)); }));
    thread->start();
    QVERIFY(thread->wait(10000));
    QVERIFY(!answer);
    QCOMPARE(backEnd->error(), QAbstractVideoSurface::IncorrectFormatError);
    QTRY_VERIFY(!backEnd->isActive());
    QCOMPARE(stoppedOn, QThread::currentThread());
    disconnect(watch);
    QVERIFY(!widget->surface->present(VideoPattern::barFrame(640, 480)));

    // The whole widget turns black.
    const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    QString report;
    QTRY_VERIFY2_WITH_TIMEOUT(([&] {
                                  ScreenCheck check(screenshotOf(QStringLiteral("stopped")), origin);
                                  for (int x = 5; x < kWidgetSize.width(); x += 90)
                                      for (int y = 5; y < kWidgetSize.height(); y += 90)
                                          check.expect(QPoint(x, y), Qt::black, 0, "stopped");
                                  report = check.report();
                                  return check.ok();
                              }()),
                              qPrintable(report), 15000);
}

// The next recording starts the same back end again: no new widget, no fall-back lines, no message.
void VideoWidgetTest::secondRecordingReusesTheBackEnd()
{
    QWidget* const backEndWidget = widget->backEndWidget();
    const VideoSurfaceType::Enum type = widget->surface->surfaceType();
    LogCapture log;
    QSignalSpy messages(widget.get(), &VideoWidget::error);
    // Odd chroma rows (635 bytes) must not be read as if padded to 4 bytes.
    const QSize size(1270, 714);
    QVERIFY(widget->surface->start(VideoFrameFormat::create(1270, 714, 25, 1)));
    QCOMPARE(widget->backEndWidget(), backEndWidget);
    QCOMPARE(widget->surface->surfaceType(), type);
    QCOMPARE(messages.count(), 0);
    const QStringList entries = log.entries();
    QCOMPARE(entries.last(), QStringLiteral("INFO VideoSurface: Successfully initialized %1 video surface.")
                                 .arg(softwareExpected() ? "software" : "OpenGL"));
    for (const QString& entry : entries)
        QVERIFY2(!entry.contains("Failed") && !entry.contains("Trying") && !entry.startsWith("FATAL") &&
                     !entry.startsWith("ERROR"),
                 qPrintable(entry));

    // A picture of almost 16:9 fills the widget.
    QVERIFY(widget->surface->present(VideoPattern::barFrame(size.width(), size.height())));
    const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    QString report;
    QTRY_VERIFY2_WITH_TIMEOUT(([&] {
                                  const ScreenCheck check = checkBars(screenshotOf(QStringLiteral("second")), origin,
                                                                      size);
                                  report = check.report();
                                  return check.ok();
                              }()),
                              qPrintable(report), 15000);
    widget->surface->stop();
    QVERIFY(!widget->surface->backEnd()->isActive());
}

// A picture from a generated Theora recording, decoded and presented: its
// number is read back from the screen.
void VideoWidgetTest::decodedPictureOnScreen()
{
    QTemporaryDir dir;
    VideoStreams::Recorded recording;
    QVERIFY(VideoStreams::record(dir.path(), "screen.ogg", "theora:width=640,height=480,duration=2,keyint=16", 3,
                                 recording));
    DecoderVideoTheora decoder;
    QVERIFY(decoder.open(&recording.headers));
    const auto samples = VideoStreams::decodeAll(decoder, recording.data.mid(0, 38));
    QCOMPARE(samples.size(), 38);
    const QVideoFrame frame = samples.last()->frame;
    QCOMPARE(frame.size(), QSize(640, 480));

    QVERIFY(widget->surface->start(VideoFrameFormat::create(640, 480, 25, 1)));
    QVERIFY(widget->surface->present(frame));
    const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
    long long shown = -1;
    QTRY_VERIFY2_WITH_TIMEOUT(([&] {
                                  const QImage screen = screenshotOf(QStringLiteral("decoded"));
                                  if (screen.isNull())
                                      return false;
                                  shown = 0;
                                  for (int bit = 0; bit < 20; ++bit) {
                                      const QPoint cell(bit * recording.cellWidth + recording.cellWidth / 2,
                                                        recording.cellHeight / 2);
                                      const QPoint at = origin + QPoint(160, 0) + cell * 3 / 2;
                                      shown = (shown << 1) | (qGray(screen.pixel(at)) > 128 ? 1 : 0);
                                  }
                                  return shown == 37;
                              }()),
                              qPrintable(QStringLiteral("the screen shows picture %1").arg(shown)), 15000);
    widget->surface->stop();
}

HARBEND_TEST_MAIN_ON_PRIVATE_DISPLAY(VideoWidgetTest, 1600, 900)

#include "tst_video_widget.moc"
