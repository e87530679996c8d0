#include "FactoryPresets.h"
#include "Lv2TestHost.h"
#include "PluginTestSupport.h"
#include "PresetFile.h"
#include "UserPresets.h"
#include "PresetFolder.h"
#include "RenderTestSupport.h"
#include "StateLayout.h"
#include "DemoPhrase.h"
#include "corvexids.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <lilv/lilv.h>
#include <lv2/presets/presets.h>

#include "public.sdk/source/common/memorystream.h"
#include "public.sdk/source/vst/vstpresetfile.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace test {
namespace {

using namespace corvex;
using namespace corvex::lv2;
using namespace Steinberg;
using corvex::hosting::PluginInstance;
using corvex::hosting::ProcessBlock;

constexpr double kRate = render::kDemoSampleRate;
constexpr std::int32_t kBlock = 512;
// Presets may be quieter or louder than the default sound, but not by more than this.
constexpr double kLevelToleranceDb = 4.0;

std::string PresetPath(const FactoryPreset& preset)
{
    return std::string(CORVEX_VST3_PRESETS_ROOT) + "/" + PresetFolder() + "/" + preset.name + ".vstpreset";
}

std::vector<char> ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<char>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
}

std::unique_ptr<PluginInstance> NewVst3()
{
    std::string error;
    auto plugin = PluginInstance::Create(Module().Factory(), HostContext(), error);
    EXPECT_TRUE(plugin) << error;
    return plugin;
}

// The phrase on both inputs, as a mono file reaches a stereo plug-in.
std::vector<float> Vst3Render(PluginInstance& plugin, const std::vector<float>& in)
{
    EXPECT_EQ(plugin.Setup(kRate, kBlock), kResultOk);
    EXPECT_EQ(plugin.Activate(true), kResultOk);
    ProcessBlock block(2, 2, kBlock);
    std::vector<float> out(in.size() * 2);
    for (size_t done = 0; done < in.size(); done += kBlock) {
        const std::int32_t n = std::int32_t(std::min<size_t>(kBlock, in.size() - done));
        std::memcpy(block.In(0), in.data() + done, sizeof(float) * size_t(n));
        std::memcpy(block.In(1), in.data() + done, sizeof(float) * size_t(n));
        EXPECT_EQ(plugin.Processor()->process(block.Prepare(n)), kResultOk);
        std::memcpy(out.data() + done, block.Out(0), sizeof(float) * size_t(n));
        std::memcpy(out.data() + in.size() + done, block.Out(1), sizeof(float) * size_t(n));
    }
    return out;
}

struct Lv2Result {
    std::vector<float> out; // left then right
    bool clipLedLit = false;
};

Lv2Result Lv2Render(Lv2Instance& instance, const std::vector<float>& in)
{
    Lv2Result result;
    result.out.assign(in.size() * 2, 0.0f);
    for (size_t done = 0; done < in.size(); done += kBlock) {
        const std::int64_t n = std::int64_t(std::min<size_t>(kBlock, in.size() - done));
        instance.Process(in.data() + done, in.data() + done, result.out.data() + done,
                         result.out.data() + in.size() + done, n, kBlock);
        result.clipLedLit = result.clipLedLit || instance.Control(PortOfParam(kOuputClippingLed)) >= 0.5f;
    }
    return result;
}

// The LV2 presets lilv finds for the plug-in, by label.
std::map<std::string, const LilvNode*> Lv2Presets(std::vector<LilvNode*>& keep)
{
    Lv2World& world = Lv2World::Get();
    LilvWorld* w = world.World();
    LilvNode* presetClass = lilv_new_uri(w, LV2_PRESETS__Preset);
    LilvNode* label = lilv_new_uri(w, LILV_NS_RDFS "label");
    LilvNodes* related = lilv_plugin_get_related(world.Plugin(), presetClass);
    std::map<std::string, const LilvNode*> presets;
    LILV_FOREACH (nodes, i, related) {
        const LilvNode* preset = lilv_nodes_get(related, i);
        lilv_world_load_resource(w, preset);
        LilvNodes* labels = lilv_world_find_nodes(w, preset, label, nullptr);
        if (labels != nullptr && lilv_nodes_size(labels) == 1) {
            LilvNode* copy = lilv_node_duplicate(preset);
            keep.push_back(copy);
            presets[lilv_node_as_string(lilv_nodes_get_first(labels))] = copy;
        }
        lilv_nodes_free(labels);
    }
    lilv_nodes_free(related);
    lilv_node_free(label);
    lilv_node_free(presetClass);
    return presets;
}

// Applies an LV2 preset the way hosts do: lilv reads it from the bundle, restores its one
// property (it holds the controls only) and sets its ports.
void ApplyLv2Preset(Lv2Instance& instance, const LilvNode* preset)
{
    LilvState* state = lilv_state_new_from_world(Lv2World::Get().World(), Lv2World::Get().Map(), preset);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(lilv_state_get_num_properties(state), 1u);
    lilv_state_free(state);
    instance.ApplyPreset(preset);
}

double RmsDb(const std::vector<float>& samples)
{
    double sum = 0.0;
    for (float s : samples)
        sum += double(s) * s;
    return 10.0 * std::log10(sum / double(samples.size()) + 1e-30);
}

std::vector<float> Phrase(double seconds, double tailSeconds = 0.0)
{
    std::vector<float> phrase = render::SynthesizeDemoPhrase();
    phrase.resize(std::min(phrase.size(), size_t(seconds * kRate)));
    phrase.resize(phrase.size() + size_t(tailSeconds * kRate), 0.0f);
    return phrase;
}

TEST(FactoryPresets, EveryPresetLoadsInBothFormatsAndSoundsTheSame)
{
    std::vector<LilvNode*> keep;
    const auto lv2Presets = Lv2Presets(keep);
    EXPECT_EQ(lv2Presets.size(), size_t(kFactoryPresetCount));
    EXPECT_GE(kFactoryPresetCount, 8);
    EXPECT_LE(kFactoryPresetCount, 12);
    const std::vector<float> in = Phrase(2.5);
    std::vector<std::vector<float>> outputs;
    for (const FactoryPreset& preset : kFactoryPresets) {
        SCOPED_TRACE(preset.name);
        auto vst3 = NewVst3();
        std::string error;
        ASSERT_TRUE(hosting::LoadVstPresetFile(PresetPath(preset), *vst3, error)) << error;
        const auto values = PresetValues(preset);
        for (ParamID id = kFirstParam; id <= kLastParam; ++id)
            EXPECT_EQ(vst3->Controller()->getParamNormalized(id), double(values[id])) << id;

        const auto found = lv2Presets.find(preset.name);
        ASSERT_NE(found, lv2Presets.end());
        auto lv2 = Lv2Instance::Create(kRate, kBlock);
        ASSERT_TRUE(lv2);
        ApplyLv2Preset(*lv2, found->second);
        for (std::uint32_t port = kPortFirstParam; port < kPortEnabled; ++port)
            EXPECT_EQ(lv2->Control(port), values[kPorts[port].id]) << kPorts[port].symbol;

        const std::vector<float> fromVst3 = Vst3Render(*vst3, in);
        const std::vector<float> fromLv2 = Lv2Render(*lv2, in).out;
        EXPECT_EQ(std::memcmp(fromVst3.data(), fromLv2.data(), sizeof(float) * fromVst3.size()), 0);
        for (const auto& other : outputs)
            EXPECT_NE(other, fromVst3) << "two presets sound the same";
        outputs.push_back(fromVst3);
    }
    for (LilvNode* node : keep)
        lilv_node_free(node);
}

void CollectPortValue(const char* symbol, void* user, const void* value, uint32_t size, uint32_t type)
{
    ASSERT_EQ(type, Lv2World::Get().Urid(LV2_ATOM__Float));
    ASSERT_EQ(size, sizeof(float));
    (*static_cast<std::map<std::string, float>*>(user))[symbol] = *static_cast<const float*>(value);
}

// Hosts show a toggled port as a checkbox and clamp nothing a preset sets: every value a preset
// holds must be one its port accepts, as the TTL states it.
TEST(FactoryPresets, EveryValueIsOneItsPortAcceptsAndSwitchesAreOnOrOff)
{
    Lv2World& world = Lv2World::Get();
    const LilvPlugin* plugin = world.Plugin();
    ASSERT_NE(plugin, nullptr);
    LilvNode* toggled = lilv_new_uri(world.World(), LV2_CORE__toggled);
    LilvNode* input = lilv_new_uri(world.World(), LV2_CORE__InputPort);
    LilvNode* control = lilv_new_uri(world.World(), LV2_CORE__ControlPort);
    LilvNode* enabled = lilv_new_uri(world.World(), LV2_CORE__enabled);
    std::vector<LilvNode*> keep;
    const auto presets = Lv2Presets(keep);
    ASSERT_EQ(presets.size(), size_t(kFactoryPresetCount));
    for (const auto& [label, node] : presets) {
        SCOPED_TRACE(label);
        LilvState* state = lilv_state_new_from_world(world.World(), world.Map(), node);
        ASSERT_NE(state, nullptr);
        std::map<std::string, float> values;
        lilv_state_emit_port_values(state, CollectPortValue, &values);
        lilv_state_free(state);
        int switches = 0;
        for (std::uint32_t index = 0; index < lilv_plugin_get_num_ports(plugin); ++index) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
            if (!lilv_port_is_a(plugin, port, input) || !lilv_port_is_a(plugin, port, control) ||
                lilv_plugin_get_port_by_designation(plugin, input, enabled) == port)
                continue;
            const std::string symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
            const auto found = values.find(symbol);
            ASSERT_NE(found, values.end()) << "the preset leaves " << symbol << " where it was";
            const float value = found->second;
            LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
            lilv_port_get_range(plugin, port, &def, &min, &max);
            EXPECT_GE(value, lilv_node_as_float(min)) << symbol;
            EXPECT_LE(value, lilv_node_as_float(max)) << symbol;
            for (LilvNode* n : {def, min, max})
                lilv_node_free(n);
            if (lilv_port_has_property(plugin, port, toggled)) {
                EXPECT_TRUE(value == 0.0f || value == 1.0f) << symbol << " = " << value;
                ++switches;
            }
        }
        EXPECT_EQ(switches, 7);
    }
    for (LilvNode* n : keep)
        lilv_node_free(n);
    for (LilvNode* n : {toggled, input, control, enabled})
        lilv_node_free(n);
}

TEST(FactoryPresets, EachStaysNearTheDefaultLevelAndNeverLightsTheOutputClipLed)
{
    const std::vector<float> in = Phrase(10.0, 3.0);
    auto render = [&](const FactoryPreset* preset) {
        auto lv2 = Lv2Instance::Create(kRate, kBlock);
        if (preset != nullptr)
            for (std::uint32_t port = kPortFirstParam; port < kPortEnabled; ++port)
                lv2->Control(port) = preset->values[kPorts[port].id - kFirstParam];
        return Lv2Render(*lv2, in);
    };
    const Lv2Result reference = render(nullptr);
    const double defaultDb = RmsDb(reference.out);
    EXPECT_FALSE(reference.clipLedLit);
    for (const FactoryPreset& preset : kFactoryPresets) {
        const Lv2Result result = render(&preset);
        const double db = RmsDb(result.out);
        std::printf("%-18s %+5.1f dB against the default sound\n", preset.name, db - defaultDb);
        EXPECT_NEAR(db, defaultDb, kLevelToleranceDb) << preset.name;
        EXPECT_FALSE(result.clipLedLit) << preset.name;
    }
}

TEST(FactoryPresets, TheSdksPresetFileReadsOursAndWeReadTheSdks)
{
    const FactoryPreset& preset = kFactoryPresets[3];
    auto plugin = NewVst3();
    std::vector<char> bytes = ReadFile(PresetPath(preset));
    ASSERT_FALSE(bytes.empty());
    Steinberg::MemoryStream in(bytes.data(), Steinberg::TSize(bytes.size()));
    ASSERT_TRUE(Vst::PresetFile::loadPreset(&in, kCorvexProcessorUID, plugin->Component(), plugin->Controller()));
    EXPECT_EQ(plugin->Controller()->getParamNormalized(kDistortionLevel), double(preset.values[kDistortionLevel - 1]));

    Steinberg::MemoryStream out;
    ASSERT_TRUE(Vst::PresetFile::savePreset(&out, kCorvexProcessorUID, plugin->Component(), plugin->Controller()));
    const std::vector<char> sdkBytes(out.getData(), out.getData() + out.getSize());
    hosting::VstPreset parsed;
    std::string error;
    ASSERT_TRUE(hosting::ParseVstPreset(sdkBytes, parsed, error)) << error;
    EXPECT_EQ(parsed.classId, plugin->ClassId());
    // Saved back as a project's state: the same values behind the plain marker.
    std::vector<unsigned char> expected = PresetState(preset);
    float marker = 0.0f;
    std::memcpy(&marker, expected.data(), sizeof marker);
    EXPECT_EQ(marker, kPresetStateMarker);
    std::memcpy(expected.data(), &kStateMarker, sizeof kStateMarker);
    EXPECT_EQ(parsed.componentState, std::vector<char>(expected.begin(), expected.end()));

    // A user's preset as corvex saves it loads as a host loads it from its preset menu.
    PresetControls mine = preset.values;
    mine[kDistortionLevel - 1] = 0.9f;
    std::vector<char> saved = EncodePresetFile("Mine", mine);
    Steinberg::MemoryStream user(saved.data(), Steinberg::TSize(saved.size()));
    ASSERT_TRUE(Vst::PresetFile::loadPreset(&user, kCorvexProcessorUID, plugin->Component(), plugin->Controller()));
    EXPECT_EQ(plugin->Controller()->getParamNormalized(kDistortionLevel), double(0.9f));
    EXPECT_EQ(std::string(kProcessorClassId), plugin->ClassId());
}

TEST(FactoryPresets, DamagedOrForeignVstPresetsAreRefusedWithNothingChanged)
{
    render_test::ScratchDir dir;
    const FactoryPreset& loaded = kFactoryPresets[1];
    auto plugin = NewVst3();
    std::string error;
    ASSERT_TRUE(hosting::LoadVstPresetFile(PresetPath(loaded), *plugin, error)) << error;
    std::vector<char> stateBefore;
    ASSERT_TRUE(plugin->SaveState(stateBefore));

    const std::vector<char> good = ReadFile(PresetPath(kFactoryPresets[5]));
    hosting::VstPreset parsed;
    ASSERT_TRUE(hosting::ParseVstPreset(good, parsed, error)) << error;
    char controllerId[33] = {};
    kCorvexControllerUID.toString(controllerId);

    std::vector<std::pair<std::string, std::vector<char>>> bad;
    hosting::VstPreset foreign = parsed;
    foreign.classId = controllerId;
    bad.push_back({"wrong class ID", hosting::BuildVstPreset(foreign)});
    hosting::VstPreset shortChunk = parsed;
    shortChunk.componentState.resize(40);
    bad.push_back({"short chunk", hosting::BuildVstPreset(shortChunk)});
    std::vector<char> magic = good;
    magic[3] = '2';
    bad.push_back({"damaged magic", magic});
    std::vector<char> version = good;
    version[4] = 2;
    bad.push_back({"unknown version", version});
    std::vector<char> classDigits = good;
    classDigits[10] = 'x';
    bad.push_back({"damaged class ID", classDigits});
    std::vector<char> listOffset = good;
    listOffset[40] = char(0xFF);
    listOffset[41] = char(0x7F);
    bad.push_back({"chunk list offset past the end", listOffset});
    std::vector<char> truncated(good.begin(), good.begin() + std::ptrdiff_t(good.size() / 2));
    bad.push_back({"truncated file", truncated});
    bad.push_back({"empty file", {}});

    for (const auto& [what, bytes] : bad) {
        SCOPED_TRACE(what);
        const std::string path = (dir / "bad.vstpreset").string();
        WriteFile(path, bytes);
        error.clear();
        EXPECT_FALSE(hosting::LoadVstPresetFile(path, *plugin, error));
        EXPECT_FALSE(error.empty());
        std::vector<char> stateAfter;
        ASSERT_TRUE(plugin->SaveState(stateAfter));
        EXPECT_EQ(stateAfter, stateBefore);
        const auto values = PresetValues(loaded);
        for (ParamID id = kFirstParam; id <= kLastParam; ++id)
            EXPECT_EQ(plugin->Controller()->getParamNormalized(id), double(values[id])) << id;
    }
    EXPECT_FALSE(hosting::LoadVstPresetFile((dir / "missing.vstpreset").string(), *plugin, error));
}

TEST(FactoryPresets, CorvexRenderListsThemAndRendersOneAsLv2applyDoesWithItsValues)
{
    const render_test::RunResult list = render_test::RunRender({"--list-presets"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    for (const FactoryPreset& preset : kFactoryPresets) {
        EXPECT_NE(list.out.find(preset.name), std::string::npos);
        EXPECT_NE(list.out.find(preset.description), std::string::npos);
    }

    render_test::ScratchDir dir;
    render_test::Audio audio{int(kRate), 2, {}};
    for (float s : Phrase(1.0)) {
        audio.samples.push_back(s);
        audio.samples.push_back(s);
    }
    const auto input = dir / "in.wav";
    render_test::WriteAudio(input, audio, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const FactoryPreset& preset = kFactoryPresets[5];
    const auto rendered = dir / "render.wav";
    const render_test::RunResult result =
        render_test::RunRender({input.string(), rendered.string(), "--preset", "high-GAIN lead", "--format", "wav32f", "-q"});
    ASSERT_EQ(result.exitCode, 0) << result.err;

    std::string command = CORVEX_EXTERNAL_HOST_ENV "LV2_PATH='" CORVEX_LV2_PATH "' lv2apply";
    for (std::uint32_t port = kPortFirstParam; port < kPortEnabled; ++port)
        command += std::string(" -c ") + kPorts[port].symbol + " " +
                   std::to_string(preset.values[kPorts[port].id - kFirstParam]);
    const auto applied = dir / "lv2.wav";
    command += " -i '" + input.string() + "' -o '" + applied.string() + "' " + kPluginUri;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const render_test::Audio a = render_test::ReadAudio(rendered);
    const render_test::Audio b = render_test::ReadAudio(applied);
    ASSERT_EQ(a.samples.size(), b.samples.size());
    EXPECT_EQ(std::memcmp(a.samples.data(), b.samples.data(), sizeof(float) * a.samples.size()), 0);

    const render_test::RunResult unknown = render_test::RunRender({input.string(), (dir / "x.wav").string(), "--preset", "Djent"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("\"Djent\" is no preset of the list; accepted: \"Corvex Default\""), std::string::npos)
        << unknown.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "x.wav"));
}

} // namespace
} // namespace test
