#pragma once

#include <memory>
#include <vector>

#include "ImpulseSource.h"
#include "cabinet/CabinetImpulse.h"

namespace corvex {

// The source's channels at rate, one vector each (one for mono), resampled with libsamplerate's
// medium sinc converter unless the rates agree, when the samples are copied as they are. Each
// holds the source's length at the new rate, rounded up; none for a source without samples or a
// rate that is not positive. Off the audio thread.
std::vector<std::vector<float>> ResampleImpulse(const ImpulseSource& source, double rate);

// The engine's impulse for a source ImpulseProblem accepts, at the session's rate, with its spare
// (CCabinetImpulse::AttachSpare) for the processor core's second chain; nullptr for one
// ResampleImpulse cannot resample or when the memory cannot be had. Off the audio thread.
std::unique_ptr<CCabinetImpulse> PrepareImpulse(const ImpulseSource& source, double sessionRate);

} // namespace corvex
