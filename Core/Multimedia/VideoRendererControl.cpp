#include "Core/Multimedia/VideoRendererControl.h"

namespace Harbend {

VideoRendererControl::VideoRendererControl(QObject* parent) : QVideoRendererControl(parent) {}

QAbstractVideoSurface* VideoRendererControl::surface() const { return videoSurface; }

void VideoRendererControl::setSurface(QAbstractVideoSurface* surface) { videoSurface = surface; }

} // namespace Harbend
