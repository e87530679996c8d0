#pragma once

#include "meters/ClipLedHold.h"

namespace corvex {

// The output peak meters ("Output Left Vumeter", "Output Right Vumeter": 45 dB scale, instant
// rise, linear fall) and "Ouput Clipping Led". Measures only: the outputs may be null.
class CComputeOutputVumeters final : public CClipLedHold {
public:
    static constexpr float kFloorDb = -45.0f;         // the level given to a sample of exactly 0
    static constexpr float kDbFactor = 20.0f;
    static constexpr float kOffsetDb = 45.0f;
    static constexpr float kScale = 0.022222223f;     // 1/45: -45 dB -> 0.0, 0 dB -> 1.0
    static constexpr float kFallPerSecond = 2.0f;     // normalised units
    static constexpr float kClipThreshold = 0.99f;    // on the normalised scale

    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override;

private:
    // The reading of channel c's block peak a, or 0.0 where the true reading could neither
    // raise fCurrent nor light the LED: then the same meter and LED follow, without a logarithm.
    float BlockReading(int c, float a, float fCurrent)
    {
        // The reading rises with the magnitude, so such a peak reads no higher than the known
        // reading; while that is within the meter and the LED's threshold, so is this one.
        const float fKnown = m_afKnownReading[c];
        if (a > 0.0f && a <= m_afKnownPeak[c] * kKnownPeakMargin && fKnown <= fCurrent && fCurrent >= 0.0f &&
            fKnown <= kClipThreshold)
            return 0.0f;
        return NewReading(c, a);
    }
    // A peak at most this fraction of one already read reads strictly lower: the margin, about
    // -0.09 dB, dwarfs the rounding of log10.
    static constexpr float kKnownPeakMargin = 0.99f;
    // The reading of channel c's peak a through the logarithm, kept as the known one when a > 0.
    float NewReading(int c, float a);

    // The last peak of each channel read through the logarithm (0: none yet), and its reading.
    float m_afKnownPeak[2] = {0.0f, 0.0f};
    float m_afKnownReading[2] = {0.0f, 0.0f};
};

} // namespace corvex
