#include "dynamics/MyComp.h"

#include "base/ExactMath.h"

#include <cmath>
#include <cstring>

namespace corvex {
namespace {

// Level measurement.
constexpr float kFixedPointScale = 4294967296.0f;        // 2^32: 32 fractional bits
constexpr float kInverseFixedPointScale = 1.0f / kFixedPointScale;
constexpr float kInverseWindow = 1.0f / 1024.0f; // over 1,023 entries: reads 0.0085 dB low
constexpr float kSilenceDb = -150.0f;
constexpr float kLevelOffsetDb = 3.8f;
// Magnitudes are counted at most this large (about +120 dBFS), so that even a full window of
// them keeps the fixed-point sum, and any partial sum on the way, within 64 bits.
constexpr float kMaxMagnitude = 1048576.0f;              // 2^20
static_assert(static_cast<double>(kMaxMagnitude) * kFixedPointScale * CMyComp::BUFCOMPSIZE < 9.2e18,
              "window sum must fit in 64 bits");

// Gain law, in dB.
constexpr float kUpperThresholdRange = 30.0f;            // T = (1 - c) * 30 - 50
constexpr float kUpperThresholdFloor = -50.0f;
constexpr float kLowerThresholdCeiling = -27.84f;
constexpr float kLawOffsetDb = 11.45f;
constexpr float kCompressionFactor = 0.532f;             // output slope 1 - 0.532 above T
constexpr float kMakeUpPerLevel = 13.0f;                 // make-up grows with "Compressor Level"

// Limiter.
constexpr float kLimiterGain = 6.0f;
constexpr float kLinearLimit = 0.5f;

enum GainState { kBetween = 0, kCompressing = 1, kGating = 2 };

std::int64_t Quantise(float fMagnitude)
{
    // NaN counts as silence; anything larger than the bound as the bound.
    float m = fMagnitude == fMagnitude ? fMagnitude : 0.0f;
    m = m < kMaxMagnitude ? m : kMaxMagnitude;
    return static_cast<std::int64_t>(m * kFixedPointScale);
}

// Once per sample: the library's power, without the library's cost.
float DbToGain(float fDb)
{
    return Pow10ToFloat(static_cast<double>(fDb / 20.0f));
}

// The limiter's curve: linear up to 0.5, then a fourth-power rise that holds at full scale.
float Saturate(float v)
{
    const float a = std::fabs(v);
    if (a < kLinearLimit)
        return v;
    if (a != a)
        return 0.0f; // NaN: silence rather than a full-scale click
    float d = a - kLinearLimit;
    d *= d;
    d *= d;
    float m = d + kLinearLimit;
    m = m < 1.0f ? m : 1.0f; // infinity saturates here too
    return std::copysign(m, v);
}

} // namespace

CMyComp::CMyComp() : m_afMagnitudes(new float[BUFCOMPSIZE]()) {}

int CMyComp::Reset()
{
    m_llMagnitudeSum = 0;
    m_iGainState = kBetween;
    std::memset(m_afMagnitudes.get(), 0, sizeof(float) * BUFCOMPSIZE);
    m_iWriteIndice = 0;
    return 1;
}

float CMyComp::ComputeLevelDb()
{
    const int w = m_iWriteIndice;
    const int o = (w + 1) % BUFCOMPSIZE;
    // The entry just written enters the sum, the oldest leaves it: the sum always covers the
    // 1,023 newest magnitudes. The difference first, so no partial sum holds 1,024 entries.
    m_llMagnitudeSum += Quantise(m_afMagnitudes[w]) - Quantise(m_afMagnitudes[o]);
    const float fMean = static_cast<float>(static_cast<double>(m_llMagnitudeSum)) * kInverseFixedPointScale * kInverseWindow;
    if (fMean == 0.0f)
        return kSilenceDb + kLevelOffsetDb;
    return 20.0f * Log10ToFloat(static_cast<double>(fMean)) + kLevelOffsetDb;
}

int CMyComp::Process(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    if (!CORVEX_CHECK(m_afParams))
        return 0;

    if (!IsOn(kGateCompressorOnOff)) {
        PassThrough(inL, inR, outL, outR, n);
        SetParam(kCompressionLed, 0.0f);
        return 1;
    }

    const float c = Level(kCompressorLevel);
    const float T = (1.0f - c) * kUpperThresholdRange + kUpperThresholdFloor;
    const float Gt = T < kLowerThresholdCeiling ? T : kLowerThresholdCeiling;
    const float fMakeUpDb = kMakeUpPerLevel * c;

    int iState = m_iGainState;
    for (int i = 0; i < n; ++i) {
        const float x = inL[i];
        if (!CORVEX_CHECK(m_iWriteIndice >= 0) || !CORVEX_CHECK(m_iWriteIndice < BUFCOMPSIZE))
            m_iWriteIndice = 0;
        m_afMagnitudes[m_iWriteIndice] = std::fabs(x);
        const float L = ComputeLevelDb();
        if (++m_iWriteIndice >= BUFCOMPSIZE)
            m_iWriteIndice = 0;

        // Both tests hold only when L = Gt = T; compression wins then.
        iState = kBetween;
        if (Gt >= L)
            iState = kGating;
        if (L >= T)
            iState = kCompressing;

        float h;
        switch (iState) {
        case kCompressing:
            h = (T - L) * kCompressionFactor + (L + kLawOffsetDb);
            break;
        case kGating:
            h = (L + kLawOffsetDb) - (Gt - L);
            break;
        default:
            h = L + kLawOffsetDb;
            break;
        }
        const float fGainDb = fMakeUpDb + (h - L);
        const float y = x * DbToGain(fGainDb);
        outL[i] = y;
        outR[i] = y;
    }
    m_iGainState = iState;
    if (n > 0)
        SetParam(kCompressionLed, iState == kCompressing ? 1.0f : 0.0f);
    return 1;
}

int CMyComp::ProcessLimiter(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    if (!CORVEX_CHECK(m_afParams))
        return 0;
    for (int i = 0; i < n; ++i) {
        const float a = inL[i] * kLimiterGain;
        const float b = inR[i] * kLimiterGain;
        outL[i] = Saturate(a);
        outR[i] = Saturate(b);
    }
    return 1;
}

} // namespace corvex
