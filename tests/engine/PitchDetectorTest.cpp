#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "EngineTestSupport.h"
#include "tuner/PitchDetector.h"

namespace corvex {
namespace {

constexpr double kPluck = 0.2;
constexpr double kSeconds = 1.6;
constexpr double kSettled = 0.35; // after the pluck, where the median and the spread are taken
constexpr double kNoise = -30.0;

// One reading per 50 ms hop, as the tuner makes them, each with the end of the audio it saw.
std::vector<std::pair<double, PitchReading>> Readings(const std::vector<float>& signal, double dRate)
{
    CPitchDetector detector(dRate);
    std::vector<std::pair<double, PitchReading>> readings;
    const int iHop = static_cast<int>(std::lround(0.05 * dRate));
    for (size_t i = 0; i + iHop <= signal.size(); i += iHop) {
        detector.Push(signal.data() + i, iHop);
        readings.push_back({static_cast<double>(i + iHop) / dRate, detector.Detect()});
    }
    return readings;
}

struct String {
    const char* name;
    double dF0, dStiffness, dNoiseDb, dRate; // dNoiseDb 0: none
    const char* note;
};

class PluckedStrings : public ::testing::TestWithParam<String> {};

// The median reading within a cent of the fundamental (half a cent for a string without
// stiffness) and named after its note, the readings within a cent of each other (two in noise),
// the first reading within a cent soon after the pluck, and none before it.
TEST_P(PluckedStrings, ReadTheFundamental)
{
    const String& s = GetParam();
    std::vector<double> settled;
    double dFirst = -1.0;
    char acName[5] = "";
    for (const auto& [dSeconds, reading] :
         Readings(test::PluckedString(s.dF0, s.dStiffness, s.dRate, kSeconds, kPluck, s.dNoiseDb), s.dRate)) {
        EXPECT_TRUE(dSeconds > kPluck || !reading.bPitched) << dSeconds << " s";
        const double dCents = reading.bPitched ? 1200.0 * std::log2(reading.dHertz / s.dF0) : 1e9;
        if (dFirst < 0.0 && std::fabs(dCents) <= 1.0)
            dFirst = dSeconds - kPluck;
        if (dSeconds >= kPluck + kSettled) {
            EXPECT_TRUE(reading.bPitched) << "no reading at " << dSeconds << " s";
            settled.push_back(dCents);
            CPitchDetector::NoteName(reading.iNote, acName);
        }
    }
    ASSERT_FALSE(settled.empty());
    std::sort(settled.begin(), settled.end());
    const double dMedian = settled[settled.size() / 2], dSpread = settled.back() - settled.front();
    std::printf("%-26s %9.3f Hz B %.0e: median %+.3f cents, spread %.3f cents, first %.0f ms\n", s.name, s.dF0,
                s.dStiffness, dMedian, dSpread, 1000.0 * dFirst);
    EXPECT_LE(std::fabs(dMedian), s.dStiffness == 0.0 ? 0.5 : 1.0);
    EXPECT_LE(dSpread, s.dNoiseDb < 0.0 ? 2.0 : 1.0);
    EXPECT_GE(dFirst, 0.0);
    EXPECT_LE(dFirst, s.dF0 < 70.0 ? 0.3 : 0.15);
    EXPECT_STREQ(acName, s.note);
}

INSTANTIATE_TEST_SUITE_P(Tuner, PluckedStrings, ::testing::Values(
    String{"BassLowBDetuned", 27.5, 1e-4, 0.0, 48000.0, "A0"},
    String{"BassLowB", 30.868, 8e-5, 0.0, 48000.0, "B0"},
    String{"BassLowBInNoise", 30.868, 8e-5, kNoise, 48000.0, "B0"},
    String{"BassLowE", 41.203, 6e-5, 0.0, 44100.0, "E1"},
    String{"BassLowEPlain", 41.203, 0.0, 0.0, 48000.0, "E1"},
    String{"GuitarLowE", 82.407, 1e-4, 0.0, 48000.0, "E2"},
    String{"GuitarLowEInNoise", 82.407, 1e-4, kNoise, 44100.0, "E2"},
    String{"GuitarA", 110.0, 0.0, 0.0, 48000.0, "A2"},
    String{"GuitarDInNoise", 146.832, 5e-5, kNoise, 48000.0, "D3"},
    String{"GuitarG", 195.998, 3e-5, 0.0, 96000.0, "G3"},
    String{"GuitarBHalfStepDown", 233.082, 2e-5, 0.0, 48000.0, "A#3"},
    String{"GuitarHighEInNoise", 329.628, 1e-5, kNoise, 48000.0, "E4"},
    String{"GuitarHighEPlain", 329.628, 0.0, 0.0, 44100.0, "E4"},
    String{"HighETwelfthFret", 659.255, 2e-5, 0.0, 48000.0, "E5"},
    String{"HighETwentyFourthFret", 1318.51, 4e-5, 0.0, 48000.0, "E6"},
    String{"HighETwentyFourthInNoise", 1318.51, 4e-5, kNoise, 48000.0, "E6"},
    String{"HighETwentyFourthPlain", 1318.51, 0.0, 0.0, 44100.0, "E6"}),
    [](const ::testing::TestParamInfo<String>& row) { return std::string(row.param.name); });

std::vector<float> Chord() // C, E, G and B flat from C3, plucked together
{
    std::vector<float> chord(static_cast<size_t>(kSeconds * 48000.0), 0.0f);
    for (double dF0 : {130.813, 164.814, 195.998, 233.082}) {
        const auto string = test::PluckedString(dF0, 2e-5, 48000.0, kSeconds, kPluck, 0.0, static_cast<unsigned>(dF0));
        std::transform(chord.begin(), chord.end(), string.begin(), chord.begin(), std::plus<float>());
    }
    return chord;
}

class Refusals : public ::testing::TestWithParam<std::vector<float>> {};

// What has no one pitch reads as nothing, at every hop.
TEST_P(Refusals, ReadAsNothing)
{
    for (const auto& [dSeconds, reading] : Readings(GetParam(), 48000.0))
        EXPECT_FALSE(reading.bPitched) << dSeconds << " s: " << reading.dHertz << " Hz";
}

INSTANTIATE_TEST_SUITE_P(Tuner, Refusals, ::testing::Values(
    std::vector<float>(static_cast<size_t>(kSeconds * 48000.0), 0.0f),
    test::Noise(static_cast<int>(kSeconds * 48000.0), 7, 0.1f), Chord()),
    [](const ::testing::TestParamInfo<std::vector<float>>& row) {
        return std::string(row.index == 0 ? "Silence" : row.index == 1 ? "WhiteNoise" : "Chord");
    });

} // namespace
} // namespace corvex
