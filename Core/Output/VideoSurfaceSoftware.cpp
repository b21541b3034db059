#include "Core/Output/VideoSurfaceSoftware.h"

#include "Core/Base/Memory.h"
#include "Core/Base/Processor.h"
#include "Core/Output/VideoWidgetSoftware.h"

#include <QMutexLocker>
#include <QPainter>

#include <algorithm>
#include <cstdint>

namespace Harbend {

namespace {
const char kLogSource[] = "Core/Output/VideoSurfaceSoftware";

// BT.709 limited range in fixed point. Intermediate terms carry 6 fraction
// bits so that the result is rounded, not truncated, at every level.
// Luma: (Y << 8) * 19078 >> 16 is Y * 1.164383 * 64; the offset removes
// 16 * 1.164383 * 64 and adds the half for rounding.
const int kLumaScale = 19078;
const int kLumaOffset = 1160;
// Chroma factors times 8192; the pair sums are shifted right by 7 to 64ths.
const int kRedV = 14686;   // 1.792741
const int kGreenU = -1747; // -0.213249
const int kGreenV = -4366; // -0.532909
const int kBlueU = 17305;  // 2.112402

inline int lumaTerm(int y) { return ((y << 8) * kLumaScale >> 16) - kLumaOffset; }

inline int chromaTerm(int u, int v, int factorU, int factorV) { return (factorU * u + factorV * v) >> 7; }

// Back to whole levels, clamped to 0..255 without branches. The SSE2 form
// saturates the sum to 16 bits first; that only ever happens above 255, so
// both give the same byte.
inline uchar level(int luma, int chroma)
{
    int value = (luma + chroma) >> 6;
    value &= ~(value >> 31);
    value |= (255 - value) >> 31;
    return static_cast<uchar>(value);
}

inline __m128i pairFactors(int factorU, int factorV)
{
    return _mm_set1_epi32(int((unsigned(factorV) << 16) | (unsigned(factorU) & 0xFFFF)));
}

// Luma values already shifted left by 8 (the bytes unpacked into high halves).
inline __m128i lumaTerms(__m128i shifted)
{
    return _mm_sub_epi16(_mm_mulhi_epu16(shifted, _mm_set1_epi16(short(kLumaScale))),
                         _mm_set1_epi16(short(kLumaOffset)));
}

// 8 chroma terms from 8 (U - 128, V - 128) pairs in two registers.
inline __m128i chromaTerms(__m128i pairsLow, __m128i pairsHigh, __m128i factors)
{
    const __m128i low = _mm_srai_epi32(_mm_madd_epi16(pairsLow, factors), 7);
    const __m128i high = _mm_srai_epi32(_mm_madd_epi16(pairsHigh, factors), 7);
    return _mm_packs_epi32(low, high);
}

inline __m128i levels(__m128i luma, __m128i chroma) { return _mm_srai_epi16(_mm_adds_epi16(luma, chroma), 6); }

// 16 pixels as B, G, R, 255 from their 16 red, green and blue bytes.
inline void storePixels(uchar* out, __m128i r, __m128i g, __m128i b)
{
    const __m128i opaque = _mm_set1_epi8(char(0xFF));
    const __m128i bgLow = _mm_unpacklo_epi8(b, g);
    const __m128i bgHigh = _mm_unpackhi_epi8(b, g);
    const __m128i raLow = _mm_unpacklo_epi8(r, opaque);
    const __m128i raHigh = _mm_unpackhi_epi8(r, opaque);
    __m128i* target = reinterpret_cast<__m128i*>(out);
    _mm_store_si128(target, _mm_unpacklo_epi16(bgLow, raLow));
    _mm_store_si128(target + 1, _mm_unpackhi_epi16(bgLow, raLow));
    _mm_store_si128(target + 2, _mm_unpacklo_epi16(bgHigh, raHigh));
    _mm_store_si128(target + 3, _mm_unpackhi_epi16(bgHigh, raHigh));
}

// The red, green and blue chroma terms (luma offset included) of 8 pixel
// pairs, each repeated for both pixels: low and high halves.
struct Chroma {
    __m128i red[2], green[2], blue[2];
};

// 16 pixels of one row from their luma bytes and the terms they share.
inline void convertLine(const uchar* luma, uchar* out, const Chroma& chroma)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i scale = _mm_set1_epi16(short(kLumaScale));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma));
    const __m128i low = _mm_mulhi_epu16(_mm_unpacklo_epi8(zero, y), scale);
    const __m128i high = _mm_mulhi_epu16(_mm_unpackhi_epi8(zero, y), scale);
    storePixels(out, _mm_packus_epi16(levels(low, chroma.red[0]), levels(high, chroma.red[1])),
                _mm_packus_epi16(levels(low, chroma.green[0]), levels(high, chroma.green[1])),
                _mm_packus_epi16(levels(low, chroma.blue[0]), levels(high, chroma.blue[1])));
}

} // namespace

Logging::Log VideoSurfaceSoftware::ms_log("VideoSurfaceSoftware", Logging::Log::systemLogger());

void convert(__m128i* in, __m128i* out)
{
    const __m128i pairs = _mm_sub_epi16(in[1], _mm_set1_epi16(128));
    const __m128i luma = lumaTerms(_mm_slli_epi16(in[0], 8));
    const __m128i factors[3] = {pairFactors(0, kRedV), pairFactors(kGreenU, kGreenV), pairFactors(kBlueU, 0)};
    for (int c = 0; c < 3; ++c) {
        const __m128i chroma = chromaTerms(pairs, pairs, factors[c]);
        out[c] = levels(luma, _mm_unpacklo_epi16(chroma, chroma));
    }
}

VideoSurfaceSoftware::VideoSurfaceSoftware(VideoWidgetSoftware* widget)
    : VideoBackEndSurface(widget),
      convert(&VideoSurfaceSoftware::convertFrameYUV420P),
      widget(widget),
      buffers{nullptr, nullptr},
      current(0),
      pixelFormat(QVideoFrame::Format_YUV420P),
      yuvFormat(VideoPlaneLayout::yuv420p(0, 0)),
      converting(false)
{
}

VideoSurfaceSoftware::~VideoSurfaceSoftware()
{
    refuseFrames();
    releaseSlots();
}

bool VideoSurfaceSoftware::start(const QVideoSurfaceFormat& format)
{
    if (isActive())
        stop();
    const QSize size = format.frameSize();
    if (format.pixelFormat() != QVideoFrame::Format_YUV420P || size.isEmpty()) {
        HARBEND_LOG(Warning, "Unsupported format!");
        return false;
    }
    const unsigned w = unsigned(size.width());
    const unsigned h = unsigned(size.height());
    yuvFormat = VideoPlaneLayout::yuv420p(w, h);
    pixelFormat = QVideoFrame::Format_YUV420P;

    if (Processor::has(Processor::SSE2) && w % 32 == 0 && h % 2 == 0) {
        convert = &VideoSurfaceSoftware::convertFrameYUV420PSSE2;
        HARBEND_LOG(Info, "Using SSE2 accelerated YUV420p->RGB conversion.");
    } else {
        convert = &VideoSurfaceSoftware::convertFrameYUV420P;
        HARBEND_LOG(Warning, "Using pure CPU-based YUV420p->RGB conversion.");
    }
    viewport = format.viewport();

    {
        QMutexLocker locker(&slotLock);
        for (int slot = 0; slot < 2; ++slot) {
            buffers[slot] = static_cast<uchar*>(Memory::allocate(std::size_t(w) * h * 4));
            if (!buffers[slot]) {
                HARBEND_LOG(Fatal, "Failed to allocate frame buffer! Out of memory?");
                locker.unlock();
                releaseSlots();
                return false;
            }
            images[slot] = QImage(buffers[slot], int(w), int(h), int(w * 4), QImage::Format_RGB32);
            images[slot].fill(QColor(0, 0, 0, 255));
        }
        current = 0;
    }

    const bool started = activate(format);
    widget->updateGeometry();
    updateVideoRect();
    return started;
}

void VideoSurfaceSoftware::stop()
{
    if (!isActive())
        return;
    refuseFrames();
    QAbstractVideoSurface::stop();
    releaseSlots();
    widget->update();
}

void VideoSurfaceSoftware::releaseSlots()
{
    QMutexLocker locker(&slotLock);
    while (converting)
        converted.wait(&slotLock);
    for (int slot = 0; slot < 2; ++slot) {
        images[slot] = QImage();
        if (buffers[slot])
            Memory::free(buffers[slot]);
        buffers[slot] = nullptr;
    }
    videoRect = QRect();
}

bool VideoSurfaceSoftware::present(const QVideoFrame& frame)
{
    if (!checkFrame(frame))
        return false;
    QVideoFrame mapped(frame);
    if (!mapped.map(QAbstractVideoBuffer::ReadOnly))
        return false;
    // The conversion reads the whole packed layout: a shorter buffer is refused.
    if (mapped.mappedBytes() < 0 || unsigned(mapped.mappedBytes()) < yuvFormat.total) {
        mapped.unmap();
        return false;
    }

    QMutexLocker locker(&slotLock);
    const int next = (current + 1) % 2;
    if (!buffers[next]) {
        locker.unlock();
        mapped.unmap();
        return false;
    }
    converting = true;
    locker.unlock();

    convert(mapped, images[next], yuvFormat);

    locker.relock();
    current = next;
    converting = false;
    converted.wakeAll();
    const QRect target = videoRect;
    locker.unlock();
    mapped.unmap();

    emit repaintRequest(target);
    return true;
}

void VideoSurfaceSoftware::updateVideoRect()
{
    const QSize size = surfaceFormat().sizeHint().scaled(widget->size(), Qt::KeepAspectRatio);
    QRect rect(QPoint(0, 0), size);
    rect.moveCenter(widget->rect().center());
    QMutexLocker locker(&slotLock);
    videoRect = isActive() ? rect : QRect();
}

void VideoSurfaceSoftware::paint(QPainter* painter)
{
    QMutexLocker locker(&slotLock);
    const QImage& image = images[current];
    if (image.isNull())
        return;
    const QTransform kept = painter->transform();
    if (surfaceFormat().scanLineDirection() == QVideoSurfaceFormat::TopToBottom) {
        painter->scale(1, -1);
        painter->translate(0, -widget->height());
    }
    painter->drawImage(QRectF(videoRect), image, QRectF(viewport));
    painter->setTransform(kept, false);
}

void VideoSurfaceSoftware::convertFrameYUV420P(QVideoFrame& frame, QImage& image, const YUVFormat& format)
{
    const uchar* bits = frame.bits();
    const unsigned width = format.width[0];
    const unsigned chromaWidth = format.width[1];
    const unsigned chromaHeight = format.height[1];
    uchar* const pixels = image.bits();
    const int stride = image.bytesPerLine();
    for (unsigned y = 0; y < format.height[0]; ++y) {
        const uchar* luma = bits + std::size_t(y) * width;
        // Odd sizes: the last row and column reuse the last chroma sample;
        // a picture without chroma planes is drawn grey.
        const bool hasChroma = chromaWidth > 0 && chromaHeight > 0;
        const unsigned chromaRow = hasChroma ? std::min(y / 2, chromaHeight - 1) : 0;
        const uchar* u = bits + format.offset[1] + std::size_t(chromaRow) * chromaWidth;
        const uchar* v = bits + format.offset[2] + std::size_t(chromaRow) * chromaWidth;
        uchar* out = pixels + std::size_t(y) * unsigned(stride);
        for (unsigned x = 0; x < width; x += 2) {
            const unsigned chroma = hasChroma ? std::min(x / 2, chromaWidth - 1) : 0;
            const int d = hasChroma ? u[chroma] - 128 : 0;
            const int e = hasChroma ? v[chroma] - 128 : 0;
            const int red = chromaTerm(d, e, 0, kRedV);
            const int green = chromaTerm(d, e, kGreenU, kGreenV);
            const int blue = chromaTerm(d, e, kBlueU, 0);
            const int first = lumaTerm(luma[x]);
            out[x * 4] = level(first, blue);
            out[x * 4 + 1] = level(first, green);
            out[x * 4 + 2] = level(first, red);
            if (x + 1 < width) {
                const int second = lumaTerm(luma[x + 1]);
                out[x * 4 + 4] = level(second, blue);
                out[x * 4 + 5] = level(second, green);
                out[x * 4 + 6] = level(second, red);
            }
        }
    }
}

void VideoSurfaceSoftware::convertFrameYUV420PSSE2(QVideoFrame& frame, QImage& image, const YUVFormat& format)
{
    const uchar* bits = frame.bits();
    const unsigned width = format.width[0];
    const unsigned chromaWidth = format.width[1];
    uchar* const pixels = image.bits();
    const std::size_t stride = unsigned(image.bytesPerLine());
    const __m128i zero = _mm_setzero_si128();
    const __m128i sign = _mm_set1_epi16(short(0x8000));
    const __m128i offset = _mm_set1_epi16(short(kLumaOffset));
    // The same terms as the plain form, with fewer steps: with d and e the
    // chroma values less 128 and shifted left by 8, red is d * 2 * kRedV >> 16
    // and blue d * 128 + (d * 2 * (kBlueU - 16384) >> 16), both exact; green
    // needs the sum of both products before its shift.
    const __m128i redFactor = _mm_set1_epi16(short(2 * kRedV));
    const __m128i blueFactor = _mm_set1_epi16(short(2 * (kBlueU - 16384)));
    const __m128i greenFactors = pairFactors(kGreenU, kGreenV);

    for (unsigned row = 0; row + 1 < format.height[0]; row += 2) {
        const uchar* luma[2] = {bits + std::size_t(row) * width, bits + std::size_t(row + 1) * width};
        const uchar* u = bits + format.offset[1] + std::size_t(row / 2) * chromaWidth;
        const uchar* v = bits + format.offset[2] + std::size_t(row / 2) * chromaWidth;
        uchar* out[2] = {pixels + row * stride, pixels + (row + 1) * stride};
        // 16 pixels of both rows per step; the 2x2 blocks share their chroma terms.
        for (unsigned x = 0; x < width; x += 16) {
            // Frames from other producers need not be aligned: loads are unaligned.
            const __m128i d = _mm_xor_si128(
                _mm_unpacklo_epi8(zero, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2))), sign);
            const __m128i e = _mm_xor_si128(
                _mm_unpacklo_epi8(zero, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2))), sign);
            const __m128i green = _mm_sub_epi16(
                _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(d, e), greenFactors), 15),
                                _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(d, e), greenFactors), 15)),
                offset);
            // The luma offset goes with the chroma terms, once per 2x2 block.
            const __m128i red = _mm_sub_epi16(_mm_mulhi_epi16(e, redFactor), offset);
            const __m128i blue = _mm_sub_epi16(_mm_add_epi16(_mm_srai_epi16(d, 1), _mm_mulhi_epi16(d, blueFactor)),
                                               offset);
            const Chroma chroma = {_mm_unpacklo_epi16(red, red),     _mm_unpackhi_epi16(red, red),
                                   _mm_unpacklo_epi16(green, green), _mm_unpackhi_epi16(green, green),
                                   _mm_unpacklo_epi16(blue, blue),   _mm_unpackhi_epi16(blue, blue)};
            convertLine(luma[0] + x, out[0] + std::size_t(x) * 4, chroma);
            convertLine(luma[1] + x, out[1] + std::size_t(x) * 4, chroma);
        }
    }
}

} // namespace Harbend
