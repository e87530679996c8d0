// What a preset change costs while it lasts: two seconds of a held note through the processor
// core at 48 kHz in 256-sample blocks, plainly and right after a change to another preset (the
// fade, then the outgoing chain's echoes and reverb ringing beside the new sound).

#include <benchmark/benchmark.h>

#include <vector>

#include "EngineTestSupport.h"
#include "FactoryPresets.h"
#include "ProcessorCore.h"

namespace corvex::bench {
namespace {

constexpr double kRate = 48000.0;
constexpr int kBlock = 256;
constexpr int kSeconds = 2;

void RunTwoSeconds(benchmark::State& state, bool change)
{
    CProcessorCore core;
    core.Prepare(kRate, kBlock);
    core.Activate();
    const std::vector<float> note = test::Sine(196.0, kRate, kBlock * 16, 0.3f);
    std::vector<float> outL(kBlock), outR(kBlock);
    const int blocks = static_cast<int>(kSeconds * kRate) / kBlock;
    int preset = 0;
    for (auto _ : state) {
        if (change) {
            preset = (preset + 1) % kFactoryPresetCount;
            core.ChangePreset(kFactoryPresets[preset].values.data());
        }
        for (int b = 0; b < blocks; ++b) {
            const float* in = note.data() + (b % 16) * kBlock;
            const float* inputs[2] = {in, in};
            float* outputs[2] = {outL.data(), outR.data()};
            std::uint64_t silence = 0;
            core.Run(inputs, 2, 0, outputs, 2, kBlock, silence);
        }
        benchmark::DoNotOptimize(outL.data());
    }
    state.counters["x real time"] =
        benchmark::Counter(kSeconds * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_HeldNote(benchmark::State& state) { RunTwoSeconds(state, false); }
void BM_HeldNoteAfterAPresetChange(benchmark::State& state) { RunTwoSeconds(state, true); }

BENCHMARK(BM_HeldNote)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeldNoteAfterAPresetChange)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace corvex::bench
