#pragma once

#include <atomic>
#include <cstddef>

namespace corvex::live {

// A single-producer, single-consumer queue of fixed capacity without locks or allocation after
// construction: one thread pushes, one other thread pops. Each side owns one index and only
// reads the other's, so a push or pop is a few loads and one release store.
template <typename T, std::size_t kCapacity>
class CSpscRing {
    static_assert(kCapacity >= 2 && (kCapacity & (kCapacity - 1)) == 0, "capacity: a power of two");

public:
    // False (and nothing queued) when full: the producer decides what a full queue means.
    bool Push(const T& item)
    {
        const std::size_t write = m_write.load(std::memory_order_relaxed);
        if (write - m_read.load(std::memory_order_acquire) >= kCapacity)
            return false;
        m_aItems[write & (kCapacity - 1)] = item;
        m_write.store(write + 1, std::memory_order_release);
        return true;
    }

    bool Pop(T& item)
    {
        const std::size_t read = m_read.load(std::memory_order_relaxed);
        if (read == m_write.load(std::memory_order_acquire))
            return false;
        item = m_aItems[read & (kCapacity - 1)];
        m_read.store(read + 1, std::memory_order_release);
        return true;
    }

private:
    T m_aItems[kCapacity] = {};
    // On separate cache lines, so the two threads do not invalidate each other's index.
    alignas(64) std::atomic<std::size_t> m_write{0};
    alignas(64) std::atomic<std::size_t> m_read{0};
};

} // namespace corvex::live
