// Synthesises the cabinet segment table and writes it as C++ source.
//
// Each segment is a loudspeaker-in-cabinet impulse response: a sharp onset followed by decaying
// cone and cabinet resonances, band-limited by a 70 Hz high-pass and a 6 kHz low-pass with a
// presence peak, over a low noise floor. The synthesis is then fitted to the measured figures the
// engine relies on (length, peak position and value, the first two samples, the 99 % energy
// length, and the mixed responses' sample 13) and every figure is checked before anything is
// written; a miss ends the program with a non-zero status.
//
// Usage: corvex-cabinet-segments <output.cpp> [--dump]

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cabinet/CabinetSegments.h"
#include "cabinet/MyConvolution.h"

namespace {

using corvex::kCabinetSegmentCount;

constexpr double kRate = corvex::kCabinetSegmentRate;
constexpr double kPi = 3.14159265358979323846;
constexpr double kEnergyShare = 0.99;
// The fit aims well inside the tolerance the table is checked against.
constexpr double kEnergyAim = 0.005;
constexpr double kEnergyTolerance = 0.05;
constexpr double kPeakTolerance = 0.0005;
// The mixed responses' sample that must stand out, and the values it must take.
constexpr int kLoudestIndex = 13;
constexpr double kCleanLoudest = 232.76;
constexpr double kDistortionLoudest = 313.00;
// Segments whose sample kLoudestIndex is solved for (zero-based).
constexpr int kSolvedA = 2;
constexpr int kSolvedB = 6;
// Every other entry of a mixed response stays at least this far below the loudest one.
constexpr double kLoudestMargin = 0.99;
constexpr int kResponseLength = 2205;

// The measured figures a segment must reproduce.
struct Target {
    int iPeakIndex;
    float fPeak;
    float fFirst;
    float fSecond;
    int iEnergyLength;
};

const Target kTargets[kCabinetSegmentCount] = {
    {10, 0.999691f, 0.00207757f, 0.0023344f, 285},
    {244, 0.999592f, 0.0198802f, 0.0208739f, 1652},
    {12, -1.00017f, 0.00422252f, 0.0022693f, 195},
    {1, 0.999901f, 0.518121f, 0.999901f, 135},
    {1, 0.99991f, 0.434788f, 0.99991f, 225},
    {2, 0.999863f, 0.197002f, 0.65567f, 180},
    {7, 0.999786f, 0.00229702f, 0.000482507f, 671},
};

struct Mode {
    double dHz;
    double dDecayMs; // time constant of the envelope
    double dAmplitude;
    double dPhase; // radians at the onset
};

struct Reflection {
    int iDelay; // samples after the onset
    double dGain;
};

// How one segment sounds before it is fitted.
struct Design {
    double dHighPassHz;
    double dLowPassHz;
    double dPresenceHz;
    double dPresenceDb;
    double dPresenceQ;
    std::vector<Mode> modes;
    std::vector<Reflection> reflections;
    double dLeadLevel;  // noise before the onset, relative to the peak
    double dFloorLevel; // noise floor under the whole response
    std::uint64_t uSeed;
};

const Design kDesigns[kCabinetSegmentCount] = {
    // Close microphone on a closed-back 4 × 12.
    {70, 6000, 2900, 6.0, 1.1,
     {{112, 25, 0.020, 0}, {470, 9, 0.030, 1.0}, {1240, 4, 0.045, 2.1}, {2650, 2.5, 0.060, 0.4},
      {3650, 1.8, 0.050, 1.6}, {5200, 1.2, 0.025, 0.3}},
     {},
     0.0022, 3e-5, 0x9e3779b97f4a7c15ULL},
    // Room microphone, two metres out: late arrival, floor and wall reflections.
    {70, 5500, 2500, 5.0, 0.9,
     {{96, 70, 0.025, 0}, {218, 45, 0.020, 0.7}, {640, 20, 0.020, 1.9}, {1420, 10, 0.028, 0.2},
      {2330, 6, 0.030, 2.6}, {3350, 4, 0.025, 1.1}},
     {{38, 0.45}, {91, -0.30}, {173, 0.22}, {310, 0.16}, {520, -0.10}},
     0.021, 1e-4, 0xd1b54a32d192ed03ULL},
    // Off-axis microphone on an open-back 1 × 12.
    {75, 6000, 3100, 7.0, 1.3,
     {{128, 15, 0.018, 0}, {610, 6, 0.030, 0.8}, {1550, 3, 0.050, 2.4}, {2900, 2, 0.060, 1.3},
      {4100, 1.4, 0.040, 0.6}},
     {},
     0.003, 3e-5, 0x8cb92ba72f3d8dd7ULL},
    // Ribbon close to the dust cap: bright, very short.
    {80, 6000, 3000, 5.0, 1.2,
     {{3675, 3.0, 0.280, 0}, {140, 10, 0.015, 0}, {900, 3, 0.030, 1.2}, {2100, 2, 0.040, 0.5}},
     {},
     0.0, 3e-5, 0xa24baed4963ee407ULL},
    // Dynamic microphone at the cone edge.
    {70, 6000, 3300, 6.0, 1.2,
     {{105, 12, 0.018, 0}, {760, 5, 0.030, 0.9}, {1900, 3, 0.045, 2.0}, {3300, 2, 0.050, 0.2}},
     {},
     0.0, 3e-5, 0x9fb21c651e98df25ULL},
    // Condenser a hand's width from the grille.
    {70, 5800, 2700, 5.0, 1.0,
     {{118, 14, 0.020, 0}, {540, 6, 0.030, 1.4}, {1700, 3, 0.040, 0.3}, {3000, 2, 0.050, 2.2}},
     {},
     0.0, 3e-5, 0xc13fa9a902a6328fULL},
    // Back of an open cabinet: the rear wave.
    {70, 5600, 3000, 6.0, 1.1,
     {{100, 30, 0.022, 0}, {330, 15, 0.025, 1.2}, {980, 7, 0.030, 2.7}, {2200, 4, 0.040, 0.9},
      {3675, 2.5, 0.060, kPi / 2}},
     {{64, 0.25}, {150, -0.15}},
     0.0022, 3e-5, 0x2545f4914f6cdd1dULL},
};

// splitmix64: the same numbers on every platform.
class Random {
public:
    explicit Random(std::uint64_t uSeed) : m_uState(uSeed) {}
    double Uniform()
    {
        std::uint64_t z = (m_uState += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0) * 2.0 - 1.0;
    }

private:
    std::uint64_t m_uState;
};

// Bilinear second-order section, transposed direct form II.
class Section {
public:
    static Section LowPass(double dHz, double dQ) { return Make(dHz, dQ, 0.0, 0); }
    static Section HighPass(double dHz, double dQ) { return Make(dHz, dQ, 0.0, 1); }
    static Section Peak(double dHz, double dQ, double dDb) { return Make(dHz, dQ, dDb, 2); }

    void Run(std::vector<double>& signal) const
    {
        double s1 = 0.0, s2 = 0.0;
        for (double& x : signal) {
            const double y = m_b0 * x + s1;
            s1 = m_b1 * x - m_a1 * y + s2;
            s2 = m_b2 * x - m_a2 * y;
            x = y;
        }
    }

private:
    static Section Make(double dHz, double dQ, double dDb, int iKind)
    {
        const double w = 2.0 * kPi * dHz / kRate;
        const double alpha = std::sin(w) / (2.0 * dQ);
        const double c = std::cos(w);
        double b0, b1, b2, a0, a1, a2;
        if (iKind == 0) {
            b0 = (1.0 - c) / 2.0, b1 = 1.0 - c, b2 = (1.0 - c) / 2.0;
            a0 = 1.0 + alpha, a1 = -2.0 * c, a2 = 1.0 - alpha;
        } else if (iKind == 1) {
            b0 = (1.0 + c) / 2.0, b1 = -(1.0 + c), b2 = (1.0 + c) / 2.0;
            a0 = 1.0 + alpha, a1 = -2.0 * c, a2 = 1.0 - alpha;
        } else {
            const double a = std::pow(10.0, dDb / 40.0);
            b0 = 1.0 + alpha * a, b1 = -2.0 * c, b2 = 1.0 - alpha * a;
            a0 = 1.0 + alpha / a, a1 = -2.0 * c, a2 = 1.0 - alpha / a;
        }
        Section s;
        s.m_b0 = b0 / a0, s.m_b1 = b1 / a0, s.m_b2 = b2 / a0, s.m_a1 = a1 / a0, s.m_a2 = a2 / a0;
        return s;
    }

    double m_b0 = 1.0, m_b1 = 0.0, m_b2 = 0.0, m_a1 = 0.0, m_a2 = 0.0;
};

int EnergyLength(const std::vector<float>& x)
{
    double dTotal = 0.0;
    for (float v : x)
        dTotal += static_cast<double>(v) * v;
    double dRun = 0.0;
    for (size_t n = 0; n < x.size(); ++n) {
        dRun += static_cast<double>(x[n]) * x[n];
        if (dRun >= kEnergyShare * dTotal)
            return static_cast<int>(n) + 1;
    }
    return static_cast<int>(x.size());
}

// One segment for a given extra decay time constant (samples). iPinned >= 0 fixes that sample.
std::vector<float> Synthesise(int iSegment, double dTau, int iPinned, float fPinned)
{
    const Design& d = kDesigns[iSegment];
    const Target& t = kTargets[iSegment];
    const int iLength = corvex::kCabinetSegmentLengths[iSegment];
    const int iRaw = iLength + 64;

    std::vector<double> y(static_cast<size_t>(iRaw), 0.0);
    y[0] = 1.0;
    for (const Reflection& r : d.reflections)
        if (r.iDelay < iRaw)
            y[static_cast<size_t>(r.iDelay)] += r.dGain;
    for (const Mode& m : d.modes) {
        const double dDecay = m.dDecayMs * 1e-3 * kRate;
        for (int n = 0; n < iRaw; ++n)
            y[static_cast<size_t>(n)] +=
                m.dAmplitude * std::exp(-n / dDecay) * std::cos(2.0 * kPi * m.dHz * n / kRate + m.dPhase);
    }
    Section::HighPass(d.dHighPassHz, 0.7071067811865476).Run(y);
    Section::Peak(d.dPresenceHz, d.dPresenceQ, d.dPresenceDb).Run(y);
    Section::LowPass(d.dLowPassHz, 0.5411961001461970).Run(y);
    Section::LowPass(d.dLowPassHz, 1.3065629648763766).Run(y);
    for (int n = 0; n < iRaw; ++n)
        y[static_cast<size_t>(n)] *= std::exp(-n / dTau);

    size_t q = 0;
    for (size_t n = 1; n < y.size(); ++n)
        if (std::fabs(y[n]) > std::fabs(y[q]))
            q = n;
    const int iShift = t.iPeakIndex - static_cast<int>(q);
    const double dScale = static_cast<double>(t.fPeak) / y[q];

    Random lead(d.uSeed), floor(d.uSeed ^ 0x5851f42d4c957f2dULL);
    std::vector<float> x(static_cast<size_t>(iLength));
    // Starts where the first measured sample is, so the lead-in runs on from it.
    double dLead = d.dLeadLevel > 0.0 ? static_cast<double>(t.fFirst) / d.dLeadLevel : 0.0;
    for (int n = 0; n < iLength; ++n) {
        const int iSource = n - iShift;
        double v;
        if (iSource >= 0) {
            v = iSource < iRaw ? y[static_cast<size_t>(iSource)] * dScale : 0.0;
        } else {
            // Slow drift before the sound arrives, as picked up by a real microphone.
            dLead += 0.05 * (lead.Uniform() * 10.8 - dLead);
            v = d.dLeadLevel * dLead;
        }
        v += d.dFloorLevel * floor.Uniform();
        x[static_cast<size_t>(n)] = static_cast<float>(v);
    }
    x[0] = t.fFirst;
    x[1] = t.fSecond;
    x[static_cast<size_t>(t.iPeakIndex)] = t.fPeak;
    if (iPinned >= 0)
        x[static_cast<size_t>(iPinned)] = fPinned;
    for (float& v : x)
        if (v == 0.0f)
            v = 1e-12f;
    return x;
}

// Finds the decay that puts 99 % of the energy within the target length.
std::vector<float> Fit(int iSegment, int iPinned, float fPinned, double& dTau)
{
    const int iTarget = kTargets[iSegment].iEnergyLength;
    double dLo = std::log(1.0), dHi = std::log(1e7);
    std::vector<float> best;
    int iBestMiss = 1 << 30;
    for (int iStep = 0; iStep < 80; ++iStep) {
        const double dMid = 0.5 * (dLo + dHi);
        std::vector<float> x = Synthesise(iSegment, std::exp(dMid), iPinned, fPinned);
        const int iLength = EnergyLength(x);
        if (std::abs(iLength - iTarget) < iBestMiss) {
            iBestMiss = std::abs(iLength - iTarget);
            best = x;
            dTau = std::exp(dMid);
        }
        if (iLength == iTarget)
            break;
        (iLength < iTarget ? dLo : dHi) = dMid;
    }
    return best;
}

// The clean and distortion responses at 44100 Hz, as the convolution builds them.
std::vector<double> Response(const std::vector<std::vector<float>>& segments, const corvex::CabinetVoicing& voicing)
{
    std::vector<double> h(kResponseLength);
    for (int i = 0; i < kResponseLength; ++i) {
        double adTerms[kCabinetSegmentCount];
        for (int k = 0; k < kCabinetSegmentCount; ++k)
            adTerms[k] = i < static_cast<int>(segments[static_cast<size_t>(k)].size())
                             ? static_cast<double>(segments[static_cast<size_t>(k)][static_cast<size_t>(i)]) *
                                   voicing.afWeights[k] * corvex::kCabinetSegmentGains[k]
                             : 0.0;
        const double dSum =
            adTerms[1] + adTerms[0] + adTerms[2] + adTerms[3] + adTerms[4] + adTerms[5] + adTerms[6];
        h[static_cast<size_t>(i)] = static_cast<float>(dSum * corvex::CMyConvolution::kResponseScale);
    }
    return h;
}

double Coefficient(const corvex::CabinetVoicing& voicing, int k)
{
    return static_cast<double>(voicing.afWeights[k]) * corvex::kCabinetSegmentGains[k] *
           corvex::CMyConvolution::kResponseScale;
}

// Sample kLoudestIndex of the two solved segments so that both mixed responses take their values.
bool SolveLoudest(const std::vector<std::vector<float>>& segments, float& fA, float& fB)
{
    const auto& clean = corvex::CMyConvolution::kCleanVoicing;
    const auto& dist = corvex::CMyConvolution::kDistortionVoicing;
    double dRestClean = 0.0, dRestDist = 0.0;
    for (int k = 0; k < kCabinetSegmentCount; ++k) {
        if (k == kSolvedA || k == kSolvedB)
            continue;
        const double s = segments[static_cast<size_t>(k)][kLoudestIndex];
        dRestClean += Coefficient(clean, k) * s;
        dRestDist += Coefficient(dist, k) * s;
    }
    const double a11 = Coefficient(clean, kSolvedA), a12 = Coefficient(clean, kSolvedB);
    const double a21 = Coefficient(dist, kSolvedA), a22 = Coefficient(dist, kSolvedB);
    const double r1 = kCleanLoudest - dRestClean, r2 = kDistortionLoudest - dRestDist;
    const double det = a11 * a22 - a12 * a21;
    if (std::fabs(det) < 1e-9)
        return false;
    fA = static_cast<float>((r1 * a22 - a12 * r2) / det);
    fB = static_cast<float>((a11 * r2 - a21 * r1) / det);
    return true;
}

class Checker {
public:
    void Expect(bool bHolds, const std::string& what)
    {
        if (!bHolds) {
            std::cerr << "corvex-cabinet-segments: constraint missed: " << what << '\n';
            ++m_iMisses;
        }
    }
    int Misses() const { return m_iMisses; }

private:
    int m_iMisses = 0;
};

std::string Describe(int iSegment, const std::string& what)
{
    return "segment " + std::to_string(iSegment + 1) + ": " + what;
}

void CheckSegments(const std::vector<std::vector<float>>& segments, Checker& check)
{
    size_t uTotal = 0;
    for (int k = 0; k < kCabinetSegmentCount; ++k) {
        const std::vector<float>& x = segments[static_cast<size_t>(k)];
        const Target& t = kTargets[k];
        uTotal += x.size();
        check.Expect(static_cast<int>(x.size()) == corvex::kCabinetSegmentLengths[k], Describe(k, "length"));
        size_t uPeak = 0;
        bool bZero = false, bFinite = true;
        for (size_t n = 0; n < x.size(); ++n) {
            if (std::fabs(x[n]) > std::fabs(x[uPeak]))
                uPeak = n;
            bZero = bZero || x[n] == 0.0f;
            bFinite = bFinite && std::isfinite(x[n]);
        }
        check.Expect(static_cast<int>(uPeak) == t.iPeakIndex && x[uPeak] == t.fPeak, Describe(k, "peak"));
        size_t uRunnerUp = uPeak == 0 ? 1 : 0;
        for (size_t n = 0; n < x.size(); ++n)
            if (n != uPeak && std::fabs(x[n]) > std::fabs(x[uRunnerUp]))
                uRunnerUp = n;
        check.Expect(std::fabs(x[uRunnerUp]) < std::fabs(x[uPeak]), Describe(k, "single peak"));
        check.Expect(std::fabs(std::fabs(x[uPeak]) - 1.0) <= kPeakTolerance, Describe(k, "peak normalisation"));
        check.Expect(x[0] == t.fFirst && x[1] == t.fSecond, Describe(k, "first two samples"));
        check.Expect(!bZero, Describe(k, "no sample exactly zero"));
        check.Expect(bFinite, Describe(k, "finite"));
        const int iEnergy = EnergyLength(x);
        check.Expect(std::abs(iEnergy - t.iEnergyLength) <= kEnergyTolerance * t.iEnergyLength,
                     Describe(k, "99 % energy length " + std::to_string(iEnergy)));
    }
    check.Expect(uTotal == static_cast<size_t>(corvex::kCabinetSegmentTotalLength), "total length");
}

void CheckResponse(const std::vector<double>& h, double dFirst, double dSecond, double dLoudest, double dDigits,
                   const std::string& name, Checker& check)
{
    check.Expect(std::fabs(h[0] - dFirst) <= 0.0005, name + " h[0]");
    check.Expect(std::fabs(h[1] - dSecond) <= 0.005, name + " h[1]");
    check.Expect(std::fabs(h[kLoudestIndex] - dLoudest) <= dDigits, name + " h[13]");
    for (size_t i = 0; i < h.size(); ++i)
        if (static_cast<int>(i) != kLoudestIndex && std::fabs(h[i]) > kLoudestMargin * std::fabs(h[kLoudestIndex]))
            check.Expect(false, name + " h[" + std::to_string(i) + "] rivals h[13]: " + std::to_string(h[i]));
}

std::string Literal(float v)
{
    char ac[64];
    const auto result = std::to_chars(ac, ac + sizeof(ac), v);
    std::string s(ac, result.ptr);
    if (s.find_first_of(".e") == std::string::npos)
        s += ".0";
    return s + "f";
}

std::string Source(const std::vector<std::vector<float>>& segments)
{
    std::ostringstream out;
    out << "// Generated by corvex-cabinet-segments (tools/cabinet-segments); do not edit.\n"
           "// Rebuild with the regenerate-cabinet-segments target.\n\n"
           "#include \"cabinet/CabinetSegments.h\"\n\n"
           "namespace corvex {\n\nnamespace {\n\n";
    for (int k = 0; k < kCabinetSegmentCount; ++k) {
        out << "const float kSegment" << k + 1 << "[] = {\n";
        const std::vector<float>& x = segments[static_cast<size_t>(k)];
        for (size_t n = 0; n < x.size(); ++n) {
            out << (n % 6 == 0 ? "    " : " ") << Literal(x[n]) << ',';
            if (n % 6 == 5 || n + 1 == x.size())
                out << '\n';
        }
        out << "};\nstatic_assert(sizeof(kSegment" << k + 1 << ") / sizeof(float) == kCabinetSegmentLengths[" << k
            << "]);\n\n";
    }
    out << "} // namespace\n\nconst float* const kCabinetSegments[kCabinetSegmentCount] = {\n   ";
    for (int k = 0; k < kCabinetSegmentCount; ++k)
        out << " kSegment" << k + 1 << ',';
    out << "\n};\n\n} // namespace corvex\n";
    return out.str();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: corvex-cabinet-segments <output.cpp> [--dump]\n";
        return 2;
    }
    const bool bDump = argc > 2 && std::string(argv[2]) == "--dump";

    std::vector<std::vector<float>> segments(kCabinetSegmentCount);
    double adTau[kCabinetSegmentCount] = {};
    for (int k = 0; k < kCabinetSegmentCount; ++k)
        if (k != kSolvedA && k != kSolvedB)
            segments[static_cast<size_t>(k)] = Fit(k, -1, 0.0f, adTau[k]);
    // The solve reads only the settled segments' sample 13, so the solved segments can be fitted
    // afterwards with theirs pinned.
    segments[kSolvedA].assign(kLoudestIndex + 1, 0.0f);
    segments[kSolvedB].assign(kLoudestIndex + 1, 0.0f);
    float fA = 0.0f, fB = 0.0f;
    Checker check;
    check.Expect(SolveLoudest(segments, fA, fB), "solvable sample 13");
    segments[kSolvedA] = Fit(kSolvedA, kLoudestIndex, fA, adTau[kSolvedA]);
    segments[kSolvedB] = Fit(kSolvedB, kLoudestIndex, fB, adTau[kSolvedB]);

    const std::vector<double> clean = Response(segments, corvex::CMyConvolution::kCleanVoicing);
    const std::vector<double> dist = Response(segments, corvex::CMyConvolution::kDistortionVoicing);
    if (bDump) {
        for (int k = 0; k < kCabinetSegmentCount; ++k) {
            const auto& x = segments[static_cast<size_t>(k)];
            std::fprintf(stderr, "segment %d tau %.1f energy %d:", k + 1, adTau[k], EnergyLength(x));
            for (int n = 0; n < 30; ++n)
                std::fprintf(stderr, " %.3f", x[static_cast<size_t>(n)]);
            std::fprintf(stderr, "\n");
        }
        for (const auto* h : {&clean, &dist}) {
            std::fprintf(stderr, "h:");
            for (int n = 0; n < 40; ++n)
                std::fprintf(stderr, " %.1f", (*h)[static_cast<size_t>(n)]);
            std::fprintf(stderr, "\n");
        }
    }
    CheckSegments(segments, check);
    check.Expect(std::fabs(segments[kSolvedA][kLoudestIndex]) < 0.99f &&
                     std::fabs(segments[kSolvedB][kLoudestIndex]) < 0.99f,
                 "solved samples below the peaks");
    CheckResponse(clean, 54.356, 105.81, kCleanLoudest, 0.005, "clean", check);
    CheckResponse(dist, 51.818, 108.84, kDistortionLoudest, 0.005, "distortion", check);
    if (check.Misses() > 0) {
        std::cerr << "corvex-cabinet-segments: " << check.Misses() << " constraint(s) missed, nothing written\n";
        return 1;
    }

    const std::string path = argv[1];
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << Source(segments);
        if (!file) {
            std::cerr << "corvex-cabinet-segments: cannot write " << temporary << '\n';
            return 1;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::cerr << "corvex-cabinet-segments: cannot replace " << path << '\n';
        return 1;
    }
    return 0;
}
