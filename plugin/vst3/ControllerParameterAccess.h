#pragma once

#include "ParameterAccess.h"

#include "public.sdk/source/vst/vsteditcontroller.h"

namespace corvex {

// The view's parameters through a VST 3 edit controller: an edit is stored with
// setParamNormalized (which updates every open view) and then reported with performEdit.
class CControllerParameterAccess final : public CParameterAccess {
public:
    explicit CControllerParameterAccess(Steinberg::Vst::EditController* controller) : m_pController(controller) {}

    double getParamNormalized(ParamID id) const override;
    double getDefaultNormalized(ParamID id) const override;
    void beginEdit(ParamID id) override;
    void performEdit(ParamID id, double value) override;
    void endEdit(ParamID id) override;

private:
    Steinberg::Vst::EditController* m_pController;
};

} // namespace corvex
