#pragma once

#include <QVideoRendererControl>

namespace Harbend {

// Holds the surface that the playback draws on; it does not start or stop it.
class VideoRendererControl : public QVideoRendererControl {
    Q_OBJECT
public:
    explicit VideoRendererControl(QObject* parent);

    QAbstractVideoSurface* surface() const override;
    void setSurface(QAbstractVideoSurface* surface) override;

private:
    QAbstractVideoSurface* videoSurface = nullptr;
};

} // namespace Harbend
