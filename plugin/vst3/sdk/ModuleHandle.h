#pragma once

namespace corvex::sdk {

// The handle the host passed to ModuleEntry (the dlopen handle on Linux) or the module's
// HINSTANCE recorded by DllMain (Windows), or nullptr before entry. The editor loads its resources relative to the module through it.
void* ModuleHandle();
void SetModuleHandle(void* handle);

} // namespace corvex::sdk
