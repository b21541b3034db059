// YUV 4:2:0 to RGB32 on the same frames: our SSE2 and plain converters beside
// libswscale (BT.709, limited range in, full-range BGRA out).

#include "Core/Base/Memory.h"
#include "Core/Output/VideoBuffer.h"
#include "Core/Output/VideoPlaneLayout.h"
#include "Core/Output/VideoSurfaceSoftware.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <QImage>
#include <QRandomGenerator>
#include <QVideoFrame>

using namespace Harbend;

namespace {

struct Picture {
    Picture(int width, int height)
        : layout(VideoPlaneLayout::yuv420p(unsigned(width), unsigned(height))),
          frame(new VideoBuffer(layout.total, unsigned(width)), QSize(width, height), QVideoFrame::Format_YUV420P),
          block(static_cast<uchar*>(Memory::allocate(std::size_t(width) * height * 4))),
          image(block, width, height, width * 4, QImage::Format_RGB32)
    {
        frame.map(QAbstractVideoBuffer::ReadWrite);
        QRandomGenerator random(1);
        for (unsigned i = 0; i < layout.total; ++i)
            frame.bits()[i] = uchar(16 + random.bounded(220));
        image.fill(Qt::black);
    }
    ~Picture()
    {
        frame.unmap();
        image = QImage();
        Memory::free(block);
    }
    VideoPlaneLayout layout;
    QVideoFrame frame;
    uchar* block;
    QImage image;
};

void setSize(benchmark::State& state, int width, int height)
{
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * width * height * 4);
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void ours(benchmark::State& state, VideoSurfaceSoftware::ConvertFunction convert)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    Picture picture(width, height);
    for (auto _ : state) {
        convert(picture.frame, picture.image, picture.layout);
        benchmark::DoNotOptimize(picture.image.constBits());
    }
    setSize(state, width, height);
}

void BM_ConvertSSE2(benchmark::State& state) { ours(state, &VideoSurfaceSoftware::convertFrameYUV420PSSE2); }
void BM_ConvertPlain(benchmark::State& state) { ours(state, &VideoSurfaceSoftware::convertFrameYUV420P); }

void swscale(benchmark::State& state, int flags)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    Picture picture(width, height);
    SwsContext* context = sws_getContext(width, height, AV_PIX_FMT_YUV420P, width, height, AV_PIX_FMT_BGRA, flags,
                                         nullptr, nullptr, nullptr);
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(context, bt709, 0, bt709, 1, 0, 1 << 16, 1 << 16);
    const uint8_t* planes[3];
    int strides[3];
    for (int p = 0; p < 3; ++p) {
        planes[p] = picture.frame.bits() + picture.layout.offset[p];
        strides[p] = int(picture.layout.width[p]);
    }
    uint8_t* out[1] = {picture.image.bits()};
    int outStride[1] = {picture.image.bytesPerLine()};
    for (auto _ : state) {
        sws_scale(context, planes, strides, 0, height, out, outStride);
        benchmark::DoNotOptimize(picture.image.constBits());
    }
    sws_freeContext(context);
    setSize(state, width, height);
}

// The default path, and the exact one that the converter test compares with.
void BM_Swscale(benchmark::State& state) { swscale(state, SWS_BILINEAR); }
void BM_SwscaleAccurate(benchmark::State& state)
{
    swscale(state, SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT);
}

void sizes(benchmark::internal::Benchmark* b)
{
    b->Args({640, 480})->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
}

} // namespace

BENCHMARK(BM_ConvertSSE2)->Apply(sizes);
BENCHMARK(BM_ConvertPlain)->Apply(sizes);
BENCHMARK(BM_Swscale)->Apply(sizes);
BENCHMARK(BM_SwscaleAccurate)->Apply(sizes);

BENCHMARK_MAIN();
