#pragma once

#include <QWidget>

namespace Harbend {

class VideoSurfaceDirect3D9;

// A native child window that Qt does not paint: Direct3D 9 presents into it.
class VideoWidgetDirect3D9 : public QWidget {
    Q_OBJECT
public:
    explicit VideoWidgetDirect3D9(QWidget* parent);
    ~VideoWidgetDirect3D9() override;

    QPaintEngine* paintEngine() const override;

    VideoSurfaceDirect3D9* surface;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void repaintRequest();
};

} // namespace Harbend
