#pragma once

#include "base/CpuFeatures.h"
#include "filters/Biquad.h"

namespace corvex {

// Up to kLanes filter sections run side by side, with coefficients and memories laid out
// lane by lane so the compiler can process several sections in one vector instruction. Each
// lane computes exactly what its Biquad::ProcessSample would.
//
// Load copies the sections' coefficients and memories in once per block; Store writes the
// memories back, so the sections stay the owners of the filter state.
class BiquadBank {
public:
    static constexpr int kLanes = 8;

    void Load(const Biquad* aSections, int iCount);
    void Store(Biquad* aSections) const;
    // Takes another bank's coefficients and keeps its own memories (a second channel through
    // the same sections).
    void TakeCoefficients(const BiquadBank& other);

    // Feeds x to every lane and leaves each lane's output, narrowed to float, in afOut.
    void ProcessSameInput(float x, float afOut[kLanes]);
    // Feeds afIn[k] to lane k.
    void ProcessEachInput(const float afIn[kLanes], float afOut[kLanes]);

private:
    // One step of every lane, afIn advancing by InStride per lane (0: the same input for all).
    template <int InStride>
    CORVEX_KERNEL_BODY void Step(const float* afIn, float afOut[kLanes]);
#if CORVEX_HAVE_AVX2_KERNELS
    // The same steps in 256-bit registers, used where the processor has them.
    CORVEX_TARGET_AVX2 void ProcessSameInputAvx2(float x, float afOut[kLanes]);
    CORVEX_TARGET_AVX2 void ProcessEachInputAvx2(const float afIn[kLanes], float afOut[kLanes]);
#endif

    int m_iCount = 0;
    alignas(64) double m_adB0[kLanes] = {}, m_adB1[kLanes] = {}, m_adB2[kLanes] = {};
    alignas(64) double m_adA1[kLanes] = {}, m_adA2[kLanes] = {};
    alignas(64) double m_adS1[kLanes] = {}, m_adS2[kLanes] = {};
};

} // namespace corvex
