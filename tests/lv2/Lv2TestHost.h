#pragma once

#include <lilv/lilv.h>
#include <lv2/atom/forge.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

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
    LV2_URID Urid(const char* uri) { return m_map.map(m_map.handle, uri); }

private:
    Lv2World();
    static LV2_URID MapUri(LV2_URID_Map_Handle handle, const char* uri);

    LilvWorld* m_pWorld = nullptr;
    const LilvPlugin* m_pPlugin = nullptr;
    std::vector<std::string> m_aUris;
    LV2_URID_Map m_map{};
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
    // Runs inL/inR (n samples each) in runs of at most `block` samples into outL/outR.
    void Process(const float* inL, const float* inR, float* outL, float* outR, std::int64_t n, std::int32_t block);

private:
    Lv2Instance() = default;
    void PrepareTimeBuffer(bool withTempo);

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
};

} // namespace test
