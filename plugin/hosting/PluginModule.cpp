#include "PluginModule.h"

#include <dlfcn.h>

#include <filesystem>

namespace corvex::hosting {
namespace {

#if defined(__x86_64__)
constexpr const char* kArchitecture = "x86_64-linux";
#elif defined(__aarch64__)
constexpr const char* kArchitecture = "aarch64-linux";
#else
constexpr const char* kArchitecture = "unknown-linux";
#endif

using ModuleEntryFunc = bool (*)(void*);
using ModuleExitFunc = bool (*)();
using GetFactoryFunc = Steinberg::IPluginFactory* (PLUGIN_API*)();

} // namespace

std::string BundleBinaryPath(const std::string& bundle)
{
    namespace fs = std::filesystem;
    const fs::path root(bundle);
    if (fs::is_regular_file(root))
        return bundle;
    const std::string name = root.filename().stem().string();
    return (root / "Contents" / kArchitecture / (name + ".so")).string();
}

std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path, std::string& error)
{
    std::unique_ptr<PluginModule> module(new PluginModule());
    module->m_path = BundleBinaryPath(path);
    module->m_handle = dlopen(module->m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module->m_handle) {
        const char* message = dlerror();
        error = message ? message : "dlopen failed";
        return nullptr;
    }
    auto entry = reinterpret_cast<ModuleEntryFunc>(module->Symbol("ModuleEntry"));
    if (!entry || !entry(module->m_handle)) {
        error = "ModuleEntry missing or failed";
        return nullptr;
    }
    module->m_entered = true;
    auto getFactory = reinterpret_cast<GetFactoryFunc>(module->Symbol("GetPluginFactory"));
    module->m_factory = getFactory ? getFactory() : nullptr;
    if (!module->m_factory) {
        error = "GetPluginFactory missing or returned no factory";
        return nullptr;
    }
    return module;
}

PluginModule::~PluginModule()
{
    if (m_factory)
        m_factory->release();
    if (m_entered)
        if (auto exitModule = reinterpret_cast<ModuleExitFunc>(Symbol("ModuleExit")))
            exitModule();
    if (m_handle)
        dlclose(m_handle);
}

void* PluginModule::Symbol(const char* name) const
{
    return m_handle ? dlsym(m_handle, name) : nullptr;
}

} // namespace corvex::hosting
