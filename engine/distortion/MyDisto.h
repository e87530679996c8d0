#pragma once

#include "base/MyEffect.h"
#include "filters/Biquad.h"

namespace corvex {

// Amplifier distortion: one pre-emphasised, driven signal feeds six parallel shaping voices
// (exponential soft clip, band-limited hard clip and four measured transfer curves) that a
// fixed weighted sum mixes. Mono: while on it reads only the left input and writes both outputs.
class CMyDisto final : public CMyEffect {
public:
    CMyDisto();

    // Leaves the filter memories as they are: the block keeps no other state.
    int Reset() override;
    // Distorts inL into outL and outR, or copies both channels through when switched off.
    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override;

    // Drive gain for a "Distortion Level" value v: 45·v − 40 dB.
    static float DriveGain(float fLevel);

private:
    // Sets the sections for rate fs.
    void UpdateSections(float fs);

    // P1-P3: pre-emphasis summed with the dry input ahead of the drive; H, M, L2: voice 2's
    // high-pass and mid boost before its clip and low-pass after it; L3-L6: low-passes behind
    // the four table voices. They run in this order, once per sample.
    enum Section { kP1, kP2, kP3, kH, kM, kL2, kL3, kL4, kL5, kL6, kSectionCount };

    Biquad m_aSections[kSectionCount];
    float m_fOutputScale;
    float m_fSectionsRate = 0.0f; // the rate the sections were set for (a NaN rate never matches)
    float m_fDriveLevel = -1.0f; // the level m_fDriveGain belongs to; no level is negative
    float m_fDriveGain = 0.0f;
};

} // namespace corvex
