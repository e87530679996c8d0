#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/Parameters.h"
#include "graph/ProcessAudio.h"

namespace corvex {

// A preset change without a click and with the trails ringing on: a second chain beside the
// processor core's live one. At a change the live chain, with the parameters it had, becomes the
// outgoing one, and the second chain, fresh, takes the new preset and becomes the live one. Over
// kFadeSeconds the input moves from the outgoing chain to the new one (each chain's input is
// faded, so that each sounds as it would); then the outgoing chain runs on silence, its delay
// and reverb ringing out beside the new sound, until its output has been quiet for two beats or
// the longest tail has passed, when it stops and is made fresh for the next change. A change
// asked for while the last one still rings first fades that tail out over kFadeSeconds.
//
// Cabinet IRs: each impulse comes with a spare (CCabinetImpulse::AttachSpare); one chain plays
// the impulse, the other its spare, so the IR stays through every change. An impulse goes back
// to its owner only once neither chain uses it or its spare.
//
// Audio thread: everything but Create and Prepare; nothing allocates, locks or frees.
class CPresetChange {
public:
    static constexpr float kFadeSeconds = 0.02f;
    static constexpr int kPresetControls = kReverbLevel; // parameters 1 to 12
    // The outgoing chain's output below this (-120 dBFS) counts as quiet.
    static constexpr float kQuietLevel = 1.0e-6f;
    static constexpr double kQuietBeats = 2.0;
    static constexpr double kMinQuietSeconds = 0.25;

    // The second chain, set up as the live one is: at rate *pdRate and tempo *pfTempo, with
    // blocks of blockSize. Throws std::bad_alloc when its buffers cannot be had.
    void Create(const double* pdRate, const float* pfTempo, int blockSize, int bufferCount);
    // Not processing: grows the chain's and the fades' buffers to blockSize, re-derives the
    // rate's sizes and clears everything (a change under way is dropped).
    void Prepare(int blockSize);
    // Drops a change under way, the outgoing chain made fresh.
    void Reset();

    // Asks for a change to the controls `values` (parameters 1 to 12); the last asked wins.
    void Request(const float* values);
    bool Pending() const { return m_bPending; }
    // A parameter set alone after a change was asked for keeps its value through the change.
    void KeepInPending(ParamID id, float value)
    {
        if (m_bPending && id >= kFirstParam && id <= kReverbLevel)
            m_afPending[id - kFirstParam] = value;
    }
    const float* PendingValues() const { return m_afPending; }
    // True while the outgoing chain sounds or a change waits: the core then runs every slice
    // through Process.
    bool Busy() const { return m_eStage != Stage::Idle || m_bPending; }
    // Applies a pending change's values to `liveValues` at once, without a fade (bypass,
    // activation), and drops whatever rings.
    void Settle(float* liveValues);

    // One slice of n samples (at most the block size) through both chains: starts a pending
    // change when it can (swapping pLive with the second chain and pointing it at liveValues).
    // in and out may alias. 0 when a chain fails.
    int Process(std::unique_ptr<CProcessAudio>& pLive, float* liveValues, const float* inL, const float* inR,
                float* outL, float* outR, int n);

    // The impulse for both chains (see above); what comes back as ExchangeImpulse and
    // TakeRetired of CProcessAudio do.
    CCabinetImpulse* ExchangeImpulse(CProcessAudio& live, CCabinetImpulse* pImpulse);
    CCabinetImpulse* TakeRetiredImpulse(CProcessAudio& live);
    // Not processing: hands back, once each, every impulse the chains hold, so that the owner
    // frees them (the chains would free spares they do not own).
    void ReleaseImpulses(CProcessAudio& live, std::vector<CCabinetImpulse*>& owners);

private:
    enum class Stage { Idle, Crossfade, Tail, Clearing };

    void Start(std::unique_ptr<CProcessAudio>& pLive, float* liveValues);
    void Finish();
    // An impulse, or a spare, that a chain no longer uses.
    void Release(CCabinetImpulse* pImpulse);
    static void PointAt(CProcessAudio& graph, float* values);

    std::unique_ptr<CProcessAudio> m_pOther; // idle, or the outgoing chain
    float m_afOutgoing[kParamTableSize] = {};
    const double* m_pdRate = nullptr;
    const float* m_pfTempo = nullptr;

    Stage m_eStage = Stage::Idle;
    int m_iFadeLength = 1;
    int m_iFadeDone = 0;
    std::int64_t m_iTailRun = 0;
    std::int64_t m_iTailQuiet = 0;
    bool m_bPending = false;
    float m_afPending[kPresetControls] = {};

    // The faded inputs of the two chains and the outgoing chain's output.
    std::vector<float> m_afOldInL, m_afOldInR, m_afNewInL, m_afNewInR, m_afOldOutL, m_afOldOutR;

    // Impulses (owners) that a chain still plays, themselves or by their spare, and how many of
    // the two; and those free to go back.
    static constexpr int kHeldMax = 8;
    struct Held {
        CCabinetImpulse* pOwner = nullptr;
        int iUsers = 0;
    };
    Held m_aHeld[kHeldMax];
    CCabinetImpulse* m_apReturned[kHeldMax] = {};
    int m_iReturned = 0;
};

} // namespace corvex
