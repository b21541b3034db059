#include "Core/Dsp/FFT.h"

#include "Core/Base/Memory.h"
#include "Core/Base/Processor.h"
#include "Core/Dsp/AllocateFloats.h"

#include <xmmintrin.h>

#include <cmath>
#include <cstring>

namespace Harbend {

namespace {

unsigned log2Of(unsigned n)
{
    unsigned bits = 0;
    while ((1u << bits) < n)
        ++bits;
    return bits;
}

} // namespace

FFT::FFT(unsigned n)
    : size(n),
      scratchReal(nullptr),
      scratchImaginary(nullptr),
      sinTables(nullptr),
      cosTables(nullptr),
      vectorised(Processor::has(Processor::SSE))
{
    const unsigned stages = log2Of(n);
    const unsigned tables = stages > 2 ? stages - 2 : 0;
    scratchReal = allocateFloats(n);
    scratchImaginary = scratchReal + n / 2;
    sinTables = new float*[tables + 1];
    cosTables = new float*[tables + 1];
    sinTables[0] = allocateFloats(n > 4 ? n - 4 : 1);
    cosTables[0] = allocateFloats(n > 4 ? n - 4 : 1);

    // Table of stage size s holds the twiddles e^(-2 pi i k / s), k < s/2.
    unsigned offset = 0;
    unsigned t = 0;
    for (unsigned s = 8; s <= n; s *= 2, ++t) {
        sinTables[t] = sinTables[0] + offset;
        cosTables[t] = cosTables[0] + offset;
        for (unsigned k = 0; k < s / 2; ++k) {
            const double angle = k * (1.0 / s) * (-2.0 * M_PI);
            sinTables[t][k] = static_cast<float>(std::sin(angle));
            cosTables[t][k] = static_cast<float>(std::cos(angle));
        }
        offset += s / 2;
    }
}

FFT::~FFT()
{
    Memory::free(scratchReal);
    Memory::free(sinTables[0]);
    Memory::free(cosTables[0]);
    delete[] sinTables;
    delete[] cosTables;
}

void FFT::stage(float* re, float* im, unsigned groups, bool vectorStage)
{
    const unsigned length = size / groups;
    const unsigned h = length / 2;
    const unsigned half = size / 2;
    const unsigned table = groups >= 4 ? log2Of(groups) - 2 : 0; // s = 2G; the first table is s = 8
    for (unsigned g = 0; g < groups; ++g) {
        float wr = 1.0f;
        float wi = 0.0f;
        if (groups == 2 && g == 1) {
            wr = 0.0f;
            wi = -1.0f;
        } else if (groups >= 4) {
            wr = cosTables[table][g];
            wi = sinTables[table][g];
        }
        float* aRe = re + g * length;
        float* aIm = im + g * length;
        const float* bRe = aRe + h;
        const float* bIm = aIm + h;
        // Group g writes its sums below its own inputs, where earlier groups were read.
        float* sumRe = re + g * h;
        float* sumIm = im + g * h;
        float* diffRe = scratchReal + g * h;
        float* diffIm = scratchImaginary + g * h;
        unsigned m = 0;
        if (vectorStage) {
            const __m128 vwr = _mm_set1_ps(wr);
            const __m128 vwi = _mm_set1_ps(wi);
            for (; m < h; m += 4) {
                const __m128 ar = _mm_load_ps(aRe + m);
                const __m128 ai = _mm_load_ps(aIm + m);
                const __m128 xr = _mm_load_ps(bRe + m);
                const __m128 xi = _mm_load_ps(bIm + m);
                const __m128 br = _mm_sub_ps(_mm_mul_ps(xr, vwr), _mm_mul_ps(xi, vwi));
                const __m128 bi = _mm_add_ps(_mm_mul_ps(xr, vwi), _mm_mul_ps(xi, vwr));
                _mm_store_ps(sumRe + m, _mm_add_ps(ar, br));
                _mm_store_ps(sumIm + m, _mm_add_ps(ai, bi));
                _mm_store_ps(diffRe + m, _mm_sub_ps(ar, br));
                _mm_store_ps(diffIm + m, _mm_sub_ps(ai, bi));
            }
        }
        for (; m < h; ++m) {
            const float ar = aRe[m];
            const float ai = aIm[m];
            const float br = bRe[m] * wr - bIm[m] * wi;
            const float bi = bRe[m] * wi + bIm[m] * wr;
            sumRe[m] = ar + br;
            sumIm[m] = ai + bi;
            diffRe[m] = ar - br;
            diffIm[m] = ai - bi;
        }
    }
    std::memcpy(re + half, scratchReal, half * sizeof(float));
    std::memcpy(im + half, scratchImaginary, half * sizeof(float));
}

void FFT::fft(float* re, float* im, unsigned n)
{
    if (n != size)
        return;
    for (unsigned groups = 1; groups < n; groups *= 2)
        stage(re, im, groups, vectorised && n / groups >= 8);
}

void FFT::ifft(float* re, float* im, unsigned n)
{
    if (n < 4) {
        fft(re, im, n);
        return;
    }
    for (unsigned i = 0; i < n; ++i)
        im[i] = -im[i];
    fft(re, im, n);
    const float divisor = static_cast<float>(n) * std::sqrt(2.0f);
    for (unsigned i = 0; i < n; ++i) {
        re[i] /= divisor;
        im[i] /= divisor;
    }
}

} // namespace Harbend
