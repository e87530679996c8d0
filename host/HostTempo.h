#pragma once

namespace corvex::hosting {

// The tempi the apps take from a user or a transport, and the one they start with. The delay
// needs a quarter note to fit its 33 s line; DAWs offer 20 to 999 BPM.
constexpr double kMinHostTempo = 20.0;
constexpr double kMaxHostTempo = 999.0;
constexpr double kDefaultHostTempo = 120.0;

} // namespace corvex::hosting
