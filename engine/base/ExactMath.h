#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

// static_cast<float>(std::exp(x)), static_cast<float>(std::pow(10.0, x)),
// static_cast<float>(std::log10(x)), and the cosine and sine of x so narrowed, bit for bit, for
// a fraction of the library calls' instructions.
//
// The value is computed by a short series, to within 2^-45 of the true one; its rounding to
// float is kept only when everything within kMargin of it rounds to the same float.
// The library's result lies within an ulp of the true value (2^-52), so it rounds there too.
// Otherwise (about one call in 10,000, and outside the normal range) the library answers.
// Plain double arithmetic in a fixed order, so every system gets the same bits.

namespace corvex {
namespace exact {

constexpr double kMargin = 0x1p-38;
constexpr double kLn2 = 0.6931471805599453;
constexpr double kLog2E = 1.4426950408889634;
constexpr double kLog2Of10 = 3.321928094887362;
constexpr double kLog10Of2 = 0.30102999566398120;
constexpr double kInverseLn10 = 0.43429448190325182;
constexpr double kSqrt2 = 1.4142135623730951;
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
constexpr double kHalfPi1 = 0x1.921fb544p+0; // 33 bits
constexpr double kHalfPi2 = 0x1.0b4611a6p-34; // 33 bits
constexpr double kHalfPi3 = 0x1.3198a2e037073p-69;
// Angles up to four turns: k pi/2 stays a 33-bit product.
constexpr double kMaxAngle = 25.0;
// Beyond, 2^t leaves the normal floats.
constexpr double kMaxPower = 120.0;
// Adding and subtracting it rounds a double below 2^51 to the nearest integer.
constexpr double kRoundingShift = 0x1.8p52;

// 2^t for |t| < kMaxPower; false (NaN included) otherwise.
inline bool PowerOfTwo(double t, double& dResult)
{
    if (!(t > -kMaxPower && t < kMaxPower))
        return false;
    const double k = (t + kRoundingShift) - kRoundingShift;
    const double z = (t - k) * kLn2; // |z| <= ln2 / 2
    // e^z to degree 12: the first term left out is below 2^-52. In Estrin's order, so that the
    // products do not wait on one another.
    const double z2 = z * z;
    const double z4 = z2 * z2;
    const double z8 = z4 * z4;
    const double q0 = 1.0 + z;
    const double q1 = 0.5 + z * (1.0 / 6.0);
    const double q2 = 1.0 / 24.0 + z * (1.0 / 120.0);
    const double q3 = 1.0 / 720.0 + z * (1.0 / 5040.0);
    const double q4 = 1.0 / 40320.0 + z * (1.0 / 362880.0);
    const double q5 = 1.0 / 3628800.0 + z * (1.0 / 39916800.0);
    const double q6 = 1.0 / 479001600.0;
    const double r0 = q0 + z2 * q1;
    const double r1 = q2 + z2 * q3;
    const double r2 = q4 + z2 * q5;
    const double p = (r0 + z4 * r1) + z8 * (r2 + z4 * q6);
    const std::uint64_t uBits = static_cast<std::uint64_t>(static_cast<std::int64_t>(k) + 1023) << 52;
    double dScale;
    std::memcpy(&dScale, &uBits, sizeof dScale);
    dResult = p * dScale;
    return true;
}

// log10 x for a positive, finite, normal x; false otherwise.
inline bool Log10(double x, double& dResult)
{
    std::uint64_t uBits;
    std::memcpy(&uBits, &x, sizeof uBits);
    const int iField = static_cast<int>(uBits >> 52);
    if (iField < 1 || iField > 2046) // also catches the sign bit
        return false;
    // x = 2^e m with m in [sqrt(1/2), sqrt(2)).
    int e = iField - 1023;
    uBits = (uBits & 0x000fffffffffffffull) | 0x3ff0000000000000ull;
    double m;
    std::memcpy(&m, &uBits, sizeof m);
    if (m > kSqrt2) {
        m *= 0.5;
        ++e;
    }
    // ln m = 2 atanh s, s = (m - 1) / (m + 1), |s| < 0.172: the first term left out is below 2^-52.
    const double s = (m - 1.0) / (m + 1.0);
    const double s2 = s * s;
    // In Estrin's order, so that the products do not wait on one another.
    const double s4 = s2 * s2;
    const double s8 = s4 * s4;
    const double q0 = 1.0 + s2 * (1.0 / 3.0);
    const double q1 = 1.0 / 5.0 + s2 * (1.0 / 7.0);
    const double q2 = 1.0 / 9.0 + s2 * (1.0 / 11.0);
    const double q3 = 1.0 / 13.0 + s2 * (1.0 / 15.0);
    const double q4 = 1.0 / 17.0 + s2 * (1.0 / 19.0);
    const double q5 = 1.0 / 21.0;
    const double p = (q0 + s4 * q1) + s8 * ((q2 + s4 * q3) + s8 * (q4 + s4 * q5));
    const double dLn = 2.0 * s * p;
    dResult = static_cast<double>(e) * kLog10Of2 + dLn * kInverseLn10;
    return true;
}

// cos x and sin x for |x| < kMaxAngle; false otherwise.
inline bool CosSin(double x, double& dCos, double& dSin)
{
    if (!(x > -kMaxAngle && x < kMaxAngle) || x == 0.0) // the series would lose the sign of -0
        return false;
    // x = k pi/2 + r, |r| <= pi/4, with pi/2 in three parts: k times either of the first two
    // is exact, and so is x minus the first product.
    const double k = (x * kTwoOverPi + kRoundingShift) - kRoundingShift;
    const double r = ((x - k * kHalfPi1) - k * kHalfPi2) - k * kHalfPi3;
    const double r2 = r * r;
    // To degree 17 and 16: the first terms left out are below 2^-55.
    double s = -1.0 / 355687428096000.0;
    s = s * r2 + 1.0 / 1307674368000.0;
    s = s * r2 - 1.0 / 6227020800.0;
    s = s * r2 + 1.0 / 39916800.0;
    s = s * r2 - 1.0 / 362880.0;
    s = s * r2 + 1.0 / 5040.0;
    s = s * r2 - 1.0 / 120.0;
    s = s * r2 + 1.0 / 6.0;
    s = r - r * r2 * s;
    double c = 1.0 / 20922789888000.0;
    c = c * r2 - 1.0 / 87178291200.0;
    c = c * r2 + 1.0 / 479001600.0;
    c = c * r2 - 1.0 / 3628800.0;
    c = c * r2 + 1.0 / 40320.0;
    c = c * r2 - 1.0 / 720.0;
    c = c * r2 + 1.0 / 24.0;
    c = c * r2 - 0.5;
    c = 1.0 + r2 * c;
    switch (static_cast<int>(k) & 3) {
    case 0:
        dCos = c, dSin = s;
        break;
    case 1:
        dCos = -s, dSin = c;
        break;
    case 2:
        dCos = -c, dSin = -s;
        break;
    default:
        dCos = s, dSin = -c;
        break;
    }
    return true;
}

// The float every value within kMargin of d (relative) rounds to, if there is one.
inline bool RoundsSafely(double d, float& fResult)
{
    const float fLow = static_cast<float>(d * (1.0 - kMargin));
    fResult = static_cast<float>(d * (1.0 + kMargin));
    return fLow == fResult;
}

} // namespace exact

// static_cast<float>(std::exp(x)).
inline float ExpToFloat(double x)
{
    double d;
    float f;
    if (exact::PowerOfTwo(x * exact::kLog2E, d) && exact::RoundsSafely(d, f))
        return f;
    return static_cast<float>(std::exp(x));
}

// static_cast<float>(std::pow(10.0, x)).
inline float Pow10ToFloat(double x)
{
    double d;
    float f;
    if (exact::PowerOfTwo(x * exact::kLog2Of10, d) && exact::RoundsSafely(d, f))
        return f;
    return static_cast<float>(std::pow(10.0, x));
}

// static_cast<float>(std::cos(x)) and static_cast<float>(std::sin(x)).
inline void CosSinToFloat(double x, float& fCos, float& fSin)
{
    double dCos, dSin;
    if (exact::CosSin(x, dCos, dSin) && exact::RoundsSafely(dCos, fCos) && exact::RoundsSafely(dSin, fSin))
        return;
    fCos = static_cast<float>(std::cos(x));
    fSin = static_cast<float>(std::sin(x));
}

// static_cast<float>(std::log10(x)).
inline float Log10ToFloat(double x)
{
    double d;
    float f;
    if (exact::Log10(x, d) && exact::RoundsSafely(d, f))
        return f;
    return static_cast<float>(std::log10(x));
}

} // namespace corvex
