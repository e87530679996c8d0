#pragma once

#include <array>
#include <string>
#include <vector>

#include "base/Parameters.h"

namespace corvex {

// The processor's class ID as .vstpreset files carry it (32 hex digits).
inline constexpr const char* kProcessorClassId = "0F8A2042802F946DD936376A1A90B8B8";
inline constexpr const char* kPresetExtension = ".vstpreset";

// The 12 controls a preset holds (parameters 1 to 12): a preset keeps the cabinet IR as it is.
using PresetControls = std::array<float, kReverbLevel>;

// A host that keeps presets of its own (corvex) changes to one with this message to the VST 3
// processor: the values attribute holds the 12 controls as floats, a preset change as Program
// Change makes it.
inline constexpr const char* kChangePresetMessage = "ChangePreset";
inline constexpr const char* kValuesAttribute = "Values";

// A preset of the list every program shows: the factory presets first, then the user's.
struct PresetEntry {
    std::string name;
    PresetControls values{};
    std::string path; // the user's file; empty for a factory preset
};

// Where hosts keep the user's VST 3 presets for Corvex: ~/.vst3/presets/<vendor>/Corvex2 on Linux,
// Documents\VST3 Presets\<vendor>\Corvex2 on Windows (see PresetFolder). Empty without a home.
std::string UserPresetDirectory();

// The user's presets in `directory`, sorted by name: every .vstpreset of Corvex's class whose
// state reads. A damaged or foreign file is left alone and named in `skipped` with the reason.
std::vector<PresetEntry> ReadUserPresets(const std::string& directory, std::vector<std::string>& skipped);

// The factory presets followed by `user`.
std::vector<PresetEntry> PresetList(const std::vector<PresetEntry>& user);
// The entry named `name` (any case), or null.
const PresetEntry* FindPreset(const std::vector<PresetEntry>& list, const std::string& name);

// The controls a .vstpreset holds: false, with the reason, for a damaged file, another plug-in's,
// or a state with a value that is not a number in [0, 1].
bool DecodePresetFile(const std::vector<char>& bytes, PresetControls& values, std::string& error);
// A .vstpreset hosts read: the component state of these controls (the rest at their defaults).
std::vector<char> EncodePresetFile(const std::string& name, const PresetControls& values);

// Writes `name` into `directory` (created if needed) as <name>.vstpreset, atomically; refuses a
// name that exists unless `overwrite`, a factory preset's name and an empty name. Renaming and
// deleting refuse names that do not exist (or, for the new name, that do).
bool SaveUserPreset(const std::string& directory, const std::string& name, const PresetControls& values, bool overwrite,
                    std::string& error);
bool RenameUserPreset(const std::string& directory, const std::string& from, const std::string& to,
                      std::string& error);
bool DeleteUserPreset(const std::string& directory, const std::string& name, std::string& error);

} // namespace corvex
