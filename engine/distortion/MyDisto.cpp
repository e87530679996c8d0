#include "distortion/MyDisto.h"

#include <cmath>
#include <cstring>

#include "base/ExactMath.h"
#include "distortion/ShaperTables.h"

namespace corvex {
namespace {

// The sections, read from memory at every sample. Left to itself the compiler hoists their
// fifty coefficients out of the sample loop into stack copies it reads back from there: a
// copy at every block and, with the register pressure, more spills at every sample.
inline Biquad* ReadAfresh(Biquad* aSections)
{
#if defined(__GNUC__)
    asm("" : "+r"(aSections));
#endif
    return aSections;
}

struct SectionSetting {
    int iType;
    float fFrequency; // Hz
    double dGainDb;   // ignored by the low- and high-passes
};

constexpr double kSectionQ = 0.55;

// Indexed like CMyDisto::Section.
constexpr SectionSetting kSectionSettings[] = {
    {Biquad::kPeak, 500.0f, 20.0},       // P1
    {Biquad::kPeak, 2000.0f, 20.0},      // P2
    {Biquad::kPeak, 800.0f, 20.0},       // P3
    {Biquad::kHighPass, 200.0f, -20.0},  // H
    {Biquad::kPeak, 2500.0f, 20.0},      // M
    {Biquad::kLowPass, 4500.0f, -20.0},  // L2
    {Biquad::kLowPass, 10000.0f, -20.0}, // L3
    {Biquad::kLowPass, 10000.0f, -20.0}, // L4
    {Biquad::kLowPass, 10000.0f, -20.0}, // L5
    {Biquad::kLowPass, 10000.0f, -20.0}, // L6
};

constexpr float kDriveSpanDb = 45.0f;   // drive in dB = 45·v − 40
constexpr float kDriveFloorDb = -40.0f;
constexpr float kOutputTrimDb = -10.528f;

constexpr float kSoftClipSlope = 25.0f; // voice 1
constexpr float kHardClipDrive = 25.0f; // voice 2, ahead of its clip
constexpr float kHardClipLimit = 0.999f;

// Every voice enters the mix inverted.
constexpr float kWeightSoft = 0.6364f;
constexpr float kWeightHard = 0.5504f;
constexpr float kWeightA = 0.47000003f;
constexpr float kWeightB = 0.3334f;
constexpr float kWeightC = 0.31313998f;
constexpr float kWeightD = -0.411f;
constexpr float kMixTrim = 0.7f;

float DbToGain(float fDb)
{
    return static_cast<float>(std::pow(10.0, static_cast<double>(fDb / 20.0f)));
}

} // namespace

static_assert(sizeof(kSectionSettings) / sizeof(kSectionSettings[0]) == 10, "one setting per section");

CMyDisto::CMyDisto() : m_fOutputScale(DbToGain(kOutputTrimDb)) {}

int CMyDisto::Reset()
{
    return 1;
}

float CMyDisto::DriveGain(float fLevel)
{
    return DbToGain(kDriveSpanDb * fLevel + kDriveFloorDb);
}

void CMyDisto::UpdateSections(float fs)
{
    m_fSectionsRate = fs;
    for (int k = 0; k < kSectionCount; ++k) {
        const SectionSetting& setting = kSectionSettings[k];
        m_aSections[k].SetFilter(setting.iType, static_cast<double>(setting.fFrequency / fs), kSectionQ,
                                 setting.dGainDb);
    }
}

int CMyDisto::Process(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    if (!CORVEX_CHECK(m_afParams) || !CORVEX_CHECK(m_pfSampleRate))
        return 0;

    // Coefficients follow the sample rate even while bypassed, so switching on needs no update.
    // The sections depend on nothing but the rate.
    const float fs = SampleRate();
    if (fs != m_fSectionsRate)
        UpdateSections(fs);

    if (!IsOn(kDistortionOnOff)) {
        PassThrough(inL, inR, outL, outR, n);
        return 1;
    }

    // The drive follows the level; pow only when the level moved.
    const float fLevel = Level(kDistortionLevel);
    if (std::memcmp(&fLevel, &m_fDriveLevel, sizeof fLevel) != 0) {
        m_fDriveGain = DriveGain(fLevel);
        m_fDriveLevel = fLevel;
    }
    const float G = m_fDriveGain;
    const float S = m_fOutputScale;
    // Every section is a filter type (kSectionSettings): no type dispatch per sample.
    for (int i = 0; i < n; ++i) {
        Biquad* const aSections = ReadAfresh(m_aSections);
        Biquad& P1 = aSections[kP1];
        Biquad& P2 = aSections[kP2];
        Biquad& P3 = aSections[kP3];
        Biquad& H = aSections[kH];
        Biquad& M = aSections[kM];
        Biquad& L2 = aSections[kL2];
        Biquad& L3 = aSections[kL3];
        Biquad& L4 = aSections[kL4];
        Biquad& L5 = aSections[kL5];
        Biquad& L6 = aSections[kL6];
        const float x = inL[i];
        const float p1 = P1.ProcessFilter(x);
        const float p2 = P2.ProcessFilter(x);
        const float p3 = P3.ProcessFilter(x);
        const float d = ((p3 + (p1 + p2)) + x) * G;

        // The exponent is never positive, whatever the sign of d.
        const float u = kSoftClipSlope * d;
        const float s1 = u > 0.0f ? 1.0f - ExpToFloat(-static_cast<double>(u)) : ExpToFloat(static_cast<double>(u)) - 1.0f;

        float c = kHardClipDrive * M.ProcessFilter(H.ProcessFilter(d));
        if (c > kHardClipLimit)
            c = kHardClipLimit;
        else if (c < -kHardClipLimit)
            c = -kHardClipLimit;
        const float s2 = L2.ProcessFilter(c);

        // All four tables are read at the same level.
        const float fLog10 = d == 0.0f ? 0.0f : ShaperLog10(d);
        const float s3 = L3.ProcessFilter(ShaperRead(kShaperA, d, fLog10));
        const float s4 = L4.ProcessFilter(ShaperRead(kShaperB, d, fLog10));
        const float s5 = L5.ProcessFilter(ShaperRead(kShaperC, d, fLog10));
        const float s6 = L6.ProcessFilter(ShaperRead(kShaperD, d, fLog10));

        const float y =
            (kWeightD * s6 - ((((kWeightSoft * s1 + kWeightHard * s2) + kWeightA * s3) + kWeightB * s4) + kWeightC * s5)) *
            S * kMixTrim;
        outL[i] = y;
        outR[i] = y;
    }
    return 1;
}

} // namespace corvex
