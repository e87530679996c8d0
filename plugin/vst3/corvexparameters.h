#pragma once

#include "base/Parameters.h"
#include "public.sdk/source/vst/vstparameters.h"

namespace corvex {

constexpr Steinberg::Vst::UnitID kUnit1Id = 1;
constexpr const Steinberg::Vst::TChar* kUnit1Name = STR16("Unit1");

// The host-visible flags of a parameter kind.
Steinberg::int32 ParameterFlags(ParamKind kind);

// Adds parameters 1 to 19 in ascending order, each at its default widened from float.
// False if the container refuses one.
bool RegisterParameters(Steinberg::Vst::ParameterContainer& parameters);

} // namespace corvex
