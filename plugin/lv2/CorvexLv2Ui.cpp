// The editor in LV2 hosts (ui:X11UI): the same Corvex view as in VST 3 hosts, embedded in the
// host's ui:parent window. Its parameters go through CLv2ParameterAccess (port_event in,
// write_function out); its X11 window and 50 ms timer run from the host's idle calls through
// CIdleHostWindow, and its size requests go to ui:resize.

#include "CorvexView.h"
#include "Lv2Ports.h"

#include <lv2/ui/ui.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

namespace corvex::lv2 {
namespace {

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

// What the host window offers the view in LV2: every idle call lets the window read its X events
// and fires the timer once its interval has passed; size requests go to ui:resize.
class CIdleHostWindow final : public CHostWindow {
public:
    explicit CIdleHostWindow(const LV2UI_Resize* resize) : m_pResize(resize) {}

    void idle()
    {
        // Copies: a callback may stop the watching while it runs.
        if (const auto onReady = m_onReady)
            onReady();
        const auto now = Clock::now();
        if (m_onTick && now - m_lastTick >= m_tickInterval) {
            m_lastTick = now;
            const auto onTick = m_onTick;
            onTick();
        }
    }

    bool watchDescriptor(int /*descriptor*/, std::function<void()> onReady) override
    {
        m_onReady = std::move(onReady);
        return true;
    }
    bool startTimer(int milliseconds, std::function<void()> onTick) override
    {
        if (milliseconds <= 0)
            return false;
        m_tickInterval = std::chrono::milliseconds(milliseconds);
        m_lastTick = Clock::now();
        m_onTick = std::move(onTick);
        return true;
    }
    void stopWatching() override
    {
        m_onReady = nullptr;
        m_onTick = nullptr;
    }
    void requestSize(int width, int height) override
    {
        if (m_pResize != nullptr)
            m_pResize->ui_resize(m_pResize->handle, width, height);
    }

private:
    using Clock = std::chrono::steady_clock;

    const LV2UI_Resize* m_pResize;
    std::function<void()> m_onReady;
    std::function<void()> m_onTick;
    Clock::duration m_tickInterval{};
    Clock::time_point m_lastTick;
};

class CCorvexLv2Ui {
public:
    static CCorvexLv2Ui* Create(LV2UI_Write_Function write, LV2UI_Controller controller, LV2UI_Widget* widget,
                                const LV2_Feature* const* features);
    ~CCorvexLv2Ui();

    void PortEvent(std::uint32_t port, std::uint32_t size, std::uint32_t format, const void* buffer);
    int Idle()
    {
        m_hostWindow.idle();
        return 0;
    }

private:
    CCorvexLv2Ui(const LV2UI_Resize* resize) : m_hostWindow(resize) {}

    CIdleHostWindow m_hostWindow;
    CLv2ParameterAccess* m_pParameters = nullptr; // owned by the view
    std::unique_ptr<CCorvexView> m_pView;
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
        ui->m_pView = std::make_unique<CCorvexView>(std::move(parameters));
    }
    catch (...) {
        return nullptr;
    }
    if (!ui->m_pView->attach(parent, kPlatformTypeX11, &ui->m_hostWindow))
        return nullptr;
    *widget = reinterpret_cast<LV2UI_Widget>(ui->m_pView->getNativeWindow());
    return ui.release();
}

CCorvexLv2Ui::~CCorvexLv2Ui()
{
    if (m_pView)
        m_pView->detach();
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
