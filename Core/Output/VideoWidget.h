#pragma once

#include <QGridLayout>
#include <QWidget>

namespace Harbend {

class VideoSurface;

// The engine's video output as the window sees it: a black area that holds
// the chosen back end's widget, and the surface that the media player feeds.
class VideoWidget : public QWidget {
    Q_OBJECT
public:
    explicit VideoWidget(QWidget* parent);
    ~VideoWidget() override;

    // For the façade, which may not emit this widget's signal itself.
    void emitError(const QString& error);
    // Replaces the back end's widget (the previous one is deleted).
    void setWidget(QWidget* w);
    QWidget* backEndWidget() const { return widget; }

signals:
    void error(QString error);

private:
    QGridLayout gridLayout;
    QWidget* widget;

public:
    VideoSurface* surface;
};

} // namespace Harbend
