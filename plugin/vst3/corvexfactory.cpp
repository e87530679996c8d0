#include "corvexfactory.h"

#include "corvex.h"
#include "corvexcontroller.h"
#include "corvexids.h"
#include "sdk/PluginFactory.h"
#include "version.h"

using namespace Steinberg;

namespace corvex {
namespace {

constexpr const char* kAudioModuleClass = "Audio Module Class";
constexpr const char* kComponentControllerClass = "Component Controller Class";
constexpr uint32 kProcessorClassFlags = Vst::kDistributable;
constexpr uint32 kControllerClassFlags = 0;

PClassInfo2 ClassInfo(const FUID& cid, const char* category, const char* name, uint32 flags,
                      const char* subCategories)
{
    TUID tuid;
    cid.toTUID(tuid);
    return PClassInfo2(tuid, PClassInfo::kManyInstances, category, name, static_cast<int32>(flags),
                       subCategories, nullptr, kVersionString, kSdkVersionString);
}

} // namespace

IPluginFactory* CreateCorvexFactory()
{
    auto* factory = new sdk::PluginFactory(PFactoryInfo(kVendor, kVendorUrl, kVendorEmail, PFactoryInfo::kUnicode));
    factory->registerClass(ClassInfo(kCorvexProcessorUID, kAudioModuleClass, kProcessorName,
                                     kProcessorClassFlags, kSubCategories),
                           &Corvex::createInstance);
    factory->registerClass(ClassInfo(kCorvexControllerUID, kComponentControllerClass, kControllerName,
                                     kControllerClassFlags, ""),
                           &CorvexController::createInstance);
    return factory;
}

} // namespace corvex
