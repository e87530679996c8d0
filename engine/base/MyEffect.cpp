#include "base/MyEffect.h"

#include <cstring>

namespace corvex {

int CMyEffect::ProcessLimiter(const float*, const float*, float*, float*, int)
{
    CORVEX_FAIL();
    return 1;
}

int CMyEffect::SetSampleRate(const double* pfSampleRate)
{
    if (!CORVEX_CHECK(pfSampleRate))
        return 0;
    m_pfSampleRate = pfSampleRate;
    return 1;
}

int CMyEffect::Configure(const EffectConfiguration&, bool)
{
    CORVEX_FAIL();
    return 1;
}

float CMyEffect::ProcessSample(float)
{
    CORVEX_FAIL();
    return 0.0f;
}

int CMyEffect::SetParamTable(float** afParams)
{
    if (!CORVEX_CHECK(afParams))
        return 0;
    m_afParams = afParams;
    return 1;
}

int CMyEffect::SetTempo(const float* pfTempo)
{
    m_pfTempo = pfTempo;
    return 1;
}

void CMyEffect::PassThrough(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    if (n <= 0)
        return;
    const size_t uBytes = sizeof(float) * static_cast<size_t>(n);
    if (outL && outL != inL)
        std::memmove(outL, inL, uBytes);
    if (outR && outR != inR)
        std::memmove(outR, inR, uBytes);
}

int SizeForRate(float fSampleRate, float fSeconds, int iCapacity, bool bReportClamp)
{
    const float fSize = fSampleRate * fSeconds;
    if (fSize != fSize)
        return 0;
    // Compare before converting, so a huge or infinite product never reaches the integer, but
    // against the rounding boundary: a product that rounds to the capacity is no overflow.
    if (!(static_cast<double>(fSize) < static_cast<double>(iCapacity) + 0.5)) {
        if (bReportClamp)
            ReportFailedCheck("size <= capacity", __FILE__, __LINE__);
        return iCapacity;
    }
    if (!(fSize > 0.0f))
        return 0;
    const long lSize = std::lround(fSize);
    return lSize > iCapacity ? iCapacity : static_cast<int>(lSize);
}

} // namespace corvex
