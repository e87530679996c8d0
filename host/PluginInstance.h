#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstmessage.h"

namespace corvex::hosting {

// The processor and controller of one plug-in class as a host runs them: created from the
// factory, initialised with the host context, connected to each other, the controller synced
// with the component state. The destructor deactivates, disconnects, terminates and releases.
class PluginInstance {
public:
    // Creates the first audio-effect class of factory and its controller.
    static std::unique_ptr<PluginInstance> Create(Steinberg::IPluginFactory* factory,
                                                  Steinberg::FUnknown* hostContext, std::string& error);
    ~PluginInstance();
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    Steinberg::Vst::IComponent* Component() const { return m_component; }
    // The processor's class ID as preset files write it: 32 hexadecimal digits.
    const std::string& ClassId() const { return m_classId; }
    Steinberg::Vst::IAudioProcessor* Processor() const { return m_processor; }
    Steinberg::Vst::IEditController* Controller() const { return m_controller; }

    // Negotiates stereo buses (or what is given), sets up and activates the processor.
    Steinberg::tresult Setup(double sampleRate, Steinberg::int32 maxBlock,
                             Steinberg::int32 sampleSize = Steinberg::Vst::kSample32);
    Steinberg::tresult Activate(bool active);

    // The component state, and its restore into the component and the controller.
    bool SaveState(std::vector<char>& bytes);
    bool LoadState(const std::vector<char>& bytes);

private:
    PluginInstance() = default;

    Steinberg::Vst::IComponent* m_component = nullptr;
    Steinberg::Vst::IAudioProcessor* m_processor = nullptr;
    Steinberg::Vst::IEditController* m_controller = nullptr;
    Steinberg::Vst::IConnectionPoint* m_componentPoint = nullptr;
    Steinberg::Vst::IConnectionPoint* m_controllerPoint = nullptr;
    bool m_componentInitialised = false;
    bool m_controllerInitialised = false;
    bool m_active = false;
    std::string m_classId;
};

} // namespace corvex::hosting
