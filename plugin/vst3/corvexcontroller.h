#pragma once

#include <string>
#include <vector>

#include "UserPresets.h"
#include "corvexstate.h"
#include "editorhook.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

namespace corvex {

// The edit controller: publishes the parameters and the unit "Unit1", mirrors the processor's
// state, and keeps every attached editor view up to date. Runs on the host's UI thread only.
class CorvexController : public Steinberg::Vst::EditControllerEx1, public Steinberg::Vst::IMidiMapping {
public:
    using tresult = Steinberg::tresult;
    using ParamID = Steinberg::Vst::ParamID;
    using ParamValue = Steinberg::Vst::ParamValue;

    static constexpr const char* kEditorViewName = "editor";

    CorvexController();
    ~CorvexController() override;

    static Steinberg::FUnknown* createInstance(void*);

    tresult PLUGIN_API initialize(Steinberg::FUnknown* context) SMTG_OVERRIDE;
    tresult PLUGIN_API terminate() SMTG_OVERRIDE;
    tresult PLUGIN_API setComponentState(Steinberg::IBStream* state) SMTG_OVERRIDE;
    tresult PLUGIN_API setState(Steinberg::IBStream* state) SMTG_OVERRIDE;
    tresult PLUGIN_API getState(Steinberg::IBStream* state) SMTG_OVERRIDE;
    tresult PLUGIN_API setParamNormalized(ParamID tag, ParamValue value) SMTG_OVERRIDE;
    Steinberg::IPlugView* PLUGIN_API createView(Steinberg::FIDString name) SMTG_OVERRIDE;
    void editorAttached(Steinberg::Vst::EditorView* editor) SMTG_OVERRIDE;
    void editorRemoved(Steinberg::Vst::EditorView* editor) SMTG_OVERRIDE;
    void editorDestroyed(Steinberg::Vst::EditorView* editor) SMTG_OVERRIDE;
    tresult receiveText(const char* text) SMTG_OVERRIDE;
    // The SDK's handling reads a "TextMessage"'s attributes without checking they exist.
    tresult PLUGIN_API notify(Steinberg::Vst::IMessage* message) SMTG_OVERRIDE;
    // The SDK's versions throw on an index out of range; a host only ever sees kInvalidArgument.
    tresult PLUGIN_API getParameterInfo(Steinberg::int32 paramIndex, Steinberg::Vst::ParameterInfo& info) SMTG_OVERRIDE;
    tresult PLUGIN_API getUnitInfo(Steinberg::int32 unitIndex, Steinberg::Vst::UnitInfo& info) SMTG_OVERRIDE;

    // IMidiMapping
    tresult PLUGIN_API getMidiControllerAssignment(Steinberg::int32 busIndex, Steinberg::int16 channel,
                                                   Steinberg::Vst::CtrlNumber midiControllerNumber,
                                                   ParamID& id) SMTG_OVERRIDE;

    // The view's requests about the user cabinet IR, passed on to the processor; the outcome
    // reaches every view through ShowImpulse.
    void LoadImpulseFile(const std::string& path);
    void ClearImpulse();
    // The IR's name as the processor or the last component state gave it; empty: the built-in
    // cabinet.
    const std::string& ImpulseName() const { return m_sImpulseName; }

    // The view's tuner, passed on to the processor (see kTunerMessage); its readings reach every
    // view through ShowTunerReading.
    void Tune(bool shown, bool mute, double reference);
    // The newest reading the processor sent.
    const PitchReading& TunerReading() const { return m_tunerReading; }

    // The attached views, in attachment order.
    const std::vector<CorvexEditorViewBase*>& Views() const { return m_views; }

    OBJ_METHODS(CorvexController, Steinberg::Vst::EditControllerEx1)
    DEFINE_INTERFACES
        DEF_INTERFACE(Steinberg::Vst::IMidiMapping)
    END_DEFINE_INTERFACES(Steinberg::Vst::EditControllerEx1)
    REFCOUNT_METHODS(Steinberg::Vst::EditControllerEx1)

private:
    tresult ApplyState(Steinberg::IBStream* state);
    tresult ApplyValues(const StateValues& values);
    void SendToProcessor(const char* id, const std::string* path);
    void DropView(Steinberg::Vst::EditorView* editor);
    void ShowImpulse(const std::string& name, const std::string& error);

    std::vector<CorvexEditorViewBase*> m_views;
    std::string m_sImpulseName;
    PitchReading m_tunerReading;
    // The program list's presets, read at initialisation.
    std::vector<PresetEntry> m_aPresets;
};

} // namespace corvex
