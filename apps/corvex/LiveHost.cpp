#include "LiveHost.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "PluginInstance.h"
#include "PluginModule.h"
#include "ProcessBlock.h"
#include "pluginterfaces/gui/iplugview.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace corvex::live {

// The component handler the controller reports the editor's edits to. Called on the
// user-interface thread; lives as long as the host.
class CEditHandler final : public IComponentHandler {
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

    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) SMTG_OVERRIDE
    {
        QUERY_INTERFACE(iid, obj, FUnknown::iid, IComponentHandler)
        QUERY_INTERFACE(iid, obj, IComponentHandler::iid, IComponentHandler)
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
                              double transportTempo)
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
            m_abPending[id] = false;
            m_editsDelivered.fetch_add(1, std::memory_order_relaxed);
        }
    }

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

        // The processor's meters and LEDs, for the controller. A full queue drops the value:
        // the next period brings a newer one.
        for (int32 i = 0; i < block.outputChanges.getParameterCount(); ++i) {
            IParamValueQueue* queue = block.outputChanges.getParameterData(i);
            int32 offset = 0;
            ParamValue change{queue->getParameterId(), 0.0};
            if (queue->getPointCount() > 0 && queue->getPoint(queue->getPointCount() - 1, offset, change.value) == kResultOk)
                m_indicators.Push(change);
        }
    }
    m_periods.fetch_add(1, std::memory_order_relaxed);
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

    ParamValue change;
    while (m_indicators.Pop(change)) {
        if (change.id >= kFirstIndicator && change.id <= kLastIndicator)
            m_adIndicators[change.id].store(change.value, std::memory_order_relaxed);
        m_pInstance->Controller()->setParamNormalized(change.id, change.value);
    }
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
