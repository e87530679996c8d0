#pragma once

#include "ParameterAccess.h"

#include "pluginterfaces/gui/iplugview.h"
#include "public.sdk/source/vst/vsteditcontroller.h"

namespace corvex {

// The view's parameters through a VST 3 edit controller: an edit is stored with
// setParamNormalized (which updates every open view) and then reported with performEdit. A
// context menu is the host's (IComponentHandler3::createContextMenu), so the host's own items
// (MIDI learning, automation) appear on our controls.
class CControllerParameterAccess final : public CParameterAccess {
public:
    explicit CControllerParameterAccess(Steinberg::Vst::EditController* controller) : m_pController(controller) {}

    double getParamNormalized(ParamID id) const override;
    double getDefaultNormalized(ParamID id) const override;
    void beginEdit(ParamID id) override;
    void performEdit(ParamID id, double value) override;
    void endEdit(ParamID id) override;
    bool popupContextMenu(ParamID id, int x, int y) override;
    // The view the menus are asked for (not owned).
    void setView(Steinberg::IPlugView* view) { m_pView = view; }

private:
    Steinberg::Vst::EditController* m_pController;
    Steinberg::IPlugView* m_pView = nullptr;
};

} // namespace corvex
