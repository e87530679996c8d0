// corvex on a real JACK server (the fixture's, dummy backend): what a player hears, and how it
// ends.

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <fstream>

#include "FactoryPresets.h"
#include "LiveTestSupport.h"

using namespace live_test;
using namespace std::chrono_literals;

namespace {

constexpr auto kStartLimit = 20s;
constexpr auto kExitLimit = 20s;
constexpr const char* kPlaying = "corvex: playing through";

// The signal both sides get: a plucked phrase on the left, a quieter tone on the right (which
// Corvex ignores at its default "Input Selection").
struct Phrase {
    std::vector<float> left, right;
    explicit Phrase(int rate, std::size_t frames)
    {
        left = render_test::PluckedTestSignal(rate, static_cast<double>(frames) / rate + 0.01);
        left.resize(frames);
        right.resize(frames);
        for (std::size_t i = 0; i < frames; ++i)
            right[i] = 0.5f * left[(i * 7) % frames];
    }
};

// corvex-render's output for the same input and period, as a host that is not live renders it.
render_test::Audio Render(const ScratchDir& dir, const Phrase& phrase, int rate, int period,
                          const std::vector<std::string>& extra = {})
{
    render_test::Audio in;
    in.sampleRate = rate;
    in.channels = 2;
    for (std::size_t i = 0; i < phrase.left.size(); ++i) {
        in.samples.push_back(phrase.left[i]);
        in.samples.push_back(phrase.right[i]);
    }
    render_test::WriteAudio(dir / "in.wav", in, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<std::string> args{(dir / "in.wav").string(), (dir / "out.wav").string(), "--block",
                                  std::to_string(period), "--format", "wav32f", "-q"};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto result = render_test::RunRender(args);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return render_test::ReadAudio(dir / "out.wav");
}

// The xrun count on the latest complete status line ("... xruns N" and clear-to-end-of-line); -1
// before the first.
long long StatusLineXruns(const std::string& shown)
{
    const std::string label = "xruns ";
    const std::size_t end = shown.rfind("\033[K");
    const std::size_t start = end == std::string::npos ? end : shown.rfind(label, end);
    if (start == std::string::npos)
        return -1;
    return Count(shown.substr(start + label.size(), end - start - label.size()));
}

std::size_t FirstDifference(const std::vector<float>& recorded, const render_test::Audio& rendered, int channel)
{
    for (std::size_t i = 0; i < recorded.size(); ++i)
        if (std::memcmp(&recorded[i], &rendered.samples[i * 2 + static_cast<std::size_t>(channel)], 4) != 0)
            return i;
    return recorded.size();
}

// Both recorded channels are the renderer's output bit for bit, and the left one is not silence
// passing for equality.
void ExpectTheRecordingIsTheRender(const JackRig& rig, const render_test::Audio& rendered, std::size_t frames)
{
    EXPECT_EQ(FirstDifference(rig.Left(), rendered, 0), frames);
    EXPECT_EQ(FirstDifference(rig.Right(), rendered, 1), frames);
    float peak = 0.0f;
    for (float v : rig.Left())
        peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 0.1f);
}

TEST(LiveJack, RecordingEqualsTheRendererBitForBit)
{
    ScratchDir dir;
    Child corvex({CorvexExe(), "--no-gui", "--no-connect"}, CorvexEnvironment(dir.Path()), dir.Path());
    ASSERT_TRUE(corvex.WaitForOutput(kPlaying, kStartLimit)) << corvex.Err();

    JackRig probe({}, {}, 0);
    ASSERT_TRUE(probe.Ok());
    const int rate = static_cast<int>(probe.Rate());
    const int period = static_cast<int>(probe.Period());
    const std::size_t frames = static_cast<std::size_t>(period) * 160;
    const Phrase phrase(rate, frames);
    JackRig rig(phrase.left, phrase.right, frames);
    ASSERT_TRUE(rig.Ok());
    ASSERT_TRUE(rig.Connect());
    ASSERT_TRUE(rig.WaitForRecording(30s)) << rig.Recorded() << " of " << frames << " frames recorded";

    const render_test::Audio rendered = Render(dir, phrase, rate, period);
    ASSERT_EQ(rendered.Frames(), static_cast<std::int64_t>(frames));
    SCOPED_TRACE("period " + std::to_string(period));
    ExpectTheRecordingIsTheRender(rig, rendered, frames);

    corvex.Signal(SIGTERM);
    EXPECT_EQ(corvex.Wait(kExitLimit), 0) << corvex.Err();
}

// A guitar on one input (--in with one port, or wired by hand): corvex plays from the first
// period in which that input is connected, the unconnected one silent.
TEST(LiveJack, OneInputConnectedIsEnoughToPlay)
{
    ScratchDir dir;
    Child corvex({CorvexExe(), "--no-gui", "--no-connect"}, CorvexEnvironment(dir.Path()), dir.Path());
    ASSERT_TRUE(corvex.WaitForOutput(kPlaying, kStartLimit)) << corvex.Err();
    JackRig probe({}, {}, 0);
    ASSERT_TRUE(probe.Ok());
    const int rate = static_cast<int>(probe.Rate());
    const int period = static_cast<int>(probe.Period());
    const std::size_t frames = static_cast<std::size_t>(period) * 40;
    Phrase phrase(rate, frames);
    phrase.right.assign(frames, 0.0f);
    JackRig rig(phrase.left, phrase.right, frames);
    ASSERT_TRUE(rig.Ok());
    ASSERT_TRUE(rig.Connect("Corvex", true));
    ASSERT_TRUE(rig.WaitForRecording(30s)) << rig.Recorded() << " of " << frames << " frames recorded";

    const render_test::Audio rendered = Render(dir, phrase, rate, period);
    ASSERT_EQ(rendered.Frames(), static_cast<std::int64_t>(frames));
    ExpectTheRecordingIsTheRender(rig, rendered, frames);
    corvex.Signal(SIGTERM);
    EXPECT_EQ(corvex.Wait(kExitLimit), 0) << corvex.Err();
}

TEST(LiveJack, ATimebaseMastersTempoDrivesTheDelay)
{
    ScratchDir dir;
    Child corvex({CorvexExe(), "--no-gui", "--no-connect", "--tempo", "120"}, CorvexEnvironment(dir.Path()), dir.Path());
    ASSERT_TRUE(corvex.WaitForOutput(kPlaying, kStartLimit)) << corvex.Err();
    JackRig probe({}, {}, 0);
    ASSERT_TRUE(probe.Ok());
    const int rate = static_cast<int>(probe.Rate());
    const int period = static_cast<int>(probe.Period());
    // Long enough for the first echo at the slower tempo (an eighth note at 87 BPM: 0.34 s).
    const std::size_t frames = static_cast<std::size_t>(period) * ((rate / 2) / period + 1);
    const Phrase phrase(rate, frames);
    JackRig rig(phrase.left, phrase.right, frames);
    ASSERT_TRUE(rig.Ok());
    ASSERT_TRUE(rig.BecomeTimebaseMaster(87.0, 10s));
    ASSERT_TRUE(rig.Connect());
    ASSERT_TRUE(rig.WaitForRecording(30s));

    const render_test::Audio at87 = Render(dir, phrase, rate, period, {"--tempo", "87"});
    EXPECT_EQ(FirstDifference(rig.Left(), at87, 0), frames);
    const render_test::Audio at120 = Render(dir, phrase, rate, period, {"--tempo", "120"});
    EXPECT_LT(FirstDifference(rig.Left(), at120, 0), frames) << "the tempo must be audible in this phrase";
    corvex.Signal(SIGTERM);
    EXPECT_EQ(corvex.Wait(kExitLimit), 0) << corvex.Err();
}

TEST(LiveJack, SigtermWhilePlayingSavesTheStateAndExitsCleanly)
{
    ScratchDir dir;
    // Start from a state of the player's own: its settings must come back in the saved file.
    std::vector<unsigned char> state(80, 0);
    std::vector<float> values{1.0f, 1.0f, 1.0f, 0.6f, 1.0f, 0.9f, 0.0f, 1.0f, 0.0f, 0.1f, 1.0f, 0.5f, 0.25f};
    values.resize(20, 0.0f);
    std::memcpy(state.data(), values.data(), 80);
    std::ofstream(dir / "mine.state", std::ios::binary).write(reinterpret_cast<const char*>(state.data()), 80);

    Child corvex({CorvexExe(), "--no-gui", "--state", (dir / "mine.state").string()}, CorvexEnvironment(dir.Path()),
                 dir.Path());
    ASSERT_TRUE(corvex.WaitForOutput(kPlaying, kStartLimit)) << corvex.Err();
    corvex.Signal(SIGTERM);
    ASSERT_EQ(corvex.Wait(kExitLimit), 0) << corvex.Err();
    EXPECT_EQ(corvex.Err(), "");
    EXPECT_NE(corvex.Out().find("xruns"), std::string::npos) << corvex.Out();

    const auto saved = render_test::ReadBytes(dir / "corvex" / "last.state");
    ASSERT_EQ(saved.size(), 80u);
    const std::vector<float> floats = StateFloats(saved);
    for (int id = 1; id <= 12; ++id)
        EXPECT_EQ(floats[static_cast<std::size_t>(id)], values[static_cast<std::size_t>(id)]) << id;
    // The next start picks the saved state up, and SIGINT ends it the same way.
    Child again({CorvexExe(), "--no-gui"}, CorvexEnvironment(dir.Path()), dir.Path());
    ASSERT_TRUE(again.WaitForOutput(kPlaying, kStartLimit)) << again.Err();
    again.Signal(SIGINT);
    ASSERT_EQ(again.Wait(kExitLimit), 0) << again.Err();
    EXPECT_EQ(again.Err(), "");
    EXPECT_EQ(render_test::ReadBytes(dir / "corvex" / "last.state"), saved);
    const std::string audio = ReadText(dir / "corvex" / "audio.conf");
    EXPECT_NE(audio.find("backend = jack"), std::string::npos) << audio;
}

TEST(LiveJack, HeadlessOnATerminalShowsAStatusLine)
{
    ScratchDir dir;
    Child terminal = OnATerminal(dir, "--no-gui --tempo 133");
    ASSERT_TRUE(terminal.WaitForOutput("xruns", kStartLimit)) << terminal.Out() << terminal.Err();
    EXPECT_NE(terminal.Out().find("\r133 BPM  out"), std::string::npos) << terminal.Out();
    const pid_t corvex = CorvexOnTheTerminal(terminal);
    ASSERT_GT(corvex, 0);
    kill(corvex, SIGTERM);
    EXPECT_EQ(terminal.Wait(kExitLimit), 0);
    EXPECT_NE(terminal.Out().find("corvex: stopped after"), std::string::npos) << terminal.Out();
}

// A pedalboard's tuner: the status line (a line each 0.1 s into a pipe) names the note of the
// selected (left) input, its cents and its frequency.
TEST(LiveJack, TheTunersStatusLineShowsTheNoteCentsAndFrequency)
{
    ScratchDir dir;
    Child corvex({CorvexExe(), "--tuner", "--no-connect"}, CorvexEnvironment(dir.Path()), dir.Path());
    ASSERT_TRUE(corvex.WaitForOutput(kPlaying, kStartLimit)) << corvex.Err();
    JackRig probe({}, {}, 0);
    ASSERT_TRUE(probe.Ok());
    const double rate = probe.Rate();
    std::vector<float> tone(static_cast<std::size_t>(rate * 3.0)), silence(tone.size(), 0.0f);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 110.0 * static_cast<double>(i) / rate));
    JackRig rig(tone, silence, 1);
    ASSERT_TRUE(rig.Ok());
    ASSERT_TRUE(rig.Connect());
    ASSERT_TRUE(corvex.WaitForOutput("A2 ", 10s)) << corvex.Out();
    const std::string out = corvex.Out();
    const std::size_t line = out.find("A2 ");
    double cents = 99.0, hertz = 0.0;
    ASSERT_EQ(std::sscanf(out.c_str() + line, "A2 %lf cents %lf Hz", &cents, &hertz), 2) << out.substr(line, 60);
    EXPECT_NEAR(cents, 0.0, 1.0);
    EXPECT_NEAR(hertz, 110.0, 0.1);
    EXPECT_NE(out.find("\n-  xruns"), std::string::npos) << "no line for the silence before the tone";
    corvex.Signal(SIGTERM);
    EXPECT_EQ(corvex.Wait(kExitLimit), 0) << corvex.Err();
}

// A client feeding corvex runs late once, long enough for the server to report an xrun to every
// client. corvex counts it while playing and at exit: no fewer xruns than that client heard, and
// none a client present for all of corvex's run did not hear.
TEST(LiveJack, AnXrunIsCountedOnTheStatusLineAndAtExit)
{
    constexpr int kLatePeriods = 8;
    ScratchDir dir;
    XrunCounter server;
    ASSERT_TRUE(server.Ok());
    Child terminal = OnATerminal(dir, "--no-gui --no-connect");
    ASSERT_TRUE(terminal.WaitForOutput("xruns", kStartLimit)) << terminal.Out() << terminal.Err();
    const pid_t corvex = CorvexOnTheTerminal(terminal);
    ASSERT_GT(corvex, 0);

    std::uint64_t heard = 0;
    {
        const std::size_t frames = 8192;
        const Phrase phrase(48000, frames);
        JackRig rig(phrase.left, phrase.right, frames);
        ASSERT_TRUE(rig.Ok());
        ASSERT_TRUE(rig.Connect());
        ASSERT_TRUE(rig.WaitForRecording(30s)) << "corvex is not playing";
        const std::uint64_t before = rig.Xruns();
        rig.Overrun(std::chrono::microseconds(1000000LL * kLatePeriods * rig.Period() / rig.Rate()));
        ASSERT_TRUE(WaitUntil([&] { return rig.Xruns() > before; }, 10s)) << "the server reported no xrun";
        heard = rig.Xruns();
    }
    ASSERT_TRUE(WaitUntil([&] { return StatusLineXruns(terminal.Out()) >= static_cast<long long>(heard); }, 20s))
        << heard << " xruns heard by the late client, " << StatusLineXruns(terminal.Out()) << " on corvex's status line";
    kill(corvex, SIGTERM);
    ASSERT_EQ(terminal.Wait(kExitLimit), 0) << terminal.Out();
    const long long counted = ExitLineXruns(terminal.Out());
    EXPECT_GE(counted, 1) << terminal.Out();
    EXPECT_GE(counted, static_cast<long long>(heard)) << terminal.Out();
    EXPECT_TRUE(WaitUntil([&] { return static_cast<long long>(server.Xruns()) >= counted; }, 10s))
        << "corvex counted " << counted << " xruns, the server reported " << server.Xruns();
}

// A foot controller on another JACK client: Program Change and Control Change are followed (and
// saved as the knobs are; the preset strip names the program), the wiring is remembered, and the next start plays on from there.
TEST(LiveJack, ProgramAndControlChangesFromAnotherClientAreFollowedAndKept)
{
    ScratchDir dir;
    MidiSender pedal;
    ASSERT_TRUE(pedal.Ok());
    const auto saved = [&] { return StateFloats(render_test::ReadBytes(dir / "corvex" / "last.state")); };
    const auto shown = [&] {
        std::string text;
        for (float v : saved())
            text += std::to_string(v) + " ";
        return text;
    };
    std::vector<float> want(20, 0.0f);
    want[0] = 1.0f;
    const corvex::FactoryPreset& preset = corvex::kFactoryPresets[3];
    for (std::size_t id = 1; id <= 12; ++id)
        want[id] = preset.values[id - 1];
    want[5] = 16.0f / 127;
    {
        Child corvex({CorvexExe(), "--no-gui", "--midi-in", MidiSender::kPort}, CorvexEnvironment(dir.Path()), dir.Path());
        ASSERT_TRUE(corvex.WaitForOutput("corvex: MIDI input Corvex:midi_in, channel omni", kStartLimit)) << corvex.Err();
        const float level = want[5];
        want[5] = preset.values[4];
        ASSERT_TRUE(pedal.Send({{0xC0, 3}}, 10s));
        EXPECT_TRUE(WaitUntil([&] { return saved() == want; }, 20s)) << "the preset: " << shown();
        EXPECT_TRUE(corvex.WaitForOutput(std::string("corvex: preset \"") + preset.name + "\"", 20s)) << corvex.Out();
        want[5] = level;
        ASSERT_TRUE(pedal.Send({{0xB0, 24, 16}}, 10s));
        EXPECT_TRUE(WaitUntil([&] { return saved() == want; }, 20s)) << "the level: " << shown();
        corvex.Signal(SIGTERM);
        ASSERT_EQ(corvex.Wait(kExitLimit), 0) << corvex.Err();
    }
    Child again({CorvexExe(), "--no-gui"}, CorvexEnvironment(dir.Path()), dir.Path());
    ASSERT_TRUE(again.WaitForOutput(kPlaying, kStartLimit)) << again.Err();
    ASSERT_TRUE(pedal.Send({{0xB0, 29, 0}}, 10s));
    want[10] = 0.0f;
    EXPECT_TRUE(WaitUntil([&] { return saved() == want; }, 20s)) << "the reverb switched off, the rest kept: " << shown();
    again.Signal(SIGTERM);
    EXPECT_EQ(again.Wait(kExitLimit), 0) << again.Err();
    EXPECT_EQ(again.Err(), "");
}

TEST(LiveJack, CorruptSettingsGiveAWarningAndTheDefaults)
{
    ScratchDir dir;
    std::filesystem::create_directories(dir / "corvex");
    std::ofstream(dir / "corvex" / "last.state", std::ios::binary) << "short";
    std::ofstream(dir / "corvex" / "audio.conf") << "backend = jack\nperiod = banana\n";

    Child corvex({CorvexExe(), "--no-gui"}, CorvexEnvironment(dir.Path()), dir.Path());
    ASSERT_TRUE(corvex.WaitForOutput(kPlaying, kStartLimit)) << corvex.Err();
    corvex.Signal(SIGTERM);
    ASSERT_EQ(corvex.Wait(kExitLimit), 0) << corvex.Err();

    // One line for each file, naming it.
    const std::string err = corvex.Err();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    EXPECT_NE(err.find("last.state"), std::string::npos) << err;
    EXPECT_NE(err.find("5 bytes"), std::string::npos) << err;
    EXPECT_NE(err.find("audio.conf"), std::string::npos) << err;
    EXPECT_NE(err.find("line 2"), std::string::npos) << err;
    // The defaults ran and were saved in their place.
    const std::vector<float> floats = StateFloats(render_test::ReadBytes(dir / "corvex" / "last.state"));
    ASSERT_EQ(floats.size(), 20u);
    EXPECT_FLOAT_EQ(floats[3], 0.8f);
    EXPECT_FLOAT_EQ(floats[5], 0.55f);
    EXPECT_NE(ReadText(dir / "corvex" / "audio.conf").find("period = 128"), std::string::npos);
    // What was refused is kept.
    EXPECT_EQ(ReadText(dir / "corvex" / "audio.conf.bad"), "backend = jack\nperiod = banana\n");
    EXPECT_EQ(ReadText(dir / "corvex" / "last.state.bad"), "short");
}

TEST(LiveJack, AStateWithAValueOutOfRangeIsRefusedWhole)
{
    ScratchDir dir;
    std::vector<float> values(20, 0.0f);
    values[0] = 1.0f;
    values[3] = 0.3f;
    values[5] = 7.0f; // out of range: nothing of this file may be applied
    std::ofstream(dir / "bad.state", std::ios::binary).write(reinterpret_cast<const char*>(values.data()), 80);
    Child corvex({CorvexExe(), "--no-gui", "--state", (dir / "bad.state").string()}, CorvexEnvironment(dir.Path()),
                 dir.Path());
    ASSERT_TRUE(corvex.WaitForOutput(kPlaying, kStartLimit)) << corvex.Err();
    corvex.Signal(SIGTERM);
    ASSERT_EQ(corvex.Wait(kExitLimit), 0);
    EXPECT_NE(corvex.Err().find("bad.state"), std::string::npos) << corvex.Err();
    const std::vector<float> floats = StateFloats(render_test::ReadBytes(dir / "corvex" / "last.state"));
    ASSERT_EQ(floats.size(), 20u);
    EXPECT_FLOAT_EQ(floats[3], 0.8f); // the default, not 0.3
}

TEST(LiveJack, AMissingPortIsNamed)
{
    ScratchDir dir;
    Child corvex({CorvexExe(), "--no-gui", "--in", "system:capture_1", "--out", "system:playback_1,nowhere:left"},
                 CorvexEnvironment(dir.Path()), dir.Path());
    const int code = corvex.Wait(kExitLimit);
    EXPECT_NE(code, 0);
    EXPECT_NE(code, -1);
    EXPECT_NE(corvex.Err().find("\"nowhere:left\""), std::string::npos) << corvex.Err();

    Child badList({CorvexExe(), "--no-gui", "--out", "system:playback_1"}, CorvexEnvironment(dir.Path()), dir.Path());
    EXPECT_EQ(badList.Wait(kExitLimit), 2);
    EXPECT_NE(badList.Err().find("--out"), std::string::npos) << badList.Err();

    // A MIDI port named is needed; one remembered that has gone (a controller unplugged) is not.
    Child midi({CorvexExe(), "--no-gui", "--midi-in", "pedal:gone"}, CorvexEnvironment(dir.Path()), dir.Path());
    EXPECT_EQ(midi.Wait(kExitLimit), 1);
    EXPECT_NE(midi.Err().find("\"pedal:gone\""), std::string::npos) << midi.Err();
    std::filesystem::create_directories(dir / "corvex");
    std::ofstream(dir / "corvex" / "audio.conf") << "midi-in = pedal:gone\n";
    Child remembered({CorvexExe(), "--no-gui"}, CorvexEnvironment(dir.Path()), dir.Path());
    ASSERT_TRUE(remembered.WaitForOutput(kPlaying, kStartLimit)) << remembered.Err();
    remembered.Signal(SIGTERM);
    EXPECT_EQ(remembered.Wait(kExitLimit), 0);
    EXPECT_NE(remembered.Err().find("warning: the MIDI port \"pedal:gone\" is not there"), std::string::npos)
        << remembered.Err();
}

TEST(LiveJack, PortsNamedOnTheCommandLineAreConnected)
{
    ScratchDir dir;
    Child corvex({CorvexExe(), "--no-gui", "--in", "system:capture_2", "--out", "system:playback_2,system:playback_1"},
                 CorvexEnvironment(dir.Path()), dir.Path());
    ASSERT_TRUE(corvex.WaitForOutput(kPlaying, kStartLimit)) << corvex.Err();
    jack_client_t* client = jack_client_open("corvex-test-ports", JackNoStartServer, nullptr);
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(Connections(client, "Corvex:in_1"), std::vector<std::string>{"system:capture_2"});
    EXPECT_TRUE(Connections(client, "Corvex:in_2").empty());
    EXPECT_EQ(Connections(client, "Corvex:out_1"), std::vector<std::string>{"system:playback_2"});
    EXPECT_EQ(Connections(client, "Corvex:out_2"), std::vector<std::string>{"system:playback_1"});
    jack_client_close(client);
    corvex.Signal(SIGTERM);
    EXPECT_EQ(corvex.Wait(kExitLimit), 0);
}

// Both inputs named, after a session that wired nothing: each goes where it is named, the outputs
// to the first playback ports, and the next start without options wires them the same way.
TEST(LiveJack, BothInputsNamedAreConnectedAndRemembered)
{
    ScratchDir dir;
    {
        Child unwired({CorvexExe(), "--no-gui", "--no-connect"}, CorvexEnvironment(dir.Path()), dir.Path());
        ASSERT_TRUE(unwired.WaitForOutput(kPlaying, kStartLimit)) << unwired.Err();
        unwired.Signal(SIGTERM);
        ASSERT_EQ(unwired.Wait(kExitLimit), 0) << unwired.Err();
    }
    jack_client_t* client = jack_client_open("corvex-test-ports", JackNoStartServer, nullptr);
    ASSERT_NE(client, nullptr);
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--in", "system:capture_2,system:capture_1"},
          std::vector<std::string>{}}) {
        std::vector<std::string> args{CorvexExe(), "--no-gui"};
        args.insert(args.end(), options.begin(), options.end());
        SCOPED_TRACE(options.empty() ? "remembered" : "named");
        Child corvex(args, CorvexEnvironment(dir.Path()), dir.Path());
        ASSERT_TRUE(corvex.WaitForOutput(kPlaying, kStartLimit)) << corvex.Err();
        EXPECT_EQ(Connections(client, "Corvex:in_1"), std::vector<std::string>{"system:capture_2"});
        EXPECT_EQ(Connections(client, "Corvex:in_2"), std::vector<std::string>{"system:capture_1"});
        EXPECT_EQ(Connections(client, "Corvex:out_1"), std::vector<std::string>{"system:playback_1"});
        EXPECT_EQ(Connections(client, "Corvex:out_2"), std::vector<std::string>{"system:playback_2"});
        corvex.Signal(SIGTERM);
        EXPECT_EQ(corvex.Wait(kExitLimit), 0) << corvex.Err();
    }
    jack_client_close(client);
}

TEST(LiveJack, NoServerIsNamedWithTheReason)
{
    ScratchDir dir;
    auto env = CorvexEnvironment(dir.Path());
    env.push_back("JACK_DEFAULT_SERVER=corvex-test-no-such-server");
    Child corvex({CorvexExe(), "--no-gui"}, env, dir.Path());
    EXPECT_EQ(corvex.Wait(kExitLimit), 1);
    EXPECT_NE(corvex.Err().find("\"corvex-test-no-such-server\""), std::string::npos) << corvex.Err();
    EXPECT_NE(corvex.Err().find("no JACK server is running"), std::string::npos) << corvex.Err();
}

// A server of this test's own, since this one is killed.
TEST(LiveJack, TheServerGoingAwayEndsWithAMessageAndTheStateSaved)
{
    ScratchDir dir;
    const std::string state = (dir / "server.jackd").string();
    Child start({"/bin/sh", CORVEX_JACKD_FIXTURE_SCRIPT, "start", state, "48000", "256"}, {}, dir.Path());
    ASSERT_EQ(start.Wait(30s), 0) << start.Err();
    std::ifstream server(state);
    std::string name;
    pid_t serverPid = 0;
    server >> name >> serverPid;

    auto env = CorvexEnvironment(dir.Path());
    env.push_back("JACK_DEFAULT_SERVER=" + name);
    Child corvex({CorvexExe(), "--no-gui"}, env, dir.Path());
    ASSERT_TRUE(corvex.WaitForOutput(kPlaying, kStartLimit)) << corvex.Err();
    kill(serverPid, SIGTERM); // not SIGKILL: the server must leave its slot in JACK's registry
    const int code = corvex.Wait(kExitLimit);
    Child stop({"/bin/sh", CORVEX_JACKD_FIXTURE_SCRIPT, "stop", state}, {}, dir.Path());
    stop.Wait(30s);
    // The semaphores of clients that outlived their server stay behind; they are ours to remove.
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm"))
        if (entry.path().filename().string().rfind("jack_sem.", 0) == 0 &&
            entry.path().filename().string().find(name + "_") != std::string::npos)
            std::filesystem::remove(entry.path());
    EXPECT_EQ(code, 1) << "-1 is a hang";
    EXPECT_NE(corvex.Err().find("went away"), std::string::npos) << corvex.Err();
    EXPECT_NE(corvex.Err().find(name), std::string::npos) << corvex.Err();
    EXPECT_EQ(render_test::ReadBytes(dir / "corvex" / "last.state").size(), 80u);
}

} // namespace
