#include "PictureDrawer.h"

#include <algorithm>
#include <string>

namespace {

// 5 x 7 digits, one row per byte, bit 4 the leftmost column.
const unsigned char kDigits[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}};

const unsigned char kBlack = 16;
const unsigned char kWhite = 235;
const unsigned char kGrey = 110;

// Clipped to the plane: the digits of a tiny picture reach past its edges.
void fillRect(std::vector<unsigned char>& plane, int stride, int x, int y, int w, int h, unsigned char value)
{
    const int rows = int(plane.size() / size_t(stride));
    for (int row = std::max(y, 0); row < std::min(y + h, rows); ++row)
        for (int col = std::max(x, 0); col < std::min(x + w, stride); ++col)
            plane[size_t(row) * size_t(stride) + size_t(col)] = value;
}

} // namespace

PictureDrawer::PictureDrawer(int width, int height) : width(width), height(height) {}

void PictureDrawer::draw(long long number, std::vector<unsigned char>& y, std::vector<unsigned char>& u,
                         std::vector<unsigned char>& v, int frameWidth, int frameHeight) const
{
    y.assign(size_t(frameWidth) * size_t(frameHeight), kGrey);
    // Chroma of odd sizes rounds up, as the codecs keep it.
    const int chromaWidth = (frameWidth + 1) / 2;
    u.assign(size_t(chromaWidth) * size_t((frameHeight + 1) / 2), 128);
    v.assign(size_t(chromaWidth) * size_t((frameHeight + 1) / 2), 128);
    // A colour band that moves with the picture number, so motion is visible.
    const int bandWidth = chromaWidth / 8 > 0 ? chromaWidth / 8 : 1;
    const int band = int(number % 64) * (chromaWidth - bandWidth) / 63;
    fillRect(u, chromaWidth, band, frameHeight / 8, bandWidth, frameHeight / 4, 200);
    for (int bit = 0; bit < kCodeBits; ++bit) {
        const bool set = (number >> (kCodeBits - 1 - bit)) & 1;
        fillRect(y, frameWidth, bit * cellWidth(), 0, cellWidth(), cellHeight(), set ? kWhite : kBlack);
    }
    const std::string text = std::to_string(number);
    const int digits = int(text.size());
    int scale = (width * 3 / 4) / (digits * 6);
    if (scale > height / 10)
        scale = height / 10;
    if (scale < 1)
        scale = 1;
    const int left = (width - digits * 6 * scale) / 2;
    const int top = (height - 7 * scale) / 2;
    for (int d = 0; d < digits; ++d) {
        const unsigned char* glyph = kDigits[text[size_t(d)] - '0'];
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (glyph[row] & (0x10 >> col))
                    fillRect(y, frameWidth, left + (d * 6 + col) * scale, top + row * scale, scale, scale, kWhite);
    }
}
