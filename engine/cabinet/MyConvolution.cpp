#include "cabinet/MyConvolution.h"

#include "base/CpuFeatures.h"
#include "cabinet/CabinetImpulse.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// Rate of the segment table; the response reads it at kSegmentRate / fs spacing.
constexpr float kSegmentRate = 44100.0f;
// Largest segment index worth converting; anything beyond is past every segment.
constexpr float kIndexLimit = 16777216.0f;

// Each product is rounded to single precision and then summed in double; the order of the sum
// is free, which is what lets it run in vector lanes. Wider vectors are used where the
// processor has them (base/CpuFeatures.h).
CORVEX_KERNEL_BODY double DotProductBody(const float* window, const float* taps, int iTaps)
{
    double dSum = 0.0;
#pragma omp simd reduction(+ : dSum)
    for (int m = 0; m < iTaps; ++m)
        dSum += static_cast<double>(window[m] * taps[m]);
    return dSum;
}

// Four consecutive outputs at once, their windows one sample apart: each tap is loaded once
// for all of them, and the independent sums keep the adders busy instead of waiting on one
// running total.
CORVEX_KERNEL_BODY void DotProductsBody(const float* window, const float* taps, int iTaps, double adSums[4])
{
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
#pragma omp simd reduction(+ : s0, s1, s2, s3)
    for (int m = 0; m < iTaps; ++m) {
        const float t = taps[m];
        s0 += static_cast<double>(window[m] * t);
        s1 += static_cast<double>(window[m + 1] * t);
        s2 += static_cast<double>(window[m + 2] * t);
        s3 += static_cast<double>(window[m + 3] * t);
    }
    adSums[0] = s0, adSums[1] = s1, adSums[2] = s2, adSums[3] = s3;
}

#if CORVEX_HAVE_AVX2_KERNELS
CORVEX_TARGET_AVX2 double DotProductAvx2(const float* window, const float* taps, int iTaps)
{
    return DotProductBody(window, taps, iTaps);
}

CORVEX_TARGET_AVX2 void DotProductsAvx2(const float* window, const float* taps, int iTaps, double adSums[4])
{
    DotProductsBody(window, taps, iTaps, adSums);
}
#endif

double DotProduct(const float* window, const float* taps, int iTaps)
{
#if CORVEX_HAVE_AVX2_KERNELS
    if (cpu::Active() == cpu::Level::kAvx2)
        return DotProductAvx2(window, taps, iTaps);
#endif
    return DotProductBody(window, taps, iTaps);
}

void DotProducts(const float* window, const float* taps, int iTaps, double adSums[4])
{
#if CORVEX_HAVE_AVX2_KERNELS
    if (cpu::Active() == cpu::Level::kAvx2) {
        DotProductsAvx2(window, taps, iTaps, adSums);
        return;
    }
#endif
    DotProductsBody(window, taps, iTaps, adSums);
}

void WriteOutput(float* outL, float* outR, int i, float y)
{
    if (outL)
        outL[i] = y;
    if (outR)
        outR[i] = y;
}

// Equal, with NaN counting as equal to NaN, so that an unchanged NaN never forces a rebuild.
template <typename T>
bool SameValue(T a, T b)
{
    return a == b || (a != a && b != b);
}

constexpr int LongestSegment()
{
    int iLongest = 0;
    for (int k = 0; k < kCabinetSegmentCount; ++k)
        iLongest = iLongest < kCabinetSegmentLengths[k] ? kCabinetSegmentLengths[k] : iLongest;
    return iLongest;
}
constexpr int kLongestSegment = LongestSegment();

} // namespace

CMyConvolution::CMyConvolution()
    : m_afHistory(new float[2 * BUFCONVOLUTIONSIZE]()),
      m_afImpulse(new float[BUFCONVOLUTIONSIZE]()),
      m_afReversed(new float[BUFCONVOLUTIONSIZE]())
{
}

CMyConvolution::~CMyConvolution()
{
    delete m_pImpulse;
    delete m_pFading;
    delete[] m_afHistory;
    delete[] m_afImpulse;
    delete[] m_afReversed;
}

int CMyConvolution::SetSampleRate(const double* pfSampleRate)
{
    if (!CORVEX_CHECK(pfSampleRate))
        return 0;
    m_iBuffSizeToUse = SizeForRate(static_cast<float>(*pfSampleRate), kResponseSeconds, BUFCONVOLUTIONSIZE, true);
    return CMyEffect::SetSampleRate(pfSampleRate);
}

int CMyConvolution::Reset()
{
    std::fill(m_afHistory, m_afHistory + 2 * BUFCONVOLUTIONSIZE, 0.0f);
    std::fill(m_afImpulse, m_afImpulse + BUFCONVOLUTIONSIZE, 0.0f);
    std::fill(m_afReversed, m_afReversed + BUFCONVOLUTIONSIZE, 0.0f);
    // A rate below 10 Hz leaves no response at all; one slot keeps the ring's wrap defined.
    m_lSize = std::max(m_iBuffSizeToUse, 1);
    m_lWriteCursor = 0;
    std::fill(m_afBuiltWeights, m_afBuiltWeights + kCabinetSegmentCount, 0.0f);
    m_dBuiltSampleRate = 0.0;
    m_fBuiltSwitch = 0.0f;
    m_iImpulseValid = 0;
    m_iPreparedTaps = -1;
    m_iNonZeroTaps = 0;
    if (m_pImpulse)
        m_pImpulse->Reset();
    // A fade-out still under way ends here; its impulse waits for TakeRetired.
    m_iFadeLeft = 0;
    m_iStereoHold = 0;
    return 1;
}

CCabinetImpulse* CMyConvolution::ExchangeImpulse(CCabinetImpulse* pImpulse)
{
    if (pImpulse == m_pImpulse)
        return nullptr;
    CCabinetImpulse* pOut = nullptr;
    if (pImpulse != m_pFading)
        pOut = m_pFading;
    // Back to the one fading out: the two swap roles and nothing leaves.
    m_pFading = m_pImpulse;
    m_pImpulse = pImpulse;
    const double dRate = m_pfSampleRate && *m_pfSampleRate > 0.0 ? *m_pfSampleRate : 44100.0;
    m_iFadeLength = std::max(1, static_cast<int>(std::lround(std::min(dRate, 1.0e7) * kFadeSeconds)));
    m_iFadeLeft = m_iFadeLength;
    return pOut;
}

int CMyConvolution::ImpulseTailSamples() const
{
    const int iCurrent = m_pImpulse ? m_pImpulse->Frames() : 0;
    const int iFading = m_pFading && m_iFadeLeft > 0 ? m_pFading->Frames() : 0;
    return std::max(iCurrent, iFading);
}

CCabinetImpulse* CMyConvolution::TakeRetired()
{
    if (m_iFadeLeft > 0 || !m_pFading)
        return nullptr;
    CCabinetImpulse* pOut = m_pFading;
    m_pFading = nullptr;
    return pOut;
}

bool CMyConvolution::IsStale(const CabinetVoicing& voicing, double dRate, float fSwitch) const
{
    if (!m_iImpulseValid)
        return true;
    for (int k = 0; k < kCabinetSegmentCount; ++k)
        if (voicing.afWeights[k] != m_afBuiltWeights[k])
            return true;
    return !SameValue(dRate, m_dBuiltSampleRate) || !SameValue(fSwitch, m_fBuiltSwitch);
}

void CMyConvolution::BuildImpulse(const CabinetVoicing& voicing, double dRate)
{
    std::fill(m_afImpulse, m_afImpulse + BUFCONVOLUTIONSIZE, 0.0f);
    const float fRate = static_cast<float>(dRate);
    for (int i = 0; i < m_iBuffSizeToUse; ++i) {
        // Nearest-sample lookup, no interpolation or anti-aliasing.
        const float t = static_cast<float>(i) * kSegmentRate / fRate;
        // A zero, negative or non-finite rate reads past every segment.
        if (!(t > -0.5f && t < kIndexLimit))
            continue;
        const long j = std::lround(t);
        if (j >= kLongestSegment)
            continue;
        double adTerms[kCabinetSegmentCount];
        for (int k = 0; k < kCabinetSegmentCount; ++k)
            adTerms[k] = j < kCabinetSegmentLengths[k]
                             ? static_cast<double>(kCabinetSegments[k][j]) * voicing.afWeights[k] *
                                   kCabinetSegmentGains[k]
                             : 0.0;
        const double dSum =
            adTerms[1] + adTerms[0] + adTerms[2] + adTerms[3] + adTerms[4] + adTerms[5] + adTerms[6];
        m_afImpulse[i] = static_cast<float>(dSum * kResponseScale);
    }
    ++m_lBuildCount;
}

void CMyConvolution::PrepareTaps(int iTaps)
{
    m_iNonZeroTaps = 0;
    for (int k = 0; k < iTaps; ++k) {
        m_afReversed[iTaps - 1 - k] = m_afImpulse[k];
        if (m_afImpulse[k] != 0.0f)
            ++m_iNonZeroTaps;
    }
    m_iPreparedTaps = iTaps;
}

double CMyConvolution::ContiguousSum() const
{
    // The window ends at the mirror of the newest sample, so it never wraps.
    return DotProduct(m_afHistory + m_lWriteCursor + m_lSize - m_iPreparedTaps + 1, m_afReversed, m_iPreparedTaps);
}

void CMyConvolution::ContiguousSums(double adSums[kGroup]) const
{
    DotProducts(m_afHistory + m_lWriteCursor + m_lSize - m_iPreparedTaps + 1, m_afReversed, m_iPreparedTaps, adSums);
}

double CMyConvolution::WrappedSum(int& iCount) const
{
    // Follows the ring literally: zero taps skipped, and a response longer than the ring reads
    // the same slots again.
    double dSum = 0.0;
    iCount = 0;
    int iSlot = m_lWriteCursor;
    for (int k = 0; k < m_iPreparedTaps; ++k) {
        if (m_afImpulse[k] != 0.0f) {
            dSum += static_cast<double>(m_afHistory[iSlot] * m_afImpulse[k]);
            ++iCount;
        }
        iSlot = iSlot == 0 ? m_lSize - 1 : iSlot - 1;
    }
    return dSum;
}

void CMyConvolution::UpdateVoicing(float fSwitch, double dRate)
{
    const CabinetVoicing& voicing = fSwitch == 0.0f ? kCleanVoicing : kDistortionVoicing;
    if (IsStale(voicing, dRate, fSwitch)) {
        BuildImpulse(voicing, dRate);
        m_iImpulseValid = 1;
        m_iPreparedTaps = -1;
    }
    std::copy(voicing.afWeights, voicing.afWeights + kCabinetSegmentCount, m_afBuiltWeights);
    m_dBuiltSampleRate = dRate;
    m_fBuiltSwitch = fSwitch;

    if (m_pLevelVoicing != &voicing) {
        m_fLevel = static_cast<float>(std::pow(10.0, static_cast<double>(voicing.fLevelDb / 20.0f)));
        m_pLevelVoicing = &voicing;
    }
}

int CMyConvolution::Process(const float* inL, const float*, float* outL, float* outR, int n)
{
    if (!CORVEX_CHECK(m_afParams) || !CORVEX_CHECK(m_pfSampleRate))
        return 0;
    // Named as the reports name them.
    const int BuffSizeToUse = m_iBuffSizeToUse, lSize = m_lSize, lWriteCursor = m_lWriteCursor;
    if (!CORVEX_CHECK(BuffSizeToUse <= BUFCONVOLUTIONSIZE) || !CORVEX_CHECK(lSize <= BUFCONVOLUTIONSIZE) ||
        !CORVEX_CHECK(lWriteCursor < BUFCONVOLUTIONSIZE))
        return 0;

    const float fSwitch = Param(kDistortionOnOff);
    const double dRate = *m_pfSampleRate;
    // The switch selects the voicing, so the same switch and rate as at the last call leave the
    // response, the weights it was built from and the level as they are.
    if (!m_iImpulseValid || !SameValue(fSwitch, m_fBuiltSwitch) || !SameValue(dRate, m_dBuiltSampleRate))
        UpdateVoicing(fSwitch, dRate);
    const float fLevel = m_fLevel;
    const int iTaps = Taps();
    if (iTaps != m_iPreparedTaps)
        PrepareTaps(iTaps);
    if (!m_pImpulse && m_iFadeLeft == 0) {
        // The built-in cabinet alone, as it has always run.
        if (m_iStereoHold > 0)
            m_iStereoHold = std::max(0, m_iStereoHold - n);
        RunBuiltIn(inL, outL, outR, n, iTaps, fLevel);
        return 1;
    }
    RunUserImpulses(inL, outL, outR, n, fSwitch != 0.0f, iTaps, fLevel);
    return 1;
}

// Inlined into Process, whose every block with the built-in cabinet calls it.
CORVEX_KERNEL_BODY void CMyConvolution::RunBuiltIn(const float* inL, float* outL, float* outR, int n, int iTaps, float fLevel)
{
    const bool bContiguous = iTaps > 0 && iTaps <= m_lSize && m_iNonZeroTaps == iTaps;
    // A group writes its later inputs before the sums of its earlier outputs read the ring, so
    // the oldest tap must stay clear of those kGroup - 1 slots ahead of the cursor.
    const bool bGrouped = bContiguous && iTaps <= m_lSize - (kGroup - 1);

    int i = 0;
    while (i < n) {
        if (bGrouped && n - i >= kGroup && m_lWriteCursor + kGroup <= m_lSize) {
            // All inputs of the group are read before any output is written: in place is safe.
            for (int j = 0; j < kGroup; ++j) {
                const float x = inL[i + j];
                m_afHistory[m_lWriteCursor + j] = x;
                m_afHistory[m_lWriteCursor + j + m_lSize] = x;
            }
            double adSums[kGroup];
            ContiguousSums(adSums);
            m_lWriteCursor += kGroup;
            if (m_lWriteCursor >= m_lSize)
                m_lWriteCursor = 0;
            for (int j = 0; j < kGroup; ++j)
                WriteOutput(outL, outR, i + j, static_cast<float>(adSums[j] / iTaps) * fLevel * kTapShare);
            i += kGroup;
            continue;
        }
        const float x = inL[i];
        m_afHistory[m_lWriteCursor] = x;
        m_afHistory[m_lWriteCursor + m_lSize] = x;
        int iCount = iTaps;
        const double dSum = bContiguous ? ContiguousSum() : WrappedSum(iCount);
        if (++m_lWriteCursor >= m_lSize)
            m_lWriteCursor = 0;
        // With no tap taking part the mean is undefined; the cabinet is then silent.
        WriteOutput(outL, outR, i, iCount > 0 ? static_cast<float>(dSum / iCount) * fLevel * kTapShare : 0.0f);
        ++i;
    }
}

void CMyConvolution::WriteHistory(const float* inL, int n)
{
    for (int i = 0; i < n; ++i) {
        m_afHistory[m_lWriteCursor] = inL[i];
        m_afHistory[m_lWriteCursor + m_lSize] = inL[i];
        if (++m_lWriteCursor >= m_lSize)
            m_lWriteCursor = 0;
    }
}

void CMyConvolution::RunSide(CCabinetImpulse* pImpulse, const float* inL, float* afL, float* afR, int n,
                             bool bDistorted, int iTaps, float fLevel)
{
    if (!pImpulse) {
        RunBuiltIn(inL, afL, afR, n, iTaps, fLevel);
        return;
    }
    pImpulse->Process(inL, afL, afR, n);
    const float fScale = pImpulse->Scale(bDistorted);
    for (int i = 0; i < n; ++i) {
        afL[i] *= fScale;
        afR[i] *= fScale;
    }
}

void CMyConvolution::RunUserImpulses(const float* inL, float* outL, float* outR, int n, bool bDistorted, int iTaps,
                                     float fLevel)
{
    const int iHold = static_cast<int>(
        std::lround(std::min(m_pfSampleRate && *m_pfSampleRate > 0.0 ? *m_pfSampleRate : 44100.0, 1.0e7) *
                    kStereoHoldSeconds));
    for (int iDone = 0; iDone < n; iDone += kScratch) {
        const int iCount = std::min(kScratch, n - iDone);
        const float* in = inL + iDone;
        const bool bFading = m_iFadeLeft > 0;
        bool bStereo = m_pImpulse && m_pImpulse->Channels() == 2;
        // The built-in history is written as long as a user impulse plays, so that the way back
        // starts from what was really played.
        RunSide(m_pImpulse, in, m_afScratch[0], m_afScratch[1], iCount, bDistorted, iTaps, fLevel);
        if (bFading) {
            bStereo = bStereo || (m_pFading && m_pFading->Channels() == 2);
            RunSide(m_pFading, in, m_afScratch[2], m_afScratch[3], iCount, bDistorted, iTaps, fLevel);
            if (m_pImpulse && m_pFading)
                WriteHistory(in, iCount);
            const float fStep = 1.0f / static_cast<float>(m_iFadeLength);
            for (int i = 0; i < iCount; ++i) {
                float fNew = 1.0f;
                if (m_iFadeLeft > 0) {
                    fNew = 1.0f - static_cast<float>(m_iFadeLeft) * fStep;
                    --m_iFadeLeft;
                }
                const float fOld = 1.0f - fNew;
                m_afScratch[0][i] = m_afScratch[0][i] * fNew + m_afScratch[2][i] * fOld;
                m_afScratch[1][i] = m_afScratch[1][i] * fNew + m_afScratch[3][i] * fOld;
            }
        } else if (m_pImpulse) {
            WriteHistory(in, iCount);
        }
        if (bStereo)
            m_iStereoHold = iHold;
        else
            m_iStereoHold = std::max(0, m_iStereoHold - iCount);
        if (outL)
            std::copy(m_afScratch[0], m_afScratch[0] + iCount, outL + iDone);
        if (outR)
            std::copy(m_afScratch[1], m_afScratch[1] + iCount, outR + iDone);
    }
}

} // namespace corvex
