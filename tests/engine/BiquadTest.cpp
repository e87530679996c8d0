#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "EngineTestSupport.h"
#include "filters/Biquad.h"
#include "filters/BiquadBank.h"

namespace corvex {
namespace {

std::vector<float> Filter(Biquad& section, const std::vector<float>& x)
{
    std::vector<float> y(x.size());
    for (size_t i = 0; i < x.size(); ++i)
        y[i] = section.ProcessSample(x[i]);
    return y;
}

// Steady-state gain of a filter section at an integer frequency: half a second to settle,
// then one second, a whole number of cycles.
double GainDb(int iType, double dCutoff, double dQ, double dGainDb, double dFrequency, double dRate = 44100.0)
{
    Biquad section;
    section.SetFilter(iType, static_cast<double>(static_cast<float>(dCutoff) / static_cast<float>(dRate)), dQ, dGainDb);
    const int iRate = static_cast<int>(dRate);
    const auto y = Filter(section, test::Sine(dFrequency, dRate, iRate + iRate / 2));
    return test::ToneLevelDb(std::vector<float>(y.begin() + iRate / 2, y.end()), dFrequency, dRate);
}

// A delay-line section ready to run at a given rate (the rate must outlive it).
std::unique_ptr<Biquad> DelaySection(int iType, double dDecay, double dDelay, const double& dRate)
{
    auto section = std::make_unique<Biquad>(iType, dDecay, dDelay);
    section->SetSampleRate(&dRate);
    section->Reset();
    return section;
}

TEST(BiquadFilter, DefaultSectionIsAnIdentity)
{
    Biquad section;
    const auto x = test::Noise(1000, 31, 10.0f);
    EXPECT_EQ(Filter(section, x), x);
}

TEST(BiquadFilter, LowPassAtAQuarterOfTheRateIsSymmetric)
{
    Biquad section;
    section.SetFilter(Biquad::kLowPass, 0.25, 0.707, 0.0);
    EXPECT_NEAR(section.A1(), 0.0, 1e-15);
    EXPECT_EQ(section.B1(), 2.0 * section.B0());
    EXPECT_EQ(section.B2(), section.B0());
}

TEST(BiquadFilter, PeakAtZeroDbPassesTheSignal)
{
    Biquad section;
    section.SetFilter(Biquad::kPeak, 0.03, 0.9, 0.0);
    const auto x = test::Noise(5000, 32);
    const auto y = Filter(section, x);
    for (size_t i = 0; i < x.size(); ++i)
        ASSERT_NEAR(y[i], x[i], 1e-6f) << i;
}

TEST(BiquadFilter, PeakBoostAndCutOfEqualSizeCancel)
{
    for (double dGain : {3.0, 12.0, 30.0}) {
        for (double dFrequency : {0.001, 0.02, 0.3}) {
            Biquad boost, cut;
            boost.SetFilter(Biquad::kPeak, dFrequency, 0.9, dGain);
            cut.SetFilter(Biquad::kPeak, dFrequency, 0.9, -dGain);
            const auto x = test::Noise(20000, 33);
            const auto y = Filter(cut, Filter(boost, x));
            float fError = 0.0f;
            for (size_t i = 0; i < x.size(); ++i)
                fError = std::max(fError, std::fabs(y[i] - x[i]));
            EXPECT_LT(fError, 2e-5f) << dGain << " dB at " << dFrequency;
        }
    }
}

TEST(BiquadFilter, MeasuredFrequencyResponse)
{
    // Second-order low- and high-pass at Q 0.707 are 3 dB down at the cutoff.
    EXPECT_NEAR(GainDb(Biquad::kLowPass, 1000, 0.707, 0, 1000), -3.01, 0.05);
    EXPECT_NEAR(GainDb(Biquad::kLowPass, 1000, 0.707, 0, 100), 0.0, 0.05);
    EXPECT_LT(GainDb(Biquad::kLowPass, 1000, 0.707, 0, 10000), -38.0);
    EXPECT_NEAR(GainDb(Biquad::kHighPass, 1000, 0.707, 0, 1000), -3.01, 0.05);
    EXPECT_NEAR(GainDb(Biquad::kHighPass, 1000, 0.707, 0, 10000), 0.0, 0.05);
    EXPECT_LT(GainDb(Biquad::kHighPass, 1000, 0.707, 0, 100), -38.0);
    // Resonance: Q 4 lifts the cutoff by 20 log10(4).
    EXPECT_NEAR(GainDb(Biquad::kLowPass, 2000, 4.0, 0, 2000), 12.04, 0.05);

    EXPECT_NEAR(GainDb(Biquad::kPeak, 1000, 1.0, 12.0, 1000), 12.0, 0.05);
    EXPECT_NEAR(GainDb(Biquad::kPeak, 1000, 1.0, -12.0, 1000), -12.0, 0.05);
    EXPECT_NEAR(GainDb(Biquad::kPeak, 1000, 1.0, 12.0, 40), 0.0, 0.2);
    EXPECT_NEAR(GainDb(Biquad::kPeak, 1000, 1.0, -12.0, 18000), 0.0, 0.2);

    EXPECT_NEAR(GainDb(Biquad::kBandPass, 1000, 2.0, 0, 1000), 0.0, 0.05);
    EXPECT_LT(GainDb(Biquad::kBandPass, 1000, 2.0, 0, 100), -20.0);
    EXPECT_LT(GainDb(Biquad::kNotch, 1000, 2.0, 0, 1000), -50.0);
    EXPECT_NEAR(GainDb(Biquad::kNotch, 1000, 2.0, 0, 5000), 0.0, 0.2);

    EXPECT_NEAR(GainDb(Biquad::kLowShelf, 1000, 0.707, 6.0, 30), 6.0, 0.1);
    EXPECT_NEAR(GainDb(Biquad::kLowShelf, 1000, 0.707, -6.0, 30), -6.0, 0.1);
    EXPECT_NEAR(GainDb(Biquad::kLowShelf, 1000, 0.707, 6.0, 15000), 0.0, 0.1);
    EXPECT_NEAR(GainDb(Biquad::kHighShelf, 1000, 0.707, 6.0, 15000), 6.0, 0.1);
    EXPECT_NEAR(GainDb(Biquad::kHighShelf, 1000, 0.707, -6.0, 15000), -6.0, 0.1);
    EXPECT_NEAR(GainDb(Biquad::kHighShelf, 1000, 0.707, 6.0, 30), 0.0, 0.1);
}

TEST(BiquadFilter, CutoffsAboveTheRateStayStable)
{
    // A 10 kHz low-pass at host rates that cannot represent it.
    for (double dRate : {8000.0, 1234.5678}) {
        for (int iType : {Biquad::kLowPass, Biquad::kHighPass, Biquad::kPeak, Biquad::kLowShelf, Biquad::kHighShelf}) {
            Biquad section;
            section.SetFilter(iType, static_cast<double>(10000.0f / static_cast<float>(dRate)), 0.707, 12.0);
            auto x = test::Noise(20000, 34);
            x.resize(30000, 0.0f);
            const auto y = Filter(section, x);
            EXPECT_TRUE(test::AllFinite(y)) << dRate << " type " << iType;
            EXPECT_LT(test::PeakAbs(y), 20.0f) << dRate << " type " << iType;
            EXPECT_LT(test::PeakAbs(std::vector<float>(y.end() - 1000, y.end())), 1e-6f) << dRate << " type " << iType;
        }
    }
}

TEST(BiquadFilter, SettingsChangeWithoutLosingTheState)
{
    Biquad section;
    section.SetFilter(Biquad::kLowPass, 0.02, 0.707, 0.0);
    for (int i = 0; i < 5000; ++i)
        section.ProcessSample(1.0f);
    // A cleared state would restart near b0 (about 0.02); the memories carry on instead.
    section.SetFilter(Biquad::kLowPass, 0.05, 0.707, 0.0);
    EXPECT_NEAR(section.ProcessSample(1.0f), 1.0f, 0.05f);
}

TEST(BiquadFilter, ProcessIsRefused)
{
    test::CheckRecorder checks;
    Biquad section;
    float fSample = 0.0f;
    EXPECT_EQ(section.Process(&fSample, &fSample, &fSample, &fSample, 1), 0);
    EXPECT_TRUE(checks.Saw("0"));
}

TEST(BiquadDelay, LineCapacityFollowsTheRate)
{
    test::CheckRecorder checks;
    const struct {
        double dRate;
        int iCapacity;
    } cases[] = {{44100.0, 132300}, {48000.0, 144000}, {192000.0, 576000}, {10.0 / 3.0, 10}};
    for (const auto& k : cases) {
        Biquad section(Biquad::kDelay, 0.0, 0.0);
        section.SetSampleRate(&k.dRate);
        EXPECT_EQ(section.Capacity(), k.iCapacity) << k.dRate;
        EXPECT_EQ(section.LineLength(), 0) << "the length follows at Reset";
        section.Reset();
        EXPECT_EQ(section.LineLength(), k.iCapacity) << k.dRate;
    }
    EXPECT_EQ(checks.Count(), 0);

    const double dTooHigh = 200000.0;
    Biquad section(Biquad::kDelay, 0.0, 0.0);
    section.SetSampleRate(&dTooHigh);
    section.Reset();
    EXPECT_EQ(section.Capacity(), Biquad::BIQUADLINESIZE);
    EXPECT_EQ(section.LineLength(), Biquad::BIQUADLINESIZE);
    EXPECT_TRUE(checks.Saw("0"));
}

TEST(BiquadDelay, ReadsBetweenEntriesAndWrapsAroundTheLine)
{
    const double dRate = 10.0 / 3.0; // a line of 10 entries
    auto section = DelaySection(Biquad::kDelay, 0.0, 0.0, dRate);
    ASSERT_EQ(section->LineLength(), 10);
    float* afLine = section->DelayLine();
    for (int i = 0; i < 10; ++i)
        afLine[i] = static_cast<float>(1 + i * i);
    EXPECT_FLOAT_EQ(section->ReadDelayLine(-2.3f), 0.3f * afLine[7] + 0.7f * afLine[8]);
    EXPECT_FLOAT_EQ(section->ReadDelayLine(4.25f), 0.75f * afLine[4] + 0.25f * afLine[5]);
    EXPECT_FLOAT_EQ(section->ReadDelayLine(9.5f), 0.5f * afLine[9] + 0.5f * afLine[0]);
    EXPECT_FLOAT_EQ(section->ReadDelayLine(-12.3f), section->ReadDelayLine(-2.3f));
    EXPECT_FLOAT_EQ(section->ReadDelayLine(14.25f), section->ReadDelayLine(4.25f));
}

TEST(BiquadDelay, PlainDelayReturnsTheInputFromRateTimesTimeEarlier)
{
    const double dRate = 48000.0;
    const auto impulse = test::Impulse(2000, 0, 1.0f);

    auto whole = DelaySection(Biquad::kDelay, 0.0, 1.0 / 64.0, dRate); // 750 samples
    const auto y = Filter(*whole, impulse);
    EXPECT_EQ(y, test::Impulse(2000, 750, 1.0f));

    auto fractional = DelaySection(Biquad::kDelay, 0.0, 1.0 / 1024.0, dRate); // 46.875 samples
    auto expected = test::Impulse(2000, 46, 0.125f);
    expected[47] = 0.875f;
    EXPECT_EQ(Filter(*fractional, impulse), expected);

    // 2.5 samples on a 12-entry line: reads wrap past its start on every lap.
    const double dSlowRate = 4.0;
    auto wrapping = DelaySection(Biquad::kDelay, 0.0, 0.625, dSlowRate);
    ASSERT_EQ(wrapping->LineLength(), 12);
    std::vector<float> ramp(40);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<float>(i + 1);
    const auto delayed = Filter(*wrapping, ramp);
    for (size_t k = 0; k < ramp.size(); ++k) {
        const float fOlder = k >= 3 ? ramp[k - 3] : 0.0f;
        const float fNewer = k >= 2 ? ramp[k - 2] : 0.0f;
        ASSERT_EQ(delayed[k], 0.5f * fOlder + 0.5f * fNewer) << k;
    }
}

TEST(BiquadDelay, CombFallsSixtyDbOverTheDecayTime)
{
    const double dRate = 48000.0;
    auto equal = DelaySection(Biquad::kComb, 0.2, 0.2, dRate);
    EXPECT_NEAR(equal->CombGain(), 0.001, 1e-15);

    // 10 ms echoes over a 100 ms decay: the tenth echo is 60 dB down.
    auto comb = DelaySection(Biquad::kComb, 0.1, 0.01, dRate);
    const auto y = Filter(*comb, test::Impulse(5000));
    EXPECT_EQ(y[0], 1.0f);
    EXPECT_NEAR(20.0 * std::log10(y[4800]), -60.0, 0.01);
    EXPECT_NEAR(y[480], std::pow(10.0, -6.0 / 20.0), 1e-6);
}

TEST(BiquadDelay, ZeroDecayMeansNoFeedback)
{
    const double dRate = 44100.0;
    auto comb = DelaySection(Biquad::kComb, 0.0, 0.05, dRate);
    EXPECT_EQ(comb->CombGain(), 0.0);
    const auto x = test::Noise(6000, 35);
    EXPECT_EQ(Filter(*comb, x), x);

    // The all-pass becomes a plain delay of 2,205 samples.
    auto allPass = DelaySection(Biquad::kAllPass, 0.0, 0.05, dRate);
    const auto y = Filter(*allPass, x);
    for (size_t i = 2205; i < x.size(); ++i)
        ASSERT_EQ(y[i], x[i - 2205]) << i;
}

TEST(BiquadDelay, NaNNeverEntersTheLine)
{
    const double dRate = 8000.0;
    for (int iType : {Biquad::kComb, Biquad::kAllPass, Biquad::kDelay}) {
        auto section = DelaySection(iType, 1.0, 0.01, dRate);
        auto x = test::Noise(3000, 36);
        x[10] = std::numeric_limits<float>::quiet_NaN();
        EXPECT_TRUE(test::AllFinite(Filter(*section, x))) << iType;
    }
}

TEST(BiquadDelay, SectionWithoutLineRefusesDelayTypes)
{
    // A default section owns no line; switched to a delay type it must not touch one.
    test::CheckRecorder checks;
    const double dRate = 44100.0;
    Biquad section;
    section.SetFilter(Biquad::kComb, 0.0, 0.0, 0.0);
    section.SetSampleRate(&dRate);
    section.Reset();
    EXPECT_EQ(section.ProcessSample(0.5f), 0.5f);
    EXPECT_EQ(checks.Count(), 1);
}

} // namespace
} // namespace corvex

namespace corvex {
namespace {

// The bank must give each lane exactly what the section itself would, memories included.
TEST(BiquadBank, LanesMatchTheirSectionsBitForBit)
{
    Biquad aBanked[7], aSerial[7];
    for (int k = 0; k < 7; ++k) {
        const double dFrequency = 0.002 * (k + 1) * (k + 1);
        const double dGain = (k % 2 ? -1.0 : 1.0) * 3.0 * (k + 1);
        aBanked[k].SetFilter(k == 6 ? Biquad::kLowPass : Biquad::kPeak, dFrequency, 0.9, dGain);
        aSerial[k].SetFilter(k == 6 ? Biquad::kLowPass : Biquad::kPeak, dFrequency, 0.9, dGain);
    }
    const auto input = test::Noise(3000, 21, 0.8f);
    BiquadBank bank;
    float afOut[BiquadBank::kLanes], afIn[BiquadBank::kLanes] = {};
    for (int iBlock = 0; iBlock < 3; ++iBlock) {
        bank.Load(aBanked, 7);
        for (int i = 0; i < 1000; ++i) {
            const float x = input[static_cast<size_t>(iBlock * 1000 + i)];
            bank.ProcessSameInput(x, afOut);
            for (int k = 0; k < 7; ++k)
                ASSERT_EQ(afOut[k], aSerial[k].ProcessSample(x)) << k;
        }
        bank.Store(aBanked);
    }
    // Each lane on its own input.
    bank.Load(aBanked, 7);
    for (int i = 0; i < 500; ++i) {
        for (int k = 0; k < 7; ++k)
            afIn[k] = input[static_cast<size_t>((i * 7 + k) % 3000)];
        bank.ProcessEachInput(afIn, afOut);
        for (int k = 0; k < 7; ++k)
            ASSERT_EQ(afOut[k], aSerial[k].ProcessSample(afIn[k])) << k;
    }
    bank.Store(aBanked);
    for (int k = 0; k < 7; ++k) {
        double a1, a2, b1, b2;
        aBanked[k].GetMemories(a1, a2);
        aSerial[k].GetMemories(b1, b2);
        EXPECT_EQ(a1, b1);
        EXPECT_EQ(a2, b2);
    }
}

} // namespace
} // namespace corvex
