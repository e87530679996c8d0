// The module's exported entry points; everything else in the module stays hidden.

#include <atomic>

#include "corvexfactory.h"
#include "sdk/ModuleHandle.h"

#if defined(_WIN32)
#include <windows.h>
// A DLL exports what Corvex.def lists: GetPluginFactory, InitDll, ExitDll.
#define CORVEX_EXPORT extern "C"
#else
#define CORVEX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

// The module keeps one reference to its factory from the first GetPluginFactory until
// ModuleExit (or unload); every GetPluginFactory hands the host a reference of its own.
std::atomic<Steinberg::IPluginFactory*> g_factory{nullptr};
std::atomic<int> g_entryCount{0};

void ReleaseFactory()
{
    if (Steinberg::IPluginFactory* factory = g_factory.exchange(nullptr))
        factory->release();
}

struct FactoryReleaser {
    ~FactoryReleaser() { ReleaseFactory(); }
} g_factoryReleaser;

} // namespace

CORVEX_EXPORT Steinberg::IPluginFactory* PLUGIN_API GetPluginFactory()
{
    Steinberg::IPluginFactory* factory = g_factory.load();
    if (!factory) {
        Steinberg::IPluginFactory* created = corvex::CreateCorvexFactory();
        if (g_factory.compare_exchange_strong(factory, created))
            factory = created;
        else
            created->release();
    }
    factory->addRef();
    return factory;
}

#if defined(_WIN32)

// Windows hosts pass no handle to the module: it records its own instance handle at load.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        corvex::sdk::SetModuleHandle(instance);
    }
    else if (reason == DLL_PROCESS_DETACH) {
        corvex::sdk::SetModuleHandle(nullptr);
    }
    return TRUE;
}

#else

CORVEX_EXPORT bool ModuleEntry(void* sharedLibraryHandle)
{
    if (g_entryCount.fetch_add(1) == 0)
        corvex::sdk::SetModuleHandle(sharedLibraryHandle);
    return true;
}

CORVEX_EXPORT bool ModuleExit()
{
    const int previous = g_entryCount.fetch_sub(1);
    if (previous <= 0) {
        g_entryCount.fetch_add(1);
        return false;
    }
    if (previous == 1) {
        ReleaseFactory();
        corvex::sdk::SetModuleHandle(nullptr);
    }
    return true;
}

#endif

CORVEX_EXPORT bool InitDll()
{
    return true;
}

CORVEX_EXPORT bool ExitDll()
{
    return true;
}
