#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "EngineTestSupport.h"
#include "base/CpuFeatures.h"
#include "cabinet/CabinetImpulse.h"
#include "cabinet/MyConvolution.h"
#include "cabinet/RealFft.h"

namespace corvex::bench {
namespace {

// What the user impulse's budget is stated for: a 500 ms stereo response at 48 kHz, run in
// 256-sample host blocks.
constexpr double kRate = 48000.0;
constexpr int kBlock = 256;
constexpr double kResponseSeconds = 0.5;

std::vector<float> DecayingNoise(int n, unsigned uSeed)
{
    std::vector<float> h = test::Noise(n, uSeed, 0.5f);
    for (int i = 0; i < n; ++i)
        h[static_cast<size_t>(i)] *= static_cast<float>(std::exp(-i / (0.1 * kRate)));
    return h;
}

// The thread's CPU time in microseconds: unlike the wall clock, it leaves out the time other
// programs held the core.
double ThreadMicroseconds()
{
    timespec time{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) * 1e6 + static_cast<double>(time.tv_nsec) * 1e-3;
}

// Time per sample, core_percent (the share of one core the cabinet takes at kRate) and
// worst_block_us, the CPU time of the dearest block (where the longest partitions' work falls).
void RunCabinet(benchmark::State& state, CMyConvolution& cabinet)
{
    const std::vector<float> input = GuitarLikeSignal(static_cast<int>(kRate) * 2);
    std::vector<float> outL(kBlock), outR(kBlock);
    ScopedNoDenormals noDenormals;
    size_t pos = 0;
    int64_t samples = 0;
    double dWorst = 0.0;
    for (auto _ : state) {
        if (pos + kBlock > input.size())
            pos = 0;
        const double dStart = ThreadMicroseconds();
        cabinet.Process(&input[pos], &input[pos], outL.data(), outR.data(), kBlock);
        dWorst = std::max(dWorst, ThreadMicroseconds() - dStart);
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
        benchmark::ClobberMemory();
        pos += kBlock;
        samples += kBlock;
    }
    ReportPerSample(state, samples, kRate);
    state.counters["core_percent"] = benchmark::Counter(static_cast<double>(samples) / kRate / 100.0,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["worst_block_us"] = dWorst;
}

// The built-in cabinet at the same rate and blocks; state.range(0) is "Distortion ON OFF".
void BM_CabinetBuiltIn48k(benchmark::State& state)
{
    test::BlockHost host;
    host.dSampleRate = kRate;
    host[kDistortionOnOff] = static_cast<float>(state.range(0));
    CMyConvolution cabinet;
    host.Attach(cabinet);
    RunCabinet(state, cabinet);
}
BENCHMARK(BM_CabinetBuiltIn48k)->ArgName("distortion")->Arg(0)->Arg(1);

// A user response in place of the built-in one, after its crossfade; state.range(0) channels,
// state.range(1) the response's length in milliseconds.
void BM_CabinetUserImpulse(benchmark::State& state)
{
    test::BlockHost host;
    host.dSampleRate = kRate;
    CMyConvolution cabinet;
    host.Attach(cabinet);
    const int iFrames = static_cast<int>(static_cast<double>(state.range(1)) / 1000.0 * kRate);
    const std::vector<float> left = DecayingNoise(iFrames, 1), right = DecayingNoise(iFrames, 2);
    cabinet.ExchangeImpulse(
        CCabinetImpulse::Create(left.data(), state.range(0) == 2 ? right.data() : nullptr, iFrames, kRate).release());
    std::vector<float> silence(static_cast<size_t>(kRate), 0.0f), out(silence.size());
    cabinet.Process(silence.data(), silence.data(), out.data(), out.data(), static_cast<int>(silence.size()));
    if (!cabinet.Impulse() || cabinet.Fading()) {
        state.SkipWithError("the response did not install");
        return;
    }
    state.SetLabel(CRealFft::Backend());
    RunCabinet(state, cabinet);
}
constexpr int kResponseMs = static_cast<int>(kResponseSeconds * 1000.0);
// The longest response a user may load.
constexpr int kLongestMs = 10000;
BENCHMARK(BM_CabinetUserImpulse)
    ->ArgNames({"channels", "ms"})
    ->Args({1, kResponseMs})
    ->Args({2, kResponseMs})
    ->Args({2, kLongestMs});

// The same with the kernels held at the baseline instruction set.
void BM_CabinetUserImpulseBaselineKernels(benchmark::State& state)
{
    cpu::SetActive(cpu::Level::kBaseline);
    BM_CabinetUserImpulse(state);
    cpu::SetActive(cpu::Supported());
}
BENCHMARK(BM_CabinetUserImpulseBaselineKernels)->ArgNames({"channels", "ms"})->Args({2, kResponseMs});

// Making a user impulse ready (off the audio thread): state.range(0) milliseconds, stereo.
void BM_CabinetImpulseCreate(benchmark::State& state)
{
    const int iFrames = static_cast<int>(static_cast<double>(state.range(0)) / 1000.0 * kRate);
    const std::vector<float> left = DecayingNoise(iFrames, 1), right = DecayingNoise(iFrames, 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(CCabinetImpulse::Create(left.data(), right.data(), iFrames, kRate));
    state.SetLabel(CRealFft::Backend());
}
BENCHMARK(BM_CabinetImpulseCreate)->ArgName("ms")->Arg(1000)->Arg(kLongestMs)->Unit(benchmark::kMillisecond);

// One forward and one inverse transform of state.range(0) points (the partitions' sizes twice).
void BM_RealFft(benchmark::State& state)
{
    const int iSize = static_cast<int>(state.range(0));
    CRealFft fft(iSize);
    std::vector<float> time = test::Noise(iSize, 4), re(static_cast<size_t>(fft.Bins())), im(re.size());
    for (auto _ : state) {
        fft.Forward(time.data(), re.data(), im.data());
        fft.Inverse(re.data(), im.data(), time.data());
        for (float& f : time)
            f *= 1.0f / static_cast<float>(iSize);
        benchmark::DoNotOptimize(time.data());
    }
    state.SetLabel(CRealFft::Backend());
}
BENCHMARK(BM_RealFft)->Arg(128)->Arg(1024)->Arg(8192)->Arg(32768);

} // namespace
} // namespace corvex::bench
