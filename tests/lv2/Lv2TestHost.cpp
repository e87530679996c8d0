#include "Lv2TestHost.h"

#include <gtest/gtest.h>

#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/patch/patch.h>
#include <lv2/time/time.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

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
    m_unmap.handle = this;
    m_unmap.unmap = UnmapUrid;
    m_pWorld = lilv_world_new();
    LilvNode* bundle = lilv_new_file_uri(m_pWorld, nullptr, CORVEX_LV2_BUNDLE_PATH "/");
    lilv_world_load_bundle(m_pWorld, bundle);
    lilv_node_free(bundle);
    LilvNode* uri = lilv_new_uri(m_pWorld, kPluginUri);
    m_pPlugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(m_pWorld), uri);
    lilv_node_free(uri);
}

bool Lv2World::Declares(const char* property) const
{
    LilvNode* subject = lilv_new_uri(m_pWorld, kPluginUri);
    LilvNode* object = lilv_new_uri(m_pWorld, property);
    bool found = false;
    for (const char* predicate : {LV2_PATCH__readable, LV2_PATCH__writable}) {
        LilvNode* relation = lilv_new_uri(m_pWorld, predicate);
        found = found || lilv_world_ask(m_pWorld, subject, relation, object);
        lilv_node_free(relation);
    }
    lilv_node_free(object);
    lilv_node_free(subject);
    return found;
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

const char* Lv2World::UnmapUrid(LV2_URID_Unmap_Handle handle, LV2_URID urid)
{
    const auto& uris = static_cast<Lv2World*>(handle)->m_aUris;
    return urid >= 1 && urid <= uris.size() ? uris[urid - 1].c_str() : nullptr;
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
    instance->m_schedule = {instance.get(), Schedule};
    LV2_Feature scheduleFeature{LV2_WORKER__schedule, &instance->m_schedule};
    const LV2_Feature* features[] = {&mapFeature, &optionsFeature, &boundedFeature, &scheduleFeature, nullptr};
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
    // The room the TTL asks for, as hosts give it.
    instance->m_aTime.assign(kAtomPortMinimumSize / sizeof(std::uint64_t), 0);
    instance->m_aNotify.assign(kAtomPortMinimumSize / sizeof(std::uint64_t), 0);
    for (std::uint32_t port = 0; port < kPortCount; ++port) {
        void* data = &instance->m_afControls[port];
        if (port <= kPortOutRight)
            data = instance->m_afAudio[port].data();
        else if (port == kPortTime)
            data = instance->m_aTime.data();
        else if (port == kPortNotify)
            data = instance->m_aNotify.data();
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
    if (m_bImpulsePending) {
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&forge, 0);
        lv2_atom_forge_object(&forge, &object, 0, world.Urid(LV2_PATCH__Set));
        lv2_atom_forge_key(&forge, world.Urid(LV2_PATCH__property));
        lv2_atom_forge_urid(&forge, world.Urid(kImpulseUri));
        lv2_atom_forge_key(&forge, world.Urid(LV2_PATCH__value));
        lv2_atom_forge_path(&forge, m_sPendingImpulse.c_str(), std::uint32_t(m_sPendingImpulse.size()));
        lv2_atom_forge_pop(&forge, &object);
        m_bImpulsePending = false;
    }
    if (m_bTunerPending) {
        LV2_Atom_Forge_Frame object;
        lv2_atom_forge_frame_time(&forge, 0);
        lv2_atom_forge_object(&forge, &object, 0, world.Urid(kTunerUri));
        lv2_atom_forge_key(&forge, world.Urid(kTunerShownUri));
        lv2_atom_forge_bool(&forge, m_bTunerShown);
        lv2_atom_forge_key(&forge, world.Urid(kTunerMuteUri));
        lv2_atom_forge_bool(&forge, m_bTunerMute);
        lv2_atom_forge_key(&forge, world.Urid(kTunerReferenceUri));
        lv2_atom_forge_float(&forge, 440.0f);
        lv2_atom_forge_pop(&forge, &object);
        m_bTunerPending = false;
    }
    lv2_atom_forge_pop(&forge, &sequence);
}

void Lv2Instance::SetImpulsePath(const std::string& path)
{
    m_sPendingImpulse = path;
    m_bImpulsePending = true;
}

void Lv2Instance::SetTuner(bool shown, bool mute)
{
    m_bTunerShown = shown;
    m_bTunerMute = mute;
    m_bTunerPending = true;
}

void Lv2Instance::ReadNotifications()
{
    Lv2World& world = Lv2World::Get();
    const auto* sequence = reinterpret_cast<const LV2_Atom_Sequence*>(m_aNotify.data());
    EXPECT_EQ(sequence->atom.type, world.Urid(LV2_ATOM__Sequence));
    if (sequence->atom.type != world.Urid(LV2_ATOM__Sequence))
        return;
    LV2_ATOM_SEQUENCE_FOREACH (sequence, event) {
        const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
        Lv2Notification notification;
        const LV2_Atom* value = nullptr;
        const auto unmap = [&world](LV2_URID urid) {
            const char* uri = world.Unmap()->unmap(world.Unmap()->handle, urid);
            return std::string(uri != nullptr ? uri : "");
        };
        if (object->body.otype == world.Urid(LV2_PATCH__Set)) {
            const LV2_Atom* property = nullptr;
            lv2_atom_object_get(object, world.Urid(LV2_PATCH__property), &property, world.Urid(LV2_PATCH__value),
                                &value, 0);
            if (property == nullptr || value == nullptr) {
                ADD_FAILURE() << "a patch:Set without property or value";
                continue;
            }
            notification.patchSet = true;
            notification.property = unmap(reinterpret_cast<const LV2_Atom_URID*>(property)->body);
            EXPECT_TRUE(world.Declares(notification.property.c_str()))
                << "a patch:Set of the undeclared " << notification.property;
        } else if (object->body.otype == world.Urid(kNoticeUri)) {
            LV2_ATOM_OBJECT_FOREACH (object, entry) {
                EXPECT_EQ(value, nullptr) << "a notice with more than one key";
                notification.property = unmap(entry->key);
                value = &entry->value;
            }
            if (value == nullptr) {
                ADD_FAILURE() << "an empty notice";
                continue;
            }
        } else {
            ADD_FAILURE() << "a message of type " << unmap(object->body.otype);
            continue;
        }
        if (value->type == world.Urid(LV2_ATOM__Vector) &&
            reinterpret_cast<const LV2_Atom_Vector*>(value)->body.child_type == world.Urid(LV2_ATOM__Double)) {
            const auto* vector = reinterpret_cast<const LV2_Atom_Vector*>(value);
            const auto* values = reinterpret_cast<const double*>(&vector->body + 1);
            notification.values.assign(values, values + (value->size - sizeof(LV2_Atom_Vector_Body)) / sizeof(double));
        } else if (value->type == world.Urid(LV2_ATOM__Vector)) {
            const auto* vector = reinterpret_cast<const LV2_Atom_Vector*>(value);
            const auto* values = reinterpret_cast<const float*>(&vector->body + 1);
            notification.values.assign(values, values + (value->size - sizeof(LV2_Atom_Vector_Body)) / sizeof(float));
        } else
            notification.text = static_cast<const char*>(LV2_ATOM_BODY_CONST(value));
        if (value->type == world.Urid(LV2_ATOM__Path)) {
            EXPECT_EQ(notification.text.rfind('/', 0), 0u) << "a relative or empty path: '" << notification.text << "'";
        }
        m_aNotifications.push_back(std::move(notification));
    }
}

std::vector<Lv2Notification> Lv2Instance::TakeNotifications()
{
    return std::exchange(m_aNotifications, {});
}

LV2_Worker_Status Lv2Instance::Schedule(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    static_cast<Lv2Instance*>(handle)->m_aWork.emplace_back(bytes, bytes + size);
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status Lv2Instance::Respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    static_cast<Lv2Instance*>(handle)->m_aResponses.emplace_back(bytes, bytes + size);
    return LV2_WORKER_SUCCESS;
}

void Lv2Instance::RunWorker()
{
    const auto* worker =
        static_cast<const LV2_Worker_Interface*>(lilv_instance_get_extension_data(m_pInstance, LV2_WORKER__interface));
    if (worker == nullptr) {
        ADD_FAILURE() << "no worker interface";
        return;
    }
    for (const auto& request : std::exchange(m_aWork, {}))
        EXPECT_EQ(worker->work(lilv_instance_get_handle(m_pInstance), Respond, this, uint32_t(request.size()),
                               request.data()),
                  LV2_WORKER_SUCCESS);
    for (const auto& response : std::exchange(m_aResponses, {}))
        EXPECT_EQ(worker->work_response(lilv_instance_get_handle(m_pInstance), uint32_t(response.size()),
                                        response.data()),
                  LV2_WORKER_SUCCESS);
}

namespace {

const void* PortValue(const char* symbol, void* user, uint32_t* size, uint32_t* type)
{
    auto* instance = static_cast<Lv2Instance*>(user);
    for (std::uint32_t port = kPortFirstParam; port < kPortEndIndicator; ++port)
        if (std::strcmp(kPorts[port].symbol, symbol) == 0 && kPorts[port].kind != PortKind::ControlOut) {
            *size = sizeof(float);
            *type = Lv2World::Get().Urid(LV2_ATOM__Float);
            return &instance->Control(port);
        }
    return nullptr;
}


struct PropertyStore {
    LV2_URID key;
    std::vector<std::uint8_t> value;
    LV2_URID type = 0;
};

} // namespace

std::string Lv2Instance::SaveState()
{
    Lv2World& world = Lv2World::Get();
    LV2_Feature mapFeature{LV2_URID__map, world.Map()};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    LilvState* state = lilv_state_new_from_instance(world.Plugin(), m_pInstance, world.Map(), nullptr, nullptr,
                                                    nullptr, nullptr, PortValue, this, 0, features);
    if (state == nullptr) {
        ADD_FAILURE() << "lilv saves no state";
        return {};
    }
    char* text = lilv_state_to_string(world.World(), world.Map(), world.Unmap(), state, "urn:corvex:test-state",
                                      nullptr);
    std::string turtle = text != nullptr ? text : "";
    lilv_free(text);
    lilv_state_free(state);
    return turtle;
}

void Lv2Instance::SetPortValue(const char* symbol, void* user, const void* value, uint32_t size, uint32_t type)
{
    auto* instance = static_cast<Lv2Instance*>(user);
    ASSERT_EQ(type, Lv2World::Get().Urid(LV2_ATOM__Float));
    ASSERT_EQ(size, sizeof(float));
    for (std::uint32_t port = 0; port < kPortCount; ++port)
        if (std::strcmp(kPorts[port].symbol, symbol) == 0)
            std::memcpy(&instance->Control(port), value, sizeof(float));
}

void Lv2Instance::RestoreState(const std::string& turtle)
{
    Lv2World& world = Lv2World::Get();
    LilvState* state = lilv_state_new_from_string(world.World(), world.Map(), turtle.c_str());
    ASSERT_NE(state, nullptr);
    LV2_Feature mapFeature{LV2_URID__map, world.Map()};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    lilv_state_restore(state, m_pInstance, SetPortValue, this, 0, features);
    lilv_state_free(state);
}

void Lv2Instance::ApplyPreset(const LilvNode* preset)
{
    Lv2World& world = Lv2World::Get();
    lilv_world_load_resource(world.World(), preset);
    LilvState* state = lilv_state_new_from_world(world.World(), world.Map(), preset);
    ASSERT_NE(state, nullptr);
    LV2_Feature mapFeature{LV2_URID__map, world.Map()};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    lilv_state_restore(state, m_pInstance, SetPortValue, this, 0, features);
    lilv_state_free(state);
}

LV2_State_Status Lv2Instance::RestoreProperty(const char* key, const std::vector<std::uint8_t>& value, LV2_URID type)
{
    const auto* state =
        static_cast<const LV2_State_Interface*>(lilv_instance_get_extension_data(m_pInstance, LV2_STATE__interface));
    if (state == nullptr) {
        ADD_FAILURE() << "no state interface";
        return LV2_STATE_ERR_UNKNOWN;
    }
    PropertyStore property{Lv2World::Get().Urid(key), value, type};
    const auto retrieve = [](LV2_State_Handle handle, uint32_t wanted, size_t* size, uint32_t* valueType,
                             uint32_t* flags) -> const void* {
        const auto* stored = static_cast<const PropertyStore*>(handle);
        if (wanted != stored->key)
            return nullptr;
        *size = stored->value.size();
        *valueType = stored->type;
        *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
        return stored->value.data();
    };
    return state->restore(lilv_instance_get_handle(m_pInstance), retrieve, &property, 0, nullptr);
}

std::vector<std::uint8_t> Lv2Instance::SavedProperty(const char* key, LV2_URID& type)
{
    const auto* state =
        static_cast<const LV2_State_Interface*>(lilv_instance_get_extension_data(m_pInstance, LV2_STATE__interface));
    PropertyStore property{Lv2World::Get().Urid(key), {}, 0};
    if (state == nullptr) {
        ADD_FAILURE() << "no state interface";
        return {};
    }
    const auto store = [](LV2_State_Handle handle, uint32_t storedKey, const void* value, size_t size,
                          uint32_t valueType, uint32_t flags) {
        auto* stored = static_cast<PropertyStore*>(handle);
        EXPECT_EQ(flags & (LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE), uint32_t(LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE));
        if (storedKey == stored->key) {
            const auto* bytes = static_cast<const std::uint8_t*>(value);
            stored->value.assign(bytes, bytes + size);
            stored->type = valueType;
        }
        return LV2_STATE_SUCCESS;
    };
    EXPECT_EQ(state->save(lilv_instance_get_handle(m_pInstance), store, &property, 0, nullptr), LV2_STATE_SUCCESS);
    type = property.type;
    return property.value;
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
        // An output sequence states the room it has; the plug-in replaces it with its events.
        auto* notify = reinterpret_cast<LV2_Atom_Sequence*>(m_aNotify.data());
        notify->atom.type = Lv2World::Get().Urid(LV2_ATOM__Chunk);
        notify->atom.size = std::uint32_t(m_aNotify.size() * sizeof(std::uint64_t) - sizeof(LV2_Atom));
        lilv_instance_run(m_pInstance, uint32_t(count));
        ReadNotifications();
        RunWorker();
        std::memcpy(outL + done, m_afAudio[2].data(), sizeof(float) * size_t(count));
        std::memcpy(outR + done, m_afAudio[3].data(), sizeof(float) * size_t(count));
    }
}

} // namespace test
