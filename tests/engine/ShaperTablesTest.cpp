#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "distortion/ShaperTables.h"

namespace corvex {
namespace {

struct Half {
    const char* szName;
    const float* af;
    int iSteps;
};

const Half kAPos{"A+", kShaperTableAPositive, kShaperStepsA};
const Half kANeg{"A-", kShaperTableANegative, kShaperStepsA};
const Half kB{"B", kShaperTableB, kShaperStepsB};
const Half kC{"C", kShaperTableC, kShaperStepsC};
const Half kDPos{"D+", kShaperTableDPositive, kShaperStepsD};
const Half kDNeg{"D-", kShaperTableDNegative, kShaperStepsD};
const Half kHalves[] = {kAPos, kANeg, kB, kC, kDPos, kDNeg};

int IndexOf(const Half& h, double dLevelDb)
{
    return static_cast<int>(std::lround((dLevelDb + 120.0) * h.iSteps / 120.0));
}

double LevelOf(const Half& h, int i)
{
    return i * 120.0 / h.iSteps - 120.0;
}

float Last(const Half& h)
{
    return h.af[h.iSteps];
}

int ArgMax(const Half& h)
{
    int k = 0;
    for (int i = 1; i <= h.iSteps; ++i)
        if (h.af[i] > h.af[k])
            k = i;
    return k;
}

// First entry at or above 90 % of the final value.
int NinetyPercentIndex(const Half& h)
{
    for (int i = 0; i <= h.iSteps; ++i)
        if (h.af[i] >= 0.9f * Last(h))
            return i;
    return -1;
}

// True when v reads as `shown` at the digits shown: "0.43" means [0.425, 0.435], "0" exactly 0.
bool ReadsAs(float v, const std::string& shown)
{
    const double value = std::strtod(shown.c_str(), nullptr);
    if (value == 0.0)
        return v == 0.0f;
    const size_t e = shown.find('e');
    const std::string mantissa = shown.substr(0, e);
    const size_t point = mantissa.find('.');
    const int decimals = point == std::string::npos ? 0 : static_cast<int>(mantissa.size() - point - 1);
    const int exponent = e == std::string::npos ? 0 : std::atoi(shown.c_str() + e + 1);
    const double halfUnit = 0.5 * std::pow(10.0, exponent - decimals);
    return std::fabs(v - value) <= halfUnit * (1.0 + 1e-6);
}

TEST(ShaperTables, HoldTheStatedNumberOfFloats)
{
    EXPECT_EQ(kShaperTableFloats, 64806);
    EXPECT_EQ(sizeof(kShaperTableAPositive) + sizeof(kShaperTableANegative) + sizeof(kShaperTableB) +
                  sizeof(kShaperTableC) + sizeof(kShaperTableDPositive) + sizeof(kShaperTableDNegative),
              64806 * sizeof(float));
}

TEST(ShaperTables, MatchTheMeasuredLevels)
{
    struct Row {
        int iLevelDb;
        const char* aszValues[6]; // A+, A-, B, C, D+, D-
    };
    const Row kRows[] = {
        {-120, {"0", "0", "5.77e-9", "0.000566", "1.54e-6", "3.99e-7"}},
        {-110, {"0", "0", "0.00123", "0.00606", "0.000975", "0.00117"}},
        {-100, {"0", "0", "0.00287", "0.00528", "0.00239", "0.00242"}},
        {-90, {"3.74e-7", "3.74e-7", "0.00434", "0.00518", "0.00545", "0.00505"}},
        {-80, {"0.000718", "0.000715", "0.00528", "0.0083", "0.0135", "0.0136"}},
        {-70, {"0.0752", "0.0752", "0.00804", "0.0196", "0.0433", "0.0411"}},
        {-60, {"0.43", "0.429", "0.0121", "0.0642", "0.139", "0.126"}},
        {-50, {"0.752", "0.747", "0.0345", "0.19", "0.36", "0.337"}},
        {-40, {"0.785", "0.803", "0.109", "0.315", "0.471", "0.518"}},
        {-30, {"0.741", "0.884", "0.341", "0.387", "0.514", "0.685"}},
        {-20, {"0.722", "0.9", "0.694", "0.44", "0.57", "0.76"}},
        {-10, {"0.716", "0.902", "0.814", "0.466", "0.658", "0.725"}},
        {0, {"0.72", "0.898", "0.906", "0.474", "0.657", "0.733"}},
    };
    for (const Row& row : kRows) {
        for (int k = 0; k < 6; ++k) {
            const Half& h = kHalves[k];
            const float v = h.af[IndexOf(h, row.iLevelDb)];
            EXPECT_TRUE(ReadsAs(v, row.aszValues[k]))
                << h.szName << " at " << row.iLevelDb << " dB is " << v << ", expected " << row.aszValues[k];
        }
    }
}

TEST(ShaperTables, AreFiniteNonNegativeMagnitudesWithoutJumps)
{
    for (const Half& h : kHalves) {
        float fLargestStep = 0.0f;
        for (int i = 0; i <= h.iSteps; ++i) {
            ASSERT_TRUE(std::isfinite(h.af[i]) && h.af[i] >= 0.0f) << h.szName << "[" << i << "]";
            if (i > 0)
                fLargestStep = std::max(fLargestStep, std::fabs(h.af[i] - h.af[i - 1]));
        }
        // A measured curve is continuous: even the steepest rise (A, 20 entries per dB) moves
        // by a fraction of a percent of full scale per entry.
        EXPECT_LT(fLargestStep, 0.005f) << h.szName;
        EXPECT_LT(h.af[0], 0.001f) << h.szName << " starts from about zero";
    }
}

TEST(ShaperTables, NoneIsStrictlyMonotonic)
{
    for (const Half& h : kHalves) {
        int iFalls = 0;
        for (int i = 1; i <= h.iSteps; ++i)
            iFalls += h.af[i] < h.af[i - 1];
        // Ripples, not just the one fall after a peak.
        EXPECT_GT(iFalls, 10) << h.szName;
    }
}

TEST(ShaperTables, TableAIsSilentBelowItsThresholdAndSaturatesEarly)
{
    const int iThreshold = IndexOf(kAPos, -98.75);
    for (const Half& h : {kAPos, kANeg}) {
        for (int i = 0; i < iThreshold; ++i)
            ASSERT_EQ(h.af[i], 0.0f) << h.szName << " at " << LevelOf(h, i) << " dB";
        for (int i = iThreshold; i <= h.iSteps; ++i)
            ASSERT_GT(h.af[i], 0.0f) << h.szName << " at " << LevelOf(h, i) << " dB";
    }
    EXPECT_NEAR(LevelOf(kAPos, NinetyPercentIndex(kAPos)), -54.0, 1.0);
    EXPECT_NEAR(LevelOf(kANeg, NinetyPercentIndex(kANeg)), -39.0, 1.0);
}

TEST(ShaperTables, TableAPositiveOvershootsThenSettles)
{
    const int iPeak = ArgMax(kAPos);
    EXPECT_EQ(iPeak, IndexOf(kAPos, -38.25));
    EXPECT_TRUE(ReadsAs(kAPos.af[iPeak], "0.789")) << kAPos.af[iPeak];
    for (int i = IndexOf(kAPos, -20.0); i <= kAPos.iSteps; ++i)
        ASSERT_NEAR(kAPos.af[i], 0.72f, 0.01f) << LevelOf(kAPos, i) << " dB";
}

TEST(ShaperTables, TableANegativePeaksHigherAndLater)
{
    const int iPeak = ArgMax(kANeg);
    EXPECT_NEAR(LevelOf(kANeg, iPeak), -25.0, 1.0);
    EXPECT_TRUE(ReadsAs(kANeg.af[iPeak], "0.924")) << kANeg.af[iPeak];
    for (int i = IndexOf(kANeg, -20.0); i <= kANeg.iSteps; ++i)
        ASSERT_NEAR(kANeg.af[i], 0.90f, 0.01f) << LevelOf(kANeg, i) << " dB";
}

TEST(ShaperTables, TableBSaturatesOnlyNearFullScale)
{
    EXPECT_NEAR(LevelOf(kB, NinetyPercentIndex(kB)), -10.0, 1.0);
    EXPECT_TRUE(ReadsAs(Last(kB), "0.906"));
    EXPECT_TRUE(ReadsAs(kB.af[ArgMax(kB)], "0.912")) << kB.af[ArgMax(kB)];
}

TEST(ShaperTables, TableCSaturatesLow)
{
    EXPECT_NEAR(LevelOf(kC, NinetyPercentIndex(kC)), -23.0, 1.0);
    EXPECT_TRUE(ReadsAs(Last(kC), "0.474"));
    EXPECT_TRUE(ReadsAs(kC.af[ArgMax(kC)], "0.478")) << kC.af[ArgMax(kC)];
}

TEST(ShaperTables, TableDHalvesSaturateAtDifferentHeights)
{
    const int iPos = ArgMax(kDPos);
    EXPECT_TRUE(ReadsAs(kDPos.af[iPos], "0.673")) << kDPos.af[iPos];
    EXPECT_NEAR(LevelOf(kDPos, iPos), -4.7, 1.0);
    const int iNeg = ArgMax(kDNeg);
    EXPECT_TRUE(ReadsAs(kDNeg.af[iNeg], "0.767")) << kDNeg.af[iNeg];
    EXPECT_NEAR(LevelOf(kDNeg, iNeg), -18.0, 1.0);
    // About 0.66 and 0.73 over the top 10 dB.
    for (int i = IndexOf(kDPos, -10.0); i <= kDPos.iSteps; ++i) {
        ASSERT_NEAR(kDPos.af[i], 0.66f, 0.02f) << LevelOf(kDPos, i) << " dB";
        ASSERT_NEAR(kDNeg.af[i], 0.73f, 0.02f) << LevelOf(kDNeg, i) << " dB";
    }
}

TEST(ShaperLookup, ZeroReadsNothing)
{
    for (const ShaperTable* t : {&kShaperA, &kShaperB, &kShaperC, &kShaperD}) {
        EXPECT_EQ(ShaperLookup(*t, 0.0f), 0.0f);
        EXPECT_EQ(ShaperLookup(*t, -0.0f), 0.0f);
    }
}

TEST(ShaperLookup, FullScaleAndBeyondReadTheLastEntries)
{
    for (float d : {1.0f, 1.5f, 1.0e30f, INFINITY}) {
        EXPECT_EQ(ShaperLookup(kShaperA, d), kShaperTableAPositive[kShaperStepsA]) << d;
        EXPECT_EQ(ShaperLookup(kShaperA, -d), -kShaperTableANegative[kShaperStepsA]) << d;
        EXPECT_EQ(ShaperLookup(kShaperB, d), kShaperTableB[kShaperStepsB]) << d;
        EXPECT_EQ(ShaperLookup(kShaperB, -d), -kShaperTableB[kShaperStepsB]) << d;
        EXPECT_EQ(ShaperLookup(kShaperC, -d), -kShaperTableC[kShaperStepsC]) << d;
        EXPECT_EQ(ShaperLookup(kShaperD, d), kShaperTableDPositive[kShaperStepsD]) << d;
        EXPECT_EQ(ShaperLookup(kShaperD, -d), -kShaperTableDNegative[kShaperStepsD]) << d;
    }
    EXPECT_FLOAT_EQ(ShaperLookup(kShaperA, 2.0f), 0.720f);
    EXPECT_FLOAT_EQ(ShaperLookup(kShaperA, -2.0f), -0.898f);
    EXPECT_FLOAT_EQ(ShaperLookup(kShaperD, 2.0f), 0.657f);
    EXPECT_FLOAT_EQ(ShaperLookup(kShaperD, -2.0f), -0.733f);
}

TEST(ShaperLookup, TinyValuesReadTheFirstEntries)
{
    for (float d : {1.0e-6f, 1.0e-9f, 1.0e-30f}) {
        EXPECT_EQ(ShaperLookup(kShaperB, d), kShaperTableB[0]) << d;
        EXPECT_EQ(ShaperLookup(kShaperD, -d), -kShaperTableDNegative[0]) << d;
        EXPECT_EQ(ShaperLookup(kShaperA, d), 0.0f) << d;
    }
}

TEST(ShaperLookup, MinusTwentyDbReadsFiveSixthsOfTheWay)
{
    EXPECT_EQ(ShaperLookup(kShaperA, 0.1f), kShaperTableAPositive[2000]);
    EXPECT_EQ(ShaperLookup(kShaperA, -0.1f), -kShaperTableANegative[2000]);
    EXPECT_EQ(ShaperLookup(kShaperB, 0.1f), kShaperTableB[5000]);
    EXPECT_EQ(ShaperLookup(kShaperB, -0.1f), -kShaperTableB[5000]);
    EXPECT_EQ(ShaperLookup(kShaperC, 0.1f), kShaperTableC[5000]);
    EXPECT_EQ(ShaperLookup(kShaperD, 0.1f), kShaperTableDPositive[20000]);
    EXPECT_EQ(ShaperLookup(kShaperD, -0.1f), -kShaperTableDNegative[20000]);
}

TEST(ShaperLookup, InterpolatesLinearlyBetweenEntries)
{
    // Half an entry above -40 dB in table A (20 entries per dB): 40 dB up is 10^-1.9975.
    const float d = static_cast<float>(std::pow(10.0, -39.975 / 20.0));
    const float lo = kShaperTableAPositive[1600], hi = kShaperTableAPositive[1601];
    const float v = ShaperLookup(kShaperA, d);
    EXPECT_NEAR(v, 0.5f * (lo + hi), 0.02f * std::fabs(hi - lo) + 1e-7f);
    EXPECT_NEAR(ShaperLookup(kShaperA, -d), -0.5f * (kShaperTableANegative[1600] + kShaperTableANegative[1601]),
                0.02f * std::fabs(kShaperTableANegative[1601] - kShaperTableANegative[1600]) + 1e-7f);
}

TEST(ShaperLookup, OddTablesAreOddAndSplitTablesAreNot)
{
    for (float d : {0.003f, 0.05f, 0.4f}) {
        EXPECT_EQ(ShaperLookup(kShaperB, -d), -ShaperLookup(kShaperB, d));
        EXPECT_EQ(ShaperLookup(kShaperC, -d), -ShaperLookup(kShaperC, d));
    }
    // -30 dB: A+ 0.741 against A- 0.884.
    EXPECT_GT(-ShaperLookup(kShaperA, -0.0316f), ShaperLookup(kShaperA, 0.0316f) + 0.1f);
}

TEST(ShaperLookup, NaNStaysInsideTheTable)
{
    const float v = ShaperLookup(kShaperD, NAN);
    EXPECT_TRUE(std::isfinite(v));
}

} // namespace
} // namespace corvex
