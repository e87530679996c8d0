#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ImpulseSource.h"
#include "ProcessorCore.h"

namespace corvex {

// Loads user cabinet IRs for a CProcessorCore it sits beside (the VST 3 processor, corvex and
// corvex-render; the LV2 plug-in uses the host's worker instead). Reading happens on the caller's
// thread; resampling and building the engine's impulse on a worker thread of its own, started at
// the first request; freeing there too. The audio thread only swaps pointers in Service.
//
// Between the worker and the audio thread there are two single-slot mailboxes, each an atomic
// pointer that one side fills and the other empties with an exchange: the inbox carries the next
// impulse to install (a newer one replaces one not yet taken, which the worker then frees), the
// outbox the impulses the core hands back. Returned impulses wait in a small array on the audio
// side while the outbox is full; the worker empties the outbox while anything is still to come
// back, polling with a growing interval, since the audio thread may not signal it.
//
// The core owns the impulses installed in it. Destroy the loader only once Service is no longer
// called; the core may outlive it.
class CImpulseLoader {
public:
    CImpulseLoader() = default;
    ~CImpulseLoader();
    CImpulseLoader(const CImpulseLoader&) = delete;
    CImpulseLoader& operator=(const CImpulseLoader&) = delete;

    // Any non-audio thread: ReadImpulseFile on the caller's thread; on success the source becomes
    // current at once (for state saving) and the worker prepares it; false + error otherwise,
    // changing nothing.
    bool LoadFile(const std::string& path, std::string& error);
    // From a state; nullptr = the built-in cabinet.
    void Load(std::shared_ptr<const ImpulseSource> source);
    // Back to the built-in cabinet.
    void Clear() { Load(nullptr); }
    // What a state save writes.
    std::shared_ptr<const ImpulseSource> Current() const;
    // The current source's length in seconds, 0 for the built-in cabinet. Lock-free, for the
    // tail a host may ask for on any thread.
    double CurrentSeconds() const { return m_dCurrentSeconds.load(std::memory_order_relaxed); }
    // The core's rate, to be given at every change: re-prepares the current source. An impulse
    // at another rate than the core's is never installed.
    void SetSampleRate(double rate);
    // Tests and the renderer: true once the latest request is prepared and handed over, so that
    // the next Service installs it (or already has); false after timeoutMs.
    bool WaitIdle(int timeoutMs);
    // Audio thread, at the start of each block: installs what the worker prepared into the core
    // and parks the impulses the core hands back for the worker to free. Never allocates, locks
    // or frees.
    void Service(CProcessorCore& core) noexcept
    {
        // The built-in cabinet with nothing on its way: nothing can come back, and the count
        // already says so, since only this thread writes it.
        if (m_iParked != 0 || m_iHeldByCore != 0 || m_pInbox.load(std::memory_order_relaxed))
            Exchange(core);
    }

private:
    // Service's work when there is some.
    void Exchange(CProcessorCore& core) noexcept;
    void Request(std::shared_ptr<const ImpulseSource> source, bool bSourceChanged, double rate);
    void Work();
    // Worker: frees what the outbox holds.
    void FreeReturned();
    // Audio thread: an impulse out of the core's use, to be freed.
    void Park(CCabinetImpulse* pImpulse) noexcept;
    bool MoreToComeBack() const;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::shared_ptr<const ImpulseSource> m_pCurrent;
    std::atomic<double> m_dCurrentSeconds{0.0};
    double m_dSampleRate = CProcessorCore::kInitialSampleRate;
    std::uint64_t m_iRequested = 0; // requests made
    std::uint64_t m_iHandedOver = 0; // requests whose result the inbox has had
    bool m_bStop = false;
    std::thread m_worker;

    // Worker → audio thread: the impulse to install next, BuiltInMark() for the built-in cabinet.
    std::atomic<CCabinetImpulse*> m_pInbox{nullptr};
    // Audio thread → worker: an impulse the core no longer uses.
    std::atomic<CCabinetImpulse*> m_pOutbox{nullptr};
    // Impulses the core holds besides the installed one, and those parked: the worker keeps
    // emptying the outbox while this is above 0. Written by the audio thread.
    std::atomic<int> m_iComingBack{0};

    // Audio thread only.
    static constexpr int kParkedMax = 8;
    CCabinetImpulse* m_apParked[kParkedMax] = {};
    int m_iParked = 0;
    int m_iHeldByCore = 0; // installed or fading out, not yet handed back
    CCabinetImpulse* m_pInstalled = nullptr;
};

} // namespace corvex
