#include "ModuleHandle.h"

#include <atomic>

namespace corvex::sdk {
namespace {
std::atomic<void*> g_moduleHandle{nullptr};
}

void* ModuleHandle()
{
    return g_moduleHandle.load();
}

void SetModuleHandle(void* handle)
{
    g_moduleHandle.store(handle);
}

} // namespace corvex::sdk
