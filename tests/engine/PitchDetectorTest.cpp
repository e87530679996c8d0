#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "EngineTestSupport.h"
#include "tuner/PitchDetector.h"

namespace corvex {
namespace {

constexpr double kHop = 0.05;
constexpr double kPluck = 0.2;
constexpr double kSeconds = 1.6;
constexpr double kSettled = 0.35; // after the pluck, where the median and the spread are taken

struct Timed {
    double dSeconds;
    PitchReading reading;
};

// One reading per hop, as the tuner makes them, each stamped with the end of the audio it saw.
std::vector<Timed> Readings(const std::vector<float>& signal, double dRate)
{
    CPitchDetector detector(dRate);
    std::vector<Timed> readings;
    const int iHop = static_cast<int>(std::lround(kHop * dRate));
    for (size_t i = 0; i + iHop <= signal.size(); i += iHop) {
        detector.Push(signal.data() + i, iHop);
        readings.push_back({static_cast<double>(i + iHop) / dRate, detector.Detect()});
    }
    return readings;
}

double Cents(double dHertz, double dF0) { return 1200.0 * std::log2(dHertz / dF0); }

struct String {
    const char* name;
    double dF0;
    double dStiffness;
    double dNoiseDb; // 0: none
    double dRate;
};

class PluckedStrings : public ::testing::TestWithParam<String> {};

// The median reading within a cent of the fundamental (half a cent for a string without
// stiffness), the readings within a cent of each other (two in noise), and the first reading
// within a cent soon after the pluck.
TEST_P(PluckedStrings, ReadTheFundamental)
{
    const String& s = GetParam();
    const auto readings = Readings(test::PluckedString(s.dF0, s.dStiffness, s.dRate, kSeconds, kPluck, s.dNoiseDb), s.dRate);
    std::vector<double> settled;
    double dFirst = -1.0;
    for (const Timed& t : readings) {
        if (t.dSeconds <= kPluck) {
            EXPECT_FALSE(t.reading.bPitched) << "before the pluck, at " << t.dSeconds << " s";
            continue;
        }
        const double dCents = t.reading.bPitched ? Cents(t.reading.dHertz, s.dF0) : 1e9;
        if (dFirst < 0.0 && std::fabs(dCents) <= 1.0)
            dFirst = t.dSeconds - kPluck;
        if (t.dSeconds >= kPluck + kSettled) {
            EXPECT_TRUE(t.reading.bPitched) << "no reading at " << t.dSeconds << " s";
            settled.push_back(dCents);
        }
    }
    ASSERT_FALSE(settled.empty());
    std::vector<double> sorted = settled;
    std::sort(sorted.begin(), sorted.end());
    const double dMedian = sorted[sorted.size() / 2];
    const double dSpread = sorted.back() - sorted.front();
    std::printf("%-26s f0 %8.3f B %.0e: median %+.3f cents, spread %.3f cents, first good %.0f ms\n", s.name,
                s.dF0, s.dStiffness, dMedian, dSpread, 1000.0 * dFirst);
    EXPECT_LE(std::fabs(dMedian), s.dStiffness == 0.0 ? 0.5 : 1.0);
    EXPECT_LE(dSpread, s.dNoiseDb < 0.0 ? 2.0 : 1.0);
    EXPECT_GE(dFirst, 0.0);
    EXPECT_LE(dFirst, s.dF0 < 70.0 ? 0.3 : 0.15);
}

constexpr double kNoise = -30.0;
INSTANTIATE_TEST_SUITE_P(Tuner, PluckedStrings, ::testing::Values(
    String{"BassLowBDetuned", 27.5, 1e-4, 0.0, 48000.0},
    String{"BassLowB", 30.868, 8e-5, 0.0, 48000.0},
    String{"BassLowBInNoise", 30.868, 8e-5, kNoise, 48000.0},
    String{"BassLowE", 41.203, 6e-5, 0.0, 44100.0},
    String{"BassLowEPlain", 41.203, 0.0, 0.0, 48000.0},
    String{"GuitarLowE", 82.407, 1e-4, 0.0, 48000.0},
    String{"GuitarLowEInNoise", 82.407, 1e-4, kNoise, 44100.0},
    String{"GuitarA", 110.0, 0.0, 0.0, 48000.0},
    String{"GuitarD", 146.832, 5e-5, kNoise, 48000.0},
    String{"GuitarG", 195.998, 3e-5, 0.0, 96000.0},
    String{"GuitarB", 246.942, 2e-5, 0.0, 48000.0},
    String{"GuitarHighE", 329.628, 1e-5, kNoise, 48000.0},
    String{"GuitarHighEPlain", 329.628, 0.0, 0.0, 44100.0},
    String{"HighETwelfthFret", 659.255, 2e-5, 0.0, 48000.0},
    String{"HighETwentyFourthFret", 1318.51, 4e-5, 0.0, 48000.0},
    String{"HighETwentyFourthInNoise", 1318.51, 4e-5, kNoise, 48000.0},
    String{"HighETwentyFourthPlain", 1318.51, 0.0, 0.0, 44100.0}),
    [](const ::testing::TestParamInfo<String>& row) { return std::string(row.param.name); });

struct Refusal {
    const char* name;
    std::vector<float> signal;
};

class Refusals : public ::testing::TestWithParam<Refusal> {};

// What has no one pitch reads as nothing, at every hop.
TEST_P(Refusals, ReadAsNothing)
{
    for (const Timed& t : Readings(GetParam().signal, 48000.0))
        EXPECT_FALSE(t.reading.bPitched) << t.dSeconds << " s: " << t.reading.dHertz << " Hz";
}

std::vector<float> Chord()
{
    // C major over three octaves' spread: C3, E3, G3, B flat 3, equal-tempered.
    std::vector<float> chord(static_cast<size_t>(kSeconds * 48000.0), 0.0f);
    unsigned uSeed = 1;
    for (double dF0 : {130.813, 164.814, 195.998, 233.082}) {
        const auto string = test::PluckedString(dF0, 2e-5, 48000.0, kSeconds, kPluck, 0.0, uSeed++);
        for (size_t i = 0; i < chord.size(); ++i)
            chord[i] += string[i];
    }
    return chord;
}

INSTANTIATE_TEST_SUITE_P(Tuner, Refusals, ::testing::Values(
    Refusal{"Silence", std::vector<float>(static_cast<size_t>(kSeconds * 48000.0), 0.0f)},
    Refusal{"WhiteNoise", test::Noise(static_cast<int>(kSeconds * 48000.0), 7, 0.1f)},
    Refusal{"Chord", Chord()}),
    [](const ::testing::TestParamInfo<Refusal>& row) { return std::string(row.param.name); });

TEST(TunerNotes, NamesAndCentsAgainstTheReference)
{
    struct Case {
        double dHertz, dReference;
        const char* name;
        double dCents;
    } cases[] = {{440.0, 440.0, "A4", 0.0}, {27.5, 440.0, "A0", 0.0}, {82.407, 440.0, "E2", 0.0},
                 {233.082, 440.0, "A#3", 0.0}, {261.626, 440.0, "C4", 0.0}, {1318.51, 440.0, "E6", 0.0},
                 {440.0, 430.0, "A4", 39.8}, {432.0, 450.0, "G#4", 29.3}};
    for (const Case& c : cases) {
        int iNote = 0;
        double dCents = 0.0;
        CPitchDetector::NoteOf(c.dHertz, c.dReference, iNote, dCents);
        char acName[5];
        CPitchDetector::NoteName(iNote, acName);
        EXPECT_STREQ(acName, c.name) << c.dHertz;
        EXPECT_NEAR(dCents, c.dCents, 0.1) << c.dHertz;
    }
}

} // namespace
} // namespace corvex
