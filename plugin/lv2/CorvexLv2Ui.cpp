// The editor in LV2 hosts (ui:X11UI): the same CorvexEditorView as in VST 3 hosts, embedded in the
// host's ui:parent window. Its parameters go through CLv2ParameterAccess (port_event in,
// write_function out); its X11 window and 50 ms timer run from the host's idle calls through a
// small run loop of our own, the same interface a VST 3 host's run loop offers.

#include "CorvexEditorView.h"
#include "Lv2Ports.h"

#include <lv2/ui/ui.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

namespace corvex::lv2 {
namespace {

using namespace Steinberg;

// The view's parameters as LV2 ports: values the host sent, edits written to the plug-in's ports,
// gestures reported through ui:touch when the host offers it.
class CLv2ParameterAccess final : public CParameterAccess {
public:
    CLv2ParameterAccess(LV2UI_Write_Function write, LV2UI_Controller controller, const LV2UI_Touch* touch)
        : m_pWrite(write), m_pController(controller), m_pTouch(touch)
    {
        for (ParamID id = kFirstParam; id <= kLastParam; ++id)
            m_afValues[id] = kParamInfos[id].defaultValue;
    }

    void setFromHost(ParamID id, float value)
    {
        if (IsParameter(id))
            m_afValues[id] = value;
    }

    double getParamNormalized(ParamID id) const override { return IsParameter(id) ? m_afValues[id] : 0.0; }
    double getDefaultNormalized(ParamID id) const override
    {
        return IsParameter(id) ? kParamInfos[id].defaultValue : 0.0;
    }
    void beginEdit(ParamID id) override { touch(id, true); }
    void performEdit(ParamID id, double value) override
    {
        const std::uint32_t port = PortOfParam(id);
        if (port >= kPortCount || kPorts[port].kind != PortKind::ControlIn)
            return;
        const float portValue = float(std::clamp(value, 0.0, 1.0));
        m_afValues[id] = portValue;
        m_pWrite(m_pController, port, sizeof portValue, 0, &portValue);
    }
    void endEdit(ParamID id) override { touch(id, false); }

private:
    void touch(ParamID id, bool grabbed)
    {
        const std::uint32_t port = PortOfParam(id);
        if (m_pTouch != nullptr && port < kPortCount && kPorts[port].kind == PortKind::ControlIn)
            m_pTouch->touch(m_pTouch->handle, port, grabbed);
    }

    LV2UI_Write_Function m_pWrite;
    LV2UI_Controller m_pController;
    const LV2UI_Touch* m_pTouch;
    float m_afValues[kParamTableSize] = {};
};

// The view's IPlugFrame and run loop, driven by the host's idle calls: every call lets the window
// read its X events, and fires each timer whose interval has passed.
class CIdleRunLoop final : public IPlugFrame, public Linux::IRunLoop {
public:
    explicit CIdleRunLoop(const LV2UI_Resize* resize) : m_pResize(resize) {}
    ~CIdleRunLoop()
    {
        for (auto& h : m_aHandlers)
            h.handler->release();
        for (auto& t : m_aTimers)
            t.handler->release();
    }

    void idle()
    {
        // Copies: a handler may unregister itself while called.
        const auto handlers = m_aHandlers;
        for (const auto& h : handlers)
            if (isRegistered(h.handler))
                h.handler->onFDIsSet(h.fd);
        const auto now = Clock::now();
        const auto timers = m_aTimers;
        for (const auto& t : timers) {
            auto found = std::find_if(m_aTimers.begin(), m_aTimers.end(),
                                      [&t](const Timer& o) { return o.handler == t.handler; });
            if (found == m_aTimers.end() || now - found->last < found->interval)
                continue;
            found->last = now;
            t.handler->onTimer();
        }
    }

    tresult PLUGIN_API resizeView(IPlugView* view, ViewRect* newSize) override
    {
        if (view == nullptr || newSize == nullptr)
            return kInvalidArgument;
        if (m_pResize != nullptr)
            m_pResize->ui_resize(m_pResize->handle, newSize->getWidth(), newSize->getHeight());
        return view->onSize(newSize);
    }

    tresult PLUGIN_API registerEventHandler(Linux::IEventHandler* handler, Linux::FileDescriptor fd) override
    {
        if (handler == nullptr)
            return kInvalidArgument;
        handler->addRef();
        m_aHandlers.push_back({handler, fd});
        return kResultOk;
    }
    tresult PLUGIN_API unregisterEventHandler(Linux::IEventHandler* handler) override
    {
        auto found = std::find_if(m_aHandlers.begin(), m_aHandlers.end(),
                                  [handler](const Handler& h) { return h.handler == handler; });
        if (found == m_aHandlers.end())
            return kInvalidArgument;
        found->handler->release();
        m_aHandlers.erase(found);
        return kResultOk;
    }
    tresult PLUGIN_API registerTimer(Linux::ITimerHandler* handler, Linux::TimerInterval milliseconds) override
    {
        if (handler == nullptr || milliseconds == 0)
            return kInvalidArgument;
        handler->addRef();
        m_aTimers.push_back({handler, std::chrono::milliseconds(milliseconds), Clock::now()});
        return kResultOk;
    }
    tresult PLUGIN_API unregisterTimer(Linux::ITimerHandler* handler) override
    {
        auto found = std::find_if(m_aTimers.begin(), m_aTimers.end(),
                                  [handler](const Timer& t) { return t.handler == handler; });
        if (found == m_aTimers.end())
            return kInvalidArgument;
        found->handler->release();
        m_aTimers.erase(found);
        return kResultOk;
    }

    // Owned by the UI, which outlives the view's use of it: no reference counting.
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override
    {
        if (FUnknownPrivate::iidEqual(iid, IPlugFrame::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
            *obj = static_cast<IPlugFrame*>(this);
            return kResultOk;
        }
        if (FUnknownPrivate::iidEqual(iid, Linux::IRunLoop::iid)) {
            *obj = static_cast<Linux::IRunLoop*>(this);
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

private:
    using Clock = std::chrono::steady_clock;
    struct Handler {
        Linux::IEventHandler* handler;
        Linux::FileDescriptor fd;
    };
    struct Timer {
        Linux::ITimerHandler* handler;
        Clock::duration interval;
        Clock::time_point last;
    };

    bool isRegistered(Linux::IEventHandler* handler) const
    {
        return std::any_of(m_aHandlers.begin(), m_aHandlers.end(),
                           [handler](const Handler& h) { return h.handler == handler; });
    }

    const LV2UI_Resize* m_pResize;
    std::vector<Handler> m_aHandlers;
    std::vector<Timer> m_aTimers;
};

class CCorvexLv2Ui {
public:
    static CCorvexLv2Ui* Create(LV2UI_Write_Function write, LV2UI_Controller controller, LV2UI_Widget* widget,
                                const LV2_Feature* const* features);
    ~CCorvexLv2Ui();

    void PortEvent(std::uint32_t port, std::uint32_t size, std::uint32_t format, const void* buffer);
    int Idle()
    {
        m_runLoop.idle();
        return 0;
    }

private:
    CCorvexLv2Ui(const LV2UI_Resize* resize) : m_runLoop(resize) {}

    CIdleRunLoop m_runLoop;
    CLv2ParameterAccess* m_pParameters = nullptr; // owned by the view
    CorvexEditorView* m_pView = nullptr;
};

CCorvexLv2Ui* CCorvexLv2Ui::Create(LV2UI_Write_Function write, LV2UI_Controller controller, LV2UI_Widget* widget,
                                   const LV2_Feature* const* features)
{
    void* parent = nullptr;
    const LV2UI_Resize* resize = nullptr;
    const LV2UI_Touch* touch = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (std::strcmp(features[i]->URI, LV2_UI__parent) == 0)
            parent = features[i]->data;
        else if (std::strcmp(features[i]->URI, LV2_UI__resize) == 0)
            resize = static_cast<const LV2UI_Resize*>(features[i]->data);
        else if (std::strcmp(features[i]->URI, LV2_UI__touch) == 0)
            touch = static_cast<const LV2UI_Touch*>(features[i]->data);
    }
    if (parent == nullptr || write == nullptr || widget == nullptr)
        return nullptr;

    std::unique_ptr<CCorvexLv2Ui> ui;
    try {
        ui.reset(new CCorvexLv2Ui(resize));
        auto parameters = std::make_unique<CLv2ParameterAccess>(write, controller, touch);
        ui->m_pParameters = parameters.get();
        ui->m_pView = new CorvexEditorView(std::move(parameters));
    }
    catch (...) {
        return nullptr;
    }
    ui->m_pView->setFrame(&ui->m_runLoop);
    if (ui->m_pView->attached(parent, kPlatformTypeX11EmbedWindowID) != kResultOk)
        return nullptr; // the destructor releases the view
    *widget = reinterpret_cast<LV2UI_Widget>(ui->m_pView->getNativeWindow());
    return ui.release();
}

CCorvexLv2Ui::~CCorvexLv2Ui()
{
    if (m_pView == nullptr)
        return;
    if (m_pView->isAttached())
        m_pView->removed();
    m_pView->setFrame(nullptr);
    m_pView->release();
}

void CCorvexLv2Ui::PortEvent(std::uint32_t port, std::uint32_t size, std::uint32_t format, const void* buffer)
{
    if (port >= kPortCount || format != 0 || size != sizeof(float) || buffer == nullptr)
        return;
    const PortInfo& info = kPorts[port];
    if (info.kind != PortKind::ControlIn && info.kind != PortKind::ControlOut)
        return;
    const float value = *static_cast<const float*>(buffer);
    m_pParameters->setFromHost(info.id, value);
    m_pView->update(info.id, value);
}

LV2UI_Handle Instantiate(const LV2UI_Descriptor*, const char*, const char*, LV2UI_Write_Function write,
                         LV2UI_Controller controller, LV2UI_Widget* widget, const LV2_Feature* const* features)
{
    return CCorvexLv2Ui::Create(write, controller, widget, features);
}

void Cleanup(LV2UI_Handle ui)
{
    delete static_cast<CCorvexLv2Ui*>(ui);
}

void PortEvent(LV2UI_Handle ui, uint32_t port, uint32_t size, uint32_t format, const void* buffer)
{
    static_cast<CCorvexLv2Ui*>(ui)->PortEvent(port, size, format, buffer);
}

int Idle(LV2UI_Handle ui)
{
    return static_cast<CCorvexLv2Ui*>(ui)->Idle();
}

const LV2UI_Idle_Interface kIdleInterface = {Idle};

const void* ExtensionData(const char* uri)
{
    return uri != nullptr && std::strcmp(uri, LV2_UI__idleInterface) == 0 ? &kIdleInterface : nullptr;
}

const LV2UI_Descriptor kUiDescriptor = {kUiUri, Instantiate, Cleanup, PortEvent, ExtensionData};

} // namespace
} // namespace corvex::lv2

extern "C" LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index)
{
    return index == 0 ? &corvex::lv2::kUiDescriptor : nullptr;
}
