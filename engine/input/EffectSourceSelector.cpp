#include "input/EffectSourceSelector.h"

#include <algorithm>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define CORVEX_SELECTOR_SSE2 1
#endif

namespace corvex {

int CEffectSourceSelector::Reset()
{
    return 1;
}

int CEffectSourceSelector::Process(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    if (!CORVEX_CHECK(m_afParams))
        return 0;
    if (n <= 0)
        return 1;
    const float* afSource = Selected(inL, inR, Param(kInputSelection));
    // NaN would stick in recursive filter memories that nothing clears, and an infinite or huge
    // sample would overflow fixed-point sums or turn later filters non-finite. Each sample is
    // read before its outputs are written: the graph may hand the same memory in and out.
    int i = 0;
#if defined(CORVEX_SELECTOR_SSE2)
    constexpr int kLanes = 4;
    const __m128 vLow = _mm_set1_ps(-kInputCeiling);
    const __m128 vHigh = _mm_set1_ps(kInputCeiling);
    for (; i + kLanes <= n; i += kLanes) {
        const __m128 x = _mm_loadu_ps(afSource + i);
        // max_ps gives its second operand for a NaN, which the ordered mask then zeroes; for the
        // rest, max then min is the clamp, bit for bit.
        const __m128 y = _mm_and_ps(_mm_cmpord_ps(x, x), _mm_min_ps(_mm_max_ps(x, vLow), vHigh));
        _mm_storeu_ps(outL + i, y);
        _mm_storeu_ps(outR + i, y);
    }
#endif
    for (; i < n; ++i) {
        const float x = afSource[i];
        const float y = x == x ? std::clamp(x, -kInputCeiling, kInputCeiling) : 0.0f;
        outL[i] = y;
        outR[i] = y;
    }
    return 1;
}

} // namespace corvex
