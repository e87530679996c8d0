#include "ProcessorCore.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/ConsistencyCheck.h"
#include "TunerAnalyser.h"
#include "base/DenormalGuard.h"
#include "cabinet/CabinetImpulse.h"
#include "input/EffectSourceSelector.h"

namespace corvex {
namespace {

constexpr int kScratchBufferCount = CProcessAudio::kDefaultBufferCount;

// Tail: the delay's repeats lose about 5 dB per eighth note at full level, so 24 eighth notes
// take them 120 dB down; the reverb's longest decay (60 dB in 3 s) needs 6 s for the same.
constexpr double kDelayTailEighths = 24.0;
constexpr double kReverbTailSeconds = 6.0;
// Cabinet response, chorus line and limiter release, rounded up.
constexpr double kOtherTailSeconds = 0.25;

constexpr int kChannelBitLimit = 64;

std::uint64_t ChannelMask(int channels)
{
    if (channels <= 0)
        return 0;
    if (channels >= kChannelBitLimit)
        return ~std::uint64_t(0);
    return (std::uint64_t(1) << channels) - 1;
}

bool AllZero(const float* samples, int n)
{
    for (int i = 0; i < n; ++i)
        if (samples[i] != 0.0f)
            return false;
    return true;
}

} // namespace

CProcessorCore::CProcessorCore()
{
    for (ParamID id = 0; id < ParamID(kParamTableSize); ++id)
        m_afParamValues[id] = IsParameter(id) ? kParamInfos[id].defaultValue : 0.0f;

    pAudioProcess = std::make_unique<CProcessAudio>();
    pAudioProcess->SetBlockSize(kInitialBlockSize);
    pAudioProcess->SetSampleRate(&m_dSampleRate);
    pAudioProcess->SetBufferCount(kScratchBufferCount);
    pAudioProcess->SetParamCount(kParamTableSize);
    pAudioProcess->SetTempo(&m_fTempo);
    CORVEX_CHECK(pAudioProcess->Init());
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        pAudioProcess->SetParamPointer(id, &m_afParamValues[id]);
    m_change.Create(&m_dSampleRate, &m_fTempo, kInitialBlockSize, kScratchBufferCount);

    m_afZeros.assign(size_t(pAudioProcess->BlockSize()), 0.0f);
    m_afDiscard.assign(size_t(pAudioProcess->BlockSize()), 0.0f);
    m_iSliceSamples = int(std::min(m_afZeros.size(), m_afDiscard.size()));
    m_iQuietSamples = std::numeric_limits<std::int64_t>::max();
    m_pTunerRing = std::make_unique<CSampleRing>(int(std::ceil(CTunerAnalyser::kRingSeconds * m_dSampleRate)));
}

CProcessorCore::~CProcessorCore()
{
    // The chains would free the spares their owners free too.
    std::vector<CCabinetImpulse*> owners;
    m_change.ReleaseImpulses(*pAudioProcess, owners);
    for (CCabinetImpulse* pImpulse : owners)
        delete pImpulse;
}

bool CProcessorCore::Prepare(double sampleRate, int maxBlockSize)
{
    if (!SupportsSampleRate(sampleRate))
        return false;
    m_dSampleRate = sampleRate;
    // Not processing: the one place the scratch buffers may grow.
    pAudioProcess->GrowBlockSize(std::clamp(maxBlockSize, 1, kMaxScratchSamples));
    const size_t capacity = size_t(pAudioProcess->BlockSize());
    if (m_afZeros.size() < capacity) {
        m_afZeros.assign(capacity, 0.0f);
        m_afDiscard.assign(capacity, 0.0f);
    }
    m_iSliceSamples = int(std::min(m_afZeros.size(), m_afDiscard.size()));
    const int tunerSamples = int(std::ceil(CTunerAnalyser::kRingSeconds * sampleRate));
    if (m_pTunerRing->Capacity() < tunerSamples)
        m_pTunerRing = std::make_unique<CSampleRing>(tunerSamples);
    // The blocks re-derive their rate-dependent sizes before the reset sizes their lines.
    pAudioProcess->RefreshSampleRate();
    m_change.Prepare(pAudioProcess->BlockSize());
    ResetChain();
    return true;
}

void CProcessorCore::Activate()
{
    for (ParamID id = kOutputLeftVumeter; id <= kCompressionLed; ++id)
        m_afParamValues[id] = 0.0f;
    ResetChain();
}

void CProcessorCore::ResetChain()
{
    m_change.Settle(m_afParamValues);
    pAudioProcess->Reset();
    m_iQuietSamples = std::numeric_limits<std::int64_t>::max();
}

void CProcessorCore::SetParam(ParamID id, double value)
{
    if (!IsParameter(id) || std::isnan(value))
        return;
    // A switch from outside reads as its host shows it: on from half way (a MIDI controller from
    // 64), as the step count of 1 makes it.
    if (kParamInfos[id].stepCount == 1)
        m_afParamValues[id] = value >= kSwitchOnFrom ? 1.0f : 0.0f;
    else
        m_afParamValues[id] = value < 0.0 ? 0.0f : value > 1.0 ? 1.0f : float(value);
    m_change.KeepInPending(id, m_afParamValues[id]);
}

void CProcessorCore::ChangePreset(const float* values)
{
    m_change.Request(values);
    if (TailsHaveDied())
        m_change.Settle(m_afParamValues);
}

bool CProcessorCore::TailsHaveDied() const
{
    return m_iQuietSamples >= TailSamples(m_dSampleRate, m_fTempo) + pAudioProcess->ImpulseTailSamples();
}

void CProcessorCore::SetTempo(double bpm)
{
    if (!std::isfinite(bpm) || bpm <= 0.0)
        return;
    m_fTempo = float(std::clamp<double>(bpm, kMinTempo, kMaxTempo));
}

std::int64_t CProcessorCore::TailSamples(double fs, float tempo)
{
    if (!std::isfinite(fs) || fs <= 0.0)
        return 0;
    const double bpm = std::clamp<double>(std::isfinite(tempo) ? tempo : kInitialTempo, kMinTempo, kMaxTempo);
    const double eighthNote = 0.5 * 60.0 / bpm;
    const double seconds = kDelayTailEighths * eighthNote + kReverbTailSeconds + kOtherTailSeconds;
    return std::int64_t(std::ceil(seconds * fs));
}

bool CProcessorCore::Run(const float* const* inputs, int inChannels, std::uint64_t inSilence, float* const* outputs,
                         int outChannels, int n, std::uint64_t& outSilence)
{
    if (!m_bTunerOpen.load(std::memory_order_acquire))
        return RunChain(inputs, inChannels, inSilence, outputs, outChannels, n, outSilence);
    // Before the chain: the buffers may alias.
    CopyToTuner(inputs, inChannels, inSilence, n);
    if (!RunChain(inputs, inChannels, inSilence, outputs, outChannels, n, outSilence))
        return false;
    if (m_bTunerMute.load(std::memory_order_relaxed) && outputs) {
        for (int c = 0; c < outChannels; ++c)
            if (outputs[c])
                std::memset(outputs[c], 0, sizeof(float) * size_t(n));
        outSilence = ChannelMask(outChannels);
    }
    return true;
}

void CProcessorCore::CopyToTuner(const float* const* inputs, int inChannels, std::uint64_t inSilence, int n)
{
    if (!inputs || inChannels < 1 || !inputs[0] || (inChannels >= 2 && !inputs[1]) || n <= 0)
        return;
    const float* right = inChannels >= 2 ? inputs[1] : inputs[0];
    const float* selected = CEffectSourceSelector::Selected(inputs[0], right, m_afParamValues[kInputSelection]);
    const bool silent = (inSilence & (selected == inputs[0] ? 1u : 2u)) != 0;
    for (int done = 0; done < n; done += m_iSliceSamples) {
        const int count = std::min(m_iSliceSamples, n - done);
        m_pTunerRing->Write(silent ? m_afZeros.data() : selected + done, count);
    }
}

bool CProcessorCore::RunChain(const float* const* inputs, int inChannels, std::uint64_t inSilence,
                              float* const* outputs, int outChannels, int n, std::uint64_t& outSilence)
{
    // Nearly every block: stereo both ways, signal on both inputs, no bypass, within the
    // scratch buffers. It takes the general path's result without its bookkeeping, which
    // small blocks feel.
    if (inputs && outputs && inChannels == 2 && outChannels == 2 && (inSilence & 3u) == 0 && n >= 1 &&
        n <= m_iSliceSamples && m_afParamValues[kBypass] == 0.0f && !m_change.Busy() && inputs[0] && inputs[1] &&
        outputs[0] && outputs[1]) {
        m_iQuietSamples = 0;
        ++m_iGraphRuns;
        ScopedNoDenormals noDenormals;
        if (!pAudioProcess->ProcessGuarded(inputs[0], inputs[1], outputs[0], outputs[1], n))
            return false;
        outSilence = (AllZero(outputs[0], n) ? 1u : 0u) | (AllZero(outputs[1], n) ? 2u : 0u);
        return true;
    }
    return RunAnyBus(inputs, inChannels, inSilence, outputs, outChannels, n, outSilence);
}

bool CProcessorCore::RunAnyBus(const float* const* inputs, int inChannels, std::uint64_t inSilence,
                               float* const* outputs, int outChannels, int n, std::uint64_t& outSilence)
{
    if (!inputs)
        inChannels = 0;
    if (!outputs)
        outChannels = 0;
    if (inChannels < 1 || outChannels < 1)
        return true;
    // The chain reads the left input, and the right one of a stereo bus.
    const bool mono = inChannels < 2;
    if (!inputs[0] || (!mono && !inputs[1]) || !outputs[0] || (outChannels >= 2 && !outputs[1]))
        return true;

    const std::uint64_t inMask = ChannelMask(inChannels);
    const std::uint64_t outMask = ChannelMask(outChannels);
    const size_t bytes = sizeof(float) * size_t(n);

    if (m_afParamValues[kBypass] != 0.0f) {
        // Bypassed, the trails stop and a preset change applies at once.
        if (m_change.Busy())
            m_change.Settle(m_afParamValues);
        for (int c = 0; c < outChannels; ++c) {
            if (!outputs[c])
                continue;
            if (c >= inChannels)
                std::memset(outputs[c], 0, bytes);
            else if (outputs[c] != inputs[c])
                std::memcpy(outputs[c], inputs[c], bytes);
        }
        outSilence = (inSilence & inMask) | (outMask & ~inMask);
        return true;
    }

    const std::uint64_t usedMask = mono ? 1u : 3u;
    const bool allSilent = (inSilence & usedMask) == usedMask;
    if (!allSilent)
        m_iQuietSamples = 0;
    // The tail (a division and a ceil) matters only once the input is silent.
    if (allSilent && !m_change.Busy() && TailsHaveDied()) {
        for (int c = 0; c < outChannels; ++c)
            if (outputs[c])
                std::memset(outputs[c], 0, bytes);
        outSilence = outMask;
        return true;
    }

    // The core holds the chain's denormal guard, for every adapter and caller.
    ScopedNoDenormals noDenormals;
    const bool silentL = inSilence & 1u;
    const bool silentR = !mono && (inSilence & 2u);
    const int slice = m_iSliceSamples;
    for (int done = 0; done < n; done += slice) {
        const int count = std::min(slice, n - done);
        const float* inL = silentL ? m_afZeros.data() : inputs[0] + done;
        const float* inR = mono ? inL : (silentR ? m_afZeros.data() : inputs[1] + done);
        float* outL = outputs[0] + done;
        float* outR = outChannels < 2 ? m_afDiscard.data() : outputs[1] + done;
        ++m_iGraphRuns;
        if (!(m_change.Busy() ? m_change.Process(pAudioProcess, m_afParamValues, inL, inR, outL, outR, count)
                              : pAudioProcess->ProcessGuarded(inL, inR, outL, outR, count)))
            return false;
    }
    if (allSilent)
        m_iQuietSamples = std::min<std::int64_t>(m_iQuietSamples, std::numeric_limits<std::int64_t>::max() - n) + n;

    std::uint64_t flags = 0;
    for (int c = 0; c < outChannels; ++c) {
        if (c >= 2 && outputs[c])
            std::memset(outputs[c], 0, bytes);
        if (c < kChannelBitLimit && (!outputs[c] || AllZero(outputs[c], n)))
            flags |= std::uint64_t(1) << c;
    }
    outSilence = flags;
    return true;
}

} // namespace corvex
