#pragma once

#include <string>

#include "ImpulseSource.h"

namespace corvex {

// Reads a user IR from an audio file (path in UTF-8): any file libsndfile decodes on Linux, RIFF/WAVE
// (ReadWaveImpulseFile) where the build has no libsndfile. On success out holds a source that
// ImpulseProblem accepts, named after the file; otherwise error says why in a short sentence that
// names the file ("'x.wav' is silent") and out is untouched. Any thread but the audio thread.
bool ReadImpulseFile(const std::string& path, ImpulseSource& out, std::string& error);

// Our own RIFF/WAVE reader: PCM of 8 (unsigned), 16, 24 and 32 bits and IEEE floats of 32 and 64
// bits, plain or WAVE_FORMAT_EXTENSIBLE, scaled to floats exactly as libsndfile scales them.
// Same promises as ReadImpulseFile.
bool ReadWaveImpulseFile(const std::string& path, ImpulseSource& out, std::string& error);

} // namespace corvex
