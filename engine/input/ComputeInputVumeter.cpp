#include "input/ComputeInputVumeter.h"

#include "meters/PeakMagnitude.h"

namespace corvex {

int CComputeInputVumeter::Process(const float* inL, const float*, float*, float*, int n)
{
    if (!CORVEX_CHECK(m_afParams))
        return 0;
    // The right input is not read: after the source selector both channels are equal.
    const float fPeak = LargestMagnitude(inL, n);
    const bool bClipped = kClipReference != 0.0f && fPeak / kClipReference > kClipThreshold;
    SetParam(kInputClippingLed, CountBlock(bClipped));
    return 1;
}

} // namespace corvex
