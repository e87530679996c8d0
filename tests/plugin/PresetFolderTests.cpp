// The .vstpreset files lie where hosts look: below the presets root, in the folder a host derives
// from the module's own factory information. Run on the built tree by default, on an installed
// one when CORVEX_TEST_BUNDLE and CORVEX_TEST_PRESETS_ROOT name it.

#include "BundleModule.h"
#include "FactoryPresets.h"

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

using namespace Steinberg;

// A name as Ardour turns it into a folder (legalize_for_universal_path): characters that some
// file system refuses become '_'. Written out here, apart from the plug-in's own code, so the
// two must agree.
std::string HostFolderName(std::string name)
{
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"/\\|?*", c) != nullptr)
            c = '_';
    }
    return name;
}

std::filesystem::path PresetsRoot()
{
    const char* installed = std::getenv("CORVEX_TEST_PRESETS_ROOT");
    return installed != nullptr && *installed != '\0' ? installed : CORVEX_VST3_PRESETS_ROOT;
}

TEST(PresetFolder, IsTheOneHostsDeriveFromTheFactory)
{
    IPluginFactory* factory = test::Module().Factory();
    PFactoryInfo factoryInfo;
    ASSERT_EQ(factory->getFactoryInfo(&factoryInfo), kResultOk);
    FUnknownPtr<IPluginFactory2> factory2(factory);
    ASSERT_TRUE(factory2);
    PClassInfo2 processor;
    ASSERT_EQ(factory2->getClassInfo2(0, &processor), kResultOk);
    ASSERT_STREQ(processor.category, kVstAudioEffectClass);
    // Hosts take the class's vendor when it names one, else the factory's.
    const std::string vendor = processor.vendor[0] != '\0' ? processor.vendor : factoryInfo.vendor;

    const std::filesystem::path folder = PresetsRoot() / HostFolderName(vendor) / HostFolderName(processor.name);
    for (const corvex::FactoryPreset& preset : corvex::kFactoryPresets)
        EXPECT_TRUE(std::filesystem::is_regular_file(folder / (std::string(preset.name) + ".vstpreset")))
            << preset.name << " is not in " << folder;
    // No second vendor folder that a host would not read.
    int vendorFolders = 0;
    for (const auto& entry : std::filesystem::directory_iterator(PresetsRoot()))
        vendorFolders += entry.is_directory() ? 1 : 0;
    EXPECT_EQ(vendorFolders, 1);
}

} // namespace
