#pragma once

#include "base/MyEffect.h"
#include "filters/Biquad.h"

namespace corvex {

// Room reverberation and stereo enhancer. Per channel five feedback combs in parallel drive two
// all-pass sections side by side; their outputs are scaled and subtracted from the dry signal.
// The enhancer delays the whole right channel by about 100 ms, reverb on or off.
class CMyReverb final : public CMyEffect {
public:
    static constexpr int kCombCount = 5;
    static constexpr int kAllPassCount = 2; // A, then B

    CMyReverb();

    // Clears the used part of every section's line.
    int Reset() override;
    // Reverb and enhancer of both channels; the combs and all-passes run even while the reverb
    // is off, so a switched-on reverb brings in a tail already built.
    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override;
    // Hands the rate to the sections, which derive their line lengths from it; keeps no pointer.
    int SetSampleRate(const double* pfSampleRate) override;

    const Biquad& EnhancerDelay() const { return m_enhancerDelay; }
    const Biquad& LeftComb(int k) const { return m_aCombsL[k]; }
    const Biquad& LeftAllPassA() const { return m_aAllPassesL[0]; }
    const Biquad& LeftAllPassB() const { return m_aAllPassesL[1]; }
    const Biquad& RightComb(int k) const { return m_aCombsR[k]; }
    const Biquad& RightAllPassA() const { return m_aAllPassesR[0]; }
    const Biquad& RightAllPassB() const { return m_aAllPassesR[1]; }

private:
    // Every section has had SetSampleRate and Reset.
    bool SectionsReady() const;
    void ApplyTimes(float fReverbTime, double dEnhancerDelay);
    // Process, in one body compiled for each instruction-set level, the level chosen once a
    // block.
    template <bool kAvx2>
    CORVEX_KERNEL_BODY int ProcessBody(const float* inL, const float* inR, float* outL, float* outR, int n);
    int ProcessBaseline(const float* inL, const float* inR, float* outL, float* outR, int n);
#if CORVEX_HAVE_AVX2_KERNELS
    CORVEX_TARGET_AVX2 int ProcessAvx2(const float* inL, const float* inR, float* outL, float* outR, int n);
#endif

    // The sections are held by value and Biquad is final, so their calls bind statically.
    Biquad m_enhancerDelay;
    Biquad m_aCombsL[kCombCount];
    Biquad m_aAllPassesL[kAllPassCount];
    Biquad m_aCombsR[kCombCount];
    Biquad m_aAllPassesR[kAllPassCount];
    Biquad::CReverbPlan m_runPlan;

    // SectionsReady as of the last SetSampleRate or Reset, the only calls that change it.
    bool m_bSectionsReady = false;
    // Times last handed to the sections; the gains (a power each) are recomputed only on change.
    bool m_bTimesApplied = false;
    float m_fAppliedReverbTime = 0.0f;
    double m_dAppliedEnhancerDelay = 0.0;
};

} // namespace corvex
