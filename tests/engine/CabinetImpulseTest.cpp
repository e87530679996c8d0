#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <tuple>
#include <vector>

#include "CrossSystemFile.h"
#include "EngineTestSupport.h"
#include "StereoRun.h"
#include "TestEngine.h"
#include "cabinet/CabinetImpulse.h"
#include "cabinet/MyConvolution.h"

namespace corvex {
namespace {

using test::Signal;

constexpr char kImpulseMagic[8] = {'C', 'V', 'X', 'I', 'R', 'O', '0', '1'};

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
    constexpr int iFrames =
        CCabinetImpulse::kNextLevelShare * CCabinetImpulse::kPartitionSizes[CCabinetImpulse::kLevelCount - 1] + 1000;
    const Signal hL = DecayingNoise(iFrames, 5, 0.05 * dRate), hR = DecayingNoise(iFrames, 6, 0.08 * dRate);
    auto pImpulse = CCabinetImpulse::Create(hL.data(), hR.data(), iFrames, dRate);
    ASSERT_TRUE(pImpulse);
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

// Create refuses what it cannot convolve, and describes what it took.
TEST(CabinetImpulseCreate, RefusesWhatItCannotConvolve)
{
    const Signal h = DecayingNoise(500, 41, 100.0);
    Signal hInfinite = h;
    hInfinite[300] = std::numeric_limits<float>::infinity();
    const double dNaN = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const float *left, *right;
        int frames;
        double rate;
    };
    for (const Case& c : {Case{nullptr, nullptr, 500, 48000.0}, Case{h.data(), nullptr, 0, 48000.0},
                          Case{h.data(), nullptr, 500, 0.0}, Case{h.data(), nullptr, 500, dNaN},
                          Case{h.data(), hInfinite.data(), 500, 48000.0}})
        EXPECT_EQ(CCabinetImpulse::Create(c.left, c.right, c.frames, c.rate), nullptr)
            << c.frames << " frames at " << c.rate;
    const auto pImpulse = CCabinetImpulse::Create(h.data(), h.data(), 500, 48000.0);
    ASSERT_TRUE(pImpulse);
    EXPECT_EQ(pImpulse->Channels(), 2);
    EXPECT_EQ(pImpulse->Frames(), 500);
    EXPECT_EQ(pImpulse->SampleRate(), 48000.0);
}

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

// Every impulse handed in comes back exactly once, and only once nothing reads it any more.
TEST(CabinetExchange, HandsEachImpulseBackOnceItIsOutOfUse)
{
    test::BlockHost host;
    CMyConvolution cabinet;
    host.Attach(cabinet);
    const Signal h = DecayingNoise(3000, 21, 300.0), x = test::Noise(44100, 22);
    CCabinetImpulse* apImpulse[3];
    for (CCabinetImpulse*& p : apImpulse)
        p = CCabinetImpulse::Create(h.data(), nullptr, static_cast<int>(h.size()), host.dSampleRate).release();
    CCabinetImpulse *a = apImpulse[0], *b = apImpulse[1], *c = apImpulse[2];
    Signal out(x.size());
    size_t uAt = 0;
    auto Play = [&](double dSeconds) {
        const int n = static_cast<int>(dSeconds * host.dSampleRate);
        cabinet.Process(&x[uAt], nullptr, &out[uAt], &out[uAt], n);
        uAt += static_cast<size_t>(n);
    };
    const double dPastFade = 2 * CMyConvolution::kFadeSeconds, dInFade = CMyConvolution::kFadeSeconds / 2;
    EXPECT_EQ(cabinet.ImpulseTailSamples(), 0);
    EXPECT_EQ(cabinet.ExchangeImpulse(a), nullptr);
    EXPECT_EQ(cabinet.ImpulseTailSamples(), 3000);
    Play(dInFade);
    EXPECT_EQ(cabinet.ExchangeImpulse(b), nullptr); // the built-in cabinet's fade cut short
    Play(dInFade);
    EXPECT_EQ(cabinet.TakeRetired(), nullptr);      // a still fading out
    Play(dPastFade);
    EXPECT_EQ(cabinet.TakeRetired(), a);
    EXPECT_EQ(cabinet.TakeRetired(), nullptr);
    EXPECT_EQ(cabinet.ExchangeImpulse(c), nullptr);
    Play(dInFade);
    EXPECT_EQ(cabinet.ExchangeImpulse(nullptr), b); // b's fade cut short: out of use at once
    EXPECT_EQ(cabinet.ExchangeImpulse(c), nullptr); // back to c, which was fading out
    EXPECT_EQ(cabinet.ExchangeImpulse(c), nullptr); // already installed
    Play(dPastFade);
    EXPECT_EQ(cabinet.TakeRetired(), nullptr);      // the built-in cabinet faded out
    EXPECT_EQ(cabinet.ExchangeImpulse(nullptr), nullptr);
    EXPECT_EQ(cabinet.ImpulseTailSamples(), 3000);  // c fading out
    Play(dPastFade);
    EXPECT_EQ(cabinet.ImpulseTailSamples(), 0);
    EXPECT_EQ(cabinet.ExchangeImpulse(c), nullptr); // c, waiting to be taken, back in
    EXPECT_EQ(cabinet.Impulse(), c);                // the cabinet frees c
    delete a;
    delete b;
}

// Reset clears the user impulse's running state as it does the built-in history: what was
// played before leaves no trace.
TEST(CabinetExchange, ResetClearsTheUserImpulsesState)
{
    const Signal h = DecayingNoise(20000, 31, 4000.0), x = test::Noise(30000, 32);
    test::BlockHost host;
    CMyConvolution played, fresh;
    for (CMyConvolution* pCabinet : {&played, &fresh}) {
        host.Attach(*pCabinet);
        pCabinet->ExchangeImpulse(
            CCabinetImpulse::Create(h.data(), h.data(), static_cast<int>(h.size()), host.dSampleRate).release());
    }
    test::ProcessAll(played, x, x);
    played.Reset();
    fresh.Reset();
    const test::Stereo a = test::ProcessAll(played, x, x), b = test::ProcessAll(fresh, x, x);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
    EXPECT_GT(test::PeakAbs(a.left), 0.0f);
}

// The same response convolved on every system, bit for bit: the Linux run writes its output for a
// stereo response and a test signal made of plain arithmetic only (no libm, whose last bits
// differ between C runtimes), the Windows run (under Wine) and the aarch64 one (under qemu)
// compare their own.
test::Stereo PortableImpulseOutput()
{
    constexpr double kRate = 48000.0;
    const int iFrames = static_cast<int>(0.4 * kRate), iSamples = iFrames + 8000;
    Signal hL(static_cast<size_t>(iFrames)), hR(hL.size()), x(static_cast<size_t>(iSamples));
    std::uint32_t uNoise = 12345u;
    auto Next = [&uNoise] {
        uNoise = uNoise * 1664525u + 1013904223u;
        return static_cast<double>(uNoise >> 8) / 16777216.0 - 0.5;
    };
    double dEnvelope = 1.0;
    for (size_t i = 0; i < hL.size(); ++i, dEnvelope *= 0.9997) {
        hL[i] = static_cast<float>(Next() * dEnvelope);
        hR[i] = static_cast<float>(Next() * dEnvelope);
    }
    // A decaying 110 Hz tone from a two-pole oscillator (2 cos(2 pi 110 / 48000)), plus noise.
    double y1 = 0.0, y2 = 0.05;
    for (size_t i = 0; i < x.size(); ++i) {
        const double y = 1.999792673350785 * y1 - y2;
        y2 = y1;
        y1 = y;
        x[i] = static_cast<float>(y * 0.5 + 0.05 * Next());
    }
    test::BlockHost host;
    host.dSampleRate = kRate;
    host[kDistortionOnOff] = 1.0f;
    CMyConvolution cabinet;
    host.Attach(cabinet);
    cabinet.ExchangeImpulse(CCabinetImpulse::Create(hL.data(), hR.data(), iFrames, kRate).release());
    return test::ProcessAll(cabinet, x, x, 256);
}

#if defined(CORVEX_IMPULSE_OUTPUT_WRITE)

TEST(CabinetImpulsePortable, WritesTheOutputForOtherSystems)
{
    const test::Stereo out = PortableImpulseOutput();
    const std::vector<Signal> channels{out.left, out.right};
    ASSERT_TRUE(::test::WriteRecords(CORVEX_IMPULSE_OUTPUT_WRITE, kImpulseMagic, channels));
}

#endif

#if defined(CORVEX_IMPULSE_OUTPUT_REFERENCE)

TEST(CabinetImpulsePortable, MatchesTheLinuxOutput)
{
    std::vector<Signal> reference;
    ASSERT_TRUE(::test::ReadRecords(CORVEX_IMPULSE_OUTPUT_REFERENCE, kImpulseMagic, 2, reference));
    const test::Stereo out = PortableImpulseOutput();
    ASSERT_EQ(out.left.size(), reference[0].size());
    EXPECT_EQ(out.left, reference[0]);
    EXPECT_EQ(out.right, reference[1]);
}

#endif

} // namespace
} // namespace corvex
