// run() through lilv, as an LV2 host calls it: real-time factor per block size, to set beside
// the VST 3 module's figures (corvex_plugin_bench).

#include <benchmark/benchmark.h>

#include <lilv/lilv.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

} // namespace
