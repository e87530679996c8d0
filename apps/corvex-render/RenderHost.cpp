#include "RenderHost.h"

#include "PluginInstance.h"
#include "base/Parameters.h"
#include "PluginModule.h"
#include "ProcessBlock.h"

#include <pluginterfaces/vst/ivstmidicontrollers.h>
#include <pluginterfaces/vst/ivstunits.h>
#include <public.sdk/source/vst/hosting/hostclasses.h>

#include <algorithm>
#include <dlfcn.h>
#include <filesystem>

namespace corvex::render {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

std::string ToUtf8(const String128 text)
{
    std::string out;
    for (int i = 0; i < 128 && text[i]; ++i) {
        const char16_t c = static_cast<char16_t>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

class CCorvexInstance final : public CRenderHost {
public:
    ~CCorvexInstance() override
    {
        m_pInstance.reset(); // before the module that holds its code
        m_pModule.reset();
    }

    bool Load(const std::string& modulePath, std::string& error);
    const std::vector<ModuleParam>& Params() const override { return m_aParams; }
    const std::vector<std::string>& ProgramNames() const override { return m_aProgramNames; }
    std::uint32_t ProgramParam() const override { return m_iProgramParam; }
    bool SetState(const std::vector<unsigned char>& bytes, std::string& error) override;
    bool GetState(std::vector<unsigned char>& bytes, std::string& error) override;
    bool Start(double sampleRate, int maxBlock, double tempo, std::string& error) override;
    void Schedule(std::vector<TimedChange> changes) override;
    bool MidiAssignment(int channel, int controller, std::uint32_t& id) const override;
    bool Process(float* inLeft, float* inRight, float* outLeft, float* outRight, long frames, int block,
                 const std::atomic<bool>& stop, bool& clipLed, long& processed) override;
    void Stop() override;
    void TakeOutputChanges(bool& clipLed);
    void RelayOutputValues();
    const std::string& LoadedLibrary() const override { return m_sLibrary; }
    std::uint32_t TailSamples() const override { return m_pInstance->Processor()->getTailSamples(); }
    BlockCounts Blocks() const override;

private:
    // The SDK's host application does not count references: it is owned here and outlives the
    // plug-in, which is destroyed first.
    std::unique_ptr<HostApplication> m_pHost = std::make_unique<HostApplication>();
    std::unique_ptr<hosting::PluginModule> m_pModule;
    std::unique_ptr<hosting::PluginInstance> m_pInstance;
    std::unique_ptr<hosting::ProcessBlock> m_pBlock;
    // The caller's channels the block's buses point at.
    float* m_apfIn[2] = {};
    float* m_apfOut[2] = {};
    std::vector<ModuleParam> m_aParams;
    std::vector<std::string> m_aProgramNames;
    std::uint32_t m_iProgramParam = 0;
    std::vector<TimedChange> m_aScheduled;
    std::size_t m_iNextChange = 0;
    std::int64_t m_iFrame = 0; // frames handed to the processor so far
    std::string m_sLibrary;
    bool m_bActive = false;
    // Output values waiting to reach the controller, by identifier.
    static constexpr double kRelaysPerSecond = 30.0;
    double m_adRelayValues[kParamTableSize] = {};
    bool m_abRelayPending[kParamTableSize] = {};
    int m_iRelayInterval = 1;
    int m_iSamplesSinceRelay = 0;
};

bool CCorvexInstance::Load(const std::string& modulePath, std::string& error)
{
    m_pModule = hosting::LoadNamedModule(modulePath, error);
    if (!m_pModule)
        return false;
    // Ask the loader where the factory's code lives, rather than trusting the name we asked for.
    std::error_code ec;
    Dl_info where{};
    if (void* factory = m_pModule->Symbol("GetPluginFactory"); factory && dladdr(factory, &where) && where.dli_fname)
        m_sLibrary = std::filesystem::absolute(where.dli_fname, ec).lexically_normal().string();
    else
        m_sLibrary = m_pModule->Path();
    std::string why;
    m_pInstance = hosting::PluginInstance::Create(m_pModule->Factory(), static_cast<IHostApplication*>(m_pHost.get()), why);
    if (!m_pInstance) {
        error = hosting::CannotLoadModule(modulePath) + why;
        return false;
    }
    IEditController* controller = m_pInstance->Controller();
    for (int32 i = 0; i < controller->getParameterCount(); ++i) {
        ParameterInfo info{};
        if (controller->getParameterInfo(i, info) == kResultOk)
            m_aParams.push_back({info.id, ToUtf8(info.title), info.defaultNormalizedValue, info.flags, info.stepCount});
    }
    // The program list of the unit its program-change parameter belongs to.
    FUnknownPtr<IUnitInfo> units(controller);
    for (const ModuleParam& param : m_aParams) {
        if (!(param.flags & ParameterInfo::kIsProgramChange) || !units)
            continue;
        ProgramListInfo list{};
        for (int32 i = 0; i < units->getProgramListCount() && m_aProgramNames.empty(); ++i) {
            if (units->getProgramListInfo(i, list) != kResultOk || list.programCount != param.stepCount + 1)
                continue;
            for (int32 program = 0; program < list.programCount; ++program) {
                String128 name = {};
                units->getProgramName(list.id, program, name);
                m_aProgramNames.push_back(ToUtf8(name));
            }
            m_iProgramParam = param.id;
        }
    }
    return true;
}

bool CCorvexInstance::SetState(const std::vector<unsigned char>& bytes, std::string& error)
{
    if (!m_pInstance->LoadState(std::vector<char>(bytes.begin(), bytes.end()))) {
        error = "the plug-in refused the state";
        return false;
    }
    return true;
}

bool CCorvexInstance::GetState(std::vector<unsigned char>& bytes, std::string& error)
{
    std::vector<char> state;
    if (!m_pInstance->SaveState(state)) {
        error = "the plug-in could not write its state";
        return false;
    }
    bytes.assign(state.begin(), state.end());
    return true;
}

bool CCorvexInstance::Start(double sampleRate, int maxBlock, double tempo, std::string& error)
{
    if (m_pInstance->Setup(sampleRate, maxBlock) != kResultOk || m_pInstance->Activate(true) != kResultOk) {
        error = "the plug-in refused stereo processing at " + std::to_string(static_cast<int>(sampleRate)) + " Hz";
        return false;
    }
    m_bActive = true;
    m_pBlock = std::make_unique<hosting::ProcessBlock>(2, 2, maxBlock);
    m_pBlock->UseBuffers(m_apfIn, m_apfOut);
    m_pBlock->SetTempo(tempo);
    m_pBlock->context.state |= ProcessContext::kPlaying;
    m_pBlock->context.sampleRate = sampleRate;
    m_pBlock->context.projectTimeSamples = 0;
    m_iRelayInterval = std::max(1, static_cast<int>(sampleRate / kRelaysPerSecond));
    m_iSamplesSinceRelay = 0;
    m_iFrame = 0;
    return true;
}

void CCorvexInstance::Schedule(std::vector<TimedChange> changes)
{
    m_aScheduled = std::move(changes);
    m_iNextChange = 0;
}

bool CCorvexInstance::MidiAssignment(int channel, int controller, std::uint32_t& id) const
{
    FUnknownPtr<IMidiMapping> mapping(m_pInstance->Controller());
    ParamID assigned = 0;
    if (!mapping || mapping->getMidiControllerAssignment(0, static_cast<int16>(channel),
                                                         static_cast<CtrlNumber>(controller), assigned) != kResultTrue)
        return false;
    id = assigned;
    return true;
}

bool CCorvexInstance::Process(float* inLeft, float* inRight, float* outLeft, float* outRight, long frames, int blockSize,
                              const std::atomic<bool>& stop, bool& clipLed, long& processed)
{
    hosting::ProcessBlock& block = *m_pBlock;
    IAudioProcessor* processor = m_pInstance->Processor();
    // The buses point at each block in turn.
    m_apfIn[0] = inLeft;
    m_apfIn[1] = inRight;
    m_apfOut[0] = outLeft;
    m_apfOut[1] = outRight;
    for (long at = 0; at < frames;) {
        long count = std::min<long>(blockSize, frames - at);
        block.inputChanges.Clear();
        for (; m_iNextChange < m_aScheduled.size() && m_aScheduled[m_iNextChange].frame <= m_iFrame; ++m_iNextChange) {
            const ParamSetting& change = m_aScheduled[m_iNextChange].setting;
            block.inputChanges.Add(change.id, change.value);
            m_pInstance->Controller()->setParamNormalized(change.id, change.value);
        }
        if (m_iNextChange < m_aScheduled.size())
            count = static_cast<long>(std::min<std::int64_t>(count, m_aScheduled[m_iNextChange].frame - m_iFrame));
        ProcessData& data = block.Prepare(static_cast<int>(count));
        block.inputBus.silenceFlags = 0;
        block.outputBus.silenceFlags = 0;
        if (processor->process(data) != kResultOk) {
            processed = at;
            return false;
        }
        block.context.projectTimeSamples += count;
        m_iFrame += count;
        TakeOutputChanges(clipLed);
        m_iSamplesSinceRelay += count;
        if (m_iSamplesSinceRelay >= m_iRelayInterval)
            RelayOutputValues();
        m_apfIn[0] += count;
        m_apfIn[1] += count;
        m_apfOut[0] += count;
        m_apfOut[1] += count;
        at += count;
        if (at < frames && stop) {
            processed = at;
            return true;
        }
    }
    processed = frames;
    return true;
}

// Output changes go to the controller as a host relays them: the latest value of each, at the
// rate a display refreshes, not once per block.
void CCorvexInstance::TakeOutputChanges(bool& clipLed)
{
    hosting::ParameterChanges& changes = m_pBlock->outputChanges;
    for (int32 i = 0; i < changes.getParameterCount(); ++i) {
        // Through the queue's own type: direct calls, once per block and output parameter.
        hosting::ParamValueQueue& queue = changes.Queue(i);
        const int32 points = queue.getPointCount();
        if (points == 0)
            continue;
        const ParamID id = queue.getParameterId();
        if (id == corvex::kOuputClippingLed)
            for (int32 p = 0; p < points; ++p)
                if (queue.Value(p) > 0.0)
                    clipLed = true;
        if (id < static_cast<ParamID>(kParamTableSize)) {
            m_adRelayValues[id] = queue.Value(points - 1);
            m_abRelayPending[id] = true;
        }
    }
}

void CCorvexInstance::RelayOutputValues()
{
    for (ParamID id = 0; id < static_cast<ParamID>(kParamTableSize); ++id) {
        if (m_abRelayPending[id])
            m_pInstance->Controller()->setParamNormalized(id, m_adRelayValues[id]);
        m_abRelayPending[id] = false;
    }
    m_iSamplesSinceRelay = 0;
}

BlockCounts CCorvexInstance::Blocks() const
{
    BlockCounts counts;
    if (m_pBlock) {
        const hosting::BlockSizeCount& sizes = m_pBlock->Sizes();
        counts = {sizes.blocks, sizes.samples, sizes.smallest, sizes.largest, m_pBlock->MaxSamples(),
                  m_pBlock->context.tempo};
    }
    return counts;
}

void CCorvexInstance::Stop()
{
    RelayOutputValues();
    if (m_bActive)
        m_pInstance->Activate(false);
    m_bActive = false;
}

} // namespace

std::unique_ptr<CRenderHost> CRenderHost::Load(const std::string& modulePath, std::string& error)
{
    auto instance = std::make_unique<CCorvexInstance>();
    if (!instance->Load(modulePath, error))
        return nullptr;
    return instance;
}

} // namespace corvex::render
