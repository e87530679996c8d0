#pragma once

#include <cstddef>

#include "base/Parameters.h"

namespace corvex {

// The component state both formats' hosts store, and the state files corvex and corvex-render
// read: a 1.0 marker, then the float of every parameter 1 to 19, each 4 bytes, little-endian.
// The controller's own state has the same layout.
constexpr int kStateValueBytes = 4;
constexpr std::size_t kStateSize = kStateValueBytes * (1 + kParamCount);
constexpr float kStateMarker = 1.0f;
// The marker of a state that holds the controls only (the factory presets): without an IR section
// it keeps the IR that plays, where a 1.0 state without one is the built-in cabinet. Readers
// before this one accept any marker and play the built-in cabinet.
constexpr float kPresetStateMarker = 2.0f;

} // namespace corvex
