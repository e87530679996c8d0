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

// The plug-in instantiated at `rate` as a host does, with the URID map it keeps using.
struct CInstance {
    explicit CInstance(double rate) : m_pInstance(lilv_plugin_instantiate(Plugin(), rate, m_apFeatures)), m_dRate(rate)
    {
        if (m_pInstance == nullptr)
            std::abort();
    }
    ~CInstance() { lilv_instance_free(m_pInstance); }

    // Audio ports on `block` samples each, controls at their defaults.
    void Connect(int block)
    {
        m_iBlock = block;
        for (auto& channel : m_afAudio)
            channel.assign(size_t(block), 0.0f);
        std::vector<float> defaults(kPortCount);
        lilv_plugin_get_port_ranges_float(Plugin(), nullptr, nullptr, defaults.data());
        for (std::uint32_t port = 0; port < kPortCount; ++port) {
            m_afControls[port] = std::isnan(defaults[port]) ? 0.0f : defaults[port];
            if (port <= kPortOutRight)
                lilv_instance_connect_port(m_pInstance, port, m_afAudio[port].data());
            else if (port != kPortTime && port != kPortNotify) // both atom ports are optional
                lilv_instance_connect_port(m_pInstance, port, &m_afControls[port]);
        }
    }

    // Activates and times run() per block; the real-time factor as the counter realtime_x.
    void RunTimed(benchmark::State& state)
    {
        lilv_instance_activate(m_pInstance);
        std::int64_t position = 0;
        for (auto _ : state) {
            state.PauseTiming();
            // A decaying plucked tone repeated, on the left input.
            for (int i = 0; i < m_iBlock; ++i) {
                const double t = double(position + i) / m_dRate;
                m_afAudio[0][size_t(i)] = float(0.4 * std::exp(-6.0 * std::fmod(t, 0.5)) * std::sin(2.0 * M_PI * 110.0 * t));
            }
            position += m_iBlock;
            state.ResumeTiming();
            lilv_instance_run(m_pInstance, uint32_t(m_iBlock));
            benchmark::DoNotOptimize(m_afAudio[2].data());
        }
        lilv_instance_deactivate(m_pInstance);
        const double audioSeconds = double(state.iterations()) * m_iBlock / m_dRate;
        state.counters["realtime_x"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    }

    std::vector<std::string> m_asUris;
    LV2_URID_Map m_map{&m_asUris, MapUri};
    LV2_Feature m_mapFeature{LV2_URID__map, &m_map};
    const LV2_Feature* m_apFeatures[2] = {&m_mapFeature, nullptr};
    LilvInstance* m_pInstance;
    double m_dRate;
    int m_iBlock = 0;
    std::vector<float> m_afAudio[4];
    float m_afControls[kPortCount] = {};
};

void BM_RunRealTimeFactor(benchmark::State& state)
{
    CInstance plugin(kRate);
    plugin.Connect(int(state.range(0)));
    plugin.RunTimed(state);
    state.SetItemsProcessed(state.iterations() * state.range(0));
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
    const std::vector<std::uint8_t> section = ImpulseSection(int(state.range(1)));
    CInstance plugin(kImpulseRate);
    plugin.Connect(int(state.range(0)));
    const auto* stateInterface = static_cast<const LV2_State_Interface*>(
        lilv_instance_get_extension_data(plugin.m_pInstance, LV2_STATE__interface));
    const StateProperty property{MapUri(&plugin.m_asUris, kImpulseStateUri), MapUri(&plugin.m_asUris, LV2_ATOM__Chunk),
                                 state.range(1) > 0 ? &section : nullptr};
    if (stateInterface->restore(lilv_instance_get_handle(plugin.m_pInstance), Retrieve,
                                const_cast<StateProperty*>(&property), 0, nullptr) != LV2_STATE_SUCCESS)
        std::abort();
    plugin.RunTimed(state);
}
BENCHMARK(BM_RunWithImpulse)->Args({256, 0})->Args({256, 500})->Unit(benchmark::kMicrosecond);

// Restoring a state with a 1 s stereo IR at 48 kHz into a 44.1 kHz instance.
void BM_RestoreImpulse(benchmark::State& state)
{
    const std::vector<std::uint8_t> section = ImpulseSection(int(state.range(0)));
    CInstance plugin(kRate);
    const auto* stateInterface = static_cast<const LV2_State_Interface*>(
        lilv_instance_get_extension_data(plugin.m_pInstance, LV2_STATE__interface));
    const StateProperty property{MapUri(&plugin.m_asUris, kImpulseStateUri), MapUri(&plugin.m_asUris, LV2_ATOM__Chunk),
                                 &section};
    for (auto _ : state)
        if (stateInterface->restore(lilv_instance_get_handle(plugin.m_pInstance), Retrieve,
                                    const_cast<StateProperty*>(&property), 0, nullptr) != LV2_STATE_SUCCESS)
            std::abort();
}
BENCHMARK(BM_RestoreImpulse)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace
