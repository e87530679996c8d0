// Real-time factor and peak memory of corvex-render on a 60 s stereo file, measured on the
// child process as a user would run it.

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 60;

const std::filesystem::path& ScratchDir()
{
    static const std::filesystem::path dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvex-render-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            std::abort();
        std::atexit([] { std::filesystem::remove_all(ScratchDir()); });
        return std::filesystem::path(pattern);
    }();
    return dir;
}

// 60 s of decaying plucked chords in 24-bit stereo, the common case of a recorded DI track.
std::string InputFile()
{
    static const std::string path = [] {
        const std::string file = (ScratchDir() / "input.wav").string();
        SF_INFO info{};
        info.samplerate = kRate;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
        SNDFILE* out = sf_open(file.c_str(), SFM_WRITE, &info);
        std::vector<float> frame(2 * kRate);
        const double notes[] = {82.41, 110.0, 146.83, 196.0, 246.94, 329.63};
        for (int second = 0; second < kSeconds; ++second) {
            for (int i = 0; i < kRate; ++i) {
                const double t = static_cast<double>(i) / kRate;
                double s = 0.0;
                for (double f : notes)
                    s += std::sin(2.0 * M_PI * f * (1 + second % 3 * 0.12) * t) * std::exp(-3.0 * t);
                frame[2 * i] = frame[2 * i + 1] = static_cast<float>(0.08 * s);
            }
            sf_writef_float(out, frame.data(), kRate);
        }
        sf_close(out);
        return file;
    }();
    return path;
}

// Runs the renderer to completion; returns its peak resident set in KiB, or -1 on failure.
long RunRenderer(const std::vector<std::string>& extra)
{
    std::vector<std::string> args{CORVEX_RENDER_EXE, InputFile(), (ScratchDir() / "output.wav").string(), "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, CORVEX_RENDER_EXE, nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

void Render60s(benchmark::State& state, std::vector<std::string> extra)
{
    InputFile();
    long peakKiB = 0;
    for (auto _ : state) {
        const long kib = RunRenderer(extra);
        if (kib < 0) {
            state.SkipWithError("corvex-render failed");
            return;
        }
        peakKiB = std::max(peakKiB, kib);
    }
    // Audio seconds rendered per wall-clock second.
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(kSeconds) * state.iterations(),
                                                      benchmark::Counter::kIsRate);
    state.counters["peak_rss_MiB"] = static_cast<double>(peakKiB) / 1024.0;
}

BENCHMARK_CAPTURE(Render60s, full_chain, std::vector<std::string>{})
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(Render60s, full_chain_block_64, std::vector<std::string>{"--block", "64"})
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
// File reading, writing and hosting alone.
BENCHMARK_CAPTURE(Render60s, bypass, std::vector<std::string>{"--bypass"})
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
