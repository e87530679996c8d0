#include "input/ComputeInputVumeter.h"

#include <cmath>

namespace corvex {

int CComputeInputVumeter::Process(const float* inL, const float*, float*, float*, int n)
{
    if (!CORVEX_CHECK(m_afParams))
        return 0;
    // The right input is not read: after the source selector both channels are equal.
    float fPeak = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float a = std::fabs(inL[i]);
        fPeak = a > fPeak ? a : fPeak; // a NaN never raises the peak
    }
    const bool bClipped = kClipReference != 0.0f && fPeak / kClipReference > kClipThreshold;
    SetParam(kInputClippingLed, CountBlock(bClipped));
    return 1;
}

} // namespace corvex
