#include "DemoPhrase.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace corvex::render {

namespace {

constexpr double kPhraseSeconds = 10.0;
constexpr double kBeatSeconds = 0.5; // 120 BPM, the plug-in's default tempo, so the echoes land on the beat
constexpr double kPeakLevel = 0.5011872336272722; // -6 dBFS, a typical DI level
constexpr double kStrumSpacingSeconds = 0.012;
constexpr double kReleaseSeconds = 0.08;  // decay time of a damped string
constexpr double kReleaseTailSeconds = 0.2;
constexpr double kPickPosition = 0.13;    // fraction of the string length from the bridge
constexpr double kDcBlockHz = 20.0;

// A fixed generator (SplitMix64) rather than <random>: its distributions differ between standard
// libraries, and the phrase must be identical everywhere.
class CNoise {
public:
    explicit CNoise(std::uint64_t seed) : m_iState(seed) {}
    double Next() // uniform in [-1, 1)
    {
        std::uint64_t z = (m_iState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * (2.0 / 9007199254740992.0) - 1.0;
    }

private:
    std::uint64_t m_iState;
};

struct Note {
    double start;    // seconds
    double duration; // until the string is damped
    int midi;
    double velocity; // 0 to 1
};

double MidiToHz(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

// Karplus-Strong string: a delay line closed through a two-point average (the string's loss of
// treble), a first-order all-pass that tunes the fractional part of the period, and a per-period
// gain that sets the decay time.
void PluckString(const Note& note, CNoise& noise, std::vector<double>& mix)
{
    const double fs = kDemoSampleRate;
    const double hz = MidiToHz(note.midi);
    const double period = fs / hz;
    const int length = static_cast<int>(std::floor(period - 0.6));
    const double fraction = period - 0.5 - length; // in [0.1, 1.1)
    const double allpass = (1.0 - fraction) / (1.0 + fraction);

    const double sustainSeconds = std::clamp(7.0 * std::pow(110.0 / hz, 0.4), 3.0, 9.0);
    const double ringGain = std::pow(10.0, -3.0 / (sustainSeconds * hz));
    const double dampedGain = std::pow(10.0, -3.0 / (kReleaseSeconds * hz));

    // Pick noise: softened by a one-pole low-pass (a softer pick for quieter notes), with the
    // harmonics that have a node at the pick position removed by a comb.
    std::vector<double> excitation(static_cast<std::size_t>(length));
    const double softness = 0.55 - 0.35 * note.velocity;
    double smoothed = 0.0;
    for (double& e : excitation) {
        smoothed += (1.0 - softness) * (noise.Next() - smoothed);
        e = smoothed;
    }
    const int pickOffset = std::max(1, static_cast<int>(std::lround(kPickPosition * length)));
    for (int i = length - 1; i >= pickOffset; --i)
        excitation[i] -= excitation[i - pickOffset];
    double mean = 0.0;
    for (double e : excitation)
        mean += e;
    mean /= length;
    for (double& e : excitation)
        e = (e - mean) * note.velocity;

    std::vector<double> line(excitation);
    const std::size_t first = static_cast<std::size_t>(std::lround(note.start * fs));
    const std::size_t dampAt = static_cast<std::size_t>(std::lround(note.duration * fs));
    const std::size_t total = dampAt + static_cast<std::size_t>(kReleaseTailSeconds * fs);
    double previous = 0.0, allpassIn = 0.0, allpassOut = 0.0;
    int index = 0;
    for (std::size_t n = 0; n < total && first + n < mix.size(); ++n) {
        const double delayed = line[index];
        const double averaged = 0.5 * (delayed + previous);
        previous = delayed;
        const double tuned = allpass * averaged + allpassIn - allpass * allpassOut;
        allpassIn = averaged;
        allpassOut = tuned;
        const double value = (n < dampAt ? ringGain : dampedGain) * tuned;
        line[index] = value;
        index = (index + 1 == length) ? 0 : index + 1;
        mix[first + n] += delayed;
    }
}

void Strum(std::vector<Note>& notes, double start, double duration, const std::vector<int>& strings, bool down,
           double velocity, CNoise& noise)
{
    for (std::size_t i = 0; i < strings.size(); ++i) {
        const int midi = strings[down ? i : strings.size() - 1 - i];
        const double offset = kStrumSpacingSeconds * static_cast<double>(i);
        const double accent = velocity * (0.9 + 0.1 * noise.Next());
        notes.push_back({start + offset, duration - offset, midi, accent});
    }
}

} // namespace

std::vector<float> SynthesizeDemoPhrase()
{
    CNoise noise(0xC0517EC5u);
    std::vector<Note> notes;

    const std::vector<int> eMinor = {40, 47, 52, 55, 59, 64};
    const std::vector<int> cMajor = {48, 52, 55, 60, 64};
    const std::vector<int> gMajor = {43, 47, 50, 55, 59, 67};
    const std::vector<int> dMajor = {50, 57, 62, 66};
    const double b = kBeatSeconds;
    Strum(notes, 0 * b, 2 * b, eMinor, true, 0.95, noise);
    Strum(notes, 2 * b, 2 * b, eMinor, false, 0.6, noise);
    Strum(notes, 4 * b, 2 * b, cMajor, true, 0.9, noise);
    Strum(notes, 6 * b, 2 * b, cMajor, false, 0.6, noise);
    Strum(notes, 8 * b, 2 * b, gMajor, true, 0.9, noise);
    Strum(notes, 10 * b, 2 * b, dMajor, true, 0.85, noise);

    // E minor pentatonic line in eighth notes, ending on a long E.
    const int line[] = {64, 67, 69, 71, 74, 71, 69, 67, 69, 67};
    double t = 12 * b;
    for (int midi : line) {
        notes.push_back({t, b / 2, midi, 0.75 + 0.1 * noise.Next()});
        t += b / 2;
    }
    notes.push_back({t, kPhraseSeconds - t - kReleaseTailSeconds, 64, 0.9});

    std::vector<double> mix(static_cast<std::size_t>(kPhraseSeconds * kDemoSampleRate), 0.0);
    for (const Note& note : notes)
        PluckString(note, noise, mix);

    // The strings' mean displacement is not sound; remove it as a pickup and input stage would.
    const double pole = std::exp(-2.0 * M_PI * kDcBlockHz / kDemoSampleRate);
    double x1 = 0.0, y1 = 0.0, peak = 0.0;
    for (double& s : mix) {
        const double y = s - x1 + pole * y1;
        x1 = s;
        y1 = y;
        s = y;
        peak = std::max(peak, std::abs(y));
    }
    std::vector<float> out(mix.size());
    const double scale = peak > 0.0 ? kPeakLevel / peak : 0.0;
    for (std::size_t i = 0; i < mix.size(); ++i)
        out[i] = static_cast<float>(mix[i] * scale);
    return out;
}

} // namespace corvex::render
