#pragma once

#include "meters/ClipLedHold.h"

namespace corvex {

// Lights "Input Clipping Led" for 200 host blocks when the left input's peak exceeds 0.99 of
// full scale. Measures only: the outputs are not written and may be null.
class CComputeInputVumeter final : public CClipLedHold {
public:
    static constexpr float kClipReference = 1.0f; // full scale, 0 dB
    static constexpr float kClipThreshold = 0.99f;

    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override;
};

} // namespace corvex
