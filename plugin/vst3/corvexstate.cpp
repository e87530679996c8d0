#include "corvexstate.h"

#include <cmath>
#include <cstdint>
#include <cstring>

using namespace Steinberg;

namespace corvex {
namespace {

bool ReadFloat(IBStream* stream, float& value)
{
    unsigned char bytes[kStateValueBytes] = {};
    int32 delivered = 0;
    if (stream->read(bytes, kStateValueBytes, &delivered) != kResultOk || delivered != kStateValueBytes)
        return false;
    const std::uint32_t bits = std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 |
                               std::uint32_t(bytes[2]) << 16 | std::uint32_t(bytes[3]) << 24;
    std::memcpy(&value, &bits, sizeof value);
    return true;
}

bool WriteFloat(IBStream* stream, float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    unsigned char bytes[kStateValueBytes] = {
        static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
        static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)};
    int32 written = 0;
    return stream->write(bytes, kStateValueBytes, &written) == kResultOk && written == kStateValueBytes;
}

} // namespace

bool ReadState(IBStream* stream, StateValues& values)
{
    if (!stream)
        return false;
    float marker = 0.0f;
    if (!ReadFloat(stream, marker))
        return false;
    StateValues read{};
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        if (!ReadFloat(stream, read[id]))
            return false;
    values = read;
    return true;
}

bool WriteState(IBStream* stream, const StateValues& values)
{
    if (!stream || !WriteFloat(stream, kStateMarker))
        return false;
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        if (!WriteFloat(stream, values[id]))
            return false;
    return true;
}

float SanitiseValue(double value, float fallback)
{
    if (std::isnan(value))
        return fallback;
    if (value < 0.0)
        return 0.0f;
    if (value > 1.0)
        return 1.0f;
    return static_cast<float>(value);
}

StateValues DefaultValues()
{
    StateValues values{};
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        values[id] = kParamInfos[id].defaultValue;
    return values;
}

} // namespace corvex
