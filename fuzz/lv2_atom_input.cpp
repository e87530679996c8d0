// What the LV2 plug-in reads from its host besides audio and controls: the atom sequence on its
// control port (time:Position objects carrying the tempo, patch:Set and patch:Get of the cabinet
// IR property). The host offers no worker, so a path is refused on the notify port, never read. The built corvex.so is loaded through its
// lv2_descriptor, as hosts load it; the input is the sequence's events, the host's sequence header
// before them. URIDs are numbered in a fixed order (see kUris), so seeds and the dictionary can
// name them.

#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/patch/patch.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "Lv2FuzzHost.h"

using namespace corvex::fuzz;
using namespace corvex::lv2;

namespace {

// URID n is kUris[n - 1]; other URIs the plug-in maps follow.
const char* const kUris[] = {
    LV2_ATOM__Blank,   LV2_ATOM__Object,  LV2_ATOM__Float, LV2_ATOM__Double,         LV2_ATOM__Int,
    LV2_ATOM__Long,    LV2_TIME__Position, LV2_TIME__beatsPerMinute, LV2_ATOM__Sequence, LV2_BUF_SIZE__maxBlockLength,
    LV2_TIME__frame,   LV2_TIME__speed,   LV2_TIME__bar,   LV2_TIME__barBeat,
    LV2_ATOM__Path,    LV2_ATOM__URID,    LV2_PATCH__Set,  LV2_PATCH__Get,           LV2_PATCH__property,
    LV2_PATCH__value,  kImpulseUri,       LV2_ATOM__String, LV2_ATOM__Chunk,
};

struct CHost : CLv2Instance {
    std::vector<std::uint64_t> m_aSequence; // 8-byte aligned, as hosts give it
    std::uint64_t m_aNotify[kAtomPortMinimumSize / sizeof(std::uint64_t)] = {};
};

CHost g_host;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_asUris.assign(std::begin(kUris), std::end(kUris));
    g_host.Load();
    static LV2_URID_Map map{nullptr, Map};
    static const std::int32_t maxBlock = kBlock;
    static const LV2_Options_Option options[] = {
        {LV2_OPTIONS_INSTANCE, 0, Map(nullptr, LV2_BUF_SIZE__maxBlockLength), sizeof maxBlock, Map(nullptr, LV2_ATOM__Int), &maxBlock},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    static const LV2_Feature mapFeature{LV2_URID__map, &map};
    static const LV2_Feature optionsFeature{LV2_OPTIONS__options, const_cast<LV2_Options_Option*>(options)};
    static const LV2_Feature* const features[] = {&mapFeature, &optionsFeature, nullptr};
    g_host.m_hInstance = g_host.m_pDescriptor->instantiate(g_host.m_pDescriptor, kSampleRate, CORVEX_LV2_BUNDLE_PATH, features);
    if (!g_host.m_hInstance)
        std::exit(1);
    g_host.ConnectAndActivate();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1 << 20)
        return 0;
    // The host's header: the sequence's size counts its body (unit and pad) and the events.
    const std::size_t total = sizeof(LV2_Atom_Sequence) + size;
    g_host.m_aSequence.assign((total + 7) / 8, 0);
    LV2_Atom_Sequence header{};
    header.atom.size = static_cast<std::uint32_t>(sizeof(LV2_Atom_Sequence_Body) + size);
    header.atom.type = Map(nullptr, LV2_ATOM__Sequence);
    std::memcpy(g_host.m_aSequence.data(), &header, sizeof header);
    if (size > 0)
        std::memcpy(reinterpret_cast<std::uint8_t*>(g_host.m_aSequence.data()) + sizeof header, data, size);
    g_host.m_pDescriptor->connect_port(g_host.m_hInstance, kPortTime, g_host.m_aSequence.data());
    auto* notify = reinterpret_cast<LV2_Atom_Sequence*>(g_host.m_aNotify);
    notify->atom.type = Map(nullptr, LV2_ATOM__Chunk);
    notify->atom.size = sizeof g_host.m_aNotify - sizeof(LV2_Atom);
    g_host.m_pDescriptor->connect_port(g_host.m_hInstance, kPortNotify, notify);

    g_host.m_pDescriptor->run(g_host.m_hInstance, kBlock);
    // What the plug-in tells its UI stays inside the room it had, a sequence of whole events.
    CORVEX_FUZZ_EXPECT(notify->atom.type == Map(nullptr, LV2_ATOM__Sequence));
    CORVEX_FUZZ_EXPECT(sizeof(LV2_Atom) + notify->atom.size <= sizeof g_host.m_aNotify);
    for (std::uint32_t port = kPortOutLeft; port <= kPortOutRight; ++port)
        for (float sample : g_host.m_afAudio[port])
            CORVEX_FUZZ_EXPECT(std::isfinite(sample));
    for (std::uint32_t port = kPortFirstIndicator; port < kPortEndIndicator; ++port)
        CORVEX_FUZZ_EXPECT(g_host.m_afControls[port] >= 0.0f && g_host.m_afControls[port] <= 1.0f);
    return 0;
}
