// corvex-render: runs audio files, or the built-in demo phrase, through the Corvex plug-in.

#include "AudioFile.h"
#include "DemoPhrase.h"
#include "FactoryPresets.h"
#include "FileWriting.h"
#include "HostTempo.h"
#include "ImpulseFile.h"
#include "ImpulseSection.h"
#include "MidiFile.h"
#include "MidiMap.h"
#include "ParamArguments.h"
#include "PluginModule.h"
#include "RenderHost.h"
#include "ProgressBar.h"
#include "StateLayout.h"
#include "UserPresets.h"
#include "TunerAnalyser.h"
#include "input/EffectSourceSelector.h"
#include "version.h"

#include <CLI/CLI.hpp>
#include <pluginterfaces/vst/ivstmidicontrollers.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using namespace corvex::render;

constexpr int kMinBlock = 1;
constexpr int kMaxBlock = 8192;
constexpr int kDefaultBlock = 1024;
constexpr double kDefaultTempo = corvex::hosting::kDefaultHostTempo;
constexpr double kMinTempo = corvex::hosting::kMinHostTempo;
constexpr double kMaxTempo = corvex::hosting::kMaxHostTempo;
constexpr double kMaxTailSeconds = 600.0;
constexpr double kDemoTailSeconds = 3.0; // lets the demo's delay and reverb ring out
constexpr double kMinReference = corvex::CPitchDetector::kMinReference;
constexpr double kMaxReference = corvex::CPitchDetector::kMaxReference;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

std::atomic<bool> g_bInterrupted{false};

void OnSignal(int) { g_bInterrupted = true; }

struct Options {
    std::string input;
    std::string output;
    std::string demo;
    std::string demoDry;
    std::string tuner;
    double reference = corvex::CPitchDetector::kDefaultReference;
    bool referenceGiven = false;
    std::vector<std::string> settings;
    bool bypass = false;
    double tempo = kDefaultTempo;
    int block = kDefaultBlock;
    double tail = 0.0;
    bool tailGiven = false;
    std::string statePath;
    std::string irPath;
    std::string presetName;
    std::string saveStatePath;
    std::string format;
    std::string modulePath;
    bool listParams = false;
    bool listPresets = false;
    bool quiet = false;
    bool verbose = false;
    std::string channels;
    bool strict = false;
    std::string midiPath;
    bool listMidi = false;
    std::vector<std::string> at;
};

struct Failure {
    int code;
    std::string message;
};

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    if (std::filesystem::equivalent(a, b, ec))
        return true;
    return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec);
}

// The factory presets and the user's, read once; the files skipped are reported once.
const std::vector<corvex::PresetEntry>& Presets()
{
    static const std::vector<corvex::PresetEntry> presets = [] {
        std::vector<std::string> skipped;
        std::vector<corvex::PresetEntry> list =
            corvex::PresetList(corvex::ReadUserPresets(corvex::UserPresetDirectory(), skipped));
        for (const std::string& message : skipped)
            std::fprintf(stderr, "corvex-render: warning: %s\n", message.c_str());
        return list;
    }();
    return presets;
}

// Argument checks that need neither files nor the module.
void CheckArguments(const Options& o)
{
    const int renders = !o.input.empty() + !o.demo.empty() + !o.demoDry.empty() + !o.tuner.empty();
    if (renders > 1)
        throw Failure{kExitUsage, "give either INPUT OUTPUT, --demo OUT, --demo-dry OUT or --tuner FILE, not several"};
    if (!o.presetName.empty() && !o.statePath.empty())
        throw Failure{kExitUsage, "give either --preset or --state, not both"};
    if (!o.presetName.empty() && !corvex::FindPreset(Presets(), o.presetName)) {
        std::string names;
        for (const corvex::PresetEntry& preset : Presets())
            names += (names.empty() ? "" : ", ") + Quoted(preset.name);
        throw Failure{kExitUsage, "--preset " + Quoted(o.presetName) + " is no preset of the list; accepted: " + names};
    }
    if (!o.midiPath.empty() && renders == 0)
        throw Failure{kExitUsage, "--midi plays along a render; give INPUT OUTPUT or --demo OUT"};
    if (!o.midiPath.empty() && !o.demoDry.empty())
        throw Failure{kExitUsage, "--midi needs the plug-in; --demo-dry renders without it"};
    if (renders == 0 && !o.listParams)
        throw Failure{kExitUsage, "nothing to do: give INPUT OUTPUT, --demo OUT, --demo-dry OUT, --tuner FILE or "
                                  "--list-params (see --help)"};
    if (!o.input.empty() && o.output.empty())
        throw Failure{kExitUsage, "missing OUTPUT: corvex-render INPUT OUTPUT"};
    if (o.block < kMinBlock || o.block > kMaxBlock)
        throw Failure{kExitUsage, "--block " + std::to_string(o.block) + " is out of range; accepted: " +
                                      std::to_string(kMinBlock) + " to " + std::to_string(kMaxBlock) + " samples"};
    if (!(o.tempo >= kMinTempo && o.tempo <= kMaxTempo)) {
        char text[96];
        std::snprintf(text, sizeof text, "--tempo %g is out of range; accepted: %g to %g BPM", o.tempo, kMinTempo,
                      kMaxTempo);
        throw Failure{kExitUsage, text};
    }
    if (o.tailGiven && !(o.tail >= 0.0 && o.tail <= kMaxTailSeconds)) {
        char text[96];
        std::snprintf(text, sizeof text, "--tail %g is out of range; accepted: 0 to %g seconds", o.tail,
                      kMaxTailSeconds);
        throw Failure{kExitUsage, text};
    }
    if (!o.channels.empty()) {
        std::vector<int> picked;
        std::string error;
        if (!ParseChannels(o.channels, picked, error))
            throw Failure{kExitUsage, error};
        if (o.input.empty() && o.tuner.empty())
            throw Failure{kExitUsage, "--channels picks channels of INPUT or of the --tuner FILE; give INPUT OUTPUT "
                                      "or --tuner FILE"};
    }
    if (o.referenceGiven && o.tuner.empty())
        throw Failure{kExitUsage, "--reference sets the tuner's A4; give --tuner FILE"};
    if (!(o.reference >= kMinReference && o.reference <= kMaxReference)) {
        char text[96];
        std::snprintf(text, sizeof text, "--reference %g is out of range; accepted: %g to %g Hz", o.reference,
                      kMinReference, kMaxReference);
        throw Failure{kExitUsage, text};
    }
    if (!o.tuner.empty() && !o.saveStatePath.empty())
        throw Failure{kExitUsage, "--tuner only reads; --save-state has no render to save the state of"};
    if (!o.format.empty() && !FindOutputFormat(o.format)) {
        std::string names;
        for (const OutputFormat& f : OutputFormats())
            names += (names.empty() ? "" : ", ") + f.name;
        throw Failure{kExitUsage, "--format " + Quoted(o.format) + " is not a known format; accepted: " + names};
    }

    const std::string destination = !o.output.empty() ? o.output : !o.demo.empty() ? o.demo : o.demoDry;
    std::vector<std::pair<std::string, std::string>> inputs, outputs;
    if (!o.input.empty())
        inputs.push_back({"input", o.input});
    if (!o.tuner.empty())
        inputs.push_back({"--tuner", o.tuner});
    if (!o.statePath.empty())
        inputs.push_back({"--state", o.statePath});
    if (!o.irPath.empty())
        inputs.push_back({"--ir", o.irPath});
    if (!o.midiPath.empty())
        inputs.push_back({"--midi", o.midiPath});
    if (!destination.empty())
        outputs.push_back({"output", destination});
    if (!o.saveStatePath.empty())
        outputs.push_back({"--save-state", o.saveStatePath});
    for (const auto& out : outputs) {
        for (const auto& in : inputs)
            if (SameFile(out.second, in.second))
                throw Failure{kExitUsage, out.first + " " + Quoted(out.second) + " is the " + in.first +
                                              " file; corvex-render never overwrites its input"};
        if (std::filesystem::is_directory(out.second))
            throw Failure{kExitUsage, out.first + " " + Quoted(out.second) + " is a directory; give a file name"};
    }
    if (outputs.size() == 2 && SameFile(outputs[0].second, outputs[1].second))
        throw Failure{kExitUsage, "output and --save-state name the same file " + Quoted(destination)};
}

std::vector<unsigned char> ReadStateFile(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        throw Failure{kExitFailure, "--state file " + Quoted(path) + " does not exist"};
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw Failure{kExitFailure, "cannot read --state file " + Quoted(path)};
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < corvex::kStateSize)
        throw Failure{kExitUsage, "--state file " + Quoted(path) + " is " + std::to_string(bytes.size()) +
                                      " bytes; a Corvex state is " + std::to_string(corvex::kStateSize) +
                                      " bytes, then the cabinet IR it carries, if any"};
    // The plug-in would refuse a damaged section too; here the reason can be told.
    corvex::ImpulseSource impulse;
    std::string error;
    if (bytes.size() > corvex::kStateSize &&
        !corvex::DecodeImpulseSection(bytes.data() + corvex::kStateSize, bytes.size() - corvex::kStateSize, impulse,
                                      error))
        throw Failure{kExitFailure, "--state file " + Quoted(path) + ": its cabinet IR cannot be used: " + error};
    return bytes;
}

// The IR file as the section that follows a state's 80 bytes.
std::vector<std::uint8_t> ImpulseSectionOf(const std::string& path)
{
    corvex::ImpulseSource impulse;
    std::string error;
    if (!corvex::ReadImpulseFile(path, impulse, error))
        throw Failure{kExitFailure, "--ir " + Quoted(path) + " refused: " + error};
    return corvex::EncodeImpulseSection(impulse);
}

// The cabinet a state plays through, for --verbose.
std::string DescribeCabinet(const std::vector<unsigned char>& state)
{
    corvex::ImpulseSource impulse;
    std::string error;
    if (state.size() <= corvex::kStateSize ||
        !corvex::DecodeImpulseSection(state.data() + corvex::kStateSize, state.size() - corvex::kStateSize, impulse,
                                      error))
        return "built-in";
    char text[96];
    std::snprintf(text, sizeof text, ", %d channel%s of %d frames at %g Hz", impulse.channels,
                  impulse.channels == 1 ? "" : "s", impulse.frames, impulse.sampleRate);
    return "IR " + Quoted(impulse.name) + text;
}

// A MIDI file's Control and Program Changes as a DAW hands them to the plug-in: a controller
// the controller's IMidiMapping assigns becomes value / 127 of its parameter, Program Change n
// the program-change parameter's n-th entry; the rest is dropped.
std::vector<TimedChange> MidiChanges(const std::vector<TimedMidi>& messages, const CRenderHost& plugin, int rate)
{
    std::vector<TimedChange> changes;
    for (const TimedMidi& timed : messages) {
        const int channel = timed.message.status & corvex::kMidiChannelMask;
        const bool program = (timed.message.status & corvex::kMidiKindMask) == corvex::kMidiProgramChange;
        std::uint32_t id = 0;
        if (!plugin.MidiAssignment(channel, program ? int(Steinberg::Vst::kCtrlProgramChange) : int(timed.message.data1), id))
            continue;
        double value = timed.message.data2 / double(corvex::kMidiValueMax);
        if (program) {
            const auto param = std::find_if(plugin.Params().begin(), plugin.Params().end(),
                                            [id](const ModuleParam& p) { return p.id == id; });
            if (param == plugin.Params().end() || param->stepCount <= 0 || timed.message.data1 > param->stepCount)
                continue;
            value = timed.message.data1 / double(param->stepCount);
        }
        changes.push_back({std::llround(timed.seconds * rate), {id, value}});
    }
    return changes;
}

// The program-change parameter's value that selects the preset `name` (any case).
ParamSetting ProgramSetting(const CRenderHost& plugin, const std::string& name, const std::string& argument)
{
    const std::vector<std::string>& names = plugin.ProgramNames();
    std::string accepted;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (corvex::SameNameInAnyCase(names[i], name))
            return {plugin.ProgramParam(), names.size() > 1 ? double(i) / double(names.size() - 1) : 0.0};
        accepted += (accepted.empty() ? "" : ", ") + Quoted(names[i]);
    }
    throw Failure{kExitUsage, argument + ": no preset named " + Quoted(name) + "; accepted: " + accepted};
}

void ListParams(const std::vector<ModuleParam>& params)
{
    std::printf("%-4s %-26s %-9s %s\n", "id", "title", "default", "flags");
    for (const ModuleParam& p : params)
        std::printf("%-4u %-26s %-9.4f %s\n", static_cast<unsigned>(p.id), p.title.c_str(), p.defaultValue,
                    DescribeFlags(p.flags).c_str());
}

std::string Decibels(float peak)
{
    if (peak <= 0.0f)
        return "silent";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", 20.0 * std::log10(static_cast<double>(peak)));
    return text;
}

// The largest magnitude in two channels and `peak`; NaNs are passed over.
float PeakOf(const float* left, const float* right, long frames, float peak)
{
    long i = 0;
#if defined(__SSE2__)
    // maxps(x, m) keeps m where x is a NaN, as the scalar loop below does.
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 lanes = _mm_set1_ps(peak);
    for (; i + 4 <= frames; i += 4) {
        lanes = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(left + i), magnitude), lanes);
        lanes = _mm_max_ps(_mm_and_ps(_mm_loadu_ps(right + i), magnitude), lanes);
    }
    float held[4];
    _mm_storeu_ps(held, lanes);
    peak = std::max({held[0], held[1], held[2], held[3]});
#endif
    for (; i < frames; ++i)
        peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
    return peak;
}

// A file that ends before its header said, or that cannot be read to its end, is reported;
// with --strict it fails the render and nothing is written.
void ReportShortInput(const Options& o, const CSndfileSource& file, std::int64_t read, std::int64_t promised,
                      CStereoFileWriter& writer, CProgressBar& progress)
{
    const double rate = file.SampleRate();
    const bool readError = !file.ReadError().empty();
    if (!readError && promised <= read)
        return;
    char what[160];
    if (promised > read)
        std::snprintf(what, sizeof what, "%lld of the %lld frames its header promises (%.2f of %.2f s)",
                      static_cast<long long>(read), static_cast<long long>(promised), static_cast<double>(read) / rate,
                      static_cast<double>(promised) / rate);
    else
        std::snprintf(what, sizeof what, "%lld frames (%.2f s)", static_cast<long long>(read),
                      static_cast<double>(read) / rate);
    std::string message = "input file " + Quoted(o.input) + " is short: " + what;
    if (readError)
        message += ", then a read error: " + file.ReadError();
    progress.Finish();
    if (o.strict) {
        writer.Discard();
        throw Failure{kExitFailure, message + "; nothing written (--strict)"};
    }
    std::fprintf(stderr, "corvex-render: warning: %s; rendering what was read\n", message.c_str());
}

// "1.250 E2 82.410 +0.3", or "1.250 -" when the reading has no pitch.
void PrintReading(const corvex::TunerReading& reading)
{
    if (!reading.pitch.bPitched) {
        std::printf("%.3f -\n", reading.dSeconds);
        return;
    }
    char name[5];
    corvex::CPitchDetector::NoteName(reading.pitch.iNote, name);
    // No "-0.0": a reading that rounds to in tune reads +0.0.
    const double cents = std::round(reading.pitch.dCents * 10.0) / 10.0;
    std::printf("%.3f %s %.3f %+.1f\n", reading.dSeconds, name, reading.pitch.dHertz, cents == 0.0 ? 0.0 : cents);
}

// What "Input Selection" holds for the tuner: its default, then the state's, then --set's.
float InputSelection(const Options& o)
{
    float selection = corvex::kParamInfos[corvex::kInputSelection].defaultValue;
    std::vector<unsigned char> state;
    if (!o.statePath.empty())
        state = ReadStateFile(o.statePath);
    else if (!o.presetName.empty())
        state = corvex::PresetState(*corvex::FindFactoryPreset(o.presetName));
    if (state.size() >= corvex::kStateSize) {
        const unsigned char* bytes = state.data() + corvex::kStateValueBytes * corvex::kInputSelection;
        const std::uint32_t bits = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
        std::memcpy(&selection, &bits, sizeof selection);
    }
    if (o.settings.empty())
        return selection;
    // Titles and identifiers are the module's: ask it, as a render does.
    std::string error;
    const std::string modulePath =
        o.modulePath.empty() ? corvex::hosting::DefaultModulePath(CORVEX_RENDER_BUILT_MODULE, CORVEX_RENDER_BUILT_DIR) : o.modulePath;
    const std::unique_ptr<CRenderHost> plugin = CRenderHost::Load(modulePath, error);
    if (!plugin)
        throw Failure{kExitFailure, error};
    for (const std::string& argument : o.settings) {
        ParamSetting setting{};
        if (!ParseSetting(argument, plugin->Params(), setting, error))
            throw Failure{kExitUsage, error};
        if (setting.id == corvex::kInputSelection)
            selection = static_cast<float>(std::clamp(setting.value, 0.0, 1.0));
    }
    return selection;
}

// Prints a tuner reading of the selected input for every 50 ms of the file.
int RunTuner(const Options& o)
{
    std::string error;
    std::vector<int> channels;
    if (!o.channels.empty())
        ParseChannels(o.channels, channels, error);
    const auto file = CSndfileSource::Open(o.tuner, channels, error);
    if (!file)
        throw Failure{kExitFailure, error};
    const float selection = InputSelection(o);
    corvex::CTunerAnalyser analyser(file->SampleRate());
    analyser.SetReference(o.reference);
    std::vector<float> left(kChunkFrames), right(kChunkFrames);
    std::int64_t read = 0;
    for (long frames = kChunkFrames; frames == kChunkFrames;) {
        if (g_bInterrupted)
            throw Failure{kExitInterrupted, "interrupted"};
        frames = file->Read(left.data(), right.data(), kChunkFrames);
        read += frames;
        analyser.Feed(corvex::CEffectSourceSelector::Selected(left.data(), right.data(), selection),
                      static_cast<int>(frames), PrintReading);
    }
    if (!file->ReadError().empty() || read < file->Frames()) {
        const std::string message = "--tuner file " + Quoted(o.tuner) + " is short: " + std::to_string(read) + " of " +
                                    std::to_string(file->Frames()) + " frames read" +
                                    (file->ReadError().empty() ? "" : ", then a read error: " + file->ReadError());
        if (o.strict)
            throw Failure{kExitFailure, message + " (--strict)"};
        std::fprintf(stderr, "corvex-render: warning: %s\n", message.c_str());
    }
    return 0;
}

int Run(const Options& o)
{
    CheckArguments(o);
    if (!o.tuner.empty())
        return RunTuner(o);

    std::unique_ptr<CAudioSource> source;
    const CSndfileSource* file = nullptr;
    std::string error;
    if (!o.input.empty()) {
        std::vector<int> channels;
        if (!o.channels.empty())
            ParseChannels(o.channels, channels, error);
        auto opened = CSndfileSource::Open(o.input, channels, error);
        if (!opened)
            throw Failure{kExitFailure, error};
        file = opened.get();
        source = std::move(opened);
    } else if (!o.demo.empty() || !o.demoDry.empty()) {
        source = std::make_unique<CBufferSource>(SynthesizeDemoPhrase(), kDemoSampleRate);
    }

    std::vector<unsigned char> state;
    if (!o.statePath.empty())
        state = ReadStateFile(o.statePath);
    else if (!o.presetName.empty()) {
        const corvex::PresetEntry& preset = *corvex::FindPreset(Presets(), o.presetName);
        state = corvex::PresetState({preset.name.c_str(), "", "", preset.values});
    }
    const std::vector<std::uint8_t> impulse = o.irPath.empty() ? std::vector<std::uint8_t>() : ImpulseSectionOf(o.irPath);

    std::vector<TimedMidi> midi;
    if (!o.midiPath.empty() && !ReadMidiFile(o.midiPath, midi, error))
        throw Failure{kExitFailure, error};

    const bool dry = !o.demoDry.empty();
    std::unique_ptr<CRenderHost> plugin;
    std::vector<ParamSetting> changes;
    std::vector<TimedArgument> timed;
    if (!dry || o.listParams) {
        const std::string modulePath =
            o.modulePath.empty()
                ? corvex::hosting::DefaultModulePath(CORVEX_RENDER_BUILT_MODULE, CORVEX_RENDER_BUILT_DIR)
                : o.modulePath;
        plugin = CRenderHost::Load(modulePath, error);
        if (!plugin)
            throw Failure{kExitFailure, error};
        if (o.listParams) {
            ListParams(plugin->Params());
            return 0;
        }
        for (const std::string& argument : o.settings) {
            ParamSetting setting{};
            if (!ParseSetting(argument, plugin->Params(), setting, error))
                throw Failure{kExitUsage, error};
            changes.push_back(setting);
        }
        if (o.bypass)
            changes.push_back({corvex::kBypass, 1.0});
        for (const std::string& argument : o.at) {
            TimedArgument change;
            if (!ParseAt(argument, plugin->Params(), change, error))
                throw Failure{kExitUsage, error};
            if (!change.preset.empty())
                change.setting = ProgramSetting(*plugin, change.preset, "--at \"" + argument + "\"");
            timed.push_back(change);
        }
        // The IR travels inside the state, as a host would restore it: it replaces the one the
        // state carries, and starts from the plug-in's own settings without --state or --preset.
        if (!impulse.empty()) {
            if (state.empty() && !plugin->GetState(state, error))
                throw Failure{kExitFailure, error};
            state.resize(corvex::kStateSize);
            state.insert(state.end(), impulse.begin(), impulse.end());
        }
        if (!state.empty() && !plugin->SetState(state, error))
            throw Failure{kExitFailure, error};
    }
    if (!source)
        return 0;

    const std::string destination = !o.output.empty() ? o.output : !o.demo.empty() ? o.demo : o.demoDry;
    const OutputFormat& format = o.format.empty() ? DefaultFormatFor(destination) : *FindOutputFormat(o.format);
    const int rate = source->SampleRate();
    const double tailSeconds = o.tailGiven ? o.tail : (!o.demo.empty() ? kDemoTailSeconds : 0.0);
    const std::int64_t tailFrames = std::llround(tailSeconds * rate);
    const std::int64_t promisedFrames = source->Frames();
    const std::int64_t totalFrames = std::max<std::int64_t>(promisedFrames, 0) + tailFrames;

    if (plugin) {
        std::vector<TimedChange> scheduled;
        for (const ParamSetting& change : changes)
            scheduled.push_back({0, change});
        const std::vector<TimedChange> played = MidiChanges(midi, *plugin, rate);
        scheduled.insert(scheduled.end(), played.begin(), played.end());
        for (const TimedArgument& change : timed)
            scheduled.push_back({std::llround(change.seconds * rate), change.setting});
        std::stable_sort(scheduled.begin(), scheduled.end(),
                         [](const TimedChange& a, const TimedChange& b) { return a.frame < b.frame; });
        plugin->Schedule(std::move(scheduled));
        if (!plugin->Start(rate, o.block, o.tempo, error))
            throw Failure{kExitFailure, error};
    }
    auto writer = CStereoFileWriter::Create(destination, format, rate, error);
    if (!writer)
        throw Failure{kExitFailure, error};

    // Audio moves through in chunks of whole blocks, so that the files and the peak see few
    // large calls however small the blocks the plug-in is handed.
    const long block = o.block;
    const long chunk = block * std::max(1L, kChunkFrames / block);
    std::vector<float> inLeft(chunk), inRight(chunk), outLeft(chunk), outRight(chunk);
    CProgressBar progress(totalFrames, rate, !o.quiet);
    const auto started = std::chrono::steady_clock::now();
    std::int64_t done = 0, tailDone = 0, inputFrames = 0;
    float peak = 0.0f;
    bool clipLed = false;
    bool sourceEnded = false;
    const auto stopIfInterrupted = [&] {
        if (g_bInterrupted) {
            progress.Finish();
            writer->Discard();
            throw Failure{kExitInterrupted, "interrupted; no output written"};
        }
    };
    while (true) {
        stopIfInterrupted();
        long frames = 0;
        if (!sourceEnded) {
            frames = source->Read(inLeft.data(), inRight.data(), chunk);
            inputFrames += frames;
            sourceEnded = frames < chunk;
            if (sourceEnded && file)
                ReportShortInput(o, *file, inputFrames, promisedFrames, *writer, progress);
        }
        // The tail continues with silence after the last input frame, in whole blocks as a host would.
        if (frames < chunk && tailDone < tailFrames) {
            const long extra = static_cast<long>(std::min<std::int64_t>(chunk - frames, tailFrames - tailDone));
            std::fill_n(inLeft.data() + frames, extra, 0.0f);
            std::fill_n(inRight.data() + frames, extra, 0.0f);
            frames += extra;
            tailDone += extra;
        }
        if (frames == 0)
            break;
        if (!plugin) {
            std::copy_n(inLeft.data(), frames, outLeft.data());
            std::copy_n(inRight.data(), frames, outRight.data());
        } else {
            // The plug-in gets the chunk block by block; an interrupt stops it between blocks.
            long processed = 0;
            if (!plugin->Process(inLeft.data(), inRight.data(), outLeft.data(), outRight.data(), frames,
                                 static_cast<int>(block), g_bInterrupted, clipLed, processed))
                throw Failure{kExitFailure, "the plug-in failed to process the block at " +
                                                std::to_string(static_cast<double>(done + processed) / rate) + " s"};
            if (processed < frames)
                stopIfInterrupted();
        }
        peak = PeakOf(outLeft.data(), outRight.data(), frames, peak);
        if (!writer->Write(outLeft.data(), outRight.data(), frames))
            throw Failure{kExitFailure, "cannot write output file " + Quoted(destination) + " (disk full?)"};
        done += frames;
        progress.Update(done);
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    progress.Finish();

    std::vector<unsigned char> savedState;
    const std::uint32_t tailReported = plugin ? plugin->TailSamples() : 0;
    if (plugin) {
        if (!o.saveStatePath.empty() && !plugin->GetState(savedState, error))
            throw Failure{kExitFailure, error};
        plugin->Stop();
    }
    if (!writer->Commit(error))
        throw Failure{kExitFailure, error};
    if (!savedState.empty() && !corvex::WriteFileAtomically(o.saveStatePath, savedState.data(), savedState.size(), error))
        throw Failure{kExitFailure, error};

    if (o.verbose) {
        // What the host side did, for the settings whose effect the audio cannot show.
        if (file) {
            std::string used;
            for (int c : file->UsedChannels())
                used += (used.empty() ? "" : ",") + std::to_string(c);
            std::printf("input: %s, %lld frames read, channels %s used\n", file->Description().c_str(),
                        static_cast<long long>(inputFrames), used.c_str());
        }
        if (plugin) {
            const BlockCounts blocks = plugin->Blocks();
            std::printf("module: %s\n", plugin->LoadedLibrary().c_str());
            std::printf("host: %d Hz, blocks of at most %d samples, tempo %g BPM\n", rate, blocks.maxBlock,
                        blocks.tempo);
            std::printf("plug-in tail: %u samples\n", static_cast<unsigned>(tailReported));
            std::vector<unsigned char> held;
            if (plugin->GetState(held, error))
                std::printf("cabinet: %s\n", DescribeCabinet(held).c_str());
            std::printf("blocks: %lld process calls of %d to %d samples, %lld samples in all\n",
                        static_cast<long long>(blocks.blocks), blocks.smallest, blocks.largest,
                        static_cast<long long>(blocks.samples));
        }
        std::printf("tail: %lld samples of silence after the input\n", static_cast<long long>(tailDone));
    }
    if (!o.quiet) {
        const double seconds = static_cast<double>(done) / rate;
        std::printf("%s: %.2f s at %d Hz (%s) in %.2f s, %.0fx real time, peak %s%s\n", destination.c_str(), seconds,
                    rate, format.name.c_str(), elapsed, elapsed > 0.0 ? seconds / elapsed : 0.0,
                    Decibels(peak).c_str(),
                    dry ? ", dry" : clipLed ? ", output clip LED lit" : ", output clip LED never lit");
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    CLI::App app{"Renders audio files, or a built-in demo phrase, through the Corvex VST 3 plug-in.",
                 "corvex-render"};
    app.set_version_flag("--version", std::string("corvex-render ") + corvex::kVersionString);
    app.add_option("INPUT", o.input, "Audio file to process (anything libsndfile decodes: WAV, AIFF, FLAC, Ogg, Opus, "
                                     "MP3, ...; 44.1 to 192 kHz)");
    app.add_option("--channels", o.channels, "Channels of INPUT to use, counted from 1: one (fed to both inputs) or "
                                             "two (left,right); needed for files of more than two channels")
        ->type_name("L[,R]");
    app.add_flag("--strict", o.strict, "Fail, writing nothing, if INPUT is shorter than its header says or cannot be "
                                       "read to its end");
    app.add_option("OUTPUT", o.output, "Stereo file to write, at the input's rate");
    app.add_option("--demo", o.demo, "Render the built-in guitar phrase through the plug-in to OUT")->type_name("OUT");
    app.add_option("--demo-dry", o.demoDry, "Write the built-in guitar phrase unprocessed to OUT")->type_name("OUT");
    app.add_option("--tuner", o.tuner, "Print a tuner reading of FILE's selected input (left unless \"Input "
                                       "Selection\" is 0 by --set, --state or --preset) every 50 ms: seconds, note, "
                                       "hertz, cents, or seconds and - when there is no pitch")
        ->type_name("FILE");
    CLI::Option* reference = app.add_option("--reference", o.reference, "The tuner's A4, 430 to 450 Hz (default 440)")
        ->type_name("HZ");
    app.add_option("--set", o.settings, "Set a parameter by title or identifier, e.g. \"Distortion Level=0.8\" or "
                                        "\"5=0.8\" (repeatable)")
        ->type_name("NAME=VALUE")
        ->allow_extra_args(false);
    app.add_flag("--bypass", o.bypass, "Engage the plug-in's bypass");
    app.add_option("--tempo", o.tempo, "Host tempo for the delay, in BPM (default 120)")->type_name("BPM");
    app.add_option("--block", o.block, "Block size in samples, 1 to 8192 (default 1024)")->type_name("N");
    CLI::Option* tail = app.add_option("--tail", o.tail, "Seconds of silence processed after the input so delay and reverb ring out "
                                     "(default 0; 3 with --demo)")
        ->type_name("SECONDS");
    app.add_option("--state", o.statePath, "Load a component state before rendering (80 bytes, then the cabinet IR "
                                           "it carries, as --save-state writes it)")
        ->type_name("FILE");
    app.add_option("--ir", o.irPath, "Play through this cabinet impulse response instead of the built-in cabinet: "
                                     "any audio file libsndfile decodes, mono or stereo, 8 to 384 kHz, up to 10 s; "
                                     "replaces the IR of --state, and --save-state keeps it")
        ->type_name("FILE");
    app.add_option("--preset", o.presetName, "Start from a preset, a factory one or your own (see --list-presets); "
                                             "--set applies on top")
        ->type_name("NAME");
    app.add_option("--save-state", o.saveStatePath, "Save the component state after rendering")->type_name("FILE");
    app.add_option("--format", o.format, "Output format: wav16, wav24, wav32f, flac16, flac24, aiff16, aiff24, "
                                         "aiff32f or ogg (default: from OUTPUT's extension, 24-bit WAV otherwise)");
    app.add_option("--module", o.modulePath, std::string("Corvex.vst3 bundle to load (default: ") +
                                                corvex::hosting::kDefaultModuleOrder + ")")
        ->type_name("PATH");
    app.add_option("--at", o.at, "At a time in the render, set a parameter (\"12.5:Delay ON OFF=off\", as --set "
                                 "takes it) or change to a preset as Program Change does (\"30:preset=Clean\": "
                                 "crossfaded, the echoes ringing on); sample-accurate, repeatable")
        ->type_name("SECONDS:NAME=VALUE")
        ->allow_extra_args(false);
    app.add_option("--midi", o.midiPath, "Play a Standard MIDI File's Control and Program Changes along the render "
                                         "at their times, as a DAW hands them to the plug-in (see --list-midi)")
        ->type_name("FILE.mid");
    app.add_flag("--list-midi", o.listMidi, "Print the MIDI controllers and Program Changes the plug-in answers, "
                                            "and exit");
    app.add_flag("--list-params", o.listParams, "Print the parameters the plug-in reports, and exit");
    app.add_flag("--list-presets", o.listPresets, "Print the presets: the factory ones, then yours (the VST 3 user "
                                                  "preset folder), in Program Change order, and exit");
    app.add_flag("-q,--quiet", o.quiet, "No progress bar and no summary");
    app.add_flag("-v,--verbose", o.verbose, "Also print the module loaded, the block sizes and tempo handed to it, "
                                             "the tail it reports, the cabinet it plays through and the silence "
                                             "rendered after the input");

    try {
        app.parse(argc, argv);
        o.tailGiven = tail->count() > 0;
        o.referenceGiven = reference->count() > 0;
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);
        std::fprintf(stderr, "corvex-render: error: %s\n", e.what());
        return kExitUsage;
    }

    if (o.listMidi) {
        std::fputs(corvex::FormatMidiMap(corvex::DefaultMidiMap(), static_cast<int>(Presets().size())).c_str(), stdout);
        return 0;
    }
    if (o.listPresets) {
        for (const corvex::PresetEntry& preset : Presets()) {
            const corvex::FactoryPreset* factory = corvex::FindFactoryPreset(preset.name);
            std::printf("%-18s %s\n", preset.name.c_str(),
                        factory ? factory->description : ("yours: " + preset.path).c_str());
        }
        return 0;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    try {
        return Run(o);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "corvex-render: error: %s\n", failure.message.c_str());
        return failure.code;
    }
}
