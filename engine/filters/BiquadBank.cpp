#include "filters/BiquadBank.h"

namespace corvex {

template <int InStride>
void BiquadBank::Step(const float* afIn, float afOut[kLanes])
{
    for (int k = 0; k < kLanes; ++k) {
        const double dx = afIn[k * InStride];
        const double y = m_adB0[k] * dx + m_adS1[k];
        m_adS1[k] = m_adB1[k] * dx + m_adS2[k] - m_adA1[k] * y;
        m_adS2[k] = m_adB2[k] * dx - m_adA2[k] * y;
        afOut[k] = static_cast<float>(y);
    }
}

void BiquadBank::Load(const Biquad* aSections, int iCount)
{
    m_iCount = iCount < kLanes ? iCount : kLanes;
    for (int k = 0; k < kLanes; ++k) {
        if (k < m_iCount) {
            const Biquad& section = aSections[k];
            m_adB0[k] = section.B0();
            m_adB1[k] = section.B1();
            m_adB2[k] = section.B2();
            m_adA1[k] = section.A1();
            m_adA2[k] = section.A2();
            section.GetMemories(m_adS1[k], m_adS2[k]);
        } else {
            // Unused lanes stay silent: zero coefficients keep zero memories.
            m_adB0[k] = m_adB1[k] = m_adB2[k] = m_adA1[k] = m_adA2[k] = 0.0;
            m_adS1[k] = m_adS2[k] = 0.0;
        }
    }
}

void BiquadBank::Store(Biquad* aSections) const
{
    for (int k = 0; k < m_iCount; ++k)
        aSections[k].SetMemories(m_adS1[k], m_adS2[k]);
}

void BiquadBank::TakeCoefficients(const BiquadBank& other)
{
    m_iCount = other.m_iCount;
    for (int k = 0; k < kLanes; ++k) {
        m_adB0[k] = other.m_adB0[k];
        m_adB1[k] = other.m_adB1[k];
        m_adB2[k] = other.m_adB2[k];
        m_adA1[k] = other.m_adA1[k];
        m_adA2[k] = other.m_adA2[k];
    }
}

void BiquadBank::ProcessSameInput(float x, float afOut[kLanes])
{
#if CORVEX_HAVE_AVX2_KERNELS
    if (cpu::Active() == cpu::Level::kAvx2) {
        ProcessSameInputAvx2(x, afOut);
        return;
    }
#endif
    Step<0>(&x, afOut);
}

void BiquadBank::ProcessEachInput(const float afIn[kLanes], float afOut[kLanes])
{
#if CORVEX_HAVE_AVX2_KERNELS
    if (cpu::Active() == cpu::Level::kAvx2) {
        ProcessEachInputAvx2(afIn, afOut);
        return;
    }
#endif
    Step<1>(afIn, afOut);
}

#if CORVEX_HAVE_AVX2_KERNELS
void BiquadBank::ProcessSameInputAvx2(float x, float afOut[kLanes])
{
    Step<0>(&x, afOut);
}

void BiquadBank::ProcessEachInputAvx2(const float afIn[kLanes], float afOut[kLanes])
{
    Step<1>(afIn, afOut);
}
#endif

} // namespace corvex
