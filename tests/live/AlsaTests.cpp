// corvex on ALSA without hardware: a device built from ALSA's own file and null plug-ins in the
// test's asoundrc, reading the player's input from a raw file and writing the output to another.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <thread>

#include "LiveTestSupport.h"

using namespace live_test;
using namespace std::chrono_literals;

namespace {

constexpr int kRate = 48000;
constexpr int kPeriod = 64;
// Silent periods ahead of the first processed one on playback.
constexpr int kPlaybackPrefill = 2;

// What corvex writes for `frames` frames: the silent periods ahead of them too, two channels of
// 4-byte samples.
std::size_t OutputBytes(std::size_t frames) { return (frames + kPlaybackPrefill * kPeriod) * 2 * 4; }

// Plays `frames` frames through the asoundrc's `device`, stops
// corvex and returns what it wrote; empty when corvex did not start or stop cleanly.
std::vector<unsigned char> PlayThrough(const ScratchDir& dir, const std::string& device, std::size_t frames,
                                       const std::vector<std::string>& options = {})
{
    std::vector<std::string> args{CorvexExe(), "--no-gui", "--alsa", device, "--rate", std::to_string(kRate),
                                  "--period", std::to_string(kPeriod)};
    args.insert(args.end(), options.begin(), options.end());
    Child corvex(args, AlsaEnvironment(dir), dir.Path());
    if (!corvex.WaitForOutput("corvex: playing through ALSA device \"" + device + "\"", 20s)) {
        ADD_FAILURE() << corvex.Err();
        return {};
    }
    // The null device keeps no time: the output grows as fast as corvex processes.
    const std::size_t wanted = OutputBytes(frames);
    const auto end = std::chrono::steady_clock::now() + 20s;
    std::error_code ec;
    while (std::filesystem::file_size(dir / "out.raw", ec) < wanted && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(10ms);
    corvex.Signal(SIGTERM);
    const int status = corvex.Wait(20s);
    if (status != 0 || !corvex.Err().empty()) {
        ADD_FAILURE() << "exit " << status << ": " << corvex.Err();
        return {};
    }
    return render_test::ReadBytes(dir / "out.raw");
}

TEST(LiveAlsa, PlaysThroughAnAlsaDeviceAsTheRendererDoes)
{
    ScratchDir dir;
    WriteAsoundrc(dir);
    const std::size_t frames = kPeriod * 200;
    std::vector<float> phrase = render_test::PluckedTestSignal(kRate, 0.5);
    phrase.resize(frames);
    {
        std::ofstream raw(dir / "in.raw", std::ios::binary);
        for (float v : phrase) {
            raw.write(reinterpret_cast<const char*>(&v), 4);
            raw.write(reinterpret_cast<const char*>(&v), 4);
        }
    }
    const std::vector<unsigned char> bytes = PlayThrough(dir, "corvextest", frames);
    ASSERT_GE(bytes.size(), OutputBytes(frames));
    std::vector<float> out(bytes.size() / 4);
    std::memcpy(out.data(), bytes.data(), out.size() * 4);

    render_test::Audio in;
    in.sampleRate = kRate;
    in.channels = 2;
    for (float v : phrase) {
        in.samples.push_back(v);
        in.samples.push_back(v);
    }
    render_test::WriteAudio(dir / "in.wav", in, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const auto result = render_test::RunRender({(dir / "in.wav").string(), (dir / "rendered.wav").string(), "--block",
                                                std::to_string(kPeriod), "--format", "wav32f", "-q"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const render_test::Audio rendered = render_test::ReadAudio(dir / "rendered.wav");
    ASSERT_EQ(rendered.samples.size(), frames * 2);
    // After the playback's silent periods, the periods exactly as the renderer gives them.
    const std::size_t skip = kPlaybackPrefill * kPeriod * 2;
    for (std::size_t i = 0; i < skip; ++i)
        ASSERT_EQ(out[i], 0.0f) << i;
    EXPECT_EQ(std::memcmp(out.data() + skip, rendered.samples.data(), frames * 2 * 4), 0);
}

// An IR given once is kept with the settings: the next plain start plays through it, file gone,
// exactly as the renderer does with it.
TEST(LiveAlsa, AnIrGivenOnceStaysForTheNextStart)
{
    ScratchDir dir;
    WriteAsoundrc(dir);
    const std::size_t frames = kPeriod * 100;
    std::vector<float> phrase = render_test::PluckedTestSignal(kRate, 0.5);
    phrase.resize(frames);
    render_test::Audio in, impulse;
    in.sampleRate = impulse.sampleRate = kRate;
    in.channels = 2;
    impulse.channels = 1;
    {
        std::ofstream raw(dir / "in.raw", std::ios::binary);
        for (float v : phrase) {
            raw.write(reinterpret_cast<const char*>(&v), 4);
            raw.write(reinterpret_cast<const char*>(&v), 4);
            in.samples.insert(in.samples.end(), {v, v});
        }
    }
    for (int i = 0; i < 2400; ++i)
        impulse.samples.push_back(static_cast<float>(std::exp(-0.002 * i) * std::sin(0.21 * i)));
    render_test::WriteAudio(dir / "in.wav", in, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    render_test::WriteAudio(dir / "cab.wav", impulse, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const auto result = render_test::RunRender({(dir / "in.wav").string(), (dir / "rendered.wav").string(), "--block",
                                                std::to_string(kPeriod), "--ir", (dir / "cab.wav").string(),
                                                "--format", "wav32f", "-q"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const render_test::Audio rendered = render_test::ReadAudio(dir / "rendered.wav");
    ASSERT_EQ(rendered.samples.size(), frames * 2);

    const std::size_t skip = kPlaybackPrefill * kPeriod * 2;
    for (const bool given : {true, false}) {
        SCOPED_TRACE(given ? "--ir given" : "plain start");
        std::filesystem::remove(dir / "out.raw");
        const std::vector<unsigned char> bytes =
            PlayThrough(dir, "corvextest", frames,
                        given ? std::vector<std::string>{"--ir", (dir / "cab.wav").string()} : std::vector<std::string>{});
        ASSERT_GE(bytes.size(), OutputBytes(frames));
        EXPECT_EQ(std::memcmp(bytes.data() + skip * 4, rendered.samples.data(), frames * 2 * 4), 0);
        std::filesystem::remove(dir / "cab.wav");
    }
}

TEST(LiveAlsa, ADeviceThatCannotBeOpenedIsNamedWithTheReason)
{
    ScratchDir dir;
    WriteAsoundrc(dir);
    Child corvex({CorvexExe(), "--no-gui", "--alsa", "corvex_no_such_device", "--rate", "48000", "--period", "64"},
                 AlsaEnvironment(dir), dir.Path());
    EXPECT_EQ(corvex.Wait(20s), 1);
    EXPECT_NE(corvex.Err().find("\"corvex_no_such_device\""), std::string::npos) << corvex.Err();
    EXPECT_NE(corvex.Err().find("cannot open"), std::string::npos) << corvex.Err();
    // Arguments out of range name the argument.
    Child bad({CorvexExe(), "--no-gui", "--alsa", "corvextest", "--period", "3"}, AlsaEnvironment(dir), dir.Path());
    EXPECT_EQ(bad.Wait(20s), 2);
    EXPECT_NE(bad.Err().find("--period"), std::string::npos) << bad.Err();
    // So does a cabinet IR that cannot be used.
    Child noIr({CorvexExe(), "--no-gui", "--alsa", "corvextest", "--ir", (dir / "none.wav").string()},
               AlsaEnvironment(dir), dir.Path());
    EXPECT_EQ(noIr.Wait(20s), 1);
    EXPECT_NE(noIr.Err().find("--ir \"" + (dir / "none.wav").string() + "\" refused: "), std::string::npos)
        << noIr.Err();
}

// Sound cards rarely take float samples. A device that takes only integers (ALSA's linear
// plug-in in front of the null device; the file plug-in reads and writes the 32-bit samples
// corvex exchanges with it) plays the renderer's periods, to within 2^-23 of full scale.
TEST(LiveAlsa, ADeviceOfIntegerSamplesPlaysAsTheRendererDoes)
{
    ScratchDir dir;
    WriteAsoundrc(dir, "corvexint", "{ type linear slave { pcm { type null } format S16_LE } }");
    const std::size_t frames = kPeriod * 200;
    // Samples of 16 significant bits, which float holds exactly; the right input differs.
    const std::vector<float> phrase = render_test::PluckedTestSignal(kRate, 0.5);
    std::vector<std::int32_t> samples(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        samples[i * 2] = static_cast<std::int32_t>(std::lrint(phrase[i] * 16384.0f)) * 65536;
        samples[i * 2 + 1] = static_cast<std::int32_t>(std::lrint(phrase[(i * 7) % frames] * 8192.0f)) * 65536;
    }
    std::ofstream(dir / "in.raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size() * 4));
    const std::vector<unsigned char> bytes = PlayThrough(dir, "corvexint", frames);
    ASSERT_GE(bytes.size(), OutputBytes(frames));
    std::vector<std::int32_t> out(bytes.size() / 4);
    std::memcpy(out.data(), bytes.data(), out.size() * 4);

    render_test::Audio in;
    in.sampleRate = kRate;
    in.channels = 2;
    for (std::int32_t sample : samples)
        in.samples.push_back(static_cast<float>(sample / 2147483648.0));
    render_test::WriteAudio(dir / "in.wav", in, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const auto result = render_test::RunRender({(dir / "in.wav").string(), (dir / "rendered.wav").string(), "--block",
                                                std::to_string(kPeriod), "--format", "wav32f", "-q"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const render_test::Audio rendered = render_test::ReadAudio(dir / "rendered.wav");
    ASSERT_EQ(rendered.samples.size(), frames * 2);
    const std::size_t skip = kPlaybackPrefill * kPeriod * 2;
    for (std::size_t i = 0; i < skip; ++i)
        ASSERT_EQ(out[i], 0) << i;
    std::size_t far = frames * 2;
    double peak = 0.0;
    for (std::size_t i = 0; i < frames * 2 && far == frames * 2; ++i) {
        peak = std::max(peak, std::fabs(static_cast<double>(rendered.samples[i])));
        if (std::fabs(out[skip + i] / 2147483648.0 - rendered.samples[i]) > 0x1p-23)
            far = i;
    }
    EXPECT_EQ(far, frames * 2) << "the first sample away from the renderer's: " << out[skip + far] / 2147483648.0
                               << " against " << rendered.samples[far];
    EXPECT_GT(peak, 0.05) << "not silence passing for equality";
}

} // namespace
