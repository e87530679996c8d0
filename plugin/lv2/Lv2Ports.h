#pragma once

#include <cstdint>

#include "base/Parameters.h"

namespace corvex::lv2 {

// Hosts store these in sessions and presets: they must never change.
inline constexpr const char* kPluginUri = "https://corvex.example.org/lv2/corvex";
inline constexpr const char* kUiUri = "https://corvex.example.org/lv2/corvex#ui";
inline constexpr const char* kBinaryName = "corvex.so";
inline constexpr const char* kUiBinaryName = "corvex_ui.so";

enum class PortKind {
    AudioIn,
    AudioOut,
    TimeIn,     // atom sequence carrying time:Position
    ControlIn,  // a user parameter
    Enabled,    // the host's bypass, lv2:enabled: 1 processes, 0 passes the input through
    ControlOut, // a meter or LED the chain writes
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
    kPortCount = kPortFirstIndicator + (kCompressionLed - kOutputLeftVumeter + 1),
};

extern const PortInfo kPorts[kPortCount];

// The control port showing parameter id (1 to 17, or kBypass for the enabled port), or
// kPortCount when none does.
std::uint32_t PortOfParam(ParamID id);

} // namespace corvex::lv2
