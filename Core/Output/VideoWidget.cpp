#include "Core/Output/VideoWidget.h"

#include "Core/Output/VideoSurface.h"

namespace Harbend {

VideoWidget::VideoWidget(QWidget* parent)
    : QWidget(parent, Qt::WindowFlags()), gridLayout(this), widget(nullptr), surface(nullptr)
{
    surface = new VideoSurface(this);
    setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    QPalette black(palette());
    black.setBrush(QPalette::Window, QBrush(Qt::black));
    setPalette(black);
    gridLayout.setContentsMargins(0, 0, 0, 0);
    gridLayout.setSpacing(0);
}

VideoWidget::~VideoWidget()
{
    delete surface;
    surface = nullptr;
}

void VideoWidget::emitError(const QString& message) { emit error(message); }

void VideoWidget::setWidget(QWidget* w)
{
    if (widget) {
        gridLayout.removeWidget(widget);
        delete widget;
        widget = nullptr;
    }
    widget = w;
    if (widget)
        gridLayout.addWidget(widget, 0, 0);
}

} // namespace Harbend
