#include "Core/Decoder/DiracBs.h"

#include <cstdint>

namespace Harbend {

namespace {

const std::uint32_t kMasks[33] = {0x0u,       0x1u,        0x3u,        0x7u,        0xFu,       0x1Fu,      0x3Fu,
                                  0x7Fu,      0xFFu,       0x1FFu,      0x3FFu,      0x7FFu,     0xFFFu,     0x1FFFu,
                                  0x3FFFu,    0x7FFFu,     0xFFFFu,     0x1FFFFu,    0x3FFFFu,   0x7FFFFu,   0xFFFFFu,
                                  0x1FFFFFu,  0x3FFFFFu,   0x7FFFFFu,   0xFFFFFFu,   0x1FFFFFFu, 0x3FFFFFFu, 0x7FFFFFFu,
                                  0xFFFFFFFu, 0x1FFFFFFFu, 0x3FFFFFFFu, 0x7FFFFFFFu, 0xFFFFFFFFu};

} // namespace

DiracBs::DiracBs(const unsigned char* data, long size)
    : start(data), pos(data), end(data && size > 0 ? data + size : data), bitsLeft(8), m_failed(false)
{
}

int DiracBs::read(int bits)
{
    if (bits < 1 || bits > 32 || pos >= end)
        return 0;
    std::uint32_t result = 0;
    int wanted = bits;
    while (wanted > 0 && pos < end) {
        const int take = wanted < bitsLeft ? wanted : bitsLeft;
        const std::uint32_t chunk = (static_cast<std::uint32_t>(*pos) >> (bitsLeft - take)) & kMasks[take];
        result = take == 32 ? chunk : ((result << take) | chunk);
        wanted -= take;
        bitsLeft -= take;
        if (bitsLeft == 0) {
            ++pos;
            bitsLeft = 8;
        }
    }
    // The data ended: what was read keeps its high positions.
    if (wanted > 0)
        result = wanted == 32 ? 0 : (result << wanted);
    return static_cast<int>(result);
}

unsigned DiracBs::uint()
{
    std::uint64_t value = 0;
    int count = 0;
    for (;;) {
        if (pos >= end) {
            m_failed = true;
            return 0;
        }
        if (read(1))
            break;
        if (count >= 32) {
            m_failed = true;
            return 0;
        }
        value = value * 2 + static_cast<std::uint64_t>(read(1));
        ++count;
    }
    const std::uint64_t result = value + (std::uint64_t(1) << count) - 1;
    if (m_failed || result > 0xFFFFFFFFu) {
        m_failed = true;
        return 0;
    }
    return static_cast<unsigned>(result);
}

} // namespace Harbend
