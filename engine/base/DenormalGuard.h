#pragma once

// Scoped flush-to-zero / denormals-are-zero mode for the current thread. Recursive filters and
// decaying delay lines otherwise slow down by orders of magnitude once their state decays
// into the subnormal range. The previous mode is restored on destruction.

#if defined(__SSE__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 1)
#include <xmmintrin.h>
#define CORVEX_DENORMALS_SSE 1
#elif defined(__aarch64__) || defined(_M_ARM64)
#define CORVEX_DENORMALS_ARM64 1
#endif

#include <cstdint>

namespace corvex {

class ScopedNoDenormals {
public:
    ScopedNoDenormals() noexcept
    {
#if defined(CORVEX_DENORMALS_SSE)
        m_uSaved = _mm_getcsr();
        _mm_setcsr(m_uSaved | kFlushToZero | kDenormalsAreZero);
#elif defined(CORVEX_DENORMALS_ARM64)
        asm volatile("mrs %0, fpcr" : "=r"(m_uSaved));
        asm volatile("msr fpcr, %0" : : "r"(m_uSaved | kFlushToZeroArm));
#endif
    }

    ~ScopedNoDenormals()
    {
#if defined(CORVEX_DENORMALS_SSE)
        _mm_setcsr(static_cast<unsigned>(m_uSaved));
#elif defined(CORVEX_DENORMALS_ARM64)
        asm volatile("msr fpcr, %0" : : "r"(m_uSaved));
#endif
    }

    ScopedNoDenormals(const ScopedNoDenormals&) = delete;
    ScopedNoDenormals& operator=(const ScopedNoDenormals&) = delete;

private:
#if defined(CORVEX_DENORMALS_SSE)
    static constexpr unsigned kFlushToZero = 0x8000;
    static constexpr unsigned kDenormalsAreZero = 0x0040;
#elif defined(CORVEX_DENORMALS_ARM64)
    static constexpr std::uint64_t kFlushToZeroArm = 1ull << 24;
#endif
    std::uint64_t m_uSaved = 0;
};

} // namespace corvex
