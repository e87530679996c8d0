#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "cabinet/CabinetSegments.h"
#include "cabinet/MyConvolution.h"

namespace corvex {
namespace {

// The measured figures each segment has to reproduce, as published with the recordings.
struct Measured {
    int iLength;
    int iPeakIndex;
    const char* peak;
    const char* first;
    const char* second;
    int iEnergyLength;
};

const Measured kMeasured[kCabinetSegmentCount] = {
    {6530, 10, "0.999691", "0.00207757", "0.0023344", 285},
    {12431, 244, "0.999592", "0.0198802", "0.0208739", 1652},
    {1965, 12, "-1.00017", "0.00422252", "0.0022693", 195},
    {774, 1, "0.999901", "0.518121", "0.999901", 135},
    {700, 1, "0.99991", "0.434788", "0.99991", 225},
    {951, 2, "0.999863", "0.197002", "0.65567", 180},
    {5434, 7, "0.999786", "0.00229702", "0.000482507", 671},
};

// Half a unit of the last digit written.
double HalfLastDigit(const std::string& text)
{
    const size_t point = text.find('.');
    const int iDecimals = point == std::string::npos ? 0 : static_cast<int>(text.size() - point - 1);
    return 0.5 * std::pow(10.0, -iDecimals);
}

void ExpectDigits(double dValue, const std::string& text, const std::string& what)
{
    EXPECT_NEAR(dValue, std::atof(text.c_str()), HalfLastDigit(text)) << what << " should read " << text;
}

std::vector<float> Segment(int k)
{
    return {kCabinetSegments[k], kCabinetSegments[k] + kCabinetSegmentLengths[k]};
}

int EnergyLength(const std::vector<float>& x, double dShare)
{
    double dTotal = 0.0;
    for (float v : x)
        dTotal += static_cast<double>(v) * v;
    double dRun = 0.0;
    for (size_t n = 0; n < x.size(); ++n) {
        dRun += static_cast<double>(x[n]) * x[n];
        if (dRun >= dShare * dTotal)
            return static_cast<int>(n) + 1;
    }
    return static_cast<int>(x.size());
}

TEST(CabinetSegments, LengthsAddUpToTheTable)
{
    int iTotal = 0;
    for (int k = 0; k < kCabinetSegmentCount; ++k) {
        EXPECT_EQ(kCabinetSegmentLengths[k], kMeasured[k].iLength) << "segment " << k + 1;
        iTotal += kCabinetSegmentLengths[k];
    }
    EXPECT_EQ(iTotal, 28785);
    EXPECT_EQ(kCabinetSegmentTotalLength, 28785);
}

TEST(CabinetSegments, EachSegmentMatchesItsMeasuredFigures)
{
    for (int k = 0; k < kCabinetSegmentCount; ++k) {
        SCOPED_TRACE("segment " + std::to_string(k + 1));
        const std::vector<float> x = Segment(k);
        const Measured& m = kMeasured[k];

        size_t uPeak = 0;
        for (size_t n = 0; n < x.size(); ++n)
            if (std::fabs(x[n]) > std::fabs(x[uPeak]))
                uPeak = n;
        EXPECT_EQ(static_cast<int>(uPeak), m.iPeakIndex);
        ExpectDigits(x[uPeak], m.peak, "peak");
        EXPECT_NEAR(std::fabs(x[uPeak]), 1.0, 0.0005) << "peak normalisation";
        for (size_t n = 0; n < x.size(); ++n) {
            if (n != uPeak) {
                ASSERT_LT(std::fabs(x[n]), std::fabs(x[uPeak])) << "a second peak at " << n;
            }
        }

        ExpectDigits(x[0], m.first, "sample 0");
        ExpectDigits(x[1], m.second, "sample 1");

        EXPECT_TRUE(test::AllFinite(x));
        for (size_t n = 0; n < x.size(); ++n)
            ASSERT_NE(x[n], 0.0f) << "sample " << n;

        const int iEnergy = EnergyLength(x, 0.99);
        EXPECT_NEAR(iEnergy, m.iEnergyLength, 0.05 * m.iEnergyLength) << "99 % energy length";
    }
}

TEST(CabinetSegments, OnlySegmentThreeHasANegativePeak)
{
    for (int k = 0; k < kCabinetSegmentCount; ++k)
        EXPECT_EQ(kCabinetSegments[k][kMeasured[k].iPeakIndex] < 0.0f, k == 2) << "segment " << k + 1;
}

// The responses the convolution mixes from the table at 44100 Hz.
std::vector<float> BuiltResponse(float fSwitch)
{
    test::BlockHost host;
    host[kDistortionOnOff] = fSwitch;
    CMyConvolution block;
    host.Attach(block);
    float in[4] = {}, out[4];
    block.Process(in, in, out, out, 4);
    return {block.ImpulseResponse(), block.ImpulseResponse() + block.ResponseLength()};
}

void ExpectWorkedExample(const std::vector<float>& h, const char* first, const char* second, const char* loudest)
{
    ASSERT_EQ(h.size(), 2205u);
    ExpectDigits(h[0], first, "h[0]");
    ExpectDigits(h[1], second, "h[1]");
    ExpectDigits(h[13], loudest, "h[13]");
    for (size_t i = 0; i < h.size(); ++i) {
        if (i != 13) {
            ASSERT_LT(std::fabs(h[i]), std::fabs(h[13])) << "h[" << i << "] outgrows h[13]";
        }
    }
}

TEST(CabinetSegments, MixedResponsesMatchTheWorkedExample)
{
    {
        SCOPED_TRACE("clean voicing");
        ExpectWorkedExample(BuiltResponse(0.0f), "54.356", "105.81", "232.76");
    }
    {
        SCOPED_TRACE("distortion voicing");
        ExpectWorkedExample(BuiltResponse(1.0f), "51.818", "108.84", "313.00");
    }
}

} // namespace
} // namespace corvex
