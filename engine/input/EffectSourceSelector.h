#pragma once

#include "base/MyEffect.h"

namespace corvex {

// Placeholder: passes the signal through until the block is written.
class CEffectSourceSelector final : public CMyEffect {
public:
    int Reset() override;
    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override;
};

} // namespace corvex
