// The editor in LV2 hosts (ui:X11UI): the same Corvex view as in VST 3 hosts, embedded in the
// host's ui:parent window. Its parameters go through CLv2ParameterAccess (port_event in,
// write_function out); its X11 window and 50 ms timer run from the host's idle calls through
// CIdleHostWindow, and its size requests go to ui:resize. Its cabinet IR choices go to the
// plug-in as patch messages (CLv2ImpulseAccess); what the plug-in holds comes back on its notify port
// as notices of its own.

#include "CorvexView.h"
#include "ImpulseAccess.h"
#include "TunerAccess.h"
#include "Lv2Ports.h"

#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/patch/patch.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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

// The view's IR choices as patch:Set messages of the IR property to the plug-in's control port
// (an empty path is the built-in cabinet), and the question of what it holds as a patch:Get.
class CLv2ImpulseAccess final : public CImpulseAccess {
public:
    CLv2ImpulseAccess(LV2UI_Write_Function write, LV2UI_Controller controller, LV2_URID_Map* map)
        : m_pWrite(write), m_pController(controller)
    {
        lv2_atom_forge_init(&m_forge, map);
        m_eventTransfer = map->map(map->handle, LV2_ATOM__eventTransfer);
        m_patchSet = map->map(map->handle, LV2_PATCH__Set);
        m_patchGet = map->map(map->handle, LV2_PATCH__Get);
        m_patchProperty = map->map(map->handle, LV2_PATCH__property);
        m_patchValue = map->map(map->handle, LV2_PATCH__value);
        m_impulse = map->map(map->handle, kImpulseUri);
    }

    void loadImpulseFile(const std::string& path) override { sendSet(path); }
    void clearImpulse() override { sendSet(std::string()); }

    void requestCurrent()
    {
        m_aBuffer.assign(64, 0);
        startForge();
        LV2_Atom_Forge_Frame frame;
        const auto* atom = reinterpret_cast<const LV2_Atom*>(lv2_atom_forge_object(&m_forge, &frame, 0, m_patchGet));
        lv2_atom_forge_key(&m_forge, m_patchProperty);
        lv2_atom_forge_urid(&m_forge, m_impulse);
        lv2_atom_forge_pop(&m_forge, &frame);
        send(atom);
    }

private:
    void sendSet(const std::string& path)
    {
        m_aBuffer.assign(16 + path.size() / sizeof(std::uint64_t), 0); // headers, the path and its zero
        startForge();
        LV2_Atom_Forge_Frame frame;
        const auto* atom = reinterpret_cast<const LV2_Atom*>(lv2_atom_forge_object(&m_forge, &frame, 0, m_patchSet));
        lv2_atom_forge_key(&m_forge, m_patchProperty);
        lv2_atom_forge_urid(&m_forge, m_impulse);
        lv2_atom_forge_key(&m_forge, m_patchValue);
        lv2_atom_forge_path(&m_forge, path.c_str(), std::uint32_t(path.size()));
        lv2_atom_forge_pop(&m_forge, &frame);
        send(atom);
    }

    void startForge()
    {
        lv2_atom_forge_set_buffer(&m_forge, reinterpret_cast<std::uint8_t*>(m_aBuffer.data()),
                                  m_aBuffer.size() * sizeof(std::uint64_t));
    }

    void send(const LV2_Atom* atom)
    {
        m_pWrite(m_pController, kPortTime, lv2_atom_total_size(atom), m_eventTransfer, atom);
    }

    LV2UI_Write_Function m_pWrite;
    LV2UI_Controller m_pController;
    LV2_Atom_Forge m_forge{};
    std::vector<std::uint64_t> m_aBuffer; // 8-byte aligned, as atoms are
    LV2_URID m_eventTransfer = 0, m_patchSet = 0, m_patchGet = 0, m_patchProperty = 0, m_patchValue = 0;
    LV2_URID m_impulse = 0;
};

// The view's tuner as a Tuner object to the plug-in's control port, on every tick while it shows
// and once when it hides; the readings come back as notices.
class CLv2TunerAccess final : public CTunerAccess {
public:
    CLv2TunerAccess(LV2UI_Write_Function write, LV2UI_Controller controller, LV2_URID_Map* map)
        : m_pWrite(write), m_pController(controller)
    {
        lv2_atom_forge_init(&m_forge, map);
        const auto urid = [map](const char* uri) { return map->map(map->handle, uri); };
        m_eventTransfer = urid(LV2_ATOM__eventTransfer);
        m_tuner = urid(kTunerUri);
        m_shown = urid(kTunerShownUri);
        m_mute = urid(kTunerMuteUri);
        m_reference = urid(kTunerReferenceUri);
    }

    void tune(bool bShown, bool bMute, double dReference) override
    {
        std::uint64_t buffer[16] = {};
        lv2_atom_forge_set_buffer(&m_forge, reinterpret_cast<std::uint8_t*>(buffer), sizeof buffer);
        LV2_Atom_Forge_Frame frame;
        const auto* atom = reinterpret_cast<const LV2_Atom*>(lv2_atom_forge_object(&m_forge, &frame, 0, m_tuner));
        lv2_atom_forge_key(&m_forge, m_shown);
        lv2_atom_forge_bool(&m_forge, bShown);
        lv2_atom_forge_key(&m_forge, m_mute);
        lv2_atom_forge_bool(&m_forge, bMute);
        lv2_atom_forge_key(&m_forge, m_reference);
        lv2_atom_forge_float(&m_forge, float(dReference));
        lv2_atom_forge_pop(&m_forge, &frame);
        m_pWrite(m_pController, kPortTime, lv2_atom_total_size(atom), m_eventTransfer, atom);
    }

private:
    LV2UI_Write_Function m_pWrite;
    LV2UI_Controller m_pController;
    LV2_Atom_Forge m_forge{};
    LV2_URID m_eventTransfer = 0, m_tuner = 0, m_shown = 0, m_mute = 0, m_reference = 0;
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
    void Notification(const LV2_Atom* atom);

    CIdleHostWindow m_hostWindow;
    CLv2ParameterAccess* m_pParameters = nullptr; // owned by the view
    std::unique_ptr<CLv2ImpulseAccess> m_pImpulse; // outlives the view, which points at it
    std::unique_ptr<CLv2TunerAccess> m_pTuner;     // likewise
    std::unique_ptr<CCorvexView> m_pView;
    std::string m_sImpulseName;
    struct {
        LV2_URID eventTransfer, atomObject, atomBlank, atomString, atomFloat, atomVector;
        LV2_URID notice, impulseName, impulseError, controls, atomDouble, tunerReading;
    } m_uris{};
};

CCorvexLv2Ui* CCorvexLv2Ui::Create(LV2UI_Write_Function write, LV2UI_Controller controller, LV2UI_Widget* widget,
                                   const LV2_Feature* const* features)
{
    void* parent = nullptr;
    const LV2UI_Resize* resize = nullptr;
    const LV2UI_Touch* touch = nullptr;
    LV2_URID_Map* map = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (std::strcmp(features[i]->URI, LV2_UI__parent) == 0)
            parent = features[i]->data;
        else if (std::strcmp(features[i]->URI, LV2_UI__resize) == 0)
            resize = static_cast<const LV2UI_Resize*>(features[i]->data);
        else if (std::strcmp(features[i]->URI, LV2_UI__touch) == 0)
            touch = static_cast<const LV2UI_Touch*>(features[i]->data);
        else if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
            map = static_cast<LV2_URID_Map*>(features[i]->data);
    }
    if (parent == nullptr || write == nullptr || widget == nullptr)
        return nullptr;

    std::unique_ptr<CCorvexLv2Ui> ui;
    try {
        ui.reset(new CCorvexLv2Ui(resize));
        auto parameters = std::make_unique<CLv2ParameterAccess>(write, controller, touch);
        ui->m_pParameters = parameters.get();
        ui->m_pView = std::make_unique<CCorvexView>(std::move(parameters));
        // Without the map there are no atoms to speak: the view offers no IR choice then.
        if (map != nullptr) {
            ui->m_pImpulse = std::make_unique<CLv2ImpulseAccess>(write, controller, map);
            ui->m_pView->setImpulseAccess(ui->m_pImpulse.get());
            ui->m_pTuner = std::make_unique<CLv2TunerAccess>(write, controller, map);
            ui->m_pView->setTunerAccess(ui->m_pTuner.get());
            auto& u = ui->m_uris;
            const auto urid = [map](const char* uri) { return map->map(map->handle, uri); };
            u.eventTransfer = urid(LV2_ATOM__eventTransfer);
            u.atomObject = urid(LV2_ATOM__Object);
            u.atomBlank = urid(LV2_ATOM__Blank);
            u.atomString = urid(LV2_ATOM__String);
            u.atomFloat = urid(LV2_ATOM__Float);
            u.atomVector = urid(LV2_ATOM__Vector);
            u.notice = urid(kNoticeUri);
            u.impulseName = urid(kImpulseNameUri);
            u.impulseError = urid(kImpulseErrorUri);
            u.controls = urid(kControlsUri);
            u.atomDouble = urid(LV2_ATOM__Double);
            u.tunerReading = urid(kTunerReadingUri);
        }
    }
    catch (...) {
        return nullptr;
    }
    if (!ui->m_pView->attach(parent, kPlatformTypeX11, &ui->m_hostWindow))
        return nullptr;
    *widget = reinterpret_cast<LV2UI_Widget>(ui->m_pView->getNativeWindow());
    // The answer names the IR the plug-in holds (some hosts drop the question: the plug-in also
    // sends the name after every restore).
    if (ui->m_pImpulse)
        ui->m_pImpulse->requestCurrent();
    return ui.release();
}

CCorvexLv2Ui::~CCorvexLv2Ui()
{
    // No port is written from cleanup: the plug-in closes a tuner left open once the messages stop.
    if (m_pView) {
        m_pView->setTunerAccess(nullptr);
        m_pView->detach();
    }
}

void CCorvexLv2Ui::PortEvent(std::uint32_t port, std::uint32_t size, std::uint32_t format, const void* buffer)
{
    if (port == kPortNotify && buffer != nullptr && m_pImpulse && format == m_uris.eventTransfer &&
        size >= sizeof(LV2_Atom) && lv2_atom_total_size(static_cast<const LV2_Atom*>(buffer)) <= size) {
        Notification(static_cast<const LV2_Atom*>(buffer));
        return;
    }
    if (port >= kPortCount || format != 0 || size != sizeof(float) || buffer == nullptr)
        return;
    const PortInfo& info = kPorts[port];
    if (info.kind != PortKind::ControlIn && info.kind != PortKind::ControlOut)
        return;
    const float value = *static_cast<const float*>(buffer);
    m_pParameters->setFromHost(info.id, value);
    m_pView->update(info.id, value);
}

// A notice from the plug-in's notify port: the IR's name, a refusal, or restored values. Its
// patch:Sets are for the host.
void CCorvexLv2Ui::Notification(const LV2_Atom* atom)
{
    if (atom->type != m_uris.atomObject && atom->type != m_uris.atomBlank)
        return;
    const auto* object = reinterpret_cast<const LV2_Atom_Object*>(atom);
    if (object->body.otype != m_uris.notice)
        return;
    const LV2_Atom* name = nullptr;
    const LV2_Atom* error = nullptr;
    const LV2_Atom* controls = nullptr;
    const LV2_Atom* reading = nullptr;
    lv2_atom_object_get(object, m_uris.impulseName, &name, m_uris.impulseError, &error, m_uris.controls, &controls,
                        m_uris.tunerReading, &reading, 0);
    if (reading != nullptr && reading->type == m_uris.atomVector &&
        reading->size == sizeof(LV2_Atom_Vector_Body) + 4 * sizeof(double)) {
        const auto* vector = reinterpret_cast<const LV2_Atom_Vector*>(reading);
        if (vector->body.child_type != m_uris.atomDouble || vector->body.child_size != sizeof(double))
            return;
        double values[4];
        std::memcpy(values, &vector->body + 1, sizeof values);
        m_pView->showTunerReading(values[1] > 0.0 ? PitchReading{true, values[1], int(values[2]), values[3]}
                                                  : PitchReading{});
        return;
    }
    const auto text = [](const LV2_Atom* string) {
        const char* body = static_cast<const char*>(LV2_ATOM_BODY_CONST(string));
        return std::string(body, strnlen(body, string->size));
    };
    if (name != nullptr && name->type == m_uris.atomString) {
        m_sImpulseName = text(name);
        m_pView->showImpulse(m_sImpulseName, std::string());
    } else if (error != nullptr && error->type == m_uris.atomString) {
        m_pView->showImpulse(m_sImpulseName, text(error));
    } else if (controls != nullptr && controls->type == m_uris.atomVector &&
               controls->size >= sizeof(LV2_Atom_Vector_Body)) {
        const auto* vector = reinterpret_cast<const LV2_Atom_Vector*>(controls);
        if (vector->body.child_type != m_uris.atomFloat || vector->body.child_size != sizeof(float))
            return;
        const auto* values = reinterpret_cast<const float*>(&vector->body + 1);
        const std::uint32_t count = (controls->size - sizeof(LV2_Atom_Vector_Body)) / sizeof(float);
        for (std::uint32_t i = 0; i < count && kPortFirstParam + i < kPortEnabled; ++i) {
            const ParamID id = kPorts[kPortFirstParam + i].id;
            m_pParameters->setFromHost(id, values[i]);
            m_pView->update(id, values[i]);
        }
    }
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
