#pragma once

// Instruction-set dispatch for the engine's vector kernels, the same on every system: each
// kernel is compiled once per level and picks its version at every call from Active(), a
// relaxed load. (Linux's ifunc-based target_clones has no counterpart in Windows DLLs.)

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define CORVEX_HAVE_AVX2_KERNELS 1
// A kernel's AVX2 version; its body comes from an always-inline function, which the compiler
// then vectorises for the wider registers.
#define CORVEX_TARGET_AVX2 __attribute__((target("avx2")))
#define CORVEX_KERNEL_BODY inline __attribute__((always_inline))
#else
#define CORVEX_HAVE_AVX2_KERNELS 0
#define CORVEX_KERNEL_BODY inline
#endif

#include <atomic>

namespace corvex::cpu {

// Instruction-set levels the engine has kernels for, lowest first.
enum class Level { kBaseline = 0, kAvx2 = 1 };

// The widest level both the processor and the operating system support (the system must save
// the 256-bit registers across context switches); kBaseline in builds without wider kernels.
Level Supported();

namespace detail {
extern std::atomic<int> g_iActiveLevel;
}

// The level the kernels run at: Supported() unless lowered with SetActive.
inline Level Active()
{
    return static_cast<Level>(detail::g_iActiveLevel.load(std::memory_order_relaxed));
}

// Runs the kernels at `level`, or at Supported() where that is lower, and returns the level
// now active. For tests and benchmarks comparing the versions; not while the engine processes.
Level SetActive(Level level);

} // namespace corvex::cpu
