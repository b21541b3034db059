#include "Core/Output/VideoSurfaceOpenGL.h"

#include "Core/Output/VideoWidgetOpenGL.h"

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Output/VideoSurfaceOpenGL";
}

Logging::Log VideoSurfaceOpenGL::ms_log("VideoSurfaceOpenGL", Logging::Log::systemLogger());

VideoSurfaceOpenGL::VideoSurfaceOpenGL(VideoWidgetOpenGL* widget)
    : VideoBackEndSurface(widget),
      widget(widget),
      pixelFormat(QVideoFrame::Format_Invalid),
      brightness(0),
      contrast(0),
      hue(0),
      saturation(0),
      colorsChanged(true)
{
}

bool VideoSurfaceOpenGL::start(const QVideoSurfaceFormat& format)
{
    if (isActive())
        stop();
    if (format.pixelFormat() != QVideoFrame::Format_YUV420P || format.frameSize().isEmpty()) {
        HARBEND_LOG(Warning, "Unsupported format!");
        return false;
    }
    pixelFormat = QVideoFrame::Format_YUV420P;
    const int result = widget->open(pixelFormat, unsigned(format.frameWidth()), unsigned(format.frameHeight()));
    if (result != NoError) {
        HARBEND_LOG(Error, "Failed to initialize video presenter!");
        setError(Error(result));
        return false;
    }
    const bool started = activate(format);
    return started;
}

void VideoSurfaceOpenGL::stop()
{
    if (!isActive())
        return;
    refuseFrames();
    widget->close();
    QAbstractVideoSurface::stop();
}

bool VideoSurfaceOpenGL::present(const QVideoFrame& frame)
{
    if (!checkFrame(frame))
        return false;
    if (colorsChanged) {
        widget->setColors(brightness, contrast, hue, saturation);
        colorsChanged = false;
    }
    widget->setFrame(frame);
    return true;
}

} // namespace Harbend
