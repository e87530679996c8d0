#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/DenormalGuard.h"

namespace corvex::bench {

constexpr double kBenchRate = 44100.0;
constexpr int kBenchBlock = 512;
// Long enough that every slice a benchmark takes sees fresh signal, short enough to build quickly.
constexpr int kSignalSamples = 2 * static_cast<int>(kBenchRate);

// Decaying plucks of two slightly detuned octaves every half second at 44.1 kHz: level and
// spectrum move the way a played guitar does, so dynamics, drive and tails all have work to do.
std::vector<float> GuitarLikeSignal(int iSamples);

// Items processed, ns_per_sample (time per sample) and realtime_x (seconds of audio processed
// per second of processing).
void ReportPerSample(benchmark::State& state, int64_t iSamples, double dSampleRate = kBenchRate);

// Runs process(in, outL, outR, n) once an iteration over successive kBenchBlock-sample slices of
// input, wrapping at its end, with denormals flushed as the processor runs. Without bOutputs
// the outputs are null, as the processor hands them to blocks that only measure.
template <class ProcessSlice>
void RunSliceBench(benchmark::State& state, const std::vector<float>& input, ProcessSlice process,
                   bool bOutputs = true)
{
    std::vector<float> outL(kBenchBlock), outR(kBenchBlock);
    float* pL = bOutputs ? outL.data() : nullptr;
    float* pR = bOutputs ? outR.data() : nullptr;
    ScopedNoDenormals noDenormals;
    size_t pos = 0;
    int64_t samples = 0;
    for (auto _ : state) {
        if (pos + kBenchBlock > input.size())
            pos = 0;
        process(&input[pos], pL, pR, kBenchBlock);
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
        benchmark::ClobberMemory();
        pos += kBenchBlock;
        samples += kBenchBlock;
    }
    ReportPerSample(state, samples);
}

enum class BlockCall {
    kProcess,
    kProcessLimiter,
    kMeasureOnly, // Process with null outputs
};

// Runs an attached block on input fed to both channels, in kBenchBlock-sample slices.
template <class Block>
void RunBlockBench(benchmark::State& state, Block& block, const std::vector<float>& input,
                   BlockCall call = BlockCall::kProcess)
{
    RunSliceBench(
        state, input,
        [&block, call](const float* in, float* outL, float* outR, int n) {
            if (call == BlockCall::kProcessLimiter)
                block.ProcessLimiter(in, in, outL, outR, n);
            else
                block.Process(in, in, outL, outR, n);
        },
        call != BlockCall::kMeasureOnly);
}

} // namespace corvex::bench
