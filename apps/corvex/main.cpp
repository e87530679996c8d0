// corvex: plays through the Corvex plug-in live, on JACK or ALSA, with its editor in a window of
// its own or headless.

#include <CLI/CLI.hpp>

#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "AlsaBackend.h"
#include "meters/ComputeOutputVumeters.h"
#include "EditorHost.h"
#include "EditorWindow.h"
#include "JackBackend.h"
#include "LiveHost.h"
#include "PluginModule.h"
#include "PresetStrip.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "Settings.h"
#include "TunerAnalyser.h"
#include "version.h"

using namespace corvex::live;
using namespace Steinberg;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr auto kTick = std::chrono::milliseconds(20);
constexpr int kTicksPerStateCheck = 25;  // 0.5 s
constexpr int kTicksPerStatusLine = 10;  // 0.2 s
constexpr int kTicksPerTunerLine = 5;    // 0.1 s
constexpr double kMeterSpanDb = corvex::CComputeOutputVumeters::kOffsetDb; // the meters' 0..1 covers -45..0 dB

const char* const kStateFileName = "last.state";
const char* const kAudioFileName = "audio.conf";
const char* const kPresetFileName = "last.preset";

struct Options {
    bool jack = false;
    std::string alsaDevice;
    int rate = 0;
    int period = 0;
    std::string inputs;
    std::string outputs;
    bool noConnect = false;
    double tempo = 0.0;
    std::string statePath;
    std::string irPath;
    bool noGui = false;
    bool tuner = false;
    double reference = corvex::CPitchDetector::kDefaultReference;
    std::string modulePath;
    std::string presetName;
    bool listPresets = false;
    std::string midiInput;
    std::string midiChannel;
    bool listMidi = false;
};

// "A2  +0.3 cents  110.02 Hz", or "-" with no pitch.
std::string TunerStatus(const corvex::TunerReading& reading)
{
    if (!reading.pitch.bPitched)
        return "-";
    char name[5];
    corvex::CPitchDetector::NoteName(reading.pitch.iNote, name);
    char text[64];
    std::snprintf(text, sizeof text, "%-3s %+5.1f cents  %8.2f Hz", name, reading.pitch.dCents, reading.pitch.dHertz);
    return text;
}

void Warn(const std::string& text) { std::fprintf(stderr, "corvex: warning: %s\n", text.c_str()); }
void Fail(const std::string& text) { std::fprintf(stderr, "corvex: %s\n", text.c_str()); }

std::vector<std::string> SplitPorts(const std::string& text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            return parts;
        start = comma + 1;
    }
}

// The state as saved: the settings, with the meter and LED readings of the moment left out; the
// cabinet IR section after them as it is.
std::string SettingsState(const std::vector<unsigned char>& state)
{
    std::string bytes(state.begin(), state.end());
    for (std::uint32_t id = corvex::kOutputLeftVumeter; id <= corvex::kCompressionLed && bytes.size() >= corvex::kStateSize; ++id)
        std::memset(&bytes[id * corvex::kStateValueBytes], 0, corvex::kStateValueBytes);
    return bytes;
}

std::string Level(double meter)
{
    if (meter <= 0.0)
        return "  -inf";
    char text[16];
    std::snprintf(text, sizeof text, "%6.1f", (meter - 1.0) * kMeterSpanDb);
    return text;
}

// A refused settings file makes way for the next one, kept for the player to look at.
std::string KeepRefused(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return "";
    const std::string kept = path + ".bad";
    if (std::rename(path.c_str(), kept.c_str()) != 0)
        return "";
    return " (kept as " + std::filesystem::path(kept).filename().string() + ")";
}

class CTickHandler final : public Linux::ITimerHandler, public Linux::IEventHandler {
public:
    std::function<void()> onTimer_;
    std::function<void()> onEvent_;
    void PLUGIN_API onTimer() SMTG_OVERRIDE { onTimer_(); }
    void PLUGIN_API onFDIsSet(Linux::FileDescriptor) SMTG_OVERRIDE { onEvent_(); }
    tresult PLUGIN_API queryInterface(const TUID, void** obj) SMTG_OVERRIDE
    {
        *obj = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() SMTG_OVERRIDE { return 1; }
    uint32 PLUGIN_API release() SMTG_OVERRIDE { return 1; }
};

int Run(const Options& o, const CLI::App& app)
{
    // SIGINT and SIGTERM arrive as a descriptor on the run loop; blocked before any thread
    // starts (JACK's included), so no other thread takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);

    // Audio settings: the last ones, then the command line.
    const std::string settingsDir = SettingsDirectory();
    const std::string audioPath = settingsDir + "/" + kAudioFileName;
    const std::string statePath = settingsDir + "/" + kStateFileName;
    std::string warning;
    const AudioSettings saved = ReadAudioSettings(audioPath, warning);
    if (!warning.empty())
        Warn(warning + KeepRefused(audioPath));
    AudioSettings settings = saved;
    if (o.jack)
        settings.backend = "jack";
    if (!o.alsaDevice.empty()) {
        settings.backend = "alsa";
        settings.device = o.alsaDevice;
    }
    if (app.count("--rate"))
        settings.rate = o.rate;
    if (app.count("--period"))
        settings.period = o.period;
    if (app.count("--in"))
        settings.inputs = SplitPorts(o.inputs);
    if (app.count("--out"))
        settings.outputs = SplitPorts(o.outputs);
    if (o.noConnect)
        settings.connect = false;
    else if (app.count("--in") || app.count("--out"))
        settings.connect = true;
    if (app.count("--tempo"))
        settings.tempo = o.tempo;
    if (app.count("--midi-in"))
        (settings.backend == "alsa" ? settings.alsaMidiInput : settings.midiInput) = o.midiInput;
    if (app.count("--midi-channel"))
        ParseMidiChannel(o.midiChannel, settings.midiChannel); // checked by main
    if (settings.backend == "jack" && (app.count("--rate") || app.count("--period"))) {
        Fail("--rate and --period set an ALSA device; JACK runs at its server's rate and period");
        return kExitUsage;
    }

    // The presets: the one asked for must be there before anything starts.
    std::unique_ptr<CLiveHost> host;
    const std::string presetPath = settingsDir + "/" + kPresetFileName;
    auto remember = [&](const std::string& name) {
        std::string why;
        if (!WriteFileAtomically(presetPath, name + "\n", why))
            Warn(why);
        if (!name.empty())
            // On a terminal's status line (a Program Change with --no-gui), a line of its own.
            std::printf("%scorvex: preset \"%s\"\n", o.noGui && isatty(STDOUT_FILENO) ? "\r\033[K" : "", name.c_str());
        std::fflush(stdout);
    };
    CPresetStrip presets(corvex::UserPresetDirectory(), {
        [&](const corvex::PresetControls& values) { return host->ApplyPreset(values); },
        [&] {
            corvex::PresetControls values{};
            for (std::size_t i = 0; i < values.size(); ++i)
                values[i] = static_cast<float>(host->Controller()->getParamNormalized(static_cast<Vst::ParamID>(i + 1)));
            return values;
        },
        remember, Warn});
    if (!o.presetName.empty() && !presets.Show(o.presetName)) {
        std::string names;
        for (const corvex::PresetEntry& preset : presets.List())
            names += (names.empty() ? "\"" : ", \"") + preset.name + "\"";
        Fail("--preset \"" + o.presetName + "\" is no preset of the list; accepted: " + names);
        return kExitUsage;
    }

    // The plug-in, and the settings it starts with.
    std::string error;
    const std::string modulePath =
        o.modulePath.empty() ? corvex::hosting::DefaultModulePath(CORVEX_BUILT_MODULE, CORVEX_BUILT_DIR) : o.modulePath;
    host = CLiveHost::Load(modulePath, error);
    if (!host) {
        Fail(error);
        return kExitFailure;
    }
    if (o.listMidi) {
        std::printf("%s", corvex::FormatMidiMap(settings.midiMap.Bindings(), host->ProgramCount()).c_str());
        return kExitOk;
    }
    host->SetMidiChannel(settings.midiChannel);
    host->SetMidiMap(settings.midiMap);
    warning.clear();
    const bool explicitState = !o.statePath.empty();
    const auto state = ReadStateFile(explicitState ? o.statePath : statePath, explicitState, warning);
    if (!warning.empty())
        Warn(warning + (explicitState ? std::string() : KeepRefused(statePath)));
    if (state && !host->SetState(*state))
        Warn("the plug-in refused the state; using the default settings");
    std::string lastSaved = state && !explicitState ? SettingsState(*state) : std::string();
    // A preset asked for takes the controls; the state's IR stays. Otherwise the strip shows the
    // preset last chosen: the state restored has its controls, as the player left them.
    if (!o.presetName.empty()) {
        std::vector<unsigned char> withPreset;
        if (!host->GetState(withPreset) || !PutPresetControls(withPreset, presets.List()[static_cast<std::size_t>(presets.Index())].values) ||
            !host->SetState(withPreset)) {
            Fail("--preset \"" + o.presetName + "\": the plug-in refused its state");
            return kExitFailure;
        }
    } else if (const std::string last = ReadPresetName(presetPath); !last.empty() && !presets.Show(last)) {
        Warn("the preset last chosen, \"" + last + "\", is no longer in the list");
    }
    // The IR goes in with the state, as a host restores it, and is saved with it from then on.
    if (!o.irPath.empty()) {
        std::vector<unsigned char> withImpulse;
        if (!host->GetState(withImpulse) || !PutImpulseFile(withImpulse, o.irPath, error)) {
            Fail("--ir \"" + o.irPath + "\" refused: " + (error.empty() ? "the plug-in gave no state" : error));
            return kExitFailure;
        }
        if (!host->SetState(withImpulse)) {
            Fail("--ir \"" + o.irPath + "\": the plug-in refused the state carrying it");
            return kExitFailure;
        }
    }

    std::unique_ptr<CAudioBackend> backend;
    if (settings.backend == "alsa") {
        backend = std::make_unique<CAlsaBackend>(
            CAlsaBackend::Options{settings.device, settings.rate, settings.period, settings.alsaMidiInput,
                                  !app.count("--midi-in")});
    } else {
        CJackBackend::Options jack;
        jack.inputs = settings.inputs;
        jack.outputs = settings.outputs;
        jack.connect = settings.connect;
        jack.midiInput = settings.midiInput;
        jack.midiRemembered = !app.count("--midi-in");
        backend = std::make_unique<CJackBackend>(jack);
    }
    if (!backend->Open(error)) {
        Fail(error);
        return kExitFailure;
    }
    // The tuner runs here, on the user-interface thread, from what the audio thread copies.
    std::unique_ptr<corvex::CSampleRing> tunerRing;
    std::unique_ptr<corvex::CTunerAnalyser> tuner;
    if (o.tuner) {
        tunerRing = std::make_unique<corvex::CSampleRing>(
            int(std::ceil(corvex::CTunerAnalyser::kRingSeconds * backend->SampleRate())) + backend->MaxPeriod());
        tuner = std::make_unique<corvex::CTunerAnalyser>(backend->SampleRate());
        tuner->SetReference(o.reference);
        host->SetTunerRing(tunerRing.get());
    }
    if (!host->Start(backend->SampleRate(), backend->MaxPeriod(), settings.tempo, error)) {
        Fail(error);
        return kExitFailure;
    }
    if (!backend->Start(*host, error)) {
        Fail(error);
        return kExitFailure;
    }
    if (!(settings == saved) || !std::filesystem::exists(audioPath)) {
        if (!WriteFileAtomically(audioPath, FormatAudioSettings(settings), error))
            Warn(error);
    }
    const double latencyMs = 1000.0 * backend->Period() / backend->SampleRate();
    std::printf("corvex: playing through %s at %.0f Hz, %d frames per period (%.1f ms)\n", backend->Describe().c_str(),
                backend->SampleRate(), backend->Period(), latencyMs);
    if (!o.presetName.empty())
        remember(presets.Name());
    else if (!presets.Name().empty())
        std::printf("corvex: preset \"%s\"\n", presets.Name().c_str());
    if (!backend->MidiNotice().empty())
        Warn(backend->MidiNotice());
    if (!backend->MidiPortName().empty())
        std::printf("corvex: MIDI input %s, channel %s\n", backend->MidiPortName().c_str(),
                    FormatMidiChannel(settings.midiChannel).c_str());
    std::fflush(stdout);

    corvex::hosting::EditorHost runLoop;
    std::unique_ptr<CEditorWindow> window;
    if (!o.noGui) {
        window = CEditorWindow::Open(*host, runLoop, error, &presets);
        if (!window) {
            backend->Stop();
            Fail(error);
            return kExitFailure;
        }
    }

    // What learning changed is kept like the rest of the settings, as soon as it is made.
    auto saveMidiMap = [&]() {
        if (host->MidiMap() == settings.midiMap)
            return;
        settings.midiMap = host->MidiMap();
        std::string why;
        if (!WriteFileAtomically(audioPath, FormatAudioSettings(settings), why))
            Warn(why);
    };
    auto saveState = [&]() {
        saveMidiMap();
        std::vector<unsigned char> now;
        if (!host->GetState(now))
            return;
        const std::string bytes = SettingsState(now);
        std::string why;
        if (bytes != lastSaved && WriteFileAtomically(statePath, bytes, why))
            lastSaved = bytes;
        else if (!why.empty())
            Warn(why);
    };

    const bool terminal = isatty(STDOUT_FILENO);
    const bool statusLine = o.noGui && terminal;
    corvex::TunerReading reading;
    const auto started = std::chrono::steady_clock::now();
    bool quit = false;
    std::string lost;
    int ticks = 0;
    CTickHandler tick;
    // Program Change selects from the program list the plug-in read as it started: the list the
    // strip read then.
    const std::vector<corvex::PresetEntry> programs = presets.List();
    tick.onTimer_ = [&]() {
        host->Dispatch();
        if (const int program = host->TakeProgramChange(); program >= 0 && program < static_cast<int>(programs.size()))
            presets.Follow(programs[static_cast<std::size_t>(program)].name);
        saveMidiMap();
        if (backend->Lost(lost))
            quit = true;
        if (window) {
            window->Tick();
            if (window->CloseRequested())
                quit = true;
        }
        if (++ticks % kTicksPerStateCheck == 0)
            saveState();
        if (tuner) {
            tuner->Drain(*tunerRing, [&reading](const corvex::TunerReading& newest) { reading = newest; });
            // A line per reading where no terminal rewrites one in place.
            if (ticks % kTicksPerTunerLine == 0) {
                std::printf(terminal ? "\r%s  xruns %llu\033[K" : "%s  xruns %llu\n", TunerStatus(reading).c_str(),
                            static_cast<unsigned long long>(backend->Xruns()));
                std::fflush(stdout);
            }
        } else if (statusLine && ticks % kTicksPerStatusLine == 0) {
            std::printf("\r%.0f BPM  out %s %s dB  clip in %s out %s  xruns %llu\033[K", host->TempoInUse(),
                        Level(host->Indicator(corvex::kOutputLeftVumeter)).c_str(), Level(host->Indicator(corvex::kOutputRightVumeter)).c_str(),
                        host->Indicator(corvex::kInputClippingLed) >= 0.5 ? "ON " : "off", host->Indicator(corvex::kOuputClippingLed) >= 0.5 ? "ON " : "off",
                        static_cast<unsigned long long>(backend->Xruns()));
            std::fflush(stdout);
        }
    };
    CTickHandler signalHandler;
    signalHandler.onEvent_ = [&]() {
        signalfd_siginfo info{};
        while (read(signalFd, &info, sizeof info) == sizeof info)
            quit = true;
    };
    runLoop.registerTimer(&tick, static_cast<Linux::TimerInterval>(kTick.count()));
    if (signalFd >= 0)
        runLoop.registerEventHandler(&signalHandler, signalFd);
    while (!quit)
        runLoop.RunUntil([&] { return quit; }, std::chrono::hours(1));
    runLoop.unregisterTimer(&tick);
    if (signalFd >= 0)
        runLoop.unregisterEventHandler(&signalHandler);

    window.reset();
    backend->Stop();
    host->Dispatch();
    saveState();
    host->Stop();
    if (statusLine || (tuner && terminal))
        std::printf("\n");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("corvex: stopped after %.1f s, %llu xruns; settings saved in %s\n", seconds,
                static_cast<unsigned long long>(backend->Xruns()), settingsDir.c_str());
    std::fflush(stdout);
    if (!lost.empty()) {
        Fail(lost);
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Plays your guitar through the Corvex amplifier live, on JACK or ALSA, without a DAW.", "corvex"};
    Options o;
    app.set_version_flag("--version", std::string("corvex ") + corvex::kVersionString);
    app.add_flag("--jack", o.jack, "Play through JACK (the default; PipeWire desktops provide it too)");
    app.add_option("--alsa", o.alsaDevice, "Play through this ALSA device instead of JACK (hw:1, plughw:USB, default)")
        ->type_name("DEVICE");
    app.add_option("--rate", o.rate, "ALSA sample rate")->type_name("HZ")->check(CLI::Range(kMinRate, kMaxRate));
    app.add_option("--period", o.period, "ALSA period: frames per processing call")
        ->type_name("N")
        ->check(CLI::Range(kMinPeriod, kMaxPeriod));
    app.add_option("--in", o.inputs, "JACK ports feeding the left and right inputs (default: the first capture ports)")
        ->type_name("PORT[,PORT]");
    app.add_option("--out", o.outputs, "JACK ports the outputs go to (default: the first playback ports)")
        ->type_name("PORT,PORT");
    app.add_flag("--no-connect", o.noConnect, "Leave the JACK ports unconnected");
    app.add_option("--tempo", o.tempo, "Tempo for the delay when no JACK transport gives one (default 120)")
        ->type_name("BPM")
        ->check(CLI::Range(kMinTempo, kMaxTempo));
    app.add_option("--state", o.statePath, "Start from this state (as corvex-render --save-state writes: 80 bytes, "
                                           "then the cabinet IR it carries)")
        ->type_name("FILE");
    app.add_option("--ir", o.irPath, "Play through this cabinet impulse response instead of the built-in cabinet "
                                     "(any audio file libsndfile decodes, mono or stereo, 8 to 384 kHz, up to 10 s); "
                                     "kept with the saved settings, so the next start plays through it too")
        ->type_name("FILE");
    app.add_option("--preset", o.presetName, "Start from this preset, a factory one or yours, any case (see "
                                             "--list-presets); the cabinet IR stays")
        ->type_name("NAME");
    app.add_flag("--list-presets", o.listPresets, "Print the presets: the factory ones, then yours (the VST 3 user "
                                                  "preset folder), in the order Page Up/Down step through, and exit");
    app.add_option("--midi-in", o.midiInput, "Wire the MIDI input to this port at start: a JACK MIDI port "
                                             "(jack_lsp -t), or with --alsa an ALSA sequencer port (aconnect -i: 20:0)")
        ->type_name("PORT");
    app.add_option("--midi-channel", o.midiChannel, "The MIDI channel listened to: 1 to 16, or omni for all (the default)")
        ->type_name("N|omni");
    app.add_flag("--list-midi", o.listMidi, "Print which controller reaches which control (the default map as learning "
                                            "changed it) and what Program Change selects, then exit");
    app.add_flag("--no-gui", o.noGui, "Run without the editor window; a status line on a terminal");
    app.add_flag("--tuner", o.tuner, "Run as a tuner without the editor window: the status line shows the selected "
                                     "input's note, cents and frequency (a line each 0.1 s when not on a terminal); "
                                     "the output plays on");
    app.add_option("--reference", o.reference, "The tuner's A4, 430 to 450 Hz (default 440)")->type_name("HZ");
    app.add_option("--module", o.modulePath,
                   std::string("The Corvex.vst3 bundle to load (default: ") + corvex::hosting::kDefaultModuleOrder + ")")->type_name("PATH");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }
    if (o.listPresets) {
        std::vector<std::string> skipped;
        const auto list = corvex::PresetList(corvex::ReadUserPresets(corvex::UserPresetDirectory(), skipped));
        for (const std::string& message : skipped)
            Warn(message);
        PrintPresets(stdout, list);
        return kExitOk;
    }
    if (!o.alsaDevice.empty() && o.jack) {
        Fail("--jack and --alsa exclude each other");
        return kExitUsage;
    }
    if (!o.alsaDevice.empty() && (app.count("--in") || app.count("--out") || o.noConnect)) {
        Fail("--in, --out and --no-connect name JACK ports; ALSA plays through the --alsa device");
        return kExitUsage;
    }
    // Names are saved one to a line: a line break in one would make the next start refuse the file.
    const std::pair<const char*, const std::string*> names[] = {
        {"--alsa", &o.alsaDevice}, {"--in", &o.inputs}, {"--out", &o.outputs}, {"--midi-in", &o.midiInput}};
    for (const auto& [name, value] : names) {
        if (value->find_first_of("\r\n") != std::string::npos) {
            Fail(std::string(name) + " takes names without line breaks");
            return kExitUsage;
        }
    }
    if (app.count("--reference") && !o.tuner) {
        Fail("--reference sets the tuner's A4; give --tuner");
        return kExitUsage;
    }
    if (!(o.reference >= corvex::CPitchDetector::kMinReference && o.reference <= corvex::CPitchDetector::kMaxReference)) {
        char text[96];
        std::snprintf(text, sizeof text, "--reference %g is out of range; accepted: %g to %g Hz", o.reference,
                      corvex::CPitchDetector::kMinReference, corvex::CPitchDetector::kMaxReference);
        Fail(text);
        return kExitUsage;
    }
    if (o.tuner)
        o.noGui = true;
    // CLI::Range compares, so a NaN passes it; saved, it would make the next start refuse the file.
    if (app.count("--tempo") && !(o.tempo >= kMinTempo && o.tempo <= kMaxTempo)) {
        char text[96];
        std::snprintf(text, sizeof text, "--tempo %g is out of range; accepted: %g to %g BPM", o.tempo, kMinTempo,
                      kMaxTempo);
        Fail(text);
        return kExitUsage;
    }
    int channel = 0;
    if (app.count("--midi-channel") && !ParseMidiChannel(o.midiChannel, channel)) {
        Fail("--midi-channel \"" + o.midiChannel + "\" is out of range; accepted: 1 to 16, or omni");
        return kExitUsage;
    }
    if (app.count("--in")) {
        const auto ports = SplitPorts(o.inputs);
        if (ports.size() > 2 || std::any_of(ports.begin(), ports.end(), [](const std::string& p) { return p.empty(); })) {
            Fail("--in takes one or two JACK port names, separated by a comma: \"" + o.inputs + "\"");
            return kExitUsage;
        }
    }
    if (app.count("--out")) {
        const auto ports = SplitPorts(o.outputs);
        if (ports.size() != 2 || ports[0].empty() || ports[1].empty()) {
            Fail("--out takes two JACK port names, separated by a comma: \"" + o.outputs + "\"");
            return kExitUsage;
        }
    }
    return Run(o, app);
}
