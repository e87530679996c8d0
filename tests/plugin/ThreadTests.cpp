// The audio thread processes while the control thread restores states and reads them back.

#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>

#include "PluginTestSupport.h"
#include "public.sdk/source/common/memorystream.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

class Threads : public test::PluginTest {};

TEST_F(Threads, ProcessingSurvivesConcurrentRestores)
{
    constexpr int32 kBlock = 256;
    constexpr int kBlocks = 1500;
    // The audio thread plays on until the control thread has restored this often (or the time
    // limit passes), however the two threads are scheduled.
    constexpr int kRestores = 10;
    constexpr std::chrono::seconds kLimit{60};
    Start(44100.0, kBlock);

    std::atomic<bool> done{false};
    std::atomic<int> badOutput{0};
    std::atomic<int> failedBlocks{0};
    std::atomic<int> restores{0};
    std::thread audio([&] {
        corvex::hosting::ProcessBlock block(2, 2, kBlock);
        std::minstd_rand random(7);
        const auto start = std::chrono::steady_clock::now();
        for (int b = 0; b < kBlocks || (restores < kRestores && std::chrono::steady_clock::now() - start < kLimit);
             ++b) {
            test::FillSine(block.In(0), kBlock, 196.0, 44100.0, 0.6, int64(b) * kBlock);
            test::FillSine(block.In(1), kBlock, 293.0, 44100.0, 0.2, int64(b) * kBlock);
            block.inputChanges.Clear();
            block.inputChanges.Add(1 + random() % 19, (random() % 1000) / 999.0);
            block.SetTempo(60.0 + random() % 120);
            if (plugin->Processor()->process(block.Prepare(kBlock)) != kResultOk)
                ++failedBlocks;
            if (!test::AllFinite(block.Out(0), kBlock) || !test::AllFinite(block.Out(1), kBlock))
                ++badOutput;
        }
        done = true;
    });

    std::minstd_rand random(11);
    int badStates = 0;
    while (!done) {
        std::vector<float> values(20);
        for (float& v : values)
            v = (random() % 1000) / 999.0f;
        values[19] = 0.0f;
        test::ScriptedStream in(test::StateBytes(values));
        EXPECT_EQ(plugin->Component()->setState(&in), kResultOk);
        plugin->Controller()->setParamNormalized(1 + random() % 19, (random() % 100) / 99.0);
        (void)plugin->Processor()->getTailSamples();
        test::ScriptedStream out;
        EXPECT_EQ(plugin->Component()->getState(&out), kResultOk);
        const std::vector<float> state = test::StateFloats(out.data);
        if (state.size() != 20)
            ++badStates;
        for (size_t i = 1; i < state.size(); ++i)
            if (!(state[i] >= 0.0f && state[i] <= 1.0f))
                ++badStates;
        ++restores;
    }
    audio.join();
    EXPECT_EQ(failedBlocks.load(), 0);
    EXPECT_EQ(badOutput.load(), 0);
    EXPECT_EQ(badStates, 0);
    EXPECT_GE(restores.load(), kRestores);
}

} // namespace
