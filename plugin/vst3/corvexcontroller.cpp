#include "corvexcontroller.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/ConsistencyCheck.h"
#include "corvexmessages.h"
#include "FactoryPresets.h"
#include "MidiMap.h"
#include "UserPresets.h"
#include "corvexparameters.h"
#include "pluginterfaces/base/ustring.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "public.sdk/source/vst/vstparameters.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace corvex {

CorvexController::CorvexController() = default;

CorvexController::~CorvexController() = default;

FUnknown* CorvexController::createInstance(void*)
{
    try {
        return static_cast<IEditController*>(new CorvexController());
    }
    catch (...) {
        return nullptr;
    }
}

tresult PLUGIN_API CorvexController::initialize(FUnknown* context)
{
    const tresult result = EditControllerEx1::initialize(context);
    if (result != kResultOk)
        return result;
    // The factory presets, then the user's, as every program lists them.
    std::vector<std::string> skipped;
    m_aPresets = PresetList(ReadUserPresets(UserPresetDirectory(), skipped));
    for (const std::string& message : skipped)
        std::fprintf(stderr, "[Corvex] %s\n", message.c_str());
    auto* programs = new ProgramList(kProgramListName, kProgramListId, kUnit1Id);
    for (const PresetEntry& preset : m_aPresets) {
        String128 name = {};
        UString(name, str16BufferSize(String128)).fromAscii(preset.name.c_str());
        programs->addProgram(name);
    }
    addUnit(new Unit(kUnit1Name, kUnit1Id, kRootUnitId, kProgramListId));
    addProgramList(programs);
    RegisterParameters(parameters);
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        setParamNormalized(id, static_cast<ParamValue>(kParamInfos[id].defaultValue));
    // After the 19, so their indices stay those projects know.
    if (Parameter* program = programs->getParameter())
        parameters.addParameter(program);
    return kResultOk;
}

tresult PLUGIN_API CorvexController::terminate()
{
    m_views.clear();
    return EditControllerEx1::terminate();
}

tresult CorvexController::ApplyState(IBStream* state)
{
    StateValues values{};
    if (!ReadState(state, values))
        return kResultFalse;
    return ApplyValues(values);
}

tresult CorvexController::ApplyValues(const StateValues& values)
{
    for (ParamID id = kFirstParam; id <= kLastParam; ++id) {
        const float value = SanitiseValue(values[id], kParamInfos[id].defaultValue);
        if (setParamNormalized(id, static_cast<ParamValue>(value)) != kResultOk)
            return kResultFalse;
    }
    return kResultOk;
}

tresult PLUGIN_API CorvexController::setComponentState(IBStream* state)
{
    if (!state)
        return kResultOk;
    // Refused whole as the processor refuses it; the IR's name comes from its section.
    StateValues values{};
    std::shared_ptr<const ImpulseSource> impulse;
    bool keepImpulse = false;
    if (!ReadComponentState(state, values, impulse, keepImpulse))
        return kResultFalse;
    const tresult result = ApplyValues(values);
    const std::string name = impulse ? impulse->name : std::string();
    if (!keepImpulse && name != m_sImpulseName)
        ShowImpulse(name, {});
    return result;
}

tresult PLUGIN_API CorvexController::setState(IBStream* state)
{
    if (ApplyState(state) != kResultOk)
        return kResultFalse;
    for (CorvexEditorViewBase* view : m_views)
        if (view)
            view->Notify(CorvexEditorViewBase::kForceRefresh);
    return kResultOk;
}

tresult PLUGIN_API CorvexController::getState(IBStream* state)
{
    StateValues values{};
    for (ParamID id = kFirstParam; id <= kLastParam; ++id) {
        Parameter* parameter = getParameterObject(id);
        if (!CORVEX_CHECK(parameter != nullptr))
            return kResultFalse;
        values[id] = static_cast<float>(parameter->getNormalized());
    }
    return WriteState(state, values) ? kResultOk : kResultFalse;
}

tresult PLUGIN_API CorvexController::setParamNormalized(ParamID tag, ParamValue value)
{
    // NaN is no value: the parameter keeps its own and the views see nothing.
    if (std::isnan(value))
        return kResultFalse;
    const tresult result = EditControllerEx1::setParamNormalized(tag, value);
    // Choosing a program sets its controls as the processor does.
    if (tag == kProgramParam && result == kResultOk && !m_aPresets.empty()) {
        const PresetEntry& preset = m_aPresets[ProgramIndex(value, static_cast<int>(m_aPresets.size()))];
        for (ParamID id = kFirstParam; id <= kReverbLevel; ++id)
            setParamNormalized(id, static_cast<ParamValue>(preset.values[id - kFirstParam]));
    }
    // A view may detach itself while being updated; walk a stable index range.
    for (size_t i = 0; i < m_views.size(); ++i)
        if (CorvexEditorViewBase* view = m_views[i])
            view->UpdateParameter(tag, value);
    return result;
}

IPlugView* PLUGIN_API CorvexController::createView(FIDString name)
{
    if (!name || std::strcmp(name, kEditorViewName) != 0)
        return nullptr;
    return CreateCorvexEditorView(*this);
}

void CorvexController::editorAttached(EditorView* editor)
{
    if (auto* view = dynamic_cast<CorvexEditorViewBase*>(editor))
        m_views.push_back(view);
}

void CorvexController::editorRemoved(EditorView* editor)
{
    DropView(editor);
}

void CorvexController::editorDestroyed(EditorView* editor)
{
    // Called from the view's base destructor, when the view is no CorvexEditorViewBase any
    // more: matching by address keeps a view destroyed while attached from staying listed.
    DropView(editor);
}

void CorvexController::DropView(EditorView* editor)
{
    m_views.erase(std::remove_if(m_views.begin(), m_views.end(),
                                 [editor](CorvexEditorViewBase* view) {
                                     return static_cast<EditorView*>(view) == editor;
                                 }),
                  m_views.end());
}

tresult PLUGIN_API CorvexController::getParameterInfo(int32 paramIndex, ParameterInfo& info)
{
    if (paramIndex < 0 || paramIndex >= getParameterCount())
        return kInvalidArgument;
    return EditControllerEx1::getParameterInfo(paramIndex, info);
}

tresult PLUGIN_API CorvexController::getUnitInfo(int32 unitIndex, UnitInfo& info)
{
    if (unitIndex < 0 || unitIndex >= getUnitCount())
        return kInvalidArgument;
    return EditControllerEx1::getUnitInfo(unitIndex, info);
}

tresult CorvexController::receiveText(const char*)
{
    return kResultOk;
}

tresult PLUGIN_API CorvexController::notify(IMessage* message)
{
    if (!message)
        return kInvalidArgument;
    IAttributeList* attributes = message->getAttributes();
    if (!attributes)
        return kResultFalse;
    const char* id = message->getMessageID();
    if (id && std::strcmp(id, kImpulseMessage) == 0) {
        const std::string name = BinaryText(attributes, kNameAttribute);
        const std::string error = BinaryText(attributes, kErrorAttribute);
        ShowImpulse(name, error);
        // The IR lives in the component state the host saves with the project.
        if (error.empty())
            setDirty(true);
        return kResultOk;
    }
    if (id && std::strcmp(id, kTunerReadingMessage) == 0) {
        int64 pitched = 0, note = 0;
        double hertz = 0.0, cents = 0.0;
        attributes->getInt(kTunerPitchedAttribute, pitched);
        attributes->getInt(kTunerNoteAttribute, note);
        attributes->getFloat(kTunerHertzAttribute, hertz);
        attributes->getFloat(kTunerCentsAttribute, cents);
        m_tunerReading = pitched ? PitchReading{true, hertz, int(note), cents} : PitchReading{};
        for (std::size_t i = 0; i < m_views.size(); ++i)
            if (CorvexEditorViewBase* view = m_views[i])
                view->ShowTunerReading(m_tunerReading);
        return kResultOk;
    }
    return EditControllerEx1::notify(message);
}

void CorvexController::Tune(bool shown, bool mute, double reference)
{
    IMessage* message = allocateMessage();
    if (!message)
        return;
    message->setMessageID(kTunerMessage);
    if (IAttributeList* attributes = message->getAttributes()) {
        attributes->setInt(kTunerShownAttribute, shown ? 1 : 0);
        attributes->setInt(kTunerMuteAttribute, mute ? 1 : 0);
        attributes->setFloat(kTunerReferenceAttribute, reference);
        sendMessage(message);
    }
    message->release();
}

void CorvexController::LoadImpulseFile(const std::string& path)
{
    SendToProcessor(kLoadImpulseMessage, &path);
}

void CorvexController::ClearImpulse()
{
    SendToProcessor(kClearImpulseMessage, nullptr);
}

void CorvexController::SendToProcessor(const char* id, const std::string* path)
{
    IMessage* message = allocateMessage();
    if (message) {
        message->setMessageID(id);
        if (path)
            SetBinaryText(message->getAttributes(), kPathAttribute, *path);
    }
    const bool sent = message && sendMessage(message) == kResultOk;
    if (message)
        message->release();
    // The processor answers at once; a controller without one says so where the user looks.
    if (!sent)
        ShowImpulse(m_sImpulseName, "the plug-in's processor cannot be reached");
}

void CorvexController::ShowImpulse(const std::string& name, const std::string& error)
{
    m_sImpulseName = name;
    for (std::size_t i = 0; i < m_views.size(); ++i)
        if (CorvexEditorViewBase* view = m_views[i])
            view->ShowImpulse(name, error);
}

tresult PLUGIN_API CorvexController::getMidiControllerAssignment(int32 busIndex, int16 channel, CtrlNumber number,
                                                                ParamID& id)
{
    // One map for the event bus's every channel.
    if (busIndex != 0 || channel < 0 || channel >= kMidiChannelCount)
        return kResultFalse;
    if (number == kCtrlProgramChange) {
        id = kProgramParam;
        return kResultTrue;
    }
    const ParamID mapped = DefaultMidiParam(number);
    if (mapped == 0)
        return kResultFalse;
    id = mapped;
    return kResultTrue;
}

} // namespace corvex
