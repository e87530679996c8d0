#pragma once

#include "base/MyEffect.h"

namespace corvex {

// Feeds one channel of the stereo input to both channels of the chain: the right input when
// "Input Selection" is exactly 0, the left input otherwise. As the chain's entry it also makes
// the samples safe: NaN becomes silence and magnitudes are held to kInputCeiling.
class CEffectSourceSelector final : public CMyEffect {
public:
    // Far above any real signal, far below what could overflow the gate/compressor's
    // fixed-point window sum.
    static constexpr float kInputCeiling = 1000.0f;

    // The input the chain plays, which the tuner reads too. A NaN selection counts as "on": the
    // left input, like the default.
    static const float* Selected(const float* inL, const float* inR, float fSelection)
    {
        return fSelection == 0.0f ? inR : inL;
    }

    int Reset() override;
    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override;
};

} // namespace corvex
