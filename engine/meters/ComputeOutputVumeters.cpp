#include "meters/ComputeOutputVumeters.h"

#include <cmath>

#include "base/ExactMath.h"
#include "meters/PeakMagnitude.h"

namespace corvex {
namespace {

// A channel's largest magnitude, at most 1.0.
float Capped(float fPeak)
{
    return fPeak < 1.0f ? fPeak : 1.0f;
}

// The meter reading of a magnitude in [0, 1]: below 0.0 under -45 dB.
float Normalised(float a)
{
    using M = CComputeOutputVumeters;
    const float fLevel = a == 0.0f ? M::kFloorDb : M::kDbFactor * Log10ToFloat(static_cast<double>(a));
    return (fLevel + M::kOffsetDb) * M::kScale;
}

} // namespace

float CComputeOutputVumeters::NewReading(int c, float a)
{
    const float fReading = Normalised(a);
    if (a > 0.0f) {
        m_afKnownPeak[c] = a;
        m_afKnownReading[c] = fReading;
    }
    return fReading;
}

int CComputeOutputVumeters::Process(const float* inL, const float* inR, float*, float*, int n)
{
    if (!CORVEX_CHECK(m_afParams && m_pfSampleRate))
        return 0;
    if (n < 0)
        n = 0;

    // The reading rises monotonically with the magnitude, so the block's largest reading is
    // the reading of its largest magnitude: one logarithm per block instead of one per sample.
    // The block peak starts at 0.0, which the floor (a sample of exactly 0) also maps to.
    // A NaN never raises a peak.
    float fPeakL, fPeakR;
    LargestMagnitudes(inL, inR, n, fPeakL, fPeakR);
    const float fReadingL = BlockReading(0, Capped(fPeakL), Param(kOutputLeftVumeter));
    const float fReadingR = BlockReading(1, Capped(fPeakR), Param(kOutputRightVumeter));
    const float fMaxL = fReadingL > 0.0f ? fReadingL : 0.0f;
    const float fMaxR = fReadingR > 0.0f ? fReadingR : 0.0f;

    const float fFall = kFallPerSecond * (static_cast<float>(n) / SampleRate());
    const auto update = [fFall](float fCurrent, float fMax) {
        if (fMax > fCurrent)
            return fMax;
        const float fNew = fCurrent - fFall;
        return fNew >= 0.0f ? fNew : 0.0f; // also settles a NaN reading (e.g. a restored state)
    };
    SetParam(kOutputLeftVumeter, update(Param(kOutputLeftVumeter), fMaxL));
    SetParam(kOutputRightVumeter, update(Param(kOutputRightVumeter), fMaxR));

    SetParam(kOuputClippingLed, CountBlock(fMaxL > kClipThreshold || fMaxR > kClipThreshold));
    return 1;
}

} // namespace corvex
