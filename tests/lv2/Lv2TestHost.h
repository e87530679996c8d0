#pragma once

#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Lv2Ports.h"

namespace test {

// A lilv world that knows only the built bundle, and the URID map every instance shares.
class Lv2World {
public:
    static Lv2World& Get();
    LilvWorld* World() const { return m_pWorld; }
    const LilvPlugin* Plugin() const { return m_pPlugin; }
    LV2_URID_Map* Map() { return &m_map; }
    LV2_URID_Unmap* Unmap() { return &m_unmap; }
    LV2_URID Urid(const char* uri) { return m_map.map(m_map.handle, uri); }
    // Whether the TTL declares the property patch:readable or patch:writable, as hosts check.
    bool Declares(const char* property) const;

private:
    Lv2World();
    static LV2_URID MapUri(LV2_URID_Map_Handle handle, const char* uri);
    static const char* UnmapUrid(LV2_URID_Unmap_Handle handle, LV2_URID urid);

    LilvWorld* m_pWorld = nullptr;
    const LilvPlugin* m_pPlugin = nullptr;
    std::vector<std::string> m_aUris;
    LV2_URID_Map m_map{};
    LV2_URID_Unmap m_unmap{};
};

// A message the plug-in sent on its notify port: a patch:Set to the host (property is the
// property's URI) or a notice to the UI (property is the notice's one key); the value a path or
// string as text, a vector as floats (one of doubles too).
struct Lv2Notification {
    bool patchSet = false;
    std::string property;
    std::string text;
    std::vector<float> values;
};

// One instance of the built LV2 plug-in as a host runs it: every port connected to buffers of
// maxBlock samples, the controls at their TTL defaults, activated.
class Lv2Instance {
public:
    // Null (and a test failure) when lilv cannot instantiate it. The host states
    // statedMaxBlock (default maxBlock) as its bufsz:maxBlockLength.
    static std::unique_ptr<Lv2Instance> Create(double sampleRate, std::int32_t maxBlock,
                                               std::int32_t statedMaxBlock = 0);
    ~Lv2Instance();

    float& Control(std::uint32_t port) { return m_afControls[port]; }
    // Sends one time:Position with this tempo (whatever it is: NaN and negative ones included) at
    // the start of the next run, as hosts do: only when the TTL says the port supports it.
    void SendTempo(float bpm);
    // Hands the time port a sequence that is 4-byte but not 8-byte aligned, as some hosts do.
    void MisalignTimeBuffer();
    // Deactivates and activates it again, as hosts do when a plug-in is switched off and on.
    void Reactivate();
    // Runs inL/inR (n samples each) in runs of at most `block` samples into outL/outR. After each
    // run the host's worker does what the run asked for and hands back its responses, as a host
    // does when it works at once (jalv while free-wheeling); the notify port is read.
    void Process(const float* inL, const float* inR, float* outL, float* outR, std::int64_t n, std::int32_t block);
    // Sends a patch:Set of the cabinet IR property with this path (empty: the built-in cabinet)
    // at the start of the next run, as hosts do from their own file chooser.
    void SetImpulsePath(const std::string& path);
    // Sends the UI's tuner message (shown, muted while tuning, A4 = 440 Hz) at the start of the next run.
    void SetTuner(bool shown, bool mute);
    // Messages received on the notify port since the last call, oldest first. Every patch:Set
    // must be of a property the TTL declares (hosts warn about any other) with an absolute path.
    std::vector<Lv2Notification> TakeNotifications();
    // The state as lilv saves it (its port values and the plug-in's properties), as Turtle.
    std::string SaveState();
    // Restores a saved state as hosts do through lilv: the plug-in's properties and the ports' values.
    void RestoreState(const std::string& turtle);
    // Loads a preset as hosts do through lilv (its properties restored, then its ports set).
    void ApplyPreset(const LilvNode* preset);
    // lilv's port-value callback for a state or preset set on the instance given as user.
    static void SetPortValue(const char* symbol, void* user, const void* value, uint32_t size, uint32_t type);
    // The plug-in's state interface called directly with one property (key, bytes of type).
    LV2_State_Status RestoreProperty(const char* key, const std::vector<std::uint8_t>& value, LV2_URID type);
    // What the plug-in stores under key, and its type (0 when it stores nothing under it).
    std::vector<std::uint8_t> SavedProperty(const char* key, LV2_URID& type);

private:
    Lv2Instance() = default;
    void PrepareTimeBuffer(bool withTempo);
    void ReadNotifications();
    void RunWorker();
    static LV2_Worker_Status Schedule(LV2_Worker_Schedule_Handle handle, uint32_t size, const void* data);
    static LV2_Worker_Status Respond(LV2_Worker_Respond_Handle handle, uint32_t size, const void* data);

    LilvInstance* m_pInstance = nullptr;
    std::int32_t m_iMaxBlock = 0;
    std::vector<float> m_afAudio[4];
    float m_afControls[corvex::lv2::kPortCount] = {};
    std::vector<std::uint64_t> m_aTime; // 8-byte aligned atom sequence
    std::size_t m_iTimeOffset = 0;      // bytes into m_aTime where the sequence starts
    float m_fPendingTempo = 0.0f;
    bool m_bTempoPending = false;
    bool m_bTimeSupported = false; // the time port declares atom:supports time:Position
    std::int32_t m_iOptionBlock = 0;
    LV2_Options_Option m_aOptions[2]{};
    bool m_bImpulsePending = false;
    bool m_bTunerPending = false;
    bool m_bTunerShown = false;
    bool m_bTunerMute = false;
    std::string m_sPendingImpulse;
    std::vector<std::uint64_t> m_aNotify; // 8-byte aligned atom sequence
    std::vector<Lv2Notification> m_aNotifications;
    LV2_Worker_Schedule m_schedule{};
    std::vector<std::vector<std::uint8_t>> m_aWork, m_aResponses;
};

} // namespace test
