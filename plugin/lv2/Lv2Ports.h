#pragma once

#include <cstdint>

#include "base/Parameters.h"

namespace corvex::lv2 {

// Hosts store these in sessions and presets: they must never change.
inline constexpr const char* kPluginUri = "https://corvex.example.org/lv2/corvex";
inline constexpr const char* kUiUri = "https://corvex.example.org/lv2/corvex#ui";
inline constexpr const char* kBinaryName = "corvex.so";
inline constexpr const char* kUiBinaryName = "corvex_ui.so";

// The user cabinet IR as a patch:writable and patch:readable property (an atom:Path; an empty
// path is the built-in cabinet). The plug-in answers patch:Set and patch:Get of it on its notify
// port with the absolute path it loaded, and with nothing when no such file is behind what plays
// (a restored IR, the built-in cabinet): a name or an empty path would send hosts to files that are
// not there.
inline constexpr const char* kImpulseUri = "https://corvex.example.org/lv2/corvex#impulse";
// News for the UI alone, on the notify port as an atom:Object of this type (not a patch:Set, which
// hosts check against the declared properties), holding one of the three keys below.
inline constexpr const char* kNoticeUri = "https://corvex.example.org/lv2/corvex#Notice";
// The name of the IR that plays (atom:String; empty: the built-in cabinet), after every change,
// restore and patch:Get, so the UI shows it even where the host drops the UI's own requests.
inline constexpr const char* kImpulseNameUri = "https://corvex.example.org/lv2/corvex#impulseName";
// Why the last IR was refused (atom:String).
inline constexpr const char* kImpulseErrorUri = "https://corvex.example.org/lv2/corvex#impulseError";
// After a state or preset restore, the parameter ports' values (an atom:Vector of atom:Float in
// port order from kPortFirstParam): some hosts tell the UI nothing when they set ports from a preset.
inline constexpr const char* kControlsUri = "https://corvex.example.org/lv2/corvex#controls";
// The tuner. The UI sends an atom:Object of this type to the control port on every editor tick
// while the tuner shows and once when it hides, holding kTunerShownUri and kTunerMuteUri
// (atom:Bool) and kTunerReferenceUri (A4 in hertz, atom:Float). Open, the plug-in copies the
// selected input, analyses it in work() and sends each reading to the UI as a notice of
// kTunerReadingUri; without a message for kTunerTimeoutSeconds (a UI gone without a word) it
// closes and unmutes on its own.
inline constexpr const char* kTunerUri = "https://corvex.example.org/lv2/corvex#Tuner";
inline constexpr const char* kTunerShownUri = "https://corvex.example.org/lv2/corvex#tunerShown";
inline constexpr const char* kTunerMuteUri = "https://corvex.example.org/lv2/corvex#tunerMute";
inline constexpr const char* kTunerReferenceUri = "https://corvex.example.org/lv2/corvex#tunerReference";
inline constexpr double kTunerTimeoutSeconds = 0.5;
// A reading: an atom:Vector of four atom:Double, the end of the audio it has seen (seconds since
// the tuner opened), the frequency (0: no pitch), the note (MIDI number) and its cents.
inline constexpr const char* kTunerReadingUri = "https://corvex.example.org/lv2/corvex#tunerReading";
// A state property (atom:Bool) the factory presets carry: a state with it and without an IR
// section sets the controls and keeps the IR that plays; one without either is the built-in cabinet.
inline constexpr const char* kControlsOnlyUri = "https://corvex.example.org/lv2/corvex#controlsOnly";
// The state key of the IR itself: its section bytes (the samples, not a path) as an atom:Chunk.
inline constexpr const char* kImpulseStateUri = "https://corvex.example.org/lv2/corvex#impulseSection";
// Room the hosts give each atom port: a patch:Set carrying a full-length path or refusal fits.
inline constexpr int kAtomPortMinimumSize = 16384;

enum class PortKind {
    AudioIn,
    AudioOut,
    TimeIn,     // the control atom sequence: time:Position, patch:Set and patch:Get
    ControlIn,  // a user parameter
    Enabled,    // the host's bypass, lv2:enabled: 1 processes, 0 passes the input through
    ControlOut, // a meter or LED the chain writes
    Notify,     // atom sequence: the IR's path to the host; its name, refusals, restored controls to the UI
};

struct PortInfo {
    PortKind kind;
    const char* symbol;
    const char* name; // parameters take the VST 3 title from kParamInfos instead
    ParamID id;       // the parameter behind a control port, else 0
};

// The ports in index order: the plug-in, its UI and the generated TTL all read this table.
enum : std::uint32_t {
    kPortInLeft,
    kPortInRight,
    kPortOutLeft,
    kPortOutRight,
    kPortTime,
    kPortFirstParam,                               // parameters 1 to 12 in identifier order
    kPortEnabled = kPortFirstParam + kReverbLevel, // after the twelve
    kPortFirstIndicator,                           // parameters 13 to 17 in identifier order
    kPortEndIndicator = kPortFirstIndicator + (kCompressionLed - kOutputLeftVumeter + 1),
    kPortNotify = kPortEndIndicator, // after the indicators, so older ports keep their indices
    kPortCount,
};

extern const PortInfo kPorts[kPortCount];

// The control port showing parameter id (1 to 17, or kBypass for the enabled port), or
// kPortCount when none does.
std::uint32_t PortOfParam(ParamID id);

} // namespace corvex::lv2
