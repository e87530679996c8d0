#pragma once

// The built VST 3 module loaded once, as a host loads it, with one instance set up to process.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "PluginInstance.h"
#include "PluginModule.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"

namespace corvex::fuzz {

constexpr double kSampleRate = 48000.0;
constexpr int kMaxBlock = 64;

struct CLoadedPlugin {
    std::unique_ptr<hosting::PluginModule> m_pModule;
    std::unique_ptr<Steinberg::Vst::HostApplication> m_pHost;
    std::unique_ptr<hosting::PluginInstance> m_pInstance; // destroyed first
};

// The module at CORVEX_BUNDLE_PATH, loaded on the first call; a module that does not load ends the run.
inline CLoadedPlugin& Plugin()
{
    static CLoadedPlugin plugin = [] {
        CLoadedPlugin loaded;
        std::string error;
        loaded.m_pModule = hosting::PluginModule::Load(CORVEX_BUNDLE_PATH, error);
        if (loaded.m_pModule) {
            loaded.m_pHost = std::make_unique<Steinberg::Vst::HostApplication>();
            loaded.m_pInstance = hosting::PluginInstance::Create(
                loaded.m_pModule->Factory(), static_cast<Steinberg::Vst::IHostApplication*>(loaded.m_pHost.get()), error);
        }
        if (!loaded.m_pInstance || loaded.m_pInstance->Setup(kSampleRate, kMaxBlock) != Steinberg::kResultOk ||
            loaded.m_pInstance->Activate(true) != Steinberg::kResultOk) {
            std::fprintf(stderr, "cannot run %s: %s\n", CORVEX_BUNDLE_PATH, error.c_str());
            std::exit(1);
        }
        return loaded;
    }();
    return plugin;
}

} // namespace corvex::fuzz
