#include "filters/Biquad.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace corvex {

Biquad::Biquad(int iType, double dDecayTime, double dDelayTime)
    : m_iType(iType), m_dDelayTime(dDelayTime), m_dDecayTime(dDecayTime)
{
    // calloc hands out untouched zero pages: only the part of the line a rate really uses
    // ever becomes resident.
    m_afDelayLine = static_cast<float*>(std::calloc(BIQUADLINESIZE, sizeof(float)));
    if (!m_afDelayLine)
        throw std::bad_alloc();
    m_iLineLength = m_iCapacity;
}

Biquad::~Biquad()
{
    std::free(m_afDelayLine);
}

namespace {

// Equal as stored: -0.0 and 0.0 differ, a NaN equals the same NaN.
bool SameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

void Biquad::SetFilter(int iType, double dFrequency, double dQ, double dGainDb)
{
    // Owners set their sections every block; the coefficients (pow, tan) follow only a change.
    if (m_bCoefficientsCurrent && iType == m_iType && SameBits(dFrequency, m_dFrequency) && SameBits(dQ, m_dQ) &&
        SameBits(dGainDb, m_dGain))
        return;
    m_iType = iType;
    m_dFrequency = dFrequency;
    m_dQ = dQ;
    m_dGain = dGainDb;
    ComputeCoefficients();
}

void Biquad::SetDelayTime(double dSeconds)
{
    if (m_bCoefficientsCurrent && SameBits(dSeconds, m_dDelayTime))
        return;
    m_dDelayTime = dSeconds;
    ComputeCoefficients();
}

void Biquad::SetDecayTime(double dSeconds)
{
    if (m_bCoefficientsCurrent && SameBits(dSeconds, m_dDecayTime))
        return;
    m_dDecayTime = dSeconds;
    ComputeCoefficients();
}

void Biquad::ComputeCoefficients()
{
    m_bCoefficientsCurrent = true;
    if (m_iType == kComb || m_iType == kAllPass) {
        // Falls by 60 dB over the decay time. A decay of 0 gives an exponent of +inf and g = 0.
        const double g = std::pow(0.001, m_dDelayTime / m_dDecayTime);
        m_dCombGain = g == g ? g : 0.0; // 0/0 (both times 0): no feedback
        return;
    }
    if (m_iType == kDelay) {
        m_dCombGain = 0.0;
        return;
    }
    if (m_iType < kLowPass || m_iType > kHighShelf)
        return;

    double dFrequency = m_dFrequency;
    if (!(dFrequency <= kMaxNormalisedFrequency)) // also catches NaN
        dFrequency = kMaxNormalisedFrequency;
    if (dFrequency < 0.0)
        dFrequency = 0.0;

    const double V = std::pow(10.0, std::fabs(m_dGain) / 20.0);
    const double K = std::tan(M_PI * dFrequency);
    const double Q = m_dQ;
    const double K2 = K * K;
    const double kSqrt2 = std::sqrt(2.0);
    const double dSqrt2V = std::sqrt(2.0 * V);
    double N = 1.0 / (1.0 + K / Q + K2);

    switch (m_iType) {
    case kLowPass:
        m_dB0 = K2 * N;
        m_dB1 = 2.0 * m_dB0;
        m_dB2 = m_dB0;
        m_dA1 = 2.0 * (K2 - 1.0) * N;
        m_dA2 = (1.0 - K / Q + K2) * N;
        break;
    case kHighPass:
        m_dB0 = N;
        m_dB1 = -2.0 * m_dB0;
        m_dB2 = m_dB0;
        m_dA1 = 2.0 * (K2 - 1.0) * N;
        m_dA2 = (1.0 - K / Q + K2) * N;
        break;
    case kBandPass:
        m_dB0 = K / Q * N;
        m_dB1 = 0.0;
        m_dB2 = -m_dB0;
        m_dA1 = 2.0 * (K2 - 1.0) * N;
        m_dA2 = (1.0 - K / Q + K2) * N;
        break;
    case kNotch:
        m_dB0 = (1.0 + K2) * N;
        m_dB1 = 2.0 * (K2 - 1.0) * N;
        m_dB2 = m_dB0;
        m_dA1 = m_dB1;
        m_dA2 = (1.0 - K / Q + K2) * N;
        break;
    case kPeak:
        if (m_dGain >= 0.0) {
            m_dB0 = (1.0 + V / Q * K + K2) * N;
            m_dB1 = 2.0 * (K2 - 1.0) * N;
            m_dB2 = (1.0 - V / Q * K + K2) * N;
            m_dA1 = m_dB1;
            m_dA2 = (1.0 - K / Q + K2) * N;
        } else {
            N = 1.0 / (1.0 + V / Q * K + K2);
            m_dB0 = (1.0 + K / Q + K2) * N;
            m_dB1 = 2.0 * (K2 - 1.0) * N;
            m_dB2 = (1.0 - K / Q + K2) * N;
            m_dA1 = m_dB1;
            m_dA2 = (1.0 - V / Q * K + K2) * N;
        }
        break;
    case kLowShelf:
        if (m_dGain >= 0.0) {
            N = 1.0 / (1.0 + kSqrt2 * K + K2);
            m_dB0 = (1.0 + dSqrt2V * K + V * K2) * N;
            m_dB1 = 2.0 * (V * K2 - 1.0) * N;
            m_dB2 = (1.0 - dSqrt2V * K + V * K2) * N;
            m_dA1 = 2.0 * (K2 - 1.0) * N;
            m_dA2 = (1.0 - kSqrt2 * K + K2) * N;
        } else {
            N = 1.0 / (1.0 + dSqrt2V * K + V * K2);
            m_dB0 = (1.0 + kSqrt2 * K + K2) * N;
            m_dB1 = 2.0 * (K2 - 1.0) * N;
            m_dB2 = (1.0 - kSqrt2 * K + K2) * N;
            m_dA1 = 2.0 * (V * K2 - 1.0) * N;
            m_dA2 = (1.0 - dSqrt2V * K + V * K2) * N;
        }
        break;
    case kHighShelf:
        if (m_dGain >= 0.0) {
            N = 1.0 / (1.0 + kSqrt2 * K + K2);
            m_dB0 = (V + dSqrt2V * K + K2) * N;
            m_dB1 = 2.0 * (K2 - V) * N;
            m_dB2 = (V - dSqrt2V * K + K2) * N;
            m_dA1 = 2.0 * (K2 - 1.0) * N;
            m_dA2 = (1.0 - kSqrt2 * K + K2) * N;
        } else {
            N = 1.0 / (V + dSqrt2V * K + K2);
            m_dB0 = (1.0 + kSqrt2 * K + K2) * N;
            m_dB1 = 2.0 * (K2 - 1.0) * N;
            m_dB2 = (1.0 - kSqrt2 * K + K2) * N;
            m_dA1 = 2.0 * (K2 - V) * N;
            m_dA2 = (V - dSqrt2V * K + K2) * N;
        }
        break;
    default:
        break;
    }
}

int Biquad::Reset()
{
    // Only the part of the line in use is cleared: entries beyond it are never read before a
    // later Reset clears them, and untouched pages stay unmapped.
    m_iLineLength = m_iCapacity;
    if (m_afDelayLine && m_iLineLength > 0)
        std::memset(m_afDelayLine, 0, sizeof(float) * static_cast<size_t>(m_iLineLength));
    m_iWriteIndex = 0;
    return 1;
}

int Biquad::SetSampleRate(const double* pfSampleRate)
{
    if (!CORVEX_CHECK(pfSampleRate))
        return 0;
    const float fCapacity = static_cast<float>(*pfSampleRate) * kLineSeconds;
    // Round first, then compare: a rate that rounds to the full line is not an overflow.
    if (!(std::round(fCapacity) <= static_cast<float>(BIQUADLINESIZE)) && fCapacity == fCapacity) {
        CORVEX_FAIL();
        m_iCapacity = BIQUADLINESIZE;
    } else {
        m_iCapacity = SizeForRate(static_cast<float>(*pfSampleRate), kLineSeconds, BIQUADLINESIZE, false);
    }
    if (m_iCapacity < 1)
        m_iCapacity = 1;
    ComputeCoefficients();
    return CMyEffect::SetSampleRate(pfSampleRate);
}

int Biquad::Process(const float*, const float*, float*, float*, int)
{
    CORVEX_FAIL();
    return 0;
}

} // namespace corvex
