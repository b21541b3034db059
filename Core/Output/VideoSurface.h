#pragma once

#include "Core/Base/Log.h"
#include "Core/Output/VideoSurfaceType.h"

#include <QAbstractVideoSurface>

namespace Harbend {

class VideoWidget;

// The video widget's surface: chooses a back end at its first start (Direct3D 9,
// else OpenGL, else software), places the back end's widget in the video widget and
// forwards every call to the back end's surface.
class VideoSurface : public QAbstractVideoSurface {
    Q_OBJECT
public:
    explicit VideoSurface(VideoWidget* widget);

    QList<QVideoFrame::PixelFormat> supportedPixelFormats(QAbstractVideoBuffer::HandleType handleType) const override;
    bool isFormatSupported(const QVideoSurfaceFormat& format) const override;
    bool start(const QVideoSurfaceFormat& format) override;
    void stop() override;
    bool present(const QVideoFrame& frame) override;

    VideoSurfaceType::Enum surfaceType() const { return type; }
    // The chosen back end's surface, whose state is the one that counts.
    QAbstractVideoSurface* backEnd() const { return surface; }

private:
    // False after the FATAL line and the message when the widget cannot be built.
    template <class BackEnd>
    bool create(VideoSurfaceType::Enum kind, const char* failure);

    // Set by the first start() on the GUI thread, before frames are let in;
    // present() forwards on the video output thread.
    VideoWidget* widget;
    QAbstractVideoSurface* surface;
    VideoSurfaceType::Enum type;

    static Logging::Log ms_log;
};

} // namespace Harbend
