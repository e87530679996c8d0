#pragma once

#include "base/MyEffect.h"

namespace corvex {

// Feeds one channel of the stereo input to both channels of the chain: the right input when
// "Input Selection" is exactly 0, the left input otherwise.
class CEffectSourceSelector final : public CMyEffect {
public:
    int Reset() override;
    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override;
};

} // namespace corvex
