// User cabinet IRs in the LV2 plug-in, through lilv: chosen as the patch:writable property's path,
// carried inside the saved state as samples, refused with a reason on the notify port.

#include "FactoryPresets.h"
#include "ImpulseFile.h"
#include "ImpulsePreparation.h"
#include "Lv2TestHost.h"
#include "ProcessorCore.h"
#include "RenderTestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace test {
namespace {

using namespace corvex;
using namespace corvex::lv2;

constexpr double kRate = 44100.0;
constexpr std::int32_t kBlock = 512;

struct Stereo {
    std::vector<float> left, right;
};

Stereo TestInput()
{
    Stereo in;
    in.left = render_test::PluckedTestSignal(int(kRate), 0.6);
    in.right.resize(in.left.size());
    for (size_t i = 0; i < in.left.size(); ++i)
        in.right[i] = 0.5f * in.left[(i * 7) % in.left.size()];
    return in;
}

// Silence long enough for any load to be done, then the plug-in switched off and on as hosts do:
// every running state starts again there, the IR's partitions included, so only the cabinet in
// use matters afterwards, not the block it came in at.
void Settle(Lv2Instance& instance)
{
    const std::vector<float> silence(size_t(kRate / 2));
    std::vector<float> out(silence.size());
    instance.Process(silence.data(), silence.data(), out.data(), out.data(), std::int64_t(silence.size()), kBlock);
    instance.Reactivate();
}

Stereo Render(Lv2Instance& instance)
{
    static const Stereo in = TestInput();
    Stereo out{std::vector<float>(in.left.size()), std::vector<float>(in.left.size())};
    instance.Process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), std::int64_t(in.left.size()),
                     kBlock);
    return out;
}

bool SameBits(const Stereo& a, const Stereo& b)
{
    return a.left.size() == b.left.size() &&
           std::memcmp(a.left.data(), b.left.data(), sizeof(float) * a.left.size()) == 0 &&
           std::memcmp(a.right.data(), b.right.data(), sizeof(float) * a.right.size()) == 0;
}

// A small room-like IR: decaying noise from a fixed generator, the right channel its own.
void WriteImpulse(const std::filesystem::path& path, int rate, int channels, int format, double seconds = 0.08,
                  double gain = 0.5)
{
    render_test::Audio audio{rate, channels, {}};
    std::uint32_t seed = 12345u;
    const int frames = int(seconds * rate);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const double noise = double(seed >> 8) / double(1u << 24) - 0.5;
            audio.samples.push_back(float(gain * noise * std::exp(-40.0 * i / rate)));
        }
    render_test::WriteAudio(path, audio, format);
}

std::unique_ptr<Lv2Instance> NewInstance()
{
    auto instance = Lv2Instance::Create(kRate, kBlock);
    EXPECT_TRUE(instance);
    return instance;
}

// The last notification about property, if any.
std::optional<Lv2Notification> Last(const std::vector<Lv2Notification>& notifications, const char* property)
{
    std::optional<Lv2Notification> found;
    for (const Lv2Notification& n : notifications)
        if (n.property == property)
            found = n;
    return found;
}

// The built-in cabinet after `settles` silences. Outputs compare only after the same number of
// samples: the chorus moves on with every one.
Stereo BuiltIn(int settles = 1)
{
    auto instance = NewInstance();
    for (int i = 0; i < settles; ++i)
        Settle(*instance);
    return Render(*instance);
}

// What every format runs: the shared processor core with the IR read and prepared as the VST 3
// and the apps do, settled as Settle settles the LV2.
Stereo RenderCore(const std::string& irPath, const std::vector<std::pair<ParamID, float>>& settings)
{
    CProcessorCore core;
    EXPECT_TRUE(core.Prepare(kRate, kBlock));
    core.Activate();
    for (const auto& [id, value] : settings)
        core.SetParam(id, value);
    ImpulseSource source;
    std::string error;
    EXPECT_TRUE(ReadImpulseFile(irPath, source, error)) << error;
    EXPECT_EQ(core.ExchangeImpulse(PrepareImpulse(source, kRate).release()), nullptr);
    const Stereo in = TestInput();
    const std::vector<float> silence(size_t(kRate / 2));
    Stereo out{std::vector<float>(in.left.size()), std::vector<float>(in.left.size())};
    std::vector<float> scratch(kBlock);
    const auto run = [&](const float* left, const float* right, float* outL, float* outR, size_t n) {
        for (size_t done = 0; done < n; done += kBlock) {
            const int count = int(std::min<size_t>(kBlock, n - done));
            const float* inputs[2] = {left + done, right + done};
            float* outputs[2] = {outL != nullptr ? outL + done : scratch.data(),
                                 outR != nullptr ? outR + done : scratch.data()};
            std::uint64_t silent = 0;
            core.BeginBlock();
            EXPECT_TRUE(core.Run(inputs, 2, 0, outputs, 2, count, silent));
        }
    };
    run(silence.data(), silence.data(), nullptr, nullptr, silence.size());
    core.Activate();
    run(in.left.data(), in.right.data(), out.left.data(), out.right.data(), in.left.size());
    return out;
}

struct IrFormat {
    const char* name;
    int rate, channels, format;
};

void PrintTo(const IrFormat& format, std::ostream* out)
{
    *out << format.name;
}

class Lv2ImpulseState : public ::testing::TestWithParam<IrFormat> {};

// Saved through lilv as Turtle, the file deleted, restored in a new instance: the same IR plays
// (every bit) and the UI learns its name and the restored values. A state without an IR brings
// back the built-in cabinet.
TEST_P(Lv2ImpulseState, ASavedStateCarriesTheIrWithoutItsFile)
{
    render_test::ScratchDir dir;
    const auto file = dir / (std::string(GetParam().name) + ".wav");
    WriteImpulse(file, GetParam().rate, GetParam().channels, GetParam().format);

    auto original = NewInstance();
    original->Control(PortOfParam(kDelayOnOff)) = 0.0f;
    original->Control(PortOfParam(kDistortionLevel)) = 0.3f;
    original->SetImpulsePath(file.string());
    Settle(*original);
    const std::vector<Lv2Notification> loaded = original->TakeNotifications();
    ASSERT_TRUE(Last(loaded, kImpulseUri));
    EXPECT_EQ(Last(loaded, kImpulseUri)->text, file.string());
    ASSERT_TRUE(Last(loaded, kImpulseNameUri));
    EXPECT_EQ(Last(loaded, kImpulseNameUri)->text, file.filename().string());
    const Stereo withIr = Render(*original);
    const Stereo builtIn = BuiltIn();
    EXPECT_TRUE(SameBits(withIr, RenderCore(file.string(), {{kDelayOnOff, 0.0f}, {kDistortionLevel, 0.3f}})));
    const std::string state = original->SaveState();
    std::filesystem::remove(file);

    auto restored = NewInstance();
    restored->RestoreState(state);
    EXPECT_EQ(restored->Control(PortOfParam(kDistortionLevel)), 0.3f);
    Settle(*restored);
    // No file stands behind a restored IR: the host hears no path, the UI its name.
    const std::vector<Lv2Notification> told = restored->TakeNotifications();
    EXPECT_FALSE(Last(told, kImpulseUri));
    ASSERT_TRUE(Last(told, kImpulseNameUri));
    EXPECT_EQ(Last(told, kImpulseNameUri)->text, file.filename().string());
    const std::optional<Lv2Notification> controls = Last(told, kControlsUri);
    ASSERT_TRUE(controls);
    ASSERT_EQ(controls->values.size(), size_t(kPortEnabled - kPortFirstParam));
    EXPECT_EQ(controls->values[PortOfParam(kDelayOnOff) - kPortFirstParam], 0.0f);
    EXPECT_EQ(controls->values[PortOfParam(kDistortionLevel) - kPortFirstParam], 0.3f);
    EXPECT_TRUE(SameBits(Render(*restored), withIr));
    EXPECT_FALSE(SameBits(withIr, builtIn)); // the IR is what plays

    auto again = NewInstance();
    again->RestoreState(state);
    Settle(*again);
    again->TakeNotifications();
    again->RestoreState(NewInstance()->SaveState());
    Settle(*again);
    EXPECT_TRUE(SameBits(Render(*again), BuiltIn(2)));
    const std::vector<Lv2Notification> cleared = again->TakeNotifications();
    EXPECT_FALSE(Last(cleared, kImpulseUri));
    ASSERT_TRUE(Last(cleared, kImpulseNameUri));
    EXPECT_EQ(Last(cleared, kImpulseNameUri)->text, "");
}

INSTANTIATE_TEST_SUITE_P(Formats, Lv2ImpulseState,
                         ::testing::Values(IrFormat{"mono_48k_pcm24", 48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
                                           IrFormat{"stereo_44k_float", 44100, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT}),
                         [](const auto& test) { return std::string(test.param.name); });

// Hosts' own file choosers send a patch:Set of the property; an empty path is the built-in cabinet.
TEST(Lv2Impulse, APatchSetPathLoadsTheIrAndAnEmptyOneBringsBackTheBuiltInCabinet)
{
    render_test::ScratchDir dir;
    const auto file = dir / "cab.wav";
    WriteImpulse(file, 48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    const Stereo builtIn = BuiltIn(2);

    auto loaded = NewInstance();
    loaded->SetImpulsePath(file.string());
    Settle(*loaded);
    ASSERT_TRUE(Last(loaded->TakeNotifications(), kImpulseUri));
    Settle(*loaded);
    EXPECT_FALSE(SameBits(Render(*loaded), builtIn));
    LV2_URID type = 0;
    EXPECT_FALSE(loaded->SavedProperty(kImpulseStateUri, type).empty());
    EXPECT_EQ(type, Lv2World::Get().Urid(LV2_ATOM__Chunk));

    auto cleared = NewInstance();
    cleared->SetImpulsePath(file.string());
    Settle(*cleared);
    cleared->TakeNotifications();
    cleared->SetImpulsePath("");
    Settle(*cleared);
    // The built-in cabinet is no file: the UI hears an empty name, the host no path.
    const std::vector<Lv2Notification> told = cleared->TakeNotifications();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].property, kImpulseNameUri);
    EXPECT_EQ(told[0].text, "");
    EXPECT_TRUE(SameBits(Render(*cleared), builtIn));
    EXPECT_TRUE(cleared->SavedProperty(kImpulseStateUri, type).empty());
}

// A factory preset holds the controls only: loaded over an IR, the IR keeps playing under the
// preset's settings, the UI hears its name, and a save still holds it.
TEST(Lv2Impulse, AFactoryPresetSetsTheControlsAndKeepsTheIr)
{
    render_test::ScratchDir dir;
    const auto file = dir / "cab.wav";
    WriteImpulse(file, 48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    const FactoryPreset& preset = kFactoryPresets[3];
    LilvNode* node = lilv_new_uri(Lv2World::Get().World(), (std::string(kPluginUri) + "#preset-" + preset.symbol).c_str());

    auto reference = NewInstance();
    reference->ApplyPreset(node);
    reference->SetImpulsePath(file.string());
    Settle(*reference);
    Settle(*reference);
    auto instance = NewInstance();
    instance->SetImpulsePath(file.string());
    Settle(*instance);
    LV2_URID type = 0;
    const std::vector<std::uint8_t> section = instance->SavedProperty(kImpulseStateUri, type);
    instance->TakeNotifications();
    instance->ApplyPreset(node);
    Settle(*instance);
    lilv_node_free(node);

    EXPECT_EQ(instance->Control(PortOfParam(kDistortionLevel)), preset.values[kDistortionLevel - kFirstParam]);
    const std::vector<Lv2Notification> told = instance->TakeNotifications();
    ASSERT_TRUE(Last(told, kImpulseNameUri));
    EXPECT_EQ(Last(told, kImpulseNameUri)->text, "cab.wav");
    EXPECT_EQ(instance->SavedProperty(kImpulseStateUri, type), section);
    EXPECT_TRUE(SameBits(Render(*instance), Render(*reference)));
}

struct BadFile {
    const char* name;
    void (*write)(const std::filesystem::path& path);
};

void PrintTo(const BadFile& file, std::ostream* out)
{
    *out << file.name;
}

class Lv2ImpulseRefusal : public ::testing::TestWithParam<BadFile> {};

// A file the plug-in cannot use: the UI hears why (naming the file), the IR playing stays, and
// so does what a save writes.
TEST_P(Lv2ImpulseRefusal, ARefusedFileSaysWhyAndChangesNothing)
{
    render_test::ScratchDir dir;
    const auto good = dir / "good.wav";
    WriteImpulse(good, 48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    const auto bad = dir / (std::string(GetParam().name) + ".wav");
    GetParam().write(bad);

    auto reference = NewInstance();
    reference->SetImpulsePath(good.string());
    Settle(*reference);
    Settle(*reference);
    auto instance = NewInstance();
    instance->SetImpulsePath(good.string());
    Settle(*instance);
    LV2_URID type = 0;
    const std::vector<std::uint8_t> section = instance->SavedProperty(kImpulseStateUri, type);
    instance->TakeNotifications();

    instance->SetImpulsePath(bad.string());
    Settle(*instance);
    const std::vector<Lv2Notification> told = instance->TakeNotifications();
    EXPECT_FALSE(Last(told, kImpulseUri));
    const std::optional<Lv2Notification> error = Last(told, kImpulseErrorUri);
    ASSERT_TRUE(error);
    EXPECT_NE(error->text.find(bad.filename().string()), std::string::npos) << error->text;
    EXPECT_TRUE(SameBits(Render(*instance), Render(*reference)));
    EXPECT_EQ(instance->SavedProperty(kImpulseStateUri, type), section);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Lv2ImpulseRefusal,
    ::testing::Values(BadFile{"missing", [](const std::filesystem::path&) {}},
                      BadFile{"not_audio", [](const std::filesystem::path& p) { std::ofstream(p) << "not a sound"; }},
                      BadFile{"silent",
                              [](const std::filesystem::path& p) {
                                  WriteImpulse(p, 48000, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0.05, 0.0);
                              }},
                      BadFile{"three_channels",
                              [](const std::filesystem::path& p) {
                                  WriteImpulse(p, 48000, 3, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
                              }},
                      BadFile{"longer_than_10_s",
                              [](const std::filesystem::path& p) {
                                  WriteImpulse(p, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 10.5);
                              }}),
    [](const auto& test) { return std::string(test.param.name); });

// A damaged IR in a state is refused whole: the restore fails, the cabinet and what a save writes
// stay as they were, and the UI hears why. The intact section restores.
TEST(Lv2Impulse, ADamagedStateSectionIsRefusedWholeAndChangesNothing)
{
    render_test::ScratchDir dir;
    const auto file = dir / "cab.wav";
    WriteImpulse(file, 48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    auto source = NewInstance();
    source->SetImpulsePath(file.string());
    Settle(*source);
    LV2_URID type = 0;
    const std::vector<std::uint8_t> section = source->SavedProperty(kImpulseStateUri, type);
    ASSERT_GT(section.size(), 64u);
    const LV2_URID chunk = Lv2World::Get().Urid(LV2_ATOM__Chunk);
    const Stereo builtIn = BuiltIn();

    struct Damage {
        const char* what;
        std::vector<std::uint8_t> bytes;
        LV2_URID type;
    };
    std::vector<Damage> damages;
    damages.push_back({"a sample bit flipped", section, chunk});
    damages.back().bytes[section.size() / 2] ^= 0x10;
    damages.push_back({"cut short", {section.begin(), section.end() - 5}, chunk});
    damages.push_back({"a byte too many", section, chunk});
    damages.back().bytes.push_back(0);
    damages.push_back({"not a chunk", section, Lv2World::Get().Urid(LV2_ATOM__String)});
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        auto instance = NewInstance();
        EXPECT_NE(instance->RestoreProperty(kImpulseStateUri, damage.bytes, damage.type), LV2_STATE_SUCCESS);
        Settle(*instance);
        const std::optional<Lv2Notification> error = Last(instance->TakeNotifications(), kImpulseErrorUri);
        ASSERT_TRUE(error);
        EXPECT_FALSE(error->text.empty());
        EXPECT_TRUE(SameBits(Render(*instance), builtIn));
        LV2_URID savedType = 0;
        EXPECT_TRUE(instance->SavedProperty(kImpulseStateUri, savedType).empty());
    }
    auto intact = NewInstance();
    EXPECT_EQ(intact->RestoreProperty(kImpulseStateUri, section, chunk), LV2_STATE_SUCCESS);
    Settle(*intact);
    EXPECT_TRUE(SameBits(Render(*intact), Render(*source)));
    EXPECT_EQ(intact->SavedProperty(kImpulseStateUri, type), section);
}

// Hosts save while the plug-in runs, and may restore while it runs (state:threadSafeRestore):
// every save holds one whole IR, the one that plays or the one coming, and a restore lands at a
// block's start.
TEST(Lv2Impulse, SavesAndRestoresOnAnotherThreadWhileItRunsSeeWholeIrs)
{
    render_test::ScratchDir dir;
    const std::filesystem::path files[2] = {dir / "a.wav", dir / "b.wav"};
    WriteImpulse(files[0], 48000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    WriteImpulse(files[1], 44100, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 0.05);
    std::vector<std::uint8_t> sections[2];
    for (int i = 0; i < 2; ++i) {
        auto instance = NewInstance();
        instance->SetImpulsePath(files[i].string());
        Settle(*instance);
        LV2_URID type = 0;
        sections[i] = instance->SavedProperty(kImpulseStateUri, type);
        ASSERT_FALSE(sections[i].empty());
    }

    auto instance = NewInstance();
    std::atomic<bool> running{true}, loading{true}, loadsDone{false};
    std::atomic<int> loads{0};
    std::thread audio([&] {
        const std::vector<float> silence(kBlock);
        std::vector<float> out(kBlock);
        for (int i = 0; running; ++i) {
            const bool load = loading;
            if (load && i % 4 == 0) {
                instance->SetImpulsePath(files[(i / 4) % 2].string());
                ++loads;
            }
            // The host's worker does a run's requests before the next run.
            instance->Process(silence.data(), silence.data(), out.data(), out.data(), kBlock, kBlock);
            if (!load)
                loadsDone = true;
        }
    });
    while (loads < 40) {
        LV2_URID type = 0;
        const std::vector<std::uint8_t> saved = instance->SavedProperty(kImpulseStateUri, type);
        EXPECT_TRUE(saved.empty() || saved == sections[0] || saved == sections[1]);
    }
    loading = false;
    while (!loadsDone)
        std::this_thread::yield();
    EXPECT_EQ(instance->RestoreProperty(kImpulseStateUri, sections[0], Lv2World::Get().Urid(LV2_ATOM__Chunk)),
              LV2_STATE_SUCCESS);
    running = false;
    audio.join();
    Settle(*instance);
    const std::optional<Lv2Notification> told = Last(instance->TakeNotifications(), kImpulseNameUri);
    ASSERT_TRUE(told);
    EXPECT_EQ(told->text, "a.wav");
    LV2_URID type = 0;
    EXPECT_EQ(instance->SavedProperty(kImpulseStateUri, type), sections[0]);
}

} // namespace
} // namespace test
