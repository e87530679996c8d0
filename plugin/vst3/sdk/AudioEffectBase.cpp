#include "AudioEffectBase.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace corvex::sdk {

AudioEffectBase::AudioEffectBase()
{
    processSetup.processMode = kRealtime;
    processSetup.symbolicSampleSize = kSample32;
    processSetup.maxSamplesPerBlock = kDefaultMaxSamplesPerBlock;
    processSetup.sampleRate = kDefaultSampleRate;
}

AudioBus* AudioEffectBase::addAudioInput(const TChar* name, SpeakerArrangement arrangement,
                                         BusType type, int32 flags)
{
    auto* bus = new AudioBus(name, type, flags, arrangement);
    audioInputs.push_back(IPtr<Vst::Bus>(bus, false));
    return bus;
}

AudioBus* AudioEffectBase::addAudioOutput(const TChar* name, SpeakerArrangement arrangement,
                                          BusType type, int32 flags)
{
    auto* bus = new AudioBus(name, type, flags, arrangement);
    audioOutputs.push_back(IPtr<Vst::Bus>(bus, false));
    return bus;
}

EventBus* AudioEffectBase::addEventInput(const TChar* name, int32 channels, BusType type, int32 flags)
{
    auto* bus = new EventBus(name, type, flags, channels);
    eventInputs.push_back(IPtr<Vst::Bus>(bus, false));
    return bus;
}

AudioBus* AudioEffectBase::getAudioInput(int32 index)
{
    if (index < 0 || index >= static_cast<int32>(audioInputs.size()))
        return nullptr;
    return FCast<AudioBus>(audioInputs.at(index).get());
}

AudioBus* AudioEffectBase::getAudioOutput(int32 index)
{
    if (index < 0 || index >= static_cast<int32>(audioOutputs.size()))
        return nullptr;
    return FCast<AudioBus>(audioOutputs.at(index).get());
}

tresult PLUGIN_API AudioEffectBase::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                       SpeakerArrangement* outputs, int32 numOuts)
{
    if (numIns < 0 || numOuts < 0)
        return kInvalidArgument;
    if (numIns > static_cast<int32>(audioInputs.size()) ||
        numOuts > static_cast<int32>(audioOutputs.size()))
        return kResultFalse;
    for (int32 i = 0; i < numIns; ++i)
        getAudioInput(i)->setArrangement(inputs[i]);
    for (int32 i = 0; i < numOuts; ++i)
        getAudioOutput(i)->setArrangement(outputs[i]);
    return kResultTrue;
}

tresult PLUGIN_API AudioEffectBase::getBusArrangement(BusDirection dir, int32 index,
                                                      SpeakerArrangement& arrangement)
{
    AudioBus* bus = dir == kInput ? getAudioInput(index) : getAudioOutput(index);
    if (!bus)
        return kInvalidArgument;
    arrangement = bus->getArrangement();
    return kResultTrue;
}

tresult PLUGIN_API AudioEffectBase::canProcessSampleSize(int32 symbolicSampleSize)
{
    return symbolicSampleSize == kSample32 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API AudioEffectBase::setupProcessing(ProcessSetup& setup)
{
    if (canProcessSampleSize(setup.symbolicSampleSize) != kResultTrue)
        return kResultFalse;
    processSetup = setup;
    return kResultOk;
}

tresult PLUGIN_API AudioEffectBase::setProcessing(TBool)
{
    return kNotImplemented;
}

tresult PLUGIN_API AudioEffectBase::process(ProcessData&)
{
    return kNotImplemented;
}

} // namespace corvex::sdk
