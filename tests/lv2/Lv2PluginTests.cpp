#include "Lv2TestHost.h"
#include "MidiMap.h"
#include "PluginTestSupport.h"
#include "RenderTestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace test {
namespace {

using namespace corvex;
using namespace corvex::lv2;
using namespace Steinberg;
using corvex::hosting::ProcessBlock;

constexpr double kRate = 44100.0;

// A stereo input whose channels differ, so the input selection matters.
struct Stereo {
    std::vector<float> left, right;
    std::int64_t Frames() const { return std::int64_t(left.size()); }
};

Stereo TestInput(double seconds)
{
    Stereo in;
    in.left = render_test::PluckedTestSignal(int(kRate), seconds);
    in.right.resize(in.left.size());
    for (size_t i = 0; i < in.left.size(); ++i)
        in.right[i] = 0.5f * in.left[(i * 7) % in.left.size()];
    return in;
}

using Settings = std::vector<std::pair<ParamID, float>>;

// Settings away from the defaults, every block audible.
const Settings kBusySettings = {{kCompressorLevel, 0.6f}, {kDistortionLevel, 0.8f}, {kStereoEnhancerOnOff, 1.0f},
                                {kChorusSpeed, 0.4f},     {kDelayLevel, 0.5f},      {kReverbLevel, 0.35f}};

// The VST 3 module through the hosting library: stereo buses, 512-sample blocks.
Stereo RenderVst3(const Stereo& in, const Settings& settings, double tempo, std::int32_t block = 512)
{
    std::string error;
    auto plugin = corvex::hosting::PluginInstance::Create(Module().Factory(), HostContext(), error);
    EXPECT_TRUE(plugin) << error;
    EXPECT_EQ(plugin->Setup(kRate, block), kResultOk);
    EXPECT_EQ(plugin->Activate(true), kResultOk);
    ProcessBlock process(2, 2, block);
    process.SetTempo(tempo);
    for (const auto& [id, value] : settings)
        process.inputChanges.Add(id, value);
    Stereo out{std::vector<float>(in.left.size()), std::vector<float>(in.left.size())};
    for (std::int64_t done = 0; done < in.Frames(); done += block) {
        const std::int32_t n = std::int32_t(std::min<std::int64_t>(block, in.Frames() - done));
        std::memcpy(process.In(0), in.left.data() + done, sizeof(float) * size_t(n));
        std::memcpy(process.In(1), in.right.data() + done, sizeof(float) * size_t(n));
        EXPECT_EQ(plugin->Processor()->process(process.Prepare(n)), kResultOk);
        process.inputChanges.Clear();
        std::memcpy(out.left.data() + done, process.Out(0), sizeof(float) * size_t(n));
        std::memcpy(out.right.data() + done, process.Out(1), sizeof(float) * size_t(n));
    }
    return out;
}

void Apply(Lv2Instance& instance, const Settings& settings)
{
    for (const auto& [id, value] : settings)
        instance.Control(PortOfParam(id)) = value;
}

Stereo RenderLv2(Lv2Instance& instance, const Stereo& in, std::int32_t block)
{
    Stereo out{std::vector<float>(in.left.size()), std::vector<float>(in.left.size())};
    instance.Process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), in.Frames(), block);
    return out;
}

bool SameBits(const Stereo& a, const Stereo& b)
{
    return a.left.size() == b.left.size() &&
           std::memcmp(a.left.data(), b.left.data(), sizeof(float) * a.left.size()) == 0 &&
           std::memcmp(a.right.data(), b.right.data(), sizeof(float) * a.right.size()) == 0;
}

std::string NodeString(const LilvNode* node)
{
    return node != nullptr ? lilv_node_as_string(node) : "";
}

// The controller a port's midi:binding names, or -1.
int BoundController(LilvWorld* w, const LilvPlugin* plugin, const LilvPort* port)
{
    LilvNode* bindingUri = lilv_new_uri(w, LV2_MIDI__binding);
    LilvNode* numberUri = lilv_new_uri(w, LV2_MIDI_PREFIX "controllerNumber");
    LilvNode* binding = lilv_port_get(plugin, port, bindingUri);
    LilvNode* number = binding != nullptr ? lilv_world_get(w, binding, numberUri, nullptr) : nullptr;
    const int controller = number != nullptr ? lilv_node_as_int(number) : -1;
    for (LilvNode* node : {bindingUri, numberUri, binding, number})
        lilv_node_free(node);
    return controller;
}

TEST(Lv2Plugin, ThePortsCarryTheVst3ParametersNamesRangesDefaultsAndToggles)
{
    Lv2World& world = Lv2World::Get();
    const LilvPlugin* plugin = world.Plugin();
    ASSERT_NE(plugin, nullptr);
    ASSERT_EQ(lilv_plugin_get_num_ports(plugin), kPortCount);
    LilvWorld* w = world.World();
    LilvNode* toggled = lilv_new_uri(w, LV2_CORE__toggled);
    LilvNode* enabled = lilv_new_uri(w, LV2_CORE__enabled);
    LilvNode* input = lilv_new_uri(w, LV2_CORE__InputPort);
    LilvNode* control = lilv_new_uri(w, LV2_CORE__ControlPort);
    std::vector<float> min(kPortCount), max(kPortCount), def(kPortCount);
    lilv_plugin_get_port_ranges_float(plugin, min.data(), max.data(), def.data());

    int parameters = 0;
    for (ParamID id = kFirstParam; id <= kCompressionLed; ++id) {
        if (id == kButton1)
            continue;
        SCOPED_TRACE(kParamInfos[id].title);
        const std::uint32_t index = PortOfParam(id);
        ASSERT_EQ(index, IsIndicator(id) ? kPortFirstIndicator + (id - kOutputLeftVumeter) : kPortFirstParam + (id - 1));
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, index);
        LilvNode* name = lilv_port_get_name(plugin, port);
        EXPECT_EQ(NodeString(name), kParamInfos[id].title);
        lilv_node_free(name);
        EXPECT_TRUE(lilv_port_is_a(plugin, port, control));
        EXPECT_EQ(lilv_port_is_a(plugin, port, input), !IsIndicator(id));
        EXPECT_EQ(min[index], 0.0f);
        EXPECT_EQ(max[index], 1.0f);
        EXPECT_EQ(def[index], kParamInfos[id].defaultValue); // bit for bit, 0.8f included
        const bool isSwitch = kParamInfos[id].kind == ParamKind::Switch || kParamInfos[id].kind == ParamKind::Led;
        EXPECT_EQ(lilv_port_has_property(plugin, port, toggled), isSwitch);
        EXPECT_EQ(BoundController(w, plugin, port), IsIndicator(id) ? -1 : corvex::DefaultMidiController(id));
        ++parameters;
    }
    EXPECT_EQ(parameters, 17);

    const LilvPort* bypass = lilv_plugin_get_port_by_index(plugin, PortOfParam(kBypass));
    LilvNode* designates = lilv_new_uri(w, LV2_CORE__designation);
    LilvNode* designation = lilv_port_get(plugin, bypass, designates);
    EXPECT_EQ(NodeString(designation), LV2_CORE__enabled);
    lilv_node_free(designation);
    lilv_node_free(designates);
    EXPECT_EQ(def[kPortEnabled], 1.0f);
    EXPECT_TRUE(lilv_port_has_property(plugin, bypass, toggled));
    const LilvPort* byDesignation = lilv_plugin_get_port_by_designation(plugin, input, enabled);
    EXPECT_EQ(byDesignation, bypass);
    for (LilvNode* node : {toggled, enabled, input, control})
        lilv_node_free(node);
}

// What pedalboard hosts read: MOD's brand and short label, and the kinds of file its file manager
// offers for the Cabinet IR.
TEST(Lv2Plugin, TheTtlNamesItAndItsIrFilesForPedalboardHosts)
{
    constexpr const char* kMod = "http://moddevices.com/ns/mod#";
    struct Expected {
        const char* subject;
        const char* property;
        const char* value;
    };
    const Expected table[] = {{kPluginUri, "brand", "Corvex"},
                              {kPluginUri, "label", "Corvex Amp"},
                              {kImpulseUri, "fileTypes", "ir,cabsim"}};
    Lv2World& world = Lv2World::Get();
    ASSERT_NE(world.Plugin(), nullptr);
    ASSERT_EQ(lilv_plugin_get_num_ports(world.Plugin()), kPortCount); // loads corvex.ttl
    LilvWorld* w = world.World();
    for (const Expected& expected : table) {
        SCOPED_TRACE(expected.property);
        LilvNode* subject = lilv_new_uri(w, expected.subject);
        LilvNode* property = lilv_new_uri(w, (std::string(kMod) + expected.property).c_str());
        LilvNode* value = lilv_world_get(w, subject, property, nullptr);
        EXPECT_EQ(NodeString(value), expected.value);
        EXPECT_LE(NodeString(value).size(), 16u); // MOD cuts labels after 16 characters
        for (LilvNode* node : {subject, property, value})
            lilv_node_free(node);
    }
}

TEST(Lv2Plugin, BlocksOfAnySizeGiveTheVst3ModulesBits)
{
    const Stereo in = TestInput(1.5);
    const Stereo reference = RenderVst3(in, kBusySettings, 96.0);
    for (std::int32_t block : {1, 64, 1000, 4096}) {
        SCOPED_TRACE(block);
        auto instance = Lv2Instance::Create(kRate, 4096);
        ASSERT_TRUE(instance);
        Apply(*instance, kBusySettings);
        instance->SendTempo(96.0f);
        EXPECT_TRUE(SameBits(RenderLv2(*instance, in, block), reference));
    }
}

// The UI's tuner messages every 50 ms open the tuner: the worker's readings of the selected input
// reach the notify port within 100 ms of the audio they end with, and the output is muted; once
// the messages stop (a UI gone without a word) the plug-in closes the tuner and plays again.
TEST(Lv2Plugin, TheTunerReadsInTheWorkerAndClosesWhenTheUiFallsSilent)
{
    constexpr double kRate = 48000.0;
    constexpr std::int32_t kBlock = 480;
    auto instance = Lv2Instance::Create(kRate, kBlock);
    ASSERT_NE(instance, nullptr);
    std::vector<float> inL(kBlock), inR(kBlock, 0.0f), outL(kBlock), outR(kBlock);
    std::int64_t played = 0;
    const auto play = [&]() {
        FillSine(inL.data(), kBlock, 220.0, kRate, 0.5, played);
        played += kBlock;
        instance->Process(inL.data(), inR.data(), outL.data(), outR.data(), kBlock, kBlock);
    };
    for (int i = 0; i < 50; ++i)
        play();
    std::vector<float> reading;
    const std::int64_t opened = played;
    for (int i = 0; i < 20 && (reading.empty() || reading[1] == 0.0f); ++i) {
        if (i % 5 == 0)
            instance->SetTuner(true, true);
        play();
        EXPECT_TRUE(AllZero(outL.data(), kBlock)) << "block " << i;
        for (const Lv2Notification& told : instance->TakeNotifications()) {
            if (told.property != kTunerReadingUri)
                continue;
            reading = told.values;
            ASSERT_EQ(reading.size(), 4u);
            EXPECT_LE(double(played - opened) / kRate - reading[0], 0.1) << "a late reading";
        }
    }
    ASSERT_EQ(reading.size(), 4u) << "no reading";
    EXPECT_NEAR(reading[1], 220.0, 0.2);
    EXPECT_EQ(reading[2], 57.0f);
    for (int i = 0; i < int(kTunerTimeoutSeconds * kRate / kBlock) + 1; ++i)
        play();
    EXPECT_FALSE(AllZero(outL.data(), kBlock)) << "still muted with no message for " << kTunerTimeoutSeconds << " s";
}

TEST(Lv2Plugin, RunsLongerThanTheStatedMaximumAreSlicedWithoutChangingABit)
{
    const Stereo in = TestInput(0.5);
    const Stereo reference = RenderVst3(in, {}, 120.0);
    auto instance = Lv2Instance::Create(kRate, 20000, 64);
    ASSERT_TRUE(instance);
    EXPECT_TRUE(SameBits(RenderLv2(*instance, in, 20000), reference));
}

TEST(Lv2Plugin, TheHostTempoDrivesTheDelayWithTheVst3sValidityRules)
{
    const Stereo in = TestInput(1.0);
    const Settings delayOnly = {{kReverbOnOff, 0.0f}, {kModulationOnOff, 0.0f}};
    auto render = [&](std::optional<float> tempo) {
        auto instance = Lv2Instance::Create(kRate, 512);
        Apply(*instance, delayOnly);
        if (tempo)
            instance->SendTempo(*tempo);
        return RenderLv2(*instance, in, 512);
    };
    const Stereo atDefault = render(std::nullopt); // no time:Position at all
    EXPECT_TRUE(SameBits(atDefault, RenderVst3(in, delayOnly, 120.0)));
    const Stereo at90 = render(90.0f);
    EXPECT_FALSE(SameBits(at90, atDefault));
    EXPECT_TRUE(SameBits(at90, RenderVst3(in, delayOnly, 90.0)));
    // Out of range: clamped as the VST 3 clamps its host's tempo.
    EXPECT_TRUE(SameBits(render(5000.0f), RenderVst3(in, delayOnly, 999.0)));
    // A host whose sequence buffer is only 4-byte aligned is understood all the same.
    auto misaligned = Lv2Instance::Create(kRate, 512);
    Apply(*misaligned, delayOnly);
    misaligned->MisalignTimeBuffer();
    misaligned->SendTempo(90.0f);
    EXPECT_TRUE(SameBits(RenderLv2(*misaligned, in, 512), at90));
    // Not a usable tempo: ignored, the previous one stays.
    for (float unusable : {-10.0f, 0.0f, -std::numeric_limits<float>::infinity(), std::nanf("")}) {
        SCOPED_TRACE(unusable);
        EXPECT_TRUE(SameBits(render(unusable), atDefault));
    }
}

TEST(Lv2Plugin, DisabledByTheHostTheInputPassesThroughUntouched)
{
    const Stereo in = TestInput(0.3);
    auto instance = Lv2Instance::Create(kRate, 256);
    instance->Control(kPortEnabled) = 0.0f;
    const Stereo out = RenderLv2(*instance, in, 256);
    EXPECT_TRUE(SameBits(out, in));
    EXPECT_EQ(instance->Control(PortOfParam(kOutputLeftVumeter)), 0.0f);
    // Enabled again, it processes: the distortion changes the signal.
    instance->Control(kPortEnabled) = 1.0f;
    EXPECT_FALSE(SameBits(RenderLv2(*instance, in, 256), in));
}

// Switched off and on (deactivate, activate), it forgets its echoes and reverb (both at full, the
// gate, distortion and chorus out of the way). The equalisers keep their filter memories through
// a reset, so the reference is an instance that heard only the last half second of the same
// input: their memories agree by then.
TEST(Lv2Plugin, SwitchedOffAndOnItForgetsTheEchoesAndReverbOfBefore)
{
    const Stereo in = TestInput(1.0);
    const std::int64_t recent = std::int64_t(0.5 * kRate) / 512 * 512;
    const Stereo silence{std::vector<float>(size_t(kRate / 2)), std::vector<float>(size_t(kRate / 2))};
    std::vector<Stereo> after;
    for (std::int64_t from : {std::int64_t{0}, in.Frames() - recent}) {
        auto instance = Lv2Instance::Create(kRate, 512);
        ASSERT_TRUE(instance);
        Apply(*instance, {{kGateCompressorOnOff, 0.0f}, {kDistortionOnOff, 0.0f}, {kModulationOnOff, 0.0f},
                          {kDelayLevel, 1.0f}, {kReverbLevel, 1.0f}});
        Stereo heard{{in.left.begin() + from, in.left.end()}, {in.right.begin() + from, in.right.end()}};
        RenderLv2(*instance, heard, 512);
        instance->Reactivate();
        after.push_back(RenderLv2(*instance, silence, 512));
    }
    float worst = 0.0f;
    for (std::size_t i = 0; i < silence.left.size(); ++i)
        worst = std::max({worst, std::fabs(after[0].left[i] - after[1].left[i]),
                          std::fabs(after[0].right[i] - after[1].right[i])});
    EXPECT_LT(worst, 1e-6f) << "stale echoes after switching it off and on";
}

TEST(Lv2Plugin, MetersAndLedsReachTheOutputPorts)
{
    const Stereo in = TestInput(0.5);
    auto instance = Lv2Instance::Create(kRate, 512);
    Stereo loud = in;
    for (float& s : loud.left)
        s *= 4.0f; // clips the input
    RenderLv2(*instance, loud, 512);
    EXPECT_GT(instance->Control(PortOfParam(kOutputLeftVumeter)), 0.0f);
    EXPECT_GT(instance->Control(PortOfParam(kOutputRightVumeter)), 0.0f);
    EXPECT_EQ(instance->Control(PortOfParam(kInputClippingLed)), 1.0f);
    // Values outside the ports' range and NaN never make the output leave full scale.
    for (std::uint32_t port = kPortFirstParam; port < kPortEnabled; ++port)
        instance->Control(port) = port % 2 ? 1e30f : std::nanf("");
    const Stereo out = RenderLv2(*instance, loud, 512);
    for (std::int64_t i = 0; i < out.Frames(); ++i) {
        ASSERT_TRUE(std::isfinite(out.left[size_t(i)]) && std::fabs(out.left[size_t(i)]) <= 1.0f);
        ASSERT_TRUE(std::isfinite(out.right[size_t(i)]) && std::fabs(out.right[size_t(i)]) <= 1.0f);
    }
}

TEST(Lv2Plugin, InstantiationAtAnImpossibleRateFailsAndWithoutFeaturesWorks)
{
    LV2_Feature map{LV2_URID__map, Lv2World::Get().Map()};
    const LV2_Feature* features[] = {&map, nullptr};
    EXPECT_EQ(lilv_plugin_instantiate(Lv2World::Get().Plugin(), 0.0, features), nullptr);
    EXPECT_EQ(lilv_plugin_instantiate(Lv2World::Get().Plugin(), -48000.0, features), nullptr);
    EXPECT_EQ(lilv_plugin_instantiate(Lv2World::Get().Plugin(), std::nan(""), features), nullptr);
    // Above the rate every line holds its full time at, as the VST 3 refuses it.
    EXPECT_EQ(lilv_plugin_instantiate(Lv2World::Get().Plugin(), 384000.0, features), nullptr);
    LilvInstance* at192 = lilv_plugin_instantiate(Lv2World::Get().Plugin(), 192000.0, features);
    EXPECT_NE(at192, nullptr);
    if (at192 != nullptr)
        lilv_instance_free(at192);
    // No options: a default maximum block. No map: no tempo from the host, 120 it is.
    LilvInstance* fine = lilv_plugin_instantiate(Lv2World::Get().Plugin(), 48000.0, features);
    ASSERT_NE(fine, nullptr);
    EXPECT_STREQ(lilv_instance_get_descriptor(fine)->URI, kPluginUri);
    lilv_instance_free(fine);
    LilvInstance* bare = lilv_plugin_instantiate(Lv2World::Get().Plugin(), 48000.0, nullptr);
    ASSERT_NE(bare, nullptr);
    lilv_instance_free(bare);
    // So it asks for no feature: a host refuses to load a plug-in that requires one it lacks.
    LilvNodes* required = lilv_plugin_get_required_features(Lv2World::Get().Plugin());
    EXPECT_EQ(lilv_nodes_size(required), 0u);
    lilv_nodes_free(required);
}

// lv2apply (lilv's own file host) on a file gives the bits corvex-render gives with the VST 3.
TEST(Lv2Plugin, Lv2applyOnAFileGivesCorvexRendersBits)
{
    render_test::ScratchDir dir;
    const Stereo in = TestInput(1.0);
    render_test::Audio audio{int(kRate), 2, {}};
    for (std::int64_t i = 0; i < in.Frames(); ++i) {
        audio.samples.push_back(in.left[size_t(i)]);
        audio.samples.push_back(in.right[size_t(i)]);
    }
    const auto input = dir / "in.wav";
    render_test::WriteAudio(input, audio, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    const auto lv2Out = dir / "lv2.wav";
    const std::string command = CORVEX_EXTERNAL_HOST_ENV "LV2_PATH='" CORVEX_LV2_PATH "' lv2apply -c distortion_level 0.7 -c delay_level 0.4 -i '" +
                                input.string() + "' -o '" + lv2Out.string() + "' " + kPluginUri;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    const auto vst3Out = dir / "vst3.wav";
    const render_test::RunResult result = render_test::RunRender(
        {input.string(), vst3Out.string(), "--set", "Distortion Level=0.7", "--set", "Delay Level=0.4", "--format",
         "wav32f", "-q"});
    ASSERT_EQ(result.exitCode, 0) << result.err;

    const render_test::Audio a = render_test::ReadAudio(lv2Out);
    const render_test::Audio b = render_test::ReadAudio(vst3Out);
    ASSERT_EQ(a.channels, 2);
    ASSERT_EQ(a.samples.size(), b.samples.size());
    EXPECT_EQ(std::memcmp(a.samples.data(), b.samples.data(), sizeof(float) * a.samples.size()), 0);
}

} // namespace
} // namespace test
