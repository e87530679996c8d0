#pragma once

#include "PluginModule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace test {

// The bundle under test: the built one (CORVEX_BUNDLE_PATH), or an installed one that
// CORVEX_TEST_BUNDLE names.
inline std::string BundlePath()
{
    const char* installed = std::getenv("CORVEX_TEST_BUNDLE");
    return installed != nullptr && *installed != '\0' ? installed : CORVEX_BUNDLE_PATH;
}

// The bundle under test, loaded once per test process as a host loads it.
inline corvex::hosting::PluginModule& Module()
{
    static std::unique_ptr<corvex::hosting::PluginModule> module = [] {
        std::string error;
        auto loaded = corvex::hosting::PluginModule::Load(BundlePath(), error);
        if (!loaded) {
            ADD_FAILURE() << "cannot load " << BundlePath() << ": " << error;
            std::abort();
        }
        return loaded;
    }();
    return *module;
}

} // namespace test
