#include "Core/Output/VideoBackEndSurface.h"

#include <QMetaObject>
#include <QVideoSurfaceFormat>

namespace Harbend {

VideoBackEndSurface::VideoBackEndSurface(QObject* parent)
    : QAbstractVideoSurface(parent), formats{QVideoFrame::Format_YUV420P}, accepting(0), generation(0)
{
}

QList<QVideoFrame::PixelFormat> VideoBackEndSurface::supportedPixelFormats(QAbstractVideoBuffer::HandleType) const
{
    return formats;
}

bool VideoBackEndSurface::isFormatSupported(const QVideoSurfaceFormat& format) const
{
    return format.pixelFormat() == QVideoFrame::Format_YUV420P;
}

bool VideoBackEndSurface::activate(const QVideoSurfaceFormat& format)
{
    if (!QAbstractVideoSurface::start(format))
        return false;
    generation.fetchAndAddOrdered(1);
    accepting.storeRelease(1);
    return true;
}

void VideoBackEndSurface::refuseFrames() { accepting.storeRelease(0); }

bool VideoBackEndSurface::checkFrame(const QVideoFrame& frame)
{
    if (!accepting.loadAcquire()) {
        if (!isActive())
            setError(StoppedError);
        return false;
    }
    const QVideoSurfaceFormat started = surfaceFormat();
    if (frame.pixelFormat() == started.pixelFormat() && frame.size() == started.frameSize())
        return true;
    refuseFrames();
    setError(IncorrectFormatError);
    const int startedGeneration = generation.loadAcquire();
    QMetaObject::invokeMethod(
        this,
        [this, startedGeneration] {
            if (generation.loadAcquire() == startedGeneration)
                stop();
        },
        Qt::QueuedConnection);
    return false;
}

} // namespace Harbend
