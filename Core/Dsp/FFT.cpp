#include "Core/Dsp/FFT.h"

#include "Core/Base/Memory.h"
#include "Core/Base/Processor.h"
#include "Core/Dsp/AllocateFloats.h"

#include <xmmintrin.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <new>

namespace Harbend {

namespace {

unsigned log2Of(unsigned n)
{
    unsigned bits = 0;
    while ((1u << bits) < n)
        ++bits;
    return bits;
}

// a + b w and a - b w for four values; the sums go to one place, the differences to another.
inline void butterfly(__m128 ar, __m128 ai, __m128 xr, __m128 xi, __m128 wr, __m128 wi, float* sumRe, float* sumIm,
                      float* diffRe, float* diffIm)
{
    const __m128 br = _mm_sub_ps(_mm_mul_ps(xr, wr), _mm_mul_ps(xi, wi));
    const __m128 bi = _mm_add_ps(_mm_mul_ps(xr, wi), _mm_mul_ps(xi, wr));
    _mm_store_ps(sumRe, _mm_add_ps(ar, br));
    _mm_store_ps(sumIm, _mm_add_ps(ai, bi));
    _mm_store_ps(diffRe, _mm_sub_ps(ar, br));
    _mm_store_ps(diffIm, _mm_sub_ps(ai, bi));
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
    sinTables = new (std::nothrow) float*[tables + 1]();
    cosTables = new (std::nothrow) float*[tables + 1]();
    if (sinTables && cosTables) {
        scratchReal = allocateFloats(n);
        sinTables[0] = allocateFloats(n > 4 ? n - 4 : 1);
        cosTables[0] = allocateFloats(n > 4 ? n - 4 : 1);
    }
    if (!sinTables || !cosTables || !scratchReal || !sinTables[0] || !cosTables[0]) {
        // A refused heap leaves a transform that does nothing; its owner
        // sees the null scratch.
        release();
        return;
    }
    scratchImaginary = scratchReal + n / 2;

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

FFT::~FFT() { release(); }

void FFT::release()
{
    if (scratchReal)
        Memory::free(scratchReal);
    for (float** tables : {sinTables, cosTables}) {
        if (tables && tables[0])
            Memory::free(tables[0]);
        delete[] tables;
    }
    scratchReal = scratchImaginary = nullptr;
    sinTables = cosTables = nullptr;
}

void FFT::stage(float* re, float* im, unsigned groups)
{
    const unsigned length = size / groups;
    const unsigned h = length / 2;
    const unsigned half = size / 2;
    const unsigned table = groups >= 4 ? log2Of(groups) - 2 : 0; // s = 2G; the first table is s = 8
    if (vectorised && h < 4) {
        // Short groups: four neighbouring groups (h = 1) or two (h = 2) per step.
        const float* cosines = cosTables[table];
        const float* sines = sinTables[table];
        for (unsigned g = 0; g < groups; g += 4 / h) {
            const unsigned from = g * length;
            const unsigned to = g * h;
            __m128 ar, ai, xr, xi, wr, wi;
            const __m128 r0 = _mm_load_ps(re + from), r1 = _mm_load_ps(re + from + 4);
            const __m128 i0 = _mm_load_ps(im + from), i1 = _mm_load_ps(im + from + 4);
            if (h == 1) {
                ar = _mm_shuffle_ps(r0, r1, _MM_SHUFFLE(2, 0, 2, 0));
                xr = _mm_shuffle_ps(r0, r1, _MM_SHUFFLE(3, 1, 3, 1));
                ai = _mm_shuffle_ps(i0, i1, _MM_SHUFFLE(2, 0, 2, 0));
                xi = _mm_shuffle_ps(i0, i1, _MM_SHUFFLE(3, 1, 3, 1));
                wr = _mm_load_ps(cosines + g);
                wi = _mm_load_ps(sines + g);
            } else {
                ar = _mm_movelh_ps(r0, r1);
                xr = _mm_movehl_ps(r1, r0);
                ai = _mm_movelh_ps(i0, i1);
                xi = _mm_movehl_ps(i1, i0);
                wr = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(cosines + g));
                wi = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(sines + g));
                wr = _mm_unpacklo_ps(wr, wr);
                wi = _mm_unpacklo_ps(wi, wi);
            }
            butterfly(ar, ai, xr, xi, wr, wi, re + to, im + to, scratchReal + to, scratchImaginary + to);
        }
    } else {
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
            const float* aRe = re + g * length;
            const float* aIm = im + g * length;
            const float* bRe = aRe + h;
            const float* bIm = aIm + h;
            // Group g writes its sums below its own inputs, where earlier groups were read.
            float* sumRe = re + g * h;
            float* sumIm = im + g * h;
            float* diffRe = scratchReal + g * h;
            float* diffIm = scratchImaginary + g * h;
            if (vectorised) {
                const __m128 vwr = _mm_set1_ps(wr);
                const __m128 vwi = _mm_set1_ps(wi);
                for (unsigned m = 0; m < h; m += 4) {
                    butterfly(_mm_load_ps(aRe + m), _mm_load_ps(aIm + m), _mm_load_ps(bRe + m), _mm_load_ps(bIm + m),
                              vwr, vwi, sumRe + m, sumIm + m, diffRe + m, diffIm + m);
                }
            } else {
                for (unsigned m = 0; m < h; ++m) {
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
        }
    }
    std::memcpy(re + half, scratchReal, half * sizeof(float));
    std::memcpy(im + half, scratchImaginary, half * sizeof(float));
}

void FFT::fft(float* re, float* im, unsigned n)
{
    if (n != size || !scratchReal)
        return;
    for (unsigned groups = 1; groups < n; groups *= 2)
        stage(re, im, groups);
}

void FFT::ifft(float* re, float* im, unsigned n)
{
    if (n < 4 || !scratchReal) {
        fft(re, im, n);
        return;
    }
    const float divisor = static_cast<float>(n) * std::sqrt(2.0f);
    unsigned i = 0;
    if (vectorised) {
        for (; i + 4 <= n; i += 4)
            _mm_store_ps(im + i, _mm_sub_ps(_mm_setzero_ps(), _mm_load_ps(im + i)));
    }
    for (; i < n; ++i)
        im[i] = -im[i];
    fft(re, im, n);
    i = 0;
    if (vectorised) {
        const __m128 d = _mm_set1_ps(divisor);
        for (; i + 4 <= n; i += 4) {
            _mm_store_ps(re + i, _mm_div_ps(_mm_load_ps(re + i), d));
            _mm_store_ps(im + i, _mm_div_ps(_mm_load_ps(im + i), d));
        }
    }
    for (; i < n; ++i) {
        re[i] /= divisor;
        im[i] /= divisor;
    }
}

} // namespace Harbend
