#include "corvexcontroller.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/ConsistencyCheck.h"
#include "corvexparameters.h"
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
    addUnit(new Unit(kUnit1Name, kUnit1Id, kRootUnitId, kNoProgramListId));
    RegisterParameters(parameters);
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        setParamNormalized(id, static_cast<ParamValue>(kParamInfos[id].defaultValue));
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
    return ApplyState(state);
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
    if (!message->getAttributes())
        return kResultFalse;
    return EditControllerEx1::notify(message);
}

tresult PLUGIN_API CorvexController::getMidiControllerAssignment(int32, int16, CtrlNumber, ParamID&)
{
    // No parameter is a MIDI-controlled one; naming none keeps hosts from mapping garbage.
    return kResultFalse;
}

} // namespace corvex
