// Writes one .vstpreset per factory preset, each holding the processor's 80-byte component state
// and its class ID, named after the preset, into the folder below PRESETS_ROOT that hosts derive
// from the factory's vendor and the plug-in's name. Usage: corvex-vst3-presets PRESETS_ROOT

#include "FactoryPresets.h"
#include "PresetFile.h"
#include "PresetFolder.h"
#include "corvexids.h"
#include "version.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

using namespace corvex;

std::string MetaInfo(const FactoryPreset& preset)
{
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<MetaInfo>\n"
                       "\t<Attr id=\"MediaType\" value=\"VstPreset\" type=\"string\" flags=\"writeProtected\"/>\n"
                       "\t<Attr id=\"PlugInName\" value=\"") +
           kProcessorName + "\" type=\"string\" flags=\"writeProtected\"/>\n"
           "\t<Attr id=\"PlugInCategory\" value=\"" + kSubCategories +
           "\" type=\"string\" flags=\"writeProtected\"/>\n"
           "\t<Attr id=\"Name\" value=\"" + preset.name + "\" type=\"string\" flags=\"writeProtected\"/>\n"
           "\t<Attr id=\"Comment\" value=\"" + preset.description + "\" type=\"string\"/>\n</MetaInfo>\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: corvex-vst3-presets PRESETS_ROOT\n";
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/" + PresetFolder();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::cerr << "corvex-vst3-presets: cannot create " << folder << ": " << error.message() << "\n";
        return 1;
    }
    char classId[33] = {};
    kCorvexProcessorUID.toString(classId);
    for (const FactoryPreset& preset : kFactoryPresets) {
        const std::string path = folder + "/" + preset.name + ".vstpreset";
        const std::vector<unsigned char> state = PresetState(preset);
        const std::vector<char> bytes = corvex::hosting::BuildVstPreset({classId, {state.begin(), state.end()}, MetaInfo(preset)});
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), std::streamsize(bytes.size()));
        file.close();
        if (!file) {
            std::cerr << "corvex-vst3-presets: cannot write " << path << "\n";
            return 1;
        }
    }
    return 0;
}
