#pragma once

#include <memory>
#include <string>

#include "pluginterfaces/base/ipluginbase.h"

namespace corvex::hosting {

// A VST 3 module loaded the way Linux hosts load it: dlopen, ModuleEntry, GetPluginFactory;
// ModuleExit and dlclose on destruction.
class PluginModule {
public:
    // path names a bundle (Name.vst3) or the shared object inside it. nullptr and a message
    // in error on failure.
    static std::unique_ptr<PluginModule> Load(const std::string& path, std::string& error);
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    // The factory, with the reference GetPluginFactory handed over (released on destruction).
    Steinberg::IPluginFactory* Factory() const { return m_factory; }
    // Another exported symbol of the module, or nullptr.
    void* Symbol(const char* name) const;
    const std::string& Path() const { return m_path; }

private:
    PluginModule() = default;

    void* m_handle = nullptr;
    bool m_entered = false;
    Steinberg::IPluginFactory* m_factory = nullptr;
    std::string m_path;
};

// The shared object of a bundle: Name.vst3/Contents/<arch>-linux/Name.so.
std::string BundleBinaryPath(const std::string& bundle);

} // namespace corvex::hosting
