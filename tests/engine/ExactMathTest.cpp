#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "base/ExactMath.h"

namespace corvex {
namespace {

// Each function against the library expression it stands for, over the floats of its range.
struct Case {
    const char* name;
    float fLow, fHigh;
    float (*pFast)(double);
    float (*pLibrary)(double);
};

float CosOf(double x)
{
    float fCos, fSin;
    CosSinToFloat(x, fCos, fSin);
    return fCos;
}

float SinOf(double x)
{
    float fCos, fSin;
    CosSinToFloat(x, fCos, fSin);
    return fSin;
}

const Case kCases[] = {
    {"exp", -100.0f, 100.0f, ExpToFloat, [](double x) { return static_cast<float>(std::exp(x)); }},
    {"pow10", -40.0f, 40.0f, Pow10ToFloat, [](double x) { return static_cast<float>(std::pow(10.0, x)); }},
    {"log10", 0.0f, 3.0e38f, Log10ToFloat, [](double x) { return static_cast<float>(std::log10(x)); }},
    {"cos", -30.0f, 30.0f, CosOf, [](double x) { return static_cast<float>(std::cos(x)); }},
    {"sin", -30.0f, 30.0f, SinOf, [](double x) { return static_cast<float>(std::sin(x)); }},
};

bool SameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class ExactMath : public ::testing::TestWithParam<Case> {};

TEST_P(ExactMath, GivesTheLibraryResultNarrowedToFloat)
{
    const Case& c = GetParam();
    // Every 509th float of either sign (millions), so every binade and every stretch of
    // mantissas is visited.
    constexpr std::uint32_t kStride = 509;
    long lCompared = 0;
    for (std::uint32_t uBits = 0; uBits < 0x7f800000u; uBits += kStride) {
        for (std::uint32_t uSign : {0u, 0x80000000u}) {
            const std::uint32_t u = uBits | uSign;
            float f;
            std::memcpy(&f, &u, sizeof f);
            if (!(f >= c.fLow && f <= c.fHigh))
                continue;
            ++lCompared;
            const double x = f;
            ASSERT_TRUE(SameBits(c.pFast(x), c.pLibrary(x))) << c.name << " of " << x;
        }
    }
    EXPECT_GT(lCompared, 1000000);
    // What the series leaves to the library.
    const double adEdges[] = {0.0, -0.0, 1.0, -1.0e-300, 1.0e300, -1.0e300,
                              std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::denorm_min()};
    for (double x : adEdges) {
        const float fFast = c.pFast(x), fLibrary = c.pLibrary(x);
        EXPECT_TRUE(SameBits(fFast, fLibrary) || (fFast != fFast && fLibrary != fLibrary)) << c.name << " of " << x;
    }
}

std::string CaseName(const ::testing::TestParamInfo<Case>& param)
{
    return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(Functions, ExactMath, ::testing::ValuesIn(kCases), CaseName);

} // namespace
} // namespace corvex
