#include "corvex.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "FactoryPresets.h"
#include "ImpulseSection.h"
#include "MidiMap.h"
#include "base/ConsistencyCheck.h"
#include "corvexids.h"
#include "corvexmessages.h"
#include "corvexparameters.h"
#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/vstspeaker.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace corvex {

namespace {

// How long activation waits for an IR being prepared, in steps that let it install one that
// became ready; far beyond the slowest preparation (10 s at 384 kHz).
constexpr int kSettleStepMs = 10;
constexpr int kSettleSteps = 3000;

} // namespace

Corvex::Corvex()
{
    const StateValues defaults = DefaultValues();
    for (ParamID id = 0; id < static_cast<ParamID>(kParamTableSize); ++id) {
        m_afPendingState[id].store(defaults[id]);
        m_afPublished[id].store(defaults[id]);
    }
    setControllerClass(kCorvexControllerUID);
}

Corvex::~Corvex() = default;

FUnknown* Corvex::createInstance(void*)
{
    // No exception may reach the host: a processor that cannot get its buffers is no instance.
    try {
        return static_cast<IAudioProcessor*>(new Corvex());
    }
    catch (...) {
        return nullptr;
    }
}

void Corvex::AddStereoBuses()
{
    addAudioInput(STR16("Stereo In"), SpeakerArr::kStereo);
    addAudioOutput(STR16("Stereo Out"), SpeakerArr::kStereo);
}

tresult PLUGIN_API Corvex::initialize(FUnknown* context)
{
    const tresult result = AudioEffectBase::initialize(context);
    if (result != kResultOk)
        return result;
    AddStereoBuses();
    addEventInput(STR16("Event In"), 1);
    std::vector<std::string> skipped; // the controller reports them
    for (const PresetEntry& preset : PresetList(ReadUserPresets(UserPresetDirectory(), skipped)))
        m_aPrograms.push_back(preset.values);
    return kResultOk;
}

tresult PLUGIN_API Corvex::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                              SpeakerArrangement* outputs, int32 numOuts)
{
    if (numIns != 1 || numOuts != 1 || !inputs || !outputs)
        return kResultFalse;
    const int inCount = SpeakerArr::getChannelCount(inputs[0]);
    const int outCount = SpeakerArr::getChannelCount(outputs[0]);
    AudioBus* input = getAudioInput(0);

    if (inputs[0] != SpeakerArr::kEmpty && inCount == 1 && outCount == 1) {
        if (!input)
            return kResultFalse;
        if (input->getArrangement() != inputs[0]) {
            removeAudioBusses();
            addAudioInput(STR16("Mono In"), inputs[0]);
            addAudioOutput(STR16("Mono Out"), outputs[0]);
        }
        return kResultTrue;
    }
    if (!input)
        return kResultFalse;
    if (inCount == 2 && outCount == 2) {
        removeAudioBusses();
        addAudioInput(STR16("Stereo In"), inputs[0]);
        addAudioOutput(STR16("Stereo Out"), outputs[0]);
        return kResultTrue;
    }
    if (input->getArrangement() != SpeakerArr::kStereo) {
        removeAudioBusses();
        AddStereoBuses();
    }
    return kResultFalse;
}

tresult PLUGIN_API Corvex::setupProcessing(ProcessSetup& setup)
{
    // Checked before the base stores the setup: a refused rate leaves the processor as it was,
    // and hosts show the rate as unsupported.
    if (!CProcessorCore::SupportsSampleRate(setup.sampleRate))
        return kResultFalse;
    const tresult result = AudioEffectBase::setupProcessing(setup);
    if (result != kResultOk)
        return result;
    ApplyPendingState();
    m_core.Prepare(processSetup.sampleRate, processSetup.maxSamplesPerBlock);
    m_impulses.SetSampleRate(processSetup.sampleRate);
    return result;
}

tresult PLUGIN_API Corvex::setActive(TBool state)
{
    sendTextMessage(state ? "Corvex::setActive (true)" : "Corvex::setActive (false)");
    ApplyPendingState();
    if (state)
        SettleImpulse();
    m_core.Activate();
    PublishValues();
    return AudioEffectBase::setActive(state);
}

void Corvex::SettleImpulse()
{
    // Nothing processes now, so this thread may stand in for the audio thread's Service.
    for (int step = 0; step < kSettleSteps; ++step) {
        const bool idle = m_impulses.WaitIdle(kSettleStepMs);
        m_impulses.Service(m_core);
        if (idle)
            return;
    }
}

uint32 PLUGIN_API Corvex::getTailSamples()
{
    // A user cabinet IR rings before the delay and reverb do.
    const double rate = processSetup.sampleRate;
    const std::int64_t tail = CProcessorCore::TailSamples(rate, m_fPublishedTempo.load()) +
                              (std::isfinite(rate) && rate > 0.0
                                   ? std::int64_t(std::ceil(m_impulses.CurrentSeconds() * rate))
                                   : 0);
    return static_cast<uint32>(std::min<std::int64_t>(tail, kInfiniteTail - 1));
}

uint32 PLUGIN_API Corvex::getProcessContextRequirements()
{
    return IProcessContextRequirements::kNeedTempo;
}

void Corvex::ApplyPendingState()
{
    const std::uint32_t generation = m_uStateGeneration.load(std::memory_order_acquire);
    if (generation == m_uAppliedGeneration.load(std::memory_order_relaxed))
        return;
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        m_core.SetParamExact(id, m_afPendingState[id].load(std::memory_order_relaxed));
    PublishValues();
    m_uAppliedGeneration.store(generation, std::memory_order_release);
}

void Corvex::PublishValues()
{
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        m_afPublished[id].store(m_core.Param(id), std::memory_order_relaxed);
}

void Corvex::ReadTempo(const ProcessContext* context)
{
    // Hosts send the same tempo block after block.
    if (!context || !(context->state & ProcessContext::kTempoValid) || context->tempo == m_dHostTempo)
        return;
    m_dHostTempo = context->tempo;
    m_core.SetTempo(context->tempo);
    m_fPublishedTempo.store(m_core.Tempo(), std::memory_order_relaxed);
}

bool Corvex::ReadParameterChanges(IParameterChanges* changes)
{
    if (!changes)
        return false;
    bool taken = false;
    const int32 queues = changes->getParameterCount();
    for (int32 i = 0; i < queues; ++i) {
        IParamValueQueue* queue = changes->getParameterData(i);
        if (!queue)
            continue;
        const ParamID id = queue->getParameterId();
        if (!IsParameter(id) && id != kProgramParam)
            continue;
        int32 offset = 0;
        ParamValue value = 0.0;
        // A parameter has one value per block: the last point's.
        if (queue->getPoint(queue->getPointCount() - 1, offset, value) != kResultOk || std::isnan(value))
            continue;
        if (id == kProgramParam && !m_aPrograms.empty())
            ApplyProgram(ProgramIndex(value, static_cast<int>(m_aPrograms.size())));
        else
            m_core.SetParam(id, value);
        taken = true;
    }
    return taken;
}

void Corvex::TakeMailedPreset()
{
    const std::uint32_t generation = m_uMailedGeneration.load(std::memory_order_acquire);
    if (generation == m_uTakenMailGeneration)
        return;
    m_uTakenMailGeneration = generation;
    float values[CPresetChange::kPresetControls];
    for (int i = 0; i < CPresetChange::kPresetControls; ++i)
        values[i] = m_afMailedPreset[i].load(std::memory_order_relaxed);
    m_core.ChangePreset(values);
    m_bReportControls = true;
}

void Corvex::ApplyProgram(int index)
{
    m_core.ChangePreset(m_aPrograms[static_cast<std::size_t>(index)].data());
    m_bReportControls = true;
}

tresult PLUGIN_API Corvex::process(ProcessData& data)
{
    // The core holds the denormal guard over the chain.
    m_impulses.Service(m_core);
    ApplyPendingState();
    TakeMailedPreset();
    ReadTempo(data.processContext);
    // Most blocks bring no changes.
    IParameterChanges* const changes = data.inputParameterChanges;
    const bool bChanged = changes && changes->getParameterCount() > 0 && ReadParameterChanges(changes);
    if (IEventList* events = data.inputEvents) {
        Event event{};
        for (int32 i = 0, count = events->getEventCount(); i < count; ++i)
            events->getEvent(i, event);
    }

    // Indicators are reported when the chain changed them, not when the host or a state did.
    m_core.BeginBlock();

    tresult result = kResultOk;
    // A block of no samples only flushes parameter changes.
    if (data.numSamples < 0 || (data.numSamples > 0 && data.symbolicSampleSize != kSample32))
        result = kResultFalse;
    else if (data.numSamples > 0 && data.numInputs > 0 && data.numOutputs > 0 && data.inputs && data.outputs) {
        AudioBusBuffers& in = data.inputs[0];
        AudioBusBuffers& out = data.outputs[0];
        std::uint64_t silence = out.silenceFlags;
        if (!m_core.Run(in.channelBuffers32, in.numChannels, in.silenceFlags, out.channelBuffers32,
                        out.numChannels, data.numSamples, silence))
            result = kResultFalse;
        out.silenceFlags = silence;
    }

    // Between blocks only the host's changes, a preset change and the chain's indicators move the
    // values (a restored state and an activation publish themselves).
    if (bChanged || m_bReportControls)
        PublishValues();
    ReportIndicatorChanges(result == kResultOk ? data.outputParameterChanges : nullptr);
    if (m_bReportControls)
        ReportControls(data.outputParameterChanges);
    return result;
}

void Corvex::ReportControls(IParameterChanges* changes)
{
    // A program sets the controls behind the host's back: the host and the controller follow.
    m_bReportControls = false;
    if (!changes)
        return;
    for (ParamID id = kFirstParam; id <= kReverbLevel; ++id) {
        int32 queueIndex = 0;
        if (IParamValueQueue* queue = changes->addParameterData(id, queueIndex)) {
            int32 pointIndex = 0;
            queue->addPoint(0, static_cast<ParamValue>(m_core.Param(id)), pointIndex);
        }
    }
}

void Corvex::ReportIndicatorChanges(IParameterChanges* changes)
{
    // An indicator the block left alone is published already.
    for (int32 i = 0; i < kIndicatorCount; ++i) {
        if (!m_core.IndicatorChanged(i))
            continue;
        const ParamID id = kOutputLeftVumeter + static_cast<ParamID>(i);
        const float value = m_core.Indicator(i);
        m_afPublished[id].store(value, std::memory_order_relaxed);
        if (!changes)
            continue;
        int32 queueIndex = 0;
        if (IParamValueQueue* queue = changes->addParameterData(id, queueIndex)) {
            int32 pointIndex = 0;
            queue->addPoint(0, static_cast<ParamValue>(value), pointIndex);
        }
    }
}

tresult PLUGIN_API Corvex::getState(IBStream* state)
{
    // A restore the audio thread has not taken over yet is the newest state.
    const bool pending = m_uStateGeneration.load(std::memory_order_acquire) !=
                         m_uAppliedGeneration.load(std::memory_order_acquire);
    StateValues values{};
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        values[id] = pending ? m_afPendingState[id].load() : m_afPublished[id].load();
    return WriteState(state, values) && WriteImpulseSection(state) ? kResultOk : kResultFalse;
}

bool Corvex::WriteImpulseSection(IBStream* state)
{
    const std::shared_ptr<const ImpulseSource> source = m_impulses.Current();
    if (!source)
        return true;
    // Hosts and corvex ask for the state often; an IR's section is worked out once.
    std::lock_guard<std::mutex> lock(m_sectionLock);
    if (source != m_pEncodedSource) {
        m_aEncodedSection = EncodeImpulseSection(*source);
        m_pEncodedSource = source;
    }
    return WriteBytes(state, m_aEncodedSection);
}

tresult PLUGIN_API Corvex::setState(IBStream* state)
{
    StateValues values{};
    std::shared_ptr<const ImpulseSource> impulse;
    bool keepImpulse = false;
    if (!ReadComponentState(state, values, impulse, keepImpulse))
        return kResultFalse;
    // A project's state without an IR section is one of the built-in cabinet; a preset's keeps
    // the IR that plays.
    if (!keepImpulse)
        m_impulses.Load(std::move(impulse));
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        m_afPendingState[id].store(SanitiseValue(values[id], kParamInfos[id].defaultValue),
                                   std::memory_order_relaxed);
    m_uStateGeneration.fetch_add(1, std::memory_order_release);
    return kResultOk;
}

tresult PLUGIN_API Corvex::notify(IMessage* message)
{
    if (!message)
        return kInvalidArgument;
    IAttributeList* attributes = message->getAttributes();
    const char* id = message->getMessageID();
    if (id && attributes && std::strcmp(id, kLoadImpulseMessage) == 0) {
        std::string error;
        const std::string path = BinaryText(attributes, kPathAttribute);
        if (path.empty())
            error = "no file named";
        else
            m_impulses.LoadFile(path, error);
        SendImpulse(error);
        return kResultOk;
    }
    if (id && attributes && std::strcmp(id, kChangePresetMessage) == 0) {
        // A preset of the user's that the program list may not hold yet.
        const void* data = nullptr;
        uint32 size = 0;
        if (attributes->getBinary(kValuesAttribute, data, size) != kResultOk || !data ||
            size != sizeof(float) * CPresetChange::kPresetControls)
            return kResultFalse;
        float values[CPresetChange::kPresetControls];
        std::memcpy(values, data, sizeof values);
        for (float value : values)
            if (!(value >= 0.0f && value <= 1.0f))
                return kResultFalse;
        for (int i = 0; i < CPresetChange::kPresetControls; ++i)
            m_afMailedPreset[i].store(values[i], std::memory_order_relaxed);
        m_uMailedGeneration.fetch_add(1, std::memory_order_release);
        return kResultOk;
    }
    if (id && attributes && std::strcmp(id, kTunerMessage) == 0)
        return Tune(attributes);
    if (id && attributes && std::strcmp(id, kClearImpulseMessage) == 0) {
        m_impulses.Clear();
        SendImpulse({});
        return kResultOk;
    }
    if (id && std::strcmp(id, "BinaryMessage") == 0 && attributes) {
        const void* data = nullptr;
        uint32 size = 0;
        if (attributes->getBinary("MyData", data, size) == kResultOk)
            return kResultOk;
    }
    if (!attributes)
        return kResultFalse;
    return AudioEffectBase::notify(message);
}

tresult Corvex::Tune(IAttributeList* attributes)
{
    int64 shown = 0, mute = 1;
    double reference = CPitchDetector::kDefaultReference;
    if (attributes->getInt(kTunerShownAttribute, shown) != kResultOk)
        return kResultFalse;
    attributes->getInt(kTunerMuteAttribute, mute);
    attributes->getFloat(kTunerReferenceAttribute, reference);
    if (!shown) {
        m_core.SetTuner(false, false);
        return kResultOk;
    }
    if (!m_core.TunerOpen() || !m_pTuner || m_pTuner->SampleRate() != m_core.SampleRate()) {
        // A fresh start: what the ring still holds is from before the tuner closed.
        if (!m_pTuner || m_pTuner->SampleRate() != m_core.SampleRate())
            m_pTuner = std::make_unique<CTunerAnalyser>(m_core.SampleRate());
        m_pTuner->Reset();
        m_pTuner->Drain(m_core.TunerRing(), [](const TunerReading&) {});
        m_pTuner->Reset();
        m_core.SetTuner(true, mute != 0);
        return kResultOk;
    }
    m_core.SetTuner(true, mute != 0);
    m_pTuner->SetReference(reference);
    bool read = false;
    TunerReading newest;
    m_pTuner->Drain(m_core.TunerRing(), [&](const TunerReading& reading) {
        newest = reading;
        read = true;
    });
    if (!read)
        return kResultOk;
    IMessage* message = allocateMessage();
    if (!message)
        return kResultOk;
    message->setMessageID(kTunerReadingMessage);
    if (IAttributeList* answer = message->getAttributes()) {
        answer->setInt(kTunerPitchedAttribute, newest.pitch.bPitched ? 1 : 0);
        answer->setFloat(kTunerHertzAttribute, newest.pitch.dHertz);
        answer->setInt(kTunerNoteAttribute, newest.pitch.iNote);
        answer->setFloat(kTunerCentsAttribute, newest.pitch.dCents);
        answer->setFloat(kTunerSecondsAttribute, newest.dSeconds);
        sendMessage(message);
    }
    message->release();
    return kResultOk;
}

void Corvex::SendImpulse(const std::string& error)
{
    IMessage* message = allocateMessage();
    if (!message)
        return;
    message->setMessageID(kImpulseMessage);
    if (IAttributeList* attributes = message->getAttributes()) {
        const std::shared_ptr<const ImpulseSource> source = m_impulses.Current();
        const std::string name = source ? source->name : std::string();
        SetBinaryText(attributes, kNameAttribute, name);
        SetBinaryText(attributes, kErrorAttribute, error);
        sendMessage(message);
    }
    message->release();
}

tresult Corvex::receiveText(const char* text)
{
    std::fputs("[Corvex] received: ", stderr);
    std::fputs(text ? text : "", stderr);
    std::fputc('\n', stderr);
    return kResultOk;
}

} // namespace corvex
