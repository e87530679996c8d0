#include "EditorBase.h"

#include <cmath>
#include <cstdlib>
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
    : CorvexEditorViewBase(controller, const_cast<ViewRect*>(&size)), m_layoutSize(size)
{
}

double CEditorBase::ParseScale(const char* text)
{
    if (text == nullptr || *text == 0)
        return 0.0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return end != text && *end == 0 && value >= kMinScale && value <= kMaxScale ? value : 0.0;
}

ViewRect CEditorBase::scaledSize() const
{
    const auto scaled = [&](int32 v) { return int32(std::floor(v * m_dScale + 0.5)); };
    return ViewRect(0, 0, scaled(m_layoutSize.getWidth()), scaled(m_layoutSize.getHeight()));
}

tresult PLUGIN_API CEditorBase::setContentScaleFactor(ScaleFactor factor)
{
    if (!(factor >= kMinScale && factor <= kMaxScale))
        return kResultFalse;
    m_bHostScale = true;
    if (double(factor) != m_dScale) {
        m_dScale = factor;
        applyScale();
    }
    return kResultTrue;
}

void CEditorBase::applyScale()
{
    ViewRect size = scaledSize();
    setRect(size);
    if (!frame)
        return;
    // Every control is rebuilt at the new scale from the host's current values.
    close();
    if (!open(systemWindow))
        return;
    if (m_pWindow)
        m_pWindow->resize(size.getWidth(), size.getHeight());
    if (plugFrame != nullptr)
        plugFrame->resizeView(this, &size);
    redrawFrame();
}

tresult PLUGIN_API CEditorBase::onSize(ViewRect* newSize)
{
    // The panel keeps its size; a host may only give it a size its constraint allows.
    if (newSize == nullptr)
        return kResultFalse;
    ViewRect checked = *newSize;
    if (checkSizeConstraint(&checked) != kResultOk || checked.getWidth() != newSize->getWidth() ||
        checked.getHeight() != newSize->getHeight())
        return kResultFalse;
    return CorvexEditorViewBase::onSize(newSize);
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
    // The host's factor wins; without one, the user's variable, then the window system's setting.
    if (!m_bHostScale && !bOffscreen) {
        double scale = ParseScale(std::getenv(kScaleVariable));
        if (scale == 0.0)
            scale = PlatformContentScale(type);
        m_dScale = scale >= kMinScale && scale <= kMaxScale ? scale : 1.0;
    }
    ViewRect viewRect = scaledSize();
    setRect(viewRect);
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
        presentFrame(frame->getOffscreen().toDevice(painted));
}

void CEditorBase::onMouseDown(const gui::CMouseEvent& deviceEvent)
{
    const gui::CMouseEvent event = toLayout(deviceEvent);
    m_pointer = event.where;
    m_bPointerInside = true;
    if (frame) {
        frame->onMouseDown(event);
        redrawFrame();
    }
}

void CEditorBase::onMouseMoved(const gui::CMouseEvent& deviceEvent)
{
    const gui::CMouseEvent event = toLayout(deviceEvent);
    m_pointer = event.where;
    m_bPointerInside = true;
    if (frame) {
        frame->onMouseMoved(event);
        redrawFrame();
    }
}

void CEditorBase::onMouseUp(const gui::CMouseEvent& deviceEvent)
{
    const gui::CMouseEvent event = toLayout(deviceEvent);
    if (frame) {
        frame->onMouseUp(event);
        redrawFrame();
    }
}

void CEditorBase::onWheel(const gui::CMouseEvent& deviceEvent, float distance)
{
    const gui::CMouseEvent event = toLayout(deviceEvent);
    if (frame) {
        frame->onWheel(event, distance);
        redrawFrame();
    }
}

gui::CMouseEvent CEditorBase::toLayout(gui::CMouseEvent event) const
{
    if (frame)
        event.where = frame->getOffscreen().toLayout(event.where);
    return event;
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
