// What the processor core does that its output cannot show: how the graph's scratch buffers
// follow the host's block size, and that silent input stops the chain exactly once the tail the
// host is told has passed, with a user cabinet IR's length on top; what the tuner is given.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ProcessorCore.h"
#include "cabinet/CabinetImpulse.h"

namespace {

using corvex::CProcessorCore;

struct Buses {
    std::vector<float> inL, inR, outL, outR;
    explicit Buses(int n) : inL(n, 0.0f), inR(n, 0.0f), outL(n), outR(n) {}

    bool Run(CProcessorCore& core, int n, std::uint64_t inSilence)
    {
        const float* inputs[] = {inL.data(), inR.data()};
        float* outputs[] = {outL.data(), outR.data()};
        std::uint64_t outSilence = 0;
        return core.Run(inputs, 2, inSilence, outputs, 2, n, outSilence);
    }
};

TEST(ProcessorCore, ScratchFollowsTheHostsLargestBlock)
{
    CProcessorCore core;
    EXPECT_EQ(core.ScratchSamples(), CProcessorCore::kInitialBlockSize);
    Buses buses(40000);
    for (std::size_t i = 0; i < buses.inL.size(); ++i)
        buses.inL[i] = buses.inR[i] = (i % 100) * 0.001f;

    ASSERT_TRUE(core.Prepare(44100.0, 4096));
    core.Activate();
    EXPECT_EQ(core.ScratchSamples(), 4096);
    ASSERT_TRUE(buses.Run(core, 4096, 0));
    EXPECT_EQ(core.GraphRuns(), 1) << "a block the host announced runs whole";

    ASSERT_TRUE(core.Prepare(48000.0, 100000));
    EXPECT_EQ(core.ScratchSamples(), CProcessorCore::kMaxScratchSamples);
    ASSERT_TRUE(buses.Run(core, 40000, 0));
    EXPECT_EQ(core.GraphRuns(), 1 + 3) << "longer than the largest scratch: slices of 16384";

    // A smaller announcement keeps the buffers already had.
    ASSERT_TRUE(core.Prepare(44100.0, 256));
    EXPECT_EQ(core.ScratchSamples(), CProcessorCore::kMaxScratchSamples);
}

struct TunerCase {
    const char* name;
    bool open;
    float selection;        // "Input Selection": 1 the left input, 0 the right
    std::uint64_t silence;  // inputs the host flags silent
    float expected;         // every sample the ring holds; none at all when closed
};

class ProcessorCoreTuner : public ::testing::TestWithParam<TunerCase> {};

// Open, the tuner gets the selected input (zeros for one flagged silent); closed, nothing.
TEST_P(ProcessorCoreTuner, CopiesTheSelectedInputOnlyWhileOpen)
{
    const TunerCase& c = GetParam();
    CProcessorCore core;
    ASSERT_TRUE(core.Prepare(48000.0, 512));
    core.Activate();
    core.SetParam(corvex::kInputSelection, c.selection);
    core.SetTuner(c.open, false);
    Buses buses(512);
    std::fill(buses.inL.begin(), buses.inL.end(), 0.25f);
    std::fill(buses.inR.begin(), buses.inR.end(), -0.5f);
    ASSERT_TRUE(buses.Run(core, 512, c.silence));
    std::vector<float> copied(1024, 1.0f);
    const int count = core.TunerRing().Read(copied.data(), int(copied.size()));
    ASSERT_EQ(count, c.open ? 512 : 0);
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(copied[i], c.expected) << i;
}

INSTANTIATE_TEST_SUITE_P(Cases, ProcessorCoreTuner,
                         ::testing::Values(TunerCase{"Closed", false, 1.0f, 0, 0.0f},
                                           TunerCase{"Left", true, 1.0f, 0, 0.25f},
                                           TunerCase{"Right", true, 0.0f, 0, -0.5f},
                                           TunerCase{"RightSilent", true, 0.0f, 2, 0.0f}),
                         [](const ::testing::TestParamInfo<TunerCase>& tested) { return tested.param.name; });

struct TailCase {
    double bpm;
    int iImpulseFrames; // 0: the built-in cabinet
};

class ProcessorCoreTail : public ::testing::TestWithParam<TailCase> {};

TEST_P(ProcessorCoreTail, SilentInputStopsTheChainOnceTheTailHasPassed)
{
    constexpr int kBlock = 1024;
    const TailCase c = GetParam();
    CProcessorCore core;
    ASSERT_TRUE(core.Prepare(44100.0, kBlock));
    core.Activate();
    core.SetTempo(c.bpm);
    if (c.iImpulseFrames > 0) {
        // A decaying response that is still audible at its last tap.
        std::vector<float> afImpulse(static_cast<std::size_t>(c.iImpulseFrames));
        for (std::size_t i = 0; i < afImpulse.size(); ++i)
            afImpulse[i] = (i % 2 ? 0.5f : -0.5f) / (1.0f + static_cast<float>(i) * 1e-4f);
        auto pImpulse = corvex::CCabinetImpulse::Create(afImpulse.data(), nullptr, c.iImpulseFrames, 44100.0);
        ASSERT_TRUE(pImpulse);
        // The core owns what it holds from here on.
        ASSERT_EQ(core.ExchangeImpulse(pImpulse.release()), nullptr);
    }
    Buses buses(kBlock);
    for (int i = 0; i < kBlock; ++i)
        buses.inL[i] = buses.inR[i] = (i % 50) * 0.01f - 0.25f;
    ASSERT_TRUE(buses.Run(core, kBlock, 0));
    std::fill(buses.inL.begin(), buses.inL.end(), 0.0f);
    std::fill(buses.inR.begin(), buses.inR.end(), 0.0f);

    const std::int64_t tail = CProcessorCore::TailSamples(44100.0, static_cast<float>(c.bpm));
    EXPECT_EQ(tail, c.bpm == 120.0 ? 540225 : 407925);
    // Blocks that start inside the tail.
    const std::int64_t ringing = (tail + c.iImpulseFrames + kBlock - 1) / kBlock;
    const std::int64_t before = core.GraphRuns();
    for (std::int64_t b = 0; b < ringing + 50; ++b)
        ASSERT_TRUE(buses.Run(core, kBlock, 3));
    EXPECT_EQ(core.GraphRuns() - before, ringing);

    // Signal again runs the chain at once, and restarts the count.
    buses.inL[0] = 0.5f;
    ASSERT_TRUE(buses.Run(core, kBlock, 0));
    EXPECT_EQ(core.GraphRuns() - before, ringing + 1);
    buses.inL[0] = 0.0f;
    ASSERT_TRUE(buses.Run(core, kBlock, 3));
    EXPECT_EQ(core.GraphRuns() - before, ringing + 2);
}

INSTANTIATE_TEST_SUITE_P(TempoAndCabinet, ProcessorCoreTail,
                         ::testing::Values(TailCase{120.0, 0}, TailCase{240.0, 0}, TailCase{240.0, 88200}));

// A host's stereo bus with signal takes a shorter path than other layouts; whatever the layout,
// the left and right outputs carry the same bits and silence flags.
struct LayoutCase {
    int inChannels;
    int outChannels;
    std::uint64_t inSilence; // with the flagged inputs' samples at zero
};

class ProcessorCoreLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ProcessorCoreLayout, PlaysTheStereoBussBits)
{
    constexpr int kBlock = 32;
    const LayoutCase c = GetParam();
    CProcessorCore stereo, other;
    for (CProcessorCore* core : {&stereo, &other}) {
        ASSERT_TRUE(core->Prepare(44100.0, kBlock));
        core->Activate();
    }
    std::vector<std::vector<float>> in(4, std::vector<float>(kBlock)), outStereo(2, std::vector<float>(kBlock)),
        out(4, std::vector<float>(kBlock, 1.0f));
    const float* inputs[] = {in[0].data(), in[1].data(), in[2].data(), in[3].data()};
    float* outputsStereo[] = {outStereo[0].data(), outStereo[1].data()};
    float* outputs[] = {out[0].data(), out[1].data(), out[2].data(), out[3].data()};
    for (int b = 0; b < 40; ++b) {
        for (int i = 0; i < kBlock; ++i)
            for (int ch = 0; ch < 2; ++ch)
                in[ch][i] = (c.inSilence >> ch & 1u) || b >= 30 ? 0.0f : 0.3f * std::sin(0.01f * (b * kBlock + i) * (ch + 1));
        std::uint64_t silenceStereo = 0, silence = 0;
        ASSERT_TRUE(stereo.Run(inputs, 2, 0, outputsStereo, 2, kBlock, silenceStereo));
        ASSERT_TRUE(other.Run(inputs, c.inChannels, c.inSilence, outputs, c.outChannels, kBlock, silence));
        for (int ch = 0; ch < 2; ++ch)
            ASSERT_EQ(0, std::memcmp(out[ch].data(), outStereo[ch].data(), sizeof(float) * kBlock)) << "block " << b;
        EXPECT_EQ(silence & 3u, silenceStereo) << "block " << b;
    }
}

INSTANTIATE_TEST_SUITE_P(Buses, ProcessorCoreLayout,
                         ::testing::Values(LayoutCase{2, 4, 0}, LayoutCase{4, 2, 0}, LayoutCase{2, 2, 2},
                                           LayoutCase{2, 2, 1}));

} // namespace
