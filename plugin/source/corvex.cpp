#include "corvex.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "base/ConsistencyCheck.h"
#include "base/DenormalGuard.h"
#include "corvexids.h"
#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstmessage.h"
#include "pluginterfaces/vst/ivstparameterchanges.h"
#include "pluginterfaces/vst/vstspeaker.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace corvex {
namespace {

constexpr int kScratchBufferCount = CProcessAudio::kDefaultBufferCount;

// Host tempos outside this range are clamped: the delay sizes its repeats from the tempo.
constexpr float kMinTempo = 1.0f;
constexpr float kMaxTempo = 999.0f;

// Tail: the delay's repeats lose about 5 dB per eighth note at full level, so 24 eighth notes
// take them 120 dB down; the reverb's longest decay (60 dB in 3 s) needs 6 s for the same.
constexpr double kDelayTailEighths = 24.0;
constexpr double kReverbTailSeconds = 6.0;
// Cabinet response, chorus line and limiter release, rounded up.
constexpr double kOtherTailSeconds = 0.25;

constexpr int kChannelBitLimit = 64;

Steinberg::uint64 ChannelMask(int32 channels)
{
    if (channels <= 0)
        return 0;
    if (channels >= kChannelBitLimit)
        return ~Steinberg::uint64(0);
    return (Steinberg::uint64(1) << channels) - 1;
}

bool AllZero(const float* samples, int32 n)
{
    for (int32 i = 0; i < n; ++i)
        if (samples[i] != 0.0f)
            return false;
    return true;
}

} // namespace

Corvex::Corvex()
{
    const StateValues defaults = DefaultValues();
    for (ParamID id = 0; id < static_cast<ParamID>(kParamTableSize); ++id) {
        m_afParamValues[id] = defaults[id];
        m_afPendingState[id].store(defaults[id]);
        m_afPublished[id].store(defaults[id]);
    }

    pAudioProcess = std::make_unique<CProcessAudio>();
    pAudioProcess->SetBlockSize(processSetup.maxSamplesPerBlock);
    pAudioProcess->SetSampleRate(&processSetup.sampleRate);
    pAudioProcess->SetBufferCount(kScratchBufferCount);
    pAudioProcess->SetParamCount(kParamTableSize);
    pAudioProcess->SetTempo(&m_fTempo);
    CORVEX_CHECK(pAudioProcess->Init());
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        pAudioProcess->SetParamPointer(id, &m_afParamValues[id]);

    m_afZeros.assign(static_cast<size_t>(pAudioProcess->BlockSize()), 0.0f);
    m_afDiscard.assign(static_cast<size_t>(pAudioProcess->BlockSize()), 0.0f);
    m_iQuietSamples = std::numeric_limits<std::int64_t>::max();

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
    addAudioInput(u"Stereo In", SpeakerArr::kStereo);
    addAudioOutput(u"Stereo Out", SpeakerArr::kStereo);
}

tresult PLUGIN_API Corvex::initialize(FUnknown* context)
{
    const tresult result = AudioEffectBase::initialize(context);
    if (result != kResultOk)
        return result;
    AddStereoBuses();
    addEventInput(u"Event In", 1);
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
            addAudioInput(u"Mono In", inputs[0]);
            addAudioOutput(u"Mono Out", outputs[0]);
        }
        return kResultTrue;
    }
    if (!input)
        return kResultFalse;
    if (inCount == 2 && outCount == 2) {
        removeAudioBusses();
        addAudioInput(u"Stereo In", inputs[0]);
        addAudioOutput(u"Stereo Out", outputs[0]);
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
    if (!CORVEX_CHECK(pAudioProcess))
        return kResultFalse;
    if (!std::isfinite(setup.sampleRate) || setup.sampleRate <= 0.0)
        return kResultFalse;
    const tresult result = AudioEffectBase::setupProcessing(setup);
    if (result != kResultOk)
        return result;

    // Control thread, not processing: the one place the scratch buffers may grow.
    const int wanted = std::clamp<int32>(processSetup.maxSamplesPerBlock, 1, kMaxScratchSamples);
    pAudioProcess->GrowBlockSize(wanted);
    const size_t capacity = static_cast<size_t>(pAudioProcess->BlockSize());
    if (m_afZeros.size() < capacity) {
        m_afZeros.assign(capacity, 0.0f);
        m_afDiscard.assign(capacity, 0.0f);
    }
    // The blocks re-derive their rate-dependent sizes before the reset sizes their lines.
    pAudioProcess->RefreshSampleRate();
    ApplyPendingState();
    ResetChain();
    return result;
}

void Corvex::ResetChain()
{
    pAudioProcess->Reset();
    m_iQuietSamples = std::numeric_limits<std::int64_t>::max();
}

tresult PLUGIN_API Corvex::setActive(TBool state)
{
    sendTextMessage(state ? "Corvex::setActive (true)" : "Corvex::setActive (false)");
    if (!CORVEX_CHECK(pAudioProcess))
        return kResultFalse;
    ApplyPendingState();
    float** table = nullptr;
    pAudioProcess->GetParamTable(&table);
    for (ParamID id = kOutputLeftVumeter; id <= kCompressionLed; ++id)
        if (table && table[id])
            *table[id] = 0.0f;
    ResetChain();
    PublishValues();
    return AudioEffectBase::setActive(state);
}

std::int64_t Corvex::TailSamples(double fs, float tempo)
{
    if (!std::isfinite(fs) || fs <= 0.0)
        return 0;
    const double bpm = std::clamp<double>(std::isfinite(tempo) ? tempo : kInitialTempo, kMinTempo, kMaxTempo);
    const double eighthNote = 0.5 * 60.0 / bpm;
    const double seconds = kDelayTailEighths * eighthNote + kReverbTailSeconds + kOtherTailSeconds;
    return static_cast<std::int64_t>(std::ceil(seconds * fs));
}

uint32 PLUGIN_API Corvex::getTailSamples()
{
    const std::int64_t tail = TailSamples(processSetup.sampleRate, m_fPublishedTempo.load());
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
        m_afParamValues[id] = m_afPendingState[id].load(std::memory_order_relaxed);
    PublishValues();
    m_uAppliedGeneration.store(generation, std::memory_order_release);
}

void Corvex::PublishValues()
{
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        m_afPublished[id].store(m_afParamValues[id], std::memory_order_relaxed);
}

void Corvex::ReadTempo(const ProcessContext* context)
{
    if (!context || !(context->state & ProcessContext::kTempoValid))
        return;
    const double tempo = context->tempo;
    if (!std::isfinite(tempo) || tempo <= 0.0)
        return;
    m_fTempo = static_cast<float>(std::clamp<double>(tempo, kMinTempo, kMaxTempo));
    m_fPublishedTempo.store(m_fTempo, std::memory_order_relaxed);
}

void Corvex::ReadParameterChanges(IParameterChanges* changes)
{
    if (!changes)
        return;
    const int32 queues = changes->getParameterCount();
    for (int32 i = 0; i < queues; ++i) {
        IParamValueQueue* queue = changes->getParameterData(i);
        if (!queue)
            continue;
        const ParamID id = queue->getParameterId();
        if (!IsParameter(id))
            continue;
        int32 offset = 0;
        ParamValue value = 0.0;
        // A parameter has one value per block: the last point's.
        if (queue->getPoint(queue->getPointCount() - 1, offset, value) == kResultOk)
            m_afParamValues[id] = SanitiseValue(value, m_afParamValues[id]);
    }
}

tresult PLUGIN_API Corvex::process(ProcessData& data)
{
    if (!CORVEX_CHECK(pAudioProcess))
        return kResultFalse;
    ScopedNoDenormals noDenormals;
    ApplyPendingState();
    ReadTempo(data.processContext);
    ReadParameterChanges(data.inputParameterChanges);
    if (IEventList* events = data.inputEvents) {
        Event event{};
        for (int32 i = 0, count = events->getEventCount(); i < count; ++i)
            events->getEvent(i, event);
    }

    // Indicators are reported when the chain changed them, not when the host or a state did.
    for (int32 i = 0; i < kIndicatorCount; ++i)
        m_afOutputSnapshot[i] = m_afParamValues[kOutputLeftVumeter + i];

    tresult result = kResultOk;
    // A block of no samples only flushes parameter changes.
    if (data.numSamples < 0 || (data.numSamples > 0 && data.symbolicSampleSize != kSample32))
        result = kResultFalse;
    else if (data.numSamples > 0 && data.numInputs > 0 && data.numOutputs > 0 && data.inputs && data.outputs)
        result = RunChain(data.inputs[0], data.outputs[0], data.numSamples) ? kResultOk : kResultFalse;

    if (result == kResultOk)
        SendIndicatorChanges(data.outputParameterChanges);
    PublishValues();
    return result;
}

bool Corvex::RunChain(AudioBusBuffers& in, AudioBusBuffers& out, int32 numSamples)
{
    float** inputs = in.channelBuffers32;
    float** outputs = out.channelBuffers32;
    const int32 inChannels = inputs ? in.numChannels : 0;
    const int32 outChannels = outputs ? out.numChannels : 0;
    if (inChannels < 1 || outChannels < 1)
        return true;
    for (int32 c = 0; c < std::min(inChannels, 2); ++c)
        if (!inputs[c])
            return true;
    for (int32 c = 0; c < std::min(outChannels, 2); ++c)
        if (!outputs[c])
            return true;

    const Steinberg::uint64 inMask = ChannelMask(inChannels);
    const Steinberg::uint64 outMask = ChannelMask(outChannels);

    if (m_afParamValues[kBypass] != 0.0f) {
        for (int32 c = 0; c < outChannels; ++c) {
            if (!outputs[c])
                continue;
            if (c >= inChannels)
                std::memset(outputs[c], 0, sizeof(float) * static_cast<size_t>(numSamples));
            else if (outputs[c] != inputs[c])
                std::memcpy(outputs[c], inputs[c], sizeof(float) * static_cast<size_t>(numSamples));
        }
        out.silenceFlags = (in.silenceFlags & inMask) | (outMask & ~inMask);
        return true;
    }

    // The chain reads the left input, and the right one of a stereo bus.
    const bool mono = inChannels < 2;
    const Steinberg::uint64 usedMask = mono ? 1u : 3u;
    const bool allSilent = (in.silenceFlags & usedMask) == usedMask;
    if (!allSilent)
        m_iQuietSamples = 0;
    const std::int64_t tail = TailSamples(processSetup.sampleRate, m_fTempo);
    if (allSilent && m_iQuietSamples >= tail) {
        for (int32 c = 0; c < outChannels; ++c)
            if (outputs[c])
                std::memset(outputs[c], 0, sizeof(float) * static_cast<size_t>(numSamples));
        out.silenceFlags = outMask;
        return true;
    }

    const bool silentL = in.silenceFlags & 1u;
    const bool silentR = !mono && (in.silenceFlags & 2u);
    const int32 slice = static_cast<int32>(std::min(m_afZeros.size(), m_afDiscard.size()));
    for (int32 done = 0; done < numSamples; done += slice) {
        const int32 n = std::min(slice, numSamples - done);
        const float* inL = silentL ? m_afZeros.data() : inputs[0] + done;
        const float* inR = mono ? inL : (silentR ? m_afZeros.data() : inputs[1] + done);
        float* outL = outputs[0] + done;
        float* outR = outChannels < 2 ? m_afDiscard.data() : outputs[1] + done;
        if (!pAudioProcess->Process(inL, inR, outL, outR, n))
            return false;
    }
    if (allSilent)
        m_iQuietSamples = std::min<std::int64_t>(m_iQuietSamples, std::numeric_limits<std::int64_t>::max() - numSamples) + numSamples;

    Steinberg::uint64 flags = 0;
    for (int32 c = 0; c < outChannels; ++c) {
        if (c >= 2 && outputs[c])
            std::memset(outputs[c], 0, sizeof(float) * static_cast<size_t>(numSamples));
        if (c < kChannelBitLimit && (!outputs[c] || AllZero(outputs[c], numSamples)))
            flags |= Steinberg::uint64(1) << c;
    }
    out.silenceFlags = flags;
    return true;
}

void Corvex::SendIndicatorChanges(IParameterChanges* changes)
{
    if (!changes)
        return;
    for (int32 i = 0; i < kIndicatorCount; ++i) {
        const ParamID id = kOutputLeftVumeter + static_cast<ParamID>(i);
        const float value = m_afParamValues[id];
        if (value == m_afOutputSnapshot[i])
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
    if (!CORVEX_CHECK(pAudioProcess))
        return kResultFalse;
    // A restore the audio thread has not taken over yet is the newest state.
    const bool pending = m_uStateGeneration.load(std::memory_order_acquire) !=
                         m_uAppliedGeneration.load(std::memory_order_acquire);
    StateValues values{};
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        values[id] = pending ? m_afPendingState[id].load() : m_afPublished[id].load();
    return WriteState(state, values) ? kResultOk : kResultFalse;
}

tresult PLUGIN_API Corvex::setState(IBStream* state)
{
    if (!CORVEX_CHECK(pAudioProcess))
        return kResultFalse;
    StateValues values{};
    if (!ReadState(state, values))
        return kResultFalse;
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

tresult Corvex::receiveText(const char* text)
{
    std::fputs("[Corvex] received: ", stderr);
    std::fputs(text ? text : "", stderr);
    std::fputc('\n', stderr);
    return kResultOk;
}

} // namespace corvex
