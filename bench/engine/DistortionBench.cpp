#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "base/DenormalGuard.h"
#include "distortion/MyDisto.h"

namespace corvex {
namespace {

constexpr double kRate = 44100.0;
constexpr int kBlock = 512;

// The distortion with the processor's default parameters at 44.1 kHz.
struct DistortionRig {
    float afValues[kParamTableSize] = {};
    float* afTable[kParamTableSize] = {};
    double dRate = kRate;
    CMyDisto disto;

    DistortionRig()
    {
        for (ParamID id = kFirstParam; id <= kLastParam; ++id) {
            afValues[id] = kParamInfos[id].defaultValue;
            afTable[id] = &afValues[id];
        }
        disto.SetSampleRate(&dRate);
        disto.SetParamTable(afTable);
        disto.Reset();
    }
};

// Decaying plucks at two pitches: the drive sweeps the whole level range of the tables.
std::vector<float> PluckedSignal(int n)
{
    std::vector<float> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double t = i / kRate;
        x[static_cast<size_t>(i)] = static_cast<float>(0.3 * std::exp(-3.0 * std::fmod(t, 0.5)) *
                                                     (std::sin(2 * M_PI * 110 * t) + 0.5 * std::sin(2 * M_PI * 220.7 * t)));
    }
    return x;
}

void Run(benchmark::State& state, float fOnOff)
{
    DistortionRig rig;
    rig.afValues[kDistortionOnOff] = fOnOff;
    const std::vector<float> input = PluckedSignal(static_cast<int>(kRate) * 2);
    std::vector<float> outL(kBlock), outR(kBlock);
    ScopedNoDenormals noDenormals;
    size_t pos = 0;
    int64_t samples = 0;
    for (auto _ : state) {
        if (pos + kBlock > input.size())
            pos = 0;
        rig.disto.Process(&input[pos], &input[pos], outL.data(), outR.data(), kBlock);
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
        pos += kBlock;
        samples += kBlock;
    }
    state.SetItemsProcessed(samples);
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(samples) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Distortion(benchmark::State& state)
{
    Run(state, 1.0f);
}
BENCHMARK(BM_Distortion);

void BM_DistortionBypassed(benchmark::State& state)
{
    Run(state, 0.0f);
}
BENCHMARK(BM_DistortionBypassed);

} // namespace
} // namespace corvex
