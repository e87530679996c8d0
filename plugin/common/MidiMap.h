#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Parameters.h"

namespace corvex {

// The default MIDI map every format and program reads: one Control Change per user control and
// Bypass, taken from MIDI's undefined controllers so none collides with what instruments and
// pedals already send, and Program Change for the presets.
struct MidiBinding {
    int controller; // Control Change number, 0 to 127
    ParamID id;
};

// Controllers 20 to 31 reach parameters 1 to 12 in identifier order (CC = 19 + identifier);
// Expression (CC 11) also drives Distortion Level, the level a player puts on a pedal; Bypass is
// CC 102.
constexpr int kMidiBindingCount = 14;
extern const MidiBinding kMidiMap[kMidiBindingCount];

// MIDI's status bytes, as every reader here takes them apart.
constexpr std::uint8_t kMidiStatusBit = 0x80;
constexpr std::uint8_t kMidiKindMask = 0xF0;
constexpr std::uint8_t kMidiChannelMask = 0x0F;
constexpr std::uint8_t kMidiControlChange = 0xB0;
constexpr std::uint8_t kMidiProgramChange = 0xC0;
constexpr std::uint8_t kMidiChannelPressure = 0xD0; // the other channel message of one data byte
constexpr std::uint8_t kMidiSysExStart = 0xF0;
constexpr std::uint8_t kMidiSysExEnd = 0xF7;
constexpr std::uint8_t kMidiFirstRealTime = 0xF8;

constexpr int kMidiControllerCount = 128;
constexpr int kMidiValueMax = 127;
constexpr int kMidiSwitchOn = 64; // 64 to 127 switch on, 0 to 63 off
constexpr int kMidiChannelCount = 16;

// The parameter a controller reaches by default, or 0 for none.
ParamID DefaultMidiParam(int controller);
// The first controller bound to a parameter by default, or -1 for none.
int DefaultMidiController(ParamID id);

// A controller value as the parameter takes it: a switch is on from 64, a level is value / 127
// (as hosts convert a mapped controller). Out-of-range values are clamped.
double MidiControlValue(ParamID id, int value);

// The normalised value of the program-change parameter that selects program `index` of
// `count` (the inverse of ProgramIndex), as hosts convert it.
double ProgramValue(int index, int count);
// The program a normalised program-change value selects, in [0, count - 1] (0 when count < 1).
int ProgramIndex(double value, int count);

// What --list-midi prints: one line per controller, "CC <n>  <parameter title>", in controller
// order, then the Program Change line for `programCount` presets.
std::string FormatMidiMap(const std::vector<MidiBinding>& bindings, int programCount);
std::vector<MidiBinding> DefaultMidiMap();

// A MIDI channel message as the live programs receive it, status byte included.
struct MidiMessage {
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;
};

// What a Control Change or Program Change on a listened channel asks for. `channel` is 0 to 15,
// or -1 for every channel (omni).
struct MidiAction {
    enum class Kind { None, Control, Program } kind = Kind::None;
    int controller = 0; // Control
    int value = 0;      // Control: 0 to 127; Program: the program number
};
MidiAction DecodeMidi(const MidiMessage& message, int channel);

// Turns a byte stream into channel messages: running status, System Exclusive (skipped whole),
// System Common (ends running status) and real-time bytes (anywhere, ignored) as MIDI defines
// them. No allocation: safe on an audio thread.
class CMidiParser {
public:
    // True when `byte` completes a channel message, then in `message`.
    bool Feed(std::uint8_t byte, MidiMessage& message);

private:
    std::uint8_t m_status = 0; // running status, 0 for none
    std::uint8_t m_data[2] = {};
    int m_count = 0;
    bool m_bSysEx = false;
};

// Which parameter each controller reaches: the default map, changed by learning. A fixed table,
// copied between threads by value.
struct MidiControllerMap {
    ParamID params[kMidiControllerCount] = {}; // 0: none
    // A momentary footswitch (127 on each press, never 0) bound to a switch: each press toggles.
    bool toggles[kMidiControllerCount] = {};

    static MidiControllerMap Default();
    // Binds `controller` alone to `id` (what it reached before is dropped).
    void Bind(int controller, ParamID id, bool toggle = false);
    // Unbinds every controller reaching `id`.
    void Forget(ParamID id);
    // The first controller reaching `id`, or -1.
    int ControllerOf(ParamID id) const;
    // The bound controllers in controller order, as FormatMidiMap takes them.
    std::vector<MidiBinding> Bindings() const;
    bool operator==(const MidiControllerMap& other) const;
};

// The parameters a controller may be bound to: the twelve user controls and Bypass.
bool IsMidiControllable(ParamID id);

} // namespace corvex
