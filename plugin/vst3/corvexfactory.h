#pragma once

#include "pluginterfaces/base/ipluginbase.h"

namespace corvex {

// A new factory describing the processor and then the controller; the caller owns the one
// reference it carries.
Steinberg::IPluginFactory* CreateCorvexFactory();

} // namespace corvex
