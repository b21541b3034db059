#pragma once

#include "Core/Base/Log.h"

#include <QGLShaderProgram>
#include <QGLWidget>
#include <QMatrix4x4>
#include <QMutex>
#include <QVideoFrame>

#include <cstdint>

namespace Harbend {

class VideoSurfaceOpenGL;

// Drops every message: keeps Qt's own warnings out while shaders are linked.
void empty(QtMsgType type, const QMessageLogContext& context, const QString& message);

// Draws YUV 4:2:0 frames as three luminance textures through a shader that
// applies the colour matrix, centred with the picture's proportions.
class VideoWidgetOpenGL : public QGLWidget {
    Q_OBJECT
public:
    explicit VideoWidgetOpenGL(QWidget* parent);
    ~VideoWidgetOpenGL() override;

    // GUI thread. A QAbstractVideoSurface::Error value, 0 when ready to draw.
    int open(QVideoFrame::PixelFormat format, unsigned width, unsigned height);
    // GUI thread: releases what open() built; the widget paints black from then on.
    // (Hides QWidget::close() on purpose: the surface reaches it through this class.)
    void close();

    // Video output thread: stores the frame in the other slot and asks for a repaint.
    void setFrame(const QVideoFrame& frame);
    // Video output thread: the adjustment that the next paint applies.
    void setColors(int brightness, int contrast, int hue, int saturation);

    // GUI thread: the colour matrix from the adjustment values (all 0: plain BT.709).
    void updateColors(int brightness, int contrast, int hue, int saturation);
    QMatrix4x4 colorMatrixInUse() const { return colorMatrix; }

    VideoSurfaceOpenGL* surface;

signals:
    void updateRequest();

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private slots:
    void updateRequested();

private:
    void setYUV420P(unsigned width, unsigned height);

    // slotLock.
    QVideoFrame frames[2];
    int current;
    // GUI thread, as is everything below down to the lock.
    QMatrix4x4 colorMatrix;
    QGLShaderProgram program;
    unsigned textureInternalFormat;
    unsigned textureFormat;
    unsigned textureType;
    unsigned textureIds[3];
    unsigned textureWidths[3];
    unsigned textureHeights[3];
    std::uint64_t textureOffsets[3];
    int textureCount;
    bool opened;
    bool yuv;
    const char* fragmentProgram;

    // Guards the slots and the pending colours between the two threads; a
    // frame being drawn is held by its own reference, never replaced under it.
    QMutex slotLock;
    bool colorsPending;
    int pendingColors[4];

    static Logging::Log ms_log;
};

} // namespace Harbend
