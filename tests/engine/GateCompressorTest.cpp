#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "dynamics/MyComp.h"

namespace corvex {
namespace {

constexpr int kWindow = CMyComp::BUFCOMPSIZE - 1; // magnitudes the level averages

// A square wave of constant magnitude whose moving level, once the window is full, reads
// fLevelDb (the mean divides by 1,024 over 1,023 entries and adds 3.8 dB).
std::vector<float> SquareAtLevel(float fLevelDb, int n)
{
    const double dAmplitude = std::pow(10.0, (fLevelDb - 3.8) / 20.0) * 1024.0 / 1023.0;
    std::vector<float> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        x[static_cast<size_t>(i)] = static_cast<float>(i % 2 ? -dAmplitude : dAmplitude);
    return x;
}

double GainDb(float in, float out) { return 20.0 * std::log10(static_cast<double>(out) / in); }

class GateCompressor : public ::testing::Test {
protected:
    void SetUp() override { host.Attach(comp); }

    std::vector<float> Run(const std::vector<float>& inL, const std::vector<float>* pInR = nullptr)
    {
        const auto& inR = pInR ? *pInR : inL;
        outL.assign(inL.size(), 0.0f);
        outR.assign(inL.size(), 0.0f);
        EXPECT_EQ(comp.Process(inL.data(), inR.data(), outL.data(), outR.data(), static_cast<int>(inL.size())), 1);
        return outL;
    }

    test::BlockHost host;
    CMyComp comp;
    std::vector<float> outL, outR;
};

TEST_F(GateCompressor, StaticLawOnceTheWindowIsFull)
{
    struct Case {
        float c, fLevelDb;
        double dGainDb;
        float fLed;
    };
    const Case cases[] = {
        {0.0f, -26.0f, 11.45, 0.0f},          // between the thresholds: make-up only
        {0.0f, -21.0f, 11.45, 0.0f},
        {0.0f, -10.0f, 11.45 - 5.32, 1.0f},   // 10 dB above T = -20
        {0.0f, -37.84f, 11.45 - 10.0, 0.0f},  // 10 dB below Gt = -27.84
        {0.8f, -24.0f, 11.21, 1.0f},          // 20 dB above T = Gt = -44
        {0.8f, -54.0f, 11.85, 0.0f},          // 10 dB below
        {1.0f, -30.0f, 24.45 - 0.532 * 20.0, 1.0f},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << "c " << k.c << ", level " << k.fLevelDb);
        comp.Reset();
        host[kCompressorLevel] = k.c;
        const auto x = SquareAtLevel(k.fLevelDb, 2048);
        const auto y = Run(x);
        EXPECT_NEAR(GainDb(x[kWindow], y[kWindow]), k.dGainDb, 2e-3);
        EXPECT_NEAR(GainDb(x[2047], y[2047]), k.dGainDb, 2e-3);
        EXPECT_EQ(host[kCompressionLed], k.fLed);
    }
}

TEST_F(GateCompressor, LevelCoversExactly1023Samples)
{
    // From silence the window fills for 1,023 samples, the level reads low and the start of a
    // sound is gated; from the 1,023rd sample on the gain holds still. At -50 dB the full
    // window is gated too, so the gain rises with every sample that joins the window.
    host[kCompressorLevel] = 0.8f;
    const auto x = SquareAtLevel(-50.0f, 3000);
    const auto y = Run(x);
    EXPECT_LT(GainDb(x[0], y[0]), -40.0);
    const int iFull = kWindow - 1;
    for (int i = 1; i <= iFull; ++i)
        ASSERT_GT(y[i] / x[i], y[i - 1] / x[i - 1]) << i;
    for (int i = iFull; i < 3000; ++i)
        ASSERT_EQ(y[i] / x[i], y[iFull] / x[iFull]) << i;
}

TEST_F(GateCompressor, SilenceGatesAtMinus146Point2Db)
{
    const std::vector<float> silence(1500, 0.0f);
    EXPECT_EQ(test::PeakAbs(Run(silence)), 0.0f);
    EXPECT_EQ(host[kCompressionLed], 0.0f);
    // Magnitudes below 2^-32 quantise to 0, so the level still reads -146.2 dB: the gain is
    // make-up - (Gt - L) = 21.85 - (-44 + 146.2) dB.
    const std::vector<float> dust(16, 1e-10f);
    const auto y = Run(dust);
    EXPECT_NEAR(GainDb(dust[15], y[15]), 21.85 - 102.2, 1e-3);
}

TEST_F(GateCompressor, OutputsAreEqualAndRightInputIsIgnored)
{
    const auto x = test::Noise(2048, 5, 0.3f);
    const auto quiet = test::Noise(2048, 6, 0.01f);
    const auto a = Run(x, &quiet);
    EXPECT_EQ(outL, outR);
    comp.Reset();
    const auto loud = test::Noise(2048, 7, 1.0f);
    EXPECT_EQ(Run(x, &loud), a);
}

TEST_F(GateCompressor, SwitchedOffPassesBitForBitAndFreezesTheWindow)
{
    host[kCompressionLed] = 1.0f;
    host[kGateCompressorOnOff] = 0.0f;
    auto left = test::Noise(700, 8, 2.0f);
    left[3] = std::numeric_limits<float>::quiet_NaN();
    const auto right = test::Noise(700, 9, 0.5f);
    Run(left, &right);
    EXPECT_EQ(std::memcmp(outL.data(), left.data(), sizeof(float) * left.size()), 0);
    EXPECT_EQ(outR, right);
    EXPECT_EQ(host[kCompressionLed], 0.0f);

    // A compressor that saw a switched-off stretch continues exactly like one that did not.
    CMyComp reference;
    test::BlockHost referenceHost;
    referenceHost.Attach(reference);
    const auto x = SquareAtLevel(-30.0f, 1500);
    std::vector<float> refL(1500), refR(1500);
    reference.Process(x.data(), x.data(), refL.data(), refR.data(), 1500);
    reference.Process(x.data(), x.data(), refL.data(), refR.data(), 1500);

    comp.Reset();
    host[kGateCompressorOnOff] = 1.0f;
    Run(x);
    host[kGateCompressorOnOff] = 0.0f;
    Run(test::Noise(5000, 10, 1.0f));
    host[kGateCompressorOnOff] = 1.0f;
    EXPECT_EQ(Run(x), refL);
}

TEST_F(GateCompressor, WindowSumNeverDrifts)
{
    // After any history, including magnitudes far beyond the chain's range, the level of a
    // full window of one magnitude is the one a fresh compressor measures.
    auto history = test::Noise(100000, 11, 1.0f);
    history[10] = std::numeric_limits<float>::infinity();
    history[20] = -std::numeric_limits<float>::infinity();
    history[30] = std::numeric_limits<float>::quiet_NaN();
    history[40] = 3e38f;
    history[99000] = std::numeric_limits<float>::infinity(); // still inside the window below
    Run(history);
    const auto x = SquareAtLevel(-20.0f, 2048);
    const auto tail = Run(x);

    CMyComp fresh;
    test::BlockHost freshHost;
    freshHost.Attach(fresh);
    std::vector<float> refL(2048), refR(2048);
    fresh.Process(x.data(), x.data(), refL.data(), refR.data(), 2048);
    for (int i = kWindow; i < 2048; ++i)
        ASSERT_EQ(tail[i], refL[i]) << i;
}

TEST_F(GateCompressor, RefusesToRunWithoutParameterTable)
{
    test::CheckRecorder checks;
    CMyComp bare;
    float afIn[4] = {}, afOut[4] = {};
    EXPECT_EQ(bare.Process(afIn, afIn, afOut, afOut, 4), 0);
    EXPECT_EQ(bare.ProcessLimiter(afIn, afIn, afOut, afOut, 4), 0);
    EXPECT_EQ(checks.Expressions(), (std::vector<std::string>{"m_afParams", "m_afParams"}));
}

class Limiter : public GateCompressor {
protected:
    float Limit(float x)
    {
        float outLeft = 0.0f, outRight = 0.0f;
        EXPECT_EQ(comp.ProcessLimiter(&x, &x, &outLeft, &outRight, 1), 1);
        EXPECT_EQ(std::memcmp(&outLeft, &outRight, sizeof(float)), 0);
        return outLeft;
    }
};

TEST_F(Limiter, CurveValues)
{
    EXPECT_FLOAT_EQ(Limit(0.05f), 0.3f);
    EXPECT_FLOAT_EQ(Limit(-0.05f), -0.3f);
    EXPECT_FLOAT_EQ(Limit(1.0f / 12.0f), 0.5f);
    EXPECT_NEAR(Limit(0.1f), 0.5001f, 1e-6f);
    EXPECT_NEAR(Limit(-0.1f), -0.5001f, 1e-6f);
    EXPECT_LT(Limit(0.2234f), 1.0f);
    EXPECT_EQ(Limit(0.2235f), 1.0f);
    EXPECT_EQ(Limit(-0.2235f), -1.0f);
    EXPECT_EQ(Limit(0.0f), 0.0f);
}

TEST_F(Limiter, ChannelsAreIndependent)
{
    const float afInL[3] = {0.05f, 0.1f, 5.0f}, afInR[3] = {-0.5f, 0.0f, 0.05f};
    float afOutL[3], afOutR[3];
    ASSERT_EQ(comp.ProcessLimiter(afInL, afInR, afOutL, afOutR, 3), 1);
    EXPECT_FLOAT_EQ(afOutL[0], 0.3f);
    EXPECT_EQ(afOutR[0], -1.0f);
    EXPECT_EQ(afOutR[1], 0.0f);
    EXPECT_EQ(afOutL[2], 1.0f);
    EXPECT_FLOAT_EQ(afOutR[2], 0.3f);
}

TEST_F(Limiter, MonotonicBoundedAndFiniteForAnyInput)
{
    float fPrevious = -1.0f;
    for (int k = -4000; k <= 4000; ++k) {
        const float y = Limit(static_cast<float>(k) / 4000.0f);
        ASSERT_GE(y, fPrevious) << k;
        ASSERT_LE(std::fabs(y), 1.0f);
        fPrevious = y;
    }
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(Limit(inf), 1.0f);
    EXPECT_EQ(Limit(-inf), -1.0f);
    EXPECT_EQ(Limit(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    EXPECT_EQ(Limit(3e38f), 1.0f);
    EXPECT_EQ(Limit(-3e38f), -1.0f);
}

} // namespace
} // namespace corvex
