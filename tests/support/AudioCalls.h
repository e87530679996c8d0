#pragma once

// Counts what a thread does while it is marked as an audio thread: calls to the C allocator
// (malloc, calloc, realloc, posix_memalign, aligned_alloc, free: operator new and delete go
// through them) and to pthread_mutex_lock. Only with glibc and without sanitizers, which bring
// allocators of their own; elsewhere kAudioCallsCounted is false and the counts stay 0.

#include <cstdlib>

namespace test {

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
constexpr bool kAudioCallsCounted = true;
#else
constexpr bool kAudioCallsCounted = false;
#endif

// Marks the calling thread as an audio thread while it lives.
class AudioPeriod {
public:
    AudioPeriod();
    ~AudioPeriod();
    AudioPeriod(const AudioPeriod&) = delete;
    AudioPeriod& operator=(const AudioPeriod&) = delete;
};

// Calls made on marked threads so far.
int AudioAllocations();
int AudioLocks();

} // namespace test
