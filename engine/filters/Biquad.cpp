#include "filters/Biquad.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#if CORVEX_HAVE_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace corvex {

Biquad::Biquad(int iType, double dDecayTime, double dDelayTime)
    : m_iType(iType), m_dDelayTime(dDelayTime), m_dDecayTime(dDecayTime)
{
    // calloc hands out untouched zero pages: only the part of the line a rate really uses
    // ever becomes resident.
    m_afDelayLine = static_cast<float*>(std::calloc(BIQUADLINESIZE, sizeof(float)));
    if (!m_afDelayLine)
        throw std::bad_alloc();
    m_iLineLength = m_iCapacity;
}

Biquad::~Biquad()
{
    std::free(m_afDelayLine);
}

namespace {

// Equal as stored: -0.0 and 0.0 differ, a NaN equals the same NaN.
bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

void Biquad::SetFilter(int iType, double dFrequency, double dQ, double dGainDb)
{
    // Owners set their sections every block; the coefficients (pow, tan) follow only a change.
    if (m_bCoefficientsCurrent && iType == m_iType && SameBits(dFrequency, m_dFrequency) && SameBits(dQ, m_dQ) &&
        SameBits(dGainDb, m_dGain))
        return;
    m_iType = iType;
    m_dFrequency = dFrequency;
    m_dQ = dQ;
    m_dGain = dGainDb;
    ComputeCoefficients();
}

void Biquad::SetDelayTime(double dSeconds)
{
    if (m_bCoefficientsCurrent && SameBits(dSeconds, m_dDelayTime))
        return;
    m_dDelayTime = dSeconds;
    ComputeCoefficients();
}

void Biquad::SetDecayTime(double dSeconds)
{
    if (m_bCoefficientsCurrent && SameBits(dSeconds, m_dDecayTime))
        return;
    m_dDecayTime = dSeconds;
    ComputeCoefficients();
}

void Biquad::ComputeCoefficients()
{
    m_bCoefficientsCurrent = true;
    ++m_uSettingsStamp;
    if (m_iType == kComb || m_iType == kAllPass) {
        // Falls by 60 dB over the decay time. A decay of 0 gives an exponent of +inf and g = 0.
        const double g = std::pow(0.001, m_dDelayTime / m_dDecayTime);
        m_dCombGain = g == g ? g : 0.0; // 0/0 (both times 0): no feedback
        return;
    }
    if (m_iType == kDelay) {
        m_dCombGain = 0.0;
        return;
    }
    if (m_iType < kLowPass || m_iType > kHighShelf)
        return;

    double dFrequency = m_dFrequency;
    if (!(dFrequency <= kMaxNormalisedFrequency)) // also catches NaN
        dFrequency = kMaxNormalisedFrequency;
    if (dFrequency < 0.0)
        dFrequency = 0.0;

    const double V = std::pow(10.0, std::fabs(m_dGain) / 20.0);
    const double K = std::tan(M_PI * dFrequency);
    const double Q = m_dQ;
    const double K2 = K * K;
    const double kSqrt2 = std::sqrt(2.0);
    const double dSqrt2V = std::sqrt(2.0 * V);
    double N = 1.0 / (1.0 + K / Q + K2);

    switch (m_iType) {
    case kLowPass:
        m_dB0 = K2 * N;
        m_dB1 = 2.0 * m_dB0;
        m_dB2 = m_dB0;
        m_dA1 = 2.0 * (K2 - 1.0) * N;
        m_dA2 = (1.0 - K / Q + K2) * N;
        break;
    case kHighPass:
        m_dB0 = N;
        m_dB1 = -2.0 * m_dB0;
        m_dB2 = m_dB0;
        m_dA1 = 2.0 * (K2 - 1.0) * N;
        m_dA2 = (1.0 - K / Q + K2) * N;
        break;
    case kBandPass:
        m_dB0 = K / Q * N;
        m_dB1 = 0.0;
        m_dB2 = -m_dB0;
        m_dA1 = 2.0 * (K2 - 1.0) * N;
        m_dA2 = (1.0 - K / Q + K2) * N;
        break;
    case kNotch:
        m_dB0 = (1.0 + K2) * N;
        m_dB1 = 2.0 * (K2 - 1.0) * N;
        m_dB2 = m_dB0;
        m_dA1 = m_dB1;
        m_dA2 = (1.0 - K / Q + K2) * N;
        break;
    case kPeak:
        if (m_dGain >= 0.0) {
            m_dB0 = (1.0 + V / Q * K + K2) * N;
            m_dB1 = 2.0 * (K2 - 1.0) * N;
            m_dB2 = (1.0 - V / Q * K + K2) * N;
            m_dA1 = m_dB1;
            m_dA2 = (1.0 - K / Q + K2) * N;
        } else {
            N = 1.0 / (1.0 + V / Q * K + K2);
            m_dB0 = (1.0 + K / Q + K2) * N;
            m_dB1 = 2.0 * (K2 - 1.0) * N;
            m_dB2 = (1.0 - K / Q + K2) * N;
            m_dA1 = m_dB1;
            m_dA2 = (1.0 - V / Q * K + K2) * N;
        }
        break;
    case kLowShelf:
        if (m_dGain >= 0.0) {
            N = 1.0 / (1.0 + kSqrt2 * K + K2);
            m_dB0 = (1.0 + dSqrt2V * K + V * K2) * N;
            m_dB1 = 2.0 * (V * K2 - 1.0) * N;
            m_dB2 = (1.0 - dSqrt2V * K + V * K2) * N;
            m_dA1 = 2.0 * (K2 - 1.0) * N;
            m_dA2 = (1.0 - kSqrt2 * K + K2) * N;
        } else {
            N = 1.0 / (1.0 + dSqrt2V * K + V * K2);
            m_dB0 = (1.0 + kSqrt2 * K + K2) * N;
            m_dB1 = 2.0 * (K2 - 1.0) * N;
            m_dB2 = (1.0 - kSqrt2 * K + K2) * N;
            m_dA1 = 2.0 * (V * K2 - 1.0) * N;
            m_dA2 = (1.0 - dSqrt2V * K + V * K2) * N;
        }
        break;
    case kHighShelf:
        if (m_dGain >= 0.0) {
            N = 1.0 / (1.0 + kSqrt2 * K + K2);
            m_dB0 = (V + dSqrt2V * K + K2) * N;
            m_dB1 = 2.0 * (K2 - V) * N;
            m_dB2 = (V - dSqrt2V * K + K2) * N;
            m_dA1 = 2.0 * (K2 - 1.0) * N;
            m_dA2 = (1.0 - kSqrt2 * K + K2) * N;
        } else {
            N = 1.0 / (V + dSqrt2V * K + K2);
            m_dB0 = (1.0 + kSqrt2 * K + K2) * N;
            m_dB1 = 2.0 * (K2 - 1.0) * N;
            m_dB2 = (1.0 - kSqrt2 * K + K2) * N;
            m_dA1 = 2.0 * (K2 - V) * N;
            m_dA2 = (V - dSqrt2V * K + K2) * N;
        }
        break;
    default:
        break;
    }
}

int Biquad::Reset()
{
    // Only the entries written since the last clear can be non-zero: a reset after little or no
    // audio (hosts activate several times before playing) clears little or nothing, and
    // untouched pages stay unmapped.
    ++m_uSettingsStamp;
    m_iLineLength = m_iCapacity;
    if (m_afDelayLine && m_iDirtyEnd > 0)
        std::memset(m_afDelayLine, 0, sizeof(float) * static_cast<size_t>(m_iDirtyEnd));
    m_iDirtyEnd = 0;
    m_iWriteIndex = 0;
    return 1;
}

int Biquad::SetSampleRate(const double* pfSampleRate)
{
    if (!CORVEX_CHECK(pfSampleRate))
        return 0;
    const float fCapacity = static_cast<float>(*pfSampleRate) * kLineSeconds;
    // Round first, then compare: a rate that rounds to the full line is not an overflow.
    if (!(std::round(fCapacity) <= static_cast<float>(BIQUADLINESIZE)) && fCapacity == fCapacity) {
        CORVEX_FAIL();
        m_iCapacity = BIQUADLINESIZE;
    } else {
        m_iCapacity = SizeForRate(static_cast<float>(*pfSampleRate), kLineSeconds, BIQUADLINESIZE, false);
    }
    if (m_iCapacity < 1)
        m_iCapacity = 1;
    ComputeCoefficients();
    return CMyEffect::SetSampleRate(pfSampleRate);
}

void Biquad::ProcessRun(const float* afIn, float* afOut, int n)
{
#if CORVEX_HAVE_AVX2_KERNELS
    if (cpu::Active() == cpu::Level::kAvx2) {
        ProcessRunAvx2(afIn, afOut, n);
        return;
    }
#endif
    ProcessRunPortable<false>(afIn, afOut, n);
}

void Biquad::ProcessRunsSummed(Biquad* aSections, int iCount, const float* afIn, float* afSum, int n)
{
#if CORVEX_HAVE_AVX2_KERNELS
    if (cpu::Active() == cpu::Level::kAvx2) {
        RunsSummedAvx2(aSections, iCount, afIn, afSum, n);
        return;
    }
#endif
    for (int s = 0; s < iCount; ++s)
        aSections[s].ProcessRunPortable<true>(afIn, afSum, n);
}

void Biquad::ProcessRunPair(Biquad& a, Biquad& b, const float* afInA, const float* afInB, float* afOutA, float* afOutB,
                            int n)
{
#if CORVEX_HAVE_AVX2_KERNELS
    if (cpu::Active() == cpu::Level::kAvx2) {
        RunPairAvx2(a, b, afInA, afInB, afOutA, afOutB, n);
        return;
    }
#endif
    a.ProcessRunPortable<false>(afInA, afOutA, n);
    b.ProcessRunPortable<false>(afInB, afOutB, n);
}

void Biquad::ProcessRunsSummedPair(Biquad* aFirst, Biquad* aSecond, int iCount, const float* afInFirst,
                                   const float* afInSecond, float* afSumFirst, float* afSumSecond, int n)
{
#if CORVEX_HAVE_AVX2_KERNELS
    if (cpu::Active() == cpu::Level::kAvx2) {
        RunsSummedPairAvx2(aFirst, aSecond, iCount, afInFirst, afInSecond, afSumFirst, afSumSecond, n);
        return;
    }
#endif
    ProcessRunsSummed(aFirst, iCount, afInFirst, afSumFirst, n);
    ProcessRunsSummed(aSecond, iCount, afInSecond, afSumSecond, n);
}

bool Biquad::PlanReverbRun(CReverbPlan& plan, const CReverbRow& first, const CReverbRow& second, int iCombs,
                           int iAllPasses)
{
    plan.m_bCurrent = false;
    const int iSections = iCombs + iAllPasses;
    if (iCombs < 1 || iAllPasses < 0 || iSections > kMaxReverbSections)
        return false;
    const Biquad& lead = first.aCombs[0];
    const double* const pdRate = lead.m_pfSampleRate;
    const int L = lead.m_iLineLength;
    const int w = lead.m_iWriteIndex;
    if (!pdRate || L < 1)
        return false;
    const float fRate = static_cast<float>(*pdRate);
    bool bLinesMarked = true;
    for (int s = 0; s < iSections; ++s) {
        const bool bComb = s < iCombs;
        const Biquad* const apPair[2] = {bComb ? &first.aCombs[s] : &first.aAllPasses[s - iCombs],
                                         bComb ? &second.aCombs[s] : &second.aAllPasses[s - iCombs]};
        for (int c = 0; c < 2; ++c) {
            const Biquad& section = *apPair[c];
            if (section.m_iType != (bComb ? kComb : kAllPass) || !section.m_afDelayLine ||
                section.m_pfSampleRate != pdRate || section.m_iLineLength != L || section.m_iWriteIndex != w)
                return false;
            plan.m_aauStamp[c][s] = section.m_uSettingsStamp;
            plan.m_aapfLine[c][s] = section.m_afDelayLine;
            plan.m_aafGain[c][s] = static_cast<float>(section.m_dCombGain);
            bLinesMarked = bLinesMarked && section.m_iDirtyEnd >= L;
        }
        // As RunPairedAvx2: the lines pair up only at the same delay (never NaN, then).
        const float fDelay = fRate * static_cast<float>(apPair[0]->m_dDelayTime);
        if (!(fRate * static_cast<float>(apPair[1]->m_dDelayTime) == fDelay))
            return false;
        plan.m_afDelay[s] = fDelay;
        if (s == 0 || fDelay < plan.m_fMinDelay)
            plan.m_fMinDelay = fDelay;
        if (s == 0 || fDelay > plan.m_fMaxDelay)
            plan.m_fMaxDelay = fDelay;
    }
    plan.m_apCombs[0] = first.aCombs;
    plan.m_apCombs[1] = second.aCombs;
    plan.m_apAllPasses[0] = first.aAllPasses;
    plan.m_apAllPasses[1] = second.aAllPasses;
    plan.m_iCombs = iCombs;
    plan.m_iAllPasses = iAllPasses;
    plan.m_pdRate = pdRate;
    plan.m_dRate = *pdRate;
    plan.m_iLineLength = L;
    plan.m_fLength = static_cast<float>(L);
    plan.m_bLinesMarked = bLinesMarked;
    plan.m_bCurrent = true;
    return true;
}

inline bool Biquad::ReverbPlanFits(const CReverbPlan& plan, const CReverbRow& first, const CReverbRow& second, int iCombs,
                                   int iAllPasses)
{
    return plan.m_bCurrent && plan.m_apCombs[0] == first.aCombs && plan.m_apCombs[1] == second.aCombs &&
           plan.m_apAllPasses[0] == first.aAllPasses && plan.m_apAllPasses[1] == second.aAllPasses &&
           plan.m_iCombs == iCombs && plan.m_iAllPasses == iAllPasses && *plan.m_pdRate == plan.m_dRate;
}

template <int kCombs, int kAllPasses>
inline bool Biquad::AdvanceReverbPlan(CReverbPlan& plan, const CReverbRow& first, const CReverbRow& second,
                                      int iCombsAny, int iAllPassesAny, int w, int n)
{
    const int iCombs = kCombs > 0 ? kCombs : iCombsAny;
    const int iAllPasses = kCombs > 0 ? kAllPasses : iAllPassesAny;
    const int L = plan.m_iLineLength;
    const int iNext = w + n < L ? w + n : w + n - L;
    const int iEnd = n < L - w ? w + n : L;
    const bool bMark = !plan.m_bLinesMarked;
    // The stamps stand for every setting the plan took; the positions move with each run.
    const auto advance = [&](Biquad& a, Biquad& b, int s) {
        if (a.m_uSettingsStamp != plan.m_aauStamp[0][s] || b.m_uSettingsStamp != plan.m_aauStamp[1][s] ||
            a.m_iWriteIndex != w || b.m_iWriteIndex != w)
            return false;
        a.m_iWriteIndex = iNext;
        b.m_iWriteIndex = iNext;
        if (bMark) {
            a.MarkWrittenTo(iEnd);
            b.MarkWrittenTo(iEnd);
        }
        return true;
    };
    int s = 0;
#pragma GCC unroll 8
    for (; s < iCombs; ++s)
        if (!advance(first.aCombs[s], second.aCombs[s], s))
            break;
    if (s == iCombs) {
#pragma GCC unroll 8
        for (; s < iCombs + iAllPasses; ++s)
            if (!advance(first.aAllPasses[s - iCombs], second.aAllPasses[s - iCombs], s))
                break;
    }
    if (s == iCombs + iAllPasses) {
        plan.m_bLinesMarked = plan.m_bLinesMarked || iEnd == L;
        return true;
    }
    // The run goes section by section after all: the positions go back (the entries marked are
    // the ones it writes).
    for (int t = 0; t < s; ++t) {
        Biquad* const apPair[2] = {t < iCombs ? &first.aCombs[t] : &first.aAllPasses[t - iCombs],
                                   t < iCombs ? &second.aCombs[t] : &second.aAllPasses[t - iCombs]};
        apPair[0]->m_iWriteIndex = w;
        apPair[1]->m_iWriteIndex = w;
    }
    return false;
}

void Biquad::ProcessReverbRunPair(CReverbPlan& plan, const CReverbRow& first, const CReverbRow& second, int iCombs,
                                  int iAllPasses, int n)
{
#if CORVEX_HAVE_AVX2_KERNELS
    if (cpu::Active() == cpu::Level::kAvx2) {
        ReverbRunPairAvx2(plan, first, second, iCombs, iAllPasses, n);
        return;
    }
#endif
    float afSumFirst[kMaxRun], afSumSecond[kMaxRun];
    for (int iStart = 0; iStart < n; iStart += kMaxRun) {
        const int m = n - iStart < kMaxRun ? n - iStart : kMaxRun;
        std::fill_n(afSumFirst, m, 0.0f);
        std::fill_n(afSumSecond, m, 0.0f);
        for (int s = 0; s < iCombs; ++s) {
            first.aCombs[s].ProcessRunPortable<true>(first.afIn + iStart, afSumFirst, m);
            second.aCombs[s].ProcessRunPortable<true>(second.afIn + iStart, afSumSecond, m);
        }
        for (int s = 0; s < iAllPasses; ++s) {
            first.aAllPasses[s].ProcessRunPortable<false>(afSumFirst, first.apfOut[s] + iStart, m);
            second.aAllPasses[s].ProcessRunPortable<false>(afSumSecond, second.apfOut[s] + iStart, m);
        }
    }
}

template <bool kSum>
void Biquad::ProcessRunPortable(const float* afIn, float* afOut, int n)
{
    if (m_iType < kComb || m_iType > kDelay || !(m_afDelayLine && m_iLineLength >= 1 && m_pfSampleRate)) {
        for (int k = 0; k < n; ++k) {
            const float y = ProcessSample(afIn[k]);
            afOut[k] = kSum ? afOut[k] + y : y;
        }
        return;
    }
    switch (m_iType) {
    case kComb:
        RunDelayType<kComb, kSum>(afIn, afOut, n);
        break;
    case kAllPass:
        RunDelayType<kAllPass, kSum>(afIn, afOut, n);
        break;
    default:
        RunDelayType<kDelay, kSum>(afIn, afOut, n);
        break;
    }
}

#if CORVEX_HAVE_AVX2_KERNELS
namespace {

constexpr int kVector = 8;

// The eight taps of ReadDelayLine at the positions v - fDelay for the write indices
// v = w ... w + 7 (w within the line, the others wrapped into it), lane by lane the same
// operations: the two entries each reads and the weight of the second.
struct CEightTaps {
    __m256i i;
    __m256i j;
    __m256 f;
};

// The taps at the positions vWrite - fDelay, for a line of length vLength whose last entry is
// vLast (both in every lane). False when a position lies over a line length away: the modulo
// path, which the caller then takes sample by sample.
CORVEX_TARGET_AVX2 CORVEX_KERNEL_BODY bool TapsAtAvx2(__m256 vWrite, float fDelay, __m256i vLength, __m256i vLast,
                                                      CEightTaps& taps)
{
    const __m256i vZero = _mm256_setzero_si256();
    const __m256 vPosition = _mm256_sub_ps(vWrite, _mm256_set1_ps(fDelay));
    // floor: truncate, then step down where that rounded up (the mask is -1 there).
    __m256i i = _mm256_cvttps_epi32(vPosition);
    i = _mm256_add_epi32(i, _mm256_castps_si256(_mm256_cmp_ps(vPosition, _mm256_cvtepi32_ps(i), _CMP_LT_OQ)));
    taps.f = _mm256_sub_ps(vPosition, _mm256_cvtepi32_ps(i));
    i = _mm256_add_epi32(i, _mm256_and_si256(_mm256_cmpgt_epi32(vZero, i), vLength));
    i = _mm256_sub_epi32(i, _mm256_and_si256(_mm256_cmpgt_epi32(i, vLast), vLength));
    const __m256i outside = _mm256_or_si256(_mm256_cmpgt_epi32(vZero, i), _mm256_cmpgt_epi32(i, vLast));
    if (!_mm256_testz_si256(outside, outside))
        return false;
    const __m256i j = _mm256_add_epi32(i, _mm256_set1_epi32(1));
    taps.i = i;
    taps.j = _mm256_and_si256(j, _mm256_cmpgt_epi32(vLength, j));
    return true;
}

// The write indices w ... w + 7 (w within the line, the others wrapped into it) as floats.
CORVEX_TARGET_AVX2 CORVEX_KERNEL_BODY __m256 EightWritesAvx2(int w, __m256i vLength, __m256i vLast)
{
    __m256i v = _mm256_add_epi32(_mm256_set1_epi32(w), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    v = _mm256_sub_epi32(v, _mm256_and_si256(_mm256_cmpgt_epi32(v, vLast), vLength));
    return _mm256_cvtepi32_ps(v);
}

// TapsAtAvx2 for the writes at w ... w + 7.
CORVEX_TARGET_AVX2 CORVEX_KERNEL_BODY bool EightTapsAvx2(int L, int w, float fDelay, CEightTaps& taps)
{
    const __m256i vLength = _mm256_set1_epi32(L);
    const __m256i vLast = _mm256_set1_epi32(L - 1);
    return TapsAtAvx2(EightWritesAvx2(w, vLength, vLast), fDelay, vLength, vLast, taps);
}

// One line read at the taps: (1 - f) a + f b.
CORVEX_TARGET_AVX2 CORVEX_KERNEL_BODY __m256 MixedEightAvx2(const float* afLine, const CEightTaps& taps)
{
    const __m256 a = _mm256_i32gather_ps(afLine, taps.i, 4);
    const __m256 b = _mm256_i32gather_ps(afLine, taps.j, 4);
    return _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(_mm256_set1_ps(1.0f), taps.f), a), _mm256_mul_ps(taps.f, b));
}

CORVEX_TARGET_AVX2 CORVEX_KERNEL_BODY void MixEightAvx2(const float* afLine, const CEightTaps& taps, float* afRead)
{
    _mm256_storeu_ps(afRead, MixedEightAvx2(afLine, taps));
}

// Both lines read at the taps of vWrite - fDelay, into registers; where the taps leave the
// line, ReadDelayLine lane by lane (the writes v ... v + 7 lie within the line).
CORVEX_TARGET_AVX2 CORVEX_KERNEL_BODY void ReadEightPairAtAvx2(const Biquad& a, const Biquad& b, const float* afLineA,
                                                               const float* afLineB, __m256 vWrite, __m256i vLength,
                                                               __m256i vLast, int v, float fDelay, __m256& rA, __m256& rB)
{
    CEightTaps taps;
    if (TapsAtAvx2(vWrite, fDelay, vLength, vLast, taps)) {
        rA = MixedEightAvx2(afLineA, taps);
        rB = MixedEightAvx2(afLineB, taps);
        return;
    }
    float afReadA[kVector], afReadB[kVector];
    for (int e = 0; e < kVector; ++e) {
        afReadA[e] = a.ReadDelayLine(static_cast<float>(v + e) - fDelay);
        afReadB[e] = b.ReadDelayLine(static_cast<float>(v + e) - fDelay);
    }
    rA = _mm256_loadu_ps(afReadA);
    rB = _mm256_loadu_ps(afReadB);
}

// x with every NaN lane made 0: a NaN must never circulate.
CORVEX_TARGET_AVX2 CORVEX_KERNEL_BODY __m256 WithoutNaNAvx2(__m256 x)
{
    return _mm256_and_ps(x, _mm256_cmp_ps(x, x, _CMP_ORD_Q));
}

// ReadDelayLine at the eight positions of EightTapsAvx2; false, writing nothing, where it is.
CORVEX_TARGET_AVX2 CORVEX_KERNEL_BODY bool ReadEightAvx2(const float* afLine, int L, int w, float fDelay, float* afRead)
{
    CEightTaps taps;
    if (!EightTapsAvx2(L, w, fDelay, taps))
        return false;
    MixEightAvx2(afLine, taps, afRead);
    return true;
}

// ReadEightAvx2 of two lines of the same length at the same positions: the taps are worked out
// once for both.
CORVEX_TARGET_AVX2 CORVEX_KERNEL_BODY bool ReadEightPairAvx2(const float* afLineA, const float* afLineB, int L, int w,
                                                             float fDelay, float* afReadA, float* afReadB)
{
    CEightTaps taps;
    if (!EightTapsAvx2(L, w, fDelay, taps))
        return false;
    MixEightAvx2(afLineA, taps, afReadA);
    MixEightAvx2(afLineB, taps, afReadB);
    return true;
}

// DelayStep over n samples whose line entries afLine[0 .. n) are contiguous; with kSum the
// outputs are added into afOut.
template <int kType, bool kSum>
CORVEX_TARGET_AVX2 CORVEX_KERNEL_BODY void StepAvx2(const float* afIn, const float* afRead, float g, float* afLine, float* afOut, int n)
{
    const __m256 vGain = _mm256_set1_ps(g);
    const __m256 vMinusGain = _mm256_set1_ps(-g);
    int k = 0;
    for (; k + kVector <= n; k += kVector) {
        __m256 x = _mm256_loadu_ps(afIn + k);
        x = WithoutNaNAvx2(x);
        const __m256 r = _mm256_loadu_ps(afRead + k);
        __m256 y;
        if (kType == Biquad::kComb) {
            y = _mm256_add_ps(_mm256_mul_ps(r, vGain), x);
            _mm256_storeu_ps(afLine + k, y);
        } else if (kType == Biquad::kAllPass) {
            const __m256 u = _mm256_add_ps(_mm256_mul_ps(vGain, r), x);
            _mm256_storeu_ps(afLine + k, u);
            y = _mm256_add_ps(_mm256_mul_ps(vMinusGain, u), r);
        } else {
            _mm256_storeu_ps(afLine + k, x);
            y = r;
        }
        _mm256_storeu_ps(afOut + k, kSum ? _mm256_add_ps(_mm256_loadu_ps(afOut + k), y) : y);
    }
    for (; k < n; ++k) {
        float x = afIn[k];
        if (x != x)
            x = 0.0f;
        const float y = Biquad::DelayStep<kType>(x, afRead[k], g, afLine[k]);
        afOut[k] = kSum ? afOut[k] + y : y;
    }
}

} // namespace

template <bool kSum>
void Biquad::RunAvx2(const float* afIn, float* afOut, int n)
{
    if (m_iType < kComb || m_iType > kDelay || !(m_afDelayLine && m_iLineLength >= 1 && m_pfSampleRate)) {
        ProcessRunPortable<kSum>(afIn, afOut, n);
        return;
    }
    switch (m_iType) {
    case kComb:
        RunDelayTypeAvx2<kComb, kSum>(afIn, afOut, n);
        break;
    case kAllPass:
        RunDelayTypeAvx2<kAllPass, kSum>(afIn, afOut, n);
        break;
    default:
        RunDelayTypeAvx2<kDelay, kSum>(afIn, afOut, n);
        break;
    }
}

template <int kType, bool kSum>
void Biquad::RunDelayTypeAvx2(const float* afIn, float* afOut, int n)
{
    const float fDelay = SampleRate() * static_cast<float>(m_dDelayTime);
    const int L = m_iLineLength;
    if (!(n <= kMaxRun && fDelay >= static_cast<float>(n + 2) && fDelay + static_cast<float>(n + 2) < static_cast<float>(L))) {
        RunDelayType<kType, kSum>(afIn, afOut, n);
        return;
    }
    // As RunDelayType's path for runs shorter than the delay: every read first, then the steps.
    MarkWritten(m_iWriteIndex, n);
    const float g = static_cast<float>(m_dCombGain);
    float* const afLine = m_afDelayLine;
    const int w = m_iWriteIndex;
    float afRead[kMaxRun];
    for (int k = 0; k < n; k += kVector) {
        int v = w + k;
        if (v >= L)
            v -= L;
        if (k + kVector <= n && ReadEightAvx2(afLine, L, v, fDelay, afRead + k))
            continue;
        for (int e = k; e < n && e < k + kVector; ++e) {
            afRead[e] = ReadDelayLine(static_cast<float>(v) - fDelay);
            if (++v >= L)
                v = 0;
        }
    }
    // The run's entries: up to the end of the line, then from its start.
    const int iFirst = n < L - w ? n : L - w;
    StepAvx2<kType, kSum>(afIn, afRead, g, afLine + w, afOut, iFirst);
    if (iFirst < n)
        StepAvx2<kType, kSum>(afIn + iFirst, afRead + iFirst, g, afLine, afOut + iFirst, n - iFirst);
    m_iWriteIndex = w + n < L ? w + n : w + n - L;
}

template <int kType, bool kSum>
bool Biquad::RunPairedAvx2(Biquad& a, Biquad& b, const float* afInA, const float* afInB, float* afSumA, float* afSumB, int n)
{
    if (a.m_iType != kType || b.m_iType != kType || !a.m_afDelayLine || !b.m_afDelayLine || !a.m_pfSampleRate ||
        !b.m_pfSampleRate)
        return false;
    const int L = a.m_iLineLength;
    const int w = a.m_iWriteIndex;
    const float fDelay = a.SampleRate() * static_cast<float>(a.m_dDelayTime);
    if (L < 1 || b.m_iLineLength != L || b.m_iWriteIndex != w ||
        !(b.SampleRate() * static_cast<float>(b.m_dDelayTime) == fDelay))
        return false;
    if (!(n <= kMaxRun && fDelay >= static_cast<float>(n + 2) && fDelay + static_cast<float>(n + 2) < static_cast<float>(L)))
        return false;
    // As RunDelayTypeAvx2 for each line, the reads of both first.
    a.MarkWritten(w, n);
    b.MarkWritten(w, n);
    float afReadA[kMaxRun], afReadB[kMaxRun];
    for (int k = 0; k < n; k += kVector) {
        int v = w + k;
        if (v >= L)
            v -= L;
        if (k + kVector <= n && ReadEightPairAvx2(a.m_afDelayLine, b.m_afDelayLine, L, v, fDelay, afReadA + k, afReadB + k))
            continue;
        for (int e = k; e < n && e < k + kVector; ++e) {
            afReadA[e] = a.ReadDelayLine(static_cast<float>(v) - fDelay);
            afReadB[e] = b.ReadDelayLine(static_cast<float>(v) - fDelay);
            if (++v >= L)
                v = 0;
        }
    }
    const int iFirst = n < L - w ? n : L - w;
    const float gA = static_cast<float>(a.m_dCombGain);
    const float gB = static_cast<float>(b.m_dCombGain);
    StepAvx2<kType, kSum>(afInA, afReadA, gA, a.m_afDelayLine + w, afSumA, iFirst);
    StepAvx2<kType, kSum>(afInB, afReadB, gB, b.m_afDelayLine + w, afSumB, iFirst);
    if (iFirst < n) {
        StepAvx2<kType, kSum>(afInA + iFirst, afReadA + iFirst, gA, a.m_afDelayLine, afSumA + iFirst, n - iFirst);
        StepAvx2<kType, kSum>(afInB + iFirst, afReadB + iFirst, gB, b.m_afDelayLine, afSumB + iFirst, n - iFirst);
    }
    const int iNext = w + n < L ? w + n : w + n - L;
    a.m_iWriteIndex = iNext;
    b.m_iWriteIndex = iNext;
    return true;
}

void Biquad::RunsSummedPairAvx2(Biquad* aFirst, Biquad* aSecond, int iCount, const float* afInFirst,
                                const float* afInSecond, float* afSumFirst, float* afSumSecond, int n)
{
    for (int s = 0; s < iCount; ++s) {
        Biquad& a = aFirst[s];
        Biquad& b = aSecond[s];
        const bool bPaired = a.m_iType == kComb      ? RunPairedAvx2<kComb, true>(a, b, afInFirst, afInSecond, afSumFirst, afSumSecond, n)
                             : a.m_iType == kAllPass ? RunPairedAvx2<kAllPass, true>(a, b, afInFirst, afInSecond, afSumFirst, afSumSecond, n)
                             : a.m_iType == kDelay   ? RunPairedAvx2<kDelay, true>(a, b, afInFirst, afInSecond, afSumFirst, afSumSecond, n)
                                                     : false;
        if (!bPaired) {
            a.RunAvx2<true>(afInFirst, afSumFirst, n);
            b.RunAvx2<true>(afInSecond, afSumSecond, n);
        }
    }
}

void Biquad::RunPairAvx2(Biquad& a, Biquad& b, const float* afInA, const float* afInB, float* afOutA, float* afOutB, int n)
{
    const bool bPaired = a.m_iType == kComb      ? RunPairedAvx2<kComb, false>(a, b, afInA, afInB, afOutA, afOutB, n)
                         : a.m_iType == kAllPass ? RunPairedAvx2<kAllPass, false>(a, b, afInA, afInB, afOutA, afOutB, n)
                         : a.m_iType == kDelay   ? RunPairedAvx2<kDelay, false>(a, b, afInA, afInB, afOutA, afOutB, n)
                                                 : false;
    if (!bPaired) {
        a.RunAvx2<false>(afInA, afOutA, n);
        b.RunAvx2<false>(afInB, afOutB, n);
    }
}

void Biquad::ReverbRunPairAvx2(CReverbPlan& plan, const CReverbRow& first, const CReverbRow& second, int iCombs,
                               int iAllPasses, int n)
{
    // The reverb's shape with its section loops unrolled, any other with them as loops.
    if (iCombs == kReverbCombs && iAllPasses == kReverbAllPasses)
        ReverbRunShapedAvx2<kReverbCombs, kReverbAllPasses>(plan, first, second, iCombs, iAllPasses, n);
    else
        ReverbRunShapedAvx2<0, 0>(plan, first, second, iCombs, iAllPasses, n);
}

template <int kCombs, int kAllPasses>
void Biquad::ReverbRunShapedAvx2(CReverbPlan& plan, const CReverbRow& first, const CReverbRow& second, int iCombsAny,
                                 int iAllPassesAny, int n)
{
    const int iCombs = kCombs > 0 ? kCombs : iCombsAny;
    const int iAllPasses = kCombs > 0 ? kAllPasses : iAllPassesAny;
    // The plan is worked out afresh when it no longer fits the rows or a section's settings.
    const int w = first.aCombs[0].m_iWriteIndex;
    if (!ReverbPlanFits(plan, first, second, iCombs, iAllPasses))
        PlanReverbRun(plan, first, second, iCombs, iAllPasses);
    // As RunPairedAvx2: every read of the run ahead of its writes.
    const float fRun = static_cast<float>(n + 2);
    bool bPlanned = plan.m_bCurrent && n >= 1 && n <= kMaxRun && plan.m_fMinDelay >= fRun &&
                    plan.m_fMaxDelay + fRun < plan.m_fLength;
    if (bPlanned && !AdvanceReverbPlan<kCombs, kAllPasses>(plan, first, second, iCombs, iAllPasses, w, n)) {
        bPlanned = PlanReverbRun(plan, first, second, iCombs, iAllPasses) && plan.m_fMinDelay >= fRun &&
                   plan.m_fMaxDelay + fRun < plan.m_fLength &&
                   AdvanceReverbPlan<kCombs, kAllPasses>(plan, first, second, iCombs, iAllPasses, w, n);
    }
    if (!bPlanned) {
        ReverbRunEachAvx2(first, second, iCombs, iAllPasses, n);
        return;
    }
    const int iSections = iCombs + iAllPasses;
    const int L = plan.m_iLineLength;
    float* const(&aapfLine)[2][kMaxReverbSections] = plan.m_aapfLine;
    const float(&aafGain)[2][kMaxReverbSections] = plan.m_aafGain;
    const float(&afDelay)[kMaxReverbSections] = plan.m_afDelay;
    const __m256i vLength = _mm256_set1_epi32(L);
    const __m256i vLast = _mm256_set1_epi32(L - 1);

    // Since every read lies ahead of the run's writes, each eight samples can read, step and
    // write every section before the next eight begin.
    int v = w;
    for (int k = 0; k < n; k += kVector) {
        if (k + kVector <= n && v + kVector <= L) {
            const __m256 xFirst = WithoutNaNAvx2(_mm256_loadu_ps(first.afIn + k));
            const __m256 xSecond = WithoutNaNAvx2(_mm256_loadu_ps(second.afIn + k));
            __m256 sumFirst = _mm256_setzero_ps();
            __m256 sumSecond = _mm256_setzero_ps();
            const __m256 vWrite = EightWritesAvx2(v, vLength, vLast);
#pragma GCC unroll 8
            for (int s = 0; s < iCombs; ++s) {
                __m256 rFirst, rSecond;
                ReadEightPairAtAvx2(first.aCombs[s], second.aCombs[s], aapfLine[0][s], aapfLine[1][s], vWrite, vLength,
                                    vLast, v, afDelay[s], rFirst, rSecond);
                const __m256 yFirst = _mm256_add_ps(_mm256_mul_ps(rFirst, _mm256_set1_ps(aafGain[0][s])), xFirst);
                const __m256 ySecond = _mm256_add_ps(_mm256_mul_ps(rSecond, _mm256_set1_ps(aafGain[1][s])), xSecond);
                _mm256_storeu_ps(aapfLine[0][s] + v, yFirst);
                _mm256_storeu_ps(aapfLine[1][s] + v, ySecond);
                sumFirst = _mm256_add_ps(sumFirst, yFirst);
                sumSecond = _mm256_add_ps(sumSecond, ySecond);
            }
            sumFirst = WithoutNaNAvx2(sumFirst);
            sumSecond = WithoutNaNAvx2(sumSecond);
#pragma GCC unroll 8
            for (int s = iCombs; s < iSections; ++s) {
                __m256 rFirst, rSecond;
                ReadEightPairAtAvx2(first.aAllPasses[s - iCombs], second.aAllPasses[s - iCombs], aapfLine[0][s],
                                    aapfLine[1][s], vWrite, vLength, vLast, v, afDelay[s], rFirst, rSecond);
                const __m256 gFirst = _mm256_set1_ps(aafGain[0][s]);
                const __m256 gSecond = _mm256_set1_ps(aafGain[1][s]);
                const __m256 uFirst = _mm256_add_ps(_mm256_mul_ps(gFirst, rFirst), sumFirst);
                const __m256 uSecond = _mm256_add_ps(_mm256_mul_ps(gSecond, rSecond), sumSecond);
                _mm256_storeu_ps(aapfLine[0][s] + v, uFirst);
                _mm256_storeu_ps(aapfLine[1][s] + v, uSecond);
                _mm256_storeu_ps(first.apfOut[s - iCombs] + k,
                                 _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(-aafGain[0][s]), uFirst), rFirst));
                _mm256_storeu_ps(second.apfOut[s - iCombs] + k,
                                 _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(-aafGain[1][s]), uSecond), rSecond));
            }
            v = v + kVector < L ? v + kVector : 0;
            continue;
        }
        // The run's last few samples, or eight whose writes wrap: one sample at a time.
        for (int e = k; e < n && e < k + kVector; ++e) {
            const CReverbRow* const apRow[2] = {&first, &second};
            const float fPosition = static_cast<float>(v);
            for (int c = 0; c < 2; ++c) {
                const CReverbRow& row = *apRow[c];
                float x = row.afIn[e];
                if (x != x)
                    x = 0.0f;
                float fSum = 0.0f;
                for (int s = 0; s < iCombs; ++s) {
                    const float r = row.aCombs[s].ReadDelayLine(fPosition - afDelay[s]);
                    fSum = fSum + DelayStep<kComb>(x, r, aafGain[c][s], aapfLine[c][s][v]);
                }
                if (fSum != fSum)
                    fSum = 0.0f;
                for (int s = iCombs; s < iSections; ++s) {
                    const float r = row.aAllPasses[s - iCombs].ReadDelayLine(fPosition - afDelay[s]);
                    row.apfOut[s - iCombs][e] = DelayStep<kAllPass>(fSum, r, aafGain[c][s], aapfLine[c][s][v]);
                }
            }
            if (++v >= L)
                v = 0;
        }
    }
}

void Biquad::ReverbRunEachAvx2(const CReverbRow& first, const CReverbRow& second, int iCombs, int iAllPasses, int n)
{
    float afSumFirst[kMaxRun], afSumSecond[kMaxRun];
    for (int iStart = 0; iStart < n; iStart += kMaxRun) {
        const int m = n - iStart < kMaxRun ? n - iStart : kMaxRun;
        std::fill_n(afSumFirst, m, 0.0f);
        std::fill_n(afSumSecond, m, 0.0f);
        RunsSummedPairAvx2(first.aCombs, second.aCombs, iCombs, first.afIn + iStart, second.afIn + iStart, afSumFirst,
                           afSumSecond, m);
        for (int s = 0; s < iAllPasses; ++s)
            RunPairAvx2(first.aAllPasses[s], second.aAllPasses[s], afSumFirst, afSumSecond, first.apfOut[s] + iStart,
                        second.apfOut[s] + iStart, m);
    }
}

void Biquad::ProcessRunAvx2(const float* afIn, float* afOut, int n)
{
    RunAvx2<false>(afIn, afOut, n);
}

void Biquad::RunsSummedAvx2(Biquad* aSections, int iCount, const float* afIn, float* afSum, int n)
{
    for (int s = 0; s < iCount; ++s)
        aSections[s].RunAvx2<true>(afIn, afSum, n);
}
#endif

int Biquad::Process(const float*, const float*, float*, float*, int)
{
    CORVEX_FAIL();
    return 0;
}

} // namespace corvex
