#include "RenderTestSupport.h"
#include "FactoryPresets.h"
#include "UserPresets.h"
#include "VstPresetFile.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace render_test;

namespace {

constexpr int kWavFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
constexpr int kRate = 44100;

Audio Stereo(const std::vector<float>& left, const std::vector<float>& right, int rate = kRate)
{
    Audio a;
    a.sampleRate = rate;
    a.channels = 2;
    for (std::size_t i = 0; i < left.size(); ++i) {
        a.samples.push_back(left[i]);
        a.samples.push_back(right[i]);
    }
    return a;
}

Audio Mono(const std::vector<float>& samples, int rate = kRate)
{
    Audio a;
    a.sampleRate = rate;
    a.channels = 1;
    a.samples = samples;
    return a;
}

bool BitIdentical(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

float Peak(const Audio& a)
{
    float peak = 0.0f;
    for (float s : a.samples)
        peak = std::max(peak, std::fabs(s));
    return peak;
}

class RenderTool : public ::testing::Test {
protected:
    ScratchDir dir;

    std::string Path(const std::string& name) const { return (dir / name).string(); }

    // Renders `input` to `output` as 32-bit float and expects success; `out` receives stdout.
    Audio Render(const std::string& input, const std::string& output, std::vector<std::string> extra = {},
                 std::string* out = nullptr)
    {
        std::vector<std::string> args{input, Path(output), "--format", "wav32f", "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        const RunResult r = RunRender(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        if (out)
            *out = r.out;
        return ReadAudio(Path(output));
    }
};

TEST_F(RenderTool, BypassReproducesTheInputBitForBit)
{
    std::vector<float> left = PluckedTestSignal(48000, 1.5), right = left;
    for (std::size_t i = 0; i < right.size(); ++i)
        right[i] = -0.5f * left[i] + (i % 7 == 0 ? 1e-30f : 0.0f); // includes denormals
    WriteAudio(dir / "stereo.wav", Stereo(left, right, 48000), kWavFloat);
    const Audio out = Render(Path("stereo.wav"), "bypassed.wav", {"--bypass", "--block", "333"});
    EXPECT_EQ(out.sampleRate, 48000);
    EXPECT_TRUE(BitIdentical(out.samples, Stereo(left, right).samples));

    WriteAudio(dir / "mono.wav", Mono(left, 48000), kWavFloat);
    const Audio monoOut = Render(Path("mono.wav"), "mono-bypassed.wav", {"--set", "Bypass=1"});
    EXPECT_TRUE(BitIdentical(monoOut.samples, Stereo(left, left).samples));
}

TEST_F(RenderTool, ProcessingChangesTheSoundAndKeepsLengthAndRate)
{
    WriteAudio(dir / "in.wav", Mono(PluckedTestSignal(96000, 1.0), 96000), kWavFloat);
    const Audio out = Render(Path("in.wav"), "out.wav");
    EXPECT_EQ(out.sampleRate, 96000);
    EXPECT_EQ(out.channels, 2);
    EXPECT_EQ(out.Frames(), 96000);
    const Audio bypassed = Render(Path("in.wav"), "bypassed.wav", {"--bypass"});
    EXPECT_FALSE(BitIdentical(out.samples, bypassed.samples));

    const Audio tailed = Render(Path("in.wav"), "tailed.wav", {"--tail", "0.5"});
    EXPECT_EQ(tailed.Frames(), 96000 + 48000);
}

// Parameters have one value per block and every block reads them afresh, so the audio must not
// depend on how the host slices the file.
TEST_F(RenderTool, BlockSizeDoesNotChangeTheAudio)
{
    WriteAudio(dir / "in.wav", Mono(PluckedTestSignal(kRate, 3.0)), kWavFloat);
    // 3.5 s is 154350 samples: 2411 blocks of 64 and one of 46, 150 of 1024 and one of 750, 18
    // of 8192 and one of 6894. The comparison means something only if the slicing really differs.
    std::string report;
    const Audio small = Render(Path("in.wav"), "b64.wav", {"--block", "64", "--tail", "0.5", "--verbose"}, &report);
    EXPECT_NE(report.find("blocks: 2412 process calls of 46 to 64 samples, 154350 samples in all"),
              std::string::npos) << report;
    const Audio large = Render(Path("in.wav"), "b1024.wav", {"--block", "1024", "--tail", "0.5", "--verbose"}, &report);
    EXPECT_NE(report.find("blocks: 151 process calls of 750 to 1024 samples, 154350 samples in all"),
              std::string::npos) << report;
    const Audio odd = Render(Path("in.wav"), "b8192.wav", {"--block", "8192", "--tail", "0.5", "--verbose"}, &report);
    EXPECT_NE(report.find("blocks: 19 process calls of 6894 to 8192 samples, 154350 samples in all"),
              std::string::npos) << report;
    ASSERT_EQ(small.samples.size(), large.samples.size());
    EXPECT_TRUE(BitIdentical(small.samples, large.samples));
    EXPECT_TRUE(BitIdentical(odd.samples, large.samples));
}

TEST_F(RenderTool, VerboseReportsWhatTheHostHandedThePlugin)
{
    WriteAudio(dir / "in.wav", Mono(PluckedTestSignal(kRate, 0.25)), kWavFloat); // 11025 samples
    RunResult r = RunRender({Path("in.wav"), Path("out.wav"), "--block", "333", "--verbose", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("host: 44100 Hz, blocks of at most 333 samples, tempo 120 BPM\n"), std::string::npos)
        << r.out;
    // 33 blocks of 333 and one of 36.
    EXPECT_NE(r.out.find("blocks: 34 process calls of 36 to 333 samples, 11025 samples in all\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("tail: 0 samples of silence after the input\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("module: " + std::filesystem::path(CORVEX_RENDER_MODULE_BINARY).lexically_normal().string() +
                         "\n"),
              std::string::npos)
        << r.out;

    // The tail continues in whole blocks: 11025 + 4410 samples in blocks of 1000.
    r = RunRender({Path("in.wav"), Path("out.wav"), "--block", "1000", "--tail", "0.1", "--tempo", "96.5", "-v", "-q"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("tempo 96.5 BPM"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("blocks: 16 process calls of 435 to 1000 samples, 15435 samples in all\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("tail: 4410 samples of silence after the input\n"), std::string::npos) << r.out;
}

// The tempo reaches the plug-in: with the delay on, its first echo comes an eighth note after
// the input; with the delay off the audio cannot show it, but the tail the plug-in reports does.
TEST_F(RenderTool, TempoSetsTheEchoAndTheReportedTail)
{
    std::vector<float> click(kRate, 0.0f);
    click[0] = 0.01f;
    WriteAudio(dir / "click.wav", Mono(click), kWavFloat);
    const std::vector<std::string> onlyDelay{"--set", "2=off", "--set", "4=off", "--set", "8=off", "--set",
                                             "10=off", "--set", "Delay Level=1"};
    auto firstEcho = [&](const std::string& tempo) {
        std::vector<std::string> on = onlyDelay, off = onlyDelay;
        on.insert(on.end(), {"--tempo", tempo});
        off.insert(off.end(), {"--tempo", tempo, "--set", "7=off"});
        const Audio wet = Render(Path("click.wav"), "wet-" + tempo + ".wav", on);
        const Audio dry = Render(Path("click.wav"), "dry-" + tempo + ".wav", off);
        for (std::int64_t f = 0; f < wet.Frames(); ++f)
            if (wet.Sample(f, 1) != dry.Sample(f, 1))
                return f;
        return std::int64_t{-1};
    };
    EXPECT_EQ(firstEcho("120"), 11025);
    EXPECT_EQ(firstEcho("75"), 17640);
    EXPECT_EQ(firstEcho("150"), 8820);

    // Delay off: 24 eighth notes of delay repeats, 6 s of reverb and 0.25 s more, in samples.
    const Audio at60 = Render(Path("click.wav"), "t60.wav", {"--set", "7=off", "--tempo", "60"});
    const Audio at160 = Render(Path("click.wav"), "t160.wav", {"--set", "7=off", "--tempo", "160"});
    EXPECT_TRUE(BitIdentical(at60.samples, at160.samples));
    RunResult r = RunRender({Path("click.wav"), Path("t.wav"), "--set", "7=off", "--tempo", "60", "-v", "-q"});
    EXPECT_NE(r.out.find("plug-in tail: 804825 samples\n"), std::string::npos) << r.out; // 18.25 s
    r = RunRender({Path("click.wav"), Path("t.wav"), "--set", "7=off", "--tempo", "160", "-v", "-q"});
    EXPECT_NE(r.out.find("plug-in tail: 474075 samples\n"), std::string::npos) << r.out; // 10.75 s
}

// The tail is the plug-in processing silence, exactly as if the file went on silent.
TEST_F(RenderTool, TailIsSilenceRunThroughThePlugin)
{
    std::vector<float> signal = PluckedTestSignal(kRate, 0.5);
    WriteAudio(dir / "in.wav", Mono(signal), kWavFloat);
    signal.resize(signal.size() + kRate / 2, 0.0f);
    WriteAudio(dir / "padded.wav", Mono(signal), kWavFloat);
    const Audio tailed = Render(Path("in.wav"), "tailed.wav", {"--tail", "0.5", "--block", "700"});
    const Audio padded = Render(Path("padded.wav"), "padded-out.wav", {"--block", "700"});
    EXPECT_TRUE(BitIdentical(tailed.samples, padded.samples));
    float ring = 0.0f;
    for (std::int64_t f = kRate / 2; f < tailed.Frames(); ++f)
        ring = std::max(ring, std::fabs(tailed.Sample(f, 0)));
    EXPECT_GT(ring, 1e-3f) << "delay and reverb ring in the tail";
}

// The bundle named by --module is the one whose code runs.
TEST_F(RenderTool, ModuleOptionLoadsTheNamedBundle)
{
    const std::filesystem::path built = std::filesystem::path(CORVEX_RENDER_MODULE_BINARY);
    const std::filesystem::path copy = dir / "Copy.vst3" / "Contents" / built.parent_path().filename() / "Copy.so";
    std::filesystem::create_directories(copy.parent_path());
    std::filesystem::copy_file(built, copy);
    WriteAudio(dir / "in.wav", Mono(PluckedTestSignal(kRate, 0.1)), kWavFloat);
    const RunResult r =
        RunRender({Path("in.wav"), Path("out.wav"), "--module", (dir / "Copy.vst3").string(), "--verbose", "-q"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("module: " + copy.lexically_normal().string() + "\n"), std::string::npos) << r.out;
}

TEST_F(RenderTool, MonoFileSoundsLikeTheSameFileAsIdenticalStereo)
{
    const std::vector<float> signal = PluckedTestSignal(kRate, 2.0);
    WriteAudio(dir / "mono.wav", Mono(signal), kWavFloat);
    WriteAudio(dir / "stereo.wav", Stereo(signal, signal), kWavFloat);
    const Audio fromMono = Render(Path("mono.wav"), "a.wav");
    const Audio fromStereo = Render(Path("stereo.wav"), "b.wav");
    EXPECT_TRUE(BitIdentical(fromMono.samples, fromStereo.samples));
}

TEST_F(RenderTool, SettingByTitleAndByIdentifierAgree)
{
    WriteAudio(dir / "in.wav", Mono(PluckedTestSignal(kRate, 1.0)), kWavFloat);
    const Audio byTitle = Render(Path("in.wav"), "title.wav", {"--set", "Distortion Level=0.95", "--set", "delay on off=off"});
    const Audio byId = Render(Path("in.wav"), "id.wav", {"--set", "5=0.95", "--set", "7=0"});
    const Audio defaults = Render(Path("in.wav"), "defaults.wav");
    EXPECT_TRUE(BitIdentical(byTitle.samples, byId.samples));
    EXPECT_FALSE(BitIdentical(byTitle.samples, defaults.samples));
}

// A Standard MIDI File of one track at 120 BPM, 96 ticks to the quarter (one tick: 1/192 s), of
// channel messages at times in seconds.
void WriteMidiFile(const std::filesystem::path& path, const std::vector<std::pair<double, std::vector<int>>>& events)
{
    std::string track;
    long lastTick = 0;
    for (const auto& [seconds, bytes] : events) {
        const long tick = std::lround(seconds * 192.0);
        unsigned long delta = static_cast<unsigned long>(tick - lastTick);
        lastTick = tick;
        std::string varLength(1, static_cast<char>(delta & 0x7F));
        while ((delta >>= 7) > 0)
            varLength.insert(varLength.begin(), static_cast<char>(0x80 | (delta & 0x7F)));
        track += varLength;
        for (int byte : bytes)
            track += static_cast<char>(byte);
    }
    track += std::string("\x00\xFF\x2F\x00", 4);
    const auto be32 = [](std::size_t n) {
        return std::string{char(n >> 24), char((n >> 16) & 0xFF), char((n >> 8) & 0xFF), char(n & 0xFF)};
    };
    std::ofstream(path, std::ios::binary) << std::string("MThd\0\0\0\x06\0\0\0\x01\0\x60", 14) << "MTrk"
                                          << be32(track.size()) << track;
}

std::string Exact(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

struct MidiCase {
    const char* name;
    std::vector<int> message;             // sent at 0 s
    std::vector<std::string> equivalent;  // the options that must give the same bits
};

// A DAW's way: controllers through the controller's IMidiMapping as value / 127, Program Change
// on the program list's parameter; at 0 s the same bits as the settings they stand for.
TEST_F(RenderTool, MidiAtTheStartActsAsTheSettingsItStandsFor)
{
    WriteAudio(dir / "in.wav", Mono(PluckedTestSignal(kRate, 1.0)), kWavFloat);
    const std::vector<MidiCase> cases = {
        {"level", {0xB0, 24, 100}, {"--set", "Distortion Level=" + Exact(100 / 127.0)}},
        {"expression, channel 10", {0xB9, 11, 100}, {"--set", "Distortion Level=" + Exact(100 / 127.0)}},
        {"switch below 64", {0xB3, 26, 63}, {"--set", "Delay ON OFF=0"}},
        {"program", {0xC0, 3}, {"--preset", "Crunch"}},
        {"unmapped controller", {0xB0, 7, 0}, {}},
        {"program past the list", {0xC0, 10}, {}},
    };
    for (const MidiCase& c : cases) {
        WriteMidiFile(dir / "start.mid", {{0.0, c.message}});
        const Audio played = Render(Path("in.wav"), "played.wav", {"--midi", Path("start.mid")});
        const Audio set = Render(Path("in.wav"), "set.wav", c.equivalent);
        EXPECT_TRUE(BitIdentical(played.samples, set.samples)) << c.name;
    }
    // The table above is not vacuous: these settings are heard.
    EXPECT_FALSE(BitIdentical(Render(Path("in.wav"), "a.wav", {"--preset", "Crunch"}).samples,
                              Render(Path("in.wav"), "b.wav").samples));

    // Later: the samples before the change's frame are those of a render without it.
    WriteMidiFile(dir / "later.mid", {{0.5, {0xB0, 24, 127}}});
    const Audio later = Render(Path("in.wav"), "later.wav", {"--midi", Path("later.mid"), "--block", "1000"});
    const Audio none = Render(Path("in.wav"), "none.wav", {"--block", "1000"});
    const std::size_t change = 2 * static_cast<std::size_t>(kRate / 2);
    ASSERT_EQ(later.samples.size(), none.samples.size());
    EXPECT_EQ(std::memcmp(later.samples.data(), none.samples.data(), change * sizeof(float)), 0);
    EXPECT_FALSE(BitIdentical(later.samples, none.samples));
}

// The largest second difference of either channel over frames [from, to): what a click raises.
float SecondDifferencePeak(const Audio& a, double from, double to)
{
    float peak = 0.0f;
    const std::int64_t first = std::max<std::int64_t>(1, std::llround(from * a.sampleRate));
    const std::int64_t last = std::min<std::int64_t>(a.Frames() - 1, std::llround(to * a.sampleRate));
    for (std::int64_t i = first; i < last; ++i)
        for (int c = 0; c < a.channels; ++c)
            peak = std::max(peak, std::fabs(a.Sample(i + 1, c) - 2.0f * a.Sample(i, c) + a.Sample(i - 1, c)));
    return peak;
}

double Energy(const Audio& a, double from, double to)
{
    double sum = 0.0;
    for (std::int64_t i = std::llround(from * a.sampleRate); i < std::llround(to * a.sampleRate); ++i)
        for (int c = 0; c < a.channels; ++c)
            sum += double(a.Sample(i, c)) * a.Sample(i, c);
    return sum;
}

bool SameBefore(const Audio& a, const Audio& b, double seconds)
{
    const std::size_t count = static_cast<std::size_t>(std::llround(seconds * a.sampleRate)) * a.channels;
    return a.samples.size() >= count && b.samples.size() >= count &&
           std::memcmp(a.samples.data(), b.samples.data(), count * sizeof(float)) == 0;
}

// A held tone changed between clean presets at eight points of its wave: the 45 ms around the
// change are no rougher than twice the steady sound before and after; before it, not a bit moves.
TEST_F(RenderTool, PresetChangeAtAnyMomentOfTheWaveAddsNoClick)
{
    constexpr double kTone = 196.0, kChange = 1.0, kHalfWindow = 0.0225;
    std::vector<float> tone(static_cast<std::size_t>(2.0 * kRate));
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<float>(0.3 * std::sin(2.0 * M_PI * kTone * double(i) / kRate));
    WriteAudio(dir / "tone.wav", Mono(tone), kWavFloat);
    const Audio held = Render(Path("tone.wav"), "held.wav", {"--preset", "Clean"});
    for (int phase = 0; phase < 8; ++phase) {
        const double at = kChange + phase / (8.0 * kTone);
        const Audio changed =
            Render(Path("tone.wav"), "changed.wav", {"--preset", "Clean", "--at", Exact(at) + ":preset=Chorus Clean"});
        const float steady = std::max(SecondDifferencePeak(changed, at - 0.3, at - 0.1),
                                      SecondDifferencePeak(changed, at + 0.3, at + 0.5));
        const float around = SecondDifferencePeak(changed, at - kHalfWindow, at + kHalfWindow);
        EXPECT_LT(around, 2.0f * steady) << "phase " << phase << "/8";
        EXPECT_TRUE(SameBefore(changed, held, at)) << "phase " << phase << "/8";
        EXPECT_FALSE(BitIdentical(changed.samples, held.samples));
        std::printf("change at phase %d/8: second difference %.5f around it, %.5f steady\n", phase, around, steady);
    }
}

// A phrase ending in silence, changed to a dry preset once it has ended: its echoes and reverb
// ring on as they would have.
TEST_F(RenderTool, PresetChangeKeepsTheTrailsRinging)
{
    constexpr double kPhrase = 1.0, kChange = 1.1;
    std::vector<float> phrase = PluckedTestSignal(kRate, kPhrase);
    phrase.resize(static_cast<std::size_t>(3.0 * kRate), 0.0f);
    WriteAudio(dir / "phrase.wav", Mono(phrase), kWavFloat);
    const Audio kept = Render(Path("phrase.wav"), "kept.wav", {"--preset", "Ambient Clean"});
    const Audio changed = Render(Path("phrase.wav"), "changed.wav",
                                 {"--preset", "Ambient Clean", "--at", Exact(kChange) + ":preset=Tight Rhythm"});
    const double ratioDb = 10.0 * std::log10(Energy(changed, kChange, kChange + 1.0) / Energy(kept, kChange, kChange + 1.0));
    EXPECT_GT(ratioDb, -3.0);
    EXPECT_LT(ratioDb, 3.0);
    EXPECT_TRUE(SameBefore(changed, kept, kChange));
    std::printf("trails over the second after the change: %+.2f dB against no change\n", ratioDb);
    // A parameter moved alone acts at once: the delay switched off stops its echoes.
    const Audio switched = Render(Path("phrase.wav"), "switched.wav",
                                  {"--preset", "Ambient Clean", "--at", Exact(kChange) + ":Delay ON OFF=off"});
    EXPECT_TRUE(SameBefore(switched, kept, kChange));
    EXPECT_LT(Energy(switched, kChange, kChange + 1.0), Energy(kept, kChange, kChange + 1.0));
}

// The user's presets where hosts keep them: listed after the factory ones, rendered by name,
// changed to mid-render; damaged and foreign files are named and left alone.
TEST_F(RenderTool, FindsTheUsersPresetsInTheVst3Folder)
{
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    setenv("HOME", dir.Path().c_str(), 1);
    const std::string folder = corvex::UserPresetDirectory();
    corvex::PresetControls mine = corvex::FindFactoryPreset("Crunch")->values;
    mine[corvex::kDistortionLevel - 1] = 0.9f;
    std::string error;
    ASSERT_TRUE(corvex::SaveUserPreset(folder, "My Crunch", mine, false, error)) << error;
    std::ofstream(std::filesystem::path(folder) / "Broken.vstpreset") << "not a preset";
    const std::vector<char> foreign = corvex::BuildVstPreset({std::string(32, 'A'), std::vector<char>(80, '\0'), {}});
    std::ofstream(std::filesystem::path(folder) / "Foreign.vstpreset", std::ios::binary).write(foreign.data(), foreign.size());
    const std::vector<unsigned char> broken = ReadBytes(std::filesystem::path(folder) / "Broken.vstpreset");

    const RunResult list = RunRender({"--list-presets"});
    EXPECT_NE(list.out.find("Wide Lead"), std::string::npos);
    EXPECT_GT(list.out.find("My Crunch"), list.out.find("Wide Lead")) << list.out;
    EXPECT_EQ(list.out.find("Broken"), std::string::npos);
    EXPECT_NE(list.err.find("Broken.vstpreset\": not a VST 3 preset"), std::string::npos) << list.err;
    EXPECT_NE(list.err.find("Foreign.vstpreset\": another plug-in's preset"), std::string::npos) << list.err;

    WriteAudio(dir / "in.wav", Mono(PluckedTestSignal(kRate, 1.0)), kWavFloat);
    const Audio byName = Render(Path("in.wav"), "mine.wav", {"--preset", "my crunch"});
    const Audio bySettings = Render(Path("in.wav"), "set.wav", {"--preset", "Crunch", "--set", "Distortion Level=0.9"});
    EXPECT_TRUE(BitIdentical(byName.samples, bySettings.samples));
    const Audio changed = Render(Path("in.wav"), "changed.wav", {"--preset", "Crunch", "--at", "0.5:preset=My Crunch"});
    const Audio crunch = Render(Path("in.wav"), "crunch.wav", {"--preset", "Crunch"});
    EXPECT_TRUE(SameBefore(changed, crunch, 0.5));
    EXPECT_FALSE(BitIdentical(changed.samples, crunch.samples));
    EXPECT_EQ(ReadBytes(std::filesystem::path(folder) / "Broken.vstpreset"), broken);
    setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(RenderTool, ListsTheMidiMap)
{
    const RunResult r = RunRender({"--list-midi"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* line : {"CC 11   Distortion Level\n", "CC 20   Input Selection\n", "CC 102  Bypass\n", "PC 0-"})
        EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
}

TEST_F(RenderTool, SavedStateRestoresTheSameSettings)
{
    WriteAudio(dir / "in.wav", Mono(PluckedTestSignal(kRate, 1.0)), kWavFloat);
    const Audio set = Render(Path("in.wav"), "set.wav",
                             {"--set", "Reverb Level=0.2", "--set", "Modulation ON OFF=0", "--save-state", Path("s.bin")});
    const std::vector<unsigned char> state = ReadBytes(dir / "s.bin");
    ASSERT_EQ(state.size(), 80u);
    float values[20];
    std::memcpy(values, state.data(), sizeof values);
    EXPECT_EQ(values[0], 1.0f); // marker
    EXPECT_EQ(values[12], 0.2f);
    EXPECT_EQ(values[8], 0.0f);
    EXPECT_EQ(values[5], 0.55f); // untouched default

    const Audio restored = Render(Path("in.wav"), "restored.wav", {"--state", Path("s.bin")});
    EXPECT_TRUE(BitIdentical(set.samples, restored.samples));
}

// --save-state keeps the IR --ir gave: the state alone renders the same bits once the file is gone.
TEST_F(RenderTool, TheIrTravelsInTheSavedState)
{
    WriteAudio(dir / "in.wav", Mono(PluckedTestSignal(48000, 0.5), 48000), kWavFloat);
    std::vector<float> left(3000), right(3000);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = static_cast<float>(std::exp(-0.003 * i) * std::sin(0.3 * i));
        right[i] = static_cast<float>(std::exp(-0.002 * i) * std::cos(0.17 * i));
    }
    WriteAudio(dir / "cab.wav", Stereo(left, right, 44100), SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    const Audio loaded = Render(Path("in.wav"), "loaded.wav", {"--ir", Path("cab.wav"), "--save-state", Path("s.state")});
    EXPECT_GT(ReadBytes(dir / "s.state").size(), 80u);
    std::filesystem::remove(dir / "cab.wav");
    std::string report;
    const Audio restored = Render(Path("in.wav"), "restored.wav", {"--state", Path("s.state"), "-v"}, &report);
    EXPECT_TRUE(BitIdentical(restored.samples, loaded.samples));
    EXPECT_NE(report.find("cabinet: IR \"cab.wav\", 2 channels of 3000 frames at 44100 Hz\n"), std::string::npos)
        << report;
    const Audio builtIn = Render(Path("in.wav"), "built-in.wav", {"-v"}, &report);
    EXPECT_FALSE(BitIdentical(builtIn.samples, loaded.samples));
    EXPECT_NE(report.find("cabinet: built-in\n"), std::string::npos) << report;

    // A preset change keeps it: changed to the same settings mid-phrase, the fresh chain plays
    // the IR as the outgoing one did, not the built-in cabinet.
    const Audio changed = Render(Path("in.wav"), "changed.wav", {"--state", Path("s.state"), "--at", "0.2:preset=Corvex Default"});
    const Audio changedBuiltIn = Render(Path("in.wav"), "changed-built-in.wav", {"--at", "0.2:preset=Corvex Default"});
    double offIr = 0.0, offBuiltIn = 0.0;
    for (std::int64_t i = 0.3 * 48000; i < loaded.Frames(); ++i)
        for (int c = 0; c < 2; ++c) {
            offIr += std::pow(double(changed.Sample(i, c)) - loaded.Sample(i, c), 2.0);
            offBuiltIn += std::pow(double(changed.Sample(i, c)) - changedBuiltIn.Sample(i, c), 2.0);
        }
    EXPECT_LT(offIr * 100.0, offBuiltIn) << offIr << " " << offBuiltIn;
}

TEST_F(RenderTool, ListsTheModulesParameters)
{
    const RunResult r = RunRender({"--list-params"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 21); // header, 19 parameters and the programs
    EXPECT_NE(r.out.find("16   Ouput Clipping Led"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3    Compressor Level           0.8000    automatable"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("19   Bypass                     0.0000    bypass"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("13   Output Left Vumeter        0.0000    read-only"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1000 Presets                    0.0000    automatable,list,program-change"), std::string::npos)
        << r.out;
}

TEST_F(RenderTool, SummaryReportsDurationPeakAndClipLed)
{
    WriteAudio(dir / "quiet.wav", Mono(std::vector<float>(kRate, 0.001f)), kWavFloat);
    RunResult r = RunRender({Path("quiet.wav"), Path("quiet-out.wav")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("1.00 s at 44100 Hz (wav24)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("output clip LED never lit"), std::string::npos) << r.out;

    // A full-scale square wave with the effects off drives the output limiter to full scale.
    std::vector<float> square(kRate);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 50) % 2 ? 1.0f : -1.0f;
    WriteAudio(dir / "hot.wav", Mono(square), kWavFloat);
    r = RunRender({Path("hot.wav"), Path("hot-out.flac"), "--set", "2=0", "--set", "4=0", "--set", "7=0", "--set",
                   "8=0", "--set", "10=0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("(flac24)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("output clip LED lit"), std::string::npos) << r.out;

    r = RunRender({Path("quiet.wav"), Path("silent.wav"), "--quiet"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
}

// The reported peak is the largest magnitude of either channel, wherever in the render it falls.
TEST_F(RenderTool, SummaryPeakIsTheLargestSampleOfEitherChannel)
{
    struct PeakCase {
        int frames, at, channel;
        float value;
        const char* block;
        const char* report;
    };
    const PeakCase cases[] = {
        {4099, 4098, 1, -0.5f, "1024", "peak -6.0 dBFS"}, {4099, 2051, 0, 0.25f, "7", "peak -12.0 dBFS"},
        {1000, 0, 1, -0.125f, "1", "peak -18.1 dBFS"},    {1000, 999, 0, 0.5f, "64", "peak -6.0 dBFS"},
    };
    for (const PeakCase& c : cases) {
        std::vector<float> left(c.frames, 0.01f), right(c.frames, -0.01f);
        (c.channel ? right : left)[c.at] = c.value;
        WriteAudio(dir / "in.wav", Stereo(left, right), kWavFloat);
        const RunResult r = RunRender({Path("in.wav"), Path("out.wav"), "--bypass", "--block", c.block});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find(c.report), std::string::npos) << c.at << ": " << r.out;
    }
}

struct BadCase {
    std::string name;
    std::vector<std::string> args; // "@" prefixes a name inside the scratch directory
    std::string message;
};

TEST_F(RenderTool, BadInputFailsClearlyAndWritesNothing)
{
    WriteAudio(dir / "good.wav", Mono(PluckedTestSignal(kRate, 0.2)), kWavFloat);
    WriteAudio(dir / "low-rate.wav", Mono(PluckedTestSignal(22050, 0.2), 22050), kWavFloat);
    Audio surround = Mono(PluckedTestSignal(kRate, 0.1));
    surround.channels = 3;
    surround.samples.resize(surround.samples.size() / 3 * 3);
    WriteAudio(dir / "three.wav", surround, kWavFloat);
    std::ofstream(dir / "text.wav") << "not audio at all";
    std::ofstream(dir / "short.state") << std::string(79, '\0');
    WriteAudio(dir / "silent-ir.wav", Mono(std::vector<float>(2000, 0.0f)), kWavFloat);
    {
        // A state whose IR section is cut short.
        std::string state(80, '\0');
        const float marker = 1.0f;
        std::memcpy(state.data(), &marker, 4);
        std::ofstream(dir / "cut.state", std::ios::binary) << state << "CVIR\x01";
    }
    std::ofstream(dir / "not-a-module.so") << "not a shared library";
    const std::vector<std::string> before = dir.Entries();
    const std::vector<unsigned char> goodBytes = ReadBytes(dir / "good.wav");

    const std::vector<BadCase> cases = {
        {"missing input", {"@nope.wav", "@out.wav"}, "input file \"" + Path("nope.wav") + "\" does not exist"},
        {"not audio", {"@text.wav", "@out.wav"},
         "cannot decode input file \"" + Path("text.wav") + "\": Format not recognised"},
        {"rate", {"@low-rate.wav", "@out.wav"}, "sample rate of 22050 Hz; accepted: 44100 to 192000 Hz (Corvex's "
                                                "filters and cabinet are voiced for 44.1 kHz and above"},
        {"channels", {"@three.wav", "@out.wav"}, "has 3 channels; pick one or two of them with --channels L[,R]"},
        {"channel range", {"@three.wav", "@out.wav", "--channels", "2,4"},
         "--channels 4 is out of range: input file \"" + Path("three.wav") + "\" has 3 channels; accepted: 1 to 3"},
        {"channel count", {"@three.wav", "@out.wav", "--channels", "1,2,3"}, "names 3 channels"},
        {"channel zero", {"@three.wav", "@out.wav", "--channels", "0"}, "--channels \"0\" is not valid"},
        {"channel text", {"@three.wav", "@out.wav", "--channels", "left"}, "--channels \"left\" is not valid"},
        {"channels of demo", {"--demo", "@out.wav", "--channels", "1"}, "--channels picks channels of INPUT"},
        {"title", {"@good.wav", "@out.wav", "--set", "Distorsion Levle=0.5"},
         "unknown parameter title \"Distorsion Levle\"; did you mean \"Distortion Level\"?"},
        {"identifier", {"@good.wav", "@out.wav", "--set", "20=0.5"}, "there is no parameter with identifier 20"},
        {"read-only", {"@good.wav", "@out.wav", "--set", "Ouput Clipping Led=1"}, "is a read-only indicator"},
        {"value high", {"@good.wav", "@out.wav", "--set", "Distortion Level=1.5"},
         "value 1.5 is outside the accepted range [0, 1]"},
        {"value low", {"@good.wav", "@out.wav", "--set", "3=-0.1"}, "value -0.1 is outside the accepted range [0, 1]"},
        {"value text", {"@good.wav", "@out.wav", "--set", "3=loud"}, "value \"loud\" is not a number"},
        {"no equals", {"@good.wav", "@out.wav", "--set", "Distortion Level"}, "expected TITLE=VALUE or ID=VALUE"},
        {"block zero", {"@good.wav", "@out.wav", "--block", "0"}, "--block 0 is out of range; accepted: 1 to 8192"},
        {"block big", {"@good.wav", "@out.wav", "--block", "8193"}, "--block 8193 is out of range; accepted: 1 to 8192"},
        {"tempo", {"@good.wav", "@out.wav", "--tempo", "0"}, "--tempo 0 is out of range; accepted: 20 to 999 BPM"},
        {"tail", {"@good.wav", "@out.wav", "--tail", "-1"}, "--tail -1 is out of range"},
        {"format", {"@good.wav", "@out.wav", "--format", "mp3"}, "--format \"mp3\" is not a known format"},
        {"state size", {"@good.wav", "@out.wav", "--state", "@short.state"},
         "is 79 bytes; a Corvex state is 80 bytes"},
        {"state missing", {"@good.wav", "@out.wav", "--state", "@none.state"}, "does not exist"},
        {"state section", {"@good.wav", "@out.wav", "--state", "@cut.state"}, "its cabinet IR cannot be used: "},
        {"ir silent", {"@good.wav", "@out.wav", "--ir", "@silent-ir.wav"},
         "--ir \"" + Path("silent-ir.wav") + "\" refused: 'silent-ir.wav' is silent"},
        {"ir missing", {"@good.wav", "@out.wav", "--ir", "@none.wav"}, "--ir \"" + Path("none.wav") + "\" refused: "},
        {"ir overwritten", {"@good.wav", "@ir.wav", "--ir", "@ir.wav"}, "is the --ir file"},
        {"at time", {"@good.wav", "@out.wav", "--at", "-1:Delay ON OFF=0"}, "time -1 is out of range"},
        {"at form", {"@good.wav", "@out.wav", "--at", "Delay ON OFF=0"}, "expected SECONDS:NAME=VALUE"},
        {"at setting", {"@good.wav", "@out.wav", "--at", "1:Distortion Level=2"},
         "--at \"1:Distortion Level=2\": value 2 is outside the accepted range [0, 1]"},
        {"at preset", {"@good.wav", "@out.wav", "--at", "1:preset=Brown Sound"},
         "no preset named \"Brown Sound\"; accepted: \"Corvex Default\""},
        {"midi missing", {"@good.wav", "@out.wav", "--midi", "@none.mid"}, "cannot read --midi file"},
        {"midi not midi", {"@good.wav", "@out.wav", "--midi", "@text.wav"},
         "--midi file \"" + Path("text.wav") + "\": it is no Standard MIDI File (no MThd header)"},
        {"midi without render", {"--midi", "@text.wav"}, "--midi plays along a render"},
        {"no module", {"@good.wav", "@out.wav", "--module", "@Missing.vst3"}, "Missing.vst3"},
        {"bad module", {"@good.wav", "@out.wav", "--module", "@not-a-module.so"}, "not-a-module.so"},
        {"overwrite input", {"@good.wav", "@good.wav"}, "never overwrites its input"},
        {"overwrite via path", {"@good.wav", "@./good.wav"}, "never overwrites its input"},
        {"missing output", {"@good.wav"}, "missing OUTPUT"},
        {"tuner and render", {"@good.wav", "@out.wav", "--tuner", "@good.wav"}, "--tuner FILE, not several"},
        {"reference", {"--tuner", "@good.wav", "--reference", "460"},
         "--reference 460 is out of range; accepted: 430 to 450 Hz"},
        {"reference alone", {"@good.wav", "@out.wav", "--reference", "440"}, "--reference sets the tuner's A4"},
    };
    for (const BadCase& c : cases) {
        std::vector<std::string> args;
        for (const std::string& a : c.args)
            args.push_back(a[0] == '@' ? Path(a.substr(1)) : a);
        const RunResult r = RunRender(args);
        EXPECT_NE(r.exitCode, 0) << c.name;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
        EXPECT_EQ(r.err.find("corvex-render: error: "), 0u) << c.name << ": " << r.err;
        EXPECT_EQ(dir.Entries(), before) << c.name << ": left a file behind";
    }
    EXPECT_EQ(ReadBytes(dir / "good.wav"), goodBytes);

    if (geteuid() != 0) { // root reads anything
        std::filesystem::permissions(dir / "good.wav", std::filesystem::perms::none);
        const RunResult r = RunRender({Path("good.wav"), Path("out.wav")});
        EXPECT_NE(r.exitCode, 0);
        EXPECT_NE(r.err.find("cannot read input file"), std::string::npos) << r.err;
        std::filesystem::permissions(dir / "good.wav", std::filesystem::perms::owner_all);
    }
}

// One line per 50 ms, "<seconds> <note> <hertz> <cents>" or "<seconds> -", of the input the
// plug-in's selector picks, against the reference asked for.
TEST_F(RenderTool, TunerPrintsTheSelectedInputsReadingEveryHop)
{
    // A decaying tone of eight harmonics on each side, from 0.1 s.
    std::vector<float> tones[2] = {std::vector<float>(kRate), std::vector<float>(kRate)};
    for (int side = 0; side < 2; ++side)
        for (int i = kRate / 10; i < kRate; ++i)
            for (int k = 1; k <= 8; ++k)
                tones[side][i] += static_cast<float>(0.2 / k * std::exp(0.1 - i / double(kRate)) *
                                                     std::sin(2.0 * M_PI * k * (side ? 110.0 : 82.407) * i / kRate));
    WriteAudio(dir / "strings.wav", Stereo(tones[0], tones[1]), kWavFloat);
    const std::regex line(R"((\d+\.\d{3}) (-|([A-G]#?\d) (\d+\.\d{3}) ([+-]\d+\.\d)))");
    struct Case {
        std::vector<std::string> extra;
        const char* note;
        double hertz, cents;
    } cases[] = {{{}, "E2", 82.407, 0.0}, {{"--set", "Input Selection=0", "--reference", "430"}, "A2", 110.0, 39.8}};
    for (const Case& c : cases) {
        std::vector<std::string> args{"--tuner", Path("strings.wav")};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const RunResult r = RunRender(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::istringstream out(r.out);
        std::string text;
        int hop = 0;
        for (std::smatch m; std::getline(out, text);) {
            ASSERT_TRUE(std::regex_match(text, m, line)) << text;
            char seconds[16];
            std::snprintf(seconds, sizeof seconds, "%.3f", 0.05 * ++hop);
            EXPECT_EQ(m[1].str(), seconds);
            EXPECT_TRUE(hop > 2 || m[2].str() == "-") << text;
            if (hop >= 6) {
                ASSERT_TRUE(m[3].matched) << text;
                EXPECT_EQ(m[3].str(), c.note) << text;
                EXPECT_NEAR(std::stod(m[4].str()), c.hertz, 0.01) << text;
                EXPECT_NEAR(std::stod(m[5].str()), c.cents, 0.15) << text;
            }
        }
        EXPECT_EQ(hop, 20);
    }
}

struct InputKind {
    const char* name;
    int format;
    double tolerance; // largest decoding error allowed against the float signal; < 0: a lossy codec
};

// Whatever libsndfile decodes is rendered exactly as the same decoded samples in a float file.
TEST_F(RenderTool, EveryDecodableFormatRendersLikeItsFloatVersion)
{
    constexpr int kOpusRate = 48000; // Opus runs at 48 kHz; the rest follow it
    std::vector<float> left = PluckedTestSignal(kOpusRate, 0.3), right(left.size());
    for (std::size_t i = 0; i < right.size(); ++i)
        right[i] = -0.6f * left[(i + 100) % left.size()];
    const Audio signal = Stereo(left, right, kOpusRate);
    const double lsb8 = 1.0 / 128, lsb16 = 1.0 / 32768, lsb24 = 1.0 / 8388608, lsb32 = 1.0 / 2147483648.0;
    const std::vector<InputKind> kinds = {
        {"wav-u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, lsb8},
        {"wav-16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, lsb16},
        {"wav-24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, lsb24},
        {"wav-32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, lsb32},
        {"wav-double.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 0.0},
        {"wav-ulaw.wav", SF_FORMAT_WAV | SF_FORMAT_ULAW, 0.02},
        {"wav-alaw.wav", SF_FORMAT_WAV | SF_FORMAT_ALAW, 0.02},
        {"aiff-s8.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, lsb8},
        {"aiff-32.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_32, lsb32},
        {"w64-24.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_24, lsb24},
        {"au-16.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, lsb16},
        {"caf-float.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT, 0.0},
        {"flac-8.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_S8, lsb8},
        {"flac-16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, lsb16},
        {"flac-24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, lsb24},
        {"vorbis.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, -1.0},
        {"opus.opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, -1.0},
        {"mp3.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, -1.0},
    };
    for (const InputKind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        SF_INFO probe{};
        probe.samplerate = kOpusRate;
        probe.channels = 2;
        probe.format = kind.format;
        if (!sf_format_check(&probe)) { // MP3 and Opus only where libsndfile was built with them
            ASSERT_NE(kind.tolerance, 0.0) << "every lossless kind is always available";
            std::printf("[   NOTE   ] this libsndfile cannot write %s; not tested\n", kind.name);
            continue;
        }
        WriteAudio(dir / kind.name, signal, kind.format);
        const Audio decoded = ReadAudio(dir / kind.name);
        ASSERT_EQ(decoded.channels, 2);
        ASSERT_EQ(decoded.Frames(), signal.Frames());
        if (kind.tolerance >= 0.0) {
            double worst = 0.0;
            for (std::size_t i = 0; i < signal.samples.size(); ++i)
                worst = std::max(worst, std::fabs(static_cast<double>(decoded.samples[i]) - signal.samples[i]));
            EXPECT_LE(worst, kind.tolerance);
        } else {
            double error = 0.0, energy = 0.0;
            for (std::size_t i = 0; i < signal.samples.size(); ++i) {
                const double d = static_cast<double>(decoded.samples[i]) - signal.samples[i];
                error += d * d;
                energy += static_cast<double>(signal.samples[i]) * signal.samples[i];
            }
            EXPECT_GT(10.0 * std::log10(energy / error), 10.0) << "the codec kept the signal";
        }
        const std::string floatName = std::string(kind.name) + ".float.wav";
        WriteAudio(dir / floatName, decoded, kWavFloat);
        const Audio rendered = Render(Path(kind.name), std::string(kind.name) + ".out.wav");
        const Audio reference = Render(Path(floatName), floatName + ".out.wav");
        EXPECT_EQ(rendered.Frames(), signal.Frames());
        EXPECT_TRUE(BitIdentical(rendered.samples, reference.samples));
    }
}

TEST_F(RenderTool, ChannelsPicksOneOrTwoOfAnyFile)
{
    std::vector<std::vector<float>> tracks;
    for (int c = 0; c < 4; ++c) {
        std::vector<float> track = PluckedTestSignal(kRate, 0.5);
        for (std::size_t i = 0; i < track.size(); ++i)
            track[i] = track[(i + 997 * c) % track.size()] * (1.0f - 0.2f * c);
        tracks.push_back(track);
    }
    Audio four;
    four.sampleRate = kRate;
    four.channels = 4;
    for (std::size_t i = 0; i < tracks[0].size(); ++i)
        for (const auto& track : tracks)
            four.samples.push_back(track[i]);
    WriteAudio(dir / "four.wav", four, kWavFloat);

    Audio out = Render(Path("four.wav"), "pair.wav", {"--channels", "4,2", "--bypass"});
    EXPECT_TRUE(BitIdentical(out.samples, Stereo(tracks[3], tracks[1]).samples));
    out = Render(Path("four.wav"), "one.wav", {"--channels", "3", "--bypass"});
    EXPECT_TRUE(BitIdentical(out.samples, Stereo(tracks[2], tracks[2]).samples));

    // Through the plug-in, a picked channel sounds exactly like a mono file of it.
    WriteAudio(dir / "third.wav", Mono(tracks[2]), kWavFloat);
    out = Render(Path("four.wav"), "picked.wav", {"--channels", "3"});
    EXPECT_TRUE(BitIdentical(out.samples, Render(Path("third.wav"), "mono.wav").samples));

    // Of a stereo file, the right channel alone, or the two swapped.
    WriteAudio(dir / "stereo.wav", Stereo(tracks[0], tracks[1]), kWavFloat);
    out = Render(Path("stereo.wav"), "right.wav", {"--channels", "2", "--bypass"});
    EXPECT_TRUE(BitIdentical(out.samples, Stereo(tracks[1], tracks[1]).samples));
    std::string report;
    out = Render(Path("stereo.wav"), "swapped.wav", {"--channels", "2,1", "--bypass", "--verbose"}, &report);
    EXPECT_TRUE(BitIdentical(out.samples, Stereo(tracks[1], tracks[0]).samples));
    EXPECT_NE(report.find("input: WAV (Microsoft), 32 bit float, 2 channels, 22050 frames read, channels 2,1 used"),
              std::string::npos)
        << report;
}

// A recording cut short: its header promises a second, the file holds less.
TEST_F(RenderTool, ShortInputWarnsAndStrictFailsCleanly)
{
    const std::vector<float> signal = PluckedTestSignal(kRate, 1.0);
    struct Case {
        const char* name;
        int format;
    };
    for (const Case& c : {Case{"cut.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24}, Case{"cut.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                          Case{"cut.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16}}) {
        SCOPED_TRACE(c.name);
        ScratchDir scratch;
        const std::filesystem::path in = scratch / c.name, out = scratch / "out.wav";
        WriteAudio(in, Stereo(signal, signal), c.format);
        RunResult r = RunRender({in.string(), out.string(), "--quiet"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "") << "a whole file is not short";
        std::filesystem::resize_file(in, std::filesystem::file_size(in) * 6 / 10);
        const std::int64_t held = ReadAudio(in).Frames();
        ASSERT_LT(held, kRate);

        r = RunRender({in.string(), out.string(), "--quiet", "--tail", "0.1"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::string expected = "corvex-render: warning: input file \"" + in.string() + "\" is short: " +
                                     std::to_string(held) + " of the 44100 frames its header promises";
        EXPECT_EQ(r.err.find(expected), 0u) << r.err;
        EXPECT_EQ(ReadAudio(out).Frames(), held + kRate / 10) << "what was read, and the tail";

        std::filesystem::remove(out);
        r = RunRender({in.string(), out.string(), "--quiet", "--strict"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err.find("corvex-render: error: input file \"" + in.string() + "\" is short: "), 0u) << r.err;
        EXPECT_NE(r.err.find("; nothing written (--strict)"), std::string::npos) << r.err;
        EXPECT_EQ(scratch.Entries(), std::vector<std::string>{c.name}) << "no output, no partial file";
    }
}

TEST_F(RenderTool, InterruptedRenderLeavesNoOutput)
{
    WriteAudio(dir / "in.wav", Mono(PluckedTestSignal(kRate, 0.5)), kWavFloat);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDERR_FILENO);
        // Ten minutes of tail in one-sample blocks: far longer than the signal below takes to arrive.
        execl(CORVEX_RENDER_EXE, CORVEX_RENDER_EXE, Path("in.wav").c_str(), Path("out.wav").c_str(), "--tail", "600",
              "--block", "1", "--quiet", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.wav"});
}

TEST_F(RenderTool, DemoIsDeterministicAudibleAndWithinFullScale)
{
    RunResult r = RunRender({"--demo", Path("demo1.wav"), "--format", "wav32f", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = RunRender({"--demo", Path("demo2.wav"), "--format", "wav32f", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Audio demo = ReadAudio(dir / "demo1.wav");
    EXPECT_EQ(ReadBytes(dir / "demo1.wav"), ReadBytes(dir / "demo2.wav"));
    EXPECT_EQ(demo.sampleRate, 44100);
    EXPECT_EQ(demo.channels, 2);
    EXPECT_EQ(demo.Frames(), 13 * 44100); // 10 s phrase and 3 s of ringing out
    for (float s : demo.samples)
        ASSERT_TRUE(std::isfinite(s));
    EXPECT_LE(Peak(demo), 1.0f);
    EXPECT_GT(Peak(demo), 0.1f); // clearly audible
    // Every second of the phrase plays something.
    for (int second = 0; second < 10; ++second) {
        double energy = 0.0;
        for (std::int64_t f = second * 44100; f < (second + 1) * 44100; ++f)
            energy += demo.Sample(f, 0) * demo.Sample(f, 0);
        EXPECT_GT(10.0 * std::log10(energy / 44100 + 1e-30), -50.0) << "second " << second;
    }
    bool stereo = false;
    for (std::int64_t f = 0; f < demo.Frames() && !stereo; ++f)
        stereo = demo.Sample(f, 0) != demo.Sample(f, 1);
    EXPECT_TRUE(stereo);

    r = RunRender({"--demo-dry", Path("dry.wav"), "--format", "wav32f"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Audio dry = ReadAudio(dir / "dry.wav");
    EXPECT_EQ(dry.Frames(), 10 * 44100);
    EXPECT_NEAR(20.0 * std::log10(Peak(dry)), -6.0, 0.01); // DI level
    for (std::int64_t f = 0; f < dry.Frames(); ++f)
        ASSERT_EQ(dry.Sample(f, 0), dry.Sample(f, 1));
    EXPECT_NE(r.out.find("dry"), std::string::npos);
}

} // namespace
