#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "base/DenormalGuard.h"
#include "dynamics/MyComp.h"
#include "equaliser/MyEqu.h"
#include "input/ComputeInputVumeter.h"
#include "input/EffectSourceSelector.h"
#include "input/GainDEntree.h"
#include "meters/ComputeOutputVumeters.h"

namespace corvex {
namespace {

constexpr double kRate = 44100.0;
constexpr int kBlock = 512;

// Parameter floats at their defaults and the table over them, as the processor holds them.
struct Host {
    float afValues[kParamTableSize] = {};
    float* afTable[kParamTableSize] = {};
    double dRate = kRate;

    Host()
    {
        for (ParamID id = kFirstParam; id <= kLastParam; ++id) {
            afValues[id] = kParamInfos[id].defaultValue;
            afTable[id] = &afValues[id];
        }
    }
    void Attach(CMyEffect& block)
    {
        block.SetSampleRate(&dRate);
        block.SetParamTable(afTable);
        block.Reset();
    }
};

// Two seconds of a decaying two-note figure, loud enough to cross the compressor's threshold.
std::vector<float> GuitarLikeSignal()
{
    std::vector<float> x(static_cast<size_t>(kRate) * 2);
    for (size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        x[i] = static_cast<float>(0.3 * std::exp(-3.0 * std::fmod(t, 0.5)) *
                                  (std::sin(2 * M_PI * 110 * t) + 0.5 * std::sin(2 * M_PI * 220.7 * t)));
    }
    return x;
}

void ReportPerSample(benchmark::State& state)
{
    const auto samples = static_cast<double>(state.iterations()) * kBlock;
    state.SetItemsProcessed(static_cast<int64_t>(samples));
    state.counters["ns_per_sample"] =
        benchmark::Counter(samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Runs a block over 512-sample blocks of the signal; bLimiter selects ProcessLimiter.
template <class Block>
void RunBlock(benchmark::State& state, bool bLimiter = false, bool bMeasureOnly = false, float fGain = 1.0f)
{
    Host host;
    Block block;
    host.Attach(block);
    auto input = GuitarLikeSignal();
    for (auto& x : input)
        x *= fGain;
    std::vector<float> outL(kBlock), outR(kBlock);
    float* pL = bMeasureOnly ? nullptr : outL.data();
    float* pR = bMeasureOnly ? nullptr : outR.data();
    ScopedNoDenormals noDenormals;
    size_t pos = 0;
    for (auto _ : state) {
        if (pos + kBlock > input.size())
            pos = 0;
        const float* in = &input[pos];
        if (bLimiter)
            block.ProcessLimiter(in, in, pL, pR, kBlock);
        else
            block.Process(in, in, pL, pR, kBlock);
        benchmark::DoNotOptimize(outL.data());
        benchmark::ClobberMemory();
        pos += kBlock;
    }
    ReportPerSample(state);
}

void BM_SourceSelector(benchmark::State& state) { RunBlock<CEffectSourceSelector>(state); }
void BM_InputGain(benchmark::State& state) { RunBlock<CGainDEntree>(state); }
void BM_InputMeter(benchmark::State& state) { RunBlock<CComputeInputVumeter>(state, false, true); }
void BM_GateCompressor(benchmark::State& state) { RunBlock<CMyComp>(state); }
// The limiter sees the reverb's output: mostly in its curved range.
void BM_Limiter(benchmark::State& state) { RunBlock<CMyComp>(state, true, false, 0.6f); }
void BM_Equaliser(benchmark::State& state) { RunBlock<CMyEqu>(state); }
void BM_OutputMeters(benchmark::State& state) { RunBlock<CComputeOutputVumeters>(state, false, true); }

BENCHMARK(BM_SourceSelector);
BENCHMARK(BM_InputGain);
BENCHMARK(BM_InputMeter);
BENCHMARK(BM_GateCompressor);
BENCHMARK(BM_Limiter);
BENCHMARK(BM_Equaliser);
BENCHMARK(BM_OutputMeters);

} // namespace
} // namespace corvex
