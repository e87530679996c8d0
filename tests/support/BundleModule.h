#pragma once

#include "PluginModule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace test {

// The built bundle (CORVEX_BUNDLE_PATH), loaded once per test process as a host loads it.
inline corvex::hosting::PluginModule& Module()
{
    static std::unique_ptr<corvex::hosting::PluginModule> module = [] {
        std::string error;
        auto loaded = corvex::hosting::PluginModule::Load(CORVEX_BUNDLE_PATH, error);
        if (!loaded) {
            ADD_FAILURE() << "cannot load " << CORVEX_BUNDLE_PATH << ": " << error;
            std::abort();
        }
        return loaded;
    }();
    return *module;
}

} // namespace test
