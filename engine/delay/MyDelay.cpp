#include "delay/MyDelay.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace corvex {
namespace {

constexpr float kFeedbackPerLevel = 0.7f;
constexpr float kOwnTapShare = 0.2f;   // of the feedback, from the line's own tap
constexpr float kFeedbackScale = 0.5f;
constexpr float kSecondsPerMinute = 60.0f;
constexpr float kEighthOfBeat = 0.5f;
// Beyond this a sample could overflow the feedback sum; such samples, NaN and infinities
// count as silence so that nothing non-finite ever circulates in the lines.
constexpr float kInputLimit = 1.0e30f;

float SamplesForTempo(float fTempo, float fs)
{
    return 1.0f / (fTempo / kSecondsPerMinute) * kEighthOfBeat * fs;
}

inline float Sanitised(float x) { return std::fabs(x) <= kInputLimit ? x : 0.0f; }

} // namespace

CMyDelay::CMyDelay()
{
    // calloc: pages stay unmapped until a rate's line length touches them, so the 33 s at
    // 192 kHz capacity costs memory only at the rates that use it.
    m_afLineL = static_cast<float*>(std::calloc(DELAYBUFFERSIZE, sizeof(float)));
    m_afLineR = static_cast<float*>(std::calloc(DELAYBUFFERSIZE, sizeof(float)));
    if (!m_afLineL || !m_afLineR) {
        std::free(m_afLineL);
        std::free(m_afLineR);
        throw std::bad_alloc();
    }
}

CMyDelay::~CMyDelay()
{
    std::free(m_afLineL);
    std::free(m_afLineR);
}

int CMyDelay::SetSampleRate(const double* pfSampleRate)
{
    if (!CORVEX_CHECK(pfSampleRate))
        return 0;
    m_iBuffSizeToUse = SizeForRate(static_cast<float>(*pfSampleRate), kLineSeconds, DELAYBUFFERSIZE, true);
    if (m_iBuffSizeToUse < kMinLineLength)
        m_iBuffSizeToUse = kMinLineLength;
    return CMyEffect::SetSampleRate(pfSampleRate);
}

int CMyDelay::Reset()
{
    // Only entries written since the last clear can be non-zero: a reset after little or no
    // audio (hosts activate several times before playing) clears little or nothing, and
    // untouched pages stay unmapped.
    m_iLineLength = m_iBuffSizeToUse;
    const size_t uBytes = sizeof(float) * static_cast<size_t>(m_iDirtyEnd);
    std::memset(m_afLineL, 0, uBytes);
    std::memset(m_afLineR, 0, uBytes);
    m_iDirtyEnd = 0;
    m_iWriteIndice = 0;
    return 1;
}

float CMyDelay::EighthNoteSamples()
{
    // A tempo of 0 gives an infinite eighth note, and NaN, infinite, negative or extremely slow
    // tempos give one the line cannot hold: such a tempo is ignored in favour of the last one
    // that fitted. An echo shorter than one sample would straddle the newest and the oldest
    // entry, so a tempo that fast is ignored too.
    const float fs = SampleRate();
    const float fLength = static_cast<float>(m_iLineLength);
    const auto fits = [fLength](float S) { return S >= 1.0f && S < fLength; };

    m_iKnownLength = -1;
    float S = SamplesForTempo(m_pfTempo ? *m_pfTempo : kTempoWithoutHost, fs);
    if (m_pfTempo) {
        if (fits(S)) {
            m_fLastTempo = *m_pfTempo;
            // Only this outcome depends on nothing but the tempo, the rate and the line length.
            m_fKnownTempo = *m_pfTempo;
            m_fKnownRate = fs;
            m_iKnownLength = m_iLineLength;
        } else {
            S = SamplesForTempo(m_fLastTempo, fs);
        }
    }
    if (fits(S))
        return S;
    // Only the current rate can be at fault now (far above the rate the line was sized for,
    // or not a usable number): hold the longest or shortest echo the line allows.
    if (!(S < fLength)) {
        ReportFailedCheck("samplesfordelay < fbuffsizetouse", __FILE__, __LINE__);
        return fLength - 1.0f;
    }
    return 1.0f;
}

void CMyDelay::UpdateTaps()
{
    const float S = EighthNoteSamples();
    m_fSamplesForDelay = S;
    // A tap D = iD + f samples back reads f x line[w - iD - 1] + (1 - f) x line[w - iD]. Both
    // taps move with the write index, so their indices advance by one per sample instead of
    // being recomputed modulo the line. The left tap is an eighth note back, the right a
    // quarter note (which may wrap past the line length).
    m_iTapWholeL = static_cast<int>(S);
    m_fTapFracL = S - static_cast<float>(m_iTapWholeL);
    const float S2 = 2.0f * S;
    const int iS2Whole = static_cast<int>(S2);
    m_fTapFracR = S2 - static_cast<float>(iS2Whole);
    m_iTapWholeR = iS2Whole % m_iLineLength;
}

int CMyDelay::Process(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    if (n <= 0)
        return 1;
    if (!CORVEX_CHECK(m_afParams) || !CORVEX_CHECK(m_pfSampleRate) ||
        !CORVEX_CHECK(m_iLineLength >= kMinLineLength)) {
        PassThrough(inL, inR, outL, outR, n);
        return 0;
    }
    if (!IsOn(kDelayOnOff)) {
        PassThrough(inL, inR, outL, outR, n);
        return 1;
    }

    const float fLevel = Level(kDelayLevel);
    const float g = fLevel * kFeedbackPerLevel;
    const float d = 1.0f - fLevel;

    // The taps of the last call hold while the host tempo, the rate and the line length do.
    if (!m_pfTempo || *m_pfTempo != m_fKnownTempo || SampleRate() != m_fKnownRate || m_iLineLength != m_iKnownLength)
        UpdateTaps();
    const int L = m_iLineLength;
    const int iS = m_iTapWholeL;
    const float fFracL = m_fTapFracL;
    const int iS2 = m_iTapWholeR;
    const float fFracR = m_fTapFracR;

    int w = m_iWriteIndice;
    const int iWrittenEnd = n < L - w ? w + n : L;
    if (iWrittenEnd > m_iDirtyEnd)
        m_iDirtyEnd = iWrittenEnd;
    int iOldL = w - iS - 1;
    if (iOldL < 0)
        iOldL += L;
    int iOldR = w - iS2 - 1;
    if (iOldR < 0)
        iOldR += L;
    const float fNewWeightL = 1.0f - fFracL;
    const float fNewWeightR = 1.0f - fFracR;
    float* const afLineL = m_afLineL;
    float* const afLineR = m_afLineR;

    for (int k = 0; k < n; ++k) {
        const float xL = Sanitised(inL[k]);
        const float xR = Sanitised(inR[k]);
        const int iNewL = iOldL + 1 < L ? iOldL + 1 : 0;
        const int iNewR = iOldR + 1 < L ? iOldR + 1 : 0;
        const float a = fFracL * afLineL[iOldL] + fNewWeightL * afLineL[iNewL];
        const float b = fFracR * afLineR[iOldR] + fNewWeightR * afLineR[iNewR];

        const float vL = (a * kOwnTapShare * g + b * g) * kFeedbackScale + xL;
        const float vR = (b * kOwnTapShare * g + a * g) * kFeedbackScale + xR;
        afLineL[w] = vL;
        afLineR[w] = vR;
        if (++w >= L)
            w = 0;
        iOldL = iNewL;
        iOldR = iNewR;

        outL[k] = d * xL + fLevel * vL;
        outR[k] = d * xR + fLevel * vR;
    }
    m_iWriteIndice = w;
    return 1;
}

} // namespace corvex
