#pragma once

#include <vector>

#include "pluginterfaces/base/ipluginbase.h"

namespace corvex::sdk {

// Creates one instance of a class; returns it with one reference, or nullptr.
using CreateInstanceFunc = Steinberg::FUnknown* (*)(void* context);

// The module's class factory: factory information, one record per class, instance creation.
// Offers the class information as ASCII, extended and UTF-16 records (IPluginFactory3).
class PluginFactory : public Steinberg::IPluginFactory3 {
public:
    using tresult = Steinberg::tresult;
    using int32 = Steinberg::int32;

    explicit PluginFactory(const Steinberg::PFactoryInfo& info);
    virtual ~PluginFactory();
    PluginFactory(const PluginFactory&) = delete;
    PluginFactory& operator=(const PluginFactory&) = delete;

    // Registers a class; the UTF-16 record is derived from the extended one.
    bool registerClass(const Steinberg::PClassInfo2& info, CreateInstanceFunc create,
                       void* context = nullptr);

    // FUnknown
    tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) SMTG_OVERRIDE;
    Steinberg::uint32 PLUGIN_API addRef() SMTG_OVERRIDE;
    Steinberg::uint32 PLUGIN_API release() SMTG_OVERRIDE;

    // IPluginFactory
    tresult PLUGIN_API getFactoryInfo(Steinberg::PFactoryInfo* info) SMTG_OVERRIDE;
    int32 PLUGIN_API countClasses() SMTG_OVERRIDE;
    tresult PLUGIN_API getClassInfo(int32 index, Steinberg::PClassInfo* info) SMTG_OVERRIDE;
    tresult PLUGIN_API createInstance(Steinberg::FIDString cid, Steinberg::FIDString iid,
                                      void** obj) SMTG_OVERRIDE;
    // IPluginFactory2
    tresult PLUGIN_API getClassInfo2(int32 index, Steinberg::PClassInfo2* info) SMTG_OVERRIDE;
    // IPluginFactory3
    tresult PLUGIN_API getClassInfoUnicode(int32 index, Steinberg::PClassInfoW* info) SMTG_OVERRIDE;
    tresult PLUGIN_API setHostContext(Steinberg::FUnknown* context) SMTG_OVERRIDE;

private:
    struct ClassEntry {
        Steinberg::PClassInfo2 info2;
        Steinberg::PClassInfoW infoW;
        CreateInstanceFunc create;
        void* context;
    };

    const ClassEntry* find(const Steinberg::TUID cid) const;

    Steinberg::PFactoryInfo m_factoryInfo;
    std::vector<ClassEntry> m_classes;
    Steinberg::FUnknown* m_hostContext = nullptr;
    Steinberg::int32 m_refCount = 1;
};

} // namespace corvex::sdk
