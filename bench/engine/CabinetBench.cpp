#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "base/Parameters.h"
#include "cabinet/MyConvolution.h"

namespace corvex {
namespace {

constexpr double kCabinetRate = 44100.0;
constexpr int kCabinetBlock = 512;

// Processing cost per sample at 44.1 kHz in 512-sample blocks; state.range(0) is the value of
// "Distortion ON OFF".
void BM_Cabinet(benchmark::State& state)
{
    float afValues[kParamTableSize] = {};
    float* afTable[kParamTableSize] = {};
    for (ParamID id = kFirstParam; id <= kLastParam; ++id) {
        afValues[id] = kParamInfos[id].defaultValue;
        afTable[id] = &afValues[id];
    }
    afValues[kDistortionOnOff] = static_cast<float>(state.range(0));
    double dRate = kCabinetRate;
    CMyConvolution block;
    block.SetSampleRate(&dRate);
    block.SetParamTable(afTable);
    block.Reset();

    std::vector<float> input(kCabinetBlock * 64);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<float>(0.5 * std::sin(0.0713 * static_cast<double>(i)) +
                                      0.2 * std::sin(0.311 * static_cast<double>(i)));
    std::vector<float> outL(kCabinetBlock), outR(kCabinetBlock);
    size_t pos = 0;
    int64_t samples = 0;
    for (auto _ : state) {
        if (pos + kCabinetBlock > input.size())
            pos = 0;
        block.Process(&input[pos], &input[pos], outL.data(), outR.data(), kCabinetBlock);
        benchmark::DoNotOptimize(outL.data());
        benchmark::ClobberMemory();
        pos += kCabinetBlock;
        samples += kCabinetBlock;
    }
    state.SetItemsProcessed(samples);
    state.counters["ns_per_sample"] = benchmark::Counter(
        static_cast<double>(samples) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["taps"] = block.Taps();
}
BENCHMARK(BM_Cabinet)->ArgName("distortion")->Arg(0)->Arg(1);

} // namespace
} // namespace corvex
