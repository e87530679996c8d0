// The controller's own state a host restores (IEditController::setState), written back by
// getState, and every parameter's text at the values it now holds.

#include <cstdint>
#include <vector>

#include "StateChecks.h"

using namespace corvex::fuzz;
using Steinberg::kResultOk;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Plugin();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Steinberg::Vst::IEditController* controller = Plugin().m_pInstance->Controller();
    std::vector<char> bytes(data, data + size);
    Steinberg::MemoryStream stream(bytes.data(), static_cast<Steinberg::TSize>(bytes.size()));
    const bool taken = controller->setState(&stream) == kResultOk;
    CORVEX_FUZZ_EXPECT(taken == (size >= corvex::kStateSize));
    CheckControllerParameters(controller, taken ? &bytes : nullptr);

    Steinberg::MemoryStream written;
    CORVEX_FUZZ_EXPECT(controller->getState(&written) == kResultOk);
    CheckWrittenState(written, taken ? &bytes : nullptr);

    for (corvex::ParamID id = corvex::kFirstParam; id <= corvex::kLastParam; ++id) {
        Steinberg::Vst::String128 text{};
        CORVEX_FUZZ_EXPECT(controller->getParamStringByValue(id, controller->getParamNormalized(id), text) == kResultOk);
        bool terminated = false;
        for (Steinberg::Vst::TChar c : text)
            terminated = terminated || c == 0;
        CORVEX_FUZZ_EXPECT(terminated);
    }
    return 0;
}
