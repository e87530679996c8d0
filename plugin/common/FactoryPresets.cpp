#include "FactoryPresets.h"

#include "StateLayout.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

namespace corvex {

// Columns: Input Selection, Gate/Compressor ON OFF, Compressor Level, Distortion ON OFF,
// Distortion Level, Stereo Enhancer ON OFF, Delay ON OFF, Modulation ON OFF, Chorus Speed,
// Reverb ON OFF, Delay Level, Reverb Level.
const FactoryPreset kFactoryPresets[kFactoryPresetCount] = {
    {"Corvex Default", "default", "the amp as it starts: crunch with chorus, eighth-note echoes and a medium room",
     {1, 1, 0.8f, 1, 0.55f, 0, 1, 1, 0.1f, 1, 0.75f, 0.55f}},
    {"Clean", "clean", "the drive all the way down, light compression and a short room",
     {1, 1, 0.6f, 1, 0.1f, 0, 0, 0, 0.1f, 1, 0.5f, 0.3f}},
    {"Edge of Break-up", "edge-of-breakup", "just breaking up when you dig in, dry and direct",
     {1, 1, 0.6f, 1, 0.3f, 0, 0, 0, 0.1f, 1, 0.5f, 0.25f}},
    {"Crunch", "crunch", "classic rock crunch with a little room",
     {1, 1, 0.75f, 1, 0.55f, 0, 0, 0, 0.1f, 1, 0.5f, 0.35f}},
    {"Tight Rhythm", "tight-rhythm", "high gain gated hard, completely dry, for palm-muted riffs",
     {1, 1, 0.9f, 1, 0.75f, 0, 0, 0, 0.1f, 0, 0.5f, 0.3f}},
    {"High-Gain Lead", "high-gain-lead", "singing sustain with quarter and eighth echoes and a hall",
     {1, 1, 0.85f, 1, 0.9f, 0, 1, 0, 0.1f, 1, 0.55f, 0.6f}},
    {"Ambient Clean", "ambient-clean", "clean, wide chorus, long echoes and a long reverb for swells",
     {1, 1, 0.4f, 1, 0.2f, 1, 1, 1, 0.45f, 1, 0.85f, 0.85f}},
    {"Chorus Clean", "chorus-clean", "clean with a deep chorus and some room, for arpeggios",
     {1, 1, 0.3f, 1, 0.25f, 0, 0, 1, 0.45f, 1, 0.5f, 0.4f}},
    {"Slapback", "slapback", "light drive with one short echo, rockabilly style",
     {1, 1, 0.7f, 1, 0.4f, 0, 1, 0, 0.1f, 0, 0.3f, 0.3f}},
    {"Wide Lead", "wide-lead", "saturated lead spread wide by the stereo enhancer, echoes and reverb",
     {1, 1, 0.8f, 1, 0.8f, 1, 1, 1, 0.2f, 1, 0.65f, 0.5f}},
};

std::array<float, kParamTableSize> PresetValues(const FactoryPreset& preset)
{
    std::array<float, kParamTableSize> values{};
    for (ParamID id = kFirstParam; id <= kReverbLevel; ++id)
        values[id] = preset.values[id - kFirstParam];
    return values;
}

std::vector<unsigned char> PresetState(const FactoryPreset& preset)
{
    std::vector<unsigned char> state;
    state.reserve(kStateSize);
    auto put = [&state](float value) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        for (int i = 0; i < kStateValueBytes; ++i)
            state.push_back(static_cast<unsigned char>((bits >> (8 * i)) & 0xFF));
    };
    put(kPresetStateMarker);
    const auto values = PresetValues(preset);
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        put(values[id]);
    return state;
}

const FactoryPreset* FindFactoryPreset(const std::string& name)
{
    for (const FactoryPreset& preset : kFactoryPresets)
        if (SameNameInAnyCase(preset.name, name))
            return &preset;
    return nullptr;
}

bool SameNameInAnyCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace corvex
