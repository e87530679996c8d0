#include "ControllerParameterAccess.h"

#include "corvexcontroller.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"

namespace corvex {

double CControllerParameterAccess::getParamNormalized(ParamID id) const
{
    return m_pController != nullptr ? m_pController->getParamNormalized(id) : 0.0;
}

double CControllerParameterAccess::getDefaultNormalized(ParamID id) const
{
    if (m_pController != nullptr)
        if (Steinberg::Vst::Parameter* parameter = m_pController->getParameterObject(id))
            return parameter->getInfo().defaultNormalizedValue;
    return IsParameter(id) ? double(kParamInfos[id].defaultValue) : 0.0;
}

void CControllerParameterAccess::beginEdit(ParamID id)
{
    if (m_pController != nullptr)
        m_pController->beginEdit(id);
}

void CControllerParameterAccess::performEdit(ParamID id, double value)
{
    if (m_pController == nullptr)
        return;
    m_pController->setParamNormalized(id, value);
    m_pController->performEdit(id, value);
}

void CControllerParameterAccess::endEdit(ParamID id)
{
    if (m_pController != nullptr)
        m_pController->endEdit(id);
}

bool CControllerParameterAccess::popupContextMenu(ParamID id, int x, int y)
{
    if (m_pController == nullptr || m_pView == nullptr)
        return false;
    Steinberg::FUnknownPtr<Steinberg::Vst::IComponentHandler3> handler(m_pController->getComponentHandler());
    if (!handler)
        return false;
    Steinberg::Vst::ParamID paramId = id;
    Steinberg::Vst::IContextMenu* menu = handler->createContextMenu(m_pView, &paramId);
    if (menu == nullptr)
        return false;
    const bool shown = menu->popup(x, y) == Steinberg::kResultOk;
    menu->release();
    return shown;
}

} // namespace corvex
