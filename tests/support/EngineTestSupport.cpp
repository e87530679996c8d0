#include "EngineTestSupport.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <random>

namespace corvex::test {

BlockHost::BlockHost()
{
    for (ParamID id = 0; id < static_cast<ParamID>(kParamTableSize); ++id) {
        afValues[id] = kParamInfos[id].defaultValue;
        afTable[id] = IsParameter(id) ? &afValues[id] : nullptr;
    }
}

void BlockHost::Attach(CMyEffect& block, bool bWithTempo)
{
    block.SetSampleRate(&dSampleRate);
    if (bWithTempo)
        block.SetTempo(&fTempo);
    block.SetParamTable(afTable);
    block.Reset();
}

namespace {
std::mutex g_mutex;
std::vector<std::string> g_expressions;

void Record(const char* expression, const char*, int)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_expressions.emplace_back(expression);
}
} // namespace

CheckRecorder::CheckRecorder() : m_previous(SetCheckHandler(&Record)) { Clear(); }
CheckRecorder::~CheckRecorder() { SetCheckHandler(m_previous); }

int CheckRecorder::Count() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<int>(g_expressions.size());
}

bool CheckRecorder::Saw(const std::string& expression) const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return std::find(g_expressions.begin(), g_expressions.end(), expression) != g_expressions.end();
}

const std::vector<std::string>& CheckRecorder::Expressions() const { return g_expressions; }

void CheckRecorder::Clear()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_expressions.clear();
}

std::vector<float> Sine(double dFrequency, double dSampleRate, int n, float fAmplitude)
{
    std::vector<float> out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        out[static_cast<size_t>(i)] = fAmplitude * static_cast<float>(std::sin(2.0 * M_PI * dFrequency * i / dSampleRate));
    return out;
}

std::vector<float> Impulse(int n, int iAt, float fValue)
{
    std::vector<float> out(static_cast<size_t>(n), 0.0f);
    if (iAt >= 0 && iAt < n)
        out[static_cast<size_t>(iAt)] = fValue;
    return out;
}

std::vector<float> Noise(int n, unsigned uSeed, float fAmplitude)
{
    std::mt19937 rng(uSeed);
    std::uniform_real_distribution<float> dist(-fAmplitude, fAmplitude);
    std::vector<float> out(static_cast<size_t>(n));
    for (auto& x : out)
        x = dist(rng);
    return out;
}

std::vector<float> PluckedString(double dF0, double dStiffness, double dSampleRate, double dSeconds,
                                 double dPluck, double dNoiseDb, unsigned uSeed)
{
    constexpr double kPluckPosition = 0.13;  // of the string's length from the bridge
    constexpr double kFundamentalDecay = 1.5; // seconds to 1/e, shorter for each partial up
    std::mt19937 rng(uSeed);
    std::uniform_real_distribution<double> phase(0.0, 2.0 * M_PI);
    std::vector<double> string(static_cast<size_t>(dSeconds * dSampleRate), 0.0);
    const size_t start = static_cast<size_t>(dPluck * dSampleRate);
    for (int k = 1; k * dF0 * std::sqrt(1.0 + dStiffness * k * k) < std::min(6000.0, 0.45 * dSampleRate); ++k) {
        const double turn = 2.0 * M_PI * k * dF0 * std::sqrt(1.0 + dStiffness * k * k) / dSampleRate;
        const double decay = (1.0 + 0.25 * (k - 1)) / (kFundamentalDecay * dSampleRate), offset = phase(rng);
        for (size_t i = start; i < string.size(); ++i)
            string[i] += std::fabs(std::sin(M_PI * k * kPluckPosition)) / k * std::exp(-decay * (i - start)) *
                         std::sin(turn * (i - start) + offset);
    }
    // Peaks at 0.3; uniform noise of RMS width / sqrt(3).
    const size_t second = std::min(string.size(), start + static_cast<size_t>(dSampleRate));
    double peak = 0.0, power = 0.0;
    for (size_t i = start; i < second; ++i) {
        peak = std::max(peak, std::fabs(string[i]));
        power += string[i] * string[i] / static_cast<double>(second - start);
    }
    const double gain = peak > 0.0 ? 0.3 / peak : 0.0;
    std::uniform_real_distribution<double> white(-1.0, 1.0);
    const double noise = dNoiseDb < 0.0 ? gain * std::sqrt(3.0 * power) * std::pow(10.0, dNoiseDb / 20.0) : 0.0;
    std::vector<float> out(string.size());
    for (size_t i = 0; i < string.size(); ++i)
        out[i] = static_cast<float>(gain * string[i] + (noise > 0.0 ? noise * white(rng) : 0.0));
    return out;
}

double ToneLevelDb(const std::vector<float>& signal, double dFrequency, double dSampleRate)
{
    double re = 0.0, im = 0.0;
    for (size_t i = 0; i < signal.size(); ++i) {
        const double phase = 2.0 * M_PI * dFrequency * static_cast<double>(i) / dSampleRate;
        re += signal[i] * std::cos(phase);
        im += signal[i] * std::sin(phase);
    }
    const double amplitude = 2.0 * std::sqrt(re * re + im * im) / static_cast<double>(signal.size());
    return 20.0 * std::log10(std::max(amplitude, 1e-30));
}

float PeakAbs(const std::vector<float>& signal)
{
    float peak = 0.0f;
    for (float x : signal)
        peak = std::max(peak, std::fabs(x));
    return peak;
}

bool AllFinite(const std::vector<float>& signal)
{
    return std::all_of(signal.begin(), signal.end(), [](float x) { return std::isfinite(x); });
}

} // namespace corvex::test
