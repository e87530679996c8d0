#pragma once

#include "base/Parameters.h"
#include "public.sdk/source/vst/vstparameters.h"

namespace corvex {

constexpr Steinberg::Vst::UnitID kUnit1Id = 1;
constexpr const Steinberg::Vst::TChar* kUnit1Name = STR16("Unit1");

// The program list of unit 1 and its program-change parameter, which hosts list after the 19
// and route Program Change to. Its identifier is the list's, as the SDK's program lists have it,
// and far from 1 to 19 so no table indexed by those can reach it.
constexpr Steinberg::Vst::ProgramListID kProgramListId = 1000;
constexpr Steinberg::Vst::ParamID kProgramParam = kProgramListId;
constexpr const Steinberg::Vst::TChar* kProgramListName = STR16("Presets");

// The host-visible flags of a parameter kind.
Steinberg::int32 ParameterFlags(ParamKind kind);

// Adds parameters 1 to 19 in ascending order, each at its default widened from float.
// False if the container refuses one.
bool RegisterParameters(Steinberg::Vst::ParameterContainer& parameters);

} // namespace corvex
