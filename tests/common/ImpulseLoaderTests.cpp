// The loader between files or states and the audio thread: while IRs load and unload the audio
// thread neither allocates, frees nor locks, the output takes the IR, the built-in cabinet comes
// back bit for bit, and a rate change prepares the IR anew.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AudioCalls.h"
#include "EngineTestSupport.h"
#include "ImpulseLoader.h"
#include "ImpulseTestFiles.h"

namespace {

using corvex::CImpulseLoader;
using corvex::CProcessorCore;

constexpr int kBlock = 256;
// Time enough for the worker to prepare a second of IR however busy the machine is.
constexpr int kWorkerLimitMs = 60000;

// A core and its buses, fed a steady noise.
struct Player {
    CProcessorCore core;
    std::vector<float> inL, inR, outL, outR;
    std::size_t position = 0;

    explicit Player(double rate) : inL(kBlock), inR(kBlock), outL(kBlock), outR(kBlock)
    {
        EXPECT_TRUE(core.Prepare(rate, kBlock));
        core.Activate();
    }
    // One block as the audio thread runs it, the loader serviced first.
    void Block(CImpulseLoader* loader)
    {
        static const std::vector<float> signal = corvex::test::Noise(48000, 9, 0.3f);
        for (int i = 0; i < kBlock; ++i, ++position) {
            inL[static_cast<std::size_t>(i)] = signal[position % signal.size()];
            inR[static_cast<std::size_t>(i)] = signal[(position + 7) % signal.size()];
        }
        const float* inputs[] = {inL.data(), inR.data()};
        float* outputs[] = {outL.data(), outR.data()};
        std::uint64_t outSilence = 0;
        const test::AudioPeriod period;
        if (loader)
            loader->Service(core);
        core.Run(inputs, 2, 0, outputs, 2, kBlock, outSilence);
    }
};

bool SameOutput(const Player& a, const Player& b)
{
    return std::memcmp(a.outL.data(), b.outL.data(), kBlock * sizeof(float)) == 0 &&
           std::memcmp(a.outR.data(), b.outR.data(), kBlock * sizeof(float)) == 0;
}

// Waits, playing nothing, until the loader (and otherLoader) has handed its work over, so that
// the next block installs it; then plays both `more` blocks, player serviced by loader and other
// by otherLoader. The equalisers' memories outlive every restart, so outputs compare bit for bit
// only when the IR played over the same blocks in every run: the wait must not be counted in
// blocks played, which a busy machine stretches.
void WaitThenPlay(CImpulseLoader& loader, Player& player, Player& other, int more,
                  CImpulseLoader* otherLoader = nullptr)
{
    ASSERT_TRUE(loader.WaitIdle(kWorkerLimitMs)) << "the worker took over " << kWorkerLimitMs << " ms";
    if (otherLoader) {
        ASSERT_TRUE(otherLoader->WaitIdle(kWorkerLimitMs)) << "the worker took over " << kWorkerLimitMs << " ms";
    }
    for (int b = 0; b < more; ++b) {
        player.Block(&loader);
        other.Block(otherLoader);
    }
}

// A quarter second of decaying stereo noise at 44.1 kHz, the channels different.
std::string WriteCabinet(const corvex::test::ScratchFolder& folder)
{
    std::vector<float> samples = corvex::test::Noise(2 * 11025, 4, 0.8f);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] *= std::exp(-static_cast<float>(i) / 4000.0f);
    const std::string path = folder.File("cab.wav");
    corvex::test::WriteBytes(path, corvex::test::Wave(3, 2, 44100, samples));
    return path;
}

TEST(ImpulseLoaderThreads, LoadsAndClearsWithTheAudioThreadOnlySwappingPointers)
{
    const corvex::test::ScratchFolder folder;
    const int allocationsBefore = test::AudioAllocations(), locksBefore = test::AudioLocks();
    CImpulseLoader loader;
    loader.SetSampleRate(48000.0);
    Player withIr(48000.0), builtIn(48000.0);
    for (int b = 0; b < 4; ++b) {
        withIr.Block(&loader);
        builtIn.Block(nullptr);
        ASSERT_TRUE(SameOutput(withIr, builtIn));
    }

    std::string error;
    EXPECT_FALSE(loader.LoadFile(folder.File("missing.wav"), error));
    EXPECT_FALSE(loader.Current());
    ASSERT_TRUE(loader.LoadFile(WriteCabinet(folder), error)) << error;
    ASSERT_TRUE(loader.Current());
    EXPECT_EQ(loader.Current()->name, "cab.wav");
    // Requests faster than the worker: the ones overtaken are dropped and freed.
    for (int i = 0; i < 3; ++i)
        loader.Load(loader.Current());
    WaitThenPlay(loader, withIr, builtIn, 20);
    double difference = 0.0, level = 0.0;
    for (int i = 0; i < kBlock; ++i) {
        difference += std::pow(withIr.outL[static_cast<std::size_t>(i)] - builtIn.outL[static_cast<std::size_t>(i)], 2);
        level += std::pow(builtIn.outL[static_cast<std::size_t>(i)], 2);
    }
    EXPECT_GT(difference, 0.1 * level) << "the IR plays";

    loader.Clear();
    EXPECT_FALSE(loader.Current());
    // Past the crossfade and the stereo hold after it; then a restart, since the echoes and the
    // reverb still ring with what the IR played.
    WaitThenPlay(loader, withIr, builtIn, 100);
    withIr.core.Activate();
    builtIn.core.Activate();
    for (int b = 0; b < 20; ++b) {
        withIr.Block(&loader);
        builtIn.Block(nullptr);
        ASSERT_TRUE(SameOutput(withIr, builtIn)) << "block " << b;
    }
    EXPECT_EQ(test::AudioAllocations(), allocationsBefore);
    EXPECT_EQ(test::AudioLocks(), locksBefore);
}

TEST(ImpulseLoaderThreads, PreparesTheIrAnewAtEveryRate)
{
    // Two players in step through the same rates: one has the IR from the start and follows the
    // rate change, the other takes it at the new rate.
    const corvex::test::ScratchFolder folder;
    CImpulseLoader moved, direct;
    Player following(48000.0), taking(48000.0);
    moved.SetSampleRate(48000.0);
    direct.SetSampleRate(48000.0);
    std::string error;
    ASSERT_TRUE(moved.LoadFile(WriteCabinet(folder), error)) << error;
    WaitThenPlay(moved, following, taking, 10);

    // The host changes the rate while nothing plays.
    for (Player* player : {&following, &taking})
        ASSERT_TRUE(player->core.Prepare(44100.0, kBlock));
    moved.SetSampleRate(44100.0);
    direct.SetSampleRate(44100.0);
    direct.Load(moved.Current());
    // Past both crossfades.
    WaitThenPlay(moved, following, taking, 100, &direct);
    // From a clean start, the same impulse: the two differ in their last bits at most (an impulse
    // left at 48 kHz would be 9 % too long, and far off).
    following.core.Activate();
    taking.core.Activate();
    double difference = 0.0, level = 0.0;
    for (int b = 0; b < 20; ++b) {
        following.Block(&moved);
        taking.Block(&direct);
        for (int i = 0; i < kBlock; ++i) {
            difference += std::pow(following.outL[static_cast<std::size_t>(i)] - taking.outL[static_cast<std::size_t>(i)], 2);
            level += std::pow(taking.outL[static_cast<std::size_t>(i)], 2);
        }
    }
    EXPECT_LT(difference, 1e-12 * level);
}

} // namespace
