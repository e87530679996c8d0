// process() through the loaded module: real-time factor per block size, the cost of an
// activation, and the resident memory one instance costs.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "PluginInstance.h"
#include "PluginModule.h"
#include "ProcessBlock.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr double kRate = 44100.0;

corvex::hosting::PluginModule& Module()
{
    static std::unique_ptr<corvex::hosting::PluginModule> module = [] {
        std::string error;
        auto loaded = corvex::hosting::PluginModule::Load(CORVEX_BUNDLE_PATH, error);
        if (!loaded) {
            std::fprintf(stderr, "cannot load %s: %s\n", CORVEX_BUNDLE_PATH, error.c_str());
            std::abort();
        }
        return loaded;
    }();
    return *module;
}

FUnknown* Host()
{
    static HostApplication* host = new HostApplication();
    return host;
}

std::unique_ptr<corvex::hosting::PluginInstance> NewInstance(int32 block, double rate = kRate)
{
    std::string error;
    auto instance = corvex::hosting::PluginInstance::Create(Module().Factory(), Host(), error);
    if (!instance || instance->Setup(rate, block) != kResultOk || instance->Activate(true) != kResultOk)
        std::abort();
    return instance;
}

// A guitar-like input: a decaying plucked tone repeated, on the left channel.
void FillInput(corvex::hosting::ProcessBlock& block, int32 n, std::int64_t start)
{
    for (int32 i = 0; i < n; ++i) {
        const double t = static_cast<double>(start + i) / kRate;
        const double local = std::fmod(t, 0.5);
        block.In(0)[i] = static_cast<float>(0.4 * std::exp(-6.0 * local) * std::sin(2.0 * M_PI * 110.0 * t));
        block.In(1)[i] = 0.0f;
    }
}

void BM_ProcessRealTimeFactor(benchmark::State& state)
{
    const int32 block = static_cast<int32>(state.range(0));
    auto instance = NewInstance(block);
    corvex::hosting::ProcessBlock data(2, 2, block);
    std::int64_t position = 0;
    for (auto _ : state) {
        state.PauseTiming();
        FillInput(data, block, position);
        data.inputBus.silenceFlags = 0;
        position += block;
        state.ResumeTiming();
        benchmark::DoNotOptimize(instance->Processor()->process(data.Prepare(block)));
    }
    const double audioSeconds = static_cast<double>(state.iterations()) * block / kRate;
    // Seconds of audio per second of processing; above 1 is faster than real time.
    state.counters["realtime_x"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.SetItemsProcessed(state.iterations() * block);
}
BENCHMARK(BM_ProcessRealTimeFactor)->Arg(64)->Arg(512)->Arg(4096)->Unit(benchmark::kMicrosecond);

// The cost per sample against the block size, over the same stretch of audio (1,408 blocks of
// 32 samples, 44 of 1,024) with nothing but process() in the loop: live players run 32-128
// sample periods, and a fixed cost per block shows here. With a fixed iteration count the run
// is repeatable under `valgrind --tool=callgrind`, which counts instructions instead of time.
void BM_ProcessCostPerSample(benchmark::State& state)
{
    constexpr int32 kStretch = 45056;
    const int32 block = static_cast<int32>(state.range(0));
    auto instance = NewInstance(block);
    corvex::hosting::ProcessBlock whole(2, 2, kStretch);
    FillInput(whole, kStretch, 0);
    corvex::hosting::ProcessBlock data(2, 2, block);
    for (auto _ : state) {
        for (int32 at = 0; at + block <= kStretch; at += block) {
            ProcessData& process = data.Prepare(block);
            data.inputBus.channelBuffers32[0] = whole.In(0) + at;
            data.inputBus.channelBuffers32[1] = whole.In(1) + at;
            data.inputBus.silenceFlags = 0;
            benchmark::DoNotOptimize(instance->Processor()->process(process));
        }
    }
    const auto samples = static_cast<double>(state.iterations()) * kStretch;
    state.counters["ns_per_sample"] =
        benchmark::Counter(samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(static_cast<std::int64_t>(samples));
}
BENCHMARK(BM_ProcessCostPerSample)->Arg(16)->Arg(32)->Arg(64)->Arg(128)->Arg(1024)->Unit(benchmark::kMillisecond);

// The measured call, apart so that `valgrind --tool=callgrind --toggle-collect='*MeasuredActivation*'`
// counts its instructions alone.
__attribute__((noinline)) tresult MeasuredActivation(IComponent* component)
{
    return component->setActive(true);
}

// setActive(true) as a host calls it, at the rate given in the first argument: on a new
// instance just set up (second argument 0), or after a second of audio and setActive(false)
// (1).
void BM_SetActive(benchmark::State& state)
{
    constexpr int32 kBlock = 512;
    const double rate = static_cast<double>(state.range(0));
    const bool bPlayFirst = state.range(1) != 0;
    corvex::hosting::ProcessBlock data(2, 2, kBlock);
    FillInput(data, kBlock, 0);
    for (auto _ : state) {
        state.PauseTiming();
        auto instance = NewInstance(kBlock, rate);
        instance->Activate(false);
        if (bPlayFirst) {
            instance->Activate(true);
            for (int32 done = 0; done < static_cast<int32>(rate); done += kBlock) {
                data.inputBus.silenceFlags = 0;
                instance->Processor()->process(data.Prepare(kBlock));
            }
            instance->Processor()->setProcessing(false);
            instance->Component()->setActive(false);
        }
        state.ResumeTiming();
        benchmark::DoNotOptimize(MeasuredActivation(instance->Component()));
        state.PauseTiming();
        instance->Component()->setActive(false);
        instance.reset();
        state.ResumeTiming();
    }
}
// Fixed counts: every iteration builds an instance, and the played ones a second of audio.
BENCHMARK(BM_SetActive)
    ->ArgNames({"rate", "played"})
    ->Args({44100, 0})
    ->Args({192000, 0})
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetActive)
    ->ArgNames({"rate", "played"})
    ->Args({44100, 1})
    ->Args({192000, 1})
    ->Iterations(40)
    ->Unit(benchmark::kMicrosecond);

long ResidentBytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* file = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(file);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

void BM_ResidentMemoryPerInstance(benchmark::State& state)
{
    constexpr int kInstances = 8;
    Module();
    double perInstance = 0.0;
    for (auto _ : state) {
        const long before = ResidentBytes();
        std::vector<std::unique_ptr<corvex::hosting::PluginInstance>> instances;
        for (int i = 0; i < kInstances; ++i) {
            instances.push_back(NewInstance(512));
            // Touch every line as processing would: run a second of audio.
            corvex::hosting::ProcessBlock data(2, 2, 512);
            for (int b = 0; b < 90; ++b) {
                FillInput(data, 512, b * 512);
                instances.back()->Processor()->process(data.Prepare(512));
            }
        }
        const long after = ResidentBytes();
        perInstance = static_cast<double>(after - before) / kInstances;
    }
    state.counters["MiB_per_instance"] = perInstance / (1024.0 * 1024.0);
}
BENCHMARK(BM_ResidentMemoryPerInstance)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
