#include "input/EffectSourceSelector.h"

#include <cstring>

namespace corvex {

int CEffectSourceSelector::Reset()
{
    return 1;
}

int CEffectSourceSelector::Process(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    if (!CORVEX_CHECK(m_afParams))
        return 0;
    if (n <= 0)
        return 1;
    // A NaN selection counts as "on": the left input, like the default.
    const float* afSource = Param(kInputSelection) == 0.0f ? inR : inL;
    const size_t uBytes = sizeof(float) * static_cast<size_t>(n);
    // memmove: the graph may hand the same memory as input and output.
    if (outL != afSource)
        std::memmove(outL, afSource, uBytes);
    if (outR != afSource)
        std::memmove(outR, afSource, uBytes);
    return 1;
}

} // namespace corvex
