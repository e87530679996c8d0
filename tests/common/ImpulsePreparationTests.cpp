// An IR file at any rate becomes the engine's impulse at the session's rate: same length in
// time, same sound, each channel its own; untouched when the rates agree.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "CrossSystemFile.h"
#include "EngineTestSupport.h"
#include "ImpulsePreparation.h"

namespace {

using corvex::ImpulseSource;

struct Rates {
    double file, session;
};

class ImpulsePreparation : public ::testing::TestWithParam<Rates> {};

// 50 ms of a Hann-windowed 1 kHz tone, the right channel 6 dB down and a quarter period later.
ImpulseSource ToneImpulse(double rate, int channels)
{
    ImpulseSource source;
    source.name = "tone.wav";
    source.sampleRate = rate;
    source.channels = channels;
    source.frames = static_cast<int>(0.05 * rate);
    for (int i = 0; i < source.frames; ++i) {
        const double t = i / rate;
        const double window = 0.5 - 0.5 * std::cos(2 * M_PI * i / source.frames);
        source.samples.push_back(static_cast<float>(window * std::sin(2 * M_PI * 1000.0 * t)));
        if (channels == 2)
            source.samples.push_back(static_cast<float>(0.5 * window * std::cos(2 * M_PI * 1000.0 * t)));
    }
    return source;
}

std::vector<float> Channel(const ImpulseSource& source, int c)
{
    std::vector<float> out;
    for (int i = 0; i < source.frames; ++i)
        out.push_back(source.samples[static_cast<std::size_t>(i * source.channels + c)]);
    return out;
}

TEST_P(ImpulsePreparation, KeepsLengthToneAndChannelsAtTheSessionsRate)
{
    const Rates rates = GetParam();
    const ImpulseSource source = ToneImpulse(rates.file, 2);
    const std::vector<std::vector<float>> resampled = corvex::ResampleImpulse(source, rates.session);
    ASSERT_EQ(resampled.size(), 2u);
    const auto frames = static_cast<std::size_t>(std::ceil(source.frames * rates.session / rates.file));
    for (int c = 0; c < 2; ++c) {
        SCOPED_TRACE(c);
        const std::vector<float> in = Channel(source, c);
        const std::vector<float>& out = resampled[static_cast<std::size_t>(c)];
        ASSERT_EQ(out.size(), frames);
        if (rates.file == rates.session) {
            EXPECT_EQ(std::memcmp(out.data(), in.data(), in.size() * sizeof(float)), 0);
            continue;
        }
        EXPECT_NEAR(corvex::test::ToneLevelDb(out, 1000.0, rates.session),
                    corvex::test::ToneLevelDb(in, 1000.0, rates.file), 0.01);
        // The window's peak stays where it was in time.
        std::size_t peak = 0;
        for (std::size_t i = 0; i < out.size(); ++i)
            if (std::fabs(out[i]) > std::fabs(out[peak]))
                peak = i;
        EXPECT_NEAR(static_cast<double>(peak) / rates.session, 0.025, 0.25 / 1000.0 + 1.0 / rates.session);
    }

    for (const int channels : {1, 2}) {
        const auto impulse = corvex::PrepareImpulse(ToneImpulse(rates.file, channels), rates.session);
        ASSERT_TRUE(impulse);
        EXPECT_EQ(impulse->Channels(), channels);
        EXPECT_EQ(impulse->Frames(), static_cast<int>(frames));
        EXPECT_EQ(impulse->SampleRate(), rates.session);
    }
}

TEST(ImpulsePreparationRefusal, GivesNothingForNoSamplesOrNoRate)
{
    ImpulseSource empty = ToneImpulse(48000.0, 2);
    empty.frames = 0;
    empty.samples.clear();
    EXPECT_FALSE(corvex::PrepareImpulse(empty, 48000.0));
    EXPECT_FALSE(corvex::PrepareImpulse(ToneImpulse(48000.0, 1), 0.0));
    EXPECT_FALSE(corvex::PrepareImpulse(ToneImpulse(48000.0, 1), std::nan("")));
}

constexpr Rates kRateChanges[] = {{48000.0, 48000.0}, {44100.0, 48000.0}, {96000.0, 44100.0}, {8000.0, 192000.0},
                                  {384000.0, 8000.0}};
INSTANTIATE_TEST_SUITE_P(RateChanges, ImpulsePreparation, ::testing::ValuesIn(kRateChanges), [](const auto& p) {
    return "From" + std::to_string(static_cast<int>(p.param.file)) + "To" + std::to_string(static_cast<int>(p.param.session));
});

// Every rate change of a decaying stereo noise, channel after channel: what a Windows build must
// reproduce bit for bit, since the state carries the file's samples and each system resamples.
// The input is made without the maths library, whose last bits differ between systems.
std::vector<std::vector<float>> AllResampled()
{
    std::vector<std::vector<float>> all;
    for (const Rates& rates : kRateChanges) {
        ImpulseSource source;
        source.sampleRate = rates.file;
        source.channels = 2;
        source.frames = static_cast<int>(rates.file / 20);
        source.samples = corvex::test::Noise(2 * source.frames, 3);
        float decay = 1.0f;
        for (float& sample : source.samples) {
            sample *= decay;
            decay *= 0.9995f;
        }
        for (std::vector<float>& channel : corvex::ResampleImpulse(source, rates.session))
            all.push_back(std::move(channel));
    }
    return all;
}

constexpr test::FileMagic kMagic = {'C', 'V', 'X', 'R', 'S', 'M', 'P', '1'};

#if defined(CORVEX_RESAMPLED_IMPULSE_WRITE)

TEST(ImpulsePreparationAcrossSystems, WritesTheResampledImpulsesForOtherSystems)
{
    ASSERT_TRUE(test::WriteRecords(CORVEX_RESAMPLED_IMPULSE_WRITE, kMagic, AllResampled()));
}

#endif

#if defined(CORVEX_RESAMPLED_IMPULSE_REFERENCE)

TEST(ImpulsePreparationAcrossSystems, EqualsTheLinuxResamplingBitForBit)
{
    const std::vector<std::vector<float>> all = AllResampled();
    std::vector<std::vector<float>> reference;
    ASSERT_TRUE(test::ReadRecords(CORVEX_RESAMPLED_IMPULSE_REFERENCE, kMagic, all.size(), reference));
    for (std::size_t i = 0; i < all.size(); ++i) {
        ASSERT_EQ(all[i].size(), reference[i].size());
        EXPECT_EQ(std::memcmp(all[i].data(), reference[i].data(), all[i].size() * sizeof(float)), 0);
    }
}

#endif

} // namespace
