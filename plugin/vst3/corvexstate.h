#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ImpulseSource.h"
#include "StateLayout.h"
#include "base/Parameters.h"
#include "pluginterfaces/base/ibstream.h"

namespace corvex {

// Indexed by parameter identifier; entries 0 and 20 are unused.
using StateValues = std::array<float, kParamTableSize>;

// The most bytes a state may carry after its 80: the largest IR section (two channels of 10 s at
// 384 kHz, four bytes a sample at most, its name and header). More is refused unread.
constexpr std::size_t kMaxStateTail =
    std::size_t(kImpulseMaxChannels) * std::size_t(kImpulseMaxSeconds * kImpulseMaxRate) * 4 + kImpulseMaxNameBytes +
    4096;

// Reads a whole state. True only when every read succeeded and delivered all its bytes; any
// marker is accepted (and given in marker). values is written only on success.
bool ReadState(Steinberg::IBStream* stream, StateValues& values, float* marker = nullptr);

// Writes the marker and parameters 1 to 19; false at the first write that fails or falls short.
bool WriteState(Steinberg::IBStream* stream, const StateValues& values);

// What follows the 80 bytes, read to the stream's end: empty for an older state (or one without
// an IR). False when a read fails or more than kMaxStateTail bytes follow.
bool ReadStateTail(Steinberg::IBStream* stream, std::vector<std::uint8_t>& tail);

// A component state whole: the values, then the IR its section carries (nullptr when it has
// none: the built-in cabinet), or keepImpulse for a controls-only state (kPresetStateMarker)
// without a section: the IR that plays stays. False, with nothing written, when the values cannot
// be read or the section is damaged or oversized.
bool ReadComponentState(Steinberg::IBStream* stream, StateValues& values,
                        std::shared_ptr<const ImpulseSource>& impulse, bool& keepImpulse);

// Writes bytes whole; false when a write fails or falls short.
bool WriteBytes(Steinberg::IBStream* stream, const std::vector<std::uint8_t>& bytes);

// The value a parameter may take from outside: clamped to [0, 1], fallback for NaN.
float SanitiseValue(double value, float fallback);

// The defaults of every parameter, indexed by identifier.
StateValues DefaultValues();

} // namespace corvex
