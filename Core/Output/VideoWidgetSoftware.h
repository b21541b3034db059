#pragma once

#include <QRect>
#include <QWidget>

namespace Harbend {

class VideoSurfaceSoftware;

// Paints the software surface's RGB picture, centred with its proportions, on black.
class VideoWidgetSoftware : public QWidget {
    Q_OBJECT
public:
    explicit VideoWidgetSoftware(QWidget* parent);
    ~VideoWidgetSoftware() override;

    VideoSurfaceSoftware* surface;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void repaintRequest(QRect target);
};

} // namespace Harbend
