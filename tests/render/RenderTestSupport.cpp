#include "RenderTestSupport.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace render_test {

namespace {

std::string Slurp(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

} // namespace

RunResult RunRender(const std::vector<std::string>& args)
{
    ScratchDir capture;
    const std::string outPath = (capture / "stdout").string(), errPath = (capture / "stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    std::vector<std::string> all{CORVEX_RENDER_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, CORVEX_RENDER_EXE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error("cannot start " CORVEX_RENDER_EXE);
    int status = 0;
    waitpid(pid, &status, 0);
    RunResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = Slurp(outPath);
    result.err = Slurp(errPath);
    return result;
}

void WriteAudio(const std::filesystem::path& path, const Audio& audio, int sndfileFormat)
{
    SF_INFO info{};
    info.samplerate = audio.sampleRate;
    info.channels = audio.channels;
    info.format = sndfileFormat;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        throw std::runtime_error("cannot write " + path.string() + ": " + sf_strerror(nullptr));
    sf_writef_float(file, audio.samples.data(), audio.Frames());
    sf_close(file);
}

Audio ReadAudio(const std::filesystem::path& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        throw std::runtime_error("cannot read " + path.string() + ": " + sf_strerror(nullptr));
    Audio audio;
    audio.sampleRate = info.samplerate;
    audio.channels = info.channels;
    audio.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    // A file cut short holds fewer frames than it promises.
    const sf_count_t read = sf_readf_float(file, audio.samples.data(), info.frames);
    audio.samples.resize(static_cast<std::size_t>(std::max<sf_count_t>(read, 0) * info.channels));
    sf_close(file);
    return audio;
}

std::vector<unsigned char> ReadBytes(const std::filesystem::path& path)
{
    const std::string s = Slurp(path);
    return std::vector<unsigned char>(s.begin(), s.end());
}

std::vector<float> PluckedTestSignal(int sampleRate, double seconds)
{
    const double notes[] = {82.41, 110.0, 146.83, 196.0, 246.94, 329.63};
    std::vector<float> out(static_cast<std::size_t>(seconds * sampleRate));
    std::uint32_t noise = 12345u;
    for (std::size_t n = 0; n < out.size(); ++n) {
        const double t = static_cast<double>(n) / sampleRate;
        const int note = static_cast<int>(t / 0.5);
        const double local = t - note * 0.5;
        const double f = notes[note % 6];
        double s = 0.0;
        for (int h = 1; h <= 6; ++h)
            s += std::sin(2.0 * M_PI * f * h * local) / h;
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.002;
        out[n] = static_cast<float>(0.3 * s * std::exp(-4.0 * local) + hiss);
    }
    return out;
}

ScratchDir::ScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "corvex-render-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a scratch directory");
    m_path = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::vector<std::string> ScratchDir::Entries() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace render_test
