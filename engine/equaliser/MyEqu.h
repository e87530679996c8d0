#pragma once

#include "base/MyEffect.h"
#include "filters/Biquad.h"
#include "filters/BiquadBank.h"

namespace corvex {

// Fixed seven-band voicing: seven peak sections run in parallel on the left input, averaged,
// then scaled by an output gain. The gain set follows the position in the chain (Configure)
// and "Distortion ON OFF". Mono: both outputs carry the same result, unless told that the right
// input carries its own signal (a stereo cabinet response), which then runs through a second
// set of band memories.
class CMyEqu final : public CMyEffect {
public:
    static constexpr int kBandCount = 7;

    // One voicing: the band values and the output gain, in dB. A band section's peak gain is
    // twice its value.
    struct Voicing {
        float afBandDb[kBandCount];
        float fOutputDb;
    };

    static constexpr float kCentreHz[kBandCount] = {40.0f, 150.0f, 400.0f, 800.0f, 1600.0f, 3200.0f, 6400.0f};
    static constexpr double kBandQ = 0.9;
    static constexpr double kPeakGainPerValue = 2.0;

    static constexpr Voicing kPreDistortionOn = {
        {-15.0f, -5.9033995f, 15.0f, 15.0f, 15.0f, 12.951601f, 0.8255997f}, -15.0f};
    static constexpr Voicing kPreDistortionOff = {
        {0.35309982f, 0.9716997f, 10.276499f, -6.1800003f, 15.0f, 15.0f, 15.0f}, -15.0f};
    static constexpr Voicing kPostDistortionOn = {
        {15.0f, 10.971001f, 4.0949993f, 4.293001f, 4.6019993f, 8.229f, 10.352999f}, -4.365f};
    static constexpr Voicing kPostDistortionOff = {
        {15.0f, 15.0f, 4.697071f, -1.1999998f, 9.404699f, 12.0483f, 8.492102f}, -11.145f};

    int Reset() override;
    // Sets the band coefficients for this block (also when n <= 0), then filters n samples.
    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override;
    // Stores the values; bPostDisto selects the post-equaliser's voicings.
    int Configure(const EffectConfiguration& configuration, bool bPostDisto) override;
    void SetStereoInput(bool bStereo) override { m_bStereoInput = bStereo; }

    // A band's coefficients; its memories are in the bank while the voicing stays.
    const Biquad& Band(int k) const { return m_aBands[k]; }

private:
    const Voicing& CurrentVoicing() const
    {
        const bool bDistortion = IsOn(kDistortionOnOff);
        if (m_bPostDisto)
            return bDistortion ? kPostDistortionOn : kPostDistortionOff;
        return bDistortion ? kPreDistortionOn : kPreDistortionOff;
    }
    // Sets the bands for the voicing and rate and loads them into the bank, with the gain.
    void UpdateBands(const Voicing& voicing, float fs);

    Biquad m_aBands[kBandCount];
    BiquadBank m_bank;
    EffectConfiguration m_configuration;
    bool m_bPostDisto = false;
    // The voicing and rate the bands were last set for (a NaN rate never matches). Once set, the
    // bank holds the bands' coefficients and memories (stored back to the bands only when the
    // voicing or rate changes), and the gain is the voicing's.
    const Voicing* m_pBandsVoicing = nullptr;
    float m_fBandsRate = 0.0f;
    float m_fOutputGain = 1.0f;
    // The right channel's bank: the left's coefficients, memories of its own. It starts from
    // the left's memories when the right input turns stereo, as the two inputs were equal.
    bool m_bStereoInput = false;
    bool m_bRightLive = false;
    BiquadBank m_bankRight;
};

} // namespace corvex
