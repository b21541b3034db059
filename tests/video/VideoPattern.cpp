#include "VideoPattern.h"

#include "Core/Output/VideoBuffer.h"
#include "Core/Output/VideoPlaneLayout.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <functional>

namespace VideoPattern {

namespace {

const double kKr = 0.2126;
const double kKb = 0.0722;
const double kKg = 1.0 - kKr - kKb;

const int kBarsPercent = 75;
const Yuv kGrey{128, 128, 128};
const Yuv kWhite{235, 128, 128};
const Yuv kBlack{16, 128, 128};

int clampLevel(double value) { return std::min(255, std::max(0, int(std::lround(value)))); }

enum Region { BarRegion, BandRegion, MarkerRegion };

Region regionAt(int height, int x, int y)
{
    const int barsBottom = height * 3 / 4;
    if (y < barsBottom)
        return BarRegion;
    const int marker = height / 8;
    return (x < marker && y >= height - marker) ? MarkerRegion : BandRegion;
}

Yuv codeAt(int width, int height, int x, int y)
{
    switch (regionAt(height, x, y)) {
    case BarRegion:
        return fromRgb(bars(kBarsPercent)[std::min(7, x * 8 / width)]);
    case MarkerRegion:
        return kWhite;
    case BandRegion:
        break;
    }
    return kGrey;
}

Yuv lineCodeAt(int x, int y) { return x % 3 == 0 || y % 5 == 0 ? kWhite : kBlack; }

QVideoFrame frameOf(int width, int height, const std::function<void(uchar*, const Harbend::VideoPlaneLayout&)>& fill)
{
    const Harbend::VideoPlaneLayout layout = Harbend::VideoPlaneLayout::yuv420p(unsigned(width), unsigned(height));
    QVideoFrame frame(new Harbend::VideoBuffer(layout), QSize(width, height), QVideoFrame::Format_YUV420P);
    frame.map(QAbstractVideoBuffer::WriteOnly);
    fill(frame.bits(), layout);
    frame.unmap();
    return frame;
}

} // namespace

Yuv fromRgb(const QColor& rgb)
{
    const double r = rgb.red() / 255.0, g = rgb.green() / 255.0, b = rgb.blue() / 255.0;
    const double y = kKr * r + kKg * g + kKb * b;
    return Yuv{clampLevel(16 + 219 * y), clampLevel(128 + 224 * (b - y) / (2 * (1 - kKb))),
               clampLevel(128 + 224 * (r - y) / (2 * (1 - kKr)))};
}

QColor toRgb(const Yuv& yuv)
{
    const double y = (yuv.y - 16) / 219.0;
    const double pb = (yuv.u - 128) / 224.0;
    const double pr = (yuv.v - 128) / 224.0;
    const double r = y + 2 * (1 - kKr) * pr;
    const double b = y + 2 * (1 - kKb) * pb;
    const double g = (y - kKr * r - kKb * b) / kKg;
    return QColor(clampLevel(r * 255), clampLevel(g * 255), clampLevel(b * 255));
}

QVector<QColor> bars(int percent)
{
    const int on = clampLevel(255.0 * percent / 100.0);
    QVector<QColor> result;
    const int pattern[8][3] = {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0}, {1, 0, 1}, {1, 0, 0}, {0, 0, 1}, {0, 0, 0}};
    for (const auto& bar : pattern)
        result << QColor(bar[0] * on, bar[1] * on, bar[2] * on);
    return result;
}

QVideoFrame barFrame(int width, int height)
{
    return frameOf(width, height, [width, height](uchar* bits, const Harbend::VideoPlaneLayout& layout) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                bits[y * width + x] = uchar(codeAt(width, height, x, y).y);
        for (unsigned y = 0; y < layout.height[1]; ++y)
            for (unsigned x = 0; x < layout.width[1]; ++x) {
                const Yuv code = codeAt(width, height, int(x * 2), int(y * 2));
                bits[layout.offset[1] + y * layout.width[1] + x] = uchar(code.u);
                bits[layout.offset[2] + y * layout.width[2] + x] = uchar(code.v);
            }
    });
}

QVideoFrame flatFrame(int width, int height, const Yuv& yuv)
{
    return frameOf(width, height, [yuv](uchar* bits, const Harbend::VideoPlaneLayout& layout) {
        std::fill(bits, bits + layout.offset[1], uchar(yuv.y));
        std::fill(bits + layout.offset[1], bits + layout.offset[2], uchar(yuv.u));
        std::fill(bits + layout.offset[2], bits + layout.total, uchar(yuv.v));
    });
}

QVideoFrame noiseFrame(int width, int height, unsigned seed)
{
    return frameOf(width, height, [seed](uchar* bits, const Harbend::VideoPlaneLayout& layout) {
        QRandomGenerator random(seed);
        for (unsigned i = 0; i < layout.total; ++i)
            bits[i] = uchar(random.bounded(256));
    });
}

QVideoFrame lineFrame(int width, int height)
{
    return frameOf(width, height, [width, height](uchar* bits, const Harbend::VideoPlaneLayout& layout) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                bits[y * width + x] = uchar(lineCodeAt(x, y).y);
        std::fill(bits + layout.offset[1], bits + layout.total, uchar(128));
    });
}

QColor expectedAt(int width, int height, int x, int y) { return toRgb(codeAt(width, height, x, y)); }

QColor expectedLineAt(int x, int y) { return toRgb(lineCodeAt(x, y)); }

} // namespace VideoPattern
