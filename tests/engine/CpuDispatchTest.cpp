#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "EngineTestSupport.h"
#include "TestEngine.h"
#include "base/CpuFeatures.h"
#include "filters/Biquad.h"
#include "filters/BiquadBank.h"

namespace corvex {
namespace {

// Restores the widest level when a test ends, whatever it set.
struct LevelRestorer {
    ~LevelRestorer() { cpu::SetActive(cpu::Supported()); }
};

std::vector<cpu::Level> LevelsToCompare()
{
    std::vector<cpu::Level> levels{cpu::Level::kBaseline};
    if (cpu::Supported() != cpu::Level::kBaseline)
        levels.push_back(cpu::Supported());
    return levels;
}

struct ChainOutput {
    std::vector<float> left, right;
};

// The whole chain with every block at work: the distorted and the clean cabinet voicing, the
// equalisers' banks, chorus, delay and reverb.
ChainOutput RunChain(bool bDistortion, int iBlock)
{
    test::TestEngine engine;
    engine[kDistortionOnOff] = bDistortion ? 1.0f : 0.0f;
    engine[kStereoEnhancerOnOff] = 1.0f;
    engine[kReverbLevel] = 0.9f;
    const auto in = test::Noise(44100, 5, 0.6f);
    ChainOutput out;
    EXPECT_TRUE(engine.Run(in, in, out.left, out.right, iBlock));
    return out;
}

TEST(CpuDispatch, ActiveLevelNeverExceedsWhatTheProcessorSupports)
{
    LevelRestorer restore;
    EXPECT_EQ(cpu::Active(), cpu::Supported()) << "the widest supported level by default";
    EXPECT_EQ(cpu::SetActive(cpu::Level::kBaseline), cpu::Level::kBaseline);
    EXPECT_EQ(cpu::Active(), cpu::Level::kBaseline);
    EXPECT_EQ(cpu::SetActive(cpu::Level::kAvx2), cpu::Supported());
    EXPECT_EQ(cpu::Active(), cpu::Supported());
#if !CORVEX_HAVE_AVX2_KERNELS
    EXPECT_EQ(cpu::Supported(), cpu::Level::kBaseline);
#endif
}

TEST(CpuDispatch, BankLanesMatchTheirSectionsAtEveryLevel)
{
    LevelRestorer restore;
    const auto input = test::Noise(2000, 33, 0.9f);
    for (cpu::Level level : LevelsToCompare()) {
        ASSERT_EQ(cpu::SetActive(level), level);
        Biquad aBanked[8], aSerial[8];
        for (int k = 0; k < 8; ++k) {
            const double dFrequency = 0.003 * (k + 1) * (k + 1);
            aBanked[k].SetFilter(Biquad::kPeak, dFrequency, 0.7, 2.5 * (k - 4));
            aSerial[k].SetFilter(Biquad::kPeak, dFrequency, 0.7, 2.5 * (k - 4));
        }
        BiquadBank bank;
        bank.Load(aBanked, 8);
        float afIn[BiquadBank::kLanes], afOut[BiquadBank::kLanes];
        for (int i = 0; i < 1000; ++i) {
            bank.ProcessSameInput(input[static_cast<size_t>(i)], afOut);
            for (int k = 0; k < 8; ++k)
                ASSERT_EQ(afOut[k], aSerial[k].ProcessSample(input[static_cast<size_t>(i)]))
                    << "level " << static_cast<int>(level) << ", lane " << k << ", sample " << i;
        }
        for (int i = 0; i < 125; ++i) {
            for (int k = 0; k < 8; ++k)
                afIn[k] = input[static_cast<size_t>(1000 + i * 8 + k)];
            bank.ProcessEachInput(afIn, afOut);
            for (int k = 0; k < 8; ++k)
                ASSERT_EQ(afOut[k], aSerial[k].ProcessSample(afIn[k]))
                    << "level " << static_cast<int>(level) << ", lane " << k << ", step " << i;
        }
    }
}

// Runs of every length up to the longest, on delays around the run length (reads ahead of the
// writes or not) and on lines a few runs long (runs and reads that wrap): each run gives, at
// every level, what ProcessSample gives sample by sample.
TEST(CpuDispatch, DelayLineRunsMatchSampleBySampleAtEveryLevel)
{
    LevelRestorer restore;
    const auto input = test::Noise(6000, 41, 0.8f);
    const double dLongRate = 1000.0; // a line of 3,000 entries
    const double dShortRate = 50.0;  // a line of 150 entries
    struct Setting {
        int iType;
        double dDelay; // seconds
        const double* pdRate;
    };
    const Setting aSettings[] = {
        {Biquad::kComb, 0.0373, &dLongRate},  {Biquad::kComb, 0.0655, &dLongRate},
        {Biquad::kAllPass, 1.2345, &dLongRate}, {Biquad::kAllPass, 0.0121, &dLongRate},
        {Biquad::kDelay, 0.5001, &dLongRate},  {Biquad::kComb, 1.3, &dShortRate},
        {Biquad::kAllPass, 2.71, &dShortRate}, {Biquad::kDelay, 1.95, &dShortRate},
    };
    for (cpu::Level level : LevelsToCompare()) {
        ASSERT_EQ(cpu::SetActive(level), level);
        for (const Setting& setting : aSettings) {
            Biquad run(setting.iType, 0.9, setting.dDelay), serial(setting.iType, 0.9, setting.dDelay);
            for (Biquad* section : {&run, &serial}) {
                section->SetSampleRate(setting.pdRate);
                section->Reset();
            }
            std::vector<float> out(input.size());
            size_t at = 0;
            for (int n = 1; at + static_cast<size_t>(n) <= input.size(); n = n % Biquad::kMaxRun + 1) {
                run.ProcessRun(input.data() + at, out.data() + at, n);
                at += static_cast<size_t>(n);
            }
            for (size_t i = 0; i < at; ++i)
                ASSERT_EQ(out[i], serial.ProcessSample(input[i]))
                    << "level " << static_cast<int>(level) << ", type " << setting.iType << ", delay "
                    << setting.dDelay << ", sample " << i;
        }
    }
}

// Sections of every delay type, with delays shorter and longer than the runs, summed in one
// call: at every level the bits of each section's own ProcessRun added in turn.
TEST(CpuDispatch, SummedRunsMatchRunsAddedInTurnAtEveryLevel)
{
    LevelRestorer restore;
    const auto input = test::Noise(4000, 43, 0.8f);
    const auto start = test::Noise(4000, 44, 0.3f);
    const double dRate = 1000.0;
    constexpr int kSections = 4;
    const int aiTypes[kSections] = {Biquad::kComb, Biquad::kAllPass, Biquad::kDelay, Biquad::kComb};
    const double adDelays[kSections] = {0.0373, 0.0121, 0.5001, 2.9};
    for (cpu::Level level : LevelsToCompare()) {
        ASSERT_EQ(cpu::SetActive(level), level);
        Biquad aSummed[kSections] = {{aiTypes[0], 0.9, adDelays[0]}, {aiTypes[1], 0.9, adDelays[1]},
                                     {aiTypes[2], 0.9, adDelays[2]}, {aiTypes[3], 0.9, adDelays[3]}};
        Biquad aSingle[kSections] = {{aiTypes[0], 0.9, adDelays[0]}, {aiTypes[1], 0.9, adDelays[1]},
                                     {aiTypes[2], 0.9, adDelays[2]}, {aiTypes[3], 0.9, adDelays[3]}};
        for (int s = 0; s < kSections; ++s)
            for (Biquad* section : {&aSummed[s], &aSingle[s]}) {
                section->SetSampleRate(&dRate);
                section->Reset();
            }
        std::vector<float> summed(start), single(start), run(Biquad::kMaxRun);
        size_t at = 0;
        for (int n = 1; at + static_cast<size_t>(n) <= input.size(); n = n % Biquad::kMaxRun + 1) {
            Biquad::ProcessRunsSummed(aSummed, kSections, input.data() + at, summed.data() + at, n);
            for (Biquad& section : aSingle) {
                section.ProcessRun(input.data() + at, run.data(), n);
                for (int k = 0; k < n; ++k)
                    single[at + static_cast<size_t>(k)] += run[static_cast<size_t>(k)];
            }
            at += static_cast<size_t>(n);
        }
        ASSERT_EQ(std::memcmp(summed.data(), single.data(), at * sizeof(float)), 0)
            << "level " << static_cast<int>(level);
    }
}

// Two rows whose sections pair up but for the last (another delay), on different inputs: at
// every level, summed or section by section, the bits of each row run on its own.
TEST(CpuDispatch, PairedRowsMatchEachRowRunOnItsOwnAtEveryLevel)
{
    LevelRestorer restore;
    const auto inputA = test::Noise(4000, 45, 0.8f);
    const auto inputB = test::Noise(4000, 46, 0.8f);
    const double dRate = 1000.0;
    constexpr int kSections = 4;
    const int aiTypes[kSections] = {Biquad::kComb, Biquad::kAllPass, Biquad::kDelay, Biquad::kComb};
    const double adDelaysA[kSections] = {0.0373, 0.0121, 0.5001, 0.2};
    const double adDelaysB[kSections] = {0.0373, 0.0121, 0.5001, 0.31};
    const double* pdRate = &dRate;
    struct Row {
        Biquad a[kSections];
        Row(const int* aiType, const double* adDelay, const double* pdRate)
            : a{{aiType[0], 0.9, adDelay[0]}, {aiType[1], 0.9, adDelay[1]}, {aiType[2], 0.9, adDelay[2]},
                {aiType[3], 0.9, adDelay[3]}}
        {
            for (Biquad& section : a) {
                section.SetSampleRate(pdRate);
                section.Reset();
            }
        }
    };
    for (cpu::Level level : LevelsToCompare()) {
        ASSERT_EQ(cpu::SetActive(level), level);
        Row pairedA(aiTypes, adDelaysA, pdRate), pairedB(aiTypes, adDelaysB, pdRate);
        Row singleA(aiTypes, adDelaysA, pdRate), singleB(aiTypes, adDelaysB, pdRate);
        Row pairA(aiTypes, adDelaysA, pdRate), pairB(aiTypes, adDelaysB, pdRate);
        Row ownA(aiTypes, adDelaysA, pdRate), ownB(aiTypes, adDelaysB, pdRate);
        float afPair[2][Biquad::kMaxRun], afOwn[2][Biquad::kMaxRun];
        std::vector<float> sumsPaired[2], sumsSingle[2];
        for (auto* sums : {&sumsPaired[0], &sumsPaired[1], &sumsSingle[0], &sumsSingle[1]})
            sums->assign(inputA.size(), 0.0f);
        size_t at = 0;
        for (int n = 1; at + static_cast<size_t>(n) <= inputA.size(); n = n % Biquad::kMaxRun + 1) {
            Biquad::ProcessRunsSummedPair(pairedA.a, pairedB.a, kSections, inputA.data() + at, inputB.data() + at,
                                          sumsPaired[0].data() + at, sumsPaired[1].data() + at, n);
            Biquad::ProcessRunsSummed(singleA.a, kSections, inputA.data() + at, sumsSingle[0].data() + at, n);
            Biquad::ProcessRunsSummed(singleB.a, kSections, inputB.data() + at, sumsSingle[1].data() + at, n);
            for (int k = 0; k < kSections; ++k) {
                Biquad::ProcessRunPair(pairA.a[k], pairB.a[k], inputA.data() + at, inputB.data() + at, afPair[0], afPair[1], n);
                ownA.a[k].ProcessRun(inputA.data() + at, afOwn[0], n);
                ownB.a[k].ProcessRun(inputB.data() + at, afOwn[1], n);
                for (int c = 0; c < 2; ++c)
                    ASSERT_EQ(std::memcmp(afPair[c], afOwn[c], sizeof(float) * static_cast<size_t>(n)), 0)
                        << "level " << static_cast<int>(level) << ", section " << k << ", row " << c << ", sample " << at;
            }
            at += static_cast<size_t>(n);
        }
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ(std::memcmp(sumsPaired[c].data(), sumsSingle[c].data(), at * sizeof(float)), 0)
                << "level " << static_cast<int>(level) << ", row " << c;
    }
}

// A reverb's two rows of sections at 16 kHz: lines of 48,000 entries, combs far longer than a
// run, all-pass B (27 samples) shorter than the longer runs.
struct ReverbRow {
    static constexpr int kCombs = 5;
    static constexpr int kAllPasses = 2;
    Biquad aCombs[kCombs]{{Biquad::kComb, 1.2, 0.0397},
                          {Biquad::kComb, 1.2, 0.0432},
                          {Biquad::kComb, 1.2, 0.0467},
                          {Biquad::kComb, 1.2, 0.0502},
                          {Biquad::kComb, 1.2, 0.0537}};
    Biquad aAllPasses[kAllPasses]{{Biquad::kAllPass, 0.1, 0.005}, {Biquad::kAllPass, 0.05, 0.0017}};

    explicit ReverbRow(const double* pdRate)
    {
        for (Biquad* aSections : {aCombs, aAllPasses})
            for (int s = 0; s < (aSections == aCombs ? kCombs : kAllPasses); ++s) {
                aSections[s].SetSampleRate(pdRate);
                aSections[s].Reset();
            }
    }
};

// ProcessReverbRunPair with one plan kept from run to run while settings change on both rows
// or one, a section runs alone, the rate moves under the sections and the lines are reset: at
// every level and on every run, the bits of the section-by-section calls it stands for, for
// the reverb's rows and for shorter ones.
TEST(CpuDispatch, ReverbRunPairMatchesItsSectionsAtEveryLevel)
{
    LevelRestorer restore;
    constexpr int kCombs = ReverbRow::kCombs, kAllPasses = ReverbRow::kAllPasses, kChangeEvery = 4000;
    const std::vector<float> aInput[2] = {test::Noise(60000, 47, 0.8f), test::Noise(60000, 48, 0.8f)};
    const auto change = [](int iChange, ReverbRow* aRows, double& dRate, const float* afIn) {
        float afAlone[5];
        switch (iChange % 7) {
        case 0: // a comb of both rows
            aRows[0].aCombs[2].SetDelayTime(0.0449 + 0.0001 * iChange);
            aRows[1].aCombs[2].SetDelayTime(0.0449 + 0.0001 * iChange);
            break;
        case 1: // gains of one row
            aRows[1].aCombs[3].SetDecayTime(0.9 + 0.01 * iChange);
            aRows[1].aAllPasses[0].SetDecayTime(0.3 + 0.01 * iChange);
            break;
        case 2: // a pair apart
            aRows[1].aAllPasses[1].SetDelayTime(0.0019);
            break;
        case 3: // and together again
            aRows[1].aAllPasses[1].SetDelayTime(0.0017);
            break;
        case 4:
            dRate += 7.0;
            break;
        case 5: // a position apart
            aRows[0].aCombs[1].ProcessRun(afIn, afAlone, 5);
            break;
        default: // every position back together
            for (ReverbRow* pRow : {&aRows[0], &aRows[1]})
                for (Biquad* aSections : {pRow->aCombs, pRow->aAllPasses})
                    for (int s = 0; s < (aSections == pRow->aCombs ? kCombs : kAllPasses); ++s)
                        aSections[s].Reset();
            break;
        }
    };
    const struct {
        int iCombs, iAllPasses;
    } aShapes[] = {{kCombs, kAllPasses}, {3, 1}};
    for (cpu::Level level : LevelsToCompare()) {
        for (const auto& shape : aShapes) {
            ASSERT_EQ(cpu::SetActive(level), level);
            double dRate = 16000.0;
            ReverbRow aPlanned[2] = {ReverbRow(&dRate), ReverbRow(&dRate)};
            ReverbRow aEach[2] = {ReverbRow(&dRate), ReverbRow(&dRate)};
            Biquad::CReverbPlan plan;
            float aaafGot[2][kAllPasses][Biquad::kMaxRun], aaafWant[2][kAllPasses][Biquad::kMaxRun];
            float aafSum[2][Biquad::kMaxRun];
            float* const aapfGot[2][kAllPasses] = {{aaafGot[0][0], aaafGot[0][1]}, {aaafGot[1][0], aaafGot[1][1]}};
            size_t at = 0;
            int iChanges = 0;
            for (int n = 1; at + static_cast<size_t>(n) <= aInput[0].size(); n = n % Biquad::kMaxRun + 1) {
                if (at >= static_cast<size_t>((iChanges + 1) * kChangeEvery)) {
                    change(iChanges, aPlanned, dRate, aInput[0].data() + at);
                    change(iChanges, aEach, dRate, aInput[0].data() + at);
                    ++iChanges;
                }
                const float* const afInA = aInput[0].data() + at;
                const float* const afInB = aInput[1].data() + at;
                const Biquad::CReverbRow rowA{aPlanned[0].aCombs, aPlanned[0].aAllPasses, afInA, aapfGot[0]};
                const Biquad::CReverbRow rowB{aPlanned[1].aCombs, aPlanned[1].aAllPasses, afInB, aapfGot[1]};
                Biquad::ProcessReverbRunPair(plan, rowA, rowB, shape.iCombs, shape.iAllPasses, n);
                std::memset(aafSum, 0, sizeof aafSum);
                Biquad::ProcessRunsSummedPair(aEach[0].aCombs, aEach[1].aCombs, shape.iCombs, afInA, afInB, aafSum[0],
                                              aafSum[1], n);
                for (int k = 0; k < shape.iAllPasses; ++k)
                    Biquad::ProcessRunPair(aEach[0].aAllPasses[k], aEach[1].aAllPasses[k], aafSum[0], aafSum[1],
                                           aaafWant[0][k], aaafWant[1][k], n);
                for (int c = 0; c < 2; ++c)
                    for (int k = 0; k < shape.iAllPasses; ++k)
                        ASSERT_EQ(std::memcmp(aaafGot[c][k], aaafWant[c][k], sizeof(float) * static_cast<size_t>(n)), 0)
                            << "level " << static_cast<int>(level) << ", " << shape.iCombs << " combs, row " << c
                            << ", all-pass " << k << ", sample " << at << ", changes " << iChanges;
                at += static_cast<size_t>(n);
            }
            EXPECT_GE(iChanges, 14);
        }
    }
}

TEST(CpuDispatch, WholeChainGivesTheSameBitsAtEveryLevel)
{
    LevelRestorer restore;
    if (cpu::Supported() == cpu::Level::kBaseline)
        GTEST_SKIP() << "this processor runs only the baseline kernels: nothing to compare";
    for (bool bDistortion : {true, false}) {
        ASSERT_EQ(cpu::SetActive(cpu::Level::kBaseline), cpu::Level::kBaseline);
        const ChainOutput baseline = RunChain(bDistortion, 300);
        ASSERT_EQ(cpu::SetActive(cpu::Supported()), cpu::Supported());
        const ChainOutput wide = RunChain(bDistortion, 300);
        ASSERT_EQ(baseline.left.size(), wide.left.size());
        EXPECT_EQ(std::memcmp(baseline.left.data(), wide.left.data(), wide.left.size() * sizeof(float)), 0)
            << "distortion " << bDistortion;
        EXPECT_EQ(std::memcmp(baseline.right.data(), wide.right.data(), wide.right.size() * sizeof(float)), 0)
            << "distortion " << bDistortion;
    }
}

} // namespace
} // namespace corvex
