#pragma once

#include <cmath>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define CORVEX_PEAK_SSE2 1
#endif

namespace corvex {

#if defined(CORVEX_PEAK_SSE2)
// The largest of four lanes holding no NaN, which then meet in any order.
inline float LargestLane(__m128 v)
{
    v = _mm_max_ps(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 3, 2)));
    return _mm_cvtss_f32(_mm_max_ss(v, _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 0, 0, 1))));
}
#endif

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
        fPeak = LargestLane(vPeak);
    }
#endif
    for (; i < n; ++i) {
        const float a = std::fabs(afSamples[i]);
        fPeak = a > fPeak ? a : fPeak;
    }
    return fPeak;
}

// LargestMagnitude of two channels of n samples each, in one pass.
inline void LargestMagnitudes(const float* afFirst, const float* afSecond, int n, float& fFirst, float& fSecond)
{
    int i = 0;
    float fPeakA = 0.0f, fPeakB = 0.0f;
#if defined(CORVEX_PEAK_SSE2)
    constexpr int kPeakLanes = 4;
    if (n >= kPeakLanes) {
        const __m128 vMagnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
        __m128 vPeakA = _mm_setzero_ps(), vPeakB = _mm_setzero_ps();
        for (; i + kPeakLanes <= n; i += kPeakLanes) {
            vPeakA = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(afFirst + i), vMagnitude), vPeakA);
            vPeakB = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(afSecond + i), vMagnitude), vPeakB);
        }
        fPeakA = LargestLane(vPeakA);
        fPeakB = LargestLane(vPeakB);
    }
#endif
    for (; i < n; ++i) {
        const float a = std::fabs(afFirst[i]);
        const float b = std::fabs(afSecond[i]);
        fPeakA = a > fPeakA ? a : fPeakA;
        fPeakB = b > fPeakB ? b : fPeakB;
    }
    fFirst = fPeakA;
    fSecond = fPeakB;
}

} // namespace corvex
