#pragma once

#include <array>
#include <string>
#include <vector>

#include "base/Parameters.h"

namespace corvex {

// The factory presets, defined here once: the build turns them into LV2 pset:Preset TTL and VST 3
// .vstpreset files, and corvex-render reads them directly.
struct FactoryPreset {
    const char* name;        // what hosts list; also the file name of the .vstpreset
    const char* symbol;      // the LV2 preset URI's fragment: lower case, no spaces
    const char* description; // one line
    // Parameters 1 to 12 in identifier order; the rest (meters, LEDs, Button1, Bypass) are 0.
    std::array<float, kReverbLevel> values;
};

constexpr int kFactoryPresetCount = 10;
extern const FactoryPreset kFactoryPresets[kFactoryPresetCount];

// Every parameter of a preset indexed by identifier, as the state stream holds them.
std::array<float, kParamTableSize> PresetValues(const FactoryPreset& preset);

// The preset as the 80-byte component state both formats' hosts store: the kPresetStateMarker
// (it keeps the IR that plays), then parameters 1 to 19 as little-endian floats.
std::vector<unsigned char> PresetState(const FactoryPreset& preset);

// The preset named `name` (any case), or null.
const FactoryPreset* FindFactoryPreset(const std::string& name);

// Whether two preset names (or class identifiers) are the same in any case: how every list
// finds a preset by name.
bool SameNameInAnyCase(const std::string& a, const std::string& b);

} // namespace corvex
