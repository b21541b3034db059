#pragma once

#include "Core/Base/Log.h"
#include "Core/Output/VideoBackEndSurface.h"
#include "Core/Output/VideoPlaneLayout.h"

#include <QImage>
#include <QMutex>
#include <QRect>
#include <QVideoSurfaceFormat>
#include <QWaitCondition>

#include <emmintrin.h>

class QPainter;

namespace Harbend {

class VideoWidgetSoftware;

// Converts every frame to a 32-bit RGB image on the video output thread; the
// widget paints the image on the GUI thread.
class VideoSurfaceSoftware : public VideoBackEndSurface {
    Q_OBJECT
public:
    typedef VideoPlaneLayout YUVFormat;
    typedef void (*ConvertFunction)(QVideoFrame& frame, QImage& image, const YUVFormat& format);

    explicit VideoSurfaceSoftware(VideoWidgetSoftware* widget);
    ~VideoSurfaceSoftware() override;

    bool start(const QVideoSurfaceFormat& format) override;
    void stop() override;
    bool present(const QVideoFrame& frame) override;

    // GUI thread: draws the slot presented last.
    void paint(QPainter* painter);
    // GUI thread: fits the picture into the widget, keeping its proportions.
    void updateVideoRect();
    QRect videoRectangle() const { return videoRect; }

    // Both use one BT.709 limited-range integer arithmetic and give the same
    // bytes; the SSE2 one needs a width that is a multiple of 32 and an even height.
    static void convertFrameYUV420P(QVideoFrame& frame, QImage& image, const YUVFormat& format);
    static void convertFrameYUV420PSSE2(QVideoFrame& frame, QImage& image, const YUVFormat& format);

    // The routine that the last start chose.
    ConvertFunction conversion() const { return convert; }

signals:
    void repaintRequest(QRect target);

private:
    void releaseSlots();

    // Set by start() on the GUI thread before frames are let in.
    ConvertFunction convert;
    VideoWidgetSoftware* widget;
    QRect viewport;
    // GUI thread.
    QRect videoRect;
    // slotLock.
    QImage images[2];
    uchar* buffers[2];
    int current;
    // Set by start() on the GUI thread before frames are let in.
    QVideoFrame::PixelFormat pixelFormat;
    YUVFormat yuvFormat;

    // Guards the slots: the painter holds it while it draws the current slot,
    // the converter while it picks and switches slots, stop() while it frees them.
    QMutex slotLock;
    QWaitCondition converted;
    bool converting;

    static Logging::Log ms_log;
};

// The arithmetic for 8 pixels: in[0] 8 luma values, in[1] 4 (U, V) pairs, as
// 16-bit integers; out[0..2] the 8 red, green and blue values (0 to 255).
void convert(__m128i* in, __m128i* out);

} // namespace Harbend
