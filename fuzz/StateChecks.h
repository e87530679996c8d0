#pragma once

// What every reader of a component or controller state promises: a state is taken when its first
// 80 bytes could be read (and, for a component state, what follows them is nothing or an IR
// section that decodes), each value then as the plug-in sanitises it (clamped to [0, 1], a NaN
// giving the parameter's default), and what it writes back is a whole state of values in [0, 1].

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzHost.h"
#include "ImpulseSection.h"
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

// Whether bytes after a state's 80 are an IR section the plug-in takes.
inline bool IsImpulseSection(const char* data, std::size_t size)
{
    ImpulseSource source;
    std::string error;
    return DecodeImpulseSection(reinterpret_cast<const std::uint8_t*>(data), size, source, error);
}

// The state a getState wrote: the marker and values in [0, 1] in 80 bytes, then nothing, or for a
// component state an IR section that decodes; when `sent` is given, each value the sanitised one
// sent and the section the one sent (a section has one encoding).
inline void CheckWrittenState(Steinberg::MemoryStream& written, const std::vector<char>* sent, bool component = false)
{
    const auto size = static_cast<std::size_t>(written.getSize());
    CORVEX_FUZZ_EXPECT(component ? size >= kStateSize : size == kStateSize);
    if (size < kStateSize)
        return;
    const char* bytes = written.getData();
    if (size > kStateSize)
        CORVEX_FUZZ_EXPECT(IsImpulseSection(bytes + kStateSize, size - kStateSize));
    // A preset's state without a section keeps whatever IR played before.
    const bool keeps = sent && sent->size() == kStateSize && StateValue(sent->data(), 0) == kPresetStateMarker;
    if (sent && component && !keeps)
        CORVEX_FUZZ_EXPECT(size == sent->size() && std::memcmp(bytes + kStateSize, sent->data() + kStateSize,
                                                               size - kStateSize) == 0);
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
