#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include "EngineTestSupport.h"
#include "StereoRun.h"
#include "cabinet/CabinetImpulse.h"

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

} // namespace
} // namespace corvex
