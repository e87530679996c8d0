#include <benchmark/benchmark.h>

#include <vector>

#include "EngineTestSupport.h"
#include "TunerAnalyser.h"

namespace {

using corvex::CSampleRing;
using corvex::CTunerAnalyser;
using corvex::TunerReading;

constexpr double kRate = 48000.0;
constexpr int kBlock = 128; // the audio thread's writes
constexpr double kSeconds = 2.0;

std::vector<float> Signal(int iKind)
{
    const int n = static_cast<int>(kSeconds * kRate);
    switch (iKind) {
    case 0: return corvex::test::PluckedString(30.868, 8e-5, kRate, kSeconds, 0.0); // the longest windows
    case 1: return corvex::test::PluckedString(82.407, 1e-4, kRate, kSeconds, 0.0, -30.0);
    case 2: return corvex::test::PluckedString(1318.51, 4e-5, kRate, kSeconds, 0.0);
    case 3: return corvex::test::Noise(n, 3, 0.1f);
    default: return std::vector<float>(static_cast<size_t>(n), 0.0f);
    }
}

// The tuner while it is shown, at 48 kHz: the audio thread's copies into the ring and the
// analysis draining it, one 50 ms hop an iteration. core_percent is the share of one core.
void BM_TunerAnalyser48k(benchmark::State& state)
{
    const std::vector<float> signal = Signal(static_cast<int>(state.range(0)));
    CSampleRing ring(static_cast<int>(CTunerAnalyser::kRingSeconds * kRate));
    CTunerAnalyser analyser(kRate);
    const int iHop = static_cast<int>(CTunerAnalyser::kHopSeconds * kRate);
    size_t pos = 0;
    int pitched = 0, readings = 0;
    for (auto _ : state) {
        for (int i = 0; i < iHop; i += kBlock) {
            if (pos + kBlock > signal.size())
                pos = 0;
            ring.Write(&signal[pos], kBlock);
            pos += kBlock;
        }
        analyser.Drain(ring, [&](const TunerReading& r) {
            pitched += r.pitch.bPitched;
            ++readings;
        });
    }
    state.counters["core_percent"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * CTunerAnalyser::kHopSeconds / 100.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["pitched_share"] = readings ? static_cast<double>(pitched) / readings : 0.0;
}

// 0: bass low B, 1: guitar low E in noise, 2: 24th fret of high E, 3: white noise, 4: silence.
BENCHMARK(BM_TunerAnalyser48k)->DenseRange(0, 4);

// What the audio thread spends at most: one block copied into the ring, and out again (the
// consumer's read, which pausing the timer would cost far more than).
void BM_TunerRingWriteRead(benchmark::State& state)
{
    CSampleRing ring(static_cast<int>(CTunerAnalyser::kRingSeconds * kRate));
    const std::vector<float> block(kBlock, 0.25f);
    std::vector<float> out(kBlock);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ring.Write(block.data(), kBlock));
        benchmark::DoNotOptimize(ring.Read(out.data(), kBlock));
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_sample"] = benchmark::Counter(static_cast<double>(state.iterations()) * kBlock * 1e-9,
                                                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TunerRingWriteRead);

} // namespace
