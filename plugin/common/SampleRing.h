#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

namespace corvex {

// Samples from one producer thread (the audio thread) to one consumer thread. Neither side
// waits, locks or allocates: the producer only copies in, and when the consumer has fallen behind
// the samples that do not fit are dropped and counted, so that the consumer can tell the gap.
// The counters run modulo 2^32, which the capacity (at most 2^30) keeps unambiguous.
class CSampleRing {
public:
    // Room for at least iMinCapacity samples (rounded up to a power of two); allocates.
    explicit CSampleRing(int iMinCapacity)
    {
        std::uint32_t uSize = 1;
        while (uSize < static_cast<std::uint32_t>(std::clamp(iMinCapacity, 1, kMaxCapacity)))
            uSize *= 2;
        m_afSamples.assign(uSize, 0.0f);
        m_uMask = uSize - 1;
    }

    int Capacity() const { return static_cast<int>(m_uMask + 1); }

    // Producer: copies what fits of n samples; returns how many.
    int Write(const float* afSamples, int n)
    {
        const std::uint32_t uWritten = m_uWritten.load(std::memory_order_relaxed);
        const std::uint32_t uFree = m_uMask + 1 - (uWritten - m_uRead.load(std::memory_order_acquire));
        const std::uint32_t uCount = std::min(uFree, static_cast<std::uint32_t>(std::max(n, 0)));
        const std::uint32_t uStart = uWritten & m_uMask;
        const std::uint32_t uFirst = std::min(uCount, m_uMask + 1 - uStart);
        std::copy_n(afSamples, uFirst, m_afSamples.data() + uStart);
        std::copy_n(afSamples + uFirst, uCount - uFirst, m_afSamples.data());
        m_uWritten.store(uWritten + uCount, std::memory_order_release);
        if (static_cast<int>(uCount) < n)
            m_uDropped.store(m_uDropped.load(std::memory_order_relaxed) + (n - uCount), std::memory_order_relaxed);
        return static_cast<int>(uCount);
    }

    // Consumer: takes up to n samples, oldest first; returns how many.
    int Read(float* afSamples, int n)
    {
        const std::uint32_t uRead = m_uRead.load(std::memory_order_relaxed);
        const std::uint32_t uHeld = m_uWritten.load(std::memory_order_acquire) - uRead;
        const std::uint32_t uCount = std::min(uHeld, static_cast<std::uint32_t>(std::max(n, 0)));
        const std::uint32_t uStart = uRead & m_uMask;
        const std::uint32_t uFirst = std::min(uCount, m_uMask + 1 - uStart);
        std::copy_n(m_afSamples.data() + uStart, uFirst, afSamples);
        std::copy_n(m_afSamples.data(), uCount - uFirst, afSamples + uFirst);
        m_uRead.store(uRead + uCount, std::memory_order_release);
        return static_cast<int>(uCount);
    }

    // Consumer: samples dropped so far (modulo 2^32); a change means a gap in what was read.
    std::uint32_t Dropped() const { return m_uDropped.load(std::memory_order_relaxed); }

private:
    static constexpr int kMaxCapacity = 1 << 30;
    std::vector<float> m_afSamples;
    std::uint32_t m_uMask = 0;
    // Apart, so that each side writes its own cache line.
    alignas(64) std::atomic<std::uint32_t> m_uWritten{0};
    alignas(64) std::atomic<std::uint32_t> m_uRead{0};
    std::atomic<std::uint32_t> m_uDropped{0};
    static_assert(std::atomic<std::uint32_t>::is_always_lock_free, "the audio thread may not lock");
};

} // namespace corvex
