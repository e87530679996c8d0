#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Running the corvex-render executable and looking at the files it reads and writes.

namespace render_test {

struct RunResult {
    int exitCode = -1; // 128 + signal number if the process was killed
    std::string out;
    std::string err;
};

// Runs corvex-render with `args`, waiting for it to finish.
RunResult RunRender(const std::vector<std::string>& args);

struct Audio {
    int sampleRate = 0;
    int channels = 0;
    std::vector<float> samples; // interleaved
    std::int64_t Frames() const { return channels ? static_cast<std::int64_t>(samples.size()) / channels : 0; }
    float Sample(std::int64_t frame, int channel) const { return samples[frame * channels + channel]; }
};

// Writes interleaved samples with the given libsndfile format (e.g. WAV | FLOAT).
void WriteAudio(const std::filesystem::path& path, const Audio& audio, int sndfileFormat);
Audio ReadAudio(const std::filesystem::path& path);
std::vector<unsigned char> ReadBytes(const std::filesystem::path& path);

// A guitar-like test signal: decaying plucked tones with a little noise, deterministic.
std::vector<float> PluckedTestSignal(int sampleRate, double seconds);

// A fresh empty directory removed with the object.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }
    std::vector<std::string> Entries() const; // names, sorted
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace render_test
