#include "Core/Dsp/Complex.h"

#include "Core/Base/Processor.h"
#include "Core/Dsp/SseMath.h"

#include <cmath>

namespace Harbend {
namespace Complex {

namespace {

float phaseOf(float re, float im)
{
    if (re == 0.0f)
        return im > 0.0f ? float(M_PI_2) : im < 0.0f ? -float(M_PI_2) : 0.0f;
    return std::atan2(im, re);
}

} // namespace

void toPolar(float* re, float* im, unsigned n)
{
    unsigned i = 0;
    if (Processor::has(Processor::SSE2)) {
        for (; i + 4 <= n; i += 4) {
            const __m128 r = _mm_load_ps(re + i);
            const __m128 m = _mm_load_ps(im + i);
            _mm_store_ps(im + i, _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(r, r), _mm_mul_ps(m, m))));
            _mm_store_ps(re + i, SseMath::atan2(m, r));
        }
    }
    for (; i < n; ++i) {
        const float r = re[i];
        const float m = im[i];
        im[i] = std::sqrt(r * r + m * m);
        re[i] = phaseOf(r, m);
    }
}

void toRealImaginary(float* phase, float* magnitude, unsigned n)
{
    unsigned i = 0;
    if (Processor::has(Processor::SSE2)) {
        for (; i + 4 <= n; i += 4) {
            __m128 s, c;
            SseMath::sinCos(_mm_load_ps(phase + i), &s, &c);
            const __m128 m = _mm_load_ps(magnitude + i);
            _mm_store_ps(phase + i, _mm_mul_ps(m, c));
            _mm_store_ps(magnitude + i, _mm_mul_ps(m, s));
        }
    }
    for (; i < n; ++i) {
        const float p = phase[i];
        const float m = magnitude[i];
        phase[i] = m * std::cos(p);
        magnitude[i] = m * std::sin(p);
    }
}

} // namespace Complex
} // namespace Harbend
