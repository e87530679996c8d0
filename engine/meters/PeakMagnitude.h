#pragma once

#include <cmath>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define CORVEX_PEAK_SSE2 1
#endif

namespace corvex {

// The largest |x| of n samples, 0.0 for none; a NaN never raises it. The largest value does not
// depend on the order the samples are compared in, so four lanes keep peaks of their own and
// meet at the end.
inline float LargestMagnitude(const float* afSamples, int n)
{
    int i = 0;
    float fPeak = 0.0f;
#if defined(CORVEX_PEAK_SSE2)
    constexpr int kPeakLanes = 4;
    if (n >= kPeakLanes) {
        const __m128 vMagnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
        __m128 vPeak = _mm_setzero_ps();
        // max_ps(a, p) is a > p ? a : p, lane by lane: a NaN a keeps p.
        for (; i + kPeakLanes <= n; i += kPeakLanes)
            vPeak = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(afSamples + i), vMagnitude), vPeak);
        alignas(16) float afPeak[kPeakLanes];
        _mm_store_ps(afPeak, vPeak);
        for (int k = 0; k < kPeakLanes; ++k)
            fPeak = afPeak[k] > fPeak ? afPeak[k] : fPeak;
    }
#endif
    for (; i < n; ++i) {
        const float a = std::fabs(afSamples[i]);
        fPeak = a > fPeak ? a : fPeak;
    }
    return fPeak;
}

} // namespace corvex
