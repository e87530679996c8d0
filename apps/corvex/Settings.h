#pragma once

#include <optional>
#include <string>
#include <vector>

#include "FileWriting.h"
#include "HostTempo.h"
#include "MidiMap.h"
#include "StateLayout.h"

namespace corvex::live {

// The audio and MIDI settings corvex remembers between runs. The command line overrides them.
struct AudioSettings {
    std::string backend = "jack"; // "jack" or "alsa"
    std::vector<std::string> inputs;  // JACK ports; empty: the first physical ones
    std::vector<std::string> outputs;
    bool connect = true;
    std::string device = "default"; // ALSA
    int rate = 48000;
    int period = 128;
    double tempo = hosting::kDefaultHostTempo;
    std::string midiInput;     // the JACK port the MIDI input is wired to; empty: none
    std::string alsaMidiInput; // the same on the ALSA sequencer ("20:0")
    int midiChannel = -1;      // 0 to 15, -1 for every channel
    MidiControllerMap midiMap = MidiControllerMap::Default();

    bool operator==(const AudioSettings& o) const;
};

// Accepted ranges, shared by the command line and the settings file.
constexpr int kMinRate = 22050;
constexpr int kMaxRate = 192000;
constexpr int kMinPeriod = 16;
constexpr int kMaxPeriod = 8192;
constexpr double kMinTempo = hosting::kMinHostTempo;
constexpr double kMaxTempo = hosting::kMaxHostTempo;

// "omni" or a channel as players count them, 1 to 16, into 0 to 15 or -1; false for anything else.
bool ParseMidiChannel(const std::string& text, int& channel);
std::string FormatMidiChannel(int channel);

// $XDG_CONFIG_HOME/corvex, else ~/.config/corvex.
std::string SettingsDirectory();

// Reads the file whole; on any fault nothing but a one-line warning: the defaults stand.
AudioSettings ReadAudioSettings(const std::string& path, std::string& warning);
std::string FormatAudioSettings(const AudioSettings& settings);

// A component state file: 80 bytes, the marker 1.0 and 19 values in [0, 1], then the cabinet IR
// section the state carries, if any, whole. Anything else gives no state and a one-line warning;
// a missing file warns only if `required`.
std::optional<std::vector<unsigned char>> ReadStateFile(const std::string& path, bool required, std::string& warning);

// Replaces the cabinet IR a state carries (or adds one) by the file at `path`; false, with the
// state unchanged and the reason in `error`, when the file cannot serve as an IR.
bool PutImpulseFile(std::vector<unsigned char>& state, const std::string& path, std::string& error);

// The name of the preset last chosen, kept in a file of one line; "" without one.
std::string ReadPresetName(const std::string& path);

// Settings are written whole, as presets are.
using corvex::WriteFileAtomically;

} // namespace corvex::live
