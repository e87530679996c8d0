#include "PresetFile.h"

#include "PluginInstance.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace corvex::hosting {

bool LoadVstPresetFile(const std::string& path, PluginInstance& instance, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open preset " + path;
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    VstPreset preset;
    if (!ParseVstPreset(bytes, preset, error)) {
        error = path + ": " + error;
        return false;
    }
    if (preset.classId != instance.ClassId()) {
        error = path + ": the preset is for class " + preset.classId + ", not this plug-in's " + instance.ClassId();
        return false;
    }
    // Both sides accept or refuse the same bytes; the component is asked first.
    std::vector<char> before;
    if (!instance.SaveState(before)) {
        error = "cannot read the plug-in's current state";
        return false;
    }
    if (!instance.LoadState(preset.componentState)) {
        instance.LoadState(before);
        error = path + ": the plug-in refuses its state (" + std::to_string(preset.componentState.size()) + " bytes)";
        return false;
    }
    return true;
}

} // namespace corvex::hosting
