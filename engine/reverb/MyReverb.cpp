#include "reverb/MyReverb.h"

#include <cmath>
#include <initializer_list>

namespace corvex {
namespace {

constexpr float kMaxReverbSeconds = 3.0f;      // at "Reverb Level" 1
constexpr float kCombFirstMs = 39.7f;
constexpr float kCombStepMs = 3.5f;
constexpr float kAllPassASeconds = 0.005f;
constexpr float kAllPassBSeconds = 0.0017f;
constexpr float kAllPassADecayDivisor = 31.25f;
constexpr float kAllPassBDecayDivisor = 911.0f;
constexpr float kEnhancerSeconds = 0.10004001f;
constexpr float kWetOn = 0.45f;
constexpr float kDryPerWet = 0.6f;
constexpr float kReverbScale = 0.04f;
// Beyond this a sample could overflow a comb; such samples, NaN and infinities count as
// silence so that nothing non-finite ever circulates in a line.
constexpr float kInputLimit = 1.0e30f;
constexpr int kRunLength = 64;

// Times the sections carry from construction until the first Process call replaces them.
constexpr double kInitialCombDecay = 1.0;
constexpr double kInitialCombStep = 0.0101;
constexpr double kInitialEnhancerDelay = 1.0;
constexpr double kInitialAllPassADecay = 0.09683;
constexpr double kInitialAllPassBDecay = 0.03292;

inline float Sanitised(float x) { return std::fabs(x) <= kInputLimit ? x : 0.0f; }

double CombSeconds(int k)
{
    return static_cast<double>((static_cast<float>(k) * kCombStepMs + kCombFirstMs) * 0.001f);
}

} // namespace

CMyReverb::CMyReverb()
    : m_enhancerDelay(Biquad::kDelay, 0.0, kInitialEnhancerDelay),
      m_aCombsL{{Biquad::kComb, kInitialCombDecay, 0 * kInitialCombStep},
                {Biquad::kComb, kInitialCombDecay, 1 * kInitialCombStep},
                {Biquad::kComb, kInitialCombDecay, 2 * kInitialCombStep},
                {Biquad::kComb, kInitialCombDecay, 3 * kInitialCombStep},
                {Biquad::kComb, kInitialCombDecay, 4 * kInitialCombStep}},
      m_aAllPassesL{{Biquad::kAllPass, kInitialAllPassADecay, kAllPassASeconds},
                    {Biquad::kAllPass, kInitialAllPassBDecay, kAllPassBSeconds}},
      m_aCombsR{{Biquad::kComb, kInitialCombDecay, 0 * kInitialCombStep},
                {Biquad::kComb, kInitialCombDecay, 1 * kInitialCombStep},
                {Biquad::kComb, kInitialCombDecay, 2 * kInitialCombStep},
                {Biquad::kComb, kInitialCombDecay, 3 * kInitialCombStep},
                {Biquad::kComb, kInitialCombDecay, 4 * kInitialCombStep}},
      m_aAllPassesR{{Biquad::kAllPass, kInitialAllPassADecay, kAllPassASeconds},
                    {Biquad::kAllPass, kInitialAllPassBDecay, kAllPassBSeconds}}
{
    Reset();
}

int CMyReverb::SetSampleRate(const double* pfSampleRate)
{
    if (!CORVEX_CHECK(pfSampleRate))
        return 0;
    for (int k = 0; k < kCombCount; ++k) {
        m_aCombsL[k].SetSampleRate(pfSampleRate);
        m_aCombsR[k].SetSampleRate(pfSampleRate);
    }
    for (int k = 0; k < kAllPassCount; ++k) {
        m_aAllPassesL[k].SetSampleRate(pfSampleRate);
        m_aAllPassesR[k].SetSampleRate(pfSampleRate);
    }
    m_enhancerDelay.SetSampleRate(pfSampleRate);
    m_bSectionsReady = SectionsReady();
    return 1;
}

int CMyReverb::Reset()
{
    for (int k = 0; k < kCombCount; ++k) {
        m_aCombsL[k].Reset();
        m_aCombsR[k].Reset();
    }
    for (int k = 0; k < kAllPassCount; ++k) {
        m_aAllPassesL[k].Reset();
        m_aAllPassesR[k].Reset();
    }
    m_enhancerDelay.Reset();
    m_bSectionsReady = SectionsReady();
    return 1;
}

bool CMyReverb::SectionsReady() const
{
    bool bReady = m_enhancerDelay.LineLength() >= 1;
    for (int k = 0; k < kCombCount; ++k)
        bReady = bReady && m_aCombsL[k].LineLength() >= 1 && m_aCombsR[k].LineLength() >= 1;
    for (int k = 0; k < kAllPassCount; ++k)
        bReady = bReady && m_aAllPassesL[k].LineLength() >= 1 && m_aAllPassesR[k].LineLength() >= 1;
    return bReady;
}

void CMyReverb::ApplyTimes(float fReverbTime, double dEnhancerDelay)
{
    const double dCombDecay = fReverbTime;
    const double dAllPassADecay = fReverbTime / kAllPassADecayDivisor;
    const double dAllPassBDecay = fReverbTime / kAllPassBDecayDivisor;
    for (int k = 0; k < kCombCount; ++k) {
        m_aCombsL[k].SetDecayTime(dCombDecay);
        m_aCombsR[k].SetDecayTime(dCombDecay);
    }
    m_enhancerDelay.SetDecayTime(0.0);
    for (Biquad* aAllPasses : {m_aAllPassesL, m_aAllPassesR}) {
        aAllPasses[0].SetDecayTime(dAllPassADecay);
        aAllPasses[1].SetDecayTime(dAllPassBDecay);
    }

    for (int k = 0; k < kCombCount; ++k) {
        m_aCombsL[k].SetDelayTime(CombSeconds(k));
        m_aCombsR[k].SetDelayTime(CombSeconds(k));
    }
    m_enhancerDelay.SetDelayTime(dEnhancerDelay);
    for (Biquad* aAllPasses : {m_aAllPassesL, m_aAllPassesR}) {
        aAllPasses[0].SetDelayTime(kAllPassASeconds);
        aAllPasses[1].SetDelayTime(kAllPassBSeconds);
    }

    m_bTimesApplied = true;
    m_fAppliedReverbTime = fReverbTime;
    m_dAppliedEnhancerDelay = dEnhancerDelay;
}

int CMyReverb::Process(const float* inL, const float* inR, float* outL, float* outR, int n)
{
#if CORVEX_HAVE_AVX2_KERNELS
    if (cpu::Active() == cpu::Level::kAvx2)
        return ProcessAvx2(inL, inR, outL, outR, n);
#endif
    return ProcessBaseline(inL, inR, outL, outR, n);
}

template <bool kAvx2>
int CMyReverb::ProcessBody(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    if (n <= 0)
        return 1;
    if (!CORVEX_CHECK(m_afParams) || !CORVEX_CHECK(m_bSectionsReady)) {
        PassThrough(inL, inR, outL, outR, n);
        return 0;
    }

    const double dEnhancerDelay = IsOn(kStereoEnhancerOnOff) ? kEnhancerSeconds : 0.0;
    const float fLevel = Level(kReverbLevel);
    const float fReverbTime = fLevel * kMaxReverbSeconds;
    if (!m_bTimesApplied || fReverbTime != m_fAppliedReverbTime || dEnhancerDelay != m_dAppliedEnhancerDelay)
        ApplyTimes(fReverbTime, dEnhancerDelay);

    const float fWet = IsOn(kReverbOnOff) ? kWetOn : 0.0f;
    const float fDry = 1.0f - fWet * kDryPerWet;
    const bool bEnhancer = dEnhancerDelay != 0.0;

    static_assert(kRunLength <= Biquad::kMaxRun && kCombCount + kAllPassCount <= Biquad::kMaxReverbSections,
                  "a run takes every section together");
    static_assert(kCombCount == Biquad::kReverbCombs && kAllPassCount == Biquad::kReverbAllPasses,
                  "the rows take the kernel unrolled for them");
    float afL[kRunLength], afR[kRunLength];
    float aafWetL[kAllPassCount][kRunLength], aafWetR[kAllPassCount][kRunLength];
    float* const apfWetL[kAllPassCount] = {aafWetL[0], aafWetL[1]};
    float* const apfWetR[kAllPassCount] = {aafWetR[0], aafWetR[1]};
    const Biquad::CReverbRow rowL{m_aCombsL, m_aAllPassesL, afL, apfWetL};
    const Biquad::CReverbRow rowR{m_aCombsR, m_aAllPassesR, afR, apfWetR};
    // Over short runs of samples rather than sample by sample: the sections' loops are tight
    // and predictable, while every sample still meets the sections in the same order and sums
    // in the same order, so the result is unchanged.
    for (int iStart = 0; iStart < n; iStart += kRunLength) {
        const int m = n - iStart < kRunLength ? n - iStart : kRunLength;
        for (int i = 0; i < m; ++i) {
            afL[i] = Sanitised(inL[iStart + i]);
            afR[i] = Sanitised(inR[iStart + i]);
        }
        // While off the enhancer's line is left alone, so switching it on replays what it held.
        if (bEnhancer)
            m_enhancerDelay.ProcessRun(afR, afR, m);

        // The two channels' sections share their times and positions: their reads pair up. The
        // all-passes sit side by side on the comb sum, not in series.
#if CORVEX_HAVE_AVX2_KERNELS
        if (kAvx2)
            Biquad::ProcessReverbRunPairAvx2(m_runPlan, rowL, rowR, kCombCount, kAllPassCount, m);
        else
#endif
            Biquad::ProcessReverbRunPair(m_runPlan, rowL, rowR, kCombCount, kAllPassCount, m);
        for (int i = 0; i < m; ++i)
            outL[iStart + i] = fDry * afL[i] - (aafWetL[1][i] + aafWetL[0][i]) * kReverbScale * fWet;
        for (int i = 0; i < m; ++i)
            outR[iStart + i] = fDry * afR[i] - (aafWetR[1][i] + aafWetR[0][i]) * kReverbScale * fWet;
    }
    return 1;
}

int CMyReverb::ProcessBaseline(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    return ProcessBody<false>(inL, inR, outL, outR, n);
}

#if CORVEX_HAVE_AVX2_KERNELS
int CMyReverb::ProcessAvx2(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    return ProcessBody<true>(inL, inR, outL, outR, n);
}
#endif

} // namespace corvex
