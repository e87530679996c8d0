#pragma once

#include <vector>

namespace corvex::render {

constexpr int kDemoSampleRate = 44100;

// The built-in guitar DI phrase: plucked-string synthesis of four strummed chords and a short
// single-note line, about 10 s of mono audio at kDemoSampleRate, peaking at -6 dBFS. The same
// samples on every run: the pluck noise comes from a fixed-seed generator.
std::vector<float> SynthesizeDemoPhrase();

} // namespace corvex::render
