// The user cabinet IR through the built module: loaded by the controller's message, carried inside
// the component state (so the file is no longer needed), refused whole when its section is damaged.

#include <cmath>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>

#include "PluginTestSupport.h"
#include "StateLayout.h"
#include "corvexmessages.h"
#include "corvexstate.h"
#include "pluginterfaces/vst/ivstmessage.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using corvex::hosting::PluginInstance;

namespace {

constexpr double kRate = 48000.0;
constexpr int32 kBlock = 256;
constexpr int kBlocks = 40;

// A scratch folder removed with the object.
class Folder {
public:
    Folder()
    {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("corvex-ir-") + test->test_suite_name() + "-" + test->name();
        for (char& c : name)
            if (c == '/')
                c = '_';
        m_path = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~Folder() { std::filesystem::remove_all(m_path); }
    std::string operator/(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// What the controller sends when the view asks for a file (path given) or the built-in cabinet.
tresult SendToProcessor(PluginInstance& plugin, const std::string* path)
{
    IMessage* message = test::NewMessage(path ? corvex::kLoadImpulseMessage : corvex::kClearImpulseMessage);
    if (path)
        message->getAttributes()->setBinary(corvex::kPathAttribute, path->data(), static_cast<uint32>(path->size()));
    FUnknownPtr<IConnectionPoint> processor(plugin.Component());
    const tresult result = processor->notify(message);
    message->release();
    return result;
}

// Activates at 48 kHz and plays a stereo phrase (left and right differ); the output, channel after
// channel.
std::vector<float> Play(PluginInstance& plugin)
{
    EXPECT_EQ(plugin.Setup(kRate, kBlock), kResultOk);
    EXPECT_EQ(plugin.Activate(true), kResultOk);
    corvex::hosting::ProcessBlock block(2, 2, kBlock);
    std::vector<float> out;
    for (int b = 0; b < kBlocks; ++b) {
        test::FillSine(block.In(0), kBlock, 196.0, kRate, 0.4, std::int64_t(b) * kBlock);
        test::FillSine(block.In(1), kBlock, 330.0, kRate, 0.2, std::int64_t(b) * kBlock);
        EXPECT_EQ(plugin.Processor()->process(block.Prepare(kBlock)), kResultOk);
        out.insert(out.end(), block.Out(0), block.Out(0) + kBlock);
        out.insert(out.end(), block.Out(1), block.Out(1) + kBlock);
    }
    plugin.Activate(false);
    return out;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

struct ImpulseCase {
    const char* name;
    int channels;
    int rate;
    int frames;
};

void PrintTo(const ImpulseCase& c, std::ostream* os)
{
    *os << c.name;
}

class ImpulseState : public test::PluginTest, public ::testing::WithParamInterface<ImpulseCase> {};

// The state saved with an IR plays the same bits on another instance once the file is gone; its
// 80 bytes alone give the built-in cabinet back, and marked as a preset's keep the IR.
TEST_P(ImpulseState, TravelsInTheStateAndPlaysTheSameBits)
{
    const ImpulseCase& c = GetParam();
    Folder folder;
    const std::string path = folder / (std::string(c.name) + ".wav");
    test::WriteWave(path, test::TestImpulse(c.channels, c.frames), c.channels, c.rate);
    ASSERT_EQ(SendToProcessor(*plugin, &path), kResultOk);
    std::vector<char> state;
    ASSERT_TRUE(plugin->SaveState(state));
    ASSERT_GT(state.size(), corvex::kStateSize) << "no IR section saved";
    const std::vector<float> loaded = Play(*plugin);
    std::filesystem::remove(path);

    auto restored = NewInstance();
    ASSERT_TRUE(restored->LoadState(state));
    EXPECT_TRUE(SameBits(Play(*restored), loaded));
    std::vector<char> again;
    ASSERT_TRUE(restored->SaveState(again));
    EXPECT_EQ(again, state);

    auto builtIn = NewInstance();
    const std::vector<float> cabinet = Play(*builtIn);
    EXPECT_FALSE(SameBits(cabinet, loaded)) << "the IR was not played";
    // The tail the host is told grows by the IR's length at the session rate.
    EXPECT_EQ(restored->Processor()->getTailSamples() - builtIn->Processor()->getTailSamples(),
              static_cast<uint32>(std::ceil(static_cast<double>(c.frames) / c.rate * kRate)));
    auto cleared = NewInstance();
    ASSERT_TRUE(cleared->LoadState(state));
    ASSERT_TRUE(cleared->LoadState(std::vector<char>(state.begin(), state.begin() + corvex::kStateSize)));
    EXPECT_TRUE(SameBits(Play(*cleared), cabinet));
    ASSERT_TRUE(cleared->SaveState(again));
    EXPECT_EQ(again.size(), corvex::kStateSize);

    auto kept = NewInstance();
    ASSERT_TRUE(kept->LoadState(state));
    std::vector<char> preset(state.begin(), state.begin() + corvex::kStateSize);
    const float marker = corvex::kPresetStateMarker;
    std::memcpy(preset.data(), &marker, sizeof marker);
    ASSERT_TRUE(kept->LoadState(preset));
    EXPECT_TRUE(SameBits(Play(*kept), loaded));
    ASSERT_TRUE(kept->SaveState(again));
    EXPECT_EQ(again, state);
}

INSTANTIATE_TEST_SUITE_P(Files, ImpulseState,
                         ::testing::Values(ImpulseCase{"mono-48k", 1, 48000, 4800},
                                           ImpulseCase{"stereo-44k1", 2, 44100, 3000},
                                           ImpulseCase{"mono-8k", 1, 8000, 900}),
                         [](const ::testing::TestParamInfo<ImpulseCase>& tested) {
                             std::string name = tested.param.name;
                             for (char& ch : name)
                                 if (ch == '-')
                                     ch = '_';
                             return name;
                         });

enum class Damage { Truncated, FlippedSampleByte, FlippedHeaderByte, TrailingBytes, Oversized };

void PrintTo(Damage damage, std::ostream* os)
{
    static const char* const kNames[] = {"Truncated", "FlippedSampleByte", "FlippedHeaderByte", "TrailingBytes",
                                         "Oversized"};
    *os << kNames[static_cast<int>(damage)];
}

class DamagedSection : public test::PluginTest, public ::testing::WithParamInterface<Damage> {};

// A state whose section is damaged changes nothing, neither the IR nor the 80 bytes' values, in
// the processor or in the controller.
TEST_P(DamagedSection, RefusesTheWholeState)
{
    Folder folder;
    const std::string path = folder / "kept.wav";
    test::WriteWave(path, test::TestImpulse(2, 2000), 2, 48000);
    ASSERT_EQ(SendToProcessor(*plugin, &path), kResultOk);
    std::vector<char> before;
    ASSERT_TRUE(plugin->SaveState(before));
    ASSERT_GT(before.size(), corvex::kStateSize);

    std::vector<float> values = test::DefaultStateFloats();
    values[5] = 0.125f;
    std::vector<char> bad = test::StateBytes(values);
    std::vector<char> section(before.begin() + corvex::kStateSize, before.end());
    switch (GetParam()) {
    case Damage::Truncated: section.pop_back(); break;
    case Damage::FlippedSampleByte: section[section.size() / 2] ^= 0x10; break;
    case Damage::FlippedHeaderByte: section[20] ^= 0x01; break; // the frame count
    case Damage::TrailingBytes: section.insert(section.end(), {0, 0, 0, 0}); break;
    case Damage::Oversized: section.resize(corvex::kMaxStateTail + 1); break; // refused unread
    }
    bad.insert(bad.end(), section.begin(), section.end());

    test::ScriptedStream forComponent(bad);
    EXPECT_EQ(plugin->Component()->setState(&forComponent), kResultFalse);
    std::vector<char> after;
    ASSERT_TRUE(plugin->SaveState(after));
    EXPECT_EQ(after, before);
    test::ScriptedStream forController(bad);
    EXPECT_EQ(plugin->Controller()->setComponentState(&forController), kResultFalse);
    EXPECT_NE(plugin->Controller()->getParamNormalized(5), 0.125);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedSection,
                         ::testing::Values(Damage::Truncated, Damage::FlippedSampleByte, Damage::FlippedHeaderByte,
                                           Damage::TrailingBytes, Damage::Oversized),
                         [](const ::testing::TestParamInfo<Damage>& tested) {
                             return ::testing::PrintToString(tested.param);
                         });

class ImpulseMessages : public test::PluginTest {};

// Every load or clear is answered with the IR in use and, for a refused file, the reason; a
// refused file changes nothing.
TEST_F(ImpulseMessages, AnswerWithTheNameOrTheReason)
{
    Folder folder;
    const std::string good = folder / "room.wav", silent = folder / "silent.wav", missing = folder / "none.wav";
    test::WriteWave(good, test::TestImpulse(1, 1000), 1, 48000);
    test::WriteWave(silent, std::vector<float>(1000, 0.0f), 1, 48000);

    FUnknownPtr<IConnectionPoint> processor(plugin->Component());
    FUnknownPtr<IConnectionPoint> controller(plugin->Controller());
    processor->disconnect(controller);
    // The processor's answers: the IR's name and the error.
    using Answer = std::pair<std::string, std::string>;
    test::RecordingPoint<Answer> spy(corvex::kImpulseMessage, [](IAttributeList& attributes) {
        return std::make_pair(corvex::BinaryText(&attributes, corvex::kNameAttribute),
                              corvex::BinaryText(&attributes, corvex::kErrorAttribute));
    });
    ASSERT_EQ(processor->connect(&spy), kResultOk);
    std::vector<char> state;
    for (const std::string* path : {&good, &silent, &missing}) {
        ASSERT_EQ(SendToProcessor(*plugin, path), kResultOk);
        if (path == &good) {
            ASSERT_TRUE(plugin->SaveState(state));
        }
    }
    std::vector<char> after;
    ASSERT_TRUE(plugin->SaveState(after));
    EXPECT_EQ(after, state) << "a refused file changed the state";
    ASSERT_EQ(SendToProcessor(*plugin, nullptr), kResultOk);
    processor->disconnect(&spy);

    ASSERT_EQ(spy.records.size(), 4u);
    EXPECT_EQ(spy.records[0], std::make_pair(std::string("room.wav"), std::string()));
    EXPECT_EQ(spy.records[1].first, "room.wav");
    EXPECT_NE(spy.records[1].second.find("silent.wav"), std::string::npos) << spy.records[1].second;
    EXPECT_EQ(spy.records[2].first, "room.wav");
    EXPECT_NE(spy.records[2].second.find("none.wav"), std::string::npos) << spy.records[2].second;
    EXPECT_EQ(spy.records[3], std::make_pair(std::string(), std::string()));
    ASSERT_TRUE(plugin->SaveState(after));
    EXPECT_EQ(after.size(), corvex::kStateSize);
}

} // namespace
