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
};

} // namespace corvex
