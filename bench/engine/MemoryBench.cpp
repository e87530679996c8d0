#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "TestEngine.h"

namespace corvex {
namespace {

// Resident set size of this process in kB, from /proc/self/status; -1 where unavailable.
long ResidentKb()
{
    FILE* pFile = std::fopen("/proc/self/status", "r");
    if (!pFile)
        return -1;
    char acLine[256];
    long lKb = -1;
    while (std::fgets(acLine, sizeof acLine, pFile)) {
        if (std::strncmp(acLine, "VmRSS:", 6) == 0) {
            std::sscanf(acLine + 6, "%ld", &lKb);
            break;
        }
    }
    std::fclose(pFile);
    return lKb;
}

double EngineResidentMb()
{
    // Pages freed by earlier engines go back to the system first, so that the figure counts
    // what this engine makes resident rather than what the heap already held.
    malloc_trim(0);
    const long lBefore = ResidentKb();
    auto pEngine = std::make_unique<test::TestEngine>();
    const long lAfter = ResidentKb();
    benchmark::DoNotOptimize(pEngine.get());
    return (lBefore < 0 || lAfter < 0) ? -1.0 : static_cast<double>(lAfter - lBefore) / 1024.0;
}

constexpr const char* kResultFdVariable = "CORVEX_ENGINE_RSS_FD";

// The first engine of a fresh process: this benchmark binary run again with only this
// benchmark, reporting through a pipe.
double FreshProcessEngineResidentMb()
{
    int aiPipe[2];
    if (pipe(aiPipe) != 0)
        return -1.0;
    const pid_t pid = fork();
    if (pid == 0) {
        close(aiPipe[0]);
        const int iNull = open("/dev/null", O_WRONLY);
        dup2(iNull, STDOUT_FILENO);
        dup2(iNull, STDERR_FILENO);
        setenv(kResultFdVariable, std::to_string(aiPipe[1]).c_str(), 1);
        execl("/proc/self/exe", "corvex_engine_bench", "--benchmark_filter=^BM_EngineResidentMemory/",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(aiPipe[1]);
    double dMb = -1.0;
    if (pid < 0 || read(aiPipe[0], &dMb, sizeof dMb) != static_cast<ssize_t>(sizeof dMb))
        dMb = -1.0;
    close(aiPipe[0]);
    if (pid > 0)
        waitpid(pid, nullptr, 0);
    return dMb;
}

// Resident memory a whole engine adds at 44.1 kHz once initialised and reset: as the first
// engine of a fresh process, and in this process after other engines have come and gone (a
// host opening and closing instances), where the allocator may reuse heap memory.
void BM_EngineResidentMemory(benchmark::State& state)
{
    if (const char* pcFd = std::getenv(kResultFdVariable)) {
        const double dMb = EngineResidentMb();
        const ssize_t written = write(std::atoi(pcFd), &dMb, sizeof dMb);
        for (auto _ : state)
            benchmark::DoNotOptimize(written);
        return;
    }
    double dFresh = 0.0, dReused = 0.0;
    for (auto _ : state) {
        dFresh = FreshProcessEngineResidentMb();
        EngineResidentMb();
        dReused = EngineResidentMb();
    }
    state.counters["fresh_process_MB"] = dFresh;
    state.counters["after_other_engines_MB"] = dReused;
}
BENCHMARK(BM_EngineResidentMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace corvex
