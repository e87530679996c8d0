#include "Lv2TestHost.h"

#include <gtest/gtest.h>

#include <lv2/buf-size/buf-size.h>
#include <lv2/time/time.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace test {

using namespace corvex::lv2;

Lv2World& Lv2World::Get()
{
    static Lv2World* world = new Lv2World();
    return *world;
}

Lv2World::Lv2World()
{
    m_map.handle = this;
    m_map.map = MapUri;
    m_pWorld = lilv_world_new();
    LilvNode* bundle = lilv_new_file_uri(m_pWorld, nullptr, CORVEX_LV2_BUNDLE_PATH "/");
    lilv_world_load_bundle(m_pWorld, bundle);
    lilv_node_free(bundle);
    LilvNode* uri = lilv_new_uri(m_pWorld, kPluginUri);
    m_pPlugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(m_pWorld), uri);
    lilv_node_free(uri);
}

LV2_URID Lv2World::MapUri(LV2_URID_Map_Handle handle, const char* uri)
{
    auto& uris = static_cast<Lv2World*>(handle)->m_aUris;
    const auto found = std::find(uris.begin(), uris.end(), uri);
    if (found != uris.end())
        return LV2_URID(found - uris.begin() + 1);
    uris.emplace_back(uri);
    return LV2_URID(uris.size());
}

std::unique_ptr<Lv2Instance> Lv2Instance::Create(double sampleRate, std::int32_t maxBlock, std::int32_t statedMaxBlock)
{
    Lv2World& world = Lv2World::Get();
    if (world.Plugin() == nullptr) {
        ADD_FAILURE() << "lilv finds no " << kPluginUri << " in " << CORVEX_LV2_BUNDLE_PATH;
        return nullptr;
    }
    std::unique_ptr<Lv2Instance> instance(new Lv2Instance());
    instance->m_iMaxBlock = maxBlock;
    instance->m_iOptionBlock = statedMaxBlock > 0 ? statedMaxBlock : maxBlock;
    instance->m_aOptions[0] = {LV2_OPTIONS_INSTANCE, 0, world.Urid(LV2_BUF_SIZE__maxBlockLength), sizeof(std::int32_t),
                               world.Urid(LV2_ATOM__Int), &instance->m_iOptionBlock};
    instance->m_aOptions[1] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
    LV2_Feature mapFeature{LV2_URID__map, world.Map()};
    LV2_Feature optionsFeature{LV2_OPTIONS__options, instance->m_aOptions};
    LV2_Feature boundedFeature{LV2_BUF_SIZE__boundedBlockLength, nullptr};
    const LV2_Feature* features[] = {&mapFeature, &optionsFeature, &boundedFeature, nullptr};
    instance->m_pInstance = lilv_plugin_instantiate(world.Plugin(), sampleRate, features);
    if (instance->m_pInstance == nullptr) {
        ADD_FAILURE() << "lilv_plugin_instantiate failed";
        return nullptr;
    }

    // Controls start at the defaults the TTL states.
    const uint32_t ports = lilv_plugin_get_num_ports(world.Plugin());
    EXPECT_EQ(ports, kPortCount);
    std::vector<float> defaults(ports, 0.0f);
    lilv_plugin_get_port_ranges_float(world.Plugin(), nullptr, nullptr, defaults.data());
    for (std::uint32_t port = 0; port < kPortCount; ++port)
        instance->m_afControls[port] = std::isnan(defaults[port]) ? 0.0f : defaults[port];

    // Hosts (jalv, Ardour) send time:Position only to a port that says it takes one.
    LilvNode* position = lilv_new_uri(world.World(), LV2_TIME__Position);
    const LilvPort* time = lilv_plugin_get_port_by_index(world.Plugin(), kPortTime);
    instance->m_bTimeSupported = time != nullptr && lilv_port_supports_event(world.Plugin(), time, position);
    lilv_node_free(position);

    for (auto& channel : instance->m_afAudio)
        channel.assign(size_t(maxBlock), 0.0f);
    instance->m_aTime.assign(512, 0);
    for (std::uint32_t port = 0; port < kPortCount; ++port) {
        void* data = &instance->m_afControls[port];
        if (port <= kPortOutRight)
            data = instance->m_afAudio[port].data();
        else if (port == kPortTime)
            data = instance->m_aTime.data();
        lilv_instance_connect_port(instance->m_pInstance, port, data);
    }
    lilv_instance_activate(instance->m_pInstance);
    return instance;
}

Lv2Instance::~Lv2Instance()
{
    if (m_pInstance != nullptr) {
        lilv_instance_deactivate(m_pInstance);
        lilv_instance_free(m_pInstance);
    }
}

void Lv2Instance::Reactivate()
{
    lilv_instance_deactivate(m_pInstance);
    lilv_instance_activate(m_pInstance);
}

void Lv2Instance::SendTempo(float bpm)
{
    m_fPendingTempo = bpm;
    m_bTempoPending = true;
}

void Lv2Instance::MisalignTimeBuffer()
{
    m_iTimeOffset = 4;
    lilv_instance_connect_port(m_pInstance, kPortTime, reinterpret_cast<uint8_t*>(m_aTime.data()) + m_iTimeOffset);
}

void Lv2Instance::PrepareTimeBuffer(bool withTempo)
{
    Lv2World& world = Lv2World::Get();
    LV2_Atom_Forge forge;
    lv2_atom_forge_init(&forge, world.Map());
    lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(m_aTime.data()) + m_iTimeOffset,
                              m_aTime.size() * sizeof(std::uint64_t) - m_iTimeOffset);
    LV2_Atom_Forge_Frame sequence;
    lv2_atom_forge_sequence_head(&forge, &sequence, 0);
    if (withTempo) {
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&forge, 0);
        lv2_atom_forge_object(&forge, &object, 0, world.Urid(LV2_TIME__Position));
        lv2_atom_forge_key(&forge, world.Urid(LV2_TIME__beatsPerMinute));
        lv2_atom_forge_float(&forge, m_fPendingTempo);
        lv2_atom_forge_pop(&forge, &object);
    }
    lv2_atom_forge_pop(&forge, &sequence);
}

void Lv2Instance::Process(const float* inL, const float* inR, float* outL, float* outR, std::int64_t n,
                          std::int32_t block)
{
    for (std::int64_t done = 0; done < n; done += block) {
        const std::int32_t count = std::int32_t(std::min<std::int64_t>(block, n - done));
        if (count > m_iMaxBlock) {
            ADD_FAILURE() << "block of " << count << " exceeds " << m_iMaxBlock;
            return;
        }
        std::memcpy(m_afAudio[0].data(), inL + done, sizeof(float) * size_t(count));
        std::memcpy(m_afAudio[1].data(), inR + done, sizeof(float) * size_t(count));
        PrepareTimeBuffer(m_bTempoPending && m_bTimeSupported);
        m_bTempoPending = false;
        lilv_instance_run(m_pInstance, uint32_t(count));
        std::memcpy(outL + done, m_afAudio[2].data(), sizeof(float) * size_t(count));
        std::memcpy(outR + done, m_afAudio[3].data(), sizeof(float) * size_t(count));
    }
}

} // namespace test
