#pragma once

#include "base/MyEffect.h"

namespace corvex {

// The fixed input gain (0 dB), applied to both channels.
class CGainDEntree final : public CMyEffect {
public:
    static constexpr float kInputGainDb = 0.0f;

    CGainDEntree();
    int Reset() override;
    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override;

private:
    const float m_fGain;
};

} // namespace corvex
