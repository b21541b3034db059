#include "Core/Output/VideoSurface.h"

#include "Core/Output/VideoSurfaceDirect3D9.h"
#include "Core/Output/VideoSurfaceOpenGL.h"
#include "Core/Output/VideoSurfaceSoftware.h"
#include "Core/Output/VideoWidget.h"
#include "Core/Output/VideoWidgetDirect3D9.h"
#include "Core/Output/VideoWidgetOpenGL.h"
#include "Core/Output/VideoWidgetSoftware.h"

#include <QCoreApplication>

#include <new>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Output/VideoSurface";
const char kContext[] = "VideoSurface";

QString translated(const char* text) { return QCoreApplication::translate(kContext, text); }
} // namespace

Logging::Log VideoSurface::ms_log("VideoSurface", Logging::Log::systemLogger());

VideoSurface::VideoSurface(VideoWidget* widget)
    : QAbstractVideoSurface(widget), widget(widget), surface(nullptr), type(VideoSurfaceType::None)
{
}

QList<QVideoFrame::PixelFormat> VideoSurface::supportedPixelFormats(QAbstractVideoBuffer::HandleType handleType) const
{
    return surface ? surface->supportedPixelFormats(handleType) : QList<QVideoFrame::PixelFormat>();
}

bool VideoSurface::isFormatSupported(const QVideoSurfaceFormat& format) const
{
    return surface && surface->isFormatSupported(format);
}

template <class BackEnd>
bool VideoSurface::create(VideoSurfaceType::Enum kind, const char* failure)
{
    BackEnd* backEnd = nullptr;
    try {
        backEnd = new BackEnd(widget);
    } catch (const std::bad_alloc&) {
        backEnd = nullptr;
    }
    if (!backEnd) {
        HARBEND_LOG(Fatal, "%s", failure);
        widget->emitError(translated(failure));
        return false;
    }
    type = kind;
    surface = backEnd->surface;
    widget->setWidget(backEnd);
    return true;
}

bool VideoSurface::start(const QVideoSurfaceFormat& format)
{
    // No back end draws other pictures: the user is told, and the recording plays without them.
    if (format.pixelFormat() != QVideoFrame::Format_YUV420P) {
        HARBEND_LOG(Error, "Unsupported picture format %d!", int(format.pixelFormat()));
        widget->emitError(translated(QT_TRANSLATE_NOOP(
            "VideoSurface", "The picture format of this recording is not supported. It plays without video.")));
        return false;
    }
    if (type == VideoSurfaceType::None) {
        if (!create<VideoWidgetDirect3D9>(
                VideoSurfaceType::Direct3D,
                QT_TRANSLATE_NOOP("VideoSurface", "Failed to create Direct3D video output! Out of memory?")))
            return false;
        if (surface->start(format)) {
            HARBEND_LOG(Info, "Successfully initialized %s video surface.", VideoSurfaceType::name(type));
            return true;
        }
        HARBEND_LOG(Warning, "Failed to initialize Direct3D video output! Trying with OpenGL...");
        type = VideoSurfaceType::None;
        if (!create<VideoWidgetOpenGL>(
                VideoSurfaceType::OpenGL,
                QT_TRANSLATE_NOOP("VideoSurface", "Failed to create OpenGL video output! Out of memory?")))
            return false;
    }
    if (surface->start(format)) {
        HARBEND_LOG(Info, "Successfully initialized %s video surface.", VideoSurfaceType::name(type));
        return true;
    }
    if (type != VideoSurfaceType::Software) {
        HARBEND_LOG(Warning, "Failed to initialize accelerated video output! Trying the software fallback...");
        type = VideoSurfaceType::None;
        surface = nullptr;
        if (!create<VideoWidgetSoftware>(
                VideoSurfaceType::Software,
                QT_TRANSLATE_NOOP("VideoSurface", "Failed to create software video output! Out of memory?")))
            return false;
    }
    if (surface->start(format)) {
        HARBEND_LOG(Info, "Successfully initialized software video surface.");
        widget->emitError(translated(
            QT_TRANSLATE_NOOP("VideoSurface", "The newest graphics drivers are not installed in this system. Video "
                                              "playback would be done in software.")));
        return true;
    }
    widget->emitError(
        translated(QT_TRANSLATE_NOOP("VideoSurface", "Failed to initialize video output! Won't have video support!")));
    return false;
}

void VideoSurface::stop()
{
    if (surface)
        surface->stop();
}

bool VideoSurface::present(const QVideoFrame& frame) { return surface && surface->present(frame); }

} // namespace Harbend
