#include "input/GainDEntree.h"

#include <cmath>

namespace corvex {

CGainDEntree::CGainDEntree() : m_fGain(static_cast<float>(std::pow(10.0, kInputGainDb / 20.0))) {}

int CGainDEntree::Reset()
{
    return 1;
}

int CGainDEntree::Process(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    const float fGain = m_fGain;
    // Each output sample depends on its own input sample alone: no overlap test per block.
#pragma omp simd
    for (int i = 0; i < n; ++i) {
        outL[i] = inL[i] * fGain;
        outR[i] = inR[i] * fGain;
    }
    return 1;
}

} // namespace corvex
