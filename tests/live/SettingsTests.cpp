// The files corvex keeps between runs: refused whole when anything in them is wrong, and what is
// saved in them serves the next start.

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <tuple>

#include "LiveTestSupport.h"
#include "RenderTestSupport.h"
#include "FactoryPresets.h"
#include "PresetFolder.h"
#include "PresetStrip.h"
#include "Settings.h"

namespace {

using namespace corvex::live;
using namespace std::chrono_literals;
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
    s.midiInput = "a2j:Pedal [20] (capture): Pedal MIDI 1";
    s.alsaMidiInput = "20:0";
    s.midiChannel = 15;
    s.midiMap.Bind(40, corvex::kDistortionLevel);
    s.midiMap.Bind(41, corvex::kDelayOnOff, true);
    s.midiMap.Bind(24, 0);
    s.midiMap.Bind(20, corvex::kBypass);
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
                             "backend = alsa\noutputs = one\n", "backend = alsa\nperiod = 8\n",
                             "backend = alsa\nperiod = 16384\n", "backend = alsa\nrate = 384000\n",
                             "backend = alsa\ntempo = 19.9\n", "backend = alsa\ntempo = 1000\n",
                             "backend = alsa\ninputs = a:1,a:2,a:3\n", "backend = alsa\nconnect = maybe\n",
                             "backend = alsa\ndevice =\n", "backend = alsa\nmidi-channel = 0\n",
                             "backend = alsa\nmidi-channel = 17\n", "backend = alsa\ncc 128 = 5\n",
                             "backend = alsa\ncc 40 = 13\n", "backend = alsa\ncc 40 = 18\n",
                             "backend = alsa\ncc 40 = 5 toggled\n", "backend = alsa\ncc 40 = none toggle\n"}) {
        WriteBytes(path, text);
        std::string warning;
        EXPECT_EQ(ReadAudioSettings(path, warning), AudioSettings{}) << text;
        EXPECT_NE(warning.find(path), std::string::npos) << text;
        EXPECT_EQ(warning.find('\n'), std::string::npos);
    }
    // The ends of each range are in it.
    for (const auto& [text, period, tempo] : {std::tuple{"period = 16\ntempo = 20\n", 16, 20.0},
                                              std::tuple{"period = 8192\ntempo = 999\n", 8192, 999.0}}) {
        WriteBytes(path, text);
        std::string warning;
        const AudioSettings read = ReadAudioSettings(path, warning);
        EXPECT_EQ(warning, "") << text;
        EXPECT_EQ(read.period, period);
        EXPECT_EQ(read.tempo, tempo);
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
    refused(State(good) + "x", "its cabinet IR");
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

// A rewrite replaces the file: a reader that opened the old one still reads it whole, and
// nothing is left open or behind.
TEST(LiveSettings, ARewriteReplacesTheFileWhole)
{
    ScratchDir dir;
    const std::string path = (dir / "audio.conf").string();
    const std::string before(4096, '#');
    const std::string after = "backend = jack\n";
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(path, before, error)) << error;
    std::ifstream reader(path, std::ios::binary);
    ASSERT_TRUE(reader);
    auto openDescriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator());
    };
    const auto descriptors = openDescriptors();
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(WriteFileAtomically(path, after, error)) << error;
    EXPECT_EQ(openDescriptors(), descriptors);
    const std::string seen((std::istreambuf_iterator<char>(reader)), std::istreambuf_iterator<char>());
    EXPECT_EQ(seen, before) << "the old file was written into";
    std::ifstream now(path, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(now)), std::istreambuf_iterator<char>()), after);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()), 1);
}

TEST(LiveSettings, AnUnwritableFolderIsReported)
{
    std::string error;
    EXPECT_FALSE(WriteFileAtomically("/proc/corvex-test/audio.conf", "x", error));
    EXPECT_NE(error.find("/proc/corvex-test/audio.conf"), std::string::npos) << error;
}

// The preset strip as a player uses it, one row after another on one folder of the user's: what
// each action shows, asks and leaves in the folder. A damaged file there is reported once and
// left alone.
TEST(LiveSettings, ThePresetStripStepsSavesRenamesAndDeletes)
{
    using Action = CPresetStrip::Action;
    using Mode = CPresetStrip::Mode;
    ScratchDir dir;
    WriteBytes(dir / "Broken.vstpreset", "VST3 and nothing else");
    corvex::PresetControls controls{}; // what the panel shows; each row turns the first control
    std::string chosen = "Corvex Default";
    std::vector<std::string> warnings;
    CPresetStrip strip(dir.Path().string(),
                       {[&](const corvex::PresetControls& values) {
                            controls = values;
                            return true;
                        },
                        [&] { return controls; }, [&](const std::string& name) { chosen = name; },
                        [&](const std::string& message) { warnings.push_back(message); }});
    ASSERT_TRUE(strip.Show("corvex default"));

    struct Row {
        Action action;
        const char* typed; // before the action, in an entry
        Mode mode;
        const char* shown;
        std::vector<std::string> yours; // the user's presets listed
        const char* message;            // part of the strip's message or question
    };
    const Row rows[] = {
        {Action::Next, "", Mode::Browse, "Clean", {}, ""},
        {Action::Previous, "", Mode::Browse, "Corvex Default", {}, ""},
        {Action::Previous, "", Mode::Browse, "Wide Lead", {}, ""}, // round the list
        {Action::Rename, "", Mode::Browse, "Wide Lead", {}, "keeps its name"},
        {Action::Delete, "", Mode::Browse, "Wide Lead", {}, "cannot be deleted"},
        {Action::Save, "", Mode::Entry, "Wide Lead", {}, "Save as"}, // a factory preset is saved as another
        {Action::Yes, "Mine", Mode::Browse, "Mine", {"Mine"}, "saved \"Mine\""},
        {Action::SaveAs, "", Mode::Entry, "Mine", {"Mine"}, "Save as"},
        {Action::Yes, "Crunch", Mode::Entry, "Mine", {"Mine"}, "factory preset's name"},
        {Action::No, "", Mode::Browse, "Mine", {"Mine"}, ""},
        {Action::Save, "", Mode::Confirm, "Mine", {"Mine"}, "Overwrite \"Mine\"?"},
        {Action::No, "", Mode::Browse, "Mine", {"Mine"}, ""},
        {Action::SaveAs, "", Mode::Entry, "Mine", {"Mine"}, ""},
        {Action::Yes, " Other", Mode::Browse, "Other", {"Mine", "Other"}, "saved \"Other\""},
        {Action::SaveAs, "", Mode::Entry, "Other", {"Mine", "Other"}, ""},
        {Action::Yes, "MINE", Mode::Confirm, "Other", {"Mine", "Other"}, "Overwrite \"Mine\"?"}, // any case
        {Action::Yes, "", Mode::Browse, "Mine", {"Mine", "Other"}, "saved \"Mine\""},
        {Action::Rename, "", Mode::Entry, "Mine", {"Mine", "Other"}, "Rename to"},
        {Action::Yes, "Other", Mode::Entry, "Mine", {"Mine", "Other"}, "exists already"},
        {Action::Yes, "Lead/Solo", Mode::Browse, "Lead_Solo", {"Lead_Solo", "Other"}, "renamed"},
        {Action::Next, "", Mode::Browse, "Other", {"Lead_Solo", "Other"}, ""},
        {Action::Delete, "", Mode::Confirm, "Other", {"Lead_Solo", "Other"}, "Delete \"Other\"?"},
        {Action::Yes, "", Mode::Browse, "", {"Lead_Solo"}, "deleted"},
        {Action::Next, "", Mode::Browse, "Corvex Default", {"Lead_Solo"}, ""},
        {Action::Previous, "", Mode::Browse, "Lead_Solo", {"Lead_Solo"}, ""},
    };
    int row = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(row++);
        controls[0] = static_cast<float>(row) / 32.0f;
        const corvex::PresetControls saving = controls;
        if (*r.typed) {
            while (!strip.Text().empty())
                strip.Erase();
            strip.Type(r.typed);
        }
        strip.Press(r.action);
        EXPECT_EQ(strip.CurrentMode(), r.mode);
        EXPECT_EQ(strip.Name(), r.shown);
        std::vector<std::string> yours;
        for (const corvex::PresetEntry& entry : strip.List())
            if (!entry.path.empty())
                yours.push_back(entry.name);
        EXPECT_EQ(yours, r.yours);
        const std::string said = strip.Message() + (r.mode == Mode::Browse ? "" : strip.Prompt());
        EXPECT_NE(said.find(r.message), std::string::npos) << said;
        if (r.mode == Mode::Browse) {
            EXPECT_EQ(chosen, r.shown);
        }
        // A preset stepped to is applied; one saved holds the panel's controls of that moment.
        if ((r.action == Action::Next || r.action == Action::Previous) && *r.shown) {
            EXPECT_EQ(controls, corvex::FindPreset(strip.List(), r.shown)->values);
        }
        if (std::string(r.message).rfind("saved", 0) == 0) {
            EXPECT_EQ(corvex::FindPreset(strip.List(), r.shown)->values, saving);
        }
    }
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("Broken.vstpreset"), std::string::npos) << warnings[0];
    EXPECT_EQ(live_test::ReadText(dir / "Broken.vstpreset"), "VST3 and nothing else");
}

// --list-presets prints what corvex-render prints, the user's presets after the factory ones; a
// damaged file is named and skipped.
TEST(LiveSettings, ListPresetsAsTheRendererDoes)
{
    ScratchDir dir;
    const std::string folder = (dir / ".vst3" / "presets").string() + "/" + corvex::PresetFolder();
    std::string error;
    ASSERT_TRUE(corvex::SaveUserPreset(folder, "Mine", corvex::kFactoryPresets[1].values, false, error)) << error;
    WriteBytes(std::filesystem::path(folder) / "Broken.vstpreset", "nothing");
    const std::vector<std::string> home{"HOME=" + dir.Path().string()};
    live_test::Child corvex({live_test::CorvexExe(), "--list-presets"}, home, dir.Path());
    live_test::Child render({CORVEX_RENDER_EXE, "--list-presets"}, home, dir.Path());
    ASSERT_EQ(corvex.Wait(20s), 0) << corvex.Err();
    ASSERT_EQ(render.Wait(20s), 0) << render.Err();
    EXPECT_EQ(corvex.Out(), render.Out());
    EXPECT_EQ(corvex.Out().rfind("Mine               yours: " + folder + "/Mine.vstpreset\n"),
              corvex.Out().size() - std::strlen("Mine               yours: /Mine.vstpreset\n") - folder.size());
    EXPECT_NE(corvex.Err().find("Broken.vstpreset\": "), std::string::npos) << corvex.Err();
}

// What a user relies on: an option corvex saves serves the next start without options, even when
// it is the only thing that changed; a bad one changes nothing saved. One settings folder through the rows, as one user's runs
// follow each other; each plain start runs on a terminal, whose status line shows the tempo in use.
// On the fixture's JACK server, and the ALSA test device of HOME's asoundrc.
TEST(LiveSettingsUsed, EachSavedOptionServesTheNextPlainStart)
{
    constexpr auto kLimit = 20s;
    ScratchDir dir;
    live_test::WriteAsoundrc(dir);
    std::ofstream(dir / "in.raw", std::ios::binary) << std::string(1 << 20, '\0');
    const std::vector<std::string> environment = live_test::AlsaEnvironment(dir);
    jack_client_t* client = jack_client_open("corvex-test-settings", JackNoStartServer, nullptr);
    ASSERT_NE(client, nullptr);
    ASSERT_NE(jack_port_register(client, "pedal", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0), nullptr);
    ASSERT_EQ(jack_activate(client), 0);

    // What the plain start shows, and what its ports are connected to (in_1, in_2, out_1, out_2
    // and midi_in; nothing to check on ALSA).
    using Wiring = std::vector<std::vector<std::string>>;
    struct Row {
        std::vector<std::string> option;
        std::vector<std::string> shown;
        Wiring wiring;
        bool refused = false; // a bad option: refused, and nothing saved changes
    };
    const Wiring physical{{"system:capture_1"}, {"system:capture_2"}, {"system:playback_1"}, {"system:playback_2"}};
    const Row rows[] = {
        {{"--tempo", "97"}, {"JACK client", "97 BPM"}, physical},
        {{"--in", "system:capture_2"}, {"97 BPM"}, {{"system:capture_2"}, {}, {"system:playback_1"}, {"system:playback_2"}}},
        {{"--out", "system:playback_2,system:playback_1"},
         {"97 BPM"},
         {{"system:capture_2"}, {}, {"system:playback_2"}, {"system:playback_1"}}},
        {{"--no-connect"}, {"97 BPM"}, {{}, {}, {}, {}}},
        {{"--midi-channel", "16"}, {"channel 16", "97 BPM"}, {{}, {}, {}, {}, {}}},
        {{"--midi-in", "corvex-test-settings:pedal"}, {"channel 16"}, {{}, {}, {}, {}, {"corvex-test-settings:pedal"}}},
        {{"--midi-channel", "0"}, {"channel 16"}, {{}, {}, {}, {}, {"corvex-test-settings:pedal"}}, true},
        {{"--alsa", "corvextest"}, {"ALSA device \"corvextest\" at 48000 Hz, 128 frames", "97 BPM"}, {}},
        {{"--period", "64"}, {"ALSA device \"corvextest\" at 48000 Hz, 64 frames", "97 BPM"}, {}},
        {{"--rate", "44100"}, {"ALSA device \"corvextest\" at 44100 Hz, 64 frames", "97 BPM"}, {}},
        {{"--tempo", "nan"}, {"ALSA device \"corvextest\" at 44100 Hz, 64 frames", "97 BPM"}, {}, true},
        {{"--alsa", "corvextest\nrate = 1"}, {"ALSA device \"corvextest\" at 44100 Hz, 64 frames", "97 BPM"}, {}, true},
        // The preset chosen is shown at the next start, and a name not in the list changes nothing.
        {{"--preset", "tight rhythm"}, {"64 frames", "preset \"Tight Rhythm\""}, {}},
        {{"--preset", "Nonesuch"}, {"64 frames", "preset \"Tight Rhythm\""}, {}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.option.front());
        std::vector<std::string> args{live_test::CorvexExe(), "--no-gui"};
        args.insert(args.end(), row.option.begin(), row.option.end());
        {
            live_test::Child once(args, environment, dir.Path());
            if (row.refused) {
                EXPECT_EQ(once.Wait(kLimit), 2);
                EXPECT_NE(once.Err().find(row.option.front()), std::string::npos) << once.Err();
            } else {
                ASSERT_TRUE(once.WaitForOutput("corvex: playing through", kLimit)) << once.Err();
                once.Signal(SIGTERM);
                ASSERT_EQ(once.Wait(kLimit), 0) << once.Err();
            }
        }
        live_test::Child plain = live_test::OnATerminal(dir, "--no-gui", environment);
        for (const std::string& text : row.shown)
            EXPECT_TRUE(plain.WaitForOutput(text, kLimit)) << text << " in:\n" << plain.Out();
        const char* const ports[] = {"Corvex:in_1", "Corvex:in_2", "Corvex:out_1", "Corvex:out_2", "Corvex:midi_in"};
        for (std::size_t p = 0; p < row.wiring.size(); ++p)
            EXPECT_EQ(live_test::Connections(client, ports[p]), row.wiring[p]) << ports[p];
        EXPECT_EQ(plain.Out().find("warning"), std::string::npos) << plain.Out();
        const pid_t corvex = live_test::CorvexOnTheTerminal(plain);
        ASSERT_GT(corvex, 0);
        kill(corvex, SIGTERM);
        EXPECT_EQ(plain.Wait(kLimit), 0) << plain.Out();
    }
    jack_client_close(client);
}

} // namespace
