#pragma once

#include <string>
#include <vector>

#include "VstPresetFile.h"

namespace corvex::hosting {

class PluginInstance;

using corvex::BuildVstPreset;
using corvex::ParseVstPreset;
using corvex::VstPreset;

// Reads the file at path and restores its component state into the component and the
// controller. A file that does not parse, belongs to another class or holds a state the plug-in
// refuses is refused whole: false, a message, and the instance unchanged.
bool LoadVstPresetFile(const std::string& path, PluginInstance& instance, std::string& error);

} // namespace corvex::hosting
