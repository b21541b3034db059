#include "Core/Output/VideoWidgetSoftware.h"

#include "Core/Output/VideoSurfaceSoftware.h"

#include <QPaintEvent>
#include <QPainter>

namespace Harbend {

VideoWidgetSoftware::VideoWidgetSoftware(QWidget* parent) : QWidget(parent), surface(new VideoSurfaceSoftware(this))
{
    setAutoFillBackground(false);
    // Every pixel is painted here. Qt 5 gives an X11 widget that paints on
    // screen no paint engine for QPainter, so the picture goes through the
    // backing store instead.
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette black(palette());
    black.setBrush(QPalette::Window, QBrush(Qt::black));
    setPalette(black);
    setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    connect(surface, &VideoSurfaceSoftware::repaintRequest, this, &VideoWidgetSoftware::repaintRequest);
}

VideoWidgetSoftware::~VideoWidgetSoftware()
{
    disconnect(surface, nullptr, this, nullptr);
    delete surface;
    surface = nullptr;
}

void VideoWidgetSoftware::repaintRequest(QRect target) { repaint(target); }

void VideoWidgetSoftware::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QBrush background = palette().brush(QPalette::Window);
    if (!surface->isActive()) {
        painter.fillRect(event->rect(), background);
        return;
    }
    const QRect picture = surface->videoRectangle();
    if (!picture.contains(event->rect())) {
        const QRegion margins = event->region().subtracted(picture);
        for (const QRect& rect : margins)
            painter.fillRect(rect, background);
    }
    surface->paint(&painter);
}

void VideoWidgetSoftware::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    surface->updateVideoRect();
}

} // namespace Harbend
