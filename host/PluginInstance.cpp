#include "PluginInstance.h"

#include <cstring>

#include "public.sdk/source/common/memorystream.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace corvex::hosting {

std::unique_ptr<PluginInstance> PluginInstance::Create(IPluginFactory* factory, FUnknown* hostContext,
                                                       std::string& error)
{
    if (!factory) {
        error = "no factory";
        return nullptr;
    }
    std::unique_ptr<PluginInstance> instance(new PluginInstance());
    PClassInfo info{};
    int32 index = 0;
    for (; index < factory->countClasses(); ++index)
        if (factory->getClassInfo(index, &info) == kResultOk &&
            std::strcmp(info.category, kVstAudioEffectClass) == 0)
            break;
    if (index == factory->countClasses()) {
        error = "no audio effect class";
        return nullptr;
    }
    char classId[33] = {};
    FUID::fromTUID(info.cid).toString(classId);
    instance->m_classId = classId;
    if (factory->createInstance(info.cid, IComponent::iid, reinterpret_cast<void**>(&instance->m_component)) != kResultOk ||
        !instance->m_component) {
        error = "component creation failed";
        return nullptr;
    }
    if (instance->m_component->initialize(hostContext) != kResultOk) {
        error = "component initialisation failed";
        return nullptr;
    }
    instance->m_componentInitialised = true;
    if (instance->m_component->queryInterface(IAudioProcessor::iid, reinterpret_cast<void**>(&instance->m_processor)) != kResultOk) {
        error = "component is no audio processor";
        return nullptr;
    }

    TUID controllerId;
    if (instance->m_component->getControllerClassId(controllerId) != kResultOk ||
        factory->createInstance(controllerId, IEditController::iid, reinterpret_cast<void**>(&instance->m_controller)) != kResultOk ||
        !instance->m_controller) {
        error = "controller creation failed";
        return nullptr;
    }
    if (instance->m_controller->initialize(hostContext) != kResultOk) {
        error = "controller initialisation failed";
        return nullptr;
    }
    instance->m_controllerInitialised = true;

    instance->m_component->queryInterface(IConnectionPoint::iid, reinterpret_cast<void**>(&instance->m_componentPoint));
    instance->m_controller->queryInterface(IConnectionPoint::iid, reinterpret_cast<void**>(&instance->m_controllerPoint));
    if (instance->m_componentPoint && instance->m_controllerPoint) {
        instance->m_componentPoint->connect(instance->m_controllerPoint);
        instance->m_controllerPoint->connect(instance->m_componentPoint);
    }

    std::vector<char> state;
    if (instance->SaveState(state)) {
        MemoryStream stream(state.data(), static_cast<TSize>(state.size()));
        instance->m_controller->setComponentState(&stream);
    }
    return instance;
}

PluginInstance::~PluginInstance()
{
    if (m_active)
        Activate(false);
    if (m_componentPoint && m_controllerPoint) {
        m_componentPoint->disconnect(m_controllerPoint);
        m_controllerPoint->disconnect(m_componentPoint);
    }
    if (m_componentPoint)
        m_componentPoint->release();
    if (m_controllerPoint)
        m_controllerPoint->release();
    if (m_controllerInitialised)
        m_controller->terminate();
    if (m_controller)
        m_controller->release();
    if (m_processor)
        m_processor->release();
    if (m_componentInitialised)
        m_component->terminate();
    if (m_component)
        m_component->release();
}

tresult PluginInstance::Setup(double sampleRate, int32 maxBlock, int32 sampleSize)
{
    SpeakerArrangement stereo = SpeakerArr::kStereo;
    m_processor->setBusArrangements(&stereo, 1, &stereo, 1);
    ProcessSetup setup{kRealtime, sampleSize, maxBlock, sampleRate};
    return m_processor->setupProcessing(setup);
}

tresult PluginInstance::Activate(bool active)
{
    tresult result = kResultOk;
    if (active) {
        result = m_component->setActive(true);
        m_processor->setProcessing(true);
    }
    else {
        m_processor->setProcessing(false);
        result = m_component->setActive(false);
    }
    m_active = active;
    return result;
}

bool PluginInstance::SaveState(std::vector<char>& bytes)
{
    MemoryStream stream;
    if (m_component->getState(&stream) != kResultOk)
        return false;
    bytes.assign(stream.getData(), stream.getData() + stream.getSize());
    return true;
}

bool PluginInstance::LoadState(const std::vector<char>& bytes)
{
    std::vector<char> copy(bytes);
    MemoryStream forComponent(copy.data(), static_cast<TSize>(copy.size()));
    if (m_component->setState(&forComponent) != kResultOk)
        return false;
    MemoryStream forController(copy.data(), static_cast<TSize>(copy.size()));
    return m_controller->setComponentState(&forController) == kResultOk;
}

} // namespace corvex::hosting
