#pragma once

#include <memory>
#include <string>

#include "pluginterfaces/base/ipluginbase.h"

namespace corvex::hosting {

// A VST 3 module loaded the way hosts load it: on Linux dlopen, ModuleEntry, GetPluginFactory,
// and ModuleExit and dlclose on destruction; on Windows LoadLibraryW, InitDll, GetPluginFactory,
// and ExitDll and FreeLibrary on destruction.
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
    // The dlopen handle, or the HMODULE on Windows.
    void* Handle() const { return m_handle; }

private:
    PluginModule() = default;

    void* m_handle = nullptr;
    bool m_entered = false;
    Steinberg::IPluginFactory* m_factory = nullptr;
    std::string m_path;
};

// The binary of a bundle: Name.vst3/Contents/<arch>-linux/Name.so, on Windows
// Name.vst3/Contents/x86_64-win/Name.vst3.
std::string BundleBinaryPath(const std::string& bundle);

// Loads modulePath (a bundle or the binary inside it) for an app or a tool. nullptr on failure,
// with an error that names the module and the reason; a missing binary says how to get one.
std::unique_ptr<PluginModule> LoadNamedModule(const std::string& modulePath, std::string& error);
// The start of such an error, for the steps that follow loading.
std::string CannotLoadModule(const std::string& modulePath);
// The module a program loads when given none, the first of these that exists. Run from the folder
// the build put it in (builtProgramDir), the program takes builtModule, the module built with it,
// so a rebuild is what it plays. Installed anywhere else, it takes what the hosts take: the module
// installed with it (<prefix>/lib/vst3/Corvex.vst3 beside <prefix>/bin), else the per-user
// ~/.vst3/Corvex.vst3; builtModule only when neither exists. Without the per-user one the result
// names it all the same, for the error to say what is missing.
std::string DefaultModulePath(const std::string& builtModule, const std::string& builtProgramDir);
// That order, for a program's help.
inline constexpr const char* kDefaultModuleOrder =
    "run from the build: the Corvex.vst3 built with it; installed: the one installed with it in ../lib/vst3, "
    "else ~/.vst3/Corvex.vst3, else the built one";

} // namespace corvex::hosting
