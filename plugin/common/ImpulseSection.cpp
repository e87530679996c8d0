#include "ImpulseSection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace corvex {

namespace {

constexpr std::uint8_t kMagic[4] = {'C', 'V', 'I', 'R'};
constexpr std::uint8_t kCoding24 = 24, kCoding32 = 32;
constexpr float kInteger24Scale = 8388608.0f; // 2^23

constexpr std::array<std::uint32_t, 256> MakeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        table[i] = crc;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

// Writes value's low bytes at p, little-endian; returns the byte after them.
std::uint8_t* Put(std::uint8_t* p, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        *p++ = static_cast<std::uint8_t>(value >> (8 * i));
    return p;
}

std::uint64_t Get(const std::uint8_t* p, int bytes)
{
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | p[i];
    return value;
}

std::uint32_t FloatBits(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Whether the sample is k / 2^23 for a 24-bit k; -0 is not, since 0 would come back.
bool IsInteger24(float sample)
{
    const float scaled = sample * kInteger24Scale;
    return scaled >= -kInteger24Scale && scaled < kInteger24Scale && scaled == std::floor(scaled) &&
           !(sample == 0.0f && std::signbit(sample));
}

bool AllInteger24(const std::vector<float>& samples)
{
    for (const float sample : samples)
        if (!IsInteger24(sample))
            return false;
    return true;
}

bool Refuse(const std::string& reason, std::string& error)
{
    error = "the state's IR section " + reason;
    return false;
}

} // namespace

std::uint32_t ImpulseCrc32(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
        crc = kCrcTable[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::vector<std::uint8_t> EncodeImpulseSection(const ImpulseSource& source)
{
    const bool integer24 = AllInteger24(source.samples);
    const std::size_t nameBytes = std::min(source.name.size(), kImpulseMaxNameBytes);
    const std::size_t total = kImpulseSectionHeaderBytes + nameBytes +
                              source.samples.size() * (integer24 ? 3 : 4) + kImpulseSectionCrcBytes;
    std::vector<std::uint8_t> out(total);
    std::uint8_t* p = std::copy(kMagic, kMagic + sizeof kMagic, out.data());
    p = Put(p, kImpulseSectionVersion, 2);
    p = Put(p, integer24 ? kCoding24 : kCoding32, 1);
    p = Put(p, static_cast<std::uint64_t>(source.channels), 1);
    p = Put(p, total, 4);
    std::uint64_t rateBits;
    std::memcpy(&rateBits, &source.sampleRate, sizeof rateBits);
    p = Put(p, rateBits, 8);
    p = Put(p, static_cast<std::uint64_t>(source.frames), 4);
    p = Put(p, nameBytes, 2);
    p = std::copy(source.name.begin(), source.name.begin() + static_cast<std::ptrdiff_t>(nameBytes), p);
    for (const float sample : source.samples) {
        if (integer24)
            p = Put(p, static_cast<std::uint32_t>(static_cast<std::int32_t>(sample * kInteger24Scale)), 3);
        else
            p = Put(p, FloatBits(sample), 4);
    }
    Put(p, ImpulseCrc32(out.data(), total - kImpulseSectionCrcBytes), 4);
    return out;
}

bool DecodeImpulseSection(const std::uint8_t* data, std::size_t size, ImpulseSource& out, std::string& error)
{
    if (size < kImpulseSectionHeaderBytes + kImpulseSectionCrcBytes)
        return Refuse("is truncated", error);
    if (std::memcmp(data, kMagic, sizeof kMagic) != 0)
        return Refuse("is not one", error);
    const auto version = static_cast<std::uint16_t>(Get(data + 4, 2));
    if (version > kImpulseSectionVersion)
        return Refuse("was written by a newer version (" + std::to_string(version) + ")", error);
    const std::uint64_t length = Get(data + 8, 4);
    if (length > size)
        return Refuse("is truncated", error);
    if (length < size)
        return Refuse("is followed by " + std::to_string(size - length) + " other bytes", error);
    if (ImpulseCrc32(data, size - kImpulseSectionCrcBytes) != Get(data + size - kImpulseSectionCrcBytes, 4))
        return Refuse("is damaged (its checksum does not match)", error);

    const std::uint8_t coding = data[6];
    ImpulseSource source;
    source.channels = data[7];
    std::uint64_t rateBits = Get(data + 12, 8);
    std::memcpy(&source.sampleRate, &rateBits, sizeof source.sampleRate);
    const std::uint64_t frames = Get(data + 20, 4);
    const std::size_t nameBytes = static_cast<std::size_t>(Get(data + 24, 2));
    if (version == 0 || (coding != kCoding24 && coding != kCoding32))
        return Refuse("is damaged (version " + std::to_string(version) + ", coding " + std::to_string(coding) + ")",
                      error);
    const std::string shape = ImpulseShapeProblem(source.sampleRate, source.channels, static_cast<std::int64_t>(frames));
    if (!shape.empty())
        return Refuse("holds an IR that " + shape, error);
    if (nameBytes > kImpulseMaxNameBytes)
        return Refuse("has a name longer than " + std::to_string(kImpulseMaxNameBytes) + " bytes", error);
    const std::size_t sampleBytes = coding == kCoding24 ? 3 : 4;
    const std::size_t count = static_cast<std::size_t>(frames) * static_cast<std::size_t>(source.channels);
    if (kImpulseSectionHeaderBytes + nameBytes + count * sampleBytes + kImpulseSectionCrcBytes != size)
        return Refuse("is damaged (its length does not match its contents)", error);

    source.frames = static_cast<int>(frames);
    const std::uint8_t* p = data + kImpulseSectionHeaderBytes;
    source.name.assign(reinterpret_cast<const char*>(p), nameBytes);
    p += nameBytes;
    source.samples.resize(count);
    for (float& sample : source.samples) {
        if (coding == kCoding24) {
            // Sign-extended from bit 23.
            const auto k = static_cast<std::int32_t>(Get(p, 3) ^ 0x800000u) - 0x800000;
            sample = static_cast<float>(k) / kInteger24Scale;
        } else {
            const auto bits = static_cast<std::uint32_t>(Get(p, 4));
            std::memcpy(&sample, &bits, sizeof sample);
        }
        p += sampleBytes;
    }
    if (coding == kCoding32 && AllInteger24(source.samples))
        return Refuse("is damaged (floats where 24-bit integers belong)", error);
    const std::string problem = ImpulseProblem(source);
    if (!problem.empty())
        return Refuse("holds an IR that " + problem, error);
    out = std::move(source);
    return true;
}

} // namespace corvex
