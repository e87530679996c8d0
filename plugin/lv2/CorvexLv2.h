#pragma once

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "ImpulseSource.h"
#include "Lv2Ports.h"
#include "ProcessorCore.h"
#include "TunerAnalyser.h"
#include "cabinet/CabinetImpulse.h"

namespace corvex::lv2 {

// The LV2 face of CProcessorCore: reads the control ports and the host's tempo each run,
// writes the meters and LEDs back. Every parameter is a port, so the ports are the state; the
// user cabinet IR is the one thing besides them, kept in the state as its section bytes.
//
// A user IR reaches the audio thread ready to convolve: a patch:Set path is read and prepared
// in work(), a state section in restore(); run() and work_response() only swap pointers, and
// what they replace goes back to work() to be freed.
class CCorvexLv2 {
public:
    // Used when the host states no bufsz:maxBlockLength; longer runs are sliced anyway.
    static constexpr int kDefaultMaxBlock = 4096;

    // Null when the rate is impossible or memory runs out.
    static CCorvexLv2* Create(double sampleRate, const LV2_Feature* const* features);
    ~CCorvexLv2();

    void Connect(std::uint32_t port, void* data);
    void Activate();
    void Run(std::uint32_t samples);

    // Worker thread (or run() itself when the host works at once).
    LV2_Worker_Status Work(LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                           std::uint32_t size, const void* data);
    // Audio thread.
    LV2_Worker_Status WorkResponse(std::uint32_t size, const void* data);
    // Any thread but the audio one; save may run beside run() and work().
    LV2_State_Status Save(LV2_State_Store_Function store, LV2_State_Handle handle);
    LV2_State_Status Restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle);

private:
    // Longest path or refusal the plug-in passes on; longer ones are refused or cut.
    static constexpr std::size_t kMaxText = 4096;
    // Replaced impulses and used changes waiting for a worker call to free them.
    static constexpr int kDisposalSlots = 16;

    // A change of cabinet made off the audio thread, applied on it, freed off it again.
    struct ImpulseChange {
        std::unique_ptr<CCabinetImpulse> impulse; // null: the built-in cabinet
        std::string path;                         // the absolute file loaded; empty: restored or built-in
        std::string name;                         // what the UI shows; empty: built-in
        std::string error;                        // a refusal: nothing changes
        std::uint64_t generation = 0;             // newer changes win over late older ones
        bool keep = false;                        // a controls-only restore: the IR stays
    };
    enum class WorkKind : std::uint32_t { Load, Clear, FreeImpulse, FreeChange, Tune };
    struct WorkRequest {
        WorkKind kind;
        void* pointer; // what to free
        // A Load's path follows, without its terminating zero; a Tune's TuneRequest.
    };
    // What the tuner's work needs from run(): A4, or that the tuner has closed (what the ring
    // still holds is dropped and the analysis starts again).
    struct TuneRequest {
        double reference;
        bool flush;
    };
    // work()'s answer to a Tune, told from an ImpulseChange pointer by its size.
    struct TuneAnswer {
        bool read = false; // a hop completed
        TunerReading reading;
    };
    static_assert(sizeof(TuneAnswer) != sizeof(ImpulseChange*), "work_response tells the answers by their size");
    struct Disposal {
        WorkKind kind;
        void* pointer;
    };

    CCorvexLv2() = default;
    void ReadEvents();
    void ReadPatch(const unsigned char* bytes, std::size_t body, std::size_t end, bool set);
    void RequestLoad(const char* path, std::size_t length);
    void ReadControls();
    void Apply(ImpulseChange* change);
    void Dispose(WorkKind kind, void* pointer);
    void SendDisposals();
    void Refuse(const char* reason);
    void WriteNotifications();
    void ReadTuner(const unsigned char* bytes, std::size_t body, std::size_t end);
    // Audio thread: closes the tuner when the UI has gone quiet, asks work() for readings.
    void RunTuner(std::uint32_t samples);
    // Off the audio thread: publishes source as the current IR (nullptr: built-in) and stamps change.
    void MakeCurrent(std::shared_ptr<const ImpulseSource> source, ImpulseChange& change);

    CProcessorCore m_core;
    double m_dSampleRate = 0.0;
    const float* m_apfPorts[kPortCount] = {};
    const LV2_Atom_Sequence* m_pTime = nullptr;
    LV2_Atom_Sequence* m_pNotify = nullptr;
    const LV2_Worker_Schedule* m_pSchedule = nullptr;
    LV2_Atom_Forge m_forge{};
    struct {
        LV2_URID atomBlank, atomObject, atomFloat, atomDouble, atomInt, atomLong, atomPath, atomString,
            atomChunk, atomVector, atomUrid;
        LV2_URID timePosition, timeBeatsPerMinute;
        LV2_URID atomBool;
        LV2_URID patchSet, patchGet, patchProperty, patchValue;
        LV2_URID impulse, notice, impulseName, impulseError, controls, impulseState, controlsOnly;
        LV2_URID tuner, tunerShown, tunerMute, tunerReference, tunerReading;
    } m_uris{};

    // What a save writes, and its generation: guarded by m_sourceMutex, never touched by run().
    std::mutex m_sourceMutex;
    std::shared_ptr<const ImpulseSource> m_pSource;
    std::uint64_t m_iGeneration = 0;
    // A restore's change, for the next run() to apply.
    std::atomic<ImpulseChange*> m_pRestored{nullptr};

    // Audio thread only.
    std::uint64_t m_iInstalledGeneration = 0;
    Disposal m_aDisposals[kDisposalSlots] = {};
    int m_iDisposals = 0;
    unsigned char m_aucRequest[sizeof(WorkRequest) + kMaxText] = {};
    char m_acPath[kMaxText + 1] = {};
    char m_acName[kMaxText + 1] = {};
    char m_acError[kMaxText + 1] = {};
    bool m_bSendPath = false;
    bool m_bSendName = false;
    bool m_bSendError = false;
    bool m_bSendControls = false;

    // The tuner. Audio thread: its state from the UI's messages, samples since the last one,
    // samples since the last work asked for and whether that work is under way, and the newest
    // reading to send.
    bool m_bTunerShown = false;
    bool m_bTunerFlush = false;
    double m_dTunerReference = CPitchDetector::kDefaultReference;
    std::int64_t m_iTunerQuiet = 0;
    std::int64_t m_iTunerUnasked = 0;
    bool m_bTunerWorking = false;
    bool m_bSendReading = false;
    TunerReading m_tunerReading;
    // Worker thread only: made by the first Tune.
    std::unique_ptr<CTunerAnalyser> m_pTuner;
};

} // namespace corvex::lv2
