#include "UserPresets.h"

#include "FactoryPresets.h"
#include "FileWriting.h"
#include "PresetFolder.h"
#include "StateLayout.h"
#include "VstPresetFile.h"
#include "version.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace corvex {

namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

fs::path PresetPath(const std::string& directory, const std::string& name)
{
    return fs::path(directory) / (LegalFileName(name) + kPresetExtension);
}

bool CheckName(const std::string& name, std::string& error)
{
    if (name.empty() || name.find_first_not_of(' ') == std::string::npos) {
        error = "a preset needs a name";
        return false;
    }
    if (FindFactoryPreset(name)) {
        error = Quoted(name) + " is a factory preset's name; choose another";
        return false;
    }
    return true;
}

std::string MetaInfo(const std::string& name)
{
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<MetaInfo>\n"
                       "\t<Attr id=\"MediaType\" value=\"VstPreset\" type=\"string\" flags=\"writeProtected\"/>\n"
                       "\t<Attr id=\"PlugInName\" value=\"") +
           kProcessorName + "\" type=\"string\" flags=\"writeProtected\"/>\n\t<Attr id=\"PlugInCategory\" value=\"" +
           kSubCategories + "\" type=\"string\" flags=\"writeProtected\"/>\n\t<Attr id=\"Name\" value=\"" + name +
           "\" type=\"string\" flags=\"writeProtected\"/>\n</MetaInfo>\n";
}

} // namespace

std::string UserPresetDirectory()
{
#ifdef _WIN32
    const char* home = std::getenv("USERPROFILE");
    const char* root = "Documents/VST3 Presets";
#else
    const char* home = std::getenv("HOME");
    const char* root = ".vst3/presets";
#endif
    if (!home || !*home)
        return {};
    return (fs::path(home) / root / PresetFolder()).make_preferred().string();
}

bool DecodePresetFile(const std::vector<char>& bytes, PresetControls& values, std::string& error)
{
    VstPreset preset;
    if (!ParseVstPreset(bytes, preset, error))
        return false;
    if (!SameNameInAnyCase(preset.classId, kProcessorClassId)) {
        error = "another plug-in's preset (class " + preset.classId + ")";
        return false;
    }
    if (preset.componentState.size() < kStateSize) {
        error = "its state is " + std::to_string(preset.componentState.size()) + " bytes, not a Corvex state";
        return false;
    }
    for (ParamID id = kFirstParam; id <= kReverbLevel; ++id) {
        std::uint32_t bits = 0;
        for (int i = 0; i < kStateValueBytes; ++i)
            bits |= std::uint32_t(static_cast<unsigned char>(preset.componentState[kStateValueBytes * id + i])) << (8 * i);
        float value = 0.0f;
        std::memcpy(&value, &bits, sizeof value);
        if (!(value >= 0.0f && value <= 1.0f)) {
            error = std::string("its \"") + kParamInfos[id].title + "\" is not a value from 0 to 1";
            return false;
        }
        values[id - kFirstParam] = value;
    }
    return true;
}

std::vector<char> EncodePresetFile(const std::string& name, const PresetControls& values)
{
    FactoryPreset preset{name.c_str(), "", "", values};
    const std::vector<unsigned char> state = PresetState(preset);
    return BuildVstPreset({kProcessorClassId, {state.begin(), state.end()}, MetaInfo(name)});
}

std::vector<PresetEntry> ReadUserPresets(const std::string& directory, std::vector<std::string>& skipped)
{
    std::vector<PresetEntry> presets;
    std::error_code ec;
    if (directory.empty() || !fs::is_directory(directory, ec))
        return presets;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory, ec)) {
        const fs::path& path = entry.path();
        if (path.extension() != kPresetExtension || !entry.is_regular_file(ec))
            continue;
        std::ifstream file(path, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        PresetEntry preset;
        std::string why;
        const FactoryPreset* factory = FindFactoryPreset(path.stem().string());
        if (!file.good() && !file.eof())
            why = "it cannot be read";
        else if (DecodePresetFile(bytes, preset.values, why) && factory && preset.values != factory->values)
            why = "it has a factory preset's name";
        // The factory presets are installed here too; the list has them first already.
        if (why.empty() && factory)
            continue;
        if (!why.empty()) {
            skipped.push_back("skipped preset " + Quoted(path.string()) + ": " + why);
            continue;
        }
        preset.name = path.stem().string();
        preset.path = path.string();
        presets.push_back(std::move(preset));
    }
    std::sort(presets.begin(), presets.end(), [](const PresetEntry& a, const PresetEntry& b) { return a.name < b.name; });
    return presets;
}

std::vector<PresetEntry> PresetList(const std::vector<PresetEntry>& user)
{
    std::vector<PresetEntry> list;
    for (const FactoryPreset& preset : kFactoryPresets)
        list.push_back({preset.name, preset.values, {}});
    list.insert(list.end(), user.begin(), user.end());
    return list;
}

const PresetEntry* FindPreset(const std::vector<PresetEntry>& list, const std::string& name)
{
    for (const PresetEntry& entry : list)
        if (SameNameInAnyCase(entry.name, name))
            return &entry;
    return nullptr;
}

bool SaveUserPreset(const std::string& directory, const std::string& name, const PresetControls& values, bool overwrite,
                    std::string& error)
{
    if (!CheckName(name, error))
        return false;
    const fs::path path = PresetPath(directory, name);
    std::error_code ec;
    if (!overwrite && fs::exists(path, ec)) {
        error = "a preset named " + Quoted(name) + " exists already";
        return false;
    }
    const std::vector<char> bytes = EncodePresetFile(name, values);
    return WriteFileAtomically(path, bytes.data(), bytes.size(), error);
}

bool RenameUserPreset(const std::string& directory, const std::string& from, const std::string& to, std::string& error)
{
    if (!CheckName(to, error))
        return false;
    const fs::path source = PresetPath(directory, from), target = PresetPath(directory, to);
    std::error_code ec;
    if (!fs::exists(source, ec)) {
        error = "there is no preset named " + Quoted(from);
        return false;
    }
    if (fs::exists(target, ec) && !fs::equivalent(source, target, ec)) {
        error = "a preset named " + Quoted(to) + " exists already";
        return false;
    }
    // The name inside the file follows the file's.
    std::ifstream file(source, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    PresetControls values{};
    if (!DecodePresetFile(bytes, values, error))
        return false;
    if (!SaveUserPreset(directory, to, values, true, error))
        return false;
    if (!fs::equivalent(source, target, ec))
        fs::remove(source, ec);
    return true;
}

bool DeleteUserPreset(const std::string& directory, const std::string& name, std::string& error)
{
    std::error_code ec;
    if (!fs::remove(PresetPath(directory, name), ec)) {
        error = "there is no preset named " + Quoted(name);
        return false;
    }
    return true;
}

} // namespace corvex
