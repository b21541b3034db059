#include "Core/Output/VideoWidgetDirect3D9.h"

#include "Core/Output/VideoSurfaceDirect3D9.h"

namespace Harbend {

VideoWidgetDirect3D9::VideoWidgetDirect3D9(QWidget* parent) : QWidget(parent), surface(new VideoSurfaceDirect3D9(this))
{
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_NativeWindow);
    connect(surface, &VideoSurfaceDirect3D9::repaintRequest, this, &VideoWidgetDirect3D9::repaintRequest);
}

VideoWidgetDirect3D9::~VideoWidgetDirect3D9()
{
    disconnect(surface, nullptr, this, nullptr);
    delete surface;
    surface = nullptr;
}

QPaintEngine* VideoWidgetDirect3D9::paintEngine() const { return nullptr; }

void VideoWidgetDirect3D9::paintEvent(QPaintEvent*) { surface->render(); }

void VideoWidgetDirect3D9::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (surface->isActive())
        surface->resize();
}

void VideoWidgetDirect3D9::repaintRequest() { surface->render(); }

} // namespace Harbend
