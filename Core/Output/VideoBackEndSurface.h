#pragma once

#include <QAbstractVideoSurface>
#include <QAtomicInt>

namespace Harbend {

// What the software and OpenGL surfaces share: the one accepted pixel format,
// and the frame check that present() makes on the video output thread.
class VideoBackEndSurface : public QAbstractVideoSurface {
    Q_OBJECT
public:
    explicit VideoBackEndSurface(QObject* parent);

    QList<QVideoFrame::PixelFormat> supportedPixelFormats(QAbstractVideoBuffer::HandleType handleType) const override;
    bool isFormatSupported(const QVideoSurfaceFormat& format) const override;

protected:
    // GUI thread: makes the surface active and lets frames in (end of start()).
    bool activate(const QVideoSurfaceFormat& format);
    // GUI thread: refuses frames from now on (beginning of stop()).
    void refuseFrames();

    // Video output thread: true when the frame may be drawn. A frame of
    // another format or size sets IncorrectFormatError, refuses every later
    // frame and queues the stop to the GUI thread, where the drawing state
    // lives; a stopped surface answers StoppedError.
    bool checkFrame(const QVideoFrame& frame);

private:
    // Fixed at construction.
    QList<QVideoFrame::PixelFormat> formats;
    // Atomic: the GUI thread opens and closes the door, the video output thread checks it.
    QAtomicInt accepting;
    // Counts starts, so that a queued stop never ends a later start.
    QAtomicInt generation;
};

} // namespace Harbend
