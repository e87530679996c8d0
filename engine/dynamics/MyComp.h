#pragma once

#include <cstdint>
#include <memory>

#include "base/MyEffect.h"

namespace corvex {

// Gate/compressor (Process) and output limiter (ProcessLimiter).
//
// The gate/compressor measures a moving-average level over the last 1,023 input magnitudes
// and applies a static law around two thresholds set by "Compressor Level": a 2:1 downward
// expander below the lower one, unity slope between them, compression with a slope of 0.468
// above the upper one, then make-up gain. It is mono: the left input drives both outputs.
//
// The limiter is a fixed gain of 6 into a saturating curve that never exceeds full scale.
class CMyComp final : public CMyEffect {
public:
    static constexpr int BUFCOMPSIZE = 1024;

    CMyComp();

    // Empties the level window.
    int Reset() override;
    // Gate/compressor; writes "Compression Led".
    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override;
    // Output limiter; each channel on its own, no state, no parameter.
    int ProcessLimiter(const float* inL, const float* inR, float* outL, float* outR, int n) override;

private:
    float ComputeLevelDb();

    // m_iGainState      region of the last sample: 0 between thresholds, 1 compressing, 2 gating
    // m_afMagnitudes    circular window of input magnitudes |x|
    // m_iWriteIndice    entry the next magnitude goes to; the entry after it is the oldest
    // m_llMagnitudeSum  exact sum of the 1,023 newest magnitudes in 32.32 fixed point, kept
    //                   incrementally so that it never drifts
    int m_iGainState = 0;
    std::unique_ptr<float[]> m_afMagnitudes;
    int m_iWriteIndice = 0;
    std::int64_t m_llMagnitudeSum = 0;
};

} // namespace corvex
