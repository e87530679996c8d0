#pragma once

#include <string>

#include "pluginterfaces/gui/iplugview.h"
#include "tuner/PitchDetector.h"
#include "pluginterfaces/vst/vsttypes.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

namespace corvex {

class CorvexController;

// Base of the editor views the controller keeps informed while the host has them attached
// (attachedToParent/removedFromParent report to the controller through EditorView).
class CorvexEditorViewBase : public Steinberg::Vst::EditorView {
public:
    // Sent after a full controller state restore: repaint everything at once.
    static constexpr const char* kForceRefresh = "Force Refresh";

    using Steinberg::Vst::EditorView::EditorView;

    // Every value the controller's setParamNormalized receives, as received (not clamped).
    virtual void UpdateParameter(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value) = 0;
    // A notification from the controller, such as kForceRefresh.
    virtual void Notify(const char* notification) = 0;
    // The user cabinet IR in use (name empty: the built-in cabinet) and, after a refused file,
    // the reason (otherwise empty).
    virtual void ShowImpulse(const std::string& name, const std::string& error) = 0;
    // The tuner's newest reading, from the processor.
    virtual void ShowTunerReading(const PitchReading& reading) = 0;
};

// Creates the view named "editor" bound to controller, or returns nullptr. Defined exactly once
// per module: by the editor library (target corvex_editor) when it is built, otherwise by
// corvex_editor_stub, which yields no view.
Steinberg::IPlugView* CreateCorvexEditorView(CorvexController& controller);

} // namespace corvex
