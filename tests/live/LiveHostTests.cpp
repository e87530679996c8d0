// The host's real-time path in-process: the audio thread processes periods while the
// user-interface thread edits and reads meters. The audio thread must not allocate or lock.

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "LiveHost.h"
#include "RenderTestSupport.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

// Sanitizers bring allocators of their own; the counting below replaces glibc's only without them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CORVEX_COUNT_AUDIO_CALLS 0
#else
#define CORVEX_COUNT_AUDIO_CALLS 1
#endif

namespace {

// Set on the test's audio thread around each period.
thread_local bool t_bInAudioPeriod = false;
std::atomic<int> g_iAudioAllocations{0};
std::atomic<int> g_iAudioLocks{0};

} // namespace

#if CORVEX_COUNT_AUDIO_CALLS
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

namespace {

using namespace corvex::live;

constexpr double kRate = 48000.0;
constexpr int kPeriod = 64;

std::unique_ptr<CLiveHost> LoadHost()
{
    std::string error;
    auto host = CLiveHost::Load(CORVEX_BUNDLE_PATH, error);
    EXPECT_TRUE(host) << error;
    return host;
}

TEST(LiveHost, AudioThreadNeitherAllocatesNorLocksWhileTheEditorEdits)
{
    auto host = LoadHost();
    ASSERT_TRUE(host);
    std::string error;
    ASSERT_TRUE(host->Start(kRate, 8192, 120.0, error)) << error;

    const std::vector<float> phrase = render_test::PluckedTestSignal(static_cast<int>(kRate), 2.0);
    constexpr int kPeriods = 1500;
    std::atomic<bool> done{false};
    std::atomic<int> badOutput{0};
    std::thread audio([&] {
        std::vector<float> inL(kPeriod), inR(kPeriod, 0.0f), outL(kPeriod), outR(kPeriod);
        for (int p = 0; p < kPeriods; ++p) {
            for (int i = 0; i < kPeriod; ++i)
                inL[static_cast<size_t>(i)] = phrase[static_cast<size_t>(p * kPeriod + i) % phrase.size()];
            t_bInAudioPeriod = true;
            host->ProcessPeriod(inL.data(), inR.data(), outL.data(), outR.data(), kPeriod, p % 3 == 0 ? 97.0 : 0.0);
            t_bInAudioPeriod = false;
            for (int i = 0; i < kPeriod; ++i)
                if (!std::isfinite(outL[static_cast<size_t>(i)]) || std::fabs(outL[static_cast<size_t>(i)]) > 1.0f)
                    ++badOutput;
        }
        done = true;
    });

    // The user-interface thread: knob turns through the controller's component handler, as the
    // editor sends them, and the meters taken in.
    std::minstd_rand random(3);
    double lastSent[20] = {};
    bool sent[20] = {};
    int edits = 0;
    while (!done) {
        const Steinberg::Vst::ParamID id = 1 + random() % 12;
        const double value = (random() % 1000) / 999.0;
        host->Controller()->setParamNormalized(id, value);
        host->EditHandler()->performEdit(id, value);
        lastSent[id] = value;
        sent[id] = true;
        ++edits;
        host->Dispatch();
        std::this_thread::yield();
    }
    audio.join();
    // More periods take the edits still queued (a flood of them can outrun the queue).
    std::vector<float> silence(kPeriod, 0.0f), out(kPeriod);
    int extraPeriods = 0;
    do {
        host->Dispatch();
        host->ProcessPeriod(silence.data(), silence.data(), out.data(), out.data(), kPeriod, 0.0);
        ++extraPeriods;
    } while (host->EditsWaiting() > 0);
    host->Dispatch();

    EXPECT_EQ(badOutput.load(), 0);
#if CORVEX_COUNT_AUDIO_CALLS
    EXPECT_EQ(g_iAudioAllocations.load(), 0);
    EXPECT_EQ(g_iAudioLocks.load(), 0);
#endif
    EXPECT_GT(edits, 10);
    EXPECT_GT(host->EditsDelivered(), 0u);
    EXPECT_EQ(host->PeriodsProcessed(), static_cast<std::uint64_t>(kPeriods + extraPeriods));
    EXPECT_EQ(host->FailedPeriods(), 0u);

    // Every parameter ends at the last value the editor sent.
    std::vector<unsigned char> state;
    ASSERT_TRUE(host->GetState(state));
    ASSERT_EQ(state.size(), 80u);
    for (int id = 1; id <= 12; ++id) {
        if (!sent[id])
            continue;
        float value = 0.0f;
        std::memcpy(&value, &state[static_cast<size_t>(id) * 4], 4);
        EXPECT_EQ(value, static_cast<float>(lastSent[id])) << id;
    }
    // The meters came back to the controller.
    EXPECT_GT(host->Controller()->getParamNormalized(13) + host->Indicator(13), 0.0);
}

TEST(LiveHost, TransportTempoIsUsedOnlyWhenValid)
{
    auto host = LoadHost();
    ASSERT_TRUE(host);
    std::string error;
    ASSERT_TRUE(host->Start(kRate, kPeriod, 100.0, error)) << error;
    std::vector<float> in(kPeriod, 0.0f), out(kPeriod);
    host->ProcessPeriod(in.data(), in.data(), out.data(), out.data(), kPeriod, 0.0);
    EXPECT_EQ(host->TempoInUse(), 100.0);
    host->ProcessPeriod(in.data(), in.data(), out.data(), out.data(), kPeriod, 140.0);
    EXPECT_EQ(host->TempoInUse(), 140.0);
    host->ProcessPeriod(in.data(), in.data(), out.data(), out.data(), kPeriod, std::nan(""));
    EXPECT_EQ(host->TempoInUse(), 100.0);
    host->ProcessPeriod(in.data(), in.data(), out.data(), out.data(), kPeriod, 5000.0);
    EXPECT_EQ(host->TempoInUse(), 100.0);
}

TEST(LiveHost, APeriodLongerThanAnnouncedIsProcessedInPieces)
{
    auto host = LoadHost();
    ASSERT_TRUE(host);
    std::string error;
    ASSERT_TRUE(host->Start(kRate, 64, 120.0, error)) << error;
    const std::vector<float> phrase = render_test::PluckedTestSignal(static_cast<int>(kRate), 0.1);
    std::vector<float> out(phrase.size(), -9.0f), outR(phrase.size());
    host->ProcessPeriod(phrase.data(), phrase.data(), out.data(), outR.data(), static_cast<int>(phrase.size()), 0.0);
    for (float v : out)
        ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 1.0f);
    EXPECT_EQ(host->FailedPeriods(), 0u);
}

} // namespace
