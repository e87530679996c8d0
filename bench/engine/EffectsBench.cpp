#include <benchmark/benchmark.h>

#include <memory>

#include "BenchSupport.h"
#include "EngineTestSupport.h"
#include "delay/MyDelay.h"
#include "modulation/MyChorus.h"
#include "reverb/MyReverb.h"

namespace corvex::bench {
namespace {

// A tempo-aware effect at the default parameters, 120 BPM. ns_per_sample counts stereo sample
// pairs: one left and one right output.
template <class Block>
void RunEffect(benchmark::State& state)
{
    test::BlockHost host;
    auto pBlock = std::make_unique<Block>();
    host.Attach(*pBlock, true);
    RunBlockBench(state, *pBlock, GuitarLikeSignal(kSignalSamples));
}

void BM_Chorus(benchmark::State& state) { RunEffect<CMyChorus>(state); }
void BM_Delay(benchmark::State& state) { RunEffect<CMyDelay>(state); }
void BM_Reverb(benchmark::State& state) { RunEffect<CMyReverb>(state); }

BENCHMARK(BM_Chorus);
BENCHMARK(BM_Delay);
BENCHMARK(BM_Reverb);

} // namespace
} // namespace corvex::bench
