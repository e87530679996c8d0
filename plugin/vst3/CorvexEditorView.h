#pragma once

#include "CorvexView.h"
#include "ImpulseAccess.h"
#include "editorhook.h"

#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"
#include "pluginterfaces/vst/ivstplugview.h"

#include <functional>
#include <memory>

namespace corvex {

class CRunLoopHandler;
class CorvexController;

// The view's IR requests, passed to the controller (which passes them to the processor).
class CControllerImpulseAccess final : public CImpulseAccess {
public:
    explicit CControllerImpulseAccess(CorvexController& controller) : m_controller(controller) {}
    void loadImpulseFile(const std::string& path) override;
    void clearImpulse() override;

private:
    CorvexController& m_controller;
};

// The view's tuner, through the controller (which passes it to the processor).
class CControllerTunerAccess final : public CTunerAccess {
public:
    explicit CControllerTunerAccess(CorvexController& controller) : m_controller(controller) {}
    void tune(bool bShown, bool bMute, double dReference) override;

private:
    CorvexController& m_controller;
};

// The Corvex panel as a VST 3 IPlugView: the format-neutral view (CCorvexView) with what VST 3
// hosts add around it: attached/removed with the host's IPlugFrame and its Linux run loop,
// content scaling (IPlugViewContentScaleSupport), size negotiation, keys as VST 3 key codes,
// IParameterFinder and IContextMenuTarget. The controller keeps it in its list of open views.
class CorvexEditorView : public CorvexEditorViewBase,
                         public Steinberg::IPlugViewContentScaleSupport,
                         public Steinberg::Vst::IParameterFinder,
                         public Steinberg::Vst::IContextMenuTarget,
                         public CCorvexView,
                         private CHostWindow {
public:
    using tresult = Steinberg::tresult;

    // Bound to a VST 3 controller, which also keeps it in its list of open views.
    explicit CorvexEditorView(Steinberg::Vst::EditController* controller);
    // Bound to any other host of the parameters.
    explicit CorvexEditorView(std::unique_ptr<CParameterAccess> parameters);
    ~CorvexEditorView() override;

    using CCorvexView::update;
    using Steinberg::FObject::update;
    using CCorvexView::onWheel;
    using CorvexEditorViewBase::onWheel;
    using CorvexEditorViewBase::isAttached;
    using CCorvexView::notify;

    void UpdateParameter(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value) override { update(id, value); }
    void Notify(const char* notification) override;
    void ShowImpulse(const std::string& name, const std::string& error) override { showImpulse(name, error); }
    void ShowTunerReading(const PitchReading& reading) override { showTunerReading(reading); }

    tresult PLUGIN_API isPlatformTypeSupported(Steinberg::FIDString type) SMTG_OVERRIDE;
    tresult PLUGIN_API attached(void* parent, Steinberg::FIDString type) SMTG_OVERRIDE;
    tresult PLUGIN_API removed() SMTG_OVERRIDE;
    tresult PLUGIN_API onSize(Steinberg::ViewRect* newSize) SMTG_OVERRIDE;
    tresult PLUGIN_API canResize() SMTG_OVERRIDE { return Steinberg::kResultFalse; }
    tresult PLUGIN_API checkSizeConstraint(Steinberg::ViewRect* rect) SMTG_OVERRIDE;
    // Keys as VST 3 hosts pass them on: kResultTrue when the editor used the key, kResultFalse
    // so that the host handles it.
    tresult PLUGIN_API onKeyDown(Steinberg::char16 key, Steinberg::int16 keyCode,
                                 Steinberg::int16 modifiers) SMTG_OVERRIDE;
    tresult PLUGIN_API onKeyUp(Steinberg::char16 key, Steinberg::int16 keyCode,
                               Steinberg::int16 modifiers) SMTG_OVERRIDE;

    tresult PLUGIN_API setContentScaleFactor(ScaleFactor factor) SMTG_OVERRIDE;
    tresult PLUGIN_API findParameter(Steinberg::int32 xPos, Steinberg::int32 yPos,
                                     Steinberg::Vst::ParamID& resultTag) SMTG_OVERRIDE;
    tresult PLUGIN_API executeMenuItem(Steinberg::int32 tag) SMTG_OVERRIDE;

    OBJ_METHODS(CorvexEditorView, CorvexEditorViewBase)
    DEFINE_INTERFACES
        DEF_INTERFACE(Steinberg::IPlugViewContentScaleSupport)
        DEF_INTERFACE(Steinberg::Vst::IParameterFinder)
        DEF_INTERFACE(Steinberg::Vst::IContextMenuTarget)
    END_DEFINE_INTERFACES(CorvexEditorViewBase)
    REFCOUNT_METHODS(CorvexEditorViewBase)

private:
    CorvexEditorView(Steinberg::Vst::EditController* controller, std::unique_ptr<CParameterAccess> parameters);

    // What the host window offers the view: the IPlugFrame's run loop and resizeView.
    bool watchDescriptor(int descriptor, std::function<void()> onReady) override;
    bool startTimer(int milliseconds, std::function<void()> onTick) override;
    void stopWatching() override;
    void requestSize(int width, int height) override;

    CRunLoopHandler* m_pRunLoopHandler = nullptr;
    // Set when the controller is Corvex's own.
    std::unique_ptr<CControllerImpulseAccess> m_pImpulseAccess;
    std::unique_ptr<CControllerTunerAccess> m_pTunerAccess;
};

} // namespace corvex
