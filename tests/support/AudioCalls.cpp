#include "AudioCalls.h"

#include <atomic>
#include <cerrno>

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#include <dlfcn.h>
#include <pthread.h>
#endif

namespace {

thread_local bool t_bInAudioPeriod = false;
std::atomic<int> g_iAudioAllocations{0};
std::atomic<int> g_iAudioLocks{0};

} // namespace

namespace test {

AudioPeriod::AudioPeriod() { t_bInAudioPeriod = true; }
AudioPeriod::~AudioPeriod() { t_bInAudioPeriod = false; }
int AudioAllocations() { return g_iAudioAllocations.load(); }
int AudioLocks() { return g_iAudioLocks.load(); }

} // namespace test

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// glibc's own entry points, under the names it exports them by besides the public ones.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t size)
{
    if (t_bInAudioPeriod)
        ++g_iAudioAllocations;
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size)
{
    if (t_bInAudioPeriod)
        ++g_iAudioAllocations;
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size)
{
    if (t_bInAudioPeriod)
        ++g_iAudioAllocations;
    return __libc_realloc(p, size);
}
int posix_memalign(void** p, size_t alignment, size_t size)
{
    if (t_bInAudioPeriod)
        ++g_iAudioAllocations;
    *p = __libc_memalign(alignment, size);
    return *p ? 0 : ENOMEM;
}
void* aligned_alloc(size_t alignment, size_t size)
{
    if (t_bInAudioPeriod)
        ++g_iAudioAllocations;
    return __libc_memalign(alignment, size);
}
void free(void* p)
{
    if (t_bInAudioPeriod && p)
        ++g_iAudioAllocations;
    __libc_free(p);
}
int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    using Lock = int (*)(pthread_mutex_t*);
    static Lock real = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (t_bInAudioPeriod)
        ++g_iAudioLocks;
    return real(mutex);
}
}
#endif
