#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "BenchSupport.h"
#include "EngineTestSupport.h"
#include "base/CpuFeatures.h"
#include "cabinet/MyConvolution.h"

namespace corvex::bench {
namespace {

// The convolution costs the same whatever it is fed: a steady two-tone mix keeps the signal
// well clear of denormals.
std::vector<float> TwoToneSignal()
{
    std::vector<float> input(kBenchBlock * 64);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<float>(0.5 * std::sin(0.0713 * static_cast<double>(i)) +
                                      0.2 * std::sin(0.311 * static_cast<double>(i)));
    return input;
}

// Processing cost per sample at 44.1 kHz in 512-sample blocks; state.range(0) is the value of
// "Distortion ON OFF", which selects the impulse response.
void BM_Cabinet(benchmark::State& state)
{
    test::BlockHost host;
    host[kDistortionOnOff] = static_cast<float>(state.range(0));
    CMyConvolution block;
    host.Attach(block);
    RunBlockBench(state, block, TwoToneSignal());
    state.counters["taps"] = block.Taps();
}
BENCHMARK(BM_Cabinet)->ArgName("distortion")->Arg(0)->Arg(1);

// The same with the kernels held at the baseline instruction set (what processors without AVX2
// run), to show what the AVX2 versions gain.
void BM_CabinetBaselineKernels(benchmark::State& state)
{
    cpu::SetActive(cpu::Level::kBaseline);
    BM_Cabinet(state);
    cpu::SetActive(cpu::Supported());
}
BENCHMARK(BM_CabinetBaselineKernels)->ArgName("distortion")->Arg(0);

} // namespace
} // namespace corvex::bench
