// The files corvex keeps between runs: refused whole when anything in them is wrong.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <limits>

#include "RenderTestSupport.h"
#include "Settings.h"

namespace {

using namespace corvex::live;
using render_test::ScratchDir;

void WriteBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string State(const std::vector<float>& values)
{
    std::string bytes(values.size() * 4, '\0');
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

TEST(LiveSettings, AudioSettingsRoundTrip)
{
    ScratchDir dir;
    AudioSettings s;
    s.backend = "alsa";
    s.inputs = {"a:1", "b:2"};
    s.outputs = {"c:1", "c:2"};
    s.connect = false;
    s.device = "plughw:USB";
    s.rate = 44100;
    s.period = 64;
    s.tempo = 96.5;
    std::string error;
    ASSERT_TRUE(WriteFileAtomically((dir / "sub" / "audio.conf").string(), FormatAudioSettings(s), error)) << error;
    std::string warning;
    EXPECT_EQ(ReadAudioSettings((dir / "sub" / "audio.conf").string(), warning), s);
    EXPECT_EQ(warning, "");
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "sub"), std::filesystem::directory_iterator()), 1);
}

TEST(LiveSettings, AFaultAnywhereGivesAllTheDefaults)
{
    ScratchDir dir;
    const std::string path = (dir / "audio.conf").string();
    for (const char* text : {"backend = alsa\nrate = 12\n", "backend = alsa\ncolour = blue\n", "backend = pulse\n",
                             "backend = alsa\nperiod = 64x\n", "backend alsa\n", "backend = alsa\ntempo = nan\n",
                             "backend = alsa\noutputs = one\n"}) {
        WriteBytes(path, text);
        std::string warning;
        EXPECT_EQ(ReadAudioSettings(path, warning), AudioSettings{}) << text;
        EXPECT_NE(warning.find(path), std::string::npos) << text;
        EXPECT_EQ(warning.find('\n'), std::string::npos);
    }
    std::string warning;
    EXPECT_EQ(ReadAudioSettings((dir / "missing.conf").string(), warning), AudioSettings{});
    EXPECT_EQ(warning, "") << "a first run is no fault";
}

TEST(LiveSettings, StateFilesAreCheckedWhole)
{
    ScratchDir dir;
    const std::string path = (dir / "s.state").string();
    std::vector<float> good(20, 0.5f);
    good[0] = 1.0f;
    WriteBytes(path, State(good));
    std::string warning;
    auto read = ReadStateFile(path, true, warning);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->size(), 80u);
    EXPECT_EQ(warning, "");

    auto refused = [&](const std::string& bytes, const std::string& why) {
        WriteBytes(path, bytes);
        std::string w;
        EXPECT_FALSE(ReadStateFile(path, false, w)) << why;
        EXPECT_NE(w.find(why), std::string::npos) << w;
        EXPECT_EQ(w.find('\n'), std::string::npos);
    };
    refused(State(good).substr(0, 79), "79 bytes");
    refused(State(good) + "x", "81 bytes");
    refused("", "0 bytes");
    std::vector<float> bad = good;
    bad[0] = 0.0f;
    refused(State(bad), "marker");
    bad = good;
    bad[7] = std::numeric_limits<float>::quiet_NaN();
    refused(State(bad), "value 7");
    bad = good;
    bad[19] = -0.5f;
    refused(State(bad), "value 19");

    warning.clear();
    EXPECT_FALSE(ReadStateFile((dir / "none.state").string(), false, warning));
    EXPECT_EQ(warning, "");
    EXPECT_FALSE(ReadStateFile((dir / "none.state").string(), true, warning));
    EXPECT_NE(warning.find("none.state"), std::string::npos);
}

TEST(LiveSettings, AnUnwritableFolderIsReported)
{
    std::string error;
    EXPECT_FALSE(WriteFileAtomically("/proc/corvex-test/audio.conf", "x", error));
    EXPECT_NE(error.find("/proc/corvex-test/audio.conf"), std::string::npos) << error;
}

} // namespace
