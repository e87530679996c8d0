#include "CorvexEditorView.h"

#include "ControllerParameterAccess.h"
#include "corvexcontroller.h"

#include <atomic>
#include <cstring>
#include <utility>

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

const ViewRect kViewRect(0, 0, editor::kEditorWidth, editor::kEditorHeight);

ViewRect ViewRectOf(const gui::CRect& size)
{
    return ViewRect(0, 0, size.width(), size.height());
}

} // namespace

#if SMTG_OS_LINUX
// What the host's run loop holds: it may keep a reference past the view's use of it, so it only
// forwards until detached.
class CRunLoopHandler final : public Linux::IEventHandler, public Linux::ITimerHandler {
public:
    explicit CRunLoopHandler(Linux::IRunLoop* runLoop) : m_pRunLoop(runLoop) {}

    Linux::IRunLoop* runLoop() const { return m_pRunLoop; }
    std::function<void()> onReady;
    std::function<void()> onTick;
    bool bWatching = false;
    bool bTiming = false;

    // Unregisters from the run loop and stops forwarding; the run loop may still hold a reference.
    void detach()
    {
        if (bTiming)
            m_pRunLoop->unregisterTimer(this);
        if (bWatching)
            m_pRunLoop->unregisterEventHandler(this);
        bTiming = bWatching = false;
        onReady = nullptr;
        onTick = nullptr;
        m_pRunLoop->release();
    }

    void PLUGIN_API onFDIsSet(Linux::FileDescriptor /*fd*/) override
    {
        if (onReady)
            onReady();
    }
    void PLUGIN_API onTimer() override
    {
        if (onTick)
            onTick();
    }

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        if (FUnknownPrivate::iidEqual(iid, Linux::IEventHandler::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
            addRef();
            *obj = static_cast<Linux::IEventHandler*>(this);
            return kResultOk;
        }
        if (FUnknownPrivate::iidEqual(iid, Linux::ITimerHandler::iid)) {
            addRef();
            *obj = static_cast<Linux::ITimerHandler*>(this);
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return ++m_iRefs; }
    uint32 PLUGIN_API release() override
    {
        const uint32 refs = --m_iRefs;
        if (refs == 0)
            delete this;
        return refs;
    }

private:
    ~CRunLoopHandler() = default;

    std::atomic<uint32> m_iRefs{1};
    Linux::IRunLoop* m_pRunLoop;
};
#else
class CRunLoopHandler {};
#endif

CorvexEditorView::CorvexEditorView(Vst::EditController* controller)
    : CorvexEditorView(controller, std::make_unique<CControllerParameterAccess>(controller))
{
    static_cast<CControllerParameterAccess&>(getParameterAccess()).setView(this);
}

CorvexEditorView::CorvexEditorView(std::unique_ptr<CParameterAccess> parameters)
    : CorvexEditorView(nullptr, std::move(parameters))
{
}

CorvexEditorView::CorvexEditorView(Vst::EditController* controller, std::unique_ptr<CParameterAccess> parameters)
    : CorvexEditorViewBase(controller, const_cast<ViewRect*>(&kViewRect)), CCorvexView(std::move(parameters))
{
    // A view opened after an IR was loaded or restored shows it from the start.
    if (auto* corvex = dynamic_cast<CorvexController*>(controller)) {
        m_pImpulseAccess = std::make_unique<CControllerImpulseAccess>(*corvex);
        setImpulseAccess(m_pImpulseAccess.get());
        showImpulse(corvex->ImpulseName(), {});
        m_pTunerAccess = std::make_unique<CControllerTunerAccess>(*corvex);
        setTunerAccess(m_pTunerAccess.get());
    }
}

void CControllerTunerAccess::tune(bool bShown, bool bMute, double dReference)
{
    m_controller.Tune(bShown, bMute, dReference);
}

void CControllerImpulseAccess::loadImpulseFile(const std::string& path)
{
    m_controller.LoadImpulseFile(path);
}

void CControllerImpulseAccess::clearImpulse()
{
    m_controller.ClearImpulse();
}

CorvexEditorView::~CorvexEditorView()
{
    setImpulseAccess(nullptr);
    // The window goes while the run loop it registered with is still this object's.
    detach();
    stopWatching();
    // A host that releases a view without removing it first must not leave it in the
    // controller's list of views to update.
    if (isAttached() && controller != nullptr)
        controller->editorRemoved(this);
}

void CorvexEditorView::Notify(const char* notification)
{
    if (notification != nullptr && std::strcmp(notification, kForceRefresh) == 0)
        refresh();
}

tresult PLUGIN_API CorvexEditorView::isPlatformTypeSupported(FIDString type)
{
    return CEditorBase::isPlatformTypeSupported(type) ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API CorvexEditorView::attached(void* parent, FIDString type)
{
    if (isAttached() || !attach(parent, type, this))
        return kResultFalse;
    return CorvexEditorViewBase::attached(parent, type);
}

tresult PLUGIN_API CorvexEditorView::removed()
{
    if (!isAttached())
        return kResultFalse;
    detach();
    return CorvexEditorViewBase::removed();
}

tresult PLUGIN_API CorvexEditorView::onSize(ViewRect* newSize)
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

tresult PLUGIN_API CorvexEditorView::checkSizeConstraint(ViewRect* rect)
{
    if (rect == nullptr)
        return kResultFalse;
    int width = rect->getWidth();
    int height = rect->getHeight();
    constrainSize(width, height);
    rect->right = rect->left + width;
    rect->bottom = rect->top + height;
    return kResultOk;
}

tresult PLUGIN_API CorvexEditorView::onKeyDown(char16 /*key*/, int16 keyCode, int16 modifiers)
{
    return onKey(KeyEventOf(keyCode, modifiers)) ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API CorvexEditorView::onKeyUp(char16 /*key*/, int16 /*keyCode*/, int16 /*modifiers*/)
{
    // The editor acts on presses only.
    return kResultFalse;
}

tresult PLUGIN_API CorvexEditorView::setContentScaleFactor(ScaleFactor factor)
{
    if (!setContentScale(factor))
        return kResultFalse;
    setRect(ViewRectOf(scaledSize()));
    return kResultTrue;
}

tresult PLUGIN_API CorvexEditorView::findParameter(int32 xPos, int32 yPos, Vst::ParamID& resultTag)
{
    // The host's position is in the view's device pixels.
    ParamID id = 0;
    if (!findParameterAt(int(xPos), int(yPos), id))
        return kResultFalse;
    resultTag = id;
    return kResultOk;
}

tresult PLUGIN_API CorvexEditorView::executeMenuItem(int32 /*tag*/)
{
    return kResultFalse;
}

void CorvexEditorView::requestSize(int width, int height)
{
    ViewRect size(0, 0, width, height);
    setRect(size);
    if (plugFrame != nullptr)
        plugFrame->resizeView(this, &size);
}

#if SMTG_OS_LINUX
bool CorvexEditorView::watchDescriptor(int descriptor, std::function<void()> onReady)
{
    if (m_pRunLoopHandler == nullptr) {
        Linux::IRunLoop* runLoop = nullptr;
        if (plugFrame == nullptr ||
            plugFrame->queryInterface(Linux::IRunLoop::iid, reinterpret_cast<void**>(&runLoop)) != kResultOk ||
            runLoop == nullptr)
            return false;
        m_pRunLoopHandler = new CRunLoopHandler(runLoop); // takes over the reference
    }
    m_pRunLoopHandler->onReady = std::move(onReady);
    m_pRunLoopHandler->bWatching =
        m_pRunLoopHandler->runLoop()->registerEventHandler(m_pRunLoopHandler, descriptor) == kResultOk;
    return m_pRunLoopHandler->bWatching;
}

bool CorvexEditorView::startTimer(int milliseconds, std::function<void()> onTick)
{
    if (m_pRunLoopHandler == nullptr || milliseconds <= 0)
        return false;
    m_pRunLoopHandler->onTick = std::move(onTick);
    m_pRunLoopHandler->bTiming =
        m_pRunLoopHandler->runLoop()->registerTimer(m_pRunLoopHandler, Linux::TimerInterval(milliseconds)) == kResultOk;
    return m_pRunLoopHandler->bTiming;
}

void CorvexEditorView::stopWatching()
{
    if (m_pRunLoopHandler == nullptr)
        return;
    m_pRunLoopHandler->detach();
    m_pRunLoopHandler->release();
    m_pRunLoopHandler = nullptr;
}
#else
// Windows hosts offer no run loop: the window runs its own timer.
bool CorvexEditorView::watchDescriptor(int /*descriptor*/, std::function<void()> /*onReady*/)
{
    return false;
}

bool CorvexEditorView::startTimer(int /*milliseconds*/, std::function<void()> /*onTick*/)
{
    return false;
}

void CorvexEditorView::stopWatching() {}
#endif

Steinberg::IPlugView* CreateCorvexEditorView(CorvexController& controller)
{
    return new CorvexEditorView(&controller);
}

} // namespace corvex
