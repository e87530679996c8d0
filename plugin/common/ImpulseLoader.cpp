#include "ImpulseLoader.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <utility>

#include "ImpulseFile.h"
#include "ImpulsePreparation.h"
#include "cabinet/CabinetImpulse.h"

namespace corvex {

namespace {

// Stands for the built-in cabinet in the inbox, where nullptr means empty; never dereferenced.
alignas(alignof(std::max_align_t)) char g_builtInMark;
CCabinetImpulse* BuiltInMark() { return reinterpret_cast<CCabinetImpulse*>(&g_builtInMark); }

void Free(CCabinetImpulse* pImpulse)
{
    if (pImpulse != BuiltInMark())
        delete pImpulse;
}

// How often the worker looks for impulses coming back: soon after a hand-over (a crossfade is
// tens of milliseconds), less and less often while the audio thread does not run.
constexpr std::chrono::milliseconds kFirstPoll{5};
constexpr std::chrono::milliseconds kLongestPoll{500};

} // namespace

CImpulseLoader::~CImpulseLoader()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    if (CCabinetImpulse* pWaiting = m_pInbox.exchange(nullptr))
        Free(pWaiting);
    delete m_pOutbox.exchange(nullptr);
    for (int i = 0; i < m_iParked; ++i)
        delete m_apParked[i];
}

bool CImpulseLoader::LoadFile(const std::string& path, std::string& error)
{
    auto source = std::make_shared<ImpulseSource>();
    if (!ReadImpulseFile(path, *source, error))
        return false;
    Load(std::move(source));
    return true;
}

void CImpulseLoader::Load(std::shared_ptr<const ImpulseSource> source)
{
    Request(std::move(source), true, 0.0);
}

std::shared_ptr<const ImpulseSource> CImpulseLoader::Current() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_pCurrent;
}

void CImpulseLoader::SetSampleRate(double rate)
{
    Request(nullptr, false, rate);
}

void CImpulseLoader::Request(std::shared_ptr<const ImpulseSource> source, bool bSourceChanged, double rate)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (bSourceChanged) {
            m_pCurrent = std::move(source);
            m_dCurrentSeconds.store(m_pCurrent && m_pCurrent->sampleRate > 0.0
                                        ? m_pCurrent->frames / m_pCurrent->sampleRate
                                        : 0.0,
                                    std::memory_order_relaxed);
        } else {
            // A rate change matters only to an IR.
            if (rate == m_dSampleRate)
                return;
            m_dSampleRate = rate;
            if (!m_pCurrent)
                return;
        }
        ++m_iRequested;
        if (!m_worker.joinable())
            m_worker = std::thread(&CImpulseLoader::Work, this);
    }
    m_wake.notify_all();
}

bool CImpulseLoader::WaitIdle(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return m_iHandedOver == m_iRequested; });
}

bool CImpulseLoader::MoreToComeBack() const
{
    // The reverse of the order in which Service writes them: a count read as 0 comes with the
    // outbox and inbox it left.
    return m_iComingBack.load(std::memory_order_acquire) > 0 || m_pOutbox.load(std::memory_order_acquire) ||
           m_pInbox.load(std::memory_order_acquire);
}

void CImpulseLoader::FreeReturned()
{
    delete m_pOutbox.exchange(nullptr, std::memory_order_acq_rel);
}

void CImpulseLoader::Work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    std::chrono::milliseconds poll = kFirstPoll;
    while (!m_bStop) {
        if (m_iHandedOver != m_iRequested) {
            const std::uint64_t request = m_iRequested;
            const std::shared_ptr<const ImpulseSource> source = m_pCurrent;
            const double rate = m_dSampleRate;
            lock.unlock();
            FreeReturned();
            // Without the memory for it, the built-in cabinet plays.
            CCabinetImpulse* pImpulse = BuiltInMark();
            if (source)
                if (std::unique_ptr<CCabinetImpulse> pPrepared = PrepareImpulse(*source, rate))
                    pImpulse = pPrepared.release();
            // One the audio thread has not taken yet is out of date.
            if (CCabinetImpulse* pStale = m_pInbox.exchange(pImpulse, std::memory_order_acq_rel))
                Free(pStale);
            lock.lock();
            m_iHandedOver = request;
            m_idle.notify_all();
            poll = kFirstPoll;
            continue;
        }
        lock.unlock();
        FreeReturned();
        const bool bWatch = MoreToComeBack();
        lock.lock();
        if (m_bStop || m_iHandedOver != m_iRequested)
            continue;
        if (bWatch) {
            m_wake.wait_for(lock, poll);
            poll = std::min(poll * 2, kLongestPoll);
        } else {
            m_wake.wait(lock);
        }
    }
}

void CImpulseLoader::Park(CCabinetImpulse* pImpulse) noexcept
{
    if (!pImpulse)
        return;
    m_apParked[m_iParked++] = pImpulse;
}

void CImpulseLoader::Exchange(CProcessorCore& core) noexcept
{
    // Whatever comes back below always finds room: at most two per call.
    if (m_iParked <= kParkedMax - 2) {
        // Until the count is right again at the end, the worker must keep watching: what the
        // exchange hands back is not counted yet.
        if (m_pInbox.load(std::memory_order_relaxed))
            m_iComingBack.store(1, std::memory_order_release);
        if (CCabinetImpulse* pDelivered = m_pInbox.exchange(nullptr, std::memory_order_acq_rel)) {
            CCabinetImpulse* pInstall = pDelivered == BuiltInMark() ? nullptr : pDelivered;
            if (pInstall && pInstall->SampleRate() != core.SampleRate()) {
                // Prepared before a rate change; the one for the new rate follows.
                Park(pInstall);
            } else if (pInstall != m_pInstalled) {
                CCabinetImpulse* pReturned = core.ExchangeImpulse(pInstall);
                if (pInstall && pReturned == pInstall) {
                    // A graph without a cabinet takes nothing.
                    Park(pInstall);
                } else {
                    m_pInstalled = pInstall;
                    m_iHeldByCore += (pInstall ? 1 : 0) - (pReturned ? 1 : 0);
                    Park(pReturned);
                }
            }
        }
        if (CCabinetImpulse* pRetired = core.TakeRetiredImpulse()) {
            --m_iHeldByCore;
            if (pRetired == m_pInstalled)
                m_pInstalled = nullptr;
            Park(pRetired);
        }
    }
    // One at a time through the single slot.
    CCabinetImpulse* pEmpty = nullptr;
    if (m_iParked > 0 && m_pOutbox.compare_exchange_strong(pEmpty, m_apParked[m_iParked - 1], std::memory_order_acq_rel))
        m_apParked[--m_iParked] = nullptr;
    m_iComingBack.store(m_iParked + m_iHeldByCore - (m_pInstalled ? 1 : 0), std::memory_order_release);
}

} // namespace corvex
