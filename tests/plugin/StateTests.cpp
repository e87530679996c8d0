// Component state streams, the preset files that carry them, and the processor's messages.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "PluginTestSupport.h"
#include "PresetFile.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "public.sdk/source/common/memorystream.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

class StateStreams : public test::PluginTest {};

TEST_F(StateStreams, FreshProcessorWritesTheDefaultBytes)
{
    std::vector<char> bytes;
    ASSERT_TRUE(plugin->SaveState(bytes));
    ASSERT_EQ(bytes.size(), 80u);
    const unsigned char marker[4] = {0x00, 0x00, 0x80, 0x3F};
    EXPECT_EQ(std::memcmp(bytes.data(), marker, 4), 0);
    EXPECT_EQ(bytes, test::StateBytes(test::DefaultStateFloats()));
    const unsigned char compressor[4] = {0xCD, 0xCC, 0x4C, 0x3F};
    EXPECT_EQ(std::memcmp(bytes.data() + 12, compressor, 4), 0);
}

TEST_F(StateStreams, RoundTripsBetweenInstances)
{
    Start();
    SetParameters({{1, 0.0}, {3, 0.3}, {6, 1.0}, {9, 0.77}, {12, 0.123456789}, {18, 1.0}});
    std::vector<char> bytes;
    ASSERT_TRUE(plugin->SaveState(bytes));

    auto other = NewInstance();
    ASSERT_TRUE(other->LoadState(bytes));
    std::vector<char> copy;
    ASSERT_TRUE(other->SaveState(copy));
    EXPECT_EQ(copy, bytes);
    // The controller shows what was restored.
    EXPECT_EQ(other->Controller()->getParamNormalized(12), static_cast<double>(0.123456789f));
}

TEST_F(StateStreams, AnyMarkerIsAcceptedAndValuesAreSanitised)
{
    std::vector<float> values = test::DefaultStateFloats();
    values[0] = 2.0f;
    values[3] = 1.7f;
    values[5] = -3.0f;
    values[9] = std::nanf("");
    values[12] = 0.25f;
    test::ScriptedStream stream(test::StateBytes(values));
    ASSERT_EQ(plugin->Component()->setState(&stream), kResultOk);
    std::vector<float> state = ComponentState();
    EXPECT_EQ(state[0], 1.0f);
    EXPECT_EQ(state[3], 1.0f);
    EXPECT_EQ(state[5], 0.0f);
    EXPECT_EQ(state[9], 0.1f) << "NaN in a state restores the default";
    EXPECT_EQ(state[12], 0.25f);
}

TEST_F(StateStreams, ShortFailedOrPartialStreamsChangeNothing)
{
    std::vector<float> values(20, 0.5f);
    const std::vector<char> full = test::StateBytes(values);
    const std::vector<char> before = test::StateBytes(ComponentState());

    // A stream failing at the value of identifier 9, a stream ending early that says so, one
    // that claims success while delivering fewer bytes, and an empty one.
    test::ScriptedStream failing(full);
    failing.failAt = 4 * 9;
    test::ScriptedStream truncated(std::vector<char>(full.begin(), full.begin() + 42));
    test::ScriptedStream shortReads(std::vector<char>(full.begin(), full.begin() + 42));
    shortReads.shortReads = true;
    test::ScriptedStream empty;
    empty.shortReads = true;
    for (test::ScriptedStream* stream : {&failing, &truncated, &shortReads, &empty}) {
        EXPECT_EQ(plugin->Component()->setState(stream), kResultFalse);
        EXPECT_EQ(test::StateBytes(ComponentState()), before);
    }
    EXPECT_EQ(plugin->Component()->setState(nullptr), kResultFalse);
}

TEST_F(StateStreams, FailedWritesAreReported)
{
    test::ScriptedStream stream;
    stream.failWritesAt = 4 * 7 + 2;
    EXPECT_EQ(plugin->Component()->getState(&stream), kResultFalse);
    EXPECT_EQ(plugin->Component()->getState(nullptr), kResultFalse);
}

TEST_F(StateStreams, RestoredValuesReachTheNextBlock)
{
    Start();
    std::vector<float> values = test::DefaultStateFloats();
    values[19] = 1.0f; // bypass
    test::ScriptedStream stream(test::StateBytes(values));
    ASSERT_EQ(plugin->Component()->setState(&stream), kResultOk);
    corvex::hosting::ProcessBlock block(2, 2, 64);
    test::FillSine(block.In(0), 64, 500.0, 44100.0, 0.5);
    ASSERT_EQ(Process(block, 64), kResultOk);
    EXPECT_EQ(std::memcmp(block.In(0), block.Out(0), 64 * sizeof(float)), 0);
}

// A .vstpreset whose chunk list gives the state chunk more bytes than lie between the header and
// the list (running into the list, or past the file's end) is refused; the same file with the
// state's own size reads back the state.
TEST_F(StateStreams, APresetWhoseStateChunkRunsPastItsDataIsRefused)
{
    std::vector<float> values = test::DefaultStateFloats();
    values[5] = 0.25f;
    const std::vector<char> state = test::StateBytes(values);
    const std::vector<char> good = corvex::hosting::BuildVstPreset({plugin->ClassId(), state, ""});
    corvex::hosting::VstPreset parsed;
    std::string error;
    ASSERT_TRUE(corvex::hosting::ParseVstPreset(good, parsed, error)) << error;
    EXPECT_EQ(parsed.componentState, state);

    // The header's list offset (after "VST3", the version and the class ID), then the list:
    // "List", the entry count, and the first entry's ID, offset and size.
    std::uint64_t listOffset = 0;
    std::memcpy(&listOffset, &good[4 + 4 + 32], 8);
    const std::size_t sizeAt = static_cast<std::size_t>(listOffset) + 4 + 4 + 4 + 8;
    ASSERT_EQ(std::memcmp(&good[sizeAt - 12], "Comp", 4), 0);
    for (const std::uint64_t size : {std::uint64_t(state.size() + 8), std::uint64_t(good.size())}) {
        std::vector<char> bad = good;
        std::memcpy(&bad[sizeAt], &size, 8);
        EXPECT_FALSE(corvex::hosting::ParseVstPreset(bad, parsed, error)) << size << " bytes";
        EXPECT_NE(error.find("outside the file"), std::string::npos) << error;
    }
}

// A message from a host that gives it no attribute list.
class AttributelessMessage : public IMessage {
public:
    explicit AttributelessMessage(const char* id) : m_id(id) {}
    virtual ~AttributelessMessage() = default;
    FIDString PLUGIN_API getMessageID() SMTG_OVERRIDE { return m_id; }
    void PLUGIN_API setMessageID(FIDString) SMTG_OVERRIDE {}
    IAttributeList* PLUGIN_API getAttributes() SMTG_OVERRIDE { return nullptr; }
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) SMTG_OVERRIDE
    {
        QUERY_INTERFACE(iid, obj, FUnknown::iid, IMessage)
        QUERY_INTERFACE(iid, obj, IMessage::iid, IMessage)
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() SMTG_OVERRIDE { return 1; }
    uint32 PLUGIN_API release() SMTG_OVERRIDE { return 1; }

private:
    const char* m_id;
};

class Messages : public test::PluginTest {};

TEST_F(Messages, ActivationIsAnnouncedToTheConnectedPeer)
{
    FUnknownPtr<IConnectionPoint> processor(plugin->Component());
    test::RecordingPoint<std::string> spy("TextMessage", [](IAttributeList& attributes) {
        TChar text[256] = {};
        attributes.getString("Text", text, sizeof(text));
        std::string narrow;
        for (TChar* c = text; *c; ++c)
            narrow.push_back(static_cast<char>(*c));
        return narrow;
    });
    FUnknownPtr<IConnectionPoint> controller(plugin->Controller());
    processor->disconnect(controller);
    ASSERT_EQ(processor->connect(&spy), kResultOk);
    ASSERT_EQ(plugin->Setup(44100.0, 256), kResultOk);
    plugin->Component()->setActive(true);
    plugin->Component()->setActive(false);
    processor->disconnect(&spy);
    ASSERT_EQ(spy.records.size(), 2u);
    EXPECT_EQ(spy.records[0], "Corvex::setActive (true)");
    EXPECT_EQ(spy.records[1], "Corvex::setActive (false)");
}

TEST_F(Messages, TextIsPrintedVerbatim)
{
    FUnknownPtr<IConnectionPoint> processor(plugin->Component());
    IMessage* message = test::NewMessage("TextMessage");
    message->getAttributes()->setString("Text", STR16("100% %s %d %n done"));
    ::testing::internal::CaptureStderr();
    const tresult result = processor->notify(message);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    message->release();
    EXPECT_EQ(result, kResultOk);
    EXPECT_EQ(printed, "[Corvex] received: 100% %s %d %n done\n");
}

TEST_F(Messages, BinaryAndOtherMessages)
{
    FUnknownPtr<IConnectionPoint> processor(plugin->Component());
    EXPECT_EQ(processor->notify(nullptr), kInvalidArgument);

    IMessage* binary = test::NewMessage("BinaryMessage");
    const char payload[3] = {1, 2, 3};
    binary->getAttributes()->setBinary("MyData", payload, sizeof payload);
    EXPECT_EQ(processor->notify(binary), kResultOk);
    binary->release();

    // Without "MyData" the base answers, and it knows no such message.
    IMessage* bare = test::NewMessage("BinaryMessage");
    EXPECT_EQ(processor->notify(bare), kResultFalse);
    bare->release();
    IMessage* other = test::NewMessage("SomethingElse");
    EXPECT_EQ(processor->notify(other), kResultFalse);
    other->release();

    // The controller accepts the processor's texts silently.
    FUnknownPtr<IConnectionPoint> controller(plugin->Controller());
    IMessage* text = test::NewMessage("TextMessage");
    text->getAttributes()->setString("Text", STR16("Corvex::setActive (true)"));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(controller->notify(text), kResultOk);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    text->release();
}

TEST_F(Messages, MessagesWithoutAttributesAreRefusedByBothPeers)
{
    FUnknownPtr<IConnectionPoint> processor(plugin->Component());
    FUnknownPtr<IConnectionPoint> controller(plugin->Controller());
    EXPECT_EQ(controller->notify(nullptr), kInvalidArgument);
    for (const char* id : {"TextMessage", "BinaryMessage", "Other"}) {
        AttributelessMessage message(id);
        EXPECT_EQ(processor->notify(&message), kResultFalse) << id;
        EXPECT_EQ(controller->notify(&message), kResultFalse) << id;
    }
}

} // namespace
