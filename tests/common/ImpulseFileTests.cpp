// IR files as users hand them over: our RIFF/WAVE reader gives libsndfile's samples bit for bit,
// and both refuse what no cabinet can use, saying why and changing nothing.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "ImpulseFile.h"
#include "ImpulseTestFiles.h"

#if CORVEX_TEST_SNDFILE
#include <sndfile.h>
#endif

namespace {

using corvex::ImpulseSource;
using corvex::test::ScratchFolder;
using corvex::test::Wave;
using corvex::test::WriteBytes;

using Reader = bool (*)(const std::string&, ImpulseSource&, std::string&);

struct RefusalCase {
    const char* file;
    std::vector<std::uint8_t> bytes; // empty: no file at all
    const char* error;               // the whole message, or its start when it ends in ": "
};

std::vector<RefusalCase> RefusalCases()
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> silent(1000, 0.0f), overlong(80001, 0.0f);
    silent[500] = 1.0f; // one 16-bit step: -90.3 dBFS
    overlong[3] = 1000.0f;
    return {
        {"missing.wav", {}, "cannot read 'missing.wav': "},
        {"notes.wav", {'n', 'o', 't', 'e', 's', '\n'}, "cannot read 'notes.wav': "},
        {"three.wav", Wave(1, 3, 48000, std::vector<float>(30, 100.0f)), "'three.wav' has 3 channels (an IR has 1 or 2)"},
        {"quiet.wav", Wave(1, 1, 48000, silent), "'quiet.wav' is silent"},
        {"long.wav", Wave(1, 1, 8000, overlong), "'long.wav' is longer than 10 s"},
        {"slow.wav", Wave(1, 1, 7999, {100.0f}), "'slow.wav' is at 7999 Hz (an IR is at 8000 Hz to 384000 Hz)"},
        {"fast.wav", Wave(1, 2, 384001, {100.0f, 1.0f}), "'fast.wav' is at 384001 Hz (an IR is at 8000 Hz to 384000 Hz)"},
        {"nan.wav", Wave(3, 1, 44100, {0.5f, nan, 0.25f}), "'nan.wav' has non-finite samples"},
        {"empty.wav", Wave(3, 2, 44100, {}), "'empty.wav' holds no audio"},
    };
}

class ImpulseFileRefusal : public ::testing::TestWithParam<Reader> {};

TEST_P(ImpulseFileRefusal, SaysWhyAndChangesNothing)
{
    const ScratchFolder folder;
    ImpulseSource out;
    out.name = "kept";
    for (const RefusalCase& refusal : RefusalCases()) {
        SCOPED_TRACE(refusal.file);
        const std::string path = folder.File(refusal.file);
        if (!refusal.bytes.empty())
            WriteBytes(path, refusal.bytes);
        std::string error;
        EXPECT_FALSE(GetParam()(path, out, error));
        const std::string expected = refusal.error;
        if (expected.size() > 2 && expected.compare(expected.size() - 2, 2, ": ") == 0)
            EXPECT_EQ(error.substr(0, expected.size()), expected) << error;
        else
            EXPECT_EQ(error, expected);
        EXPECT_EQ(out.name, "kept");
    }

    // The limits themselves are allowed: 10 s at 8 kHz, a peak 6 dB over the silence threshold; the
    // path is UTF-8, and a chunk of odd length comes first.
    std::vector<float> edge(80000, 0.0f);
    edge[79999] = 2.0f;
    const std::string path = folder.File("bord du câble.wav");
    WriteBytes(path, Wave(1, 1, 8000, edge, true));
    std::string error;
    ASSERT_TRUE(GetParam()(path, out, error)) << error;
    EXPECT_EQ(out.name, "bord du câble.wav");
    EXPECT_EQ(out.frames, 80000);
    EXPECT_EQ(out.samples[79999], 2.0f / 32768.0f);
}

INSTANTIATE_TEST_SUITE_P(Readers, ImpulseFileRefusal,
                         ::testing::Values(&corvex::ReadImpulseFile, &corvex::ReadWaveImpulseFile),
                         [](const auto& p) { return p.index == 0 ? "Default" : "RiffWave"; });

#if CORVEX_TEST_SNDFILE

struct Encoding {
    const char* name;
    int format;
};

class WaveReader : public ::testing::TestWithParam<Encoding> {};

// Every sample format libsndfile writes into WAV and WAVE_FORMAT_EXTENSIBLE files.
TEST_P(WaveReader, GivesLibsndfilesSamplesBitForBit)
{
    const ScratchFolder folder;
    constexpr int kFrames = 5000; // more than one read of the reader
    std::vector<double> written(2 * kFrames);
    const std::vector<float> noise = corvex::test::Noise(2 * kFrames, 11, 0.999f);
    for (std::size_t i = 0; i < written.size(); ++i)
        written[i] = noise[i] * std::exp(-1e-3 * static_cast<double>(i)) + 1e-9 * static_cast<double>(i % 7);
    const std::string path = folder.File(std::string("câble-") + GetParam().name + ".wav");
    SF_INFO info{};
    info.samplerate = 96000;
    info.channels = 2;
    info.format = GetParam().format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    ASSERT_EQ(sf_writef_double(file, written.data(), kFrames), kFrames);
    sf_close(file);

    ImpulseSource bySndfile, byOurs;
    std::string error;
    ASSERT_TRUE(corvex::ReadImpulseFile(path, bySndfile, error)) << error;
    ASSERT_TRUE(corvex::ReadWaveImpulseFile(path, byOurs, error)) << error;
    EXPECT_EQ(byOurs.name, std::string("câble-") + GetParam().name + ".wav");
    EXPECT_EQ(byOurs.name, bySndfile.name);
    EXPECT_EQ(byOurs.sampleRate, 96000.0);
    EXPECT_EQ(byOurs.channels, 2);
    EXPECT_EQ(byOurs.frames, kFrames);
    ASSERT_EQ(byOurs.samples.size(), bySndfile.samples.size());
    EXPECT_EQ(std::memcmp(byOurs.samples.data(), bySndfile.samples.data(), byOurs.samples.size() * sizeof(float)), 0);
    // And they are the samples written, to the format's precision.
    for (std::size_t i = 0; i < written.size(); ++i)
        ASSERT_NEAR(byOurs.samples[i], written[i], 1.0 / 64) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, WaveReader,
    ::testing::Values(Encoding{"u8", SF_FORMAT_WAV | SF_FORMAT_PCM_U8}, Encoding{"s16", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                      Encoding{"s24", SF_FORMAT_WAV | SF_FORMAT_PCM_24}, Encoding{"s32", SF_FORMAT_WAV | SF_FORMAT_PCM_32},
                      Encoding{"f32", SF_FORMAT_WAV | SF_FORMAT_FLOAT}, Encoding{"f64", SF_FORMAT_WAV | SF_FORMAT_DOUBLE},
                      Encoding{"x16", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16}, Encoding{"x24", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24},
                      Encoding{"x32", SF_FORMAT_WAVEX | SF_FORMAT_PCM_32}, Encoding{"xf32", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT},
                      Encoding{"xf64", SF_FORMAT_WAVEX | SF_FORMAT_DOUBLE}),
    [](const auto& p) { return std::string(p.param.name); });

#endif

} // namespace
