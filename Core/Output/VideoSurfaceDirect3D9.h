#pragma once

#include "Core/Base/Log.h"
#include "Core/Output/VideoBackEndSurface.h"
#include "Core/Output/VideoPlaneLayout.h"
#include "Platform/Direct3D9.h"

#include <QMutex>
#include <QVideoFrame>
#include <QVideoSurfaceFormat>

namespace Harbend {

class VideoWidgetDirect3D9;

// Keeps each frame by reference; on the GUI thread uploads its planes into
// three L8 textures and draws one quad whose pixel shader turns them into RGB.
class VideoSurfaceDirect3D9 : public VideoBackEndSurface {
    Q_OBJECT
public:
    explicit VideoSurfaceDirect3D9(VideoWidgetDirect3D9* widget);
    ~VideoSurfaceDirect3D9() override;

    bool start(const QVideoSurfaceFormat& format) override;
    void stop() override;
    bool present(const QVideoFrame& frame) override;

    // GUI thread. Each failure logs why, returns false and leaves what it
    // made for shutdownD3D().
    bool initializeD3D();
    void shutdownD3D();
    // False without a device, while it is lost and when it has to be reset.
    bool checkDevice();
    // Builds everything again for the widget's new size.
    bool resize();
    // Draws the frame presented last (nothing while stopped).
    void render();

    // The pixel shader's c0 to c3: BT.709, limited range, for samples in 0..1.
    static const float ms_colorMatrix[16];

signals:
    void repaintRequest();

private:
    // shutdownD3D() and initializeD3D(); on failure nothing is left behind.
    bool rebuild();
    // Copies the mapped frame's planes into the textures; false when a lock fails.
    bool upload(const QVideoFrame& frame);
    void draw();
    // Opaque black on the window before the device goes, so that a stopped
    // surface leaves no picture behind.
    void blank();

    VideoWidgetDirect3D9* widget;
    QVideoFrame frames[2]; // guarded by slotLock
    int current;           // guarded by slotLock
    bool deviceLost;
    IDirect3D9* d3d;
    IDirect3DDevice9* device;
    IDirect3DTexture9* textures[3];
    IDirect3DVertexBuffer9* vertexBuffer;
    IDirect3DVertexDeclaration9* vertexDeclaration;
    IDirect3DVertexShader9* vertexShader;
    IDirect3DPixelShader9* pixelShader;
    DWORD behaviorFlags;
    QVideoFrame::PixelFormat pixelFormat;
    VideoPlaneLayout planes;

    // Hands the slots between the video output thread and the GUI thread;
    // a frame being uploaded is held by its own reference, never replaced under it.
    QMutex slotLock;

    static Logging::Log ms_log;
};

} // namespace Harbend
