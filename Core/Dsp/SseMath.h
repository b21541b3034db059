#pragma once

#include <emmintrin.h>

namespace Harbend {
namespace SseMath {

// Four-wide single-precision sine, cosine and arctangent (Cephes-style
// polynomials). Accurate to a few float ulps for arguments up to a few
// thousand radians.

inline __m128 signMask() { return _mm_castsi128_ps(_mm_set1_epi32(int(0x80000000u))); }

inline void sinCos(__m128 x, __m128* sine, __m128* cosine)
{
    __m128 signSin = _mm_and_ps(x, signMask());
    x = _mm_andnot_ps(signMask(), x);

    // Octant index, rounded up to even.
    __m128 y = _mm_mul_ps(x, _mm_set1_ps(1.27323954473516f));
    __m128i octant = _mm_cvttps_epi32(y);
    octant = _mm_add_epi32(octant, _mm_set1_epi32(1));
    octant = _mm_and_si128(octant, _mm_set1_epi32(~1));
    y = _mm_cvtepi32_ps(octant);

    const __m128 swapSin = _mm_castsi128_ps(_mm_slli_epi32(_mm_and_si128(octant, _mm_set1_epi32(4)), 29));
    const __m128 polyMask = _mm_castsi128_ps(
        _mm_cmpeq_epi32(_mm_and_si128(octant, _mm_set1_epi32(2)), _mm_setzero_si128()));
    const __m128i cosOctant = _mm_sub_epi32(octant, _mm_set1_epi32(2));
    const __m128 signCos = _mm_castsi128_ps(_mm_slli_epi32(_mm_andnot_si128(cosOctant, _mm_set1_epi32(4)), 29));
    signSin = _mm_xor_ps(signSin, swapSin);

    // x - y * pi/4 in three parts, so that the reduction keeps its precision.
    x = _mm_add_ps(x, _mm_mul_ps(y, _mm_set1_ps(-0.78515625f)));
    x = _mm_add_ps(x, _mm_mul_ps(y, _mm_set1_ps(-2.4187564849853515625e-4f)));
    x = _mm_add_ps(x, _mm_mul_ps(y, _mm_set1_ps(-3.77489497744594108e-8f)));

    const __m128 z = _mm_mul_ps(x, x);
    __m128 c = _mm_set1_ps(2.443315711809948e-5f);
    c = _mm_add_ps(_mm_mul_ps(c, z), _mm_set1_ps(-1.388731625493765e-3f));
    c = _mm_add_ps(_mm_mul_ps(c, z), _mm_set1_ps(4.166664568298827e-2f));
    c = _mm_mul_ps(_mm_mul_ps(c, z), z);
    c = _mm_sub_ps(c, _mm_mul_ps(z, _mm_set1_ps(0.5f)));
    c = _mm_add_ps(c, _mm_set1_ps(1.0f));

    __m128 s = _mm_set1_ps(-1.9515295891e-4f);
    s = _mm_add_ps(_mm_mul_ps(s, z), _mm_set1_ps(8.3321608736e-3f));
    s = _mm_add_ps(_mm_mul_ps(s, z), _mm_set1_ps(-1.6666654611e-1f));
    s = _mm_add_ps(_mm_mul_ps(_mm_mul_ps(s, z), x), x);

    const __m128 sinResult = _mm_or_ps(_mm_and_ps(polyMask, s), _mm_andnot_ps(polyMask, c));
    const __m128 cosResult = _mm_or_ps(_mm_and_ps(polyMask, c), _mm_andnot_ps(polyMask, s));
    *sine = _mm_xor_ps(sinResult, signSin);
    *cosine = _mm_xor_ps(cosResult, signCos);
}

inline __m128 cos(__m128 x)
{
    __m128 s, c;
    sinCos(x, &s, &c);
    return c;
}

inline __m128 atan(__m128 x)
{
    const __m128 sign = _mm_and_ps(x, signMask());
    x = _mm_andnot_ps(signMask(), x);

    // Reduce at tan(3 pi/8) and tan(pi/8).
    const __m128 above3 = _mm_cmpgt_ps(x, _mm_set1_ps(2.414213562373095f));
    const __m128 above1 = _mm_andnot_ps(above3, _mm_cmpgt_ps(x, _mm_set1_ps(0.4142135623730950f)));
    // One division: -1/x above tan(3 pi/8), (x-1)/(x+1) above tan(pi/8).
    const __m128 one = _mm_set1_ps(1.0f);
    __m128 numerator = _mm_or_ps(_mm_and_ps(above1, _mm_sub_ps(x, one)), _mm_andnot_ps(above1, x));
    numerator = _mm_or_ps(_mm_and_ps(above3, _mm_set1_ps(-1.0f)), _mm_andnot_ps(above3, numerator));
    __m128 denominator = _mm_or_ps(_mm_and_ps(above1, _mm_add_ps(x, one)), _mm_andnot_ps(above1, one));
    denominator = _mm_or_ps(_mm_and_ps(above3, x), _mm_andnot_ps(above3, denominator));
    x = _mm_div_ps(numerator, denominator);
    const __m128 base = _mm_or_ps(_mm_and_ps(above3, _mm_set1_ps(1.57079632679489661923f)),
                                  _mm_and_ps(above1, _mm_set1_ps(0.78539816339744830962f)));

    const __m128 z = _mm_mul_ps(x, x);
    __m128 p = _mm_set1_ps(8.05374449538e-2f);
    p = _mm_sub_ps(_mm_mul_ps(p, z), _mm_set1_ps(1.38776856032e-1f));
    p = _mm_add_ps(_mm_mul_ps(p, z), _mm_set1_ps(1.99777106478e-1f));
    p = _mm_sub_ps(_mm_mul_ps(p, z), _mm_set1_ps(3.33329491539e-1f));
    p = _mm_add_ps(_mm_mul_ps(_mm_mul_ps(p, z), x), x);
    return _mm_xor_ps(_mm_add_ps(p, base), sign);
}

// atan2(y, x) in -pi..pi; (0, 0) gives 0 and x = 0 gives +-pi/2.
inline __m128 atan2(__m128 y, __m128 x)
{
    const __m128 zero = _mm_setzero_ps();
    const __m128 pi = _mm_set1_ps(3.14159265358979323846f);
    const __m128 xZero = _mm_cmpeq_ps(x, zero);
    const __m128 xNegative = _mm_cmplt_ps(x, zero);
    const __m128 yNonNegative = _mm_cmpge_ps(y, zero);

    __m128 result = atan(_mm_andnot_ps(xZero, _mm_div_ps(y, x)));
    const __m128 turn = _mm_or_ps(_mm_and_ps(yNonNegative, pi), _mm_andnot_ps(yNonNegative, _mm_sub_ps(zero, pi)));
    result = _mm_add_ps(result, _mm_and_ps(xNegative, turn));

    const __m128 halfPi = _mm_set1_ps(1.57079632679489661923f);
    const __m128 axis = _mm_or_ps(_mm_and_ps(_mm_cmpgt_ps(y, zero), halfPi),
                                  _mm_and_ps(_mm_cmplt_ps(y, zero), _mm_sub_ps(zero, halfPi)));
    return _mm_or_ps(_mm_and_ps(xZero, axis), _mm_andnot_ps(xZero, result));
}

} // namespace SseMath
} // namespace Harbend
