#include <benchmark/benchmark.h>

#include "BenchSupport.h"
#include "EngineTestSupport.h"
#include "distortion/MyDisto.h"

namespace corvex::bench {
namespace {

// The distortion at the default parameters with "Distortion ON OFF" at fOnOff; the plucks'
// decay sweeps the drive through the whole level range of its tables.
void Run(benchmark::State& state, float fOnOff)
{
    test::BlockHost host;
    CMyDisto disto;
    host.Attach(disto);
    host[kDistortionOnOff] = fOnOff;
    RunBlockBench(state, disto, GuitarLikeSignal(kSignalSamples));
}

void BM_Distortion(benchmark::State& state) { Run(state, 1.0f); }
void BM_DistortionBypassed(benchmark::State& state) { Run(state, 0.0f); }

BENCHMARK(BM_Distortion);
BENCHMARK(BM_DistortionBypassed);

} // namespace
} // namespace corvex::bench
