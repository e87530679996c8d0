#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "EngineTestSupport.h"
#include "meters/ComputeOutputVumeters.h"

namespace corvex {
namespace {

class OutputMeters : public ::testing::Test {
protected:
    void SetUp() override { host.Attach(meters); }

    void Run(const std::vector<float>& left, const std::vector<float>& right)
    {
        ASSERT_EQ(left.size(), right.size());
        ASSERT_EQ(meters.Process(left.data(), right.data(), nullptr, nullptr, static_cast<int>(left.size())), 1);
    }
    void RunPeaks(float fLeft, float fRight, int n = 512)
    {
        std::vector<float> left(static_cast<size_t>(n), 0.0f), right(static_cast<size_t>(n), 0.0f);
        if (n > 0) {
            left[3] = fLeft;
            right[5] = fRight;
        }
        Run(left, right);
    }
    float Left() { return host[kOutputLeftVumeter]; }
    float Right() { return host[kOutputRightVumeter]; }
    float Led() { return host[kOuputClippingLed]; }

    test::BlockHost host;
    CComputeOutputVumeters meters;
};

TEST_F(OutputMeters, FullScaleReadsOneAndFallsToZeroInHalfASecond)
{
    RunPeaks(1.0f, 1.0f);
    EXPECT_EQ(Left(), 1.0f);
    EXPECT_EQ(Right(), 1.0f);
    // Each 512-sample block at 44.1 kHz takes 2 * 512 / 44100 off: empty only at the 44th.
    for (int block = 1; block <= 43; ++block) {
        RunPeaks(0.0f, 0.0f);
        ASSERT_GT(Left(), 0.0f) << "block " << block;
        ASSERT_EQ(Left(), Right());
    }
    EXPECT_NEAR(Left(), 1.0f - 43.0f * 1024.0f / 44100.0f, 1e-5f);
    RunPeaks(0.0f, 0.0f);
    EXPECT_EQ(Left(), 0.0f);
    EXPECT_EQ(Right(), 0.0f);
}

TEST_F(OutputMeters, ChannelsAreMeasuredApart)
{
    host[kOutputRightVumeter] = 0.5f;
    const auto sine = test::Sine(1000.0, 44100.0, 512, 1.0f);
    Run(sine, std::vector<float>(512, 0.0f));
    EXPECT_NEAR(Left(), 1.0f, 1e-4f);
    EXPECT_NEAR(Right(), 0.5f - 1024.0f / 44100.0f, 1e-6f);
    EXPECT_EQ(Led(), 1.0f);
}

// Blocks of several lengths over swells, decays, silence and clipped peaks: every block, the
// meters and LED hold exactly what a logarithm of every block's peak gives.
TEST_F(OutputMeters, EveryBlockMatchesTheReadingOfItsPeak)
{
    using M = CComputeOutputVumeters;
    const auto reading = [](const float* afSamples, int n) {
        float fPeak = 0.0f;
        for (int i = 0; i < n; ++i)
            fPeak = std::max(fPeak, std::fabs(afSamples[i]));
        fPeak = std::min(fPeak, 1.0f);
        const float fDb = fPeak == 0.0f ? M::kFloorDb : M::kDbFactor * static_cast<float>(std::log10(static_cast<double>(fPeak)));
        return std::max((fDb + M::kOffsetDb) * M::kScale, 0.0f);
    };
    auto left = test::Noise(60000, 7, 1.0f), right = test::Noise(60000, 8, 1.0f);
    for (size_t i = 0; i < left.size(); ++i) {
        // Swells and decays of different speeds, a silent stretch, and peaks over the LED's threshold.
        const float fEnvelope = std::pow(std::fabs(std::sin(static_cast<float>(i) * 0.0004f)), 3.0f);
        left[i] *= fEnvelope * 1.2f;
        right[i] *= i > 20000 && i < 26000 ? 0.0f : fEnvelope * 0.4f;
    }
    float afWant[2] = {0.0f, 0.0f};
    int iHold = 0;
    size_t at = 0;
    for (int b = 0; at < left.size(); ++b) {
        const int n = std::min(b % 3 == 0 ? 7 : b % 3 == 1 ? 32 : 100, static_cast<int>(left.size() - at));
        const float afMax[2] = {reading(left.data() + at, n), reading(right.data() + at, n)};
        const float fFall = M::kFallPerSecond * (static_cast<float>(n) / 44100.0f);
        for (int c = 0; c < 2; ++c)
            afWant[c] = afMax[c] > afWant[c] ? afMax[c] : std::max(afWant[c] - fFall, 0.0f);
        if (afMax[0] > M::kClipThreshold || afMax[1] > M::kClipThreshold)
            iHold = M::kLedHoldBlocks;
        const float fWantLed = iHold != 0 ? 1.0f : 0.0f;
        iHold = std::max(iHold - 1, 0);
        Run(std::vector<float>(left.begin() + static_cast<long>(at), left.begin() + static_cast<long>(at) + n),
            std::vector<float>(right.begin() + static_cast<long>(at), right.begin() + static_cast<long>(at) + n));
        ASSERT_EQ(Left(), afWant[0]) << "block " << b;
        ASSERT_EQ(Right(), afWant[1]) << "block " << b;
        ASSERT_EQ(Led(), fWantLed) << "block " << b;
        at += static_cast<size_t>(n);
    }
}

TEST_F(OutputMeters, ReadingFollowsTheDbScale)
{
    // -6.02 dB reads (45 - 6.02) / 45; samples above full scale read 1.0, as full scale does.
    RunPeaks(0.5f, -4.0f);
    EXPECT_NEAR(Left(), (45.0f + 20.0f * std::log10(0.5f)) / 45.0f, 1e-6f);
    EXPECT_EQ(Right(), 1.0f);
    // A block's reading comes from its largest sample, anywhere in the block, NaN ignored.
    meters.Reset();
    host[kOutputLeftVumeter] = 0.0f;
    auto noise = test::Noise(512, 4, 0.3f);
    noise[100] = std::numeric_limits<float>::quiet_NaN();
    Run(noise, noise);
    EXPECT_NEAR(Left(), (45.0f + 20.0f * std::log10(test::PeakAbs(noise))) / 45.0f, 1e-6f);
}

TEST_F(OutputMeters, BelowFloorReadsZero)
{
    RunPeaks(0.0055f, 1e-30f);
    EXPECT_EQ(Left(), 0.0f);
    EXPECT_EQ(Right(), 0.0f);
    RunPeaks(0.0057f, 0.0f);
    EXPECT_GT(Left(), 0.0f);
}

TEST_F(OutputMeters, ClipLedLightsAbout045DbBelowFullScale)
{
    RunPeaks(0.94f, -0.94f);
    EXPECT_EQ(Led(), 0.0f);
    RunPeaks(0.0f, -0.95f);
    EXPECT_EQ(Led(), 1.0f);
    meters.Reset();
    RunPeaks(0.95f, 0.0f);
    EXPECT_EQ(Led(), 1.0f);
    for (int block = 2; block <= 200; ++block) {
        RunPeaks(0.5f, 0.5f, block % 2 ? 0 : 64);
        ASSERT_EQ(Led(), 1.0f) << "block " << block;
    }
    RunPeaks(0.5f, 0.5f);
    EXPECT_EQ(Led(), 0.0f);
}

TEST_F(OutputMeters, EmptyBlockKeepsMetersAndCountsTheHoldDown)
{
    RunPeaks(0.96f, 0.3f);
    const float fLeft = Left(), fRight = Right();
    for (int block = 2; block <= 200; ++block) {
        RunPeaks(0.0f, 0.0f, 0);
        ASSERT_EQ(Led(), 1.0f);
    }
    EXPECT_EQ(Left(), fLeft);
    EXPECT_EQ(Right(), fRight);
    RunPeaks(0.0f, 0.0f, 0);
    EXPECT_EQ(Led(), 0.0f);
}

TEST_F(OutputMeters, NonFiniteStoredReadingSettlesToZero)
{
    host[kOutputLeftVumeter] = std::numeric_limits<float>::quiet_NaN();
    RunPeaks(0.0f, 0.0f);
    EXPECT_EQ(Left(), 0.0f);
}

} // namespace
} // namespace corvex
