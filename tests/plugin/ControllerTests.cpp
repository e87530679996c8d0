// The edit controller: parameters, unit, states, MIDI mapping and the views it informs.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include "FactoryPresets.h"
#include "ImpulseSection.h"
#include "MidiMap.h"
#include "PluginTestSupport.h"
#include "corvexcontroller.h"
#include "corvexmessages.h"
#include "corvexparameters.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "pluginterfaces/vst/ivstunits.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

std::string Narrow(const TChar* text)
{
    std::string out;
    for (; *text; ++text)
        out.push_back(static_cast<char>(*text));
    return out;
}

struct Expected {
    const char* title;
    int32 steps;
    int32 flags;
    float defaultValue;
};

const Expected kExpected[19] = {
    {"Input Selection", 1, ParameterInfo::kCanAutomate, 1.0f},
    {"Gate/Compressor ON OFF", 1, ParameterInfo::kCanAutomate, 1.0f},
    {"Compressor Level", 0, ParameterInfo::kCanAutomate, 0.8f},
    {"Distortion ON OFF", 1, ParameterInfo::kCanAutomate, 1.0f},
    {"Distortion Level", 0, ParameterInfo::kCanAutomate, 0.55f},
    {"Stereo Enhancer ON OFF", 1, ParameterInfo::kCanAutomate, 0.0f},
    {"Delay ON OFF", 1, ParameterInfo::kCanAutomate, 1.0f},
    {"Modulation ON OFF", 1, ParameterInfo::kCanAutomate, 1.0f},
    {"Chorus Speed", 0, ParameterInfo::kCanAutomate, 0.1f},
    {"Reverb ON OFF", 1, ParameterInfo::kCanAutomate, 1.0f},
    {"Delay Level", 0, ParameterInfo::kCanAutomate, 0.75f},
    {"Reverb Level", 0, ParameterInfo::kCanAutomate, 0.55f},
    {"Output Left Vumeter", 0, ParameterInfo::kIsReadOnly, 0.0f},
    {"Output Right Vumeter", 0, ParameterInfo::kIsReadOnly, 0.0f},
    {"Input Clipping Led", 0, ParameterInfo::kIsReadOnly, 0.0f},
    {"Ouput Clipping Led", 0, ParameterInfo::kIsReadOnly, 0.0f},
    {"Compression Led", 0, ParameterInfo::kIsReadOnly, 0.0f},
    {"Button1", 1, ParameterInfo::kCanAutomate, 0.0f},
    {"Bypass", 1, ParameterInfo::kIsBypass, 0.0f},
};

class Controller : public test::PluginTest {};

TEST_F(Controller, PublishesTheNineteenParametersThenThePrograms)
{
    IEditController* controller = plugin->Controller();
    ASSERT_EQ(controller->getParameterCount(), 20);
    for (int32 index = 0; index < 19; ++index) {
        ParameterInfo info{};
        ASSERT_EQ(controller->getParameterInfo(index, info), kResultOk);
        const Expected& expected = kExpected[index];
        EXPECT_EQ(info.id, static_cast<ParamID>(index + 1));
        EXPECT_EQ(Narrow(info.title), expected.title);
        EXPECT_EQ(Narrow(info.shortTitle), "");
        EXPECT_EQ(Narrow(info.units), "");
        EXPECT_EQ(info.stepCount, expected.steps) << expected.title;
        EXPECT_EQ(info.flags, expected.flags) << expected.title;
        EXPECT_EQ(info.unitId, kRootUnitId);
        // Defaults are the float table widened, not the decimal: 0.800000011920929.
        EXPECT_EQ(info.defaultNormalizedValue, static_cast<double>(expected.defaultValue)) << expected.title;
        EXPECT_EQ(controller->getParamNormalized(info.id), static_cast<double>(expected.defaultValue));
    }
    ParameterInfo info{};
    ASSERT_EQ(controller->getParameterInfo(19, info), kResultOk);
    EXPECT_EQ(info.id, corvex::kProgramParam);
    EXPECT_EQ(info.flags, ParameterInfo::kCanAutomate | ParameterInfo::kIsList | ParameterInfo::kIsProgramChange);
    EXPECT_EQ(info.stepCount, corvex::kFactoryPresetCount - 1);
    EXPECT_EQ(info.unitId, 1);
    EXPECT_NE(controller->getParameterInfo(20, info), kResultOk);
    EXPECT_NE(controller->getParameterInfo(-1, info), kResultOk);
    EXPECT_EQ(controller->setParamNormalized(0, 0.5), kResultFalse);
    EXPECT_EQ(controller->setParamNormalized(20, 0.5), kResultFalse);
}

TEST_F(Controller, DisplaysAndClampsLikeThePlainSdkParameter)
{
    IEditController* controller = plugin->Controller();
    String128 text = {};
    ASSERT_EQ(controller->getParamStringByValue(1, 0.7, text), kResultOk);
    EXPECT_EQ(Narrow(text), "On");
    ASSERT_EQ(controller->getParamStringByValue(19, 0.5, text), kResultOk);
    EXPECT_EQ(Narrow(text), "Off");
    ASSERT_EQ(controller->getParamStringByValue(3, 0.8, text), kResultOk);
    EXPECT_EQ(Narrow(text), "0.8000");

    EXPECT_EQ(controller->setParamNormalized(3, 1.5), kResultOk);
    EXPECT_EQ(controller->getParamNormalized(3), 1.0);
    EXPECT_EQ(controller->setParamNormalized(5, -2.0), kResultOk);
    EXPECT_EQ(controller->getParamNormalized(5), 0.0);
    EXPECT_NE(controller->setParamNormalized(9, std::nan("")), kResultOk);
    EXPECT_EQ(controller->getParamNormalized(9), static_cast<double>(0.1f));
}

TEST_F(Controller, UnitOneListsThePresetsAndMidiReachesEveryControl)
{
    FUnknownPtr<IUnitInfo> units(plugin->Controller());
    ASSERT_TRUE(units);
    ASSERT_EQ(units->getUnitCount(), 1);
    UnitInfo unit{};
    ASSERT_EQ(units->getUnitInfo(0, unit), kResultOk);
    EXPECT_EQ(unit.id, 1);
    EXPECT_EQ(unit.parentUnitId, kRootUnitId);
    EXPECT_EQ(Narrow(unit.name), "Unit1");
    EXPECT_NE(units->getUnitInfo(1, unit), kResultOk);
    EXPECT_NE(units->getUnitInfo(-1, unit), kResultOk);
    ASSERT_EQ(units->getProgramListCount(), 1);
    ProgramListInfo list{};
    ASSERT_EQ(units->getProgramListInfo(0, list), kResultOk);
    EXPECT_EQ(list.id, unit.programListId);
    // The factory presets first; the user's own may follow.
    ASSERT_GE(list.programCount, corvex::kFactoryPresetCount);
    for (int32 program = 0; program < corvex::kFactoryPresetCount; ++program) {
        String128 name = {};
        ASSERT_EQ(units->getProgramName(list.id, program, name), kResultOk);
        EXPECT_EQ(Narrow(name), corvex::kFactoryPresets[program].name);
    }

    // Every channel of the event bus: the default map, Program Change on the program list's
    // parameter, nothing else (no read-only indicator, no About button).
    FUnknownPtr<IMidiMapping> midi(plugin->Controller());
    ASSERT_TRUE(midi);
    std::set<ParamID> reached;
    for (int16 channel = 0; channel < 16; ++channel) {
        for (CtrlNumber number = 0; number <= kCtrlProgramChange; ++number) {
            ParamID id = 12345;
            const bool mapped = midi->getMidiControllerAssignment(0, channel, number, id) == kResultTrue;
            const ParamID expected = number == kCtrlProgramChange ? corvex::kProgramParam
                                     : number < 128               ? corvex::DefaultMidiParam(number)
                                                                  : 0;
            ASSERT_EQ(mapped, expected != 0) << "channel " << channel << ", controller " << number;
            if (mapped) {
                EXPECT_EQ(id, expected) << "controller " << number;
                reached.insert(id);
            }
        }
    }
    const std::set<ParamID> controls = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 19, corvex::kProgramParam};
    EXPECT_EQ(reached, controls);
    ParamID untouched = 12345;
    EXPECT_EQ(midi->getMidiControllerAssignment(1, 0, 20, untouched), kResultFalse);
    EXPECT_EQ(midi->getMidiControllerAssignment(0, 16, 20, untouched), kResultFalse);
    EXPECT_EQ(untouched, 12345u);

    // Choosing a program moves its controls in the controller as in the processor.
    IEditController* controller = plugin->Controller();
    ASSERT_EQ(controller->setParamNormalized(corvex::kProgramParam, corvex::ProgramValue(4, list.programCount)),
              kResultOk);
    EXPECT_EQ(controller->getParamNormalized(5), double(corvex::kFactoryPresets[4].values[4]));

    FUnknownPtr<IEditController2> second(plugin->Controller());
    ASSERT_TRUE(second);
    EXPECT_EQ(second->setKnobMode(kLinearMode), kResultOk);
    EXPECT_EQ(second->openHelp(false), kResultFalse);
    EXPECT_EQ(second->openAboutBox(false), kResultFalse);
}

TEST_F(Controller, ViewNamesAreExact)
{
    EXPECT_EQ(plugin->Controller()->createView(nullptr), nullptr);
    EXPECT_EQ(plugin->Controller()->createView("Editor"), nullptr);
    EXPECT_EQ(plugin->Controller()->createView("editor "), nullptr);
    EXPECT_EQ(plugin->Controller()->createView("other"), nullptr);
    if (IPlugView* view = plugin->Controller()->createView("editor"))
        view->release();
}

TEST_F(Controller, StatesRoundTripAndBadStreamsChangeNothing)
{
    IEditController* controller = plugin->Controller();
    controller->setParamNormalized(3, 0.3);
    controller->setParamNormalized(19, 1.0);
    test::ScriptedStream saved;
    ASSERT_EQ(controller->getState(&saved), kResultOk);
    ASSERT_EQ(saved.data.size(), 80u);

    auto other = NewInstance();
    saved.position = 0;
    ASSERT_EQ(other->Controller()->setState(&saved), kResultOk);
    for (ParamID id = 1; id <= 19; ++id)
        EXPECT_EQ(other->Controller()->getParamNormalized(id),
                  static_cast<double>(static_cast<float>(controller->getParamNormalized(id))));
    EXPECT_EQ(other->Controller()->getParamNormalized(3), static_cast<double>(0.3f));

    // Null component state: accepted, nothing changes. Bad streams: refused, nothing changes.
    EXPECT_EQ(controller->setComponentState(nullptr), kResultOk);
    EXPECT_EQ(controller->setState(nullptr), kResultFalse);
    std::vector<char> full = test::StateBytes(std::vector<float>(20, 0.9f));
    test::ScriptedStream truncated(std::vector<char>(full.begin(), full.begin() + 4 + 4 * 7));
    test::ScriptedStream shortReads(std::vector<char>(full.begin(), full.begin() + 4 + 4 * 7));
    shortReads.shortReads = true;
    test::ScriptedStream empty;
    for (test::ScriptedStream* stream : {&truncated, &shortReads, &empty}) {
        stream->position = 0;
        EXPECT_EQ(controller->setComponentState(stream), kResultFalse);
        stream->position = 0;
        EXPECT_EQ(controller->setState(stream), kResultFalse);
        EXPECT_EQ(controller->getParamNormalized(1), 1.0);
        EXPECT_EQ(controller->getParamNormalized(3), 0.3);
        EXPECT_EQ(controller->getParamNormalized(19), 1.0);
    }
    test::ScriptedStream failingWrite;
    failingWrite.failWritesAt = 10;
    EXPECT_EQ(controller->getState(&failingWrite), kResultFalse);
}

// A view as the editor builds them, recording what the controller tells it.
class RecordingView : public corvex::CorvexEditorViewBase {
public:
    RecordingView(EditController* controller, std::vector<std::string>& log, const char* name)
        : CorvexEditorViewBase(controller), m_log(log), m_name(name)
    {
    }
    void UpdateParameter(ParamID id, ParamValue value) override
    {
        m_log.push_back(m_name + ":" + std::to_string(id) + "=" + std::to_string(value));
    }
    void Notify(const char* notification) override { m_log.push_back(m_name + ":" + notification); }
    void ShowImpulse(const std::string& name, const std::string& error) override
    {
        m_log.push_back(m_name + ":IR " + name + "|" + error);
    }
    void ShowTunerReading(const corvex::PitchReading& reading) override
    {
        char name[5] = "-";
        if (reading.bPitched)
            corvex::CPitchDetector::NoteName(reading.iNote, name);
        m_log.push_back(m_name + ":tuner " + name);
    }

private:
    std::vector<std::string>& m_log;
    std::string m_name;
};

class PlainView : public EditorView {
public:
    using EditorView::EditorView;
};

class ControllerViews : public ::testing::Test {
protected:
    void SetUp() override
    {
        controller = new corvex::CorvexController();
        ASSERT_EQ(controller->initialize(test::HostContext()), kResultOk);
        first = new RecordingView(controller, log, "A");
        second = new RecordingView(controller, log, "B");
    }
    void TearDown() override
    {
        controller->terminate();
        first->release();
        second->release();
        controller->release();
    }

    std::vector<std::string> log;
    corvex::CorvexController* controller = nullptr;
    RecordingView* first = nullptr;
    RecordingView* second = nullptr;
};

TEST_F(ControllerViews, EveryValueReachesEveryAttachedViewInOrder)
{
    EXPECT_EQ(controller->createView("editor"), nullptr) << "no editor library in this build";
    first->attachedToParent();
    second->attachedToParent();
    PlainView plain(controller);
    plain.attachedToParent();
    EXPECT_EQ(controller->Views().size(), 2u);

    EXPECT_EQ(controller->setParamNormalized(3, 1.5), kResultOk);
    EXPECT_EQ(controller->getParamNormalized(3), 1.0);
    EXPECT_EQ(controller->setParamNormalized(25, 0.25), kResultFalse);
    EXPECT_EQ(log, (std::vector<std::string>{"A:3=1.500000", "B:3=1.500000", "A:25=0.250000", "B:25=0.250000"}));

    log.clear();
    first->removedFromParent();
    plain.removedFromParent();
    controller->setParamNormalized(13, 0.5);
    EXPECT_EQ(log, (std::vector<std::string>{"B:13=0.500000"}));

    second->removedFromParent();
    log.clear();
    controller->setParamNormalized(13, 0.25);
    EXPECT_TRUE(log.empty());
}

TEST_F(ControllerViews, OnlyAFullStateRestoreForcesARefresh)
{
    first->attachedToParent();
    std::vector<float> values(20, 0.5f);
    test::ScriptedStream component(test::StateBytes(values));
    ASSERT_EQ(controller->setComponentState(&component), kResultOk);
    EXPECT_EQ(log.size(), 19u);
    EXPECT_EQ(std::count(log.begin(), log.end(), "A:Force Refresh"), 0);

    log.clear();
    test::ScriptedStream state(test::StateBytes(values));
    ASSERT_EQ(controller->setState(&state), kResultOk);
    ASSERT_EQ(log.size(), 20u);
    EXPECT_EQ(log.back(), "A:Force Refresh");

    log.clear();
    test::ScriptedStream broken(std::vector<char>(40, 0));
    EXPECT_EQ(controller->setState(&broken), kResultFalse);
    EXPECT_TRUE(log.empty()) << "a refused state neither sets values nor refreshes";
}

// A host's component handler that counts the times the project is marked changed.
class DirtyCounter : public IComponentHandler, public IComponentHandler2 {
public:
    virtual ~DirtyCounter() = default;
    int dirty = 0;
    tresult PLUGIN_API beginEdit(ParamID) SMTG_OVERRIDE { return kResultOk; }
    tresult PLUGIN_API performEdit(ParamID, ParamValue) SMTG_OVERRIDE { return kResultOk; }
    tresult PLUGIN_API endEdit(ParamID) SMTG_OVERRIDE { return kResultOk; }
    tresult PLUGIN_API restartComponent(int32) SMTG_OVERRIDE { return kResultOk; }
    tresult PLUGIN_API setDirty(TBool state) SMTG_OVERRIDE
    {
        dirty += state ? 1 : 0;
        return kResultOk;
    }
    tresult PLUGIN_API requestOpenEditor(FIDString) SMTG_OVERRIDE { return kResultFalse; }
    tresult PLUGIN_API startGroupEdit() SMTG_OVERRIDE { return kResultOk; }
    tresult PLUGIN_API finishGroupEdit() SMTG_OVERRIDE { return kResultOk; }
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) SMTG_OVERRIDE
    {
        QUERY_INTERFACE(iid, obj, FUnknown::iid, IComponentHandler)
        QUERY_INTERFACE(iid, obj, IComponentHandler::iid, IComponentHandler)
        QUERY_INTERFACE(iid, obj, IComponentHandler2::iid, IComponentHandler2)
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() SMTG_OVERRIDE { return 1; }
    uint32 PLUGIN_API release() SMTG_OVERRIDE { return 1; }
};

// What the processor answers, and what a component state carries, reaches every view; an
// accepted file marks the project changed, a refused one does not.
TEST_F(ControllerViews, TheIrInUseReachesEveryView)
{
    DirtyCounter handler;
    controller->setComponentHandler(&handler);
    first->attachedToParent();
    second->attachedToParent();
    auto answer = [&](const std::string& name, const std::string& error) {
        IMessage* message = test::NewMessage(corvex::kImpulseMessage);
        corvex::SetBinaryText(message->getAttributes(), corvex::kNameAttribute, name);
        corvex::SetBinaryText(message->getAttributes(), corvex::kErrorAttribute, error);
        EXPECT_EQ(controller->notify(message), kResultOk);
        message->release();
    };
    answer("cab.wav", "");
    answer("cab.wav", "'x.wav' is silent");
    EXPECT_EQ(log, (std::vector<std::string>{"A:IR cab.wav|", "B:IR cab.wav|", "A:IR cab.wav|'x.wav' is silent",
                                             "B:IR cab.wav|'x.wav' is silent"}));
    EXPECT_EQ(handler.dirty, 1);

    corvex::ImpulseSource hall;
    hall.name = "hall.wav";
    hall.sampleRate = 48000.0;
    hall.channels = 1;
    hall.frames = 64;
    hall.samples = test::TestImpulse(1, 64);
    const std::vector<std::uint8_t> section = corvex::EncodeImpulseSection(hall);
    std::vector<char> state = test::StateBytes(test::DefaultStateFloats());
    state.insert(state.end(), section.begin(), section.end());
    for (const std::size_t size : {state.size(), corvex::kStateSize}) {
        log.clear();
        test::ScriptedStream stream(std::vector<char>(state.begin(), state.begin() + static_cast<std::ptrdiff_t>(size)));
        ASSERT_EQ(controller->setComponentState(&stream), kResultOk);
        const std::string shown = size == corvex::kStateSize ? "IR |" : "IR hall.wav|";
        EXPECT_EQ(std::count(log.begin(), log.end(), "A:" + shown), 1) << shown;
        EXPECT_EQ(std::count(log.begin(), log.end(), "B:" + shown), 1) << shown;
    }
    EXPECT_EQ(handler.dirty, 1) << "a restored state is no change";

    // No processor is connected here: the view learns that.
    log.clear();
    controller->LoadImpulseFile("/nowhere/x.wav");
    EXPECT_EQ(log, (std::vector<std::string>{"A:IR |the plug-in's processor cannot be reached",
                                             "B:IR |the plug-in's processor cannot be reached"}));
    controller->setComponentHandler(nullptr);
}

// The processor's tuner readings reach every view, a reading without pitch as none.
TEST_F(ControllerViews, TunerReadingsReachEveryView)
{
    first->attachedToParent();
    second->attachedToParent();
    for (const bool pitched : {true, false}) {
        IMessage* message = test::NewMessage(corvex::kTunerReadingMessage);
        message->getAttributes()->setInt(corvex::kTunerPitchedAttribute, pitched ? 1 : 0);
        message->getAttributes()->setInt(corvex::kTunerNoteAttribute, 40);
        message->getAttributes()->setFloat(corvex::kTunerHertzAttribute, 82.41);
        message->getAttributes()->setFloat(corvex::kTunerCentsAttribute, 0.3);
        EXPECT_EQ(controller->notify(message), kResultOk);
        message->release();
    }
    EXPECT_EQ(log, (std::vector<std::string>{"A:tuner E2", "B:tuner E2", "A:tuner -", "B:tuner -"}));
    EXPECT_FALSE(controller->TunerReading().bPitched);
}

TEST_F(ControllerViews, TerminateForgetsTheViews)
{
    first->attachedToParent();
    second->attachedToParent();
    ASSERT_EQ(controller->Views().size(), 2u);
    controller->terminate();
    EXPECT_TRUE(controller->Views().empty());
    ASSERT_EQ(controller->initialize(test::HostContext()), kResultOk);
}

} // namespace
