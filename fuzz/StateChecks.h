#pragma once

// What every reader of a component or controller state promises: a state is taken when its first
// 80 bytes could be read, each value then as the plug-in sanitises it (clamped to [0, 1], a NaN
// giving the parameter's default), and what it writes back is a whole state of values in [0, 1].

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzHost.h"
#include "StateLayout.h"
#include "public.sdk/source/common/memorystream.h"

namespace corvex::fuzz {

inline float StateValue(const char* bytes, std::size_t index)
{
    std::uint32_t bits = 0;
    for (int b = 0; b < kStateValueBytes; ++b)
        bits |= std::uint32_t(static_cast<unsigned char>(bytes[index * kStateValueBytes + b])) << (8 * b);
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline float Sanitised(float value, ParamID id)
{
    if (std::isnan(value))
        return kParamInfos[id].defaultValue;
    return value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value);
}

// The state a getState wrote: 80 bytes, the marker, values in [0, 1]; and, when `sent` is given,
// each value the sanitised one sent.
inline void CheckWrittenState(Steinberg::MemoryStream& written, const std::vector<char>* sent)
{
    CORVEX_FUZZ_EXPECT(written.getSize() == static_cast<Steinberg::TSize>(kStateSize));
    const char* bytes = written.getData();
    CORVEX_FUZZ_EXPECT(StateValue(bytes, 0) == kStateMarker);
    for (ParamID id = kFirstParam; id <= kLastParam; ++id) {
        const float value = StateValue(bytes, id);
        CORVEX_FUZZ_EXPECT(value >= 0.0f && value <= 1.0f);
        if (sent)
            CORVEX_FUZZ_EXPECT(value == Sanitised(StateValue(sent->data(), id), id));
    }
}

// The controller's parameters after a state: each the sanitised value sent, or all in [0, 1].
inline void CheckControllerParameters(Steinberg::Vst::IEditController* controller, const std::vector<char>* sent)
{
    for (ParamID id = kFirstParam; id <= kLastParam; ++id) {
        const double value = controller->getParamNormalized(id);
        CORVEX_FUZZ_EXPECT(value >= 0.0 && value <= 1.0);
        if (sent)
            CORVEX_FUZZ_EXPECT(value == static_cast<double>(Sanitised(StateValue(sent->data(), id), id)));
    }
}

} // namespace corvex::fuzz
