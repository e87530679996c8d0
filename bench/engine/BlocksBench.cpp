#include <benchmark/benchmark.h>

#include <vector>

#include "BenchSupport.h"
#include "EngineTestSupport.h"
#include "dynamics/MyComp.h"
#include "equaliser/MyEqu.h"
#include "input/ComputeInputVumeter.h"
#include "input/EffectSourceSelector.h"
#include "input/GainDEntree.h"
#include "meters/ComputeOutputVumeters.h"

namespace corvex::bench {
namespace {

// A block at the default parameters on the guitar-like signal scaled by fGain.
template <class Block>
void RunBlock(benchmark::State& state, BlockCall call = BlockCall::kProcess, float fGain = 1.0f)
{
    test::BlockHost host;
    Block block;
    host.Attach(block);
    auto input = GuitarLikeSignal(kSignalSamples);
    for (auto& x : input)
        x *= fGain;
    RunBlockBench(state, block, input, call);
}

void BM_SourceSelector(benchmark::State& state) { RunBlock<CEffectSourceSelector>(state); }
void BM_InputGain(benchmark::State& state) { RunBlock<CGainDEntree>(state); }
void BM_InputMeter(benchmark::State& state) { RunBlock<CComputeInputVumeter>(state, BlockCall::kMeasureOnly); }
void BM_GateCompressor(benchmark::State& state) { RunBlock<CMyComp>(state); }
// The limiter sees the reverb's output: mostly in its curved range.
void BM_Limiter(benchmark::State& state) { RunBlock<CMyComp>(state, BlockCall::kProcessLimiter, 0.6f); }
void BM_Equaliser(benchmark::State& state) { RunBlock<CMyEqu>(state); }
void BM_OutputMeters(benchmark::State& state) { RunBlock<CComputeOutputVumeters>(state, BlockCall::kMeasureOnly); }

BENCHMARK(BM_SourceSelector);
BENCHMARK(BM_InputGain);
BENCHMARK(BM_InputMeter);
BENCHMARK(BM_GateCompressor);
BENCHMARK(BM_Limiter);
BENCHMARK(BM_Equaliser);
BENCHMARK(BM_OutputMeters);

} // namespace
} // namespace corvex::bench
