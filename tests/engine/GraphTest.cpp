#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "TestEngine.h"
#include "graph/ProcessAudio.h"

namespace corvex {
namespace {

using Graph = CProcessAudio;

// Wraps a real block, records each call in a shared log and can be told to fail.
class SpyBlock final : public CMyEffect {
public:
    SpyBlock(std::unique_ptr<CMyEffect> pInner, std::string name, std::vector<std::string>& log)
        : m_pInner(std::move(pInner)), m_name(std::move(name)), m_log(log) {}

    bool bFail = false;

    int Reset() override { return m_pInner->Reset(); }
    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override
    {
        m_log.push_back(m_name);
        return bFail ? 0 : m_pInner->Process(inL, inR, outL, outR, n);
    }
    int ProcessLimiter(const float* inL, const float* inR, float* outL, float* outR, int n) override
    {
        m_log.push_back(m_name);
        return bFail ? 0 : m_pInner->ProcessLimiter(inL, inR, outL, outR, n);
    }

private:
    std::unique_ptr<CMyEffect> m_pInner;
    std::string m_name;
    std::vector<std::string>& m_log;
};

const char* const kBlockNames[Graph::kBlockCount] = {
    "source selector", "input gain", "input meter", "gate/compressor", "pre-equaliser",
    "post-equaliser",  "distortion", "chorus",      "delay",           "reverb",
    "cabinet",         "output meters", "output limiter",
};

const std::vector<std::string> kChainOrder = {
    "source selector", "input gain", "input meter",    "gate/compressor", "pre-equaliser",
    "distortion",      "cabinet",    "post-equaliser", "chorus",          "delay",
    "reverb",          "output limiter", "output meters",
};

TEST(GraphSetup, SetParamPointerRefusesListMarkersAndReportsThem)
{
    test::CheckRecorder checks;
    Graph graph;
    float value = 0.0f;
    EXPECT_EQ(graph.SetParamPointer(0, &value), 0);
    EXPECT_EQ(graph.SetParamPointer(20, &value), 0);
    EXPECT_EQ(checks.Count(), 2);
    EXPECT_EQ(graph.SetParamPointer(19, &value), 1);

    float** afTable = nullptr;
    ASSERT_EQ(graph.GetParamTable(&afTable), 1);
    EXPECT_EQ(afTable[0], nullptr);
    EXPECT_EQ(afTable[20], nullptr);
    EXPECT_EQ(afTable[19], &value);
    EXPECT_EQ(graph.GetParamTable(nullptr), 0);
}

TEST(GraphSetup, SettersRefuseOutOfRangeValues)
{
    Graph graph;
    EXPECT_EQ(graph.SetBlockSize(0), 0);
    EXPECT_EQ(graph.SetBufferCount(1), 0);
    EXPECT_EQ(graph.SetParamCount(0), 0);
    EXPECT_EQ(graph.SetSampleRate(nullptr), 0);
    EXPECT_EQ(graph.SetTempo(nullptr), 1);
}

TEST(GraphSetup, InitRefusesMissingCountsAndRunsOnce)
{
    double dRate = 44100.0;
    {
        Graph graph; // no parameter count set
        graph.SetBlockSize(1024);
        graph.SetBufferCount(24);
        graph.SetSampleRate(&dRate);
        EXPECT_EQ(graph.Init(), 0);
    }
    {
        Graph graph; // buffer count refused, so Init fails after the table exists
        graph.SetBlockSize(1024);
        graph.SetBufferCount(1);
        graph.SetParamCount(21);
        graph.SetSampleRate(&dRate);
        EXPECT_EQ(graph.Init(), 0);
        float** afTable = nullptr;
        EXPECT_EQ(graph.GetParamTable(&afTable), 1);
    }
    {
        test::CheckRecorder checks;
        Graph graph;
        graph.SetBlockSize(1024);
        graph.SetBufferCount(24);
        graph.SetParamCount(21);
        graph.SetSampleRate(&dRate);
        EXPECT_EQ(graph.Init(), 1);
        EXPECT_EQ(graph.Init(), 0);
        EXPECT_EQ(checks.Count(), 1);
    }
}

// Installs spies around the real blocks of an engine.
class GraphChain : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int id = 0; id < Graph::kBlockCount; ++id) {
            const auto blockId = static_cast<Graph::BlockId>(id);
            auto pReal = engine.graph.ExchangeBlock(blockId, nullptr);
            auto pSpy = std::make_unique<SpyBlock>(std::move(pReal), kBlockNames[id], log);
            spies[id] = pSpy.get();
            engine.graph.ExchangeBlock(blockId, std::move(pSpy));
        }
    }

    bool RunBlock(int n = 256)
    {
        in = test::Sine(440.0, 44100.0, n, 0.5f);
        outL.assign(static_cast<size_t>(n), 0.0f);
        outR.assign(static_cast<size_t>(n), 0.0f);
        return engine.graph.Process(in.data(), in.data(), outL.data(), outR.data(), n) != 0;
    }

    test::TestEngine engine;
    std::vector<std::string> log;
    SpyBlock* spies[Graph::kBlockCount] = {};
    std::vector<float> in, outL, outR;
};

TEST_F(GraphChain, RunsThirteenStagesInChainOrder)
{
    ASSERT_TRUE(RunBlock());
    EXPECT_EQ(log, kChainOrder);
}

TEST_F(GraphChain, EverySwitchOffStillRunsEveryBlockAndUpdatesMeters)
{
    for (ParamID id : {kGateCompressorOnOff, kDistortionOnOff, kDelayOnOff, kModulationOnOff, kReverbOnOff})
        engine[id] = 0.0f;
    ASSERT_TRUE(RunBlock());
    EXPECT_EQ(log, kChainOrder);
    EXPECT_GT(engine[kOutputLeftVumeter], 0.0f);
    EXPECT_GT(engine[kOutputRightVumeter], 0.0f);
}

TEST_F(GraphChain, FailingStageStopsTheChain)
{
    spies[Graph::kDelay]->bFail = true;
    engine[kOutputLeftVumeter] = 0.25f;
    EXPECT_FALSE(RunBlock());
    const std::vector<std::string> expected(kChainOrder.begin(), kChainOrder.begin() + 10);
    EXPECT_EQ(log, expected);
    // The output meters did not run, so the meter keeps its value.
    EXPECT_EQ(engine[kOutputLeftVumeter], 0.25f);
}

TEST(GraphProcess, RefusesEmptyBuffersAndEmptyBlocks)
{
    test::TestEngine engine;
    std::vector<float> buffer(64, 0.0f);
    float* p = buffer.data();
    EXPECT_EQ(engine.graph.Process(p, p, p, p, 0), 0);
    EXPECT_EQ(engine.graph.Process(nullptr, p, p, p, 64), 0);
    EXPECT_EQ(engine.graph.Process(p, nullptr, p, p, 64), 0);
    EXPECT_EQ(engine.graph.Process(p, p, nullptr, p, 64), 0);
    EXPECT_EQ(engine.graph.Process(p, p, p, nullptr, 64), 0);
    EXPECT_EQ(engine.graph.Process(p, p, p, p, 64), 1);
}

// A chain missing any one block refuses to run, and runs again once the block is back.
TEST(GraphProcess, RefusesToRunWithABlockMissing)
{
    test::TestEngine engine;
    std::vector<float> buffer(64, 0.0f);
    float* p = buffer.data();
    for (int id = 0; id < Graph::kBlockCount; ++id) {
        const auto blockId = static_cast<Graph::BlockId>(id);
        test::CheckRecorder checks;
        auto pBlock = engine.graph.ExchangeBlock(blockId, nullptr);
        EXPECT_EQ(engine.graph.Process(p, p, p, p, 64), 0) << kBlockNames[id];
        EXPECT_EQ(checks.Count(), 1) << kBlockNames[id];
        engine.graph.ExchangeBlock(blockId, std::move(pBlock));
        EXPECT_EQ(engine.graph.Process(p, p, p, p, 64), 1) << kBlockNames[id];
    }
}

TEST(GraphProcess, InPlaceHostBuffersGiveTheSameOutput)
{
    test::TestEngine separate, inPlace;
    const auto input = test::Noise(4096, 7, 0.3f);
    std::vector<float> outL, outR;
    ASSERT_TRUE(separate.Run(input, input, outL, outR, 512));

    std::vector<float> left = input, right = input;
    for (size_t i = 0; i < input.size(); i += 512)
        ASSERT_EQ(inPlace.graph.Process(&left[i], &right[i], &left[i], &right[i], 512), 1);
    EXPECT_EQ(left, outL);
    EXPECT_EQ(right, outR);
}

TEST(GraphProcess, BlocksLongerThanTheBuffersRunInSlices)
{
    test::TestEngine sliced, reference;
    const auto input = test::Noise(3000, 11, 0.3f);
    std::vector<float> outL(3000), outR(3000);
    ASSERT_EQ(sliced.graph.Process(input.data(), input.data(), outL.data(), outR.data(), 3000), 1);
    EXPECT_TRUE(test::AllFinite(outL));

    // Audio matches a run in capacity-sized blocks; only per-block indicators may differ.
    std::vector<float> refL, refR;
    ASSERT_TRUE(reference.Run(input, input, refL, refR, CProcessAudio::kDefaultBlockSize));
    EXPECT_EQ(outL, refL);
    EXPECT_EQ(outR, refR);
}

TEST(GraphProcess, TwoIdenticalEnginesGiveIdenticalOutput)
{
    test::TestEngine a, b;
    const auto input = test::Noise(44100, 3, 0.4f);
    std::vector<float> aL, aR, bL, bR;
    ASSERT_TRUE(a.Run(input, input, aL, aR, 333));
    ASSERT_TRUE(b.Run(input, input, bL, bR, 333));
    EXPECT_EQ(aL, bL);
    EXPECT_EQ(aR, bR);
}

} // namespace
} // namespace corvex
