// The state's IR section: every bit of a source comes back, 24-bit IRs take 3 bytes a sample, and
// a section that is damaged, cut, extended or out of bounds is refused whole.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "ImpulseSection.h"

namespace {

using corvex::ImpulseSource;

ImpulseSource Source(const std::string& name, double rate, int channels, int frames,
                     const std::function<float(int)>& sample)
{
    ImpulseSource source;
    source.name = name;
    source.sampleRate = rate;
    source.channels = channels;
    source.frames = frames;
    for (int i = 0; i < channels * frames; ++i)
        source.samples.push_back(sample(i));
    return source;
}

// 24-bit PCM values, as libsndfile reads a 24-bit file.
ImpulseSource Integer24Source()
{
    return Source("cab 4x12 (SM57).wav", 48000.0, 1, 300,
                  [](int i) { return static_cast<float>((i * 7919) % 16777216 - 8388608) / 8388608.0f; });
}

std::uint32_t Bits(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST(ImpulseSection, KeepsEveryBitAndStoresTwentyFourBitSamplesInThreeBytes)
{
    struct Case {
        ImpulseSource source;
        int sampleBytes;
    };
    const Case cases[] = {
        {Integer24Source(), 3},
        // Floats that 24 bits cannot hold: finer steps, -0, a full-scale 1, a subnormal.
        {Source("Ωmega-räum.wav", 44100.5, 2, 64,
                [](int i) {
                    const float special[] = {-0.0f, 1.0f, 1e-40f, 0.1f};
                    return i < 4 ? special[i] : std::sin(static_cast<float>(i)) * 1.5f;
                }),
         4},
        // k / 2^23 at rates and lengths on the limits.
        {Source("", 8000.0, 2, 80000, [](int i) { return i == 5 ? -1.0f : 0.0f; }), 3},
        {Source(std::string(corvex::kImpulseMaxNameBytes, 'n'), 384000.0, 1, 1, [](int) { return 0.5f; }), 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source.name.substr(0, 20));
        const std::vector<std::uint8_t> bytes = corvex::EncodeImpulseSection(c.source);
        EXPECT_EQ(bytes.size(), corvex::kImpulseSectionHeaderBytes + c.source.name.size() +
                                    c.source.samples.size() * static_cast<std::size_t>(c.sampleBytes) +
                                    corvex::kImpulseSectionCrcBytes);
        ImpulseSource back;
        std::string error;
        ASSERT_TRUE(corvex::DecodeImpulseSection(bytes.data(), bytes.size(), back, error)) << error;
        EXPECT_EQ(back.name, c.source.name);
        EXPECT_EQ(std::memcmp(&back.sampleRate, &c.source.sampleRate, sizeof(double)), 0);
        EXPECT_EQ(back.channels, c.source.channels);
        EXPECT_EQ(back.frames, c.source.frames);
        ASSERT_EQ(back.samples.size(), c.source.samples.size());
        for (std::size_t i = 0; i < back.samples.size(); ++i)
            ASSERT_EQ(Bits(back.samples[i]), Bits(c.source.samples[i])) << i;
        EXPECT_EQ(corvex::EncodeImpulseSection(back), bytes);
    }
}

// A section edited, then given a matching length field and checksum unless the edit is to them.
std::vector<std::uint8_t> Edited(std::vector<std::uint8_t> bytes,
                                 const std::function<void(std::vector<std::uint8_t>&)>& edit, bool reseal = true)
{
    edit(bytes);
    if (reseal && bytes.size() >= corvex::kImpulseSectionHeaderBytes + corvex::kImpulseSectionCrcBytes) {
        const auto size = static_cast<std::uint32_t>(bytes.size());
        std::memcpy(&bytes[8], &size, 4);
        const std::size_t body = bytes.size() - corvex::kImpulseSectionCrcBytes;
        const std::uint32_t crc = corvex::ImpulseCrc32(bytes.data(), body);
        std::memcpy(&bytes[body], &crc, 4);
    }
    return bytes;
}

TEST(ImpulseSection, RefusesDamagedTruncatedExtendedAndOversizedSectionsWhole)
{
    const std::vector<std::uint8_t> good = corvex::EncodeImpulseSection(Integer24Source());
    const std::size_t sampleStart = corvex::kImpulseSectionHeaderBytes + Integer24Source().name.size();
    // The float section holds 0.1, 0.5, 0.5, 0.5 after its 5-byte name.
    const std::vector<std::uint8_t> floats = corvex::EncodeImpulseSection(
        Source("f.wav", 48000.0, 1, 4, [](int i) { return i == 0 ? 0.1f : 0.5f; }));
    const auto setFloat = [](std::size_t index, float value) {
        return [=](std::vector<std::uint8_t>& b) {
            std::memcpy(&b[corvex::kImpulseSectionHeaderBytes + 5 + 4 * index], &value, 4);
        };
    };
    const auto setRate = [](double rate) {
        return [rate](std::vector<std::uint8_t>& b) { std::memcpy(&b[12], &rate, 8); };
    };
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"empty", {}, "is truncated"},
        {"cut", Edited(good, [](auto& b) { b.pop_back(); }, false), "is truncated"},
        {"cut and resealed", Edited(good, [](auto& b) { b.erase(b.end() - 5, b.end() - 4); }),
         "is damaged (its length does not match its contents)"},
        {"trailing", Edited(good, [](auto& b) { b.push_back(0); }, false), "is followed by 1 other bytes"},
        {"flipped bit", Edited(good, [&](auto& b) { b[sampleStart + 10] ^= 4; }, false),
         "is damaged (its checksum does not match)"},
        {"other magic", Edited(good, [](auto& b) { b[0] = 'X'; }), "is not one"},
        {"newer", Edited(good, [](auto& b) { b[4] = 2; }), "was written by a newer version (2)"},
        {"coding", Edited(good, [](auto& b) { b[6] = 16; }), "is damaged (version 1, coding 16)"},
        {"three channels", Edited(good, [](auto& b) { b[7] = 3; }), "holds an IR that has 3 channels (an IR has 1 or 2)"},
        {"slow", Edited(good, setRate(7999.0)), "holds an IR that is at 7999 Hz (an IR is at 8000 Hz to 384000 Hz)"},
        {"rate NaN", Edited(good, setRate(std::nan(""))), "holds an IR that is at nan Hz (an IR is at 8000 Hz to 384000 Hz)"},
        {"over 10 s", Edited(good, [](auto& b) { b[20] = 0x81; b[21] = 0x53; b[22] = 0x07; }),
         "holds an IR that is longer than 10 s"},
        {"long name", Edited(good, [](auto& b) { b[24] = 0x01; b[25] = 0x04; }),
         "has a name longer than 1024 bytes"},
        {"name not UTF-8", Edited(good, [](auto& b) { b[corvex::kImpulseSectionHeaderBytes] = 0xC0; }),
         "holds an IR that has a name that is not UTF-8 text of at most 1024 bytes"},
        {"NaN sample", Edited(floats, setFloat(1, std::nanf(""))), "holds an IR that has non-finite samples"},
        {"silent", Edited(good, [&](auto& b) { std::fill(b.begin() + static_cast<std::ptrdiff_t>(sampleStart), b.end() - 4, 0); }),
         "holds an IR that is silent"},
        {"floats that are 24-bit", Edited(floats, setFloat(0, 0.5f)), "is damaged (floats where 24-bit integers belong)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ImpulseSource out;
        out.name = "kept";
        std::string error;
        EXPECT_FALSE(corvex::DecodeImpulseSection(c.bytes.data(), c.bytes.size(), out, error));
        EXPECT_EQ(error, std::string("the state's IR section ") + c.reason);
        EXPECT_EQ(out.name, "kept");
    }
}

} // namespace
