#pragma once

// IR files for the tests: a scratch folder of the test's own, and RIFF/WAVE files written byte by
// byte, the same on every system.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace corvex::test {

namespace fs = std::filesystem;

class ScratchFolder {
public:
    ScratchFolder()
    {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        m_path = fs::temp_directory_path() /
                 ("corvex-impulse-" +
                  std::to_string(std::hash<std::string>{}(std::string(test->test_suite_name()) + test->name())));
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~ScratchFolder() { fs::remove_all(m_path); }
    std::string File(const std::string& name) const { return (m_path / fs::u8path(name)).u8string(); }

private:
    fs::path m_path;
};

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(fs::u8path(path), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void PutLe(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A RIFF/WAVE file of 16-bit integers (tag 1) or 32-bit floats (tag 3); with a chunk of 3 bytes
// (padded to 4) before the format chunk when asked.
inline std::vector<std::uint8_t> Wave(int tag, int channels, std::uint32_t rate, const std::vector<float>& samples,
                                      bool bOddChunk = false)
{
    const int bytes = tag == 1 ? 2 : 4;
    std::vector<std::uint8_t> data;
    for (const float sample : samples) {
        std::uint32_t bits;
        std::memcpy(&bits, &sample, sizeof bits);
        PutLe(data, tag == 1 ? static_cast<std::uint32_t>(static_cast<std::int32_t>(sample)) : bits, bytes);
    }
    std::vector<std::uint8_t> out = {'R', 'I', 'F', 'F'};
    PutLe(out, 36 + data.size() + (bOddChunk ? 12 : 0), 4);
    for (const char c : bOddChunk ? std::string("WAVELIST\x03\0\0\0abc\0fmt ", 20) : std::string("WAVEfmt "))
        out.push_back(static_cast<std::uint8_t>(c));
    PutLe(out, 16, 4);
    PutLe(out, static_cast<std::uint64_t>(tag), 2);
    PutLe(out, static_cast<std::uint64_t>(channels), 2);
    PutLe(out, rate, 4);
    PutLe(out, std::uint64_t{rate} * static_cast<std::uint64_t>(channels * bytes), 4);
    PutLe(out, static_cast<std::uint64_t>(channels * bytes), 2);
    PutLe(out, static_cast<std::uint64_t>(bytes * 8), 2);
    for (const char c : std::string("data"))
        out.push_back(static_cast<std::uint8_t>(c));
    PutLe(out, data.size(), 4);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

} // namespace corvex::test
