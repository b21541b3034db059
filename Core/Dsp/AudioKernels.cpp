#include "Core/Dsp/AudioKernels.h"

#include <emmintrin.h>

#include <algorithm>

namespace Harbend {

// The vector forms repeat the plain forms' operations in the same order, and
// their limits take the same value as std::min/std::max when a lane is NaN.

void AudioKernels::adjustVolume(float* data, unsigned count, float gain)
{
    for (unsigned i = 0; i < count; ++i)
        data[i] *= gain;
}

void AudioKernels::adjustVolumeSSE(float* data, unsigned count, float gain)
{
    const __m128 g = _mm_set1_ps(gain);
    for (unsigned i = 0; i < count; i += 4)
        _mm_store_ps(data + i, _mm_mul_ps(_mm_load_ps(data + i), g));
}

void AudioKernels::mixChannels(float* a, const float* b, unsigned count, float gain)
{
    for (unsigned i = 0; i < count; ++i) {
        const float t = b[i] * gain;
        const float mixed = a[i] + t - a[i] * t;
        a[i] = std::min(1.0f, std::max(-1.0f, mixed));
    }
}

void AudioKernels::mixChannelsSSE(float* a, const float* b, unsigned count, float gain)
{
    const __m128 g = _mm_set1_ps(gain);
    const __m128 high = _mm_set1_ps(1.0f);
    const __m128 low = _mm_set1_ps(-1.0f);
    for (unsigned i = 0; i < count; i += 4) {
        const __m128 x = _mm_load_ps(a + i);
        const __m128 t = _mm_mul_ps(_mm_load_ps(b + i), g);
        const __m128 mixed = _mm_sub_ps(_mm_add_ps(x, t), _mm_mul_ps(x, t));
        // maxps gives its second operand for a NaN lane, as std::max(-1, NaN) does.
        _mm_store_ps(a + i, _mm_min_ps(_mm_max_ps(mixed, low), high));
    }
}

void AudioKernels::convertFloatToI16(qint16* out, const float* in, unsigned offset, unsigned count, float gain)
{
    const float scale = gain * 32768.0f;
    for (unsigned i = 0; i < count; ++i) {
        float v = in[offset + i] * scale + 0.5f;
        if (!(v == v))
            v = 0.0f;
        // Limited before the cut, so that no value overflows the integer.
        v = std::min(32767.0f, std::max(-32768.0f, v));
        out[i] = static_cast<qint16>(static_cast<int>(v));
    }
}

void AudioKernels::convertFloatToI16SSE2(qint16* out, const float* in, unsigned offset, unsigned count, float gain)
{
    const __m128 scale = _mm_set1_ps(gain * 32768.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 high = _mm_set1_ps(32767.0f);
    const __m128 low = _mm_set1_ps(-32768.0f);
    // NaN lanes become 0; the limits keep the cut inside the integer range.
    const auto toInt = [&](__m128 x) {
        __m128 v = _mm_add_ps(_mm_mul_ps(x, scale), half);
        v = _mm_and_ps(v, _mm_cmpord_ps(v, v));
        return _mm_cvttps_epi32(_mm_min_ps(high, _mm_max_ps(low, v)));
    };
    const float* source = in + offset;
    for (unsigned i = 0; i + 8 <= count; i += 8) {
        const __m128i packed = _mm_packs_epi32(toInt(_mm_load_ps(source + i)), toInt(_mm_load_ps(source + i + 4)));
        _mm_store_si128(reinterpret_cast<__m128i*>(out + i), packed);
    }
}

} // namespace Harbend
