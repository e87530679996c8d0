#pragma once

#include "pluginterfaces/base/funknown.h"

namespace corvex {

// Hosts store these in projects: they must never change.
static const Steinberg::FUID kCorvexProcessorUID(0x0F8A2042, 0x802F946D, 0xD936376A, 0x1A90B8B8);
static const Steinberg::FUID kCorvexControllerUID(0xD451174E, 0xA6098EE0, 0x6B102AEC, 0x0A30443C);

} // namespace corvex
