#pragma once

#include <QColor>
#include <QSize>
#include <QVector>
#include <QVideoFrame>

// Test pictures in the system's frame layout, and BT.709 limited-range
// reference values computed in double precision.
namespace VideoPattern {

struct Yuv {
    int y, u, v;
};

// The limited-range code of a full-range RGB colour.
Yuv fromRgb(const QColor& rgb);
// The exact full-range RGB of a limited-range code, rounded and clamped.
QColor toRgb(const Yuv& yuv);

// The 75% and 100% bars, left to right: white, yellow, cyan, green, magenta, red, blue, black.
QVector<QColor> bars(int percent);

// A frame over a Harbend::VideoBuffer: the 75% bars over the top three
// quarters, a grey band below with a white square at its left end, so that
// a flip in either direction shows.
QVideoFrame barFrame(int width, int height);
// A frame of one colour everywhere.
QVideoFrame flatFrame(int width, int height, const Yuv& yuv);
// A frame of random bytes.
QVideoFrame noiseFrame(int width, int height, unsigned seed);
// One-pixel white lines on black, no colour: every third column and every
// fifth row. A picture drawn off the pixel grid blurs each line into two.
QVideoFrame lineFrame(int width, int height);

// What barFrame() shows at a point given in frame pixels.
QColor expectedAt(int width, int height, int x, int y);
// What lineFrame() shows at a point given in frame pixels.
QColor expectedLineAt(int x, int y);

} // namespace VideoPattern
