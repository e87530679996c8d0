// corvex-render's --set argument against the parameter list the built module's controller
// reports: a setting it takes names a writable parameter and a value in [0, 1]; one it refuses
// gets a message that quotes the argument.

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzHost.h"
#include "ParamArguments.h"

using namespace corvex::fuzz;
using corvex::render::ModuleParam;

namespace {

std::vector<ModuleParam> g_aParams;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Steinberg::Vst::IEditController* controller = Plugin().m_pInstance->Controller();
    for (Steinberg::int32 i = 0; i < controller->getParameterCount(); ++i) {
        Steinberg::Vst::ParameterInfo info{};
        if (controller->getParameterInfo(i, info) != Steinberg::kResultOk)
            continue;
        std::string title;
        for (int c = 0; c < 128 && info.title[c]; ++c)
            title += static_cast<char>(info.title[c]); // the titles are ASCII
        g_aParams.push_back({info.id, title, info.defaultNormalizedValue, info.flags, info.stepCount});
    }
    return g_aParams.empty() ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string argument(reinterpret_cast<const char*>(data), size);
    corvex::render::ParamSetting setting{};
    std::string error;
    if (!corvex::render::ParseSetting(argument, g_aParams, setting, error)) {
        CORVEX_FUZZ_EXPECT(error.rfind("--set \"" + argument + "\": ", 0) == 0);
        return 0;
    }
    CORVEX_FUZZ_EXPECT(error.empty());
    CORVEX_FUZZ_EXPECT(std::isfinite(setting.value) && setting.value >= 0.0 && setting.value <= 1.0);
    bool writable = false;
    for (const ModuleParam& p : g_aParams)
        writable = writable || (p.id == setting.id && !(p.flags & Steinberg::Vst::ParameterInfo::kIsReadOnly));
    CORVEX_FUZZ_EXPECT(writable);
    return 0;
}
