#include "Core/Dsp/ScaleFunction.h"

#include "Core/Dsp/SseMath.h"

#include <cmath>

namespace Harbend {
namespace scaleFunction {

namespace {

// Raised-cosine windows: a - b cos(2 pi i / (n - 1)).
const long double kTwoPi = 6.283185307179586476925286766559L;

void raisedCosine(float* data, unsigned n, long double a, long double b)
{
    if (n < 2)
        return;
    const long double step = 1.0L / (n - 1);
    for (unsigned i = 0; i < n; ++i) {
        const long double value = a - b * std::cos(i * step * kTwoPi);
        data[i] = static_cast<float>(data[i] * value);
    }
}

void raisedCosineSSE2(float* data, unsigned n, float a, float b)
{
    if (n < 2)
        return;
    const __m128 twoPi = _mm_set1_ps(6.28318530717958647692f);
    const __m128 last = _mm_set1_ps(static_cast<float>(n - 1));
    const __m128 va = _mm_set1_ps(a);
    const __m128 vb = _mm_set1_ps(b);
    __m128 index = _mm_setr_ps(0.0f, 1.0f, 2.0f, 3.0f);
    const __m128 four = _mm_set1_ps(4.0f);
    for (unsigned i = 0; i < n; i += 4) {
        const __m128 angle = _mm_div_ps(_mm_mul_ps(index, twoPi), last);
        const __m128 value = _mm_sub_ps(va, _mm_mul_ps(vb, SseMath::cos(angle)));
        _mm_store_ps(data + i, _mm_mul_ps(_mm_load_ps(data + i), value));
        index = _mm_add_ps(index, four);
    }
}

} // namespace

void rectangle(float*, unsigned) {}

void hann(float* data, unsigned n) { raisedCosine(data, n, 0.5L, 0.5L); }

void hannSSE2(float* data, unsigned n) { raisedCosineSSE2(data, n, 0.5f, 0.5f); }

void hamming(float* data, unsigned n) { raisedCosine(data, n, 0.53836L, 0.46164L); }

void hammingSSE2(float* data, unsigned n) { raisedCosineSSE2(data, n, 0.53836f, 0.46164f); }

} // namespace scaleFunction
} // namespace Harbend
