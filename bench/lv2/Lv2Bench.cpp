// run() through lilv, as an LV2 host calls it: real-time factor per block size, to set beside
// the VST 3 module's figures (corvex_plugin_bench); with a user cabinet IR restored from a state
// beside the built-in cabinet; and the restore of such a state itself (decoding, resampling and
// preparing the IR, what a host's worker does for a file besides reading it).

#include <benchmark/benchmark.h>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ImpulseSection.h"
#include "Lv2Ports.h"

namespace {

using namespace corvex::lv2;

constexpr double kRate = 44100.0;

LV2_URID MapUri(LV2_URID_Map_Handle handle, const char* uri)
{
    auto* uris = static_cast<std::vector<std::string>*>(handle);
    for (size_t i = 0; i < uris->size(); ++i)
        if ((*uris)[i] == uri)
            return LV2_URID(i + 1);
    uris->emplace_back(uri);
    return LV2_URID(uris->size());
}

const LilvPlugin* Plugin()
{
    static LilvWorld* world = nullptr;
    static const LilvPlugin* plugin = [] {
        world = lilv_world_new();
        LilvNode* bundle = lilv_new_file_uri(world, nullptr, CORVEX_LV2_BUNDLE_PATH "/");
        lilv_world_load_bundle(world, bundle);
        lilv_node_free(bundle);
        LilvNode* uri = lilv_new_uri(world, kPluginUri);
        const LilvPlugin* found = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
        if (found == nullptr) {
            std::fprintf(stderr, "no %s in %s\n", kPluginUri, CORVEX_LV2_BUNDLE_PATH);
            std::abort();
        }
        return found;
    }();
    return plugin;
}

void BM_RunRealTimeFactor(benchmark::State& state)
{
    const int block = int(state.range(0));
    std::vector<std::string> uris;
    LV2_URID_Map map{&uris, MapUri};
    LV2_Feature mapFeature{LV2_URID__map, &map};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    LilvInstance* instance = lilv_plugin_instantiate(Plugin(), kRate, features);
    if (instance == nullptr)
        std::abort();

    std::vector<float> audio[4];
    for (auto& channel : audio)
        channel.assign(size_t(block), 0.0f);
    float controls[kPortCount] = {};
    std::vector<float> defaults(kPortCount);
    lilv_plugin_get_port_ranges_float(Plugin(), nullptr, nullptr, defaults.data());
    for (std::uint32_t port = 0; port < kPortCount; ++port) {
        controls[port] = std::isnan(defaults[port]) ? 0.0f : defaults[port];
        if (port <= kPortOutRight)
            lilv_instance_connect_port(instance, port, audio[port].data());
        else if (port != kPortTime && port != kPortNotify) // both atom ports are optional
            lilv_instance_connect_port(instance, port, &controls[port]);
    }
    lilv_instance_activate(instance);

    std::int64_t position = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // A decaying plucked tone repeated, on the left input.
        for (int i = 0; i < block; ++i) {
            const double t = double(position + i) / kRate;
            audio[0][size_t(i)] = float(0.4 * std::exp(-6.0 * std::fmod(t, 0.5)) * std::sin(2.0 * M_PI * 110.0 * t));
        }
        position += block;
        state.ResumeTiming();
        lilv_instance_run(instance, uint32_t(block));
        benchmark::DoNotOptimize(audio[2].data());
    }
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
    const double audioSeconds = double(state.iterations()) * block / kRate;
    state.counters["realtime_x"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.SetItemsProcessed(state.iterations() * block);
}
BENCHMARK(BM_RunRealTimeFactor)->Arg(64)->Arg(512)->Arg(4096)->Unit(benchmark::kMicrosecond);

// The state section of a stereo IR of `ms` at 48 kHz: decaying noise, each channel its own.
std::vector<std::uint8_t> ImpulseSection(int ms)
{
    corvex::ImpulseSource source;
    source.name = "bench.wav";
    source.sampleRate = 48000.0;
    source.channels = 2;
    source.frames = 48 * ms;
    std::uint32_t seed = 1u;
    for (int i = 0; i < 2 * source.frames; ++i) {
        seed = seed * 1664525u + 1013904223u;
        source.samples.push_back(float((double(seed >> 8) / double(1u << 24) - 0.5) * std::exp(-8.0 * i / (2.0 * source.frames))));
    }
    return corvex::EncodeImpulseSection(source);
}

struct StateProperty {
    LV2_URID key, chunk;
    const std::vector<std::uint8_t>* value;
};

const void* Retrieve(LV2_State_Handle handle, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags)
{
    const auto* property = static_cast<const StateProperty*>(handle);
    if (key != property->key || property->value == nullptr)
        return nullptr;
    *size = property->value->size();
    *type = property->chunk;
    *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    return property->value->data();
}

// A 48 kHz instance at `block` samples with a restored IR of range(1) ms (0: the built-in cabinet).
void BM_RunWithImpulse(benchmark::State& state)
{
    constexpr double kImpulseRate = 48000.0;
    const int block = int(state.range(0));
    const std::vector<std::uint8_t> section = ImpulseSection(int(state.range(1)));
    std::vector<std::string> uris;
    LV2_URID_Map map{&uris, MapUri};
    LV2_Feature mapFeature{LV2_URID__map, &map};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    LilvInstance* instance = lilv_plugin_instantiate(Plugin(), kImpulseRate, features);
    if (instance == nullptr)
        std::abort();
    std::vector<float> audio[4];
    for (auto& channel : audio)
        channel.assign(size_t(block), 0.0f);
    float controls[kPortCount] = {};
    std::vector<float> defaults(kPortCount);
    lilv_plugin_get_port_ranges_float(Plugin(), nullptr, nullptr, defaults.data());
    for (std::uint32_t port = 0; port < kPortCount; ++port) {
        controls[port] = std::isnan(defaults[port]) ? 0.0f : defaults[port];
        if (port <= kPortOutRight)
            lilv_instance_connect_port(instance, port, audio[port].data());
        else if (port != kPortTime && port != kPortNotify)
            lilv_instance_connect_port(instance, port, &controls[port]);
    }
    const auto* stateInterface =
        static_cast<const LV2_State_Interface*>(lilv_instance_get_extension_data(instance, LV2_STATE__interface));
    const StateProperty property{MapUri(&uris, kImpulseStateUri), MapUri(&uris, LV2_ATOM__Chunk),
                                 state.range(1) > 0 ? &section : nullptr};
    if (stateInterface->restore(lilv_instance_get_handle(instance), Retrieve,
                                const_cast<StateProperty*>(&property), 0, nullptr) != LV2_STATE_SUCCESS)
        std::abort();
    lilv_instance_activate(instance);

    std::int64_t position = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < block; ++i) {
            const double t = double(position + i) / kImpulseRate;
            audio[0][size_t(i)] = float(0.4 * std::exp(-6.0 * std::fmod(t, 0.5)) * std::sin(2.0 * M_PI * 110.0 * t));
        }
        position += block;
        state.ResumeTiming();
        lilv_instance_run(instance, uint32_t(block));
        benchmark::DoNotOptimize(audio[2].data());
    }
    lilv_instance_deactivate(instance);
    lilv_instance_free(instance);
    const double audioSeconds = double(state.iterations()) * block / kImpulseRate;
    state.counters["realtime_x"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RunWithImpulse)->Args({256, 0})->Args({256, 500})->Unit(benchmark::kMicrosecond);

// Restoring a state with a 1 s stereo IR at 48 kHz into a 44.1 kHz instance.
void BM_RestoreImpulse(benchmark::State& state)
{
    const std::vector<std::uint8_t> section = ImpulseSection(int(state.range(0)));
    std::vector<std::string> uris;
    LV2_URID_Map map{&uris, MapUri};
    LV2_Feature mapFeature{LV2_URID__map, &map};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    LilvInstance* instance = lilv_plugin_instantiate(Plugin(), kRate, features);
    if (instance == nullptr)
        std::abort();
    const auto* stateInterface =
        static_cast<const LV2_State_Interface*>(lilv_instance_get_extension_data(instance, LV2_STATE__interface));
    const StateProperty property{MapUri(&uris, kImpulseStateUri), MapUri(&uris, LV2_ATOM__Chunk), &section};
    for (auto _ : state)
        if (stateInterface->restore(lilv_instance_get_handle(instance), Retrieve, const_cast<StateProperty*>(&property),
                                    0, nullptr) != LV2_STATE_SUCCESS)
            std::abort();
    lilv_instance_free(instance);
}
BENCHMARK(BM_RestoreImpulse)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace
