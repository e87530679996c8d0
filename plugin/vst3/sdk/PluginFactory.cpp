#include "PluginFactory.h"

#include <cstring>

#include "pluginterfaces/base/funknown.h"

using namespace Steinberg;

namespace corvex::sdk {

PluginFactory::PluginFactory(const PFactoryInfo& info) : m_factoryInfo(info) {}

PluginFactory::~PluginFactory()
{
    if (m_hostContext)
        m_hostContext->release();
}

bool PluginFactory::registerClass(const PClassInfo2& info, CreateInstanceFunc create, void* context)
{
    if (!create)
        return false;
    ClassEntry entry{info, PClassInfoW(), create, context};
    entry.infoW.fromAscii(info);
    m_classes.push_back(entry);
    return true;
}

tresult PLUGIN_API PluginFactory::queryInterface(const TUID iid, void** obj)
{
    if (!obj)
        return kInvalidArgument;
    if (FUnknownPrivate::iidEqual(iid, IPluginFactory3::iid) ||
        FUnknownPrivate::iidEqual(iid, IPluginFactory2::iid) ||
        FUnknownPrivate::iidEqual(iid, IPluginFactory::iid) ||
        FUnknownPrivate::iidEqual(iid, FUnknown::iid)) {
        addRef();
        *obj = static_cast<IPluginFactory3*>(this);
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

uint32 PLUGIN_API PluginFactory::addRef()
{
    return static_cast<uint32>(FUnknownPrivate::atomicAdd(m_refCount, 1));
}

uint32 PLUGIN_API PluginFactory::release()
{
    const int32 remaining = FUnknownPrivate::atomicAdd(m_refCount, -1);
    if (remaining == 0) {
        delete this;
        return 0;
    }
    return static_cast<uint32>(remaining);
}

tresult PLUGIN_API PluginFactory::getFactoryInfo(PFactoryInfo* info)
{
    if (!info)
        return kInvalidArgument;
    std::memcpy(info, &m_factoryInfo, sizeof(PFactoryInfo));
    return kResultOk;
}

int32 PLUGIN_API PluginFactory::countClasses()
{
    return static_cast<int32>(m_classes.size());
}

tresult PLUGIN_API PluginFactory::getClassInfo(int32 index, PClassInfo* info)
{
    if (!info)
        return kInvalidArgument;
    if (index < 0 || index >= countClasses())
        return kInvalidArgument;
    const PClassInfo2& source = m_classes[static_cast<size_t>(index)].info2;
    *info = PClassInfo();
    std::memcpy(info->cid, source.cid, sizeof(TUID));
    info->cardinality = source.cardinality;
    std::memcpy(info->category, source.category, sizeof(info->category));
    std::memcpy(info->name, source.name, sizeof(info->name));
    return kResultOk;
}

tresult PLUGIN_API PluginFactory::getClassInfo2(int32 index, PClassInfo2* info)
{
    if (!info)
        return kInvalidArgument;
    if (index < 0 || index >= countClasses())
        return kInvalidArgument;
    std::memcpy(info, &m_classes[static_cast<size_t>(index)].info2, sizeof(PClassInfo2));
    return kResultOk;
}

tresult PLUGIN_API PluginFactory::getClassInfoUnicode(int32 index, PClassInfoW* info)
{
    if (!info)
        return kInvalidArgument;
    if (index < 0 || index >= countClasses())
        return kInvalidArgument;
    std::memcpy(info, &m_classes[static_cast<size_t>(index)].infoW, sizeof(PClassInfoW));
    return kResultOk;
}

const PluginFactory::ClassEntry* PluginFactory::find(const TUID cid) const
{
    for (const ClassEntry& entry : m_classes)
        if (FUnknownPrivate::iidEqual(entry.info2.cid, cid))
            return &entry;
    return nullptr;
}

tresult PLUGIN_API PluginFactory::createInstance(FIDString cid, FIDString iid, void** obj)
{
    if (!obj)
        return kInvalidArgument;
    *obj = nullptr;
    if (!cid || !iid)
        return kInvalidArgument;
    const ClassEntry* entry = find(reinterpret_cast<const int8*>(cid));
    if (!entry)
        return kNoInterface;
    FUnknown* instance = entry->create(entry->context);
    if (!instance)
        return kOutOfMemory;
    // The instance is handed out only through the interface the caller asked for.
    const tresult result = instance->queryInterface(reinterpret_cast<const int8*>(iid), obj);
    instance->release();
    if (result != kResultOk)
        *obj = nullptr;
    return result;
}

tresult PLUGIN_API PluginFactory::setHostContext(FUnknown* context)
{
    if (context)
        context->addRef();
    if (m_hostContext)
        m_hostContext->release();
    m_hostContext = context;
    return kResultOk;
}

} // namespace corvex::sdk
