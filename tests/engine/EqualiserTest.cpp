#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <vector>

#include "EngineTestSupport.h"
#include "equaliser/MyEqu.h"

namespace corvex {
namespace {

struct Equaliser {
    test::BlockHost host;
    CMyEqu equ;
    std::vector<float> outL, outR;

    Equaliser(bool bPost, bool bDistortion, double dRate = 44100.0)
    {
        host.dSampleRate = dRate;
        host[kDistortionOnOff] = bDistortion ? 1.0f : 0.0f;
        host.Attach(equ);
        equ.Configure(EffectConfiguration{}, bPost);
    }

    const std::vector<float>& Run(const std::vector<float>& inL, const std::vector<float>* pInR = nullptr)
    {
        const auto& inR = pInR ? *pInR : inL;
        outL.assign(inL.size(), 0.0f);
        outR.assign(inL.size(), 0.0f);
        EXPECT_EQ(equ.Process(inL.data(), inR.data(), outL.data(), outR.data(), static_cast<int>(inL.size())), 1);
        return outL;
    }
};

// Response of one peak band from its analogue prototype, mapped by the bilinear transform with
// the centre prewarped: s = j tan(w/2) / tan(pi f0 / fs).
std::complex<double> PeakResponse(double dFrequency, double dCentre, double dGainDb, double dRate)
{
    const double u = std::tan(M_PI * dFrequency / dRate) / std::tan(M_PI * dCentre / dRate);
    const double V = std::pow(10.0, std::fabs(dGainDb) / 20.0);
    const double Q = 0.9;
    const std::complex<double> boost(1.0 - u * u, V / Q * u), plain(1.0 - u * u, u / Q);
    return dGainDb >= 0.0 ? boost / plain : plain / boost;
}

// The voicing's response in dB: the average of the seven bands, times the output gain.
double ExpectedDb(const CMyEqu::Voicing& voicing, double dFrequency, double dRate)
{
    std::complex<double> sum;
    for (int k = 0; k < CMyEqu::kBandCount; ++k)
        sum += PeakResponse(dFrequency, CMyEqu::kCentreHz[k], 2.0 * voicing.afBandDb[k], dRate);
    return 20.0 * std::log10(std::abs(sum) / 7.0) + voicing.fOutputDb;
}

double MeasuredDb(Equaliser& eq, double dFrequency, double dRate)
{
    const int iRate = static_cast<int>(dRate);
    const auto& y = eq.Run(test::Sine(dFrequency, dRate, iRate + iRate / 2));
    // Half a second to settle, then one second: a whole number of cycles of any integer Hz.
    const std::vector<float> steady(y.begin() + iRate / 2, y.end());
    return test::ToneLevelDb(steady, dFrequency, dRate);
}

struct VoicingCase {
    bool bPost, bDistortion;
    const CMyEqu::Voicing* pVoicing;
};

TEST(Equaliser, MeasuredResponseMatchesTheAverageOfTheBands)
{
    const VoicingCase cases[] = {
        {false, true, &CMyEqu::kPreDistortionOn},
        {false, false, &CMyEqu::kPreDistortionOff},
        {true, true, &CMyEqu::kPostDistortionOn},
        {true, false, &CMyEqu::kPostDistortionOff},
    };
    const double afFrequencies[] = {40, 100, 400, 800, 1000, 1600, 3200, 6400, 12000};
    for (double dRate : {44100.0, 96000.0}) {
        for (const auto& k : cases) {
            Equaliser eq(k.bPost, k.bDistortion, dRate);
            for (double f : afFrequencies) {
                SCOPED_TRACE(testing::Message() << "post " << k.bPost << ", distortion " << k.bDistortion
                                                << ", " << f << " Hz at " << dRate);
                EXPECT_NEAR(MeasuredDb(eq, f, dRate), ExpectedDb(*k.pVoicing, f, dRate), 0.02);
            }
        }
    }
}

// The block written the plain way: seven sections run one after the other on each sample,
// summed in band order, averaged and scaled.
std::vector<float> PlainEqualiser(Biquad (&aBands)[CMyEqu::kBandCount], const CMyEqu::Voicing& voicing, float fRate,
                                  const std::vector<float>& x)
{
    for (int k = 0; k < CMyEqu::kBandCount; ++k)
        aBands[k].SetFilter(Biquad::kPeak, static_cast<double>(CMyEqu::kCentreHz[k] / fRate), 0.9,
                            2.0 * static_cast<double>(voicing.afBandDb[k]));
    const float fGain = static_cast<float>(std::pow(10.0, static_cast<double>(voicing.fOutputDb / 20.0f)));
    std::vector<float> y(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        const float v = x[i] == x[i] ? x[i] : 0.0f;
        float fSum = 0.0f;
        for (int k = 0; k < CMyEqu::kBandCount; ++k)
            fSum = k == 0 ? aBands[k].ProcessSample(v) : fSum + aBands[k].ProcessSample(v);
        y[i] = fSum / 7.0f * fGain;
    }
    return y;
}

TEST(Equaliser, BitIdenticalToSevenSectionsRunInTurn)
{
    auto x = test::Noise(6000, 25, 0.7f);
    x[10] = std::numeric_limits<float>::quiet_NaN();
    for (bool bPost : {false, true}) {
        SCOPED_TRACE(bPost ? "post" : "pre");
        Equaliser eq(bPost, true, 48000.0);
        Biquad aBands[CMyEqu::kBandCount];
        size_t pos = 0;
        int iBlock = 0;
        // Blocks of several lengths, the voicing kept for two of them, then switched.
        for (int iLength : {1, 513, 2000, 7, 1024, 2455}) {
            const bool bDistortion = iBlock++ / 2 % 2 == 0;
            eq.host[kDistortionOnOff] = bDistortion ? 1.0f : 0.0f;
            const CMyEqu::Voicing& voicing = bPost ? (bDistortion ? CMyEqu::kPostDistortionOn : CMyEqu::kPostDistortionOff)
                                                   : (bDistortion ? CMyEqu::kPreDistortionOn : CMyEqu::kPreDistortionOff);
            const std::vector<float> part(x.begin() + static_cast<long>(pos),
                                          x.begin() + static_cast<long>(pos) + iLength);
            const std::vector<float> want = PlainEqualiser(aBands, voicing, 48000.0f, part);
            ASSERT_EQ(eq.Run(part), want) << "block of " << iLength;
            pos += static_cast<size_t>(iLength);
        }
    }
}

TEST(Equaliser, PreVoicingWithDistortionCutsLowsAndBoostsMids)
{
    Equaliser eq(false, true);
    const double dLow = MeasuredDb(eq, 40, 44100.0);
    // The mids end up above unity despite the -15 dB output gain, the lows far below them.
    for (double f : {400.0, 800.0, 1600.0}) {
        const double dMid = MeasuredDb(eq, f, 44100.0);
        EXPECT_GT(dMid, 2.0) << f;
        EXPECT_GT(dMid - dLow, 15.0) << f;
    }
}

TEST(Equaliser, VoicingFollowsPositionAndDistortionSwitch)
{
    const auto x = test::Noise(4096, 21, 0.5f);
    Equaliser pre(false, true), post(true, true);
    EXPECT_NE(pre.Run(x), post.Run(x));

    for (bool bPost : {false, true}) {
        Equaliser on(bPost, true), switched(bPost, true);
        on.Run(x);
        switched.Run(x);
        EXPECT_EQ(on.outL, switched.outL);
        switched.host[kDistortionOnOff] = 0.0f;
        EXPECT_NE(on.Run(x), switched.Run(x)) << "post " << bPost;
        // Any non-zero value counts as on.
        Equaliser quarter(bPost, true);
        quarter.host[kDistortionOnOff] = 0.25f;
        quarter.Run(x);
        quarter.Run(x);
        EXPECT_EQ(quarter.outL, on.outL);
    }
}

TEST(Equaliser, OutputsAreEqualAndOnlyTheLeftInputCounts)
{
    const auto x = test::Noise(2048, 22, 0.5f);
    const auto other = test::Noise(2048, 23, 1.0f);
    Equaliser a(false, true), b(false, true);
    a.Run(x, &x);
    EXPECT_EQ(a.outL, a.outR);
    b.Run(x, &other);
    EXPECT_EQ(a.outL, b.outL);
    EXPECT_EQ(b.outL, b.outR);
}

TEST(Equaliser, SilenceGivesSilenceAndNaNCountsAsSilence)
{
    Equaliser quiet(true, false);
    EXPECT_EQ(test::PeakAbs(quiet.Run(std::vector<float>(1024, 0.0f))), 0.0f);

    auto x = test::Noise(2048, 24, 0.5f);
    auto withNaN = x;
    for (size_t i : {0u, 1u, 500u, 2047u}) {
        x[i] = 0.0f;
        withNaN[i] = std::numeric_limits<float>::quiet_NaN();
    }
    Equaliser zeros(false, true), nans(false, true);
    EXPECT_EQ(nans.Run(withNaN), zeros.Run(x));
    EXPECT_TRUE(test::AllFinite(nans.outR));
}

TEST(Equaliser, EmptyBlockSetsTheBandsAndWritesNothing)
{
    Equaliser eq(false, false);
    float fSentinel = 7.0f;
    ASSERT_EQ(eq.equ.Process(&fSentinel, &fSentinel, &fSentinel, &fSentinel, 0), 1);
    EXPECT_EQ(fSentinel, 7.0f);
    for (int k = 0; k < CMyEqu::kBandCount; ++k) {
        EXPECT_EQ(eq.equ.Band(k).Type(), Biquad::kPeak);
        EXPECT_NE(eq.equ.Band(k).B0(), 1.0) << "band " << k;
    }
    // The set voicing is the one of the switch at that empty block.
    const double dBefore = eq.equ.Band(3).B0();
    eq.host[kDistortionOnOff] = 1.0f;
    eq.equ.Process(nullptr, nullptr, nullptr, nullptr, 0);
    EXPECT_NE(eq.equ.Band(3).B0(), dBefore);
}

TEST(Equaliser, ResetKeepsTheBandMemories)
{
    const auto impulse = test::Impulse(64);
    const std::vector<float> silence(256, 0.0f);
    Equaliser a(true, true), b(true, true);
    a.Run(impulse);
    b.Run(impulse);
    b.equ.Reset();
    EXPECT_EQ(a.Run(silence), b.Run(silence));
    EXPECT_GT(test::PeakAbs(b.outL), 0.0f);
}

TEST(Equaliser, RefusesToRunWithoutParameterTable)
{
    test::CheckRecorder checks;
    CMyEqu equ;
    float afBuffer[4] = {};
    EXPECT_EQ(equ.Process(afBuffer, afBuffer, afBuffer, afBuffer, 4), 0);
    EXPECT_EQ(checks.Count(), 1);
    EXPECT_TRUE(checks.Saw("m_afParams"));
}

} // namespace
} // namespace corvex
