#include "corvexstate.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "ImpulseSection.h"

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

// Reads of a section go in pieces no larger than this.
constexpr std::size_t kTailChunk = 1 << 20;

bool ReadFully(IBStream* stream, std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const int32 wanted = static_cast<int32>(std::min(size, kTailChunk));
        int32 delivered = 0;
        if (stream->read(data, wanted, &delivered) != kResultOk || delivered != wanted)
            return false;
        data += wanted;
        size -= static_cast<std::size_t>(wanted);
    }
    return true;
}

} // namespace

bool ReadState(IBStream* stream, StateValues& values, float* marker)
{
    if (!stream)
        return false;
    float readMarker = 0.0f;
    if (!ReadFloat(stream, readMarker))
        return false;
    StateValues read{};
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        if (!ReadFloat(stream, read[id]))
            return false;
    values = read;
    if (marker)
        *marker = readMarker;
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

bool ReadStateTail(IBStream* stream, std::vector<std::uint8_t>& tail)
{
    tail.clear();
    if (!stream)
        return false;
    // A stream that tells its length is read exactly: hosts' streams may fail a read that asks
    // for more than is left.
    int64 at = 0, end = 0;
    if (stream->tell(&at) == kResultOk && stream->seek(0, IBStream::kIBSeekEnd, &end) == kResultOk) {
        if (stream->seek(at, IBStream::kIBSeekSet, nullptr) != kResultOk || end < at)
            return false;
        if (static_cast<std::uint64_t>(end - at) > kMaxStateTail)
            return false;
        tail.resize(static_cast<std::size_t>(end - at));
        return ReadFully(stream, tail.data(), tail.size());
    }
    // Otherwise until a read delivers nothing (or fails: the end of some hosts' streams).
    for (;;) {
        const std::size_t had = tail.size();
        tail.resize(had + kTailChunk);
        int32 delivered = 0;
        const tresult result = stream->read(tail.data() + had, static_cast<int32>(kTailChunk), &delivered);
        if (delivered < 0 || static_cast<std::size_t>(delivered) > kTailChunk)
            return false;
        tail.resize(had + static_cast<std::size_t>(delivered));
        if (tail.size() > kMaxStateTail)
            return false;
        if (result != kResultOk || delivered == 0)
            return true;
    }
}

bool ReadComponentState(IBStream* stream, StateValues& values, std::shared_ptr<const ImpulseSource>& impulse,
                        bool& keepImpulse)
{
    StateValues read{};
    float marker = 0.0f;
    std::vector<std::uint8_t> tail;
    if (!ReadState(stream, read, &marker) || !ReadStateTail(stream, tail))
        return false;
    std::shared_ptr<ImpulseSource> decoded;
    if (!tail.empty()) {
        decoded = std::make_shared<ImpulseSource>();
        std::string error;
        if (!DecodeImpulseSection(tail.data(), tail.size(), *decoded, error))
            return false;
    }
    values = read;
    keepImpulse = tail.empty() && marker == kPresetStateMarker;
    impulse = std::move(decoded);
    return true;
}

bool WriteBytes(IBStream* stream, const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const int32 wanted = static_cast<int32>(std::min(bytes.size() - done, kTailChunk));
        int32 written = 0;
        if (stream->write(const_cast<std::uint8_t*>(bytes.data() + done), wanted, &written) != kResultOk ||
            written != wanted)
            return false;
        done += static_cast<std::size_t>(wanted);
    }
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
