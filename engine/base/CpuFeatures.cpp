#include "base/CpuFeatures.h"

#if CORVEX_HAVE_AVX2_KERNELS
#include <cpuid.h>
#endif

namespace corvex::cpu {
namespace {

#if CORVEX_HAVE_AVX2_KERNELS
// CPUID.1:ECX and CPUID.7.0:EBX bits, and the XCR0 bits of the SSE and AVX register state.
constexpr unsigned kOsxsaveBit = 1u << 27;
constexpr unsigned kAvxBit = 1u << 28;
constexpr unsigned kAvx2Bit = 1u << 5;
constexpr unsigned kXcr0SseAvx = 0x6;

unsigned long long ReadXcr0()
{
    unsigned eax = 0, edx = 0;
    __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return (static_cast<unsigned long long>(edx) << 32) | eax;
}

Level Detect()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return Level::kBaseline;
    if ((ecx & kOsxsaveBit) == 0 || (ecx & kAvxBit) == 0)
        return Level::kBaseline;
    if ((ReadXcr0() & kXcr0SseAvx) != kXcr0SseAvx)
        return Level::kBaseline;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return Level::kBaseline;
    return (ebx & kAvx2Bit) != 0 ? Level::kAvx2 : Level::kBaseline;
}
#else
Level Detect()
{
    return Level::kBaseline;
}
#endif

// Detected when the module loads, so no query on the audio thread ever waits for an
// initialisation; anything running before that sees kBaseline, which every processor runs.
const Level g_supported = Detect();

} // namespace

std::atomic<int> detail::g_iActiveLevel{static_cast<int>(g_supported)};

Level Supported()
{
    return g_supported;
}

Level SetActive(Level level)
{
    const Level active = static_cast<int>(level) <= static_cast<int>(Supported()) ? level : Supported();
    detail::g_iActiveLevel.store(static_cast<int>(active), std::memory_order_relaxed);
    return active;
}

} // namespace corvex::cpu
