#include "modulation/MyChorus.h"

#include "base/ExactMath.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace corvex {
namespace {

constexpr float kOscillatorPeriodSeconds = 3.3333333f; // 0.3 Hz
constexpr float kRadiansPerSecond = 1.8849558f;          // 2 pi x 0.3
constexpr float kSwing = 0.15f;                          // of the half line: 20 ms +- 3 ms
constexpr float kTapOffset = 2.0f;
constexpr float kWetPerSpeed = 0.7f;
constexpr float kGainPerSpeed = 0.01f;
constexpr float kGainBase = 0.3f;
constexpr float kGainScale = 3.33f;

// Far above any audio rate; it keeps the oscillator counter well inside an int.
constexpr float kMaxOscillatorRate = 1.0e7f;

bool IsUsableRate(float fs) { return fs > 0.0f && fs <= kMaxOscillatorRate; }

// The line at a fractional position at or after its start, by linear interpolation.
inline float ReadTap(const float* afLine, int L, float fPosition)
{
    int i = static_cast<int>(fPosition);
    const float f = fPosition - static_cast<float>(i);
    // Positions lie within about 1.6 line lengths of the start unless the size changed
    // without a Reset; the modulo covers that rare case.
    if (i >= L) {
        i -= L;
        if (i >= L)
            i %= L;
    }
    const int j = i + 1 < L ? i + 1 : 0;
    return (1.0f - f) * afLine[i] + f * afLine[j];
}

} // namespace

CMyChorus::CMyChorus()
{
    // calloc: pages stay unmapped until a rate's line length touches them.
    m_afLine = static_cast<float*>(std::calloc(CHORUSBUFFERSIZE, sizeof(float)));
    m_afLineRight = static_cast<float*>(std::calloc(CHORUSBUFFERSIZE, sizeof(float)));
    m_afOscCos = static_cast<float*>(std::calloc(kOscillatorTableSize, sizeof(float)));
    m_afOscSin = static_cast<float*>(std::calloc(kOscillatorTableSize, sizeof(float)));
    m_abOscKnown = static_cast<unsigned char*>(std::calloc(kOscillatorTableSize, 1));
    if (!m_afLine || !m_afLineRight || !m_afOscCos || !m_afOscSin || !m_abOscKnown) {
        std::free(m_afLine);
        std::free(m_afLineRight);
        std::free(m_afOscCos);
        std::free(m_afOscSin);
        std::free(m_abOscKnown);
        throw std::bad_alloc();
    }
}

CMyChorus::~CMyChorus()
{
    std::free(m_afLine);
    std::free(m_afLineRight);
    std::free(m_afOscCos);
    std::free(m_afOscSin);
    std::free(m_abOscKnown);
}

void CMyChorus::OscillatorAt(int iCounter, float fs, float& fCos, float& fSin)
{
    if (iCounter < kOscillatorTableSize && m_abOscKnown[iCounter]) {
        fCos = m_afOscCos[iCounter];
        fSin = m_afOscSin[iCounter];
        return;
    }
    const float fPhase = static_cast<float>(iCounter) / fs * kRadiansPerSecond;
    CosSinToFloat(static_cast<double>(fPhase), fCos, fSin);
    if (iCounter < kOscillatorTableSize) {
        m_afOscCos[iCounter] = fCos;
        m_afOscSin[iCounter] = fSin;
        m_abOscKnown[iCounter] = 1;
        if (iCounter >= m_iOscKnownEnd)
            m_iOscKnownEnd = iCounter + 1;
    }
}

int CMyChorus::SetSampleRate(const double* pfSampleRate)
{
    if (!CORVEX_CHECK(pfSampleRate))
        return 0;
    const float fs = static_cast<float>(*pfSampleRate);
    m_iSize = SizeForRate(fs, kLineSeconds, CHORUSBUFFERSIZE, false);
    if (m_iSize < 2 * kMinHalfSize)
        m_iSize = 2 * kMinHalfSize;
    if (IsUsableRate(fs))
        m_fLastRate = fs;
    return CMyEffect::SetSampleRate(pfSampleRate);
}

int CMyChorus::Reset()
{
    // Entries beyond the line length are never read, so only the used part needs clearing.
    m_iLineLength = m_iSize;
    std::memset(m_afLine, 0, sizeof(float) * static_cast<size_t>(m_iLineLength));
    m_iWriteIndice = 0;
    m_iOscCounter = 0;
    m_bRightLive = false;
    return 1;
}

int CMyChorus::Process(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    if (n <= 0)
        return 1;
    if (!CORVEX_CHECK(m_pfSampleRate) || !CORVEX_CHECK(m_afParams)) {
        PassThrough(inL, inR, outL, outR, n);
        return 0;
    }
    // The oscillator follows the current rate; a rate that is not a positive number would
    // turn its phase, and with it the tap positions, into NaN, so the last usable one stands in.
    float fs = SampleRate();
    if (IsUsableRate(fs))
        m_fLastRate = fs;
    else
        fs = m_fLastRate;

    const float c = Level(kChorusSpeed);
    const float fDry = 1.0f - c * kWetPerSpeed;
    const float fWet = 1.0f - fDry;
    if (!IsOn(kModulationOnOff)) {
        m_bRightLive = false;
        PassThrough(inL, inR, outL, outR, n);
        return 1;
    }
    if (!CORVEX_CHECK(m_iLineLength >= 2 * kMinHalfSize)) {
        PassThrough(inL, inR, outL, outR, n);
        return 0;
    }

    if (m_bStereoInput) {
        if (!m_bRightLive) {
            std::memcpy(m_afLineRight, m_afLine, sizeof(float) * static_cast<size_t>(m_iLineLength));
            m_bRightLive = true;
        }
        Run<true>(inL, inR, outL, outR, n, fs, c, fWet, fDry);
    } else {
        m_bRightLive = false;
        Run<false>(inL, inR, outL, outR, n, fs, c, fWet, fDry);
    }
    return 1;
}

template <bool kStereo>
void CMyChorus::Run(const float* inL, const float* inR, float* outL, float* outR, int n, float fs, float c,
                    float fWet, float fDry)
{
    const float fHalf = static_cast<float>(m_iSize / 2);
    const float fGain = (c * kGainPerSpeed + kGainBase) * kGainScale;
    const float fOscLimit = fs * kOscillatorPeriodSeconds;
    const int L = m_iLineLength;
    int w = m_iWriteIndice;
    int iCounter = m_iOscCounter;
    if (fs != m_fOscTableRate) {
        std::memset(m_abOscKnown, 0, static_cast<size_t>(m_iOscKnownEnd));
        m_iOscKnownEnd = 0;
        m_fOscTableRate = fs;
    }

    for (int k = 0; k < n; ++k) {
        const float x = inL[k];
        // Read before any output is written, for in-place calls.
        const float xR = kStereo ? inR[k] : x;
        m_afLine[w] = x;
        if (kStereo)
            m_afLineRight[w] = xR;
        if (++w >= L)
            w = 0;

        if (fOscLimit > static_cast<float>(iCounter))
            ++iCounter;
        else
            iCounter = 0;
        float fCos, fSin;
        OscillatorAt(iCounter, fs, fCos, fSin);

        // Ahead of the write index, i.e. in the oldest part of the line.
        const float fWrite = static_cast<float>(w);
        const float fPosL = fCos * kSwing * fHalf - kTapOffset + fWrite + fHalf;
        const float fPosR = fSin * kSwing * fHalf - kTapOffset + fWrite + fHalf;
        const float fTapL = ReadTap(m_afLine, L, fPosL);
        const float fTapR = ReadTap(kStereo ? m_afLineRight : m_afLine, L, fPosR);

        outL[k] = (fTapL * fWet + fDry * x) * fGain;
        outR[k] = (fTapR * fWet + fDry * xR) * fGain;
    }

    m_iWriteIndice = w;
    m_iOscCounter = iCounter;
}

} // namespace corvex
