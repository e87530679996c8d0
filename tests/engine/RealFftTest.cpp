#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "EngineTestSupport.h"
#include "cabinet/RealFft.h"

namespace corvex {
namespace {

// Forward against a DFT in double, and the inverse of the forward against Size() times the input,
// for every size kind: the smallest, the ones without a full first stage, and a long one.
class RealFftSizes : public testing::TestWithParam<int> {};

TEST_P(RealFftSizes, ForwardIsTheDftAndInverseUndoesIt)
{
    const int n = GetParam();
    CRealFft fft(n);
    const std::vector<float> x = test::Noise(n, 11);
    std::vector<float> re(static_cast<size_t>(fft.Bins())), im(re.size()), back(x.size());
    fft.Forward(x.data(), re.data(), im.data());
    double dPeak = 0.0, dError = 0.0;
    for (int k = 0; k < fft.Bins(); ++k) {
        double dRe = 0.0, dIm = 0.0;
        for (int j = 0; j < n; ++j) {
            const double dAngle = 2.0 * M_PI * static_cast<double>((static_cast<long>(j) * k) % n) / n;
            dRe += x[static_cast<size_t>(j)] * std::cos(dAngle);
            dIm -= x[static_cast<size_t>(j)] * std::sin(dAngle);
        }
        dPeak = std::max(dPeak, std::hypot(dRe, dIm));
        dError = std::max(dError, std::hypot(re[static_cast<size_t>(k)] - dRe, im[static_cast<size_t>(k)] - dIm));
    }
    EXPECT_LT(20.0 * std::log10(dError / dPeak + 1e-30), -110.0);
    EXPECT_EQ(im[0], 0.0f);
    EXPECT_EQ(im[static_cast<size_t>(n / 2)], 0.0f);

    fft.Inverse(re.data(), im.data(), back.data());
    for (int j = 0; j < n; ++j)
        EXPECT_NEAR(back[static_cast<size_t>(j)] / n, x[static_cast<size_t>(j)], 1e-5f) << j;
}

INSTANTIATE_TEST_SUITE_P(Sizes, RealFftSizes, testing::Values(2, 4, 8, 16, 1024, 4096));

TEST(RealFft, RefusesSizesItCannotTransform)
{
    for (int n : {0, 1, -4, 6, 48})
        EXPECT_THROW(CRealFft{n}, std::bad_alloc) << n;
}

} // namespace
} // namespace corvex
