#include "delay/MyDelay.h"

#include <cstring>

namespace corvex {

int CMyDelay::Reset()
{
    return 1;
}

int CMyDelay::Process(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    if (outL && outR && n > 0) {
        std::memmove(outL, inL, sizeof(float) * static_cast<size_t>(n));
        std::memmove(outR, inR, sizeof(float) * static_cast<size_t>(n));
    }
    return 1;
}

} // namespace corvex
