#include "PluginModule.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdlib>
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

#if defined(_WIN32)

// The module records its own instance handle in DllMain: InitDll takes none.
void* OpenLibrary(const std::string& path, std::string& error)
{
    HMODULE handle = LoadLibraryW(Widen(path).c_str());
    if (!handle)
        error = path + ": " + LastErrorText();
    return handle;
}

void* FindSymbol(void* handle, const char* name)
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

bool EnterModule(void* handle, std::string& error)
{
    auto initDll = reinterpret_cast<InitDllFunc>(FindSymbol(handle, "InitDll"));
    if (!initDll || !initDll()) {
        error = "InitDll missing or failed";
        return false;
    }
    return true;
}

void ExitModule(void* handle)
{
    if (auto exitDll = reinterpret_cast<InitDllFunc>(FindSymbol(handle, "ExitDll")))
        exitDll();
}

void CloseLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

#else

void* OpenLibrary(const std::string& path, std::string& error)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* message = dlerror();
        error = message ? message : "dlopen failed";
    }
    return handle;
}

void* FindSymbol(void* handle, const char* name) { return dlsym(handle, name); }

bool EnterModule(void* handle, std::string& error)
{
    auto entry = reinterpret_cast<ModuleEntryFunc>(FindSymbol(handle, "ModuleEntry"));
    if (!entry || !entry(handle)) {
        error = "ModuleEntry missing or failed";
        return false;
    }
    return true;
}

void ExitModule(void* handle)
{
    if (auto exitModule = reinterpret_cast<ModuleExitFunc>(FindSymbol(handle, "ModuleExit")))
        exitModule();
}

void CloseLibrary(void* handle) { dlclose(handle); }

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

std::string CannotLoadModule(const std::string& modulePath)
{
    return "cannot load the plug-in module \"" + modulePath + "\": ";
}

std::unique_ptr<PluginModule> LoadNamedModule(const std::string& modulePath, std::string& error)
{
    std::error_code ec;
    const bool isBundle = std::filesystem::is_directory(modulePath, ec);
    const std::string library = isBundle ? BundleBinaryPath(modulePath) : modulePath;
    if (!std::filesystem::exists(library, ec)) {
        error = CannotLoadModule(modulePath) + library +
                " does not exist (build the Corvex target, or give --module PATH)";
        return nullptr;
    }
    std::string why;
    std::unique_ptr<PluginModule> module = PluginModule::Load(modulePath, why);
    if (!module)
        error = CannotLoadModule(modulePath) + why;
    return module;
}

std::string DefaultModulePath(const std::string& builtModule, const std::string& builtProgramDir)
{
    std::error_code ec;
    const bool built = !builtModule.empty() && std::filesystem::exists(builtModule, ec);
    const char* home = std::getenv("HOME");
    const std::string perUser = std::string(home ? home : "") + "/.vst3/Corvex.vst3";
#ifndef _WIN32
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        std::error_code same;
        if (std::filesystem::equivalent(program.parent_path(), builtProgramDir, same) && !same)
            return built ? builtModule : perUser;
        // Installed with the program (the Debian package: /usr/bin and /usr/lib/vst3).
        const std::filesystem::path installed = program.parent_path().parent_path() / "lib/vst3/Corvex.vst3";
        if (std::filesystem::exists(installed, ec))
            return installed.string();
        if (std::filesystem::exists(perUser, ec) || !built)
            return perUser;
        return builtModule;
    }
#endif
    (void)builtProgramDir;
    return built ? builtModule : perUser;
}

std::unique_ptr<PluginModule> PluginModule::Load(const std::string& path, std::string& error)
{
    std::unique_ptr<PluginModule> module(new PluginModule());
    module->m_path = BundleBinaryPath(path);
    module->m_handle = OpenLibrary(module->m_path, error);
    if (!module->m_handle || !EnterModule(module->m_handle, error))
        return nullptr;
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
        ExitModule(m_handle);
    if (m_handle)
        CloseLibrary(m_handle);
}

void* PluginModule::Symbol(const char* name) const
{
    return m_handle ? FindSymbol(m_handle, name) : nullptr;
}

} // namespace corvex::hosting
