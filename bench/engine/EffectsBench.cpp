#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "base/DenormalGuard.h"
#include "delay/MyDelay.h"
#include "modulation/MyChorus.h"
#include "reverb/MyReverb.h"

namespace corvex {
namespace {

constexpr double kRate = 44100.0;
constexpr int kBlock = 512;

// Parameter floats at their defaults, the table over them, 44.1 kHz and 120 BPM.
struct Host {
    float afValues[kParamTableSize] = {};
    float* afTable[kParamTableSize] = {};
    double dRate = kRate;
    float fTempo = 120.0f;

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
        block.SetTempo(&fTempo);
        block.SetParamTable(afTable);
        block.Reset();
    }
};

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

// ns_per_sample counts stereo sample pairs: one left and one right output.
template <class Block>
void RunEffect(benchmark::State& state)
{
    Host host;
    auto pBlock = std::make_unique<Block>();
    host.Attach(*pBlock);
    const auto input = GuitarLikeSignal();
    std::vector<float> outL(kBlock), outR(kBlock);
    ScopedNoDenormals noDenormals;
    size_t pos = 0;
    for (auto _ : state) {
        if (pos + kBlock > input.size())
            pos = 0;
        pBlock->Process(&input[pos], &input[pos], outL.data(), outR.data(), kBlock);
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
        benchmark::ClobberMemory();
        pos += kBlock;
    }
    const auto samples = static_cast<double>(state.iterations()) * kBlock;
    state.SetItemsProcessed(static_cast<int64_t>(samples));
    state.counters["ns_per_sample"] =
        benchmark::Counter(samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Chorus(benchmark::State& state) { RunEffect<CMyChorus>(state); }
void BM_Delay(benchmark::State& state) { RunEffect<CMyDelay>(state); }
void BM_Reverb(benchmark::State& state) { RunEffect<CMyReverb>(state); }

BENCHMARK(BM_Chorus);
BENCHMARK(BM_Delay);
BENCHMARK(BM_Reverb);

} // namespace
} // namespace corvex
