#include "EditorBase.h"

#include <cstring>

namespace corvex {

using namespace Steinberg;

CEditorBase::CEditorBase(Vst::EditController* controller, const ViewRect& size)
    : CorvexEditorViewBase(controller, const_cast<ViewRect*>(&size))
{
}

CEditorBase::~CEditorBase()
{
    // A host that releases a view without removing it first must not leave it in the
    // controller's list of views to update.
    if (isAttached() && controller != nullptr)
        controller->editorRemoved(this);
}

void CEditorBase::onTimer()
{
    if (m_bTimerRunning)
        notify(unknownCast(), kTimerFired);
}

void CEditorBase::notify(FUnknown* /*sender*/, const char* message)
{
    if (message != nullptr && std::strcmp(message, kTimerFired) == 0 && frame) {
        frame->idle();
        redrawFrame();
    }
}

tresult PLUGIN_API CEditorBase::isPlatformTypeSupported(FIDString type)
{
    if (type == nullptr)
        return kResultFalse;
    const bool supported =
        std::strcmp(type, kPlatformTypeX11EmbedWindowID) == 0 || std::strcmp(type, kPlatformTypeOffscreen) == 0;
    return supported ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API CEditorBase::attached(void* parent, FIDString type)
{
    if (parent == nullptr || isAttached() || isPlatformTypeSupported(type) != kResultTrue)
        return kResultFalse;
    m_bTimerRunning = true;
    if (!open(parent)) {
        m_bTimerRunning = false;
        return kResultFalse;
    }
    const gui::CRect& size = frame->getViewSize();
    ViewRect viewRect(0, 0, size.width(), size.height());
    setRect(viewRect);
    if (plugFrame != nullptr)
        plugFrame->resizeView(this, &viewRect);
    redrawFrame();
    return CorvexEditorViewBase::attached(parent, type);
}

tresult PLUGIN_API CEditorBase::removed()
{
    if (!isAttached())
        return kResultFalse;
    m_bTimerRunning = false;
    close();
    return CorvexEditorViewBase::removed();
}

void CEditorBase::runModalDialog(int /*resourceId*/) {}

void CEditorBase::presentFrame(const gui::CRect& /*painted*/) {}

void CEditorBase::redrawFrame()
{
    if (!frame)
        return;
    const gui::CRect painted = frame->redraw();
    if (!painted.isEmpty())
        presentFrame(painted);
}

} // namespace corvex
