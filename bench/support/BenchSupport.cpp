#include "BenchSupport.h"

#include <cmath>

namespace corvex::bench {

std::vector<float> GuitarLikeSignal(int iSamples)
{
    constexpr double kPluckPeriod = 0.5;
    constexpr double kDecayPerSecond = 3.0;
    std::vector<float> x(static_cast<size_t>(iSamples));
    for (size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / kBenchRate;
        const double envelope = 0.3 * std::exp(-kDecayPerSecond * std::fmod(t, kPluckPeriod));
        x[i] = static_cast<float>(envelope * (std::sin(2 * M_PI * 110 * t) + 0.5 * std::sin(2 * M_PI * 220.7 * t)));
    }
    return x;
}

void ReportPerSample(benchmark::State& state, int64_t iSamples, double dSampleRate)
{
    const auto samples = static_cast<double>(iSamples);
    state.SetItemsProcessed(iSamples);
    state.counters["ns_per_sample"] =
        benchmark::Counter(samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["realtime_x"] = benchmark::Counter(samples / dSampleRate, benchmark::Counter::kIsRate);
}

} // namespace corvex::bench
