#include "PluginModule.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <filesystem>

namespace corvex::hosting {
namespace {

#if defined(_WIN32)
#if defined(_M_ARM64) || defined(__aarch64__)
constexpr const char* kArchitecture = "arm64-win";
#else
constexpr const char* kArchitecture = "x86_64-win";
#endif
constexpr const char* kBinarySuffix = ".vst3";
#else
#if defined(__x86_64__)
constexpr const char* kArchitecture = "x86_64-linux";
#elif defined(__aarch64__)
constexpr const char* kArchitecture = "aarch64-linux";
#else
constexpr const char* kArchitecture = "unknown-linux";
#endif
constexpr const char* kBinarySuffix = ".so";
#endif

using ModuleEntryFunc = bool (*)(void*);
using ModuleExitFunc = bool (*)();
using InitDllFunc = bool (PLUGIN_API*)();
using GetFactoryFunc = Steinberg::IPluginFactory* (PLUGIN_API*)();

#if defined(_WIN32)
std::wstring Widen(const std::string& utf8)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string LastErrorText()
{
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : "error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message;
}
#endif

} // namespace

std::string BundleBinaryPath(const std::string& bundle)
{
    namespace fs = std::filesystem;
    const fs::path root(bundle);
    if (fs::is_regular_file(root))
        return bundle;
    const std::string name = root.filename().stem().string();
    return (root / "Contents" / kArchitecture / (name + kBinarySuffix)).string();
}

#if defined(_WIN32)

// Windows hosts: LoadLibraryW, InitDll, GetPluginFactory; ExitDll and FreeLibrary on destruction.
// The module records its own instance handle in DllMain.
std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path, std::string& error)
{
    std::unique_ptr<PluginModule> module(new PluginModule());
    module->m_path = BundleBinaryPath(path);
    module->m_handle = LoadLibraryW(Widen(module->m_path).c_str());
    if (!module->m_handle) {
        error = module->m_path + ": " + LastErrorText();
        return nullptr;
    }
    auto initDll = reinterpret_cast<InitDllFunc>(module->Symbol("InitDll"));
    if (!initDll || !initDll()) {
        error = "InitDll missing or failed";
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
        if (auto exitDll = reinterpret_cast<InitDllFunc>(Symbol("ExitDll")))
            exitDll();
    if (m_handle)
        FreeLibrary(static_cast<HMODULE>(m_handle));
}

void* PluginModule::Symbol(const char* name) const
{
    return m_handle ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name)) : nullptr;
}

#else

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

#endif

} // namespace corvex::hosting
