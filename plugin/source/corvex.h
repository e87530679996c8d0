#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/Parameters.h"
#include "corvexstate.h"
#include "graph/ProcessAudio.h"
#include "sdk/AudioEffectBase.h"

namespace corvex {

// The audio processor: runs the signal graph on the host's blocks, keeps the parameter floats
// the graph reads, and reports the meters and LEDs back as output parameter changes.
//
// Threads: process runs on the audio thread and is the only code that touches the live
// parameter floats while processing. setState (control thread) leaves the restored values in a
// lock-free mailbox that the next block takes over whole; getState reads what the audio thread
// last published. Set-up and activation run only while the host does not process.
class Corvex : public sdk::AudioEffectBase {
public:
    static constexpr int kIndicatorCount = kCompressionLed - kOutputLeftVumeter + 1;
    static constexpr float kInitialTempo = 120.0f;
    // Scratch buffers grow to the host's block size up to this; longer blocks run in slices.
    static constexpr int kMaxScratchSamples = 16384;

    Corvex();
    ~Corvex() override;

    static Steinberg::FUnknown* createInstance(void*);

    tresult PLUGIN_API initialize(Steinberg::FUnknown* context) SMTG_OVERRIDE;
    tresult PLUGIN_API setActive(Steinberg::TBool state) SMTG_OVERRIDE;
    tresult PLUGIN_API setState(Steinberg::IBStream* state) SMTG_OVERRIDE;
    tresult PLUGIN_API getState(Steinberg::IBStream* state) SMTG_OVERRIDE;
    tresult PLUGIN_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                          SpeakerArrangement* outputs, int32 numOuts) SMTG_OVERRIDE;
    tresult PLUGIN_API setupProcessing(Steinberg::Vst::ProcessSetup& setup) SMTG_OVERRIDE;
    tresult PLUGIN_API process(Steinberg::Vst::ProcessData& data) SMTG_OVERRIDE;
    Steinberg::uint32 PLUGIN_API getTailSamples() SMTG_OVERRIDE;
    Steinberg::uint32 PLUGIN_API getProcessContextRequirements() SMTG_OVERRIDE;
    tresult PLUGIN_API notify(Steinberg::Vst::IMessage* message) SMTG_OVERRIDE;
    tresult receiveText(const char* text) SMTG_OVERRIDE;

    // Samples the delay and reverb may ring after the input stops, at rate fs and tempo bpm,
    // with every level at its maximum.
    static std::int64_t TailSamples(double fs, float tempo);

private:
    void ReadParameterChanges(Steinberg::Vst::IParameterChanges* changes);
    void ReadTempo(const Steinberg::Vst::ProcessContext* context);
    void ApplyPendingState();
    void PublishValues();
    bool RunChain(Steinberg::Vst::AudioBusBuffers& in, Steinberg::Vst::AudioBusBuffers& out,
                  int32 numSamples);
    void SendIndicatorChanges(Steinberg::Vst::IParameterChanges* changes);
    void ResetChain();
    void AddStereoBuses();

    float m_afParamValues[kParamTableSize] = {};
    float m_afOutputSnapshot[kIndicatorCount] = {};
    float m_fTempo = kInitialTempo;
    std::unique_ptr<CProcessAudio> pAudioProcess;

    // Zeros for inputs flagged silent, and a sink for the right output of a mono bus.
    std::vector<float> m_afZeros;
    std::vector<float> m_afDiscard;
    // Samples since an input last carried signal; the chain stops once the tail has passed.
    std::int64_t m_iQuietSamples = 0;

    std::atomic<float> m_afPendingState[kParamTableSize];
    std::atomic<std::uint32_t> m_uStateGeneration{0};
    std::atomic<std::uint32_t> m_uAppliedGeneration{0};
    std::atomic<float> m_afPublished[kParamTableSize];
    std::atomic<float> m_fPublishedTempo{kInitialTempo};
};

} // namespace corvex
