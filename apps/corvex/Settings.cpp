#include "Settings.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "ImpulseFile.h"
#include "ImpulseSection.h"

namespace corvex::live {

namespace {

std::string Trim(const std::string& s)
{
    const auto begin = s.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return "";
    return s.substr(begin, s.find_last_not_of(" \t\r") - begin + 1);
}

std::vector<std::string> SplitCommas(const std::string& s)
{
    std::vector<std::string> parts;
    std::stringstream stream(s);
    std::string part;
    while (std::getline(stream, part, ','))
        if (!Trim(part).empty())
            parts.push_back(Trim(part));
    return parts;
}

std::string JoinCommas(const std::vector<std::string>& parts)
{
    std::string joined;
    for (const std::string& part : parts)
        joined += (joined.empty() ? "" : ",") + part;
    return joined;
}

bool ParseInt(const std::string& text, int low, int high, int& value)
{
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || parsed < low || parsed > high)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

} // namespace

bool AudioSettings::operator==(const AudioSettings& o) const
{
    return backend == o.backend && inputs == o.inputs && outputs == o.outputs && connect == o.connect &&
           device == o.device && rate == o.rate && period == o.period && tempo == o.tempo && midiInput == o.midiInput &&
           alsaMidiInput == o.alsaMidiInput && midiChannel == o.midiChannel && midiMap == o.midiMap;
}

bool ParseMidiChannel(const std::string& text, int& channel)
{
    if (text == "omni") {
        channel = -1;
        return true;
    }
    int number = 0;
    if (!ParseInt(text, 1, kMidiChannelCount, number))
        return false;
    channel = number - 1;
    return true;
}

std::string FormatMidiChannel(int channel)
{
    return channel < 0 ? "omni" : std::to_string(channel + 1);
}

std::string SettingsDirectory()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config == '/')
        return std::string(config) + "/corvex";
    const char* home = std::getenv("HOME");
    return std::string(home ? home : ".") + "/.config/corvex";
}

AudioSettings ReadAudioSettings(const std::string& path, std::string& warning)
{
    AudioSettings defaults;
    std::ifstream file(path);
    if (!file)
        return defaults; // first run
    AudioSettings read;
    std::string line;
    int number = 0;
    auto refuse = [&](const std::string& why) {
        warning = "ignoring the audio settings in \"" + path + "\" (line " + std::to_string(number) + ": " + why +
                  "); using the defaults";
        return defaults;
    };
    while (std::getline(file, line)) {
        ++number;
        line = Trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            return refuse("no \"key = value\"");
        const std::string key = Trim(line.substr(0, equals));
        const std::string value = Trim(line.substr(equals + 1));
        if (key == "backend") {
            if (value != "jack" && value != "alsa")
                return refuse("backend is jack or alsa");
            read.backend = value;
        } else if (key == "inputs") {
            read.inputs = SplitCommas(value);
            if (read.inputs.size() > 2)
                return refuse("at most two inputs");
        } else if (key == "outputs") {
            read.outputs = SplitCommas(value);
            if (read.outputs.size() != 0 && read.outputs.size() != 2)
                return refuse("two outputs or none");
        } else if (key == "connect") {
            if (value != "yes" && value != "no")
                return refuse("connect is yes or no");
            read.connect = value == "yes";
        } else if (key == "device") {
            if (value.empty())
                return refuse("empty device");
            read.device = value;
        } else if (key == "rate") {
            if (!ParseInt(value, kMinRate, kMaxRate, read.rate))
                return refuse("rate outside " + std::to_string(kMinRate) + "-" + std::to_string(kMaxRate));
        } else if (key == "period") {
            if (!ParseInt(value, kMinPeriod, kMaxPeriod, read.period))
                return refuse("period outside " + std::to_string(kMinPeriod) + "-" + std::to_string(kMaxPeriod));
        } else if (key == "tempo") {
            char* end = nullptr;
            const double tempo = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(tempo >= kMinTempo && tempo <= kMaxTempo))
                return refuse("tempo outside 20-999");
            read.tempo = tempo;
        } else if (key == "midi-in") {
            read.midiInput = value;
        } else if (key == "alsa-midi-in") {
            read.alsaMidiInput = value;
        } else if (key == "midi-channel") {
            if (!ParseMidiChannel(value, read.midiChannel))
                return refuse("midi-channel is 1-16 or omni");
        } else if (key.rfind("cc ", 0) == 0) {
            // Where the map differs from the default: "cc 40 = 5", "cc 24 = none", "cc 41 = 7 toggle".
            int controller = 0, id = 0;
            const bool toggle = value.size() > 7 && value.compare(value.size() - 7, 7, " toggle") == 0;
            const std::string target = toggle ? Trim(value.substr(0, value.size() - 7)) : value;
            if (!ParseInt(Trim(key.substr(3)), 0, kMidiControllerCount - 1, controller))
                return refuse("controller outside 0-127");
            if (target == "none" && !toggle)
                read.midiMap.Bind(controller, 0);
            else if (ParseInt(target, 1, static_cast<int>(kLastParam), id) && IsMidiControllable(static_cast<ParamID>(id)))
                read.midiMap.Bind(controller, static_cast<ParamID>(id), toggle);
            else
                return refuse("a controller reaches none or a parameter 1-12 or 19");
        } else {
            return refuse("unknown key \"" + key + "\"");
        }
    }
    if (file.bad())
        return refuse("read error");
    return read;
}

std::string FormatAudioSettings(const AudioSettings& s)
{
    std::ostringstream out;
    out << "# corvex audio and MIDI settings, written by corvex; the command line overrides them\n";
    out << "backend = " << s.backend << "\n";
    out << "inputs = " << JoinCommas(s.inputs) << "\n";
    out << "outputs = " << JoinCommas(s.outputs) << "\n";
    out << "connect = " << (s.connect ? "yes" : "no") << "\n";
    out << "device = " << s.device << "\n";
    out << "rate = " << s.rate << "\n";
    out << "period = " << s.period << "\n";
    char tempo[32];
    std::snprintf(tempo, sizeof tempo, "%.17g", s.tempo);
    out << "tempo = " << tempo << "\n";
    out << "midi-in = " << s.midiInput << "\n";
    out << "alsa-midi-in = " << s.alsaMidiInput << "\n";
    out << "midi-channel = " << FormatMidiChannel(s.midiChannel) << "\n";
    out << "# controllers bound otherwise than by default: cc <number> = <parameter 1-12, 19> [toggle] or none\n";
    const MidiControllerMap defaults = MidiControllerMap::Default();
    for (int c = 0; c < kMidiControllerCount; ++c) {
        if (s.midiMap.params[c] == defaults.params[c] && s.midiMap.toggles[c] == defaults.toggles[c])
            continue;
        out << "cc " << c << " = ";
        if (s.midiMap.params[c] == 0)
            out << "none\n";
        else
            out << s.midiMap.params[c] << (s.midiMap.toggles[c] ? " toggle\n" : "\n");
    }
    return out.str();
}

std::optional<std::vector<unsigned char>> ReadStateFile(const std::string& path, bool required, std::string& warning)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (required || std::filesystem::exists(path))
            warning = "cannot read the state file \"" + path + "\"; using the default settings";
        return std::nullopt;
    }
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string refused = "ignoring the state file \"" + path + "\" (";
    if (bytes.size() < kStateSize) {
        warning = refused + std::to_string(bytes.size()) + " bytes; a Corvex state is " + std::to_string(kStateSize) +
                  " bytes, then its cabinet IR if any); using the default settings";
        return std::nullopt;
    }
    ImpulseSource impulse;
    std::string error;
    if (bytes.size() > kStateSize &&
        !DecodeImpulseSection(bytes.data() + kStateSize, bytes.size() - kStateSize, impulse, error)) {
        warning = refused + "its cabinet IR: " + error + "); using the default settings";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kStateSize / kStateValueBytes; ++i) {
        float value = 0.0f;
        std::memcpy(&value, &bytes[i * kStateValueBytes], kStateValueBytes);
        if (i == 0 ? value != kStateMarker : !(value >= 0.0f && value <= 1.0f)) {
            warning = refused + (i == 0 ? std::string("no state marker") : "value " + std::to_string(i) + " outside [0, 1]") +
                      "); using the default settings";
            return std::nullopt;
        }
    }
    return bytes;
}

bool PutImpulseFile(std::vector<unsigned char>& state, const std::string& path, std::string& error)
{
    ImpulseSource impulse;
    if (state.size() < kStateSize || !ReadImpulseFile(path, impulse, error))
        return false;
    const std::vector<std::uint8_t> section = EncodeImpulseSection(impulse);
    state.resize(kStateSize);
    state.insert(state.end(), section.begin(), section.end());
    return true;
}

std::string ReadPresetName(const std::string& path)
{
    std::ifstream file(path);
    std::string name;
    std::getline(file, name);
    return Trim(name);
}

} // namespace corvex::live
