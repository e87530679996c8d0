#pragma once

#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "public.sdk/source/vst/vstbus.h"
#include "public.sdk/source/vst/vstcomponent.h"

namespace corvex::sdk {

// An audio-effect component: bus management and the IAudioProcessor defaults a plain effect
// relies on (32-bit samples only, no latency, no tail). Derived processors override what they
// need; processSetup always holds the latest accepted setup.
class AudioEffectBase : public Steinberg::Vst::Component,
                        public Steinberg::Vst::IAudioProcessor,
                        public Steinberg::Vst::IProcessContextRequirements {
public:
    using tresult = Steinberg::tresult;
    using int32 = Steinberg::int32;
    using TChar = Steinberg::Vst::TChar;
    using SpeakerArrangement = Steinberg::Vst::SpeakerArrangement;

    static constexpr int32 kDefaultMaxSamplesPerBlock = 1024;
    static constexpr double kDefaultSampleRate = 44100.0;

    AudioEffectBase();

    Steinberg::Vst::AudioBus* addAudioInput(const TChar* name, SpeakerArrangement arrangement,
                                            Steinberg::Vst::BusType type = Steinberg::Vst::kMain,
                                            int32 flags = Steinberg::Vst::BusInfo::kDefaultActive);
    Steinberg::Vst::AudioBus* addAudioOutput(const TChar* name, SpeakerArrangement arrangement,
                                             Steinberg::Vst::BusType type = Steinberg::Vst::kMain,
                                             int32 flags = Steinberg::Vst::BusInfo::kDefaultActive);
    Steinberg::Vst::EventBus* addEventInput(const TChar* name, int32 channels = 16,
                                            Steinberg::Vst::BusType type = Steinberg::Vst::kMain,
                                            int32 flags = Steinberg::Vst::BusInfo::kDefaultActive);
    // The audio bus at index, or nullptr.
    Steinberg::Vst::AudioBus* getAudioInput(int32 index);
    Steinberg::Vst::AudioBus* getAudioOutput(int32 index);

    // IAudioProcessor
    tresult PLUGIN_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                          SpeakerArrangement* outputs, int32 numOuts) SMTG_OVERRIDE;
    tresult PLUGIN_API getBusArrangement(Steinberg::Vst::BusDirection dir, int32 index,
                                         SpeakerArrangement& arrangement) SMTG_OVERRIDE;
    tresult PLUGIN_API canProcessSampleSize(int32 symbolicSampleSize) SMTG_OVERRIDE;
    Steinberg::uint32 PLUGIN_API getLatencySamples() SMTG_OVERRIDE { return 0; }
    tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) SMTG_OVERRIDE;
    tresult PLUGIN_API setProcessing(Steinberg::TBool state) SMTG_OVERRIDE;
    tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) SMTG_OVERRIDE;
    Steinberg::uint32 PLUGIN_API getTailSamples() SMTG_OVERRIDE { return Steinberg::Vst::kNoTail; }

    // IProcessContextRequirements
    Steinberg::uint32 PLUGIN_API getProcessContextRequirements() SMTG_OVERRIDE { return 0; }

    OBJ_METHODS(AudioEffectBase, Steinberg::Vst::Component)
    DEFINE_INTERFACES
        DEF_INTERFACE(Steinberg::Vst::IAudioProcessor)
        DEF_INTERFACE(Steinberg::Vst::IProcessContextRequirements)
    END_DEFINE_INTERFACES(Steinberg::Vst::Component)
    REFCOUNT_METHODS(Steinberg::Vst::Component)

protected:
    Steinberg::Vst::ProcessSetup processSetup;
};

} // namespace corvex::sdk
