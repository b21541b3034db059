#pragma once

#include "Core/Base/Log.h"
#include "Core/Output/VideoBackEndSurface.h"

#include <QVideoSurfaceFormat>

namespace Harbend {

class VideoWidgetOpenGL;

// Hands every frame to the OpenGL widget, which uploads and draws it on the GUI thread.
class VideoSurfaceOpenGL : public VideoBackEndSurface {
    Q_OBJECT
public:
    explicit VideoSurfaceOpenGL(VideoWidgetOpenGL* widget);

    bool start(const QVideoSurfaceFormat& format) override;
    void stop() override;
    bool present(const QVideoFrame& frame) override;

private:
    // Fixed at construction, or set by start() on the GUI thread before frames
    // are let in.
    VideoWidgetOpenGL* widget;
    QVideoFrame::PixelFormat pixelFormat;
    // Video output thread (present()), after construction.
    int brightness;
    int contrast;
    int hue;
    int saturation;
    bool colorsChanged;

    static Logging::Log ms_log;
};

} // namespace Harbend
