#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "graph/ProcessAudio.h"

namespace corvex {
namespace {

constexpr double kRate = 44100.0;
constexpr int kBlock = 512;

// A processor's worth of state around a graph: defaults, 44.1 kHz, 120 BPM.
struct Engine {
    float afValues[kParamTableSize] = {};
    double dRate = kRate;
    float fTempo = 120.0f;
    CProcessAudio graph;

    Engine()
    {
        for (ParamID id = kFirstParam; id <= kLastParam; ++id)
            afValues[id] = kParamInfos[id].defaultValue;
        graph.SetBlockSize(1024);
        graph.SetSampleRate(&dRate);
        graph.SetBufferCount(24);
        graph.SetParamCount(kParamTableSize);
        graph.SetTempo(&fTempo);
        graph.Init();
        for (ParamID id = kFirstParam; id <= kLastParam; ++id)
            graph.SetParamPointer(id, &afValues[id]);
        graph.Reset();
    }
};

std::vector<float> GuitarLikeSignal(int n)
{
    std::vector<float> x(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const double t = i / kRate;
        x[static_cast<size_t>(i)] = static_cast<float>(0.3 * std::exp(-3.0 * std::fmod(t, 0.5)) *
                                                     (std::sin(2 * M_PI * 110 * t) + 0.5 * std::sin(2 * M_PI * 220.7 * t)));
    }
    return x;
}

void ReportRealTime(benchmark::State& state, int64_t samples)
{
    state.SetItemsProcessed(samples);
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(samples) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["realtime_x"] =
        benchmark::Counter(static_cast<double>(samples) / kRate, benchmark::Counter::kIsRate);
}

void BM_WholeChain(benchmark::State& state)
{
    Engine engine;
    const auto input = GuitarLikeSignal(static_cast<int>(kRate) * 2);
    std::vector<float> outL(kBlock), outR(kBlock);
    size_t pos = 0;
    int64_t samples = 0;
    for (auto _ : state) {
        if (pos + kBlock > input.size())
            pos = 0;
        engine.graph.Process(&input[pos], &input[pos], outL.data(), outR.data(), kBlock);
        benchmark::DoNotOptimize(outL.data());
        pos += kBlock;
        samples += kBlock;
    }
    ReportRealTime(state, samples);
}
BENCHMARK(BM_WholeChain);

// A loud burst, then ten seconds of silence: the reverb, delay and filter states decay through
// the subnormal range, which must cost no more than normal signal.
void BM_WholeChainDecayingToSilence(benchmark::State& state)
{
    const int kSilenceBlocks = static_cast<int>(10.0 * kRate / kBlock);
    const auto burst = GuitarLikeSignal(kBlock);
    std::vector<float> loud(kBlock), silence(kBlock, 0.0f), outL(kBlock), outR(kBlock);
    for (int i = 0; i < kBlock; ++i)
        loud[static_cast<size_t>(i)] = 3.0f * burst[static_cast<size_t>(i)];
    int64_t samples = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Engine engine;
        engine.graph.Process(loud.data(), loud.data(), outL.data(), outR.data(), kBlock);
        state.ResumeTiming();
        for (int b = 0; b < kSilenceBlocks; ++b)
            engine.graph.Process(silence.data(), silence.data(), outL.data(), outR.data(), kBlock);
        benchmark::DoNotOptimize(outL.data());
        samples += static_cast<int64_t>(kSilenceBlocks) * kBlock;
    }
    ReportRealTime(state, samples);
}
BENCHMARK(BM_WholeChainDecayingToSilence)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
} // namespace corvex
