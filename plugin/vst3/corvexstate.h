#pragma once

#include <array>

#include "StateLayout.h"
#include "base/Parameters.h"
#include "pluginterfaces/base/ibstream.h"

namespace corvex {

// Indexed by parameter identifier; entries 0 and 20 are unused.
using StateValues = std::array<float, kParamTableSize>;

// Reads a whole state. True only when every read succeeded and delivered all its bytes; the
// marker's value is not examined. values is written only on success.
bool ReadState(Steinberg::IBStream* stream, StateValues& values);

// Writes the marker and parameters 1 to 19; false at the first write that fails or falls short.
bool WriteState(Steinberg::IBStream* stream, const StateValues& values);

// The value a parameter may take from outside: clamped to [0, 1], fallback for NaN.
float SanitiseValue(double value, float fallback);

// The defaults of every parameter, indexed by identifier.
StateValues DefaultValues();

} // namespace corvex
