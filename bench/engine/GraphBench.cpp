#include <benchmark/benchmark.h>

#include <vector>

#include "BenchSupport.h"
#include "TestEngine.h"

namespace corvex::bench {
namespace {

void BM_WholeChain(benchmark::State& state)
{
    test::TestEngine engine;
    RunSliceBench(state, GuitarLikeSignal(kSignalSamples),
                  [&engine](const float* in, float* outL, float* outR, int n) {
                      engine.graph.Process(in, in, outL, outR, n);
                  });
}
BENCHMARK(BM_WholeChain);

// A loud burst, then ten seconds of silence: the reverb, delay and filter states decay through
// the subnormal range, which must cost no more than normal signal.
void BM_WholeChainDecayingToSilence(benchmark::State& state)
{
    const int kSilenceBlocks = static_cast<int>(10.0 * kBenchRate / kBenchBlock);
    auto loud = GuitarLikeSignal(kBenchBlock);
    for (auto& x : loud)
        x *= 3.0f;
    std::vector<float> silence(kBenchBlock, 0.0f), outL(kBenchBlock), outR(kBenchBlock);
    int64_t samples = 0;
    for (auto _ : state) {
        state.PauseTiming();
        test::TestEngine engine;
        engine.graph.Process(loud.data(), loud.data(), outL.data(), outR.data(), kBenchBlock);
        state.ResumeTiming();
        for (int b = 0; b < kSilenceBlocks; ++b)
            engine.graph.Process(silence.data(), silence.data(), outL.data(), outR.data(), kBenchBlock);
        benchmark::DoNotOptimize(outL.data());
        samples += static_cast<int64_t>(kSilenceBlocks) * kBenchBlock;
    }
    ReportPerSample(state, samples);
}
BENCHMARK(BM_WholeChainDecayingToSilence)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
} // namespace corvex::bench
