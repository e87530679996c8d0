#include "LiveHost.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "PluginInstance.h"
#include "PluginModule.h"
#include "ProcessBlock.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivstcontextmenu.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "base/Parameters.h"
#include "input/EffectSourceSelector.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace corvex::live {

namespace {

constexpr int32 kLearnTag = 1;
constexpr int32 kForgetTag = 2;

std::string Utf8(const String128 text)
{
    // Menu titles are ASCII here; anything else shows as '?'.
    std::string out;
    for (int i = 0; i < 128 && text[i]; ++i)
        out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return out;
}

void SetTitle(String128 title, const std::string& text)
{
    std::size_t i = 0;
    for (; i < text.size() && i < 127; ++i)
        title[i] = static_cast<char16>(text[i]);
    title[i] = 0;
}

} // namespace

// The context menu the editor asks for on a control: the host's MIDI items for its parameter,
// then whatever the plug-in adds, shown in corvex's window. Reference counted as the plug-in
// releases it when popup returns, while a menu stays open until the player chooses.
class CContextMenu final : public IContextMenu, public IContextMenuTarget {
public:
    CContextMenu(CLiveHost& host, std::uint32_t id) : m_host(host), m_iParam(id)
    {
        if (!IsMidiControllable(id))
            return;
        Item learn{};
        SetTitle(learn.name, "Learn MIDI");
        learn.tag = kLearnTag;
        learn.flags = host.Learning() == id ? Item::kIsChecked : 0;
        addItem(learn, this);
        Item forget{};
        const int controller = host.MidiMap().ControllerOf(id);
        SetTitle(forget.name, controller < 0 ? "Forget MIDI" : "Forget MIDI (CC " + std::to_string(controller) + ")");
        forget.tag = kForgetTag;
        forget.flags = controller < 0 ? Item::kIsDisabled : 0;
        addItem(forget, this);
    }

    int32 PLUGIN_API getItemCount() SMTG_OVERRIDE { return static_cast<int32>(m_aItems.size()); }
    tresult PLUGIN_API getItem(int32 index, Item& item, IContextMenuTarget** target) SMTG_OVERRIDE
    {
        if (index < 0 || index >= getItemCount())
            return kInvalidArgument;
        item = m_aItems[static_cast<std::size_t>(index)].first;
        if (target)
            *target = m_aItems[static_cast<std::size_t>(index)].second;
        return kResultOk;
    }
    tresult PLUGIN_API addItem(const Item& item, IContextMenuTarget* target) SMTG_OVERRIDE
    {
        if (target && target != this)
            target->addRef();
        m_aItems.emplace_back(item, target);
        return kResultOk;
    }
    tresult PLUGIN_API removeItem(const Item& item, IContextMenuTarget* target) SMTG_OVERRIDE
    {
        for (auto it = m_aItems.begin(); it != m_aItems.end(); ++it) {
            if (it->first.tag == item.tag && it->second == target) {
                if (target && target != this)
                    target->release();
                m_aItems.erase(it);
                return kResultOk;
            }
        }
        return kResultFalse;
    }
    tresult PLUGIN_API popup(UCoord x, UCoord y) SMTG_OVERRIDE
    {
        if (!m_host.Presenter())
            return kResultFalse;
        std::vector<MenuEntry> entries;
        for (const auto& [item, target] : m_aItems)
            entries.push_back({(item.flags & Item::kIsSeparator) ? std::string() : Utf8(item.name),
                               (item.flags & Item::kIsDisabled) == 0, (item.flags & Item::kIsChecked) != 0});
        addRef(); // until the menu closes
        const bool shown = m_host.Presenter()(entries, x, y, [this](int index) {
            if (index >= 0 && index < getItemCount()) {
                const auto& [item, target] = m_aItems[static_cast<std::size_t>(index)];
                if (target)
                    target->executeMenuItem(item.tag);
            }
            release();
        });
        if (!shown)
            release();
        return shown ? kResultOk : kResultFalse;
    }

    tresult PLUGIN_API executeMenuItem(int32 tag) SMTG_OVERRIDE
    {
        if (tag == kLearnTag)
            m_host.Learn(m_iParam);
        else if (tag == kForgetTag)
            m_host.Forget(m_iParam);
        return kResultOk;
    }

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) SMTG_OVERRIDE
    {
        QUERY_INTERFACE(iid, obj, FUnknown::iid, IContextMenu)
        QUERY_INTERFACE(iid, obj, IContextMenu::iid, IContextMenu)
        QUERY_INTERFACE(iid, obj, IContextMenuTarget::iid, IContextMenuTarget)
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() SMTG_OVERRIDE { return ++m_iRefs; }
    uint32 PLUGIN_API release() SMTG_OVERRIDE
    {
        const uint32 refs = --m_iRefs;
        if (refs == 0)
            delete this;
        return refs;
    }

private:
    ~CContextMenu()
    {
        for (auto& [item, target] : m_aItems)
            if (target && target != this)
                target->release();
    }

    CLiveHost& m_host;
    std::uint32_t m_iParam;
    std::vector<std::pair<Item, IContextMenuTarget*>> m_aItems;
    uint32 m_iRefs = 1;
};

// The component handler the controller reports the editor's edits to, and where the editor asks
// for context menus. Called on the user-interface thread; lives as long as the host.
class CEditHandler final : public IComponentHandler, public IComponentHandler3 {
public:
    explicit CEditHandler(CLiveHost& host) : m_host(host) {}
    virtual ~CEditHandler() = default;

    tresult PLUGIN_API beginEdit(ParamID) SMTG_OVERRIDE { return kResultOk; }
    tresult PLUGIN_API performEdit(ParamID id, Vst::ParamValue value) SMTG_OVERRIDE
    {
        m_host.QueueEdit(id, value);
        return kResultOk;
    }
    tresult PLUGIN_API endEdit(ParamID) SMTG_OVERRIDE { return kResultOk; }
    tresult PLUGIN_API restartComponent(int32) SMTG_OVERRIDE { return kResultOk; }
    IContextMenu* PLUGIN_API createContextMenu(IPlugView*, const ParamID* id) SMTG_OVERRIDE
    {
        return m_host.Presenter() ? new CContextMenu(m_host, id ? *id : 0) : nullptr;
    }

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) SMTG_OVERRIDE
    {
        QUERY_INTERFACE(iid, obj, FUnknown::iid, IComponentHandler)
        QUERY_INTERFACE(iid, obj, IComponentHandler::iid, IComponentHandler)
        QUERY_INTERFACE(iid, obj, IComponentHandler3::iid, IComponentHandler3)
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() SMTG_OVERRIDE { return 1; }
    uint32 PLUGIN_API release() SMTG_OVERRIDE { return 1; }

private:
    CLiveHost& m_host;
};

namespace {

constexpr std::uint32_t kFirstIndicator = 13;
constexpr std::uint32_t kLastIndicator = 17;
// The tempo range hosts offer; a transport tempo outside it is not a valid one.
constexpr double kMinTempo = 20.0;
constexpr double kMaxTempo = 999.0;

} // namespace

CLiveHost::CLiveHost() = default;

CLiveHost::~CLiveHost()
{
    Stop();
    if (m_pInstance && m_pInstance->Controller())
        m_pInstance->Controller()->setComponentHandler(nullptr);
    m_pInstance.reset(); // before the module that holds its code
    m_pModule.reset();
}

std::unique_ptr<CLiveHost> CLiveHost::Load(const std::string& modulePath, std::string& error)
{
    std::unique_ptr<CLiveHost> host(new CLiveHost());
    host->m_pHost = std::make_unique<HostApplication>();
    host->m_pModule = hosting::LoadNamedModule(modulePath, error);
    if (!host->m_pModule)
        return nullptr;
    std::string why;
    host->m_pInstance = hosting::PluginInstance::Create(host->m_pModule->Factory(),
                                                        static_cast<IHostApplication*>(host->m_pHost.get()), why);
    if (!host->m_pInstance) {
        error = hosting::CannotLoadModule(modulePath) + why;
        return nullptr;
    }
    // Hosts find the program list by the flag of its parameter, not by an identifier.
    IEditController* controller = host->m_pInstance->Controller();
    for (int32 i = 0; i < controller->getParameterCount(); ++i) {
        ParameterInfo info{};
        if (controller->getParameterInfo(i, info) == kResultOk && (info.flags & ParameterInfo::kIsProgramChange)) {
            host->m_iProgramId = info.id;
            host->m_iProgramCount = info.stepCount + 1;
            break;
        }
    }
    host->m_pEditHandler = std::make_unique<CEditHandler>(*host);
    host->m_pInstance->Controller()->setComponentHandler(host->m_pEditHandler.get());
    host->m_aOverflow.reserve(kQueueSize);
    return host;
}

bool CLiveHost::GetState(std::vector<unsigned char>& bytes)
{
    std::vector<char> state;
    if (!m_pInstance->SaveState(state))
        return false;
    bytes.assign(state.begin(), state.end());
    return true;
}

bool CLiveHost::SetState(const std::vector<unsigned char>& bytes)
{
    return m_pInstance->LoadState(std::vector<char>(bytes.begin(), bytes.end()));
}

bool CLiveHost::ApplyPreset(const PresetControls& values)
{
    FUnknownPtr<IConnectionPoint> processor(m_pInstance->Component());
    IMessage* message = nullptr;
    TUID iid;
    IMessage::iid.toTUID(iid);
    if (!processor || m_pHost->createInstance(iid, iid, reinterpret_cast<void**>(&message)) != kResultOk || !message)
        return false;
    message->setMessageID(kChangePresetMessage);
    const bool sent = message->getAttributes() &&
                      message->getAttributes()->setBinary(kValuesAttribute, values.data(),
                                                          static_cast<uint32>(sizeof(float) * values.size())) == kResultOk &&
                      processor->notify(message) == kResultOk;
    message->release();
    return sent;
}

bool CLiveHost::Start(double sampleRate, int maxPeriod, double tempo, std::string& error)
{
    if (m_pInstance->Setup(sampleRate, maxPeriod) != kResultOk || m_pInstance->Activate(true) != kResultOk) {
        error = "the plug-in refused stereo processing at " + std::to_string(static_cast<long>(sampleRate)) +
                " Hz with periods of " + std::to_string(maxPeriod) + " frames";
        return false;
    }
    m_bActive = true;
    for (std::uint32_t id = 1; id < static_cast<std::uint32_t>(kParamCount); ++id)
        m_adCurrent[id] = m_pInstance->Controller()->getParamNormalized(id);
    std::fill(std::begin(m_aiLastValue), std::end(m_aiLastValue), -1);
    m_dTempo = tempo;
    m_tempoInUse.store(tempo, std::memory_order_relaxed);
    m_pBlock = std::make_unique<hosting::ProcessBlock>(2, 2, maxPeriod);
    m_pBlock->SetTempo(tempo);
    m_pBlock->context.state |= ProcessContext::kPlaying;
    m_pBlock->context.sampleRate = sampleRate;
    return true;
}

void CLiveHost::Stop()
{
    if (m_bActive)
        m_pInstance->Activate(false);
    m_bActive = false;
}

void CLiveHost::ProcessPeriod(const float* inL, const float* inR, float* outL, float* outR, int frames,
                              double transportTempo, CMidiEvents* midi)
{
    hosting::ProcessBlock& block = *m_pBlock;

    // The editor's edits: only the last value of each parameter counts for a period.
    ParamValue edit;
    while (m_edits.Pop(edit)) {
        if (edit.id > 0 && edit.id < static_cast<std::uint32_t>(kParamCount)) {
            m_adPending[edit.id] = edit.value;
            m_abPending[edit.id] = true;
        }
    }
    block.inputChanges.Clear();
    for (std::uint32_t id = 1; id < static_cast<std::uint32_t>(kParamCount); ++id) {
        if (m_abPending[id]) {
            block.inputChanges.Add(id, m_adPending[id]);
            m_adCurrent[id] = m_adPending[id];
            m_abPending[id] = false;
            m_editsDelivered.fetch_add(1, std::memory_order_relaxed);
        }
    }

    MidiCommand command;
    while (m_midiCommands.Pop(command)) {
        if (command.kind == MidiCommand::Kind::Learn) {
            m_iAudioLearning = command.id;
        } else {
            m_audioMap.Forget(command.id);
            if (m_iAudioLearning == command.id)
                m_iAudioLearning = 0;
        }
    }
    MidiEvent event;
    while (midi && midi->Next(event))
        ApplyMidi(event, std::min(frames, block.MaxSamples()));

    if (m_pTunerRing != nullptr)
        m_pTunerRing->Write(CEffectSourceSelector::Selected(inL, inR, float(m_adCurrent[kInputSelection])), frames);

    const double tempo = transportTempo >= kMinTempo && transportTempo <= kMaxTempo ? transportTempo : m_dTempo;
    block.SetTempo(tempo);
    m_tempoInUse.store(tempo, std::memory_order_relaxed);

    // One call per period; a period longer than announced (never with JACK or ALSA as set up
    // here) goes through in pieces rather than overrunning the buffers.
    const int maxFrames = block.MaxSamples();
    for (int at = 0; at < frames; at += maxFrames) {
        const int n = std::min(maxFrames, frames - at);
        std::copy_n(inL + at, n, block.In(0));
        std::copy_n(inR + at, n, block.In(1));
        ProcessData& data = block.Prepare(n);
        block.inputBus.silenceFlags = 0;
        block.outputBus.silenceFlags = 0;
        if (m_pInstance->Processor()->process(data) == kResultOk) {
            std::copy_n(block.Out(0), n, outL + at);
            std::copy_n(block.Out(1), n, outR + at);
        } else {
            std::fill_n(outL + at, n, 0.0f);
            std::fill_n(outR + at, n, 0.0f);
            m_failedPeriods.fetch_add(1, std::memory_order_relaxed);
        }
        block.inputChanges.Clear();
        block.context.projectTimeSamples += n;

        // What MIDI changed, then the processor's output parameter changes (meters, LEDs and the
        // controls a program sets), for the controller. A value that finds the queue full waits
        // for the next period; a full queue drops an output change, as the next period brings a
        // newer one.
        for (std::uint32_t id = 1; id < static_cast<std::uint32_t>(kParamCount); ++id)
            if (m_abRelay[id] && m_indicators.Push({id, m_adRelay[id]}))
                m_abRelay[id] = false;
        if (m_bProgramRelay && m_indicators.Push({m_iProgramId, m_dProgramRelay}))
            m_bProgramRelay = false;
        for (int32 i = 0; i < block.outputChanges.getParameterCount(); ++i) {
            IParamValueQueue* queue = block.outputChanges.getParameterData(i);
            int32 offset = 0;
            ParamValue change{queue->getParameterId(), 0.0};
            if (queue->getPointCount() > 0 && queue->getPoint(queue->getPointCount() - 1, offset, change.value) == kResultOk) {
                if (change.id > 0 && change.id < static_cast<std::uint32_t>(kParamCount))
                    m_adCurrent[change.id] = change.value;
                m_indicators.Push(change);
            }
        }
    }
    m_periods.fetch_add(1, std::memory_order_relaxed);
}

void CLiveHost::AddChange(std::uint32_t id, double value, int offset)
{
    m_pBlock->inputChanges.AddOrReplaceLast(id, value, offset);
    m_midiApplied.fetch_add(1, std::memory_order_relaxed);
}

void CLiveHost::ApplyMidi(const MidiEvent& event, int frames)
{
    const MidiAction action = DecodeMidi(event.message, m_iMidiChannel);
    const int offset = std::clamp(event.offset, 0, std::max(frames - 1, 0));
    if (action.kind == MidiAction::Kind::Program) {
        // Numbers past the list select nothing.
        if (m_iProgramId == kNoProgram || action.value >= m_iProgramCount)
            return;
        m_dProgramRelay = ProgramValue(action.value, m_iProgramCount);
        m_bProgramRelay = true;
        AddChange(m_iProgramId, m_dProgramRelay, offset);
        return;
    }
    if (action.kind != MidiAction::Kind::Control)
        return;
    const int c = action.controller;
    const int last = m_aiLastValue[c];
    m_aiLastValue[c] = action.value;
    if (m_iAudioLearning != 0) {
        m_audioMap.Forget(m_iAudioLearning);
        m_audioMap.Bind(c, m_iAudioLearning);
        m_abWatched[c] = kParamInfos[m_iAudioLearning].stepCount == 1;
        m_midiLearned.Push({c, m_iAudioLearning, false});
        m_iAudioLearning = 0;
    } else if (m_abWatched[c] && m_audioMap.params[c] != 0) {
        // A learned switch's controller: on twice running is a footswitch that only sends 127.
        m_abWatched[c] = action.value >= kMidiSwitchOn && last < kMidiSwitchOn;
        if (action.value >= kMidiSwitchOn && last >= kMidiSwitchOn) {
            m_audioMap.toggles[c] = true;
            m_midiLearned.Push({c, m_audioMap.params[c], true});
        }
    }
    const std::uint32_t id = m_audioMap.params[c];
    if (id == 0 || id >= static_cast<std::uint32_t>(kParamCount))
        return;
    double value = MidiControlValue(id, action.value);
    if (m_audioMap.toggles[c]) {
        if (action.value < kMidiSwitchOn)
            return;
        value = m_adCurrent[id] >= 0.5 ? 0.0 : 1.0;
    }
    m_adCurrent[id] = value;
    m_adRelay[id] = value;
    m_abRelay[id] = true;
    AddChange(id, value, offset);
}

void CLiveHost::SetMidiMap(const MidiControllerMap& map)
{
    m_midiMap = map;
    m_audioMap = map;
}

void CLiveHost::Learn(std::uint32_t id)
{
    if (IsMidiControllable(id) && m_midiCommands.Push({MidiCommand::Kind::Learn, id}))
        m_iLearning = id;
}

void CLiveHost::Forget(std::uint32_t id)
{
    if (!m_midiCommands.Push({MidiCommand::Kind::Forget, id}))
        return;
    m_midiMap.Forget(id);
    if (m_iLearning == id)
        m_iLearning = 0;
}

void CLiveHost::QueueEdit(std::uint32_t id, double value)
{
    // Order matters: an edit never overtakes one still waiting.
    if (!m_aOverflow.empty() || !m_edits.Push({id, value}))
        m_aOverflow.push_back({id, value});
}

void CLiveHost::Dispatch()
{
    std::size_t sent = 0;
    while (sent < m_aOverflow.size() && m_edits.Push(m_aOverflow[sent]))
        ++sent;
    m_aOverflow.erase(m_aOverflow.begin(), m_aOverflow.begin() + static_cast<std::ptrdiff_t>(sent));

    MidiLearned learned;
    while (m_midiLearned.Pop(learned)) {
        if (!learned.toggles)
            m_midiMap.Forget(learned.id);
        m_midiMap.Bind(learned.controller, learned.id, learned.toggles);
        if (m_iLearning == learned.id)
            m_iLearning = 0;
    }

    ParamValue change;
    while (m_indicators.Pop(change)) {
        if (change.id >= kFirstIndicator && change.id <= kLastIndicator)
            m_adIndicators[change.id].store(change.value, std::memory_order_relaxed);
        m_pInstance->Controller()->setParamNormalized(change.id, change.value);
        if (change.id == m_iProgramId)
            m_iProgramTaken = ProgramIndex(change.value, m_iProgramCount);
    }
}

int CLiveHost::TakeProgramChange()
{
    const int program = m_iProgramTaken;
    m_iProgramTaken = -1;
    return program;
}

double CLiveHost::Indicator(std::uint32_t id) const
{
    return id < static_cast<std::uint32_t>(kParamCount) ? m_adIndicators[id].load(std::memory_order_relaxed) : 0.0;
}

IPlugView* CLiveHost::CreateEditorView()
{
    return m_pInstance->Controller()->createView(ViewType::kEditor);
}

IComponentHandler* CLiveHost::EditHandler() const
{
    return m_pEditHandler.get();
}

IEditController* CLiveHost::Controller() const
{
    return m_pInstance->Controller();
}

} // namespace corvex::live
