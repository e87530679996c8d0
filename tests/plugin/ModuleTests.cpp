// The module as a host sees it: exports, factory and class descriptions.

#if defined(__linux__)
#include <sys/resource.h>
#endif
#if defined(_WIN32)
#include <windows.h>
#endif

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "PluginTestSupport.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

std::string Utf8(const char16* text)
{
    std::string out;
    for (; *text; ++text)
        out.push_back(static_cast<char>(*text));
    return out;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

#if defined(__linux__)
// Caps the address space a little above what the process maps now.
bool LimitAddressSpace(rlim_t headroomBytes)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmSize:", 0) == 0) {
            const rlim_t mapped = std::strtoull(line.c_str() + 7, nullptr, 10) * 1024;
            const rlimit limit{mapped + headroomBytes, mapped + headroomBytes};
            return setrlimit(RLIMIT_AS, &limit) == 0;
        }
    }
    return false;
}

// 0: the factory answered kOutOfMemory without an object; 1: any other answer; 2: an exception
// crossed the binary interface; 3: the test could not be set up.
int CreateProcessorWithoutMemory()
{
    IPluginFactory* factory = test::Module().Factory();
    PClassInfo processor;
    if (factory->getClassInfo(0, &processor) != kResultOk || !LimitAddressSpace(1 << 20))
        return 3;
    void* object = nullptr;
    tresult result = kResultOk;
    try {
        result = factory->createInstance(processor.cid, IComponent::iid, &object);
    }
    catch (...) {
        return 2;
    }
    return result == kOutOfMemory && object == nullptr ? 0 : 1;
}
#endif

#if defined(_WIN32)
// The names in the export directory of a loaded DLL.
std::set<std::string> ExportedNames(void* module)
{
    const auto* base = static_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::set<std::string> names;
    if (directory.VirtualAddress == 0)
        return names;
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    const auto* nameOffsets = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.insert(reinterpret_cast<const char*>(base + nameOffsets[i]));
    return names;
}
#endif

TEST(Module, ExportsOnlyTheEntryPoints)
{
    auto& module = test::Module();
#if defined(_WIN32)
    // Windows hosts call InitDll after loading and ExitDll before unloading; a DLL without an
    // export list would export every symbol it has.
    EXPECT_EQ(ExportedNames(module.Handle()), (std::set<std::string>{"ExitDll", "GetPluginFactory", "InitDll"}));
    for (const char* name : {"GetPluginFactory", "InitDll", "ExitDll"})
        EXPECT_NE(module.Symbol(name), nullptr) << name;
#else
    for (const char* name : {"GetPluginFactory", "ModuleEntry", "ModuleExit", "InitDll", "ExitDll"})
        EXPECT_NE(module.Symbol(name), nullptr) << name;
#endif
    // SDK and engine symbols stay hidden, so nothing clashes with a host's own SDK copy.
    for (const char* name : {"_ZN9Steinberg7FObject7addRefEv", "_ZN6corvex13CProcessAudio7ProcessEPKfS2_PfS3_i",
                             "_ZN9Steinberg3Vst15EditController21setParamNormalizedEjd", "GetPluginFactoryImpl"})
        EXPECT_EQ(module.Symbol(name), nullptr) << name;

    auto initDll = reinterpret_cast<bool(PLUGIN_API*)()>(module.Symbol("InitDll"));
    auto exitDll = reinterpret_cast<bool(PLUGIN_API*)()>(module.Symbol("ExitDll"));
    ASSERT_NE(initDll, nullptr);
    ASSERT_NE(exitDll, nullptr);
    EXPECT_TRUE(initDll());
    EXPECT_TRUE(exitDll());
}

#if defined(_WIN32)
// A file's version resource as Explorer shows it under Properties, Details: the fixed version
// "a.b.c.d" under "", and the strings of its US English table by name.
std::map<std::string, std::string> VersionResource(const std::wstring& path)
{
    std::map<std::string, std::string> found;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<char> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, info.data()) ||
        !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length))
        return found;
    found[""] = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) +
                "." + std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
    for (const char* name : {"ProductName", "ProductVersion", "FileVersion", "FileDescription", "CompanyName"}) {
        const std::wstring key = L"\\StringFileInfo\\040904B0\\" + std::wstring(name, name + std::strlen(name));
        wchar_t* value = nullptr;
        if (VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) && length > 0)
            found[name] = std::string(value, value + wcslen(value)); // ASCII in ours
    }
    return found;
}

std::string ProcessorVersion()
{
    PClassInfo2 processor;
    FUnknownPtr<IPluginFactory2> factory2(test::Module().Factory());
    return factory2 && factory2->getClassInfo2(0, &processor) == kResultOk ? processor.version : "";
}

// Windows shows a DLL's version resource in its properties; it matches the classes' version.
TEST(Module, CarriesItsVersionResource)
{
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(static_cast<HMODULE>(test::Module().Handle()), path, MAX_PATH), 0u);
    const auto resource = VersionResource(path);
    ASSERT_EQ(resource.count(""), 1u);
    EXPECT_EQ(resource.at(""), ProcessorVersion());
}

// So does the installer's, which the installer check names in CORVEX_TEST_INSTALLER.
TEST(Module, TheInstallerCarriesItsVersionResource)
{
    const char* installer = std::getenv("CORVEX_TEST_INSTALLER");
    if (installer == nullptr)
        GTEST_SKIP() << "CORVEX_TEST_INSTALLER names no installer";
    const auto resource = VersionResource(std::wstring(installer, installer + std::strlen(installer)));
    const std::string version = ProcessorVersion();
    ASSERT_EQ(resource.count(""), 1u) << installer << " has no version resource";
    EXPECT_EQ(resource.at(""), version);
    for (const char* name : {"ProductVersion", "FileVersion"})
        EXPECT_EQ(resource.count(name) ? resource.at(name) : "", version) << name;
    for (const char* name : {"ProductName", "FileDescription", "CompanyName"})
        EXPECT_FALSE(resource.count(name) == 0 || resource.at(name).empty()) << name;
}
#endif

TEST(Module, FactoryIsOneObjectWithTwoClasses)
{
    auto getFactory = reinterpret_cast<IPluginFactory* (PLUGIN_API*)()>(test::Module().Symbol("GetPluginFactory"));
    IPluginFactory* first = getFactory();
    IPluginFactory* second = getFactory();
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, test::Module().Factory());
    first->release();
    second->release();

    PFactoryInfo info;
    ASSERT_EQ(test::Module().Factory()->getFactoryInfo(&info), kResultOk);
    EXPECT_EQ(info.flags, PFactoryInfo::kUnicode);
    EXPECT_GT(std::strlen(info.vendor), 0u);
    EXPECT_EQ(std::strncmp(info.email, "mailto:", 7), 0);
    EXPECT_EQ(test::Module().Factory()->countClasses(), 2);
}

TEST(Module, ClassDescriptions)
{
    IPluginFactory* factory = test::Module().Factory();
    FUnknownPtr<IPluginFactory3> factory3(factory);
    ASSERT_TRUE(factory3);

    PClassInfo2 processor;
    PClassInfo2 controller;
    ASSERT_EQ(factory3->getClassInfo2(0, &processor), kResultOk);
    ASSERT_EQ(factory3->getClassInfo2(1, &controller), kResultOk);
    EXPECT_EQ(factory3->getClassInfo2(2, &controller), kInvalidArgument);
    ASSERT_EQ(factory3->getClassInfo2(1, &controller), kResultOk);

    EXPECT_STREQ(processor.category, "Audio Module Class");
    EXPECT_STREQ(processor.name, "Corvex2");
    EXPECT_EQ(processor.cardinality, PClassInfo::kManyInstances);
    EXPECT_EQ(processor.classFlags, 1u);
    EXPECT_STREQ(processor.subCategories, "Fx|Distortion");
    EXPECT_STREQ(processor.vendor, "");
    EXPECT_STREQ(processor.version, "2.0.0.1069");
    EXPECT_STREQ(processor.sdkVersion, "VST 3.6.5");

    EXPECT_STREQ(controller.category, "Component Controller Class");
    EXPECT_STREQ(controller.name, "Corvex2Corvex Controller");
    EXPECT_EQ(controller.cardinality, PClassInfo::kManyInstances);
    EXPECT_EQ(controller.classFlags, 0u);
    EXPECT_STREQ(controller.subCategories, "");
    EXPECT_STREQ(controller.version, "2.0.0.1069");
    EXPECT_STREQ(controller.sdkVersion, "VST 3.6.5");

    PClassInfoW wide;
    ASSERT_EQ(factory3->getClassInfoUnicode(1, &wide), kResultOk);
    EXPECT_EQ(Utf8(wide.name), "Corvex2Corvex Controller");
    EXPECT_EQ(Utf8(wide.version), "2.0.0.1069");
    EXPECT_EQ(Utf8(wide.sdkVersion), "VST 3.6.5");
    EXPECT_EQ(std::memcmp(wide.cid, controller.cid, sizeof(TUID)), 0);

    PClassInfo plain;
    ASSERT_EQ(factory->getClassInfo(0, &plain), kResultOk);
    EXPECT_STREQ(plain.name, "Corvex2");
    EXPECT_EQ(std::memcmp(plain.cid, processor.cid, sizeof(TUID)), 0);
    EXPECT_NE(std::memcmp(processor.cid, controller.cid, sizeof(TUID)), 0);
}

TEST(Module, CreatesInstancesOnlyForItsClassesAndInterfaces)
{
    IPluginFactory* factory = test::Module().Factory();
    PClassInfo processor;
    PClassInfo controller;
    ASSERT_EQ(factory->getClassInfo(0, &processor), kResultOk);
    ASSERT_EQ(factory->getClassInfo(1, &controller), kResultOk);

    TUID unknown = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    void* object = reinterpret_cast<void*>(1);
    EXPECT_NE(factory->createInstance(unknown, IComponent::iid, &object), kResultOk);
    EXPECT_EQ(object, nullptr);

    // The controller is no audio processor.
    EXPECT_NE(factory->createInstance(controller.cid, IAudioProcessor::iid, &object), kResultOk);
    EXPECT_EQ(object, nullptr);

    IComponent* component = nullptr;
    ASSERT_EQ(factory->createInstance(processor.cid, IComponent::iid, reinterpret_cast<void**>(&component)), kResultOk);
    TUID controllerClass;
    ASSERT_EQ(component->getControllerClassId(controllerClass), kResultOk);
    EXPECT_EQ(std::memcmp(controllerClass, controller.cid, sizeof(TUID)), 0);

    IAudioProcessor* another = nullptr;
    ASSERT_EQ(factory->createInstance(processor.cid, IAudioProcessor::iid, reinterpret_cast<void**>(&another)), kResultOk);
    EXPECT_NE(static_cast<void*>(another), static_cast<void*>(component)) << "each call makes a new instance";
    another->release();
    component->release();
}

TEST(Module, CreationWithoutMemoryYieldsNoInstance)
{
#if !defined(__linux__)
    GTEST_SKIP() << "needs an address-space limit (setrlimit); Wine enforces no job-object memory limit";
#else
    if (kSanitized)
        GTEST_SKIP() << "sanitizers reserve more address space than any limit leaves";
    // A fresh process, so no freed instance leaves reusable memory behind.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(CreateProcessorWithoutMemory()), ::testing::ExitedWithCode(0), "");
#endif
}

} // namespace
