#pragma once

#include <cstdint>

// The one list of Corvex's parameters. The identifier of a parameter is its index in every
// table below, its position in the state stream and the tag of its editor control.

namespace corvex {

using ParamID = std::uint32_t;

enum : ParamID {
    kParamListStart = 0, // marker, never a parameter
    kInputSelection = 1,
    kGateCompressorOnOff = 2,
    kCompressorLevel = 3,
    kDistortionOnOff = 4,
    kDistortionLevel = 5,
    kStereoEnhancerOnOff = 6,
    kDelayOnOff = 7,
    kModulationOnOff = 8,
    kChorusSpeed = 9,
    kReverbOnOff = 10,
    kDelayLevel = 11,
    kReverbLevel = 12,
    kOutputLeftVumeter = 13,
    kOutputRightVumeter = 14,
    kInputClippingLed = 15,
    kOuputClippingLed = 16,
    kCompressionLed = 17,
    kButton1 = 18,
    kBypass = 19,
    kParamListEnd = 20, // marker, never a parameter
};

constexpr ParamID kFirstParam = 1;
constexpr ParamID kLastParam = 19;
constexpr int kParamCount = 19;      // parameters the host sees
constexpr int kParamTableSize = 21;  // identifiers 0 to 20, markers included

enum class ParamKind {
    Switch,     // on/off, step count 1, automatable
    Continuous, // level in [0, 1], automatable
    Meter,      // read-only indicator written by the engine
    Led,        // read-only indicator written by the engine
    Bypass,     // the host's bypass
};

struct ParamInfo {
    const char* title;
    ParamKind kind;
    int stepCount;
    float defaultValue;
};

// Indexed by identifier; entries 0 and 20 are the list markers.
extern const ParamInfo kParamInfos[kParamTableSize];

inline bool IsParameter(ParamID id) { return id >= kFirstParam && id <= kLastParam; }
inline bool IsIndicator(ParamID id) { return id >= kOutputLeftVumeter && id <= kCompressionLed; }

} // namespace corvex
