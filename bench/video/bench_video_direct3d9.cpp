// One frame of the Direct3D 9 path beside the others, at 640x480, 1280x720 and
// 1920x1080 into a window of the same size:
//   Upload/Direct3D9  the back end's own work: three textures locked with
//                     discard, rows copied at their pitch, unlocked (stand-in);
//   Upload/OpenGL     the OpenGL back end's: three glTexImage2D (Mesa, llvmpipe);
//   Draw/StandIn      our Direct3D 9 stand-in drawing the quad (clear, vertex and
//                     pixel shader through its interpreter, one core);
//   Present/StandIn   the stand-in putting the back buffer into the window;
//   Convert/SSE2      the software back end's SSE2 YUV to RGB conversion.
// Run by hand with a display: tools/with-services.sh build/bin/bench_video_direct3d9

#include "Core/Base/Memory.h"
#include "Core/Output/VideoBuffer.h"
#include "Core/Output/VideoPlaneLayout.h"
#include "Core/Output/VideoShadersDirect3D9.h"
#include "Core/Output/VideoSurfaceDirect3D9.h"
#include "Core/Output/VideoSurfaceSoftware.h"
#include "Platform/Direct3D9.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QRandomGenerator>
#include <QVideoFrame>
#include <QWidget>

#include <cstring>
#include <dlfcn.h>
#include <memory>

using namespace Harbend;

namespace {

struct Frame {
    Frame(int width, int height)
        : layout(VideoPlaneLayout::yuv420p(unsigned(width), unsigned(height))),
          frame(new VideoBuffer(layout.total, unsigned(width)), QSize(width, height), QVideoFrame::Format_YUV420P)
    {
        frame.map(QAbstractVideoBuffer::ReadWrite);
        QRandomGenerator random(1);
        for (unsigned i = 0; i < layout.total; ++i)
            frame.bits()[i] = uchar(16 + random.bounded(220));
    }
    ~Frame() { frame.unmap(); }
    VideoPlaneLayout layout;
    QVideoFrame frame;
};

template <class T>
void release(T*& object)
{
    if (object)
        object->Release();
    object = nullptr;
}

// A device of the stand-in set up as the back end sets it up, over a window of the frame's size.
class StandInScene {
public:
    StandInScene(int width, int height) : layout(VideoPlaneLayout::yuv420p(unsigned(width), unsigned(height)))
    {
        window.setAttribute(Qt::WA_NativeWindow);
        window.resize(width, height);
        window.show();
        QApplication::processEvents();
        void* library = dlopen(HARBEND_DIRECT3D9_DIR "/libd3d9.so", RTLD_NOW | RTLD_LOCAL);
        auto create = library ? reinterpret_cast<Direct3DCreate9Function>(dlsym(library, "Direct3DCreate9")) : nullptr;
        d3d = create ? create(D3D_SDK_VERSION) : nullptr;
        if (!d3d)
            return;
        D3DPRESENT_PARAMETERS parameters;
        std::memset(&parameters, 0, sizeof(parameters));
        parameters.BackBufferWidth = UINT(width);
        parameters.BackBufferHeight = UINT(height);
        parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
        parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
        parameters.hDeviceWindow = HWND(window.winId());
        parameters.Windowed = 1;
        parameters.Flags = D3DPRESENTFLAG_VIDEO;
        parameters.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        if (FAILED(d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, parameters.hDeviceWindow,
                                     D3DCREATE_HARDWARE_VERTEXPROCESSING, &parameters, &device)))
            return;
        device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        for (unsigned i = 0; i < 3; ++i)
            device->CreateTexture(layout.width[i], layout.height[i], 1, D3DUSAGE_DYNAMIC, D3DFMT_L8, D3DPOOL_DEFAULT,
                                  &textures[i], nullptr);
        device->CreateVertexShader(VideoShadersDirect3D9::vertexShader, &vertexShader);
        device->CreatePixelShader(VideoShadersDirect3D9::pixelShader, &pixelShader);
        const D3DVERTEXELEMENT9 elements[] = {
            {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
            {0, 12, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
            D3DDECL_END(),
        };
        device->CreateVertexDeclaration(elements, &declaration);
        device->SetPixelShaderConstantF(0, VideoSurfaceDirect3D9::ms_colorMatrix, 4);
        device->CreateVertexBuffer(80, D3DUSAGE_WRITEONLY, D3DFVF_XYZ | D3DFVF_TEX1, D3DPOOL_DEFAULT, &vertices,
                                   nullptr);
        const float quad[20] = {-1, -1, 0, 0, 1, 1, -1, 0, 1, 1, -1, 1, 0, 0, 0, 1, 1, 0, 1, 0};
        void* data = nullptr;
        if (vertices && SUCCEEDED(vertices->Lock(0, 0, &data, 0))) {
            std::memcpy(data, quad, sizeof(quad));
            vertices->Unlock();
        }
    }
    ~StandInScene()
    {
        release(vertices);
        release(declaration);
        for (IDirect3DTexture9*& texture : textures)
            release(texture);
        release(pixelShader);
        release(vertexShader);
        release(device);
        release(d3d);
    }

    bool ready() const { return vertices && declaration && pixelShader && vertexShader && textures[2]; }

    // What the back end's render() copies: each plane row by row at the texture's pitch.
    void upload(const Frame& frame)
    {
        for (unsigned i = 0; i < 3; ++i) {
            D3DLOCKED_RECT locked;
            textures[i]->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD);
            const uchar* source = frame.frame.bits() + layout.offset[i];
            uchar* target = static_cast<uchar*>(locked.pBits);
            for (unsigned row = 0; row < layout.height[i]; ++row)
                std::memcpy(target + size_t(row) * size_t(locked.Pitch), source + size_t(row) * layout.width[i],
                            layout.width[i]);
            textures[i]->UnlockRect(0);
        }
    }

    void draw()
    {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        device->SetVertexDeclaration(declaration);
        device->SetVertexShader(vertexShader);
        device->SetPixelShader(pixelShader);
        device->SetStreamSource(0, vertices, 0, 20);
        for (DWORD i = 0; i < 3; ++i)
            device->SetTexture(i, textures[i]);
        device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
        device->EndScene();
    }

    void present() { device->Present(nullptr, nullptr, 0, nullptr); }

private:
    VideoPlaneLayout layout;
    QWidget window;
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    IDirect3DTexture9* textures[3] = {};
    IDirect3DVertexShader9* vertexShader = nullptr;
    IDirect3DPixelShader9* pixelShader = nullptr;
    IDirect3DVertexDeclaration9* declaration = nullptr;
    IDirect3DVertexBuffer9* vertices = nullptr;
};

void perFrame(benchmark::State& state)
{
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

template <void (StandInScene::*step)()>
void standIn(benchmark::State& state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    Frame frame(width, height);
    StandInScene scene(width, height);
    if (!scene.ready()) {
        state.SkipWithError("the Direct3D 9 stand-in did not start (is there a display?)");
        return;
    }
    scene.upload(frame);
    scene.draw();
    for (auto _ : state)
        (scene.*step)();
    perFrame(state);
}

void BM_Upload_Direct3D9(benchmark::State& state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    Frame frame(width, height);
    StandInScene scene(width, height);
    if (!scene.ready()) {
        state.SkipWithError("the Direct3D 9 stand-in did not start (is there a display?)");
        return;
    }
    for (auto _ : state)
        scene.upload(frame);
    perFrame(state);
}

void BM_Draw_StandIn(benchmark::State& state) { standIn<&StandInScene::draw>(state); }
void BM_Present_StandIn(benchmark::State& state) { standIn<&StandInScene::present>(state); }

void BM_Upload_OpenGL(benchmark::State& state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    Frame frame(width, height);
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    if (!context.create() || !context.makeCurrent(&surface)) {
        state.SkipWithError("no OpenGL context");
        return;
    }
    QOpenGLFunctions* gl = context.functions();
    GLuint names[3];
    gl->glGenTextures(3, names);
    gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (auto _ : state) {
        for (int i = 0; i < 3; ++i) {
            gl->glBindTexture(GL_TEXTURE_2D, names[i]);
            gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, GLsizei(frame.layout.width[i]),
                             GLsizei(frame.layout.height[i]), 0, GL_LUMINANCE, GL_UNSIGNED_BYTE,
                             frame.frame.bits() + frame.layout.offset[i]);
        }
        gl->glFinish();
    }
    gl->glDeleteTextures(3, names);
    context.doneCurrent();
    perFrame(state);
}

void BM_Convert_SSE2(benchmark::State& state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    Frame frame(width, height);
    uchar* block = static_cast<uchar*>(Memory::allocate(size_t(width) * size_t(height) * 4));
    QImage image(block, width, height, width * 4, QImage::Format_RGB32);
    for (auto _ : state) {
        VideoSurfaceSoftware::convertFrameYUV420PSSE2(frame.frame, image, frame.layout);
        benchmark::DoNotOptimize(image.constBits());
    }
    image = QImage();
    Memory::free(block);
    perFrame(state);
}

void sizes(benchmark::internal::Benchmark* benchmark)
{
    benchmark->Args({640, 480})->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Upload_Direct3D9)->Apply(sizes);
BENCHMARK(BM_Upload_OpenGL)->Apply(sizes);
BENCHMARK(BM_Draw_StandIn)->Apply(sizes);
BENCHMARK(BM_Present_StandIn)->Apply(sizes);
BENCHMARK(BM_Convert_SSE2)->Apply(sizes);

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
