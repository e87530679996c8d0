#pragma once

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ImpulseLoader.h"
#include "ProcessorCore.h"
#include "TunerAnalyser.h"
#include "UserPresets.h"
#include "base/Parameters.h"
#include "corvexstate.h"
#include "sdk/AudioEffectBase.h"

namespace corvex {

// The audio processor: the VST 3 face of CProcessorCore, which runs the signal graph on the
// host's blocks and keeps the parameter floats it reads; this class translates the host's
// parameter changes, tempo and buses, and reports the meters and LEDs back as output parameter
// changes.
//
// Threads: process runs on the audio thread and is the only code that touches the live
// parameter floats while processing. setState (control thread) leaves the restored values in a
// lock-free mailbox that the next block takes over whole; getState reads what the audio thread
// last published. Set-up and activation run only while the host does not process.
//
// The user cabinet IR: a CImpulseLoader beside the core reads and prepares it off the audio
// thread (from a state, or a file the controller's load message names) and process hands it to
// the core at the start of a block. Activation waits for a preparation under way, so the first
// block after it already plays through the IR the state carries.
class Corvex : public sdk::AudioEffectBase {
public:
    static constexpr int kIndicatorCount = CProcessorCore::kIndicatorCount;
    static constexpr float kInitialTempo = CProcessorCore::kInitialTempo;

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

private:
    // True when a change was taken over.
    bool ReadParameterChanges(Steinberg::Vst::IParameterChanges* changes);
    void ReadTempo(const Steinberg::Vst::ProcessContext* context);
    // A program-change parameter's choice: the preset's 12 controls at once, reported back.
    void ApplyProgram(int index);
    void TakeMailedPreset();
    void ReportControls(Steinberg::Vst::IParameterChanges* changes);
    void ApplyPendingState();
    void PublishValues();
    // Publishes the meters and LEDs the last block changed, and sends them to the host's
    // changes when there are such.
    void ReportIndicatorChanges(Steinberg::Vst::IParameterChanges* changes);
    void AddStereoBuses();
    // Activation: installs the IR being prepared, if any, before the chain is reset.
    void SettleImpulse();
    // Tells the peer (the controller) the IR in use, and a refusal's reason.
    void SendImpulse(const std::string& error);
    // A tuner message (see kTunerMessage): opens, polls or closes the tuner.
    tresult Tune(Steinberg::Vst::IAttributeList* attributes);
    // The IR section of a state, encoded once per source (control threads).
    bool WriteImpulseSection(Steinberg::IBStream* state);

    CProcessorCore m_core;
    CImpulseLoader m_impulses;

    std::mutex m_sectionLock;
    std::shared_ptr<const ImpulseSource> m_pEncodedSource;
    std::vector<std::uint8_t> m_aEncodedSection;

    std::atomic<float> m_afPendingState[kParamTableSize];
    std::atomic<std::uint32_t> m_uStateGeneration{0};
    std::atomic<std::uint32_t> m_uAppliedGeneration{0};
    std::atomic<float> m_afPublished[kParamTableSize];
    std::atomic<float> m_fPublishedTempo{kInitialTempo};
    // The last tempo the host sent (audio thread); NaN before the first.
    double m_dHostTempo = std::numeric_limits<double>::quiet_NaN();
    // A program was applied in this block (audio thread).
    bool m_bReportControls = false;
    // The program list's controls, read at initialisation (as the controller reads its names).
    std::vector<PresetControls> m_aPrograms;
    // A preset's controls sent by message (corvex's own presets), for the next block.
    std::atomic<float> m_afMailedPreset[CPresetChange::kPresetControls];
    std::atomic<std::uint32_t> m_uMailedGeneration{0};
    std::uint32_t m_uTakenMailGeneration = 0;
    // The tuner's analysis, made when it first opens and whenever the rate has changed since;
    // touched only by the thread tuner messages arrive on.
    std::unique_ptr<CTunerAnalyser> m_pTuner;
};

} // namespace corvex
