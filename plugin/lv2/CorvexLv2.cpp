#include "CorvexLv2.h"

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/time/time.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/DenormalGuard.h"

namespace corvex::lv2 {

CCorvexLv2* CCorvexLv2::Create(double sampleRate, const LV2_Feature* const* features)
{
    LV2_URID_Map* map = nullptr;
    const LV2_Options_Option* options = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
            map = static_cast<LV2_URID_Map*>(features[i]->data);
        else if (std::strcmp(features[i]->URI, LV2_OPTIONS__options) == 0)
            options = static_cast<const LV2_Options_Option*>(features[i]->data);
    }
    int maxBlock = kDefaultMaxBlock;
    if (options != nullptr && map != nullptr) {
        const LV2_URID maxLength = map->map(map->handle, LV2_BUF_SIZE__maxBlockLength);
        const LV2_URID intType = map->map(map->handle, LV2_ATOM__Int);
        for (const LV2_Options_Option* o = options; o->key != 0 || o->value != nullptr; ++o)
            if (o->key == maxLength && o->type == intType && o->size == sizeof(int32_t) && o->value != nullptr)
                maxBlock = *static_cast<const int32_t*>(o->value);
    }

    // No exception may reach the host: a plug-in that cannot get its buffers is no instance.
    CCorvexLv2* plugin = nullptr;
    try {
        plugin = new CCorvexLv2;
        if (!plugin->m_core.Prepare(sampleRate, maxBlock > 0 ? maxBlock : kDefaultMaxBlock)) {
            delete plugin; // a rate the engine cannot take
            return nullptr;
        }
    }
    catch (...) {
        delete plugin;
        return nullptr;
    }
    // Without the map the host cannot send time:Position either: the tempo stays at its default.
    if (map == nullptr)
        return plugin;
    auto& u = plugin->m_uris;
    u.atomBlank = map->map(map->handle, LV2_ATOM__Blank);
    u.atomObject = map->map(map->handle, LV2_ATOM__Object);
    u.atomFloat = map->map(map->handle, LV2_ATOM__Float);
    u.atomDouble = map->map(map->handle, LV2_ATOM__Double);
    u.atomInt = map->map(map->handle, LV2_ATOM__Int);
    u.atomLong = map->map(map->handle, LV2_ATOM__Long);
    u.timePosition = map->map(map->handle, LV2_TIME__Position);
    u.timeBeatsPerMinute = map->map(map->handle, LV2_TIME__beatsPerMinute);
    return plugin;
}

void CCorvexLv2::Connect(std::uint32_t port, void* data)
{
    if (port == kPortTime)
        m_pTime = static_cast<const LV2_Atom_Sequence*>(data);
    else if (port < kPortCount)
        m_apfPorts[port] = static_cast<const float*>(data);
}

void CCorvexLv2::Activate()
{
    m_core.Activate();
}

namespace {

// Copies a header out of the host's buffer: some hosts hand over sequences that are only 4-byte
// aligned, so nothing in them is read through a cast pointer.
template <typename T>
T ReadAt(const unsigned char* bytes, std::size_t offset)
{
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

constexpr std::size_t Padded(std::size_t size)
{
    return (size + 7u) & ~std::size_t(7u);
}

} // namespace

void CCorvexLv2::ReadTempo()
{
    if (m_pTime == nullptr || m_uris.timePosition == 0)
        return;
    const auto* bytes = reinterpret_cast<const unsigned char*>(m_pTime);
    const std::size_t end = sizeof(LV2_Atom) + ReadAt<LV2_Atom>(bytes, 0).size;
    // Events follow the sequence header, each a time stamp and an atom, padded to 8 bytes.
    for (std::size_t at = sizeof(LV2_Atom_Sequence); at + sizeof(LV2_Atom_Event) <= end;) {
        const LV2_Atom_Event event = ReadAt<LV2_Atom_Event>(bytes, at);
        const std::size_t body = at + sizeof(LV2_Atom_Event);
        const std::size_t bodyEnd = std::min(end, body + event.body.size);
        at = body + Padded(event.body.size);
        if ((event.body.type != m_uris.atomObject && event.body.type != m_uris.atomBlank) ||
            body + sizeof(LV2_Atom_Object_Body) > bodyEnd ||
            ReadAt<LV2_Atom_Object_Body>(bytes, body).otype != m_uris.timePosition)
            continue;
        for (std::size_t p = body + sizeof(LV2_Atom_Object_Body); p + sizeof(LV2_Atom_Property_Body) <= bodyEnd;) {
            const LV2_Atom_Property_Body property = ReadAt<LV2_Atom_Property_Body>(bytes, p);
            const std::size_t value = p + sizeof(LV2_Atom_Property_Body);
            p = value + Padded(property.value.size);
            if (property.key != m_uris.timeBeatsPerMinute || value + property.value.size > bodyEnd)
                continue;
            // The last position of the run counts for the whole run, as a block's tempo does in VST 3.
            const std::uint32_t type = property.value.type;
            const std::uint32_t size = property.value.size;
            if (type == m_uris.atomFloat && size >= sizeof(float))
                m_core.SetTempo(ReadAt<float>(bytes, value));
            else if (type == m_uris.atomDouble && size >= sizeof(double))
                m_core.SetTempo(ReadAt<double>(bytes, value));
            else if (type == m_uris.atomInt && size >= sizeof(std::int32_t))
                m_core.SetTempo(ReadAt<std::int32_t>(bytes, value));
            else if (type == m_uris.atomLong && size >= sizeof(std::int64_t))
                m_core.SetTempo(double(ReadAt<std::int64_t>(bytes, value)));
        }
    }
}

void CCorvexLv2::ReadControls()
{
    for (std::uint32_t port = kPortFirstParam; port < kPortEnabled; ++port)
        if (const float* value = m_apfPorts[port])
            m_core.SetParam(kPorts[port].id, *value);
    if (const float* enabled = m_apfPorts[kPortEnabled])
        if (!std::isnan(*enabled))
            m_core.SetParam(kBypass, *enabled > 0.0f ? 0.0 : 1.0);
}

void CCorvexLv2::Run(std::uint32_t samples)
{
    ScopedNoDenormals noDenormals;
    ReadTempo();
    ReadControls();
    m_core.BeginBlock();
    const float* inputs[2] = {m_apfPorts[kPortInLeft], m_apfPorts[kPortInRight]};
    float* outputs[2] = {const_cast<float*>(m_apfPorts[kPortOutLeft]), const_cast<float*>(m_apfPorts[kPortOutRight])};
    std::uint64_t silence = 0;
    // LV2 says nothing about silent inputs: the chain always runs.
    if (samples > 0 && !m_core.Run(inputs, 2, 0, outputs, 2, int(samples), silence))
        for (float* out : outputs) // a failed chain leaves silence, never stale samples
            if (out != nullptr)
                std::memset(out, 0, sizeof(float) * samples);
    for (std::uint32_t port = kPortFirstIndicator; port < kPortCount; ++port)
        if (float* out = const_cast<float*>(m_apfPorts[port]))
            *out = m_core.Param(kPorts[port].id);
}

namespace {

LV2_Handle Instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features)
{
    return CCorvexLv2::Create(rate, features);
}

void ConnectPort(LV2_Handle instance, uint32_t port, void* data)
{
    static_cast<CCorvexLv2*>(instance)->Connect(port, data);
}

void Activate(LV2_Handle instance)
{
    static_cast<CCorvexLv2*>(instance)->Activate();
}

void Run(LV2_Handle instance, uint32_t samples)
{
    static_cast<CCorvexLv2*>(instance)->Run(samples);
}

void Deactivate(LV2_Handle instance)
{
    static_cast<CCorvexLv2*>(instance)->Activate();
}

void Cleanup(LV2_Handle instance)
{
    delete static_cast<CCorvexLv2*>(instance);
}

const void* ExtensionData(const char*)
{
    return nullptr;
}

const LV2_Descriptor kDescriptor = {kPluginUri, Instantiate, ConnectPort, Activate, Run, Deactivate, Cleanup,
                                    ExtensionData};

} // namespace
} // namespace corvex::lv2

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &corvex::lv2::kDescriptor : nullptr;
}
