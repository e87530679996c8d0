// Writes engine/distortion/ShaperTables.cpp, the distortion's four shaper tables.
//
// Each half is rebuilt from the levels of its measured transfer curve: a monotone cubic (PCHIP)
// through the logarithm of the measured magnitudes, in dB of input level, then a few slow
// deterministic ripples such as a real measurement shows. The ripple fades to nothing at every
// measured point, so those entries carry the measured value itself, and it is kept small next
// to the peaks so that every peak stays where it was measured. Working on the logarithm keeps
// the low end, where the curves span several decades, smooth and strictly positive.
//
// Usage: corvex-shaper-tables <output.cpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr double kRangeDb = 120.0;

struct Anchor {
    double dLevelDb;
    double dValue;
};

struct Half {
    const char* szName;
    const char* szStepsName; // the engine's constant for iSteps
    int iSteps;
    double dSilentBelowDb; // entries below this level are exactly 0 (-inf: none)
    int iRippleSeed;
    std::vector<Anchor> anchors;
};

// 90 % of the last value, nudged up so the measured crossing sits on its anchor.
double NinetyPercentOf(double dLast)
{
    return 0.9 * dLast * 1.001;
}

// The measured curves. Beside the decade points they carry the measured peaks and the levels
// where each curve reaches 90 % of its final value.
std::vector<Half> MeasuredHalves()
{
    const double kInf = INFINITY;
    return {
        {"kShaperTableAPositive", "kShaperStepsA", 2400, -98.75, 1,
         {{-98.75, 2.0e-10}, {-90, 3.74e-7}, {-80, 0.000718}, {-70, 0.0752}, {-60, 0.43},
          {-54, NinetyPercentOf(0.72)}, {-50, 0.752}, {-40, 0.785}, {-38.25, 0.789}, {-30, 0.741},
          {-20, 0.722}, {-10, 0.716}, {0, 0.72}}},
        {"kShaperTableANegative", "kShaperStepsA", 2400, -98.75, 2,
         {{-98.75, 2.0e-10}, {-90, 3.74e-7}, {-80, 0.000715}, {-70, 0.0752}, {-60, 0.429},
          {-50, 0.747}, {-40, 0.803}, {-39, NinetyPercentOf(0.898)}, {-30, 0.884}, {-25, 0.924},
          {-20, 0.9}, {-10, 0.902}, {0, 0.898}}},
        {"kShaperTableB", "kShaperStepsB", 6000, -kInf, 3,
         {{-120, 5.77e-9}, {-110, 0.00123}, {-100, 0.00287}, {-90, 0.00434}, {-80, 0.00528},
          {-70, 0.00804}, {-60, 0.0121}, {-50, 0.0345}, {-40, 0.109}, {-30, 0.341}, {-20, 0.694},
          {-10, 0.814}, {-2.5, 0.912}, {0, 0.906}}},
        {"kShaperTableC", "kShaperStepsC", 6000, -kInf, 4,
         {{-120, 0.000566}, {-110, 0.00606}, {-100, 0.00528}, {-90, 0.00518}, {-80, 0.0083},
          {-70, 0.0196}, {-60, 0.0642}, {-50, 0.19}, {-40, 0.315}, {-30, 0.387},
          {-23, NinetyPercentOf(0.474)}, {-20, 0.44}, {-10, 0.466}, {-4, 0.478}, {0, 0.474}}},
        {"kShaperTableDPositive", "kShaperStepsD", 24000, -kInf, 5,
         {{-120, 1.54e-6}, {-110, 0.000975}, {-100, 0.00239}, {-90, 0.00545}, {-80, 0.0135},
          {-70, 0.0433}, {-60, 0.139}, {-50, 0.36}, {-40, 0.471}, {-30, 0.514}, {-20, 0.57},
          {-10, 0.658}, {-4.7, 0.673}, {0, 0.657}}},
        {"kShaperTableDNegative", "kShaperStepsD", 24000, -kInf, 6,
         {{-120, 3.99e-7}, {-110, 0.00117}, {-100, 0.00242}, {-90, 0.00505}, {-80, 0.0136},
          {-70, 0.0411}, {-60, 0.126}, {-50, 0.337}, {-40, 0.518}, {-30, 0.685}, {-20, 0.76},
          {-18, 0.767}, {-10, 0.725}, {0, 0.733}}},
    };
}

// Piecewise cubic Hermite interpolant with Fritsch-Carlson slopes: monotone between knots, flat
// at every knot that is a local extremum, so no overshoot anywhere.
class MonotoneCubic {
public:
    MonotoneCubic(std::vector<double> x, std::vector<double> y) : m_x(std::move(x)), m_y(std::move(y))
    {
        const size_t n = m_x.size();
        std::vector<double> h(n - 1), delta(n - 1);
        for (size_t k = 0; k + 1 < n; ++k) {
            h[k] = m_x[k + 1] - m_x[k];
            delta[k] = (m_y[k + 1] - m_y[k]) / h[k];
        }
        m_slope.assign(n, 0.0);
        for (size_t k = 1; k + 1 < n; ++k) {
            if (delta[k - 1] * delta[k] <= 0.0)
                continue;
            const double w1 = 2.0 * h[k] + h[k - 1];
            const double w2 = h[k] + 2.0 * h[k - 1];
            m_slope[k] = (w1 + w2) / (w1 / delta[k - 1] + w2 / delta[k]);
        }
        m_slope[0] = EndSlope(h[0], h[1], delta[0], delta[1]);
        m_slope[n - 1] = EndSlope(h[n - 2], h[n - 3], delta[n - 2], delta[n - 3]);
    }

    double operator()(double x) const
    {
        size_t k = 0;
        while (k + 2 < m_x.size() && x > m_x[k + 1])
            ++k;
        const double h = m_x[k + 1] - m_x[k];
        const double t = (x - m_x[k]) / h;
        const double t2 = t * t, t3 = t2 * t;
        return (2 * t3 - 3 * t2 + 1) * m_y[k] + (t3 - 2 * t2 + t) * h * m_slope[k] +
               (-2 * t3 + 3 * t2) * m_y[k + 1] + (t3 - t2) * h * m_slope[k + 1];
    }

private:
    static double EndSlope(double h0, double h1, double d0, double d1)
    {
        double d = ((2.0 * h0 + h1) * d0 - h0 * d1) / (h0 + h1);
        if (d * d0 <= 0.0)
            return 0.0;
        if (d0 * d1 < 0.0 && std::fabs(d) > 3.0 * std::fabs(d0))
            d = 3.0 * d0;
        return d;
    }

    std::vector<double> m_x, m_y, m_slope;
};

// Relative ripple depth: a few tenths of a percent where the curves saturate, a few percent
// down in the noise floor of the measurement.
double RippleDepth(double dLevelDb)
{
    const double kTopDepth = 0.004;
    const double kFloorDepth = 0.03;
    double t = (-60.0 - dLevelDb) / 40.0;
    t = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
    return kTopDepth + (kFloorDepth - kTopDepth) * t;
}

// Three incommensurate periods (in dB) with phases that differ from half to half.
double Ripple(double dLevelDb, int iSeed)
{
    const double kPeriods[3] = {4.3, 1.7, 0.77};
    const double kWeights[3] = {0.5, 0.3, 0.2};
    double r = 0.0;
    for (int m = 0; m < 3; ++m)
        r += kWeights[m] * std::sin(2.0 * M_PI * dLevelDb / kPeriods[m] + 1.37 * iSeed * (m + 1) + 0.5 * m);
    return r;
}

bool IsPeak(const std::vector<Anchor>& a, size_t k)
{
    return k > 0 && k + 1 < a.size() && a[k].dValue > a[k - 1].dValue && a[k].dValue > a[k + 1].dValue;
}

// Fades the ripple to 0 at both anchors of a segment (t in [0, 1]). Beside a peak it runs only
// in the half away from the peak, at reduced depth, so the peak stays the highest entry.
double Taper(double t, bool bPeakLeft, bool bPeakRight)
{
    const double kPeakSideDepth = 0.5;
    if (bPeakLeft && bPeakRight)
        return 0.0;
    if (bPeakLeft)
        return t < 0.5 ? 0.0 : kPeakSideDepth * std::pow(std::sin(M_PI * (2.0 * t - 1.0)), 2);
    if (bPeakRight)
        return t > 0.5 ? 0.0 : kPeakSideDepth * std::pow(std::sin(2.0 * M_PI * t), 2);
    return std::pow(std::sin(M_PI * t), 2);
}

std::vector<float> Build(const Half& half)
{
    const std::vector<Anchor>& a = half.anchors;
    std::vector<double> x, y;
    for (const Anchor& anchor : a) {
        x.push_back(anchor.dLevelDb);
        y.push_back(std::log(anchor.dValue));
    }
    const MonotoneCubic curve(x, y);

    const int n = half.iSteps;
    const double dEntriesPerDb = n / kRangeDb;
    std::vector<float> table(static_cast<size_t>(n) + 1, 0.0f);
    for (int i = 0; i <= n; ++i) {
        const double level = -kRangeDb + i / dEntriesPerDb;
        if (level < half.dSilentBelowDb - 0.5 / dEntriesPerDb)
            continue;
        size_t k = 0;
        while (k + 2 < a.size() && level > a[k + 1].dLevelDb)
            ++k;
        const double t = (level - a[k].dLevelDb) / (a[k + 1].dLevelDb - a[k].dLevelDb);
        const double ripple =
            RippleDepth(level) * Taper(t, IsPeak(a, k), IsPeak(a, k + 1)) * Ripple(level, half.iRippleSeed);
        table[static_cast<size_t>(i)] = static_cast<float>(std::exp(curve(level) + ripple));
    }
    // Measured points carry their value exactly.
    for (const Anchor& anchor : a) {
        const double dIndex = (anchor.dLevelDb + kRangeDb) * dEntriesPerDb;
        const long lIndex = std::lround(dIndex);
        if (std::fabs(dIndex - lIndex) > 1e-9) {
            std::fprintf(stderr, "%s: level %g dB is not on the table's grid\n", half.szName, anchor.dLevelDb);
            std::exit(1);
        }
        table[static_cast<size_t>(lIndex)] = static_cast<float>(anchor.dValue);
    }
    return table;
}

void Describe(const Half& half, const std::vector<float>& t)
{
    const int n = half.iSteps;
    const double dEntriesPerDb = n / kRangeDb;
    int iMax = 0, iNinety = -1, iDecreases = 0;
    for (int i = 0; i <= n; ++i) {
        if (t[i] > t[iMax])
            iMax = i;
        if (iNinety < 0 && t[i] >= 0.9f * t[n])
            iNinety = i;
        if (i > 0 && t[i] < t[i - 1])
            ++iDecreases;
    }
    std::printf("%-22s last %.4g  max %.4g at %.2f dB  90%% at %.2f dB  %d decreasing steps\n", half.szName,
                t[n], t[iMax], iMax / dEntriesPerDb - kRangeDb, iNinety / dEntriesPerDb - kRangeDb, iDecreases);
}

std::string Literal(float f)
{
    char sz[48];
    std::snprintf(sz, sizeof sz, "%.9g", f);
    std::string s(sz);
    if (s.find_first_of(".e") == std::string::npos)
        s += ".0";
    return s + "f";
}

void Write(std::FILE* file, const Half& half, const std::vector<float>& t)
{
    std::fprintf(file, "\nconst float %s[%s + 1] = {\n", half.szName, half.szStepsName);
    const size_t kPerLine = 8;
    for (size_t i = 0; i < t.size(); i += kPerLine) {
        std::fputs("   ", file);
        for (size_t j = i; j < i + kPerLine && j < t.size(); ++j)
            std::fprintf(file, " %s,", Literal(t[j]).c_str());
        std::fputc('\n', file);
    }
    std::fputs("};\n", file);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.cpp>\n", argv[0]);
        return 2;
    }
    const std::vector<Half> halves = MeasuredHalves();
    std::vector<std::vector<float>> tables;
    for (const Half& half : halves) {
        tables.push_back(Build(half));
        Describe(half, tables.back());
    }

    const std::string path = argv[1];
    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "w");
    if (!file) {
        std::perror(temporary.c_str());
        return 1;
    }
    std::fputs("// Generated by corvex-shaper-tables (tools/shaper-tables); rebuild with the\n"
               "// regenerate-shaper-tables target instead of editing.\n\n"
               "#include \"distortion/ShaperTables.h\"\n\n"
               "namespace corvex {\n",
               file);
    for (size_t k = 0; k < halves.size(); ++k)
        Write(file, halves[k], tables[k]);
    std::fputs("\n} // namespace corvex\n", file);
    if (std::fclose(file) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::perror(path.c_str());
        return 1;
    }
    return 0;
}
