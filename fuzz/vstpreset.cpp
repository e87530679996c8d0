// A .vstpreset file as corvex-render and the preset tests read it: parsed, and when it parses,
// written again to the same chunks, then loaded into the built module's instance as a file.

#include <cstdint>
#include <string>
#include <vector>

#include "FuzzHost.h"
#include "PresetFile.h"

using namespace corvex::fuzz;
using corvex::hosting::VstPreset;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Plugin();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<char> bytes(data, data + size);
    VstPreset preset;
    std::string error;
    const bool parsed = corvex::hosting::ParseVstPreset(bytes, preset, error);
    CORVEX_FUZZ_EXPECT(parsed == error.empty());
    if (parsed) {
        CORVEX_FUZZ_EXPECT(preset.classId.size() == 32 && !preset.componentState.empty());
        VstPreset again;
        CORVEX_FUZZ_EXPECT(corvex::hosting::ParseVstPreset(corvex::hosting::BuildVstPreset(preset), again, error));
        CORVEX_FUZZ_EXPECT(again.classId == preset.classId && again.componentState == preset.componentState &&
                           again.metaInfo == preset.metaInfo);
    }

    const std::string& path = ScratchFile(".vstpreset");
    WriteWhole(path, data, size);
    corvex::hosting::PluginInstance& plugin = *Plugin().m_pInstance;
    std::vector<char> before;
    CORVEX_FUZZ_EXPECT(plugin.SaveState(before));
    error.clear();
    const bool loaded = corvex::hosting::LoadVstPresetFile(path, plugin, error);
    CORVEX_FUZZ_EXPECT(loaded == error.empty());
    CORVEX_FUZZ_EXPECT(!loaded || parsed);
    // A refused file changes nothing.
    std::vector<char> after;
    CORVEX_FUZZ_EXPECT(plugin.SaveState(after));
    CORVEX_FUZZ_EXPECT(loaded || after == before);
    return 0;
}
