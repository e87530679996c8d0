#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AudioBackend.h"
#include "SampleRing.h"
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

// An entry of a context menu as corvex's window shows it.
struct MenuEntry {
    std::string title;
    bool enabled = true;
    bool checked = false;
};
// Shows a menu at (x, y) of the editor's view and calls `chosen` with the entry's index if one is
// chosen (user-interface thread); false when no menu can be shown.
using MenuPresenter =
    std::function<bool(const std::vector<MenuEntry>& entries, int x, int y, std::function<void(int)> chosen)>;

// The Corvex module as corvex runs it: loaded and created exactly as a host does, processed once
// per audio period on the audio thread, with the controller and the editor on the
// user-interface thread. Edits travel to the processor, and the processor's output parameter
// changes to the controller, through lock-free queues; the audio thread never waits for the
// other. MIDI Control and Program Changes are applied on the audio thread at their frames, as a
// host applies mapped controllers, and reach the controller the same way.
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
    // The program a MIDI Program Change selected since the last call (user-interface thread,
    // after Dispatch), or -1.
    int TakeProgramChange();

    // Sets up and activates the processor for periods of up to maxPeriod frames.
    bool Start(double sampleRate, int maxPeriod, double tempo, std::string& error);
    void Stop();

    // CAudioClient, on the audio thread.
    void ProcessPeriod(const float* inL, const float* inR, float* outL, float* outR, int frames,
                       double transportTempo, CMidiEvents* midi = nullptr) override;

    // The tuner of `corvex --tuner`, set before Start (not owned): each period the audio thread
    // copies the selected input (as "Input Selection" stands) into the ring, for the
    // user-interface thread to analyse. Null (the default): nothing is copied.
    void SetTunerRing(CSampleRing* ring) { m_pTunerRing = ring; }
    // MIDI, set before Start: the channel listened to (0 to 15, -1 for all) and the map.
    void SetMidiChannel(int channel) { m_iMidiChannel = channel; }
    void SetMidiMap(const MidiControllerMap& map);
    // User-interface thread: the next controller moved on the listened channel binds to `id`
    // (what reached `id` before is let go); Forget unbinds every controller reaching `id`.
    void Learn(std::uint32_t id);
    void Forget(std::uint32_t id);
    // The map as learning left it (user-interface thread; follows Dispatch).
    const MidiControllerMap& MidiMap() const { return m_midiMap; }
    // The parameter waiting for a controller, or 0.
    std::uint32_t Learning() const { return m_iLearning; }
    // The presets Program Change selects from: the program-change parameter's list, or 0.
    int ProgramCount() const { return m_iProgramCount; }
    // The window's way of showing the host's context menus; none by default.
    void SetMenuPresenter(MenuPresenter presenter) { m_presenter = std::move(presenter); }
    const MenuPresenter& Presenter() const { return m_presenter; }

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
    // MIDI channel messages applied (Control and Program Changes that reached a parameter).
    std::uint64_t MidiApplied() const { return m_midiApplied.load(std::memory_order_relaxed); }

private:
    friend class CEditHandler;
    CLiveHost();
    void QueueEdit(std::uint32_t id, double value);
    // Audio thread: one MIDI event applied to the block's input changes.
    void ApplyMidi(const MidiEvent& event, int frames);
    void AddChange(std::uint32_t id, double value, int offset);

    // Learning between the threads: commands to the audio thread, what it bound back.
    struct MidiCommand {
        enum class Kind { Learn, Forget } kind = Kind::Learn;
        std::uint32_t id = 0;
    };
    struct MidiLearned {
        int controller = 0;
        std::uint32_t id = 0;
        bool toggles = false;
    };
    static constexpr std::size_t kCommandQueueSize = 64;
    static constexpr std::uint32_t kNoProgram = 0xFFFFFFFF;

    std::unique_ptr<Steinberg::Vst::HostApplication> m_pHost;
    std::unique_ptr<hosting::PluginModule> m_pModule;
    std::unique_ptr<hosting::PluginInstance> m_pInstance;
    std::unique_ptr<hosting::ProcessBlock> m_pBlock;
    std::unique_ptr<CEditHandler> m_pEditHandler;
    bool m_bActive = false;
    double m_dTempo = 120.0;
    CSampleRing* m_pTunerRing = nullptr;

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

    // MIDI. User-interface thread: the map as learned, the parameter waiting, the menu.
    MidiControllerMap m_midiMap = MidiControllerMap::Default();
    std::uint32_t m_iLearning = 0;
    MenuPresenter m_presenter;
    std::uint32_t m_iProgramId = kNoProgram;
    int m_iProgramCount = 0;
    int m_iProgramTaken = -1; // user-interface thread
    int m_iMidiChannel = -1;
    CSpscRing<MidiCommand, kCommandQueueSize> m_midiCommands; // user interface → audio
    CSpscRing<MidiLearned, kCommandQueueSize> m_midiLearned;  // audio → user interface
    // Audio thread: its copy of the map, the parameter it learns for, each parameter's value as
    // last sent or reported (for toggling), the last value of each controller (a learned switch
    // whose controller repeats 64-127 is a momentary footswitch) and what the controller has yet
    // to hear of the changes MIDI made.
    MidiControllerMap m_audioMap = MidiControllerMap::Default();
    std::uint32_t m_iAudioLearning = 0;
    double m_adCurrent[kParamCount] = {};
    int m_aiLastValue[kMidiControllerCount] = {};
    bool m_abWatched[kMidiControllerCount] = {};
    double m_adRelay[kParamCount] = {};
    bool m_abRelay[kParamCount] = {};
    double m_dProgramRelay = 0.0;
    bool m_bProgramRelay = false;
    std::atomic<std::uint64_t> m_midiApplied{0};
};

} // namespace corvex::live
