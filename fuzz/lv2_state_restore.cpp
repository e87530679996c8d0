// What the LV2 plug-in reads from a saved session: the cabinet IR's section bytes a host hands to
// its state interface's restore. The built corvex.so is loaded through its lv2_descriptor, as
// hosts load it; the input is the property's value. A section it accepts must play (finite
// output) and save again as the very same bytes; one it refuses must leave the saved state as it was.

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "Lv2FuzzHost.h"

using namespace corvex::fuzz;
using namespace corvex::lv2;

namespace {

struct CHost : CLv2Instance {
    const LV2_State_Interface* m_pState = nullptr;
    const LV2_Worker_Interface* m_pWorker = nullptr;
    LV2_URID m_key = 0, m_chunk = 0;
    // The property a restore reads, and what a save wrote.
    const std::uint8_t* m_pValue = nullptr;
    std::size_t m_iValueSize = 0;
    std::vector<std::uint8_t> m_aSaved;
    bool m_bSaved = false;
    // Requests and responses of the host's worker, done after each run.
    std::vector<std::vector<std::uint8_t>> m_aWork, m_aResponses;
};

CHost g_host;

LV2_Worker_Status Schedule(LV2_Worker_Schedule_Handle, uint32_t size, const void* data)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    g_host.m_aWork.emplace_back(bytes, bytes + size);
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status Respond(LV2_Worker_Respond_Handle, uint32_t size, const void* data)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    g_host.m_aResponses.emplace_back(bytes, bytes + size);
    return LV2_WORKER_SUCCESS;
}

const void* Retrieve(LV2_State_Handle, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags)
{
    if (key != g_host.m_key)
        return nullptr;
    *size = g_host.m_iValueSize;
    *type = g_host.m_chunk;
    *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    return g_host.m_pValue;
}

LV2_State_Status Store(LV2_State_Handle, uint32_t key, const void* value, size_t size, uint32_t type, uint32_t)
{
    CORVEX_FUZZ_EXPECT(key == g_host.m_key && type == g_host.m_chunk);
    g_host.m_aSaved.assign(static_cast<const std::uint8_t*>(value), static_cast<const std::uint8_t*>(value) + size);
    g_host.m_bSaved = true;
    return LV2_STATE_SUCCESS;
}

std::vector<std::uint8_t> Save(bool& saved)
{
    g_host.m_aSaved.clear();
    g_host.m_bSaved = false;
    CORVEX_FUZZ_EXPECT(g_host.m_pState->save(g_host.m_hInstance, Store, nullptr, 0, nullptr) == LV2_STATE_SUCCESS);
    saved = g_host.m_bSaved;
    return g_host.m_aSaved;
}

void Run()
{
    g_host.m_pDescriptor->run(g_host.m_hInstance, kBlock);
    for (const auto& request : std::exchange(g_host.m_aWork, {}))
        g_host.m_pWorker->work(g_host.m_hInstance, Respond, nullptr, uint32_t(request.size()), request.data());
    for (const auto& response : std::exchange(g_host.m_aResponses, {}))
        g_host.m_pWorker->work_response(g_host.m_hInstance, uint32_t(response.size()), response.data());
    for (std::uint32_t port = kPortOutLeft; port <= kPortOutRight; ++port)
        for (float sample : g_host.m_afAudio[port])
            CORVEX_FUZZ_EXPECT(std::isfinite(sample));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_host.Load();
    static LV2_URID_Map map{nullptr, Map};
    static LV2_Worker_Schedule schedule{nullptr, Schedule};
    static const LV2_Feature mapFeature{LV2_URID__map, &map};
    static const LV2_Feature scheduleFeature{LV2_WORKER__schedule, &schedule};
    static const LV2_Feature* const features[] = {&mapFeature, &scheduleFeature, nullptr};
    g_host.m_hInstance = g_host.m_pDescriptor->instantiate(g_host.m_pDescriptor, kSampleRate, CORVEX_LV2_BUNDLE_PATH, features);
    g_host.m_pState = static_cast<const LV2_State_Interface*>(g_host.m_pDescriptor->extension_data(LV2_STATE__interface));
    g_host.m_pWorker = static_cast<const LV2_Worker_Interface*>(g_host.m_pDescriptor->extension_data(LV2_WORKER__interface));
    if (!g_host.m_hInstance || !g_host.m_pState || !g_host.m_pWorker)
        std::exit(1);
    g_host.m_key = Map(nullptr, kImpulseStateUri);
    g_host.m_chunk = Map(nullptr, LV2_ATOM__Chunk);
    g_host.ConnectAndActivate();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Far past the largest section (10 s of stereo at 384 kHz in floats): nothing new to find.
    if (size > 1 << 22)
        return 0;
    bool savedBefore = false;
    const std::vector<std::uint8_t> before = Save(savedBefore);
    g_host.m_pValue = data;
    g_host.m_iValueSize = size;
    const LV2_State_Status status = g_host.m_pState->restore(g_host.m_hInstance, Retrieve, nullptr, 0, nullptr);
    Run();
    bool saved = false;
    const std::vector<std::uint8_t> after = Save(saved);
    if (status == LV2_STATE_SUCCESS) {
        // Sections are canonical: what was accepted is what a save writes.
        CORVEX_FUZZ_EXPECT(saved && after.size() == size && std::memcmp(after.data(), data, size) == 0);
    } else {
        CORVEX_FUZZ_EXPECT(saved == savedBefore && after == before);
    }
    return 0;
}
