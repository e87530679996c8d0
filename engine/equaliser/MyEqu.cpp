#include "equaliser/MyEqu.h"

#include <cmath>

namespace corvex {

int CMyEqu::Reset()
{
    // The band memories run on across resets.
    return 1;
}

int CMyEqu::Configure(const EffectConfiguration& configuration, bool bPostDisto)
{
    m_configuration = configuration;
    m_bPostDisto = bPostDisto;
    return 1;
}

void CMyEqu::UpdateBands(const Voicing& voicing, float fs)
{
    // The bank has carried the memories since it was loaded; the bands take them back before the
    // bank loads again with the new coefficients.
    if (m_pBandsVoicing)
        m_bank.Store(m_aBands);
    for (int k = 0; k < kBandCount; ++k)
        m_aBands[k].SetFilter(Biquad::kPeak, static_cast<double>(kCentreHz[k] / fs), kBandQ,
                              kPeakGainPerValue * static_cast<double>(voicing.afBandDb[k]));
    m_pBandsVoicing = &voicing;
    m_fBandsRate = fs;
    m_bank.Load(m_aBands, kBandCount);
    if (m_bRightLive)
        m_bankRight.TakeCoefficients(m_bank);
    m_fOutputGain = static_cast<float>(std::pow(10.0, static_cast<double>(voicing.fOutputDb / 20.0f)));
}

int CMyEqu::Process(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    if (!CORVEX_CHECK(m_afParams) || !CORVEX_CHECK(m_pfSampleRate))
        return 0;

    const Voicing& voicing = CurrentVoicing();
    // The bands depend on nothing but the voicing and the rate, the output gain on the voicing.
    const float fs = SampleRate();
    if (&voicing != m_pBandsVoicing || fs != m_fBandsRate)
        UpdateBands(voicing, fs);
    if (n <= 0)
        return 1;

    const float fOutputGain = m_fOutputGain;
    // The seven bands share their input, so they run side by side. The bank keeps their
    // coefficients and memories between blocks; only new coefficients load them again.
    float afBand[BiquadBank::kLanes];
    if (m_bStereoInput) {
        if (!m_bRightLive) {
            m_bankRight = m_bank;
            m_bRightLive = true;
        }
        for (int i = 0; i < n; ++i) {
            float x = inL[i];
            float xR = inR[i];
            if (x != x)
                x = 0.0f;
            if (xR != xR)
                xR = 0.0f;
            m_bank.ProcessSameInput(x, afBand);
            float fSum = afBand[0];
            for (int k = 1; k < kBandCount; ++k)
                fSum += afBand[k];
            m_bankRight.ProcessSameInput(xR, afBand);
            float fSumR = afBand[0];
            for (int k = 1; k < kBandCount; ++k)
                fSumR += afBand[k];
            outL[i] = fSum / static_cast<float>(kBandCount) * fOutputGain;
            outR[i] = fSumR / static_cast<float>(kBandCount) * fOutputGain;
        }
        return 1;
    }
    m_bRightLive = false;
    for (int i = 0; i < n; ++i) {
        float x = inL[i];
        if (x != x)
            x = 0.0f;
        m_bank.ProcessSameInput(x, afBand);
        // Summed in band order, in single precision.
        float fSum = afBand[0];
        for (int k = 1; k < kBandCount; ++k)
            fSum += afBand[k];
        const float y = fSum / static_cast<float>(kBandCount) * fOutputGain;
        outL[i] = y;
        outR[i] = y;
    }
    return 1;
}

} // namespace corvex
