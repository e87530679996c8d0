#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "EngineTestSupport.h"
#include "distortion/MyDisto.h"
#include "distortion/ShaperTables.h"

namespace corvex {
namespace {

using Signal = std::vector<float>;

// A distortion block on its own host, processed in blocks of kBlock samples.
struct Rig {
    static constexpr int kBlock = 512;
    test::BlockHost host;
    CMyDisto disto;
    Signal outL, outR;

    explicit Rig(double dRate = 44100.0)
    {
        host.dSampleRate = dRate;
        host.Attach(disto);
    }

    void Run(const Signal& inL, const Signal& inR, int iBlock = kBlock)
    {
        ASSERT_EQ(inL.size(), inR.size());
        outL.assign(inL.size(), -1.0f);
        outR.assign(inR.size(), -1.0f);
        for (size_t pos = 0; pos < inL.size(); pos += static_cast<size_t>(iBlock)) {
            const int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(iBlock), inL.size() - pos));
            ASSERT_EQ(disto.Process(&inL[pos], &inR[pos], &outL[pos], &outR[pos], n), 1);
        }
    }
    void Run(const Signal& in, int iBlock = kBlock) { Run(in, in, iBlock); }
};

bool BitEqual(const Signal& a, const Signal& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), sizeof(float) * a.size()) == 0;
}

Signal Tail(const Signal& s, size_t n)
{
    return Signal(s.end() - static_cast<std::ptrdiff_t>(n), s.end());
}

Signal Constant(int n, float v)
{
    return Signal(static_cast<size_t>(n), v);
}

// The settled output for a drive far beyond full scale: the soft clip at 1, voice 2 silent
// (its high-pass blocks DC) and the table voices at the given last entries.
float SaturatedOutput(float fSign, float fA, float fB, float fC, float fD)
{
    const double mix = -0.411 * fSign * fD - (0.6364 * fSign + 0.47000003 * fSign * fA + 0.3334 * fSign * fB +
                                              0.31313998 * fSign * fC);
    return static_cast<float>(mix * std::pow(10.0, -10.528 / 20.0) * 0.7);
}

TEST(DistortionBypass, CopiesBothChannelsBitForBit)
{
    Rig rig;
    rig.host[kDistortionOnOff] = 0.0f;
    Signal inL = test::Noise(2000, 1, 3.0f);
    Signal inR = test::Sine(440.0, 44100.0, 2000, 0.5f);
    inL[10] = std::numeric_limits<float>::quiet_NaN();
    inL[11] = 1.0e-40f;
    inR[12] = -0.0f;
    inR[13] = std::numeric_limits<float>::infinity();
    rig.Run(inL, inR, 300);
    EXPECT_TRUE(BitEqual(rig.outL, inL));
    EXPECT_TRUE(BitEqual(rig.outR, inR));
}

TEST(DistortionBypass, NeitherRunsNorClearsTheFilters)
{
    const Signal before = test::Noise(1024, 2, 0.5f);
    const Signal after = test::Noise(1024, 3, 0.5f);

    Rig straight;
    straight.Run(before);
    straight.Run(after);

    Rig interrupted;
    interrupted.Run(before);
    interrupted.host[kDistortionOnOff] = 0.0f;
    interrupted.Run(test::Noise(700, 4, 1.0f));
    interrupted.host[kDistortionOnOff] = 1.0f;
    interrupted.Run(after);

    EXPECT_TRUE(BitEqual(interrupted.outL, straight.outL));
}

TEST(DistortionBypass, ResetKeepsTheFilterMemories)
{
    Rig kept, reset;
    const Signal noise = test::Noise(1024, 5, 0.5f);
    kept.Run(noise);
    reset.Run(noise);
    EXPECT_EQ(reset.disto.Reset(), 1);

    const Signal silence = Constant(64, 0.0f);
    kept.Run(silence);
    reset.Run(silence);
    EXPECT_TRUE(BitEqual(reset.outL, kept.outL));
    EXPECT_GT(test::PeakAbs(reset.outL), 1.0e-4f) << "the filters still ring after Reset";
}

TEST(DistortionOn, IsMonoFromTheLeftInput)
{
    const Signal inL = test::Sine(196.0, 44100.0, 4096, 0.3f);
    Rig a, b;
    a.Run(inL, test::Noise(4096, 6, 1.0f));
    b.Run(inL, Constant(4096, std::numeric_limits<float>::quiet_NaN()));
    EXPECT_TRUE(BitEqual(a.outL, a.outR));
    EXPECT_TRUE(BitEqual(a.outL, b.outL));
    EXPECT_TRUE(BitEqual(a.outR, b.outR));
    EXPECT_GT(test::PeakAbs(a.outL), 0.05f);
}

TEST(DistortionOn, ResultDoesNotDependOnBlockLength)
{
    const Signal in = test::Noise(3000, 7, 0.4f);
    Rig whole, sliced;
    whole.Run(in, 1024);
    sliced.Run(in, 37);
    EXPECT_TRUE(BitEqual(whole.outL, sliced.outL));
}

TEST(DistortionOn, SilenceGivesSilence)
{
    Rig fresh;
    fresh.Run(Constant(2048, 0.0f));
    EXPECT_EQ(test::PeakAbs(fresh.outL), 0.0f);

    // After a loud passage, once the pre-emphasis has rung out every voice input is exactly 0.
    Rig played;
    Signal in = test::Noise(4096, 8, 1.0f);
    in.resize(in.size() + 44100, 0.0f);
    played.Run(in);
    EXPECT_EQ(test::PeakAbs(Tail(played.outL, 4096)), 0.0f);
    EXPECT_EQ(test::PeakAbs(Tail(played.outR, 4096)), 0.0f);
}

TEST(DistortionOn, SteadyDriveGivesAnInvertedAsymmetricOutput)
{
    Rig up, down;
    up.Run(Constant(44100, 0.25f));
    down.Run(Constant(44100, -0.25f));
    const float yUp = up.outL.back(), yDown = down.outL.back();
    EXPECT_LT(yUp, -0.05f);
    EXPECT_GT(yDown, 0.05f);
    // Tables A and D have different halves.
    EXPECT_GT(std::fabs(yUp + yDown), 1.0e-3f);
    // Settled: a steady input gives a steady output.
    EXPECT_NEAR(up.outL[up.outL.size() - 1000], yUp, 1.0e-6f);
}

TEST(DistortionOn, DriveBeyondFullScaleReachesTheLastTableEntries)
{
    // +5 dB of drive on a DC of 0.5 (the peaks pass DC unchanged): |d| ≈ 3.6.
    Rig up, down;
    up.host[kDistortionLevel] = 1.0f;
    down.host[kDistortionLevel] = 1.0f;
    up.Run(Constant(44100, 0.5f));
    down.Run(Constant(44100, -0.5f));
    EXPECT_NEAR(up.outL.back(), SaturatedOutput(1.0f, 0.720f, 0.906f, 0.474f, 0.657f), 1.0e-5f);
    EXPECT_NEAR(down.outL.back(), SaturatedOutput(-1.0f, 0.898f, 0.906f, 0.474f, 0.733f), 1.0e-5f);
}

TEST(DistortionDrive, MapsTheLevelToFortyFiveDecibels)
{
    EXPECT_NEAR(20.0 * std::log10(CMyDisto::DriveGain(0.55f)), -15.25, 1.0e-4);
    EXPECT_NEAR(CMyDisto::DriveGain(0.55f), 0.17278f, 1.0e-5f);
    EXPECT_NEAR(20.0 * std::log10(CMyDisto::DriveGain(0.0f)), -40.0, 1.0e-4);
    EXPECT_NEAR(20.0 * std::log10(CMyDisto::DriveGain(1.0f)), 5.0, 1.0e-4);
}

TEST(DistortionDrive, TradesAgainstInputLevel)
{
    // Full drive is 20.25 dB above the default: the same signal 20.25 dB quieter sounds the same.
    const Signal loud = test::Sine(330.0, 44100.0, 8192, 0.2f);
    Signal quiet = loud;
    for (float& v : quiet)
        v *= static_cast<float>(std::pow(10.0, -20.25 / 20.0));

    Rig atDefault, atFull, atOther;
    atDefault.Run(loud);
    atFull.host[kDistortionLevel] = 1.0f;
    atFull.Run(quiet);
    atOther.host[kDistortionLevel] = 0.9f;
    atOther.Run(quiet);

    float fSame = 0.0f, fOther = 0.0f;
    for (size_t i = 0; i < loud.size(); ++i) {
        fSame = std::max(fSame, std::fabs(atFull.outL[i] - atDefault.outL[i]));
        fOther = std::max(fOther, std::fabs(atOther.outL[i] - atDefault.outL[i]));
    }
    EXPECT_LT(fSame, 1.0e-4f);
    EXPECT_GT(fOther, 1.0e-2f);
}

TEST(DistortionSampleRate, ChangeRetunesWithoutClearingMemories)
{
    const Signal first = test::Noise(4096, 9, 0.5f);
    const Signal second = test::Noise(8192, 10, 0.5f);

    Rig changed(44100.0);
    changed.Run(first);
    changed.host.dSampleRate = 96000.0;
    changed.Run(second, 8192);

    Rig fresh(96000.0);
    fresh.Run(second, 8192);
    Rig unchanged(44100.0);
    unchanged.Run(first);
    unchanged.Run(second, 8192);

    // The start still carries the ringing of the first block...
    float fStart = 0.0f;
    for (size_t i = 0; i < 16; ++i)
        fStart = std::max(fStart, std::fabs(changed.outL[i] - fresh.outL[i]));
    EXPECT_GT(fStart, 1.0e-4f);
    // ...and once that has died away the block sounds as one tuned for 96 kHz from the start.
    const Signal tailChanged = Tail(changed.outL, 2048), tailFresh = Tail(fresh.outL, 2048);
    const Signal tailUnchanged = Tail(unchanged.outL, 2048);
    float fToFresh = 0.0f, fToUnchanged = 0.0f;
    for (size_t i = 0; i < tailChanged.size(); ++i) {
        fToFresh = std::max(fToFresh, std::fabs(tailChanged[i] - tailFresh[i]));
        fToUnchanged = std::max(fToUnchanged, std::fabs(tailChanged[i] - tailUnchanged[i]));
    }
    EXPECT_LT(fToFresh, 1.0e-5f);
    EXPECT_GT(fToUnchanged, 1.0e-2f);
}

TEST(DistortionSampleRate, StaysFiniteAndBoundedAtUnusualRates)
{
    for (double dRate : {8000.0, 16000.0, 22050.0, 1234.5678, 1.23e6}) {
        for (float fDrive : {0.55f, 1.0f}) {
            Rig rig(dRate);
            rig.host[kDistortionLevel] = fDrive;
            Signal in = test::Noise(20000, 11, 1.0f);
            const Signal tone = test::Sine(0.45 * dRate, dRate, 20000, 1.0f);
            in.insert(in.end(), tone.begin(), tone.end());
            rig.Run(in);
            EXPECT_TRUE(test::AllFinite(rig.outL)) << dRate;
            EXPECT_LT(test::PeakAbs(rig.outL), 1.0f) << dRate << " Hz, drive " << fDrive;
        }
    }
}

TEST(DistortionFailure, ProcessWithoutParameterTableIsReported)
{
    test::CheckRecorder checks;
    CMyDisto disto;
    double dRate = 44100.0;
    disto.SetSampleRate(&dRate);
    const Signal in = Constant(16, 0.5f);
    Signal outL(16, 7.0f), outR(16, 7.0f);
    EXPECT_EQ(disto.Process(in.data(), in.data(), outL.data(), outR.data(), 16), 0);
    EXPECT_TRUE(checks.Saw("m_afParams"));
}

} // namespace
} // namespace corvex
