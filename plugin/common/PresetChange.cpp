#include "PresetChange.h"

#include <algorithm>
#include <cmath>

#include "ProcessorCore.h"
#include "base/ConsistencyCheck.h"
#include "cabinet/CabinetImpulse.h"

namespace corvex {

namespace {

// A smooth step from 0 to 1 over length samples (3t² − 2t³): no libm call, so every system
// fades to the same bits, and its slope is 0 at both ends, so neither end clicks.
float FadeIn(int position, int length)
{
    if (position >= length)
        return 1.0f;
    const float t = static_cast<float>(position) / static_cast<float>(length);
    return t * t * (3.0f - 2.0f * t);
}

} // namespace

void CPresetChange::Create(const double* pdRate, const float* pfTempo, int blockSize, int bufferCount)
{
    m_pdRate = pdRate;
    m_pfTempo = pfTempo;
    m_pOther = std::make_unique<CProcessAudio>();
    m_pOther->SetBlockSize(blockSize);
    m_pOther->SetSampleRate(pdRate);
    m_pOther->SetBufferCount(bufferCount);
    m_pOther->SetParamCount(kParamTableSize);
    m_pOther->SetTempo(pfTempo);
    CORVEX_CHECK(m_pOther->Init());
    for (ParamID id = 0; id < ParamID(kParamTableSize); ++id)
        m_afOutgoing[id] = IsParameter(id) ? kParamInfos[id].defaultValue : 0.0f;
    PointAt(*m_pOther, m_afOutgoing);
    Prepare(blockSize);
}

void CPresetChange::Prepare(int blockSize)
{
    m_pOther->GrowBlockSize(blockSize);
    m_pOther->RefreshSampleRate();
    const std::size_t capacity = static_cast<std::size_t>(m_pOther->BlockSize());
    for (std::vector<float>* buffer : {&m_afOldInL, &m_afOldInR, &m_afNewInL, &m_afNewInR, &m_afOldOutL, &m_afOldOutR})
        if (buffer->size() < capacity)
            buffer->assign(capacity, 0.0f);
    Reset();
}

void CPresetChange::Reset()
{
    Finish();
}

void CPresetChange::Finish()
{
    m_pOther->Reset();
    m_eStage = Stage::Idle;
}

void CPresetChange::Request(const float* values)
{
    std::copy(values, values + kPresetControls, m_afPending);
    m_bPending = true;
}

void CPresetChange::Settle(float* liveValues)
{
    if (m_bPending)
        std::copy(m_afPending, m_afPending + kPresetControls, liveValues + kFirstParam);
    m_bPending = false;
    if (m_eStage != Stage::Idle)
        Finish();
}

void CPresetChange::PointAt(CProcessAudio& graph, float* values)
{
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        graph.SetParamPointer(id, &values[id]);
}

void CPresetChange::Start(std::unique_ptr<CProcessAudio>& pLive, float* liveValues)
{
    // The live chain keeps sounding with the values it had; the fresh one takes the preset.
    std::copy(liveValues, liveValues + kParamTableSize, m_afOutgoing);
    PointAt(*pLive, m_afOutgoing);
    std::copy(m_afPending, m_afPending + kPresetControls, liveValues + kFirstParam);
    pLive.swap(m_pOther);
    PointAt(*pLive, liveValues);
    m_bPending = false;
    m_eStage = Stage::Crossfade;
    m_iFadeDone = 0;
    m_iFadeLength = std::max(1, static_cast<int>(std::lround(*m_pdRate * kFadeSeconds)));
}

int CPresetChange::Process(std::unique_ptr<CProcessAudio>& pLive, float* liveValues, const float* inL,
                           const float* inR, float* outL, float* outR, int n)
{
    if (m_bPending && m_eStage == Stage::Tail) {
        m_eStage = Stage::Clearing;
        m_iFadeDone = 0;
    }
    if (m_bPending && m_eStage == Stage::Idle)
        Start(pLive, liveValues);
    if (m_eStage == Stage::Idle)
        return pLive->ProcessGuarded(inL, inR, outL, outR, n);

    float* oldInL = m_afOldInL.data();
    float* oldInR = m_afOldInR.data();
    float* oldOutL = m_afOldOutL.data();
    float* oldOutR = m_afOldOutR.data();
    int result = 1;
    if (m_eStage == Stage::Crossfade) {
        // The inputs are faded before either chain writes, since out may be in.
        float* newInL = m_afNewInL.data();
        float* newInR = m_afNewInR.data();
        for (int i = 0; i < n; ++i) {
            const float gain = FadeIn(m_iFadeDone + i, m_iFadeLength);
            newInL[i] = inL[i] * gain;
            newInR[i] = inR[i] * gain;
            oldInL[i] = inL[i] * (1.0f - gain);
            oldInR[i] = inR[i] * (1.0f - gain);
        }
        result = m_pOther->ProcessGuarded(oldInL, oldInR, oldOutL, oldOutR, n) &&
                 pLive->ProcessGuarded(newInL, newInR, outL, outR, n);
        m_iFadeDone += n;
        if (m_iFadeDone >= m_iFadeLength) {
            m_eStage = Stage::Tail;
            m_iTailRun = 0;
            m_iTailQuiet = 0;
        }
    } else {
        std::fill_n(oldInL, n, 0.0f);
        std::fill_n(oldInR, n, 0.0f);
        result = m_pOther->ProcessGuarded(oldInL, oldInR, oldOutL, oldOutR, n) &&
                 pLive->ProcessGuarded(inL, inR, outL, outR, n);
        if (m_eStage == Stage::Clearing) {
            for (int i = 0; i < n; ++i) {
                const float gain = 1.0f - FadeIn(m_iFadeDone + i, m_iFadeLength);
                oldOutL[i] *= gain;
                oldOutR[i] *= gain;
            }
            m_iFadeDone += n;
        }
    }

    float peak = 0.0f;
    for (int i = 0; i < n; ++i) {
        peak = std::max(peak, std::max(std::fabs(oldOutL[i]), std::fabs(oldOutR[i])));
        // Each chain's limiter keeps it within full scale; the two together may not be.
        outL[i] = std::clamp(outL[i] + oldOutL[i], -1.0f, 1.0f);
        outR[i] = std::clamp(outR[i] + oldOutR[i], -1.0f, 1.0f);
    }

    if (m_eStage == Stage::Clearing && m_iFadeDone >= m_iFadeLength) {
        Finish();
    } else if (m_eStage == Stage::Tail) {
        const double rate = *m_pdRate;
        const double beat = 60.0 / std::clamp<double>(*m_pfTempo, CProcessorCore::kMinTempo, CProcessorCore::kMaxTempo);
        const std::int64_t quietEnough = std::llround(rate * std::max(kMinQuietSeconds, kQuietBeats * beat));
        const std::int64_t longest = CProcessorCore::TailSamples(rate, *m_pfTempo) + m_pOther->ImpulseTailSamples();
        m_iTailRun += n;
        m_iTailQuiet = peak < kQuietLevel ? m_iTailQuiet + n : 0;
        if (m_iTailQuiet >= quietEnough || m_iTailRun >= longest)
            Finish();
    }
    return result;
}

CCabinetImpulse* CPresetChange::ExchangeImpulse(CProcessAudio& live, CCabinetImpulse* pImpulse)
{
    // A graph without a cabinet takes nothing.
    if (!live.Cabinet())
        return pImpulse;
    CCabinetImpulse* pSpare = pImpulse ? pImpulse->Spare() : nullptr;
    if (pImpulse) {
        bool held = false;
        for (const Held& h : m_aHeld)
            held = held || h.pOwner == pImpulse;
        for (Held& h : m_aHeld)
            if (!held && !h.pOwner) {
                h = {pImpulse, pSpare ? 2 : 1};
                held = true;
            }
        CORVEX_CHECK(held);
    }
    Release(live.ExchangeImpulse(pImpulse));
    Release(m_pOther->ExchangeImpulse(pSpare));
    // An idle chain takes it at once: it will start fresh anyway.
    if (m_eStage == Stage::Idle) {
        m_pOther->Reset();
        Release(m_pOther->TakeRetiredImpulse());
    }
    return m_iReturned > 0 ? m_apReturned[--m_iReturned] : nullptr;
}

CCabinetImpulse* CPresetChange::TakeRetiredImpulse(CProcessAudio& live)
{
    Release(live.TakeRetiredImpulse());
    Release(m_pOther->TakeRetiredImpulse());
    return m_iReturned > 0 ? m_apReturned[--m_iReturned] : nullptr;
}

void CPresetChange::Release(CCabinetImpulse* pImpulse)
{
    if (!pImpulse)
        return;
    CCabinetImpulse* pOwner = pImpulse->Owner();
    for (Held& h : m_aHeld) {
        if (h.pOwner != pOwner)
            continue;
        if (--h.iUsers > 0)
            return;
        h = {};
        break;
    }
    if (CORVEX_CHECK(m_iReturned < kHeldMax))
        m_apReturned[m_iReturned++] = pOwner;
}

void CPresetChange::ReleaseImpulses(CProcessAudio& live, std::vector<CCabinetImpulse*>& owners)
{
    for (CProcessAudio* graph : {&live, m_pOther.get()}) {
        if (!graph->Cabinet())
            continue;
        Release(graph->ExchangeImpulse(nullptr));
        graph->Reset();
        Release(graph->TakeRetiredImpulse());
    }
    while (m_iReturned > 0)
        owners.push_back(m_apReturned[--m_iReturned]);
}

} // namespace corvex
