#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

#include "EngineTestSupport.h"
#include "StereoRun.h"
#include "TestEngine.h"
#include "cabinet/CabinetImpulse.h"
#include "cabinet/MyConvolution.h"

namespace corvex {
namespace {

using test::Signal;

// A decaying noise response, as a measured cabinet's tail looks.
Signal DecayingNoise(int n, unsigned uSeed, double dDecaySamples)
{
    Signal h = test::Noise(n, uSeed, 0.5f);
    for (int i = 0; i < n; ++i)
        h[static_cast<size_t>(i)] *= static_cast<float>(std::exp(-i / dDecaySamples));
    return h;
}

// A dense burst, then isolated samples spread over the rest: every partition meets signal, and
// the plain convolution stays quick.
Signal SparseInput(int n, unsigned uSeed)
{
    Signal x(static_cast<size_t>(n), 0.0f);
    const Signal burst = test::Noise(300, uSeed);
    std::copy(burst.begin(), burst.end(), x.begin());
    const Signal values = test::Noise(n, uSeed + 1);
    for (int i = 300; i < n; i += 97)
        x[static_cast<size_t>(i)] = values[static_cast<size_t>(i)];
    return x;
}

Signal DirectConvolution(const Signal& x, const Signal& h)
{
    std::vector<double> y(x.size(), 0.0);
    for (size_t j = 0; j < x.size(); ++j)
        if (x[j] != 0.0f)
            for (size_t k = 0; k < h.size() && j + k < x.size(); ++k)
                y[j + k] += static_cast<double>(x[j]) * h[k];
    return Signal(y.begin(), y.end());
}

// The largest difference in dB of the reference's peak.
double ErrorDb(const Signal& got, const Signal& want)
{
    double dPeak = 1e-30, dError = 1e-30;
    for (size_t i = 0; i < want.size(); ++i) {
        dPeak = std::max(dPeak, std::fabs(static_cast<double>(want[i])));
        dError = std::max(dError, std::fabs(static_cast<double>(got[i]) - want[i]));
    }
    return 20.0 * std::log10(dError / dPeak);
}

// The partitioned convolution equals the plain one at every host block length, over a response
// long enough for every partition length.
class ImpulseConvolution : public testing::TestWithParam<std::tuple<double, int>> {};

TEST_P(ImpulseConvolution, MatchesTheDirectConvolution)
{
    const auto [dRate, iBlock] = GetParam();
    const int iFrames = static_cast<int>(0.4 * dRate);
    const Signal hL = DecayingNoise(iFrames, 5, 0.05 * dRate), hR = DecayingNoise(iFrames, 6, 0.08 * dRate);
    auto pImpulse = CCabinetImpulse::Create(hL.data(), hR.data(), iFrames, dRate);
    ASSERT_TRUE(pImpulse);
    ASSERT_GT(iFrames, CCabinetImpulse::kPartitionSizes[CCabinetImpulse::kLevelCount - 1]);
    const Signal x = SparseInput(iFrames + 5000, 9);
    test::Stereo y{Signal(x.size()), Signal(x.size())};
    for (size_t i = 0; i < x.size(); i += static_cast<size_t>(iBlock)) {
        const int n = static_cast<int>(std::min(x.size() - i, static_cast<size_t>(iBlock)));
        pImpulse->Process(&x[i], &y.left[i], &y.right[i], n);
    }
    EXPECT_LT(ErrorDb(y.left, DirectConvolution(x, hL)), -100.0);
    EXPECT_LT(ErrorDb(y.right, DirectConvolution(x, hR)), -100.0);
}

INSTANTIATE_TEST_SUITE_P(RatesAndBlocks, ImpulseConvolution,
                         testing::Combine(testing::Values(44100.0, 96000.0), testing::Values(1, 64, 4096)));

// A guitar-like input for the whole graph: a plucked two-tone note.
Signal Pluck(double dRate, int n)
{
    Signal x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        x[static_cast<size_t>(i)] = static_cast<float>(
            0.3 * std::exp(-i / (0.4 * dRate)) *
            (std::sin(2.0 * M_PI * 110.0 * i / dRate) + 0.5 * std::sin(2.0 * M_PI * 331.0 * i / dRate)));
    return x;
}

// The built-in cabinet's effective response, loaded as a user response at a quarter of its
// level, is matched back to the built-in level and sounds as the built-in cabinet does.
class BuiltInAsUserImpulse : public testing::TestWithParam<bool> {};

TEST_P(BuiltInAsUserImpulse, SoundsLikeTheBuiltInCabinet)
{
    const bool bDistorted = GetParam();
    constexpr double kRate = 48000.0;
    Signal h = BuiltInCabinetResponse(kRate, bDistorted);
    ASSERT_FALSE(h.empty());
    for (float& f : h)
        f *= 0.25f;
    auto pImpulse = CCabinetImpulse::Create(h.data(), nullptr, static_cast<int>(h.size()), kRate);
    ASSERT_TRUE(pImpulse);

    test::TestEngine builtIn(kRate), user(kRate);
    for (test::TestEngine* pEngine : {&builtIn, &user})
        (*pEngine)[kDistortionOnOff] = bDistorted ? 1.0f : 0.0f;
    EXPECT_EQ(user.graph.ExchangeImpulse(pImpulse.release()), nullptr);
    const Signal x = Pluck(kRate, static_cast<int>(kRate));
    test::Stereo a, b;
    ASSERT_TRUE(builtIn.Run(x, x, a.left, a.right, 256));
    ASSERT_TRUE(user.Run(x, x, b.left, b.right, 256));
    ASSERT_GT(test::PeakAbs(a.left), 0.01f);
    double dWorst = 0.0;
    for (size_t i = 0; i < x.size(); ++i)
        dWorst = std::max({dWorst, std::fabs(static_cast<double>(a.left[i]) - b.left[i]),
                           std::fabs(static_cast<double>(a.right[i]) - b.right[i])});
    EXPECT_LT(20.0 * std::log10(dWorst + 1e-30), -90.0);
}

INSTANTIATE_TEST_SUITE_P(Voicings, BuiltInAsUserImpulse, testing::Values(false, true));

// What the cabinet writes for a sine while responses are exchanged: to a user response that
// delays and inverts it, and back to the built-in one.
struct Exchanges {
    Signal out, reference;
};

Exchanges RunExchanges(const Signal& h, double dRate, int iFirst, int iSecond)
{
    test::BlockHost host;
    host.dSampleRate = dRate;
    CMyConvolution cabinet, untouched;
    host.Attach(cabinet);
    host.Attach(untouched);
    auto pImpulse = CCabinetImpulse::Create(h.data(), nullptr, static_cast<int>(h.size()), dRate);
    const Signal x = test::Sine(220.0, dRate, static_cast<int>(dRate), 0.5f);
    Exchanges result{Signal(x.size()), Signal(x.size())};
    Signal right(x.size());
    std::unique_ptr<CCabinetImpulse> pBack;
    constexpr int kBlock = 128;
    for (int i = 0; i < static_cast<int>(x.size()); i += kBlock) {
        if (i == iFirst) {
            EXPECT_EQ(cabinet.ExchangeImpulse(pImpulse.release()), nullptr);
        }
        if (i == iSecond) {
            EXPECT_EQ(cabinet.ExchangeImpulse(nullptr), nullptr);
        }
        if (CCabinetImpulse* pRetired = cabinet.TakeRetired())
            pBack.reset(pRetired);
        cabinet.Process(&x[static_cast<size_t>(i)], nullptr, &result.out[static_cast<size_t>(i)], &right[static_cast<size_t>(i)], kBlock);
        untouched.Process(&x[static_cast<size_t>(i)], nullptr, &result.reference[static_cast<size_t>(i)], &right[static_cast<size_t>(i)], kBlock);
    }
    EXPECT_TRUE(pBack) << "the user response came back";
    return result;
}

double LargestStep(const Signal& y, size_t from, size_t to)
{
    double dStep = 0.0;
    for (size_t i = std::max<size_t>(from, 1); i < to; ++i)
        dStep = std::max(dStep, std::fabs(static_cast<double>(y[i]) - y[i - 1]));
    return dStep;
}

TEST(CabinetExchange, CrossfadesWithoutAClickAndReturnsToTheBuiltInBits)
{
    constexpr double kRate = 48000.0;
    // Inverted, three samples late: a jump of twice the amplitude if switched at once.
    const Signal h = {0.0f, 0.0f, 0.0f, -1.0f};
    const int iFirst = 128 * 100, iSecond = 128 * 200;
    const Exchanges run = RunExchanges(h, kRate, iFirst, iSecond);
    // Steady stretches of either response: before the first exchange, and between the fades.
    const double dSteady = std::max(LargestStep(run.out, 5000, static_cast<size_t>(iFirst)),
                                    LargestStep(run.out, static_cast<size_t>(iFirst) + 2000, static_cast<size_t>(iSecond)));
    ASSERT_GT(dSteady, 0.0);
    EXPECT_LT(LargestStep(run.out, static_cast<size_t>(iFirst) - 10, static_cast<size_t>(iSecond) + 2000), 1.2 * dSteady);
    // Without a fade the outputs jump by far more than that.
    EXPECT_GT(std::fabs(run.out[static_cast<size_t>(iFirst) + 2000] - run.reference[static_cast<size_t>(iFirst) + 2000]),
              10.0 * dSteady);
    // The built-in history ran on: once the fade back is over, the same bits as never leaving.
    const size_t uSettled = static_cast<size_t>(iSecond) + 2000;
    EXPECT_TRUE(std::equal(run.out.begin() + static_cast<long>(uSettled), run.out.end(),
                           run.reference.begin() + static_cast<long>(uSettled)));
}

// A stereo response gives each side its own output, carried through the equaliser and the
// chorus: the graph's left output is that of the left response alone, the right that of the
// right response alone, bit for bit. A mono response gives both sides the same.
TEST(CabinetExchange, StereoResponseKeepsEachSideThroughTheGraph)
{
    constexpr double kRate = 44100.0;
    const int iFrames = 6000;
    const Signal hL = DecayingNoise(iFrames, 11, 900.0);
    Signal hR(hL.size());
    // The same energy (the same scale), another response.
    std::reverse_copy(hL.begin(), hL.end(), hR.begin());
    auto Render = [&](const float* left, const float* right) {
        test::TestEngine engine(kRate);
        engine[kDelayOnOff] = 0.0f;
        engine[kReverbOnOff] = 0.0f;
        engine[kModulationOnOff] = 1.0f;
        engine.graph.ExchangeImpulse(CCabinetImpulse::Create(left, right, iFrames, kRate).release());
        const Signal x = Pluck(kRate, 20000);
        test::Stereo y;
        EXPECT_TRUE(engine.Run(x, x, y.left, y.right, 256));
        return y;
    };
    const test::Stereo monoL = Render(hL.data(), nullptr), monoR = Render(hR.data(), nullptr);
    const test::Stereo stereo = Render(hL.data(), hR.data());
    EXPECT_EQ(stereo.left, monoL.left);
    EXPECT_EQ(stereo.right, monoR.right);
    EXPECT_NE(stereo.left, stereo.right);

    test::BlockHost host;
    CMyConvolution cabinet;
    host.Attach(cabinet);
    cabinet.ExchangeImpulse(CCabinetImpulse::Create(hL.data(), nullptr, iFrames, host.dSampleRate).release());
    const Signal x = test::Noise(4000, 3);
    const test::Stereo mono = test::ProcessAll(cabinet, x, x, 256);
    EXPECT_EQ(mono.left, mono.right);
    EXPECT_FALSE(cabinet.StereoOutput());
}

} // namespace
} // namespace corvex
