#include "EditorBase.h"

#include <cstring>

namespace corvex {

using namespace Steinberg;

namespace {

// The VST 3 SDK's VirtualKeyCodes and KeyModifier values (pluginterfaces/base/keycodes.h).
constexpr int16 kVstKeyEscape = 6;
constexpr int16 kVstKeyUp = 12;
constexpr int16 kVstKeyDown = 14;
constexpr int16 kVstKeyPageUp = 15;
constexpr int16 kVstKeyPageDown = 16;
constexpr int16 kVstShiftKey = 1 << 0;
constexpr int16 kVstAlternateKey = 1 << 1;
constexpr int16 kVstCommandKey = 1 << 2; // Ctrl outside macOS

gui::CKeyEvent KeyEventOf(int16 keyCode, int16 modifiers)
{
    gui::CKeyEvent event;
    switch (keyCode) {
    case kVstKeyEscape: event.key = gui::VirtualKey::Escape; break;
    case kVstKeyUp: event.key = gui::VirtualKey::Up; break;
    case kVstKeyDown: event.key = gui::VirtualKey::Down; break;
    case kVstKeyPageUp: event.key = gui::VirtualKey::PageUp; break;
    case kVstKeyPageDown: event.key = gui::VirtualKey::PageDown; break;
    default: break;
    }
    if ((modifiers & kVstShiftKey) != 0)
        event.modifiers |= gui::kShift;
    if ((modifiers & kVstAlternateKey) != 0)
        event.modifiers |= gui::kAlt;
    if ((modifiers & kVstCommandKey) != 0)
        event.modifiers |= gui::kControl;
    return event;
}

} // namespace

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
    // Hosts are offered the window systems only; the offscreen type is for our own tools.
    return type != nullptr && IsPlatformWindowTypeSupported(type) ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API CEditorBase::attached(void* parent, FIDString type)
{
    if (parent == nullptr || type == nullptr || isAttached())
        return kResultFalse;
    const bool bOffscreen = std::strcmp(type, kPlatformTypeOffscreen) == 0;
    if (!bOffscreen && isPlatformTypeSupported(type) != kResultTrue)
        return kResultFalse;
    // The window registers the timer with the host, so it exists before the frame opens.
    if (!bOffscreen) {
        m_pWindow = CreatePlatformWindow(type, parent, *this, plugFrame);
        if (!m_pWindow)
            return kResultFalse;
    }
    m_bTimerRunning = true;
    if (!open(parent)) {
        m_bTimerRunning = false;
        m_pWindow.reset();
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
    m_pWindow.reset();
    close();
    return CorvexEditorViewBase::removed();
}

void CEditorBase::runModalDialog(int /*resourceId*/) {}

void CEditorBase::presentFrame(const gui::CRect& painted)
{
    if (m_pWindow)
        m_pWindow->present(painted);
}

void CEditorBase::redrawFrame()
{
    if (!frame)
        return;
    frame->redraw();
    for (const gui::CRect& painted : frame->getPaintedRegion())
        presentFrame(painted);
}

void CEditorBase::onMouseDown(const gui::CMouseEvent& event)
{
    m_pointer = event.where;
    m_bPointerInside = true;
    if (frame) {
        frame->onMouseDown(event);
        redrawFrame();
    }
}

void CEditorBase::onMouseMoved(const gui::CMouseEvent& event)
{
    m_pointer = event.where;
    m_bPointerInside = true;
    if (frame) {
        frame->onMouseMoved(event);
        redrawFrame();
    }
}

void CEditorBase::onMouseUp(const gui::CMouseEvent& event)
{
    if (frame) {
        frame->onMouseUp(event);
        redrawFrame();
    }
}

void CEditorBase::onWheel(const gui::CMouseEvent& event, float distance)
{
    if (frame) {
        frame->onWheel(event, distance);
        redrawFrame();
    }
}

bool CEditorBase::onKey(const gui::CKeyEvent& event)
{
    if (!frame || event.key == gui::VirtualKey::Other || !handleKey(event))
        return false;
    redrawFrame();
    return true;
}

tresult PLUGIN_API CEditorBase::onKeyDown(char16 /*key*/, int16 keyCode, int16 modifiers)
{
    return onKey(KeyEventOf(keyCode, modifiers)) ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API CEditorBase::onKeyUp(char16 /*key*/, int16 /*keyCode*/, int16 /*modifiers*/)
{
    // The editor acts on presses only.
    return kResultFalse;
}

} // namespace corvex
