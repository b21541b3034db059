// The software back end's two colour converters, the video buffer and the
// software surface's own rules, without a window on screen.

#include "LogCapture.h"
#include "VideoPattern.h"

#include "Core/Base/Memory.h"
#include "Core/Base/Processor.h"
#include "Core/Output/VideoBuffer.h"
#include "Core/Output/VideoFrameFormat.h"
#include "Core/Output/VideoPlaneLayout.h"
#include "Core/Output/VideoSurfaceSoftware.h"
#include "Core/Output/VideoWidgetSoftware.h"

#include <QFile>
#include <QPaintEngine>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>

using namespace Harbend;
using VideoPattern::Yuv;

namespace {

typedef VideoSurfaceSoftware::ConvertFunction Converter;

// An RGB32 image over an aligned block, as the surface's slots are.
struct Slot {
    Slot(int width, int height)
        : block(static_cast<uchar*>(Memory::allocate(std::size_t(width) * height * 4))),
          image(block, width, height, width * 4, QImage::Format_RGB32)
    {
        image.fill(QColor(0, 0, 0, 255));
    }
    ~Slot() { Memory::free(block); }
    uchar* block;
    QImage image;
};

QImage converted(Converter convert, const QVideoFrame& source)
{
    QVideoFrame frame(source);
    Slot slot(frame.width(), frame.height());
    frame.map(QAbstractVideoBuffer::ReadOnly);
    convert(frame, slot.image, VideoPlaneLayout::yuv420p(unsigned(frame.width()), unsigned(frame.height())));
    frame.unmap();
    return slot.image.copy();
}

int distance(const QColor& a, const QColor& b)
{
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

QString describe(const QColor& c) { return QStringLiteral("(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue()); }

QByteArray rawBytes(const QVideoFrame& source)
{
    QVideoFrame frame(source);
    frame.map(QAbstractVideoBuffer::ReadOnly);
    const QByteArray bytes(reinterpret_cast<const char*>(frame.bits()), frame.mappedBytes());
    frame.unmap();
    return bytes;
}

// A frame with the 75% bars on the upper half and the 100% bars on the lower half.
QVideoFrame twoBarFrame(int width, int height)
{
    QVideoFrame frame = VideoPattern::flatFrame(width, height, Yuv{16, 128, 128});
    const VideoPlaneLayout layout = VideoPlaneLayout::yuv420p(unsigned(width), unsigned(height));
    frame.map(QAbstractVideoBuffer::WriteOnly);
    uchar* bits = frame.bits();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Yuv code = VideoPattern::fromRgb(VideoPattern::bars(y < height / 2 ? 75 : 100)[x * 8 / width]);
            bits[y * width + x] = uchar(code.y);
            if (x % 2 == 0 && y % 2 == 0) {
                const unsigned at = unsigned(y / 2) * layout.width[1] + unsigned(x / 2);
                bits[layout.offset[1] + at] = uchar(code.u);
                bits[layout.offset[2] + at] = uchar(code.v);
            }
        }
    frame.unmap();
    return frame;
}

// A buffer that tells when a surface maps it for reading: the conversion follows at once.
class WatchedBuffer : public VideoBuffer {
public:
    WatchedBuffer(unsigned size, unsigned bytesPerLine, QSemaphore* reading)
        : VideoBuffer(size, bytesPerLine), reading(reading)
    {
    }
    using VideoBuffer::map;
    int map(MapMode mode, int* numBytes, int bytesPerLine[4], uchar* data[4]) override
    {
        const int planes = VideoBuffer::map(mode, numBytes, bytesPerLine, data);
        if (planes && mode == ReadOnly)
            reading->release();
        return planes;
    }

private:
    QSemaphore* reading;
};

// A paint device whose engine hands every drawn image to a callback, in the
// middle of the paint.
class HeldEngine : public QPaintEngine {
public:
    HeldEngine() : QPaintEngine(AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawImage(const QRectF&, const QImage& image, const QRectF&, Qt::ImageConversionFlags) override
    {
        if (drawn)
            drawn(image);
    }
    Type type() const override { return User; }

    std::function<void(const QImage&)> drawn;
};

class HeldDevice : public QPaintDevice {
public:
    explicit HeldDevice(const QSize& size) : size(size) {}
    QPaintEngine* paintEngine() const override { return &engine; }
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
            return size.width();
        case PdmHeight:
            return size.height();
        case PdmDepth:
            return 32;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        default:
            return 0;
        }
    }

    mutable HeldEngine engine;
    QSize size;
};

} // namespace

class VideoConvertersTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void bufferMapping();
    void knownColours_data();
    void knownColours();
    void bothFormsGiveTheSameBytes();
    void agreesWithFfmpeg();
    void converterChoice_data();
    void converterChoice();
    void oddSizesStayInsideTheirPlanes();
    void wrongFrameStopsTheSurface();
    void framesFromAnotherThread();
    void stopWaitsForARunningConversion();
    void paintedSlotIsNeverConvertedInto();
};

void VideoConvertersTest::init() { Processor::overrideFlags(Processor::MMX | Processor::SSE | Processor::SSE2); }

void VideoConvertersTest::bufferMapping()
{
    VideoBuffer buffer(640 * 480 + 2 * 320 * 240, 640);
    QCOMPARE(buffer.handleType(), QAbstractVideoBuffer::NoHandle);
    QCOMPARE(buffer.mapMode(), QAbstractVideoBuffer::NotMapped);
    int bytes = 0, line = 0;
    uchar* data = buffer.map(QAbstractVideoBuffer::WriteOnly, &bytes, &line);
    QVERIFY(data);
    QCOMPARE(reinterpret_cast<quintptr>(data) % 16, quintptr(0));
    QCOMPARE(bytes, 640 * 480 + 2 * 320 * 240);
    QCOMPARE(line, 640);
    QCOMPARE(buffer.mapMode(), QAbstractVideoBuffer::WriteOnly);
    // Mapping is not nested.
    QVERIFY(!buffer.map(QAbstractVideoBuffer::ReadOnly, &bytes, &line));
    QCOMPARE(buffer.mapMode(), QAbstractVideoBuffer::WriteOnly);
    buffer.unmap();
    QCOMPARE(buffer.mapMode(), QAbstractVideoBuffer::NotMapped);
    QCOMPARE(buffer.map(QAbstractVideoBuffer::ReadOnly, nullptr, nullptr), data);
    buffer.unmap();

    // Through a frame, as the decoders and the surfaces use it.
    QVideoFrame frame = VideoPattern::flatFrame(33, 17, Yuv{100, 110, 120});
    QVERIFY(frame.map(QAbstractVideoBuffer::ReadOnly));
    QCOMPARE(frame.mappedBytes(), int(VideoPlaneLayout::yuv420p(33, 17).total));
    QCOMPARE(frame.bits()[33 * 17], uchar(110));
    frame.unmap();

    const QVideoSurfaceFormat format = VideoFrameFormat::create(640, 480, 30000, 1001);
    QCOMPARE(format.frameSize(), QSize(640, 480));
    QCOMPARE(format.pixelFormat(), QVideoFrame::Format_YUV420P);
    QCOMPARE(format.handleType(), QAbstractVideoBuffer::NoHandle);
    QCOMPARE(format.scanLineDirection(), QVideoSurfaceFormat::BottomToTop);
    QCOMPARE(format.yCbCrColorSpace(), QVideoSurfaceFormat::YCbCr_BT709);
    QCOMPARE(format.pixelAspectRatio(), QSize(1, 1));
    QCOMPARE(format.viewport(), QRect(0, 0, 640, 480));
    QVERIFY(qFuzzyCompare(format.frameRate(), 30000.0 / 1001.0));
}

void VideoConvertersTest::knownColours_data()
{
    QTest::addColumn<QColor>("colour");
    const char* names[8] = {"white", "yellow", "cyan", "green", "magenta", "red", "blue", "black"};
    for (int percent : {75, 100})
        for (int i = 0; i < 8; ++i)
            QTest::addRow("%s %d%%", names[i], percent) << VideoPattern::bars(percent)[i];
}

// Every bar colour against the exact BT.709 limited-range value of its code.
void VideoConvertersTest::knownColours()
{
    QFETCH(QColor, colour);
    const Yuv code = VideoPattern::fromRgb(colour);
    const QColor reference = VideoPattern::toRgb(code);
    const QVideoFrame frame = VideoPattern::flatFrame(64, 4, code);
    const QImage plain = converted(&VideoSurfaceSoftware::convertFrameYUV420P, frame);
    const QImage sse2 = converted(&VideoSurfaceSoftware::convertFrameYUV420PSSE2, frame);
    for (const QPoint& at : {QPoint(0, 0), QPoint(63, 3), QPoint(17, 2)}) {
        QVERIFY2(distance(plain.pixelColor(at), reference) <= 1,
                 qPrintable(describe(plain.pixelColor(at)) + " vs " + describe(reference)));
        QVERIFY2(distance(sse2.pixelColor(at), reference) <= 1,
                 qPrintable(describe(sse2.pixelColor(at)) + " vs " + describe(reference)));
        QCOMPARE(qAlpha(plain.pixel(at)), 255);
        QCOMPARE(qAlpha(sse2.pixel(at)), 255);
    }
    // The code round trip itself stays within a level of the colour it stands for.
    QVERIFY(distance(reference, colour) <= 2);
}

void VideoConvertersTest::bothFormsGiveTheSameBytes()
{
    // Mid grey: (128 - 16) * 1.164383 = 130.4.
    const QImage grey = converted(&VideoSurfaceSoftware::convertFrameYUV420PSSE2,
                                  VideoPattern::flatFrame(32, 2, Yuv{128, 128, 128}));
    QCOMPARE(grey.pixelColor(5, 1), QColor(130, 130, 130));
    const QImage white = converted(&VideoSurfaceSoftware::convertFrameYUV420P,
                                   VideoPattern::flatFrame(32, 2, Yuv{235, 128, 128}));
    QCOMPARE(white.pixelColor(31, 1), QColor(255, 255, 255));

    // Noise covers every code and the saturation at both ends; the two forms
    // share one arithmetic, so the images are equal byte for byte.
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const QVideoFrame frame = VideoPattern::noiseFrame(640, 480, seed);
        const QImage plain = converted(&VideoSurfaceSoftware::convertFrameYUV420P, frame);
        const QImage sse2 = converted(&VideoSurfaceSoftware::convertFrameYUV420PSSE2, frame);
        QCOMPARE(plain, sse2);
    }
}

// ffmpeg's scale filter on the same bytes, read as BT.709 limited range. (its exact rounding and full chroma
// interpolation; the default fast path is off by up to three levels)
void VideoConvertersTest::agreesWithFfmpeg()
{
    const int width = 640, height = 480;
    const QVideoFrame frame = twoBarFrame(width, height);
    QTemporaryDir dir;
    QFile input(dir.filePath(QStringLiteral("bars.yuv")));
    QVERIFY(input.open(QIODevice::WriteOnly));
    input.write(rawBytes(frame));
    input.close();
    const QString output = dir.filePath(QStringLiteral("bars.bgra"));
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-v", "error", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-s", "640x480", "-i", input.fileName(),
                  "-vf", "scale=in_color_matrix=bt709:in_range=tv:flags=accurate_rnd+full_chroma_int,format=bgra", "-f",
                  "rawvideo", "-y", output});
    QVERIFY(ffmpeg.waitForFinished(60000));
    QCOMPARE(ffmpeg.exitCode(), 0);
    QFile result(output);
    QVERIFY(result.open(QIODevice::ReadOnly));
    const QByteArray bytes = result.readAll();
    QCOMPARE(bytes.size(), width * height * 4);
    const QImage reference(reinterpret_cast<const uchar*>(bytes.constData()), width, height, width * 4,
                           QImage::Format_RGB32);

    const QImage plain = converted(&VideoSurfaceSoftware::convertFrameYUV420P, frame);
    const QImage sse2 = converted(&VideoSurfaceSoftware::convertFrameYUV420PSSE2, frame);
    for (int band = 0; band < 2; ++band)
        for (int bar = 0; bar < 8; ++bar) {
            const QPoint at(bar * width / 8 + width / 16, band * height / 2 + height / 4);
            const QColor expected = reference.pixelColor(at);
            QVERIFY2(distance(plain.pixelColor(at), expected) <= 1,
                     qPrintable(QStringLiteral("bar %1/%2: ").arg(band).arg(bar) + describe(plain.pixelColor(at)) +
                                " vs ffmpeg " + describe(expected)));
            QVERIFY2(distance(sse2.pixelColor(at), expected) <= 1,
                     qPrintable(describe(sse2.pixelColor(at)) + " vs ffmpeg " + describe(expected)));
        }
}

void VideoConvertersTest::converterChoice_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<bool>("sse2");
    const unsigned all = Processor::MMX | Processor::SSE | Processor::SSE2;
    QTest::newRow("640x480") << QSize(640, 480) << all << true;
    QTest::newRow("630x480") << QSize(630, 480) << all << false;
    QTest::newRow("640x481") << QSize(640, 481) << all << false;
    QTest::newRow("640x480 without SSE2") << QSize(640, 480) << unsigned(Processor::MMX | Processor::SSE) << false;
}

void VideoConvertersTest::converterChoice()
{
    QFETCH(QSize, size);
    QFETCH(unsigned, flags);
    QFETCH(bool, sse2);
    Processor::overrideFlags(flags);
    VideoWidgetSoftware widget(nullptr);
    LogCapture log;
    QVERIFY(widget.surface->start(VideoFrameFormat::create(unsigned(size.width()), unsigned(size.height()), 25, 1)));
    const QString line =
        sse2 ? QStringLiteral("INFO VideoSurfaceSoftware: Using SSE2 accelerated YUV420p->RGB conversion.")
             : QStringLiteral("WARNING VideoSurfaceSoftware: Using pure CPU-based YUV420p->RGB conversion.");
    QCOMPARE(log.entries(), QStringList{line});
    QVERIFY(widget.surface->conversion() ==
            (sse2 ? &VideoSurfaceSoftware::convertFrameYUV420PSSE2 : &VideoSurfaceSoftware::convertFrameYUV420P));
    QVERIFY(widget.surface->isActive());
    QVERIFY(widget.surface->present(VideoPattern::noiseFrame(size.width(), size.height(), 7)));
    widget.surface->stop();
    QVERIFY(!widget.surface->isActive());

    // Anything but planar 4:2:0 is refused.
    QVideoSurfaceFormat packed(size, QVideoFrame::Format_YUYV);
    QVERIFY(!widget.surface->isFormatSupported(packed));
    QVERIFY(!widget.surface->start(packed));
    QVERIFY(log.entries().contains(QStringLiteral("WARNING VideoSurfaceSoftware: Unsupported format!")));
    QVERIFY(!widget.surface->isActive());
    QCOMPARE(widget.surface->supportedPixelFormats(QAbstractVideoBuffer::GLTextureHandle),
             QList<QVideoFrame::PixelFormat>{QVideoFrame::Format_YUV420P});
}

// Odd sizes: the last column and row have chroma samples of their own and
// nothing is read or written outside the planes (the sanitizer run checks).
void VideoConvertersTest::oddSizesStayInsideTheirPlanes()
{
    VideoWidgetSoftware widget(nullptr);
    widget.resize(5, 3);
    QVERIFY(widget.surface->start(VideoFrameFormat::create(5, 3, 25, 1)));
    QVideoFrame frame = VideoPattern::noiseFrame(5, 3, 11);
    QVERIFY(widget.surface->present(frame));
    QCOMPARE(widget.surface->videoRectangle(), QRect(0, 0, 5, 3));
    const QImage shown = widget.grab().toImage();
    frame.map(QAbstractVideoBuffer::ReadOnly);
    const uchar* bits = frame.bits();
    const VideoPlaneLayout layout = VideoPlaneLayout::yuv420p(5, 3);
    const Yuv corner{bits[2 * 5 + 4], bits[layout.offset[1] + 3 + 2], bits[layout.offset[2] + 3 + 2]};
    frame.unmap();
    QVERIFY2(distance(shown.pixelColor(4, 2), VideoPattern::toRgb(corner)) <= 1,
             qPrintable(describe(shown.pixelColor(4, 2)) + " vs " + describe(VideoPattern::toRgb(corner))));

    // A single column has a column of chroma: drawn in its colour.
    widget.surface->stop();
    widget.resize(1, 3);
    QVERIFY(widget.surface->start(VideoFrameFormat::create(1, 3, 25, 1)));
    const Yuv purple{128, 200, 200};
    QVERIFY(widget.surface->present(VideoPattern::flatFrame(1, 3, purple)));
    const QImage column = widget.grab().toImage();
    QVERIFY2(distance(column.pixelColor(0, 2), VideoPattern::toRgb(purple)) <= 1,
             qPrintable(describe(column.pixelColor(0, 2))));
}

void VideoConvertersTest::wrongFrameStopsTheSurface()
{
    VideoWidgetSoftware widget(nullptr);
    QVERIFY(!widget.surface->present(VideoPattern::barFrame(64, 64)));
    QVERIFY(widget.surface->start(VideoFrameFormat::create(64, 64, 25, 1)));
    QVERIFY(widget.surface->present(VideoPattern::barFrame(64, 64)));

    // The video thread only reports: the stop reaches the GUI thread queued.
    QVERIFY(!widget.surface->present(VideoPattern::barFrame(32, 64)));
    QCOMPARE(widget.surface->error(), QAbstractVideoSurface::IncorrectFormatError);
    QVERIFY(!widget.surface->present(VideoPattern::barFrame(64, 64)));
    QTRY_VERIFY(!widget.surface->isActive());
    QVERIFY(!widget.surface->present(VideoPattern::barFrame(64, 64)));

    // A stop queued by one play never ends the next one.
    QVERIFY(widget.surface->start(VideoFrameFormat::create(64, 64, 25, 1)));
    QVERIFY(!widget.surface->present(VideoPattern::barFrame(64, 32)));
    widget.surface->stop();
    QVERIFY(widget.surface->start(VideoFrameFormat::create(64, 64, 25, 1)));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QVERIFY(widget.surface->isActive());
    QVERIFY(widget.surface->present(VideoPattern::barFrame(64, 64)));

    // From the video output thread: the answer comes at once, the stop itself
    // runs on the GUI thread, where the slots and the widget live.
    QThread* stoppedOn = nullptr;
    const QMetaObject::Connection watch = connect(
        widget.surface, &QAbstractVideoSurface::activeChanged, widget.surface,
        [&](bool active) {
            if (!active)
                stoppedOn = QThread::currentThread();
        },
        Qt::DirectConnection);
    bool answer = true;
    std::unique_ptr<QThread> thread(
        QThread::create([&] { answer = widget.surface->present(VideoPattern::barFrame(64, 48)); }));
    thread->start();
    QVERIFY(thread->wait(10000));
    QVERIFY(!answer);
    QCOMPARE(widget.surface->error(), QAbstractVideoSurface::IncorrectFormatError);
    QTRY_VERIFY(!widget.surface->isActive());
    QCOMPARE(stoppedOn, QThread::currentThread());
    disconnect(watch);
    QVERIFY(widget.surface->start(VideoFrameFormat::create(64, 64, 25, 1)));

    // A frame whose buffer is shorter than its declared size is not read.
    QVideoFrame shortFrame(new VideoBuffer(64 * 64, 64), QSize(64, 64), QVideoFrame::Format_YUV420P);
    QVERIFY(!widget.surface->present(shortFrame));
    QVERIFY(widget.surface->isActive());
}

// The video output thread converts while the GUI thread paints and stops.
void VideoConvertersTest::framesFromAnotherThread()
{
    VideoWidgetSoftware widget(nullptr);
    widget.resize(320, 240);
    QVERIFY(widget.surface->start(VideoFrameFormat::create(320, 240, 25, 1)));
    QVector<QVideoFrame> frames;
    for (unsigned i = 0; i < 4; ++i)
        frames << VideoPattern::noiseFrame(320, 240, i);
    QAtomicInt presented(0);
    QAtomicInt quit(0);
    std::unique_ptr<QThread> thread(QThread::create([&] {
        for (int i = 0; !quit.loadAcquire(); ++i)
            if (widget.surface->present(frames[i % 4]))
                presented.fetchAndAddRelaxed(1);
    }));
    thread->start();
    QTRY_VERIFY(presented.loadRelaxed() > 0);
    for (int paint = 0; paint < 30; ++paint)
        QVERIFY(!widget.grab().isNull());
    // Stopping frees the slots while the thread may be converting into one.
    widget.surface->stop();
    const int atStop = presented.loadRelaxed();
    for (int paint = 0; paint < 5; ++paint)
        QCOMPARE(widget.grab().toImage().pixelColor(160, 120), QColor(Qt::black));
    quit.storeRelease(1);
    QVERIFY(thread->wait(10000));
    QVERIFY(presented.loadRelaxed() <= atStop + 1);
    QVERIFY(!widget.surface->present(frames[0]));
}

// stop() on the GUI thread while the video output thread converts into a
// slot: the slot is freed only after the conversion. (Slots this large are
// returned to the system at once, so a write after the free would crash.)
void VideoConvertersTest::stopWaitsForARunningConversion()
{
    Processor::overrideFlags(Processor::MMX | Processor::SSE);
    const int width = 4096, height = 2304;
    VideoWidgetSoftware widget(nullptr);
    widget.resize(width / 16, height / 16);
    for (int round = 0; round < 3; ++round) {
        QVERIFY(widget.surface->start(VideoFrameFormat::create(width, height, 25, 1)));
        QSemaphore reading;
        const VideoPlaneLayout layout = VideoPlaneLayout::yuv420p(width, height);
        QVideoFrame frame(new WatchedBuffer(layout.total, width, &reading), QSize(width, height),
                          QVideoFrame::Format_YUV420P);
        QVERIFY(frame.map(QAbstractVideoBuffer::WriteOnly));
        std::memset(frame.bits(), 128, layout.total);
        frame.unmap();
        QAtomicInt answer(-1);
        std::unique_ptr<QThread> thread(
            QThread::create([&] { answer.storeRelease(widget.surface->present(frame) ? 1 : 0); }));
        thread->start();
        QVERIFY(reading.tryAcquire(1, 10000));
        widget.surface->stop();
        QVERIFY(thread->wait(60000));
        QVERIFY(answer.loadAcquire() >= 0);
        QVERIFY(!widget.surface->isActive());
        QCOMPARE(widget.grab().toImage().pixelColor(10, 10), QColor(Qt::black));
    }
}

// While the GUI thread paints a slot, the video output thread may fill the
// other one but never the one on screen.
void VideoConvertersTest::paintedSlotIsNeverConvertedInto()
{
    VideoWidgetSoftware widget(nullptr);
    widget.resize(320, 240);
    QVERIFY(widget.surface->start(VideoFrameFormat::create(320, 240, 25, 1)));
    QVERIFY(widget.surface->present(VideoPattern::noiseFrame(320, 240, 1)));
    const QVideoFrame later[2] = {VideoPattern::noiseFrame(320, 240, 2), VideoPattern::noiseFrame(320, 240, 3)};

    HeldDevice device(QSize(320, 240));
    std::unique_ptr<QThread> thread;
    int drawn = 0;
    bool unchanged = false;
    device.engine.drawn = [&](const QImage& image) {
        ++drawn;
        const auto bytes = [&] {
            return QByteArray(reinterpret_cast<const char*>(image.constBits()), int(image.sizeInBytes()));
        };
        const QByteArray before = bytes();
        thread.reset(QThread::create([&] {
            for (const QVideoFrame& frame : later)
                widget.surface->present(frame);
        }));
        thread->start();
        // Time for both frames to go through if nothing held them off.
        thread->wait(300);
        unchanged = bytes() == before;
    };
    {
        QPainter painter(&device);
        widget.surface->paint(&painter);
    }
    QCOMPARE(drawn, 1);
    QVERIFY(thread->wait(10000));
    QVERIFY2(unchanged, "the picture being painted was overwritten");
    // Afterwards the last frame is the one painted.
    QVideoFrame last(later[1]);
    last.map(QAbstractVideoBuffer::ReadOnly);
    const Yuv corner{last.bits()[0], last.bits()[320 * 240], last.bits()[320 * 240 + 160 * 120]};
    last.unmap();
    QVERIFY(distance(widget.grab().toImage().pixelColor(0, 0), VideoPattern::toRgb(corner)) <= 1);
}

QTEST_MAIN(VideoConvertersTest)
#include "tst_video_converters.moc"
