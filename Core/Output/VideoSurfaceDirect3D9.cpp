#include "Core/Output/VideoSurfaceDirect3D9.h"

#include "Core/Base/GuiThread.h"
#include "Core/Output/SharedLibrary.h"
#include "Core/Output/VideoShadersDirect3D9.h"
#include "Core/Output/VideoWidgetDirect3D9.h"

#include <QMutexLocker>

#include <cstring>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Output/VideoSurfaceDirect3D9";

// The Direct3D 9 library, looked up when this library loads so that the
// program also runs where there is none. Logs nothing: the log is not open yet.
struct Direct3D9Loader {
    SharedLibrary library{"libd3d9.so"};
    const Direct3DCreate9Function create = reinterpret_cast<Direct3DCreate9Function>(library.symbol("Direct3DCreate9"));
};

Direct3D9Loader g_d3d9Loader;

const UINT kVertexStride = 5 * sizeof(float);
const UINT kVertexBufferSize = 4 * kVertexStride;
const DWORD kVertexFormat = D3DFVF_XYZ | D3DFVF_TEX1;

template <class T>
void release(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

} // namespace

Logging::Log VideoSurfaceDirect3D9::ms_log("VideoSurfaceDirect3D9", Logging::Log::systemLogger());

// One register per row: the weights of Y, U and V for R, G, B, then the offsets and alpha.
const float VideoSurfaceDirect3D9::ms_colorMatrix[16] = {
    1.1643835f, 1.1643835f,  1.1643835f, 0.0f, 0.0f,        -0.2132486f, 2.1124017f,  0.0f,
    1.7927411f, -0.5329093f, 0.0f,       0.0f, -0.9729451f, 0.3014827f,  -1.1334022f, 1.0f,
};

VideoSurfaceDirect3D9::VideoSurfaceDirect3D9(VideoWidgetDirect3D9* widget)
    : VideoBackEndSurface(widget),
      widget(widget),
      current(0),
      deviceLost(false),
      d3d(nullptr),
      device(nullptr),
      textures{nullptr, nullptr, nullptr},
      vertexBuffer(nullptr),
      vertexDeclaration(nullptr),
      vertexShader(nullptr),
      pixelShader(nullptr),
      behaviorFlags(D3DCREATE_HARDWARE_VERTEXPROCESSING),
      pixelFormat(QVideoFrame::Format_Invalid),
      planes(VideoPlaneLayout::yuv420p(0, 0))
{
    if (!g_d3d9Loader.create) {
        HARBEND_LOG(Fatal, "Failed to load Direct3D 9 support!");
        return;
    }
    d3d = g_d3d9Loader.create(D3D_SDK_VERSION);
    if (!d3d)
        HARBEND_LOG(Fatal, "Direct3D 9 installed on this machine is too old, consider an update.");
}

VideoSurfaceDirect3D9::~VideoSurfaceDirect3D9()
{
    stop();
    release(d3d);
}

bool VideoSurfaceDirect3D9::start(const QVideoSurfaceFormat& format)
{
    Q_ASSERT(onGuiThread());
    if (!d3d) {
        HARBEND_LOG(Fatal, "Direct3D 9 is unsupported on this platform.");
        return false;
    }
    if (isActive())
        stop();
    if (format.pixelFormat() != QVideoFrame::Format_YUV420P || format.frameSize().isEmpty()) {
        HARBEND_LOG(Warning, "Unsupported format!");
        return false;
    }
    planes = VideoPlaneLayout::yuv420p(unsigned(format.frameWidth()), unsigned(format.frameHeight()));
    pixelFormat = QVideoFrame::Format_YUV420P;
    if (!rebuild()) {
        pixelFormat = QVideoFrame::Format_Invalid;
        planes = VideoPlaneLayout::yuv420p(0, 0);
        return false;
    }
    return activate(format);
}

void VideoSurfaceDirect3D9::stop()
{
    Q_ASSERT(onGuiThread());
    refuseFrames();
    if (isActive())
        QAbstractVideoSurface::stop();
    {
        QMutexLocker locker(&slotLock);
        frames[0] = QVideoFrame();
        frames[1] = QVideoFrame();
    }
    blank();
    shutdownD3D();
    widget->update();
    pixelFormat = QVideoFrame::Format_Invalid;
    planes = VideoPlaneLayout::yuv420p(0, 0);
    deviceLost = false;
}

bool VideoSurfaceDirect3D9::present(const QVideoFrame& frame)
{
    // A wrong frame stops the surface on the GUI thread, which owns the device.
    if (!checkFrame(frame))
        return false;
    {
        QMutexLocker locker(&slotLock);
        const int next = (current + 1) % 2;
        frames[next] = frame;
        current = next;
    }
    emit repaintRequest();
    return true;
}

bool VideoSurfaceDirect3D9::initializeD3D()
{
    Q_ASSERT(onGuiThread());
    // The window has the widget's size in device pixels; so have the back buffer and viewport.
    const qreal scale = widget->devicePixelRatioF();
    const UINT width = UINT(qMax(1, qRound(widget->width() * scale)));
    const UINT height = UINT(qMax(1, qRound(widget->height() * scale)));
    const HWND window = HWND(widget->winId());

    D3DPRESENT_PARAMETERS parameters;
    std::memset(&parameters, 0, sizeof(parameters));
    parameters.BackBufferWidth = width;
    parameters.BackBufferHeight = height;
    parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
    parameters.BackBufferCount = 0;
    parameters.MultiSampleType = D3DMULTISAMPLE_NONE;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.hDeviceWindow = window;
    parameters.Windowed = 1;
    parameters.EnableAutoDepthStencil = 0;
    parameters.Flags = D3DPRESENTFLAG_VIDEO;
    parameters.FullScreen_RefreshRateInHz = D3DPRESENT_RATE_DEFAULT;
    parameters.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;

    if (FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, behaviorFlags, &parameters, &device))) {
        device = nullptr;
        if (deviceLost)
            return false;
        // Once refused, hardware vertex processing is not asked for again.
        const bool retry = behaviorFlags != D3DCREATE_SOFTWARE_VERTEXPROCESSING;
        behaviorFlags = D3DCREATE_SOFTWARE_VERTEXPROCESSING;
        if (!retry || FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, behaviorFlags, &parameters,
                                               &device))) {
            device = nullptr;
            HARBEND_LOG(Fatal, "Failed to initialize Direct3D 9 device!");
            return false;
        }
    }

    device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    device->SetRenderState(D3DRS_LIGHTING, 0);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, 0);
    device->SetRenderState(D3DRS_DITHERENABLE, 1);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_AMBIENT, 0x00FFFFFF);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->SetFVF(kVertexFormat);

    const D3DVIEWPORT9 viewport = {0, 0, width, height, -1.0f, 1.0f};
    device->SetViewport(&viewport);

    for (unsigned i = 0; i < 3; ++i) {
        if (FAILED(device->CreateTexture(planes.width[i], planes.height[i], 1, D3DUSAGE_DYNAMIC, D3DFMT_L8,
                                         D3DPOOL_DEFAULT, &textures[i], nullptr))) {
            textures[i] = nullptr;
            HARBEND_LOG(Fatal, "Failed to create YUV plane #%u texture!", i);
            return false;
        }
    }
    if (FAILED(device->CreateVertexShader(VideoShadersDirect3D9::vertexShader, &vertexShader))) {
        vertexShader = nullptr;
        HARBEND_LOG(Fatal, "Failed to create vertex shader object!");
        return false;
    }
    if (FAILED(device->CreatePixelShader(VideoShadersDirect3D9::pixelShader, &pixelShader))) {
        pixelShader = nullptr;
        HARBEND_LOG(Fatal, "Failed to create pixel shader object!");
        return false;
    }
    const D3DVERTEXELEMENT9 elements[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        {0, 12, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        D3DDECL_END(),
    };
    if (FAILED(device->CreateVertexDeclaration(elements, &vertexDeclaration))) {
        vertexDeclaration = nullptr;
        HARBEND_LOG(Fatal, "Failed to create vertex declaration!");
        return false;
    }
    device->SetPixelShaderConstantF(0, ms_colorMatrix, 4);
    if (FAILED(device->CreateVertexBuffer(kVertexBufferSize, D3DUSAGE_WRITEONLY, kVertexFormat, D3DPOOL_DEFAULT,
                                          &vertexBuffer, nullptr))) {
        vertexBuffer = nullptr;
        HARBEND_LOG(Fatal, "Failed to create vertex buffer!");
        return false;
    }

    // The picture keeps its proportions: bars at the sides or above and below.
    const float ratio = (float(planes.width[0]) / float(planes.height[0])) / (float(width) / float(height));
    float left = -1.0f, right = 1.0f, bottom = -1.0f, top = 1.0f;
    if (ratio <= 1.0f) {
        left = -ratio;
        right = ratio;
    } else {
        bottom = -1.0f / ratio;
        top = 1.0f / ratio;
    }
    // Direct3D 9 puts pixel centres on whole coordinates and texel centres
    // half a texel in: the quad moves half a pixel left and up, so that at
    // 1:1 each texel centre falls on a pixel centre.
    const float halfPixelX = 1.0f / float(width), halfPixelY = 1.0f / float(height);
    left -= halfPixelX;
    right -= halfPixelX;
    top += halfPixelY;
    bottom += halfPixelY;
    // A triangle strip; the first row of each plane is drawn at the top.
    const float vertices[20] = {
        left, bottom, 0.0f, 0.0f, 1.0f, right, bottom, 0.0f, 1.0f, 1.0f,
        left, top,    0.0f, 0.0f, 0.0f, right, top,    0.0f, 1.0f, 0.0f,
    };
    void* data = nullptr;
    if (FAILED(vertexBuffer->Lock(0, 0, &data, 0)) || !data) {
        HARBEND_LOG(Fatal, "Failed to lock vertex buffer!");
        return false;
    }
    std::memcpy(data, vertices, kVertexBufferSize);
    vertexBuffer->Unlock();
    return true;
}

void VideoSurfaceDirect3D9::shutdownD3D()
{
    release(vertexBuffer);
    release(vertexDeclaration);
    for (IDirect3DTexture9*& texture : textures)
        release(texture);
    release(pixelShader);
    release(vertexShader);
    release(device);
}

bool VideoSurfaceDirect3D9::rebuild()
{
    shutdownD3D();
    if (initializeD3D())
        return true;
    shutdownD3D();
    return false;
}

bool VideoSurfaceDirect3D9::checkDevice()
{
    if (!device)
        return false;
    const HRESULT result = device->TestCooperativeLevel();
    if (result == D3DERR_DEVICELOST) {
        if (!deviceLost)
            HARBEND_LOG(Warning, "Direct3D device is lost, have to wait for an attempt to re-create it.");
        deviceLost = true;
        return false;
    }
    if (result == D3DERR_DEVICENOTRESET) {
        deviceLost = false;
        return false;
    }
    // A device that answers is not lost (any longer).
    if (SUCCEEDED(result))
        deviceLost = false;
    return true;
}

bool VideoSurfaceDirect3D9::resize() { return rebuild(); }

void VideoSurfaceDirect3D9::render()
{
    Q_ASSERT(onGuiThread());
    // A stopped surface has no planes to build a device for.
    if (!isActive())
        return;
    if (!checkDevice() && !deviceLost) {
        if (!rebuild())
            return;
        HARBEND_LOG(Debug, "Successfully re-created Direct3D device.");
    }
    // Lost while it was being rebuilt: nothing to draw with until it may be reset.
    if (!device)
        return;
    QVideoFrame frame;
    {
        QMutexLocker locker(&slotLock);
        frame = frames[current];
    }
    // A frame that does not map (or is too short) leaves the textures as they are.
    if (frame.isValid() && frame.map(QAbstractVideoBuffer::ReadOnly)) {
        const bool whole = frame.mappedBytes() > 0 && unsigned(frame.mappedBytes()) >= planes.total;
        const bool uploaded = !whole || upload(frame);
        frame.unmap();
        if (!uploaded)
            return;
    }
    draw();
}

bool VideoSurfaceDirect3D9::upload(const QVideoFrame& frame)
{
    for (unsigned i = 0; i < 3; ++i) {
        D3DLOCKED_RECT locked;
        if (FAILED(textures[i]->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD)))
            return false;
        const uchar* source = frame.bits() + planes.offset[i];
        uchar* target = static_cast<uchar*>(locked.pBits);
        for (unsigned row = 0; row < planes.height[i]; ++row) {
            std::memcpy(target, source, planes.width[i]);
            source += planes.width[i];
            target += locked.Pitch;
        }
        textures[i]->UnlockRect(0);
    }
    return true;
}

void VideoSurfaceDirect3D9::draw()
{
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    device->BeginScene();
    device->SetVertexDeclaration(vertexDeclaration);
    device->SetVertexShader(vertexShader);
    device->SetPixelShader(pixelShader);
    device->SetStreamSource(0, vertexBuffer, 0, kVertexStride);
    for (DWORD i = 0; i < 3; ++i)
        device->SetTexture(i, textures[i]);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    device->EndScene();
    device->Present(nullptr, nullptr, 0, nullptr);
}

void VideoSurfaceDirect3D9::blank()
{
    if (!device || deviceLost)
        return;
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    device->Present(nullptr, nullptr, 0, nullptr);
}

} // namespace Harbend
