#include "PluginInstance.h"

#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstparameterchanges.h>
#include <pluginterfaces/vst/ivstprocesscontext.h>
#include <public.sdk/source/common/memorystream.h>
#include <public.sdk/source/vst/hosting/hostclasses.h>

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace corvex::render {

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr ParamID kOutputClipLedId = 16;
constexpr int kMaxQueues = 32;

// VST 3 interfaces have no virtual destructors by design; these objects are never deleted through them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// One point per queue is all a whole-block change needs.
class CParamQueue final : public IParamValueQueue {
public:
    void Reset(ParamID id)
    {
        m_iId = id;
        m_iPoints = 0;
    }
    ParamID PLUGIN_API getParameterId() override { return m_iId; }
    int32 PLUGIN_API getPointCount() override { return m_iPoints; }
    tresult PLUGIN_API getPoint(int32 index, int32& sampleOffset, ParamValue& value) override
    {
        if (index < 0 || index >= m_iPoints)
            return kResultFalse;
        sampleOffset = m_iOffset;
        value = m_fValue;
        return kResultTrue;
    }
    tresult PLUGIN_API addPoint(int32 sampleOffset, ParamValue value, int32& index) override
    {
        // A later point in the same block replaces the earlier one: only the last value counts.
        m_iOffset = sampleOffset;
        m_fValue = value;
        m_iPoints = 1;
        index = 0;
        return kResultTrue;
    }
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override
    {
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

private:
    ParamID m_iId = 0;
    int32 m_iPoints = 0;
    int32 m_iOffset = 0;
    ParamValue m_fValue = 0.0;
};

class CParamChanges final : public IParameterChanges {
public:
    void Clear() { m_iCount = 0; }
    int32 PLUGIN_API getParameterCount() override { return m_iCount; }
    IParamValueQueue* PLUGIN_API getParameterData(int32 index) override
    {
        return index >= 0 && index < m_iCount ? &m_aQueues[index] : nullptr;
    }
    IParamValueQueue* PLUGIN_API addParameterData(const ParamID& id, int32& index) override
    {
        for (int32 i = 0; i < m_iCount; ++i)
            if (m_aQueues[i].getParameterId() == id) {
                index = i;
                return &m_aQueues[i];
            }
        if (m_iCount == kMaxQueues)
            return nullptr;
        index = m_iCount++;
        m_aQueues[index].Reset(id);
        return &m_aQueues[index];
    }
    tresult PLUGIN_API queryInterface(const TUID, void** obj) override
    {
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }

private:
    CParamQueue m_aQueues[kMaxQueues];
    int32 m_iCount = 0;
};

#pragma GCC diagnostic pop

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

// The shared library inside a bundle directory, or `path` itself if it names a file.
std::string LibraryInside(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(path, ec))
        return path;
    fs::path bundle(path);
    if (!bundle.has_filename())
        bundle = bundle.parent_path();
    const fs::path contents = bundle / "Contents";
    const std::string library = bundle.stem().string() + ".so";
    for (const char* arch : {"x86_64-linux", "aarch64-linux", "i386-linux"}) {
        const fs::path candidate = contents / arch / library;
        if (fs::exists(candidate, ec))
            return candidate.string();
    }
    return (contents / "x86_64-linux" / library).string();
}

class CCorvexInstance final : public CPluginInstance {
public:
    ~CCorvexInstance() override { Unload(); }

    bool Load(const std::string& modulePath, std::string& error);
    const std::vector<ModuleParam>& Params() const override { return m_aParams; }
    bool SetState(const std::vector<unsigned char>& bytes, std::string& error) override;
    bool GetState(std::vector<unsigned char>& bytes, std::string& error) override;
    bool Start(double sampleRate, int maxBlock, double tempo, std::string& error) override;
    bool Process(const float* inLeft, const float* inRight, float* outLeft, float* outRight, int frames,
                 const std::vector<ParamSetting>& changes, bool& clipLed) override;
    void Stop() override;

private:
    void Unload();

    void* m_pLibrary = nullptr;
    IPluginFactory* m_pFactory = nullptr;
    IComponent* m_pComponent = nullptr;
    IAudioProcessor* m_pProcessor = nullptr;
    IEditController* m_pController = nullptr;
    IConnectionPoint* m_pComponentPoint = nullptr;
    IConnectionPoint* m_pControllerPoint = nullptr;
    HostApplication* m_pHost = new HostApplication; // reference counted: released in Unload
    std::vector<ModuleParam> m_aParams;
    bool m_bActive = false;

    CParamChanges m_inputChanges;
    CParamChanges m_outputChanges;
    ProcessContext m_context{};
    ProcessData m_data{};
    AudioBusBuffers m_inputBus{};
    AudioBusBuffers m_outputBus{};
    float* m_apInputs[2] = {};
    float* m_apOutputs[2] = {};
};

bool CCorvexInstance::Load(const std::string& modulePath, std::string& error)
{
    const std::string library = LibraryInside(modulePath);
    const std::string named = "the plug-in module \"" + modulePath + "\"";
    std::error_code ec;
    if (!std::filesystem::exists(library, ec)) {
        error = "cannot load " + named + ": " + library + " does not exist (build the Corvex target, or give "
                "--module PATH)";
        return false;
    }
    m_pLibrary = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_pLibrary) {
        error = "cannot load " + named + ": " + dlerror();
        return false;
    }
    using ModuleEntry = bool (*)(void*);
    using GetFactory = IPluginFactory* (*)();
    auto entry = reinterpret_cast<ModuleEntry>(dlsym(m_pLibrary, "ModuleEntry"));
    auto getFactory = reinterpret_cast<GetFactory>(dlsym(m_pLibrary, "GetPluginFactory"));
    if (!getFactory) {
        error = "cannot load " + named + ": it exports no GetPluginFactory, so it is not a VST 3 module";
        return false;
    }
    if (entry && !entry(m_pLibrary)) {
        error = "cannot load " + named + ": its ModuleEntry failed";
        return false;
    }
    m_pFactory = getFactory();
    if (!m_pFactory) {
        error = "cannot load " + named + ": GetPluginFactory returned no factory";
        return false;
    }
    for (int32 i = 0; i < m_pFactory->countClasses() && !m_pComponent; ++i) {
        PClassInfo info{};
        if (m_pFactory->getClassInfo(i, &info) == kResultOk && std::strcmp(info.category, kVstAudioEffectClass) == 0)
            m_pFactory->createInstance(info.cid, IComponent::iid, reinterpret_cast<void**>(&m_pComponent));
    }
    if (!m_pComponent) {
        error = "cannot load " + named + ": its factory offers no audio processor";
        return false;
    }
    if (m_pComponent->initialize(static_cast<IHostApplication*>(m_pHost)) != kResultOk ||
        m_pComponent->queryInterface(IAudioProcessor::iid, reinterpret_cast<void**>(&m_pProcessor)) != kResultOk) {
        error = "cannot load " + named + ": its audio processor did not initialise";
        return false;
    }
    TUID controllerId;
    if (m_pComponent->getControllerClassId(controllerId) != kResultOk ||
        m_pFactory->createInstance(controllerId, IEditController::iid, reinterpret_cast<void**>(&m_pController)) !=
            kResultOk ||
        !m_pController || m_pController->initialize(static_cast<IHostApplication*>(m_pHost)) != kResultOk) {
        error = "cannot load " + named + ": its edit controller could not be created";
        return false;
    }
    if (m_pComponent->queryInterface(IConnectionPoint::iid, reinterpret_cast<void**>(&m_pComponentPoint)) == kResultOk &&
        m_pController->queryInterface(IConnectionPoint::iid, reinterpret_cast<void**>(&m_pControllerPoint)) ==
            kResultOk) {
        m_pComponentPoint->connect(m_pControllerPoint);
        m_pControllerPoint->connect(m_pComponentPoint);
    }
    for (int32 i = 0; i < m_pController->getParameterCount(); ++i) {
        ParameterInfo info{};
        if (m_pController->getParameterInfo(i, info) == kResultOk)
            m_aParams.push_back({info.id, ToUtf8(info.title), info.defaultNormalizedValue, info.flags, info.stepCount});
    }
    return true;
}

void CCorvexInstance::Unload()
{
    Stop();
    if (m_pComponentPoint && m_pControllerPoint) {
        m_pComponentPoint->disconnect(m_pControllerPoint);
        m_pControllerPoint->disconnect(m_pComponentPoint);
    }
    if (m_pComponentPoint)
        m_pComponentPoint->release();
    if (m_pControllerPoint)
        m_pControllerPoint->release();
    if (m_pController) {
        m_pController->terminate();
        m_pController->release();
    }
    if (m_pProcessor)
        m_pProcessor->release();
    if (m_pComponent) {
        m_pComponent->terminate();
        m_pComponent->release();
    }
    if (m_pFactory)
        m_pFactory->release();
    m_pComponentPoint = m_pControllerPoint = nullptr;
    m_pController = nullptr;
    m_pProcessor = nullptr;
    m_pComponent = nullptr;
    m_pFactory = nullptr;
    if (m_pHost) {
        m_pHost->release();
        m_pHost = nullptr;
    }
    if (m_pLibrary) {
        if (auto exit = reinterpret_cast<bool (*)()>(dlsym(m_pLibrary, "ModuleExit")))
            exit();
        dlclose(m_pLibrary);
        m_pLibrary = nullptr;
    }
}

bool CCorvexInstance::SetState(const std::vector<unsigned char>& bytes, std::string& error)
{
    MemoryStream forProcessor(const_cast<unsigned char*>(bytes.data()), static_cast<TSize>(bytes.size()));
    MemoryStream forController(const_cast<unsigned char*>(bytes.data()), static_cast<TSize>(bytes.size()));
    if (m_pComponent->setState(&forProcessor) != kResultOk || m_pController->setComponentState(&forController) != kResultOk) {
        error = "the plug-in refused the state";
        return false;
    }
    return true;
}

bool CCorvexInstance::GetState(std::vector<unsigned char>& bytes, std::string& error)
{
    MemoryStream stream;
    if (m_pComponent->getState(&stream) != kResultOk) {
        error = "the plug-in could not write its state";
        return false;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(stream.getData());
    bytes.assign(data, data + stream.getSize());
    return true;
}

bool CCorvexInstance::Start(double sampleRate, int maxBlock, double tempo, std::string& error)
{
    SpeakerArrangement stereo = SpeakerArr::kStereo;
    ProcessSetup setup{kOffline, kSample32, maxBlock, sampleRate};
    if (m_pProcessor->setBusArrangements(&stereo, 1, &stereo, 1) != kResultTrue ||
        m_pProcessor->setupProcessing(setup) != kResultOk) {
        error = "the plug-in refused stereo processing at " + std::to_string(static_cast<int>(sampleRate)) + " Hz";
        return false;
    }
    m_pComponent->activateBus(kAudio, kInput, 0, true);
    m_pComponent->activateBus(kAudio, kOutput, 0, true);
    if (m_pComponent->setActive(true) != kResultOk) {
        error = "the plug-in could not be activated";
        return false;
    }
    m_bActive = true;
    m_pProcessor->setProcessing(true);

    m_context.state = ProcessContext::kTempoValid | ProcessContext::kPlaying;
    m_context.sampleRate = sampleRate;
    m_context.tempo = tempo;
    m_context.projectTimeSamples = 0;
    m_inputBus.numChannels = 2;
    m_inputBus.channelBuffers32 = m_apInputs;
    m_outputBus.numChannels = 2;
    m_outputBus.channelBuffers32 = m_apOutputs;
    m_data.processMode = kOffline;
    m_data.symbolicSampleSize = kSample32;
    m_data.numInputs = 1;
    m_data.numOutputs = 1;
    m_data.inputs = &m_inputBus;
    m_data.outputs = &m_outputBus;
    m_data.inputParameterChanges = &m_inputChanges;
    m_data.outputParameterChanges = &m_outputChanges;
    m_data.processContext = &m_context;
    return true;
}

bool CCorvexInstance::Process(const float* inLeft, const float* inRight, float* outLeft, float* outRight, int frames,
                              const std::vector<ParamSetting>& changes, bool& clipLed)
{
    m_inputChanges.Clear();
    m_outputChanges.Clear();
    for (const ParamSetting& change : changes) {
        int32 index = 0;
        if (IParamValueQueue* queue = m_inputChanges.addParameterData(change.id, index))
            queue->addPoint(0, change.value, index);
        m_pController->setParamNormalized(change.id, change.value);
    }
    m_apInputs[0] = const_cast<float*>(inLeft);
    m_apInputs[1] = const_cast<float*>(inRight);
    m_apOutputs[0] = outLeft;
    m_apOutputs[1] = outRight;
    m_inputBus.silenceFlags = 0;
    m_outputBus.silenceFlags = 0;
    m_data.numSamples = frames;
    if (m_pProcessor->process(m_data) != kResultOk)
        return false;
    m_context.projectTimeSamples += frames;

    // Output changes go to the controller, as a host relays them.
    for (int32 i = 0; i < m_outputChanges.getParameterCount(); ++i) {
        IParamValueQueue* queue = m_outputChanges.getParameterData(i);
        int32 offset = 0;
        ParamValue value = 0.0;
        if (queue->getPoint(queue->getPointCount() - 1, offset, value) != kResultTrue)
            continue;
        m_pController->setParamNormalized(queue->getParameterId(), value);
        if (queue->getParameterId() == kOutputClipLedId && value > 0.0)
            clipLed = true;
    }
    return true;
}

void CCorvexInstance::Stop()
{
    if (!m_bActive)
        return;
    m_pProcessor->setProcessing(false);
    m_pComponent->setActive(false);
    m_bActive = false;
}

} // namespace

std::unique_ptr<CPluginInstance> CPluginInstance::Load(const std::string& modulePath, std::string& error)
{
    auto instance = std::make_unique<CCorvexInstance>();
    if (!instance->Load(modulePath, error))
        return nullptr;
    return instance;
}

std::string DefaultModulePath()
{
    std::error_code ec;
#ifdef CORVEX_RENDER_BUILT_MODULE
    if (std::filesystem::exists(CORVEX_RENDER_BUILT_MODULE, ec))
        return CORVEX_RENDER_BUILT_MODULE;
#endif
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.vst3/Corvex.vst3";
}

} // namespace corvex::render
