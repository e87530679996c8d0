#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "EngineTestSupport.h"
#include "TestEngine.h"

namespace corvex {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

bool WithinFullScale(const std::vector<float>& signal)
{
    for (float x : signal)
        if (!(std::fabs(x) <= 1.0f))
            return false;
    return true;
}

// Feeds a hostile burst, then a tone, and checks the output stays finite and within full scale
// throughout and sounds like the tone again within two seconds.
void ExpectRecoveryFrom(float fHostile, bool bEverySample)
{
    constexpr double kRate = 44100.0;
    test::TestEngine hostile, clean;
    const int n = static_cast<int>(kRate) * 3;
    auto tone = test::Sine(220.0, kRate, n, 0.2f);
    auto input = tone;
    for (int i = 0; i < 2048; ++i)
        if (bEverySample || i % 97 == 0)
            input[static_cast<size_t>(i)] = fHostile;

    std::vector<float> outL, outR, refL, refR;
    ASSERT_TRUE(hostile.Run(input, input, outL, outR));
    ASSERT_TRUE(clean.Run(tone, tone, refL, refR));
    EXPECT_TRUE(test::AllFinite(outL) && test::AllFinite(outR)) << fHostile;
    EXPECT_TRUE(WithinFullScale(outL) && WithinFullScale(outR)) << fHostile;

    // In the last second the burst has gone; the engine sounds the tone at its usual level.
    const std::vector<float> tail(outL.end() - static_cast<long>(kRate), outL.end());
    const std::vector<float> refTail(refL.end() - static_cast<long>(kRate), refL.end());
    EXPECT_NEAR(test::ToneLevelDb(tail, 220.0, kRate), test::ToneLevelDb(refTail, 220.0, kRate), 3.0) << fHostile;
}

TEST(ChainRobustness, RecoversFromNonFiniteAndHugeInput)
{
    for (float fHostile : {kNaN, kInf, -kInf, 1e30f, -1e30f, std::numeric_limits<float>::max()}) {
        ExpectRecoveryFrom(fHostile, true);
        ExpectRecoveryFrom(fHostile, false);
    }
}

TEST(ChainRobustness, DenormalInputIsHarmless)
{
    test::TestEngine engine;
    std::vector<float> input(44100, std::numeric_limits<float>::denorm_min());
    for (size_t i = 0; i < input.size(); i += 2)
        input[i] = -input[i];
    std::vector<float> outL, outR;
    ASSERT_TRUE(engine.Run(input, input, outL, outR));
    EXPECT_TRUE(test::AllFinite(outL) && test::AllFinite(outR));
    EXPECT_TRUE(WithinFullScale(outL) && WithinFullScale(outR));
}

TEST(ChainRobustness, AnySampleRateStaysFiniteAndUsualRatesRecover)
{
    const auto input = test::Noise(8192, 5, 0.5f);
    for (double dRate : {1000.0, 1234.5678, 8000.0, 16000.0, 22050.0, 44100.0, 96000.0, 192000.0, 384000.0,
                         1230000.0, 1500000.0}) {
        // Both ways a rate can arrive: handed to the blocks, and changed behind their back.
        test::TestEngine handed(dRate);
        std::vector<float> outL, outR;
        ASSERT_TRUE(handed.Run(input, input, outL, outR, 512)) << dRate;
        EXPECT_TRUE(test::AllFinite(outL) && test::AllFinite(outR)) << dRate;
        EXPECT_TRUE(WithinFullScale(outL) && WithinFullScale(outR)) << dRate;

        test::TestEngine changed;
        changed.dSampleRate = dRate;
        ASSERT_TRUE(changed.Run(input, input, outL, outR, 512)) << dRate;
        EXPECT_TRUE(test::AllFinite(outL) && test::AllFinite(outR)) << dRate;

        // Back at a usual rate the engine processes a tone normally again.
        changed.dSampleRate = 44100.0;
        const auto tone = test::Sine(330.0, 44100.0, 44100, 0.2f);
        ASSERT_TRUE(changed.Run(tone, tone, outL, outR, 512));
        const std::vector<float> tail(outL.end() - 22050, outL.end());
        EXPECT_GT(test::ToneLevelDb(tail, 330.0, 44100.0), -40.0) << dRate;
        EXPECT_TRUE(test::AllFinite(outL)) << dRate;
    }
}

TEST(ChainRobustness, EveryBlockLengthAndUsualRateRunsCleanly)
{
    const auto input = test::Noise(6000, 9, 0.5f);
    for (double dRate : {44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0}) {
        for (int iBlock : {1, 2, 3, 64, 100, 511, 512, 1023, 1024}) {
            test::TestEngine engine(dRate);
            std::vector<float> outL, outR;
            ASSERT_TRUE(engine.Run(input, input, outL, outR, iBlock)) << dRate << " " << iBlock;
            ASSERT_TRUE(test::AllFinite(outL) && test::AllFinite(outR)) << dRate << " " << iBlock;
            ASSERT_TRUE(WithinFullScale(outL) && WithinFullScale(outR)) << dRate << " " << iBlock;
        }
    }
}

TEST(ChainRobustness, DistortionSwitchChangesFourBlocksAtTheNextBlock)
{
    // With distortion off the pre-equaliser, cabinet and post-equaliser also change voicing, so
    // the clean chain differs from a chain where only the distortion block is bypassed.
    test::TestEngine on, off;
    off[kDistortionOnOff] = 0.0f;
    const auto tone = test::Sine(440.0, 44100.0, 1024, 0.1f);
    std::vector<float> onL, onR, offL, offR;
    ASSERT_TRUE(on.Run(tone, tone, onL, onR, 512));
    ASSERT_TRUE(off.Run(tone, tone, offL, offR, 512));
    EXPECT_NE(onL, offL);
}


TEST(ChainRobustness, UnusableParameterValuesNeitherBreakNorStickInTheChain)
{
    // Levels outside [0, 1] or non-finite, written straight into the parameter floats, must
    // not turn filter memories or feedback lines non-finite; normal values then sound normal.
    const auto tone = test::Sine(220.0, 44100.0, 44100, 0.2f);
    for (float fBad : {kNaN, kInf, -kInf, -5.0f, 7.0f, 1e30f}) {
        test::TestEngine engine, reference;
        for (ParamID id : {kCompressorLevel, kDistortionLevel, kChorusSpeed, kDelayLevel, kReverbLevel})
            engine[id] = fBad;
        std::vector<float> outL, outR, refL, refR;
        ASSERT_TRUE(engine.Run(tone, tone, outL, outR));
        EXPECT_TRUE(test::AllFinite(outL) && test::AllFinite(outR)) << fBad;
        EXPECT_TRUE(WithinFullScale(outL) && WithinFullScale(outR)) << fBad;

        for (ParamID id : {kCompressorLevel, kDistortionLevel, kChorusSpeed, kDelayLevel, kReverbLevel})
            engine[id] = kParamInfos[id].defaultValue;
        const auto longer = test::Sine(220.0, 44100.0, 44100 * 4, 0.2f);
        ASSERT_TRUE(engine.Run(longer, longer, outL, outR));
        ASSERT_TRUE(reference.Run(longer, longer, refL, refR));
        const std::vector<float> tail(outL.end() - 44100, outL.end());
        const std::vector<float> refTail(refL.end() - 44100, refL.end());
        EXPECT_NEAR(test::ToneLevelDb(tail, 220.0, 44100.0), test::ToneLevelDb(refTail, 220.0, 44100.0), 1.0) << fBad;
    }
}

} // namespace
} // namespace corvex
