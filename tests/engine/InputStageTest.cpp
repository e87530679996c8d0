#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "EngineTestSupport.h"
#include "input/ComputeInputVumeter.h"
#include "input/EffectSourceSelector.h"
#include "input/GainDEntree.h"

namespace corvex {
namespace {

bool SameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), sizeof(float) * a.size()) == 0;
}

struct Selected {
    std::vector<float> left, right;
};

Selected Select(float fSelection, const std::vector<float>& inL, const std::vector<float>& inR)
{
    test::BlockHost host;
    host[kInputSelection] = fSelection;
    CEffectSourceSelector selector;
    host.Attach(selector);
    Selected out{std::vector<float>(inL.size(), -7.0f), std::vector<float>(inL.size(), -7.0f)};
    EXPECT_EQ(selector.Process(inL.data(), inR.data(), out.left.data(), out.right.data(), static_cast<int>(inL.size())), 1);
    return out;
}

TEST(InputSelector, LeftWhenOnRightWhenExactlyZero)
{
    const auto signal = test::Noise(256, 1);
    const std::vector<float> silence(256, 0.0f);

    const auto fromLeft = Select(1.0f, signal, silence);
    EXPECT_TRUE(SameBits(fromLeft.left, signal));
    EXPECT_TRUE(SameBits(fromLeft.right, signal));
    EXPECT_EQ(test::PeakAbs(Select(1.0f, silence, signal).left), 0.0f) << "right input must be dropped";

    const auto fromRight = Select(0.0f, silence, signal);
    EXPECT_TRUE(SameBits(fromRight.left, signal));
    EXPECT_TRUE(SameBits(fromRight.right, signal));
    EXPECT_EQ(test::PeakAbs(Select(0.0f, signal, silence).right), 0.0f) << "left input must be dropped";

    // Any value other than exactly 0, NaN included, selects the left input.
    EXPECT_TRUE(SameBits(Select(std::numeric_limits<float>::quiet_NaN(), signal, silence).right, signal));
    EXPECT_TRUE(SameBits(Select(1e-30f, signal, silence).right, signal));
}

// The chain's entry: NaN is silence, magnitudes stop at the ceiling, everything else passes
// bit for bit, at every position of a block of any length.
TEST(InputSelector, MakesEverySampleSafeAndKeepsTheRest)
{
    constexpr float kCeiling = CEffectSourceSelector::kInputCeiling;
    const float kInf = std::numeric_limits<float>::infinity();
    const struct {
        float in, out;
    } cases[] = {{std::numeric_limits<float>::quiet_NaN(), 0.0f}, {kInf, kCeiling}, {-kInf, -kCeiling},
                 {1e30f, kCeiling}, {-1001.0f, -kCeiling}, {kCeiling, kCeiling}, {-0.0f, -0.0f},
                 {1e-40f, 1e-40f}, {-0.25f, -0.25f}};
    for (int n : {1, 7, 64}) {
        for (const auto& c : cases) {
            for (int at = 0; at < n; ++at) {
                std::vector<float> in = test::Noise(n, 4);
                std::vector<float> expected = in;
                in[static_cast<size_t>(at)] = c.in;
                expected[static_cast<size_t>(at)] = c.out;
                const auto out = Select(1.0f, in, in);
                ASSERT_TRUE(SameBits(out.left, expected) && SameBits(out.right, expected))
                    << c.in << " at " << at << " of " << n;
            }
        }
    }
}

TEST(InputSelector, RefusesToRunWithoutParameterTable)
{
    test::CheckRecorder checks;
    CEffectSourceSelector selector;
    float afIn[4] = {}, afOut[4] = {};
    EXPECT_EQ(selector.Process(afIn, afIn, afOut, afOut, 4), 0);
    EXPECT_TRUE(checks.Saw("m_afParams"));
}

TEST(InputGain, LeavesSamplesBitForBitUnchanged)
{
    CGainDEntree gain;
    auto left = test::Noise(512, 2, 3.0f);
    auto right = test::Noise(512, 3, 1e-38f); // subnormals too
    left[7] = -0.0f;
    left[8] = std::numeric_limits<float>::infinity();
    std::vector<float> outL(512), outR(512);
    EXPECT_EQ(gain.Process(left.data(), right.data(), outL.data(), outR.data(), 512), 1);
    EXPECT_TRUE(SameBits(outL, left));
    EXPECT_TRUE(SameBits(outR, right));
    EXPECT_EQ(gain.Process(left.data(), right.data(), nullptr, nullptr, 0), 1);
}

class InputMeter : public ::testing::Test {
protected:
    void SetUp() override { host.Attach(meter); }

    float Run(float fPeak, int n = 64)
    {
        std::vector<float> block(static_cast<size_t>(n), 0.0f);
        if (n > 0)
            block[static_cast<size_t>(n / 2)] = fPeak;
        EXPECT_EQ(meter.Process(block.data(), block.data(), nullptr, nullptr, n), 1);
        return host[kInputClippingLed];
    }

    test::BlockHost host;
    CComputeInputVumeter meter;
};

TEST_F(InputMeter, ThresholdIsStrictlyAbove099)
{
    EXPECT_EQ(Run(0.99f), 0.0f);
    EXPECT_EQ(Run(-0.99f), 0.0f);
    EXPECT_EQ(Run(std::nextafter(0.99f, 1.0f)), 1.0f);
    meter.Reset();
    EXPECT_EQ(Run(-std::nextafter(0.99f, 1.0f)), 1.0f);
}

TEST_F(InputMeter, NaNDoesNotLightTheLed)
{
    EXPECT_EQ(Run(std::numeric_limits<float>::quiet_NaN()), 0.0f);
}

TEST_F(InputMeter, HoldsFor200BlocksWhateverTheirLength)
{
    EXPECT_EQ(Run(1.5f), 1.0f);
    for (int block = 2; block <= 200; ++block)
        ASSERT_EQ(Run(0.0f, block % 3 == 0 ? 0 : 17), 1.0f) << "block " << block;
    EXPECT_EQ(Run(0.0f), 0.0f);
    EXPECT_EQ(Run(0.0f), 0.0f);
}

TEST_F(InputMeter, NewClipRestartsTheHoldAndResetClearsIt)
{
    Run(1.0f + 1e-3f);
    for (int block = 0; block < 150; ++block)
        Run(0.0f);
    Run(2.0f);
    for (int block = 2; block <= 200; ++block)
        ASSERT_EQ(Run(0.0f), 1.0f) << "block " << block;
    EXPECT_EQ(Run(0.0f), 0.0f);

    Run(2.0f);
    meter.Reset();
    EXPECT_EQ(Run(0.0f), 0.0f);
}

TEST_F(InputMeter, ReadsOnlyTheLeftInput)
{
    // After the selector has dropped it, a clip on the right channel is not seen.
    std::vector<float> left(64, 0.1f), right(64, 1.0f);
    EXPECT_EQ(meter.Process(left.data(), right.data(), nullptr, nullptr, 64), 1);
    EXPECT_EQ(host[kInputClippingLed], 0.0f);
}

} // namespace
} // namespace corvex
