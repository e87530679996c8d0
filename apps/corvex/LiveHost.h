#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AudioBackend.h"
#include "SpscRing.h"
#include "UserPresets.h"

namespace Steinberg {
class IPlugView;
namespace Vst {
class HostApplication;
class IComponentHandler;
class IEditController;
} // namespace Vst
} // namespace Steinberg

namespace corvex::hosting {
class PluginModule;
class PluginInstance;
class ProcessBlock;
} // namespace corvex::hosting

namespace corvex::live {

class CEditHandler;

// One parameter value crossing between the user-interface and the audio thread.
struct ParamValue {
    std::uint32_t id = 0;
    double value = 0.0;
};

// The Corvex module as corvex runs it: loaded and created exactly as a host does, processed once
// per audio period on the audio thread, with the controller and the editor on the
// user-interface thread. Edits travel to the processor, and the processor's meters and LEDs to
// the controller, through lock-free queues; the audio thread never waits for the other.
class CLiveHost final : public CAudioClient {
public:
    static constexpr int kParamCount = 20; // identifiers 1 to 19
    static constexpr std::size_t kQueueSize = 1024;

    ~CLiveHost() override;

    // Loads the bundle and creates processor and controller; null and a message on failure.
    static std::unique_ptr<CLiveHost> Load(const std::string& modulePath, std::string& error);

    // The 80-byte component state, read and restored on the user-interface thread. Restore
    // before Start.
    bool GetState(std::vector<unsigned char>& bytes);
    bool SetState(const std::vector<unsigned char>& bytes);

    // A preset change to these controls, as Program Change makes one: crossfaded, the echoes
    // ringing on. Sent to the processor as a host sends messages, on the user-interface thread;
    // the processor takes it in its next period and reports the controls for the controller.
    bool ApplyPreset(const PresetControls& values);

    // Sets up and activates the processor for periods of up to maxPeriod frames.
    bool Start(double sampleRate, int maxPeriod, double tempo, std::string& error);
    void Stop();

    // CAudioClient, on the audio thread.
    void ProcessPeriod(const float* inL, const float* inR, float* outL, float* outR, int frames,
                       double transportTempo) override;

    // User-interface thread: hands the processor's indicator values to the controller (and so to
    // open editors), and edits that found the queue full on to the processor.
    void Dispatch();

    // The editor view ("editor"), or null.
    Steinberg::IPlugView* CreateEditorView();
    Steinberg::Vst::IEditController* Controller() const;

    // Counters for the status line, readable from any thread.
    std::uint64_t PeriodsProcessed() const { return m_periods.load(std::memory_order_relaxed); }
    std::uint64_t FailedPeriods() const { return m_failedPeriods.load(std::memory_order_relaxed); }
    double TempoInUse() const { return m_tempoInUse.load(std::memory_order_relaxed); }
    // The last value the processor reported for an indicator (13 to 17).
    double Indicator(std::uint32_t id) const;

    // Edits still waiting for room in the queue (user-interface thread).
    std::size_t EditsWaiting() const { return m_aOverflow.size(); }

    // Where the controller reports the editor's edits (performEdit), for the processor.
    Steinberg::Vst::IComponentHandler* EditHandler() const;

    // The edits the processor has taken (for tests and the status line).
    std::uint64_t EditsDelivered() const { return m_editsDelivered.load(std::memory_order_relaxed); }

private:
    friend class CEditHandler;
    CLiveHost();
    void QueueEdit(std::uint32_t id, double value);

    std::unique_ptr<Steinberg::Vst::HostApplication> m_pHost;
    std::unique_ptr<hosting::PluginModule> m_pModule;
    std::unique_ptr<hosting::PluginInstance> m_pInstance;
    std::unique_ptr<hosting::ProcessBlock> m_pBlock;
    std::unique_ptr<CEditHandler> m_pEditHandler;
    bool m_bActive = false;
    double m_dTempo = 120.0;

    CSpscRing<ParamValue, kQueueSize> m_edits;      // user interface → audio
    CSpscRing<ParamValue, kQueueSize> m_indicators; // audio → user interface
    std::vector<ParamValue> m_aOverflow;            // edits waiting for room (user-interface thread)

    // Audio thread: the last edit of each parameter taken from the queue in this period.
    double m_adPending[kParamCount] = {};
    bool m_abPending[kParamCount] = {};

    std::atomic<std::uint64_t> m_periods{0};
    std::atomic<std::uint64_t> m_failedPeriods{0};
    std::atomic<std::uint64_t> m_editsDelivered{0};
    std::atomic<double> m_tempoInUse{120.0};
    std::atomic<double> m_adIndicators[kParamCount] = {};
};

} // namespace corvex::live
