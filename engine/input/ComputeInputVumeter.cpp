#include "input/ComputeInputVumeter.h"

#include <cstring>

namespace corvex {

int CComputeInputVumeter::Reset()
{
    return 1;
}

int CComputeInputVumeter::Process(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    if (outL && outR && n > 0) {
        std::memmove(outL, inL, sizeof(float) * static_cast<size_t>(n));
        std::memmove(outR, inR, sizeof(float) * static_cast<size_t>(n));
    }
    return 1;
}

} // namespace corvex
