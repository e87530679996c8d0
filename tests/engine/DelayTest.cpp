#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "EngineTestSupport.h"
#include "StereoRun.h"
#include "delay/MyDelay.h"

namespace corvex {
namespace {

using test::ProcessAll;
using test::Signal;
using test::Stereo;

struct DelayRig {
    test::BlockHost host;
    std::unique_ptr<CMyDelay> delay = std::make_unique<CMyDelay>();

    explicit DelayRig(float fLevel = 1.0f, bool bWithTempo = true)
    {
        host[kDelayLevel] = fLevel;
        host.Attach(*delay, bWithTempo);
    }
};

TEST(DelayEcho, ImpulseAlternatesSidesAtEighthNotes)
{
    DelayRig rig(1.0f);
    const int n = 33076 + 100;
    const Stereo out = ProcessAll(*rig.delay, test::Impulse(n), Signal(n, 0.0f));

    const struct {
        int at;
        float left, right;
    } taps[] = {{0, 1.0f, 0.0f}, {11025, 0.07f, 0.35f}, {22050, 0.0049f, 0.0245f}, {33075, 0.122843f, 0.026215f}};
    for (const auto& tap : taps) {
        EXPECT_NEAR(out.left[tap.at], tap.left, 1e-6) << "sample " << tap.at;
        EXPECT_NEAR(out.right[tap.at], tap.right, 1e-6) << "sample " << tap.at;
    }
    for (int i = 0; i < n; ++i) {
        if (i == 0 || i == 11025 || i == 22050 || i == 33075)
            continue;
        ASSERT_EQ(out.left[i], 0.0f) << "sample " << i;
        ASSERT_EQ(out.right[i], 0.0f) << "sample " << i;
    }
}

TEST(DelayEcho, FractionalEighthNoteInterpolatesAndTempoChangesAtOnce)
{
    DelayRig rig(1.0f);
    const Stereo first = ProcessAll(*rig.delay, test::Impulse(1000), Signal(1000, 0.0f));
    EXPECT_FLOAT_EQ(rig.delay->SamplesForDelay(), 11025.0f);

    // 240 BPM: an eighth note of 5512.5 samples, split evenly over two neighbouring samples.
    rig.host.fTempo = 240.0f;
    const Stereo out = ProcessAll(*rig.delay, Signal(6000, 0.0f), Signal(6000, 0.0f));
    EXPECT_FLOAT_EQ(rig.delay->SamplesForDelay(), 5512.5f);
    const int iFirst = 5512 - 1000;
    EXPECT_NEAR(out.left[iFirst], 0.035f, 1e-6);
    EXPECT_NEAR(out.left[iFirst + 1], 0.035f, 1e-6);
    EXPECT_NEAR(out.right[iFirst], 0.175f, 1e-6);
    EXPECT_NEAR(out.right[iFirst + 1], 0.175f, 1e-6);
    EXPECT_EQ(out.right[iFirst - 1], 0.0f);
    EXPECT_EQ(out.right[iFirst + 2], 0.0f);
}

// Blocks after the first at the same tempo, rate and line reuse the eighth note; any of the three
// changing between blocks moves it at once.
TEST(DelayEcho, EighthNoteFollowsTempoRateAndLineBetweenBlocks)
{
    struct Step {
        float fTempo;
        double dRate;
        double dSizingRate; // non-zero: the line is sized again for this rate before the blocks
        float fEighthNote;
    };
    const float fNan = std::numeric_limits<float>::quiet_NaN();
    const Step aSteps[] = {
        {120.0f, 44100.0, 0.0, 11025.0f},
        {120.0f, 48000.0, 0.0, 12000.0f}, // the rate alone
        {90.0f, 48000.0, 0.0, 16000.0f},  // the tempo alone
        {fNan, 48000.0, 0.0, 16000.0f},   // unusable: the last usable tempo
        {40.0f, 44100.0, 0.0, 33075.0f},
        {40.0f, 44100.0, 1000.0, 32999.0f}, // the line alone, now too short for it
        {90.0f, 44100.0, 0.0, 14700.0f},
    };
    test::CheckRecorder checks;
    DelayRig rig(0.5f);
    for (const Step& step : aSteps) {
        rig.host.fTempo = step.fTempo;
        if (step.dSizingRate != 0.0) {
            rig.host.dSampleRate = step.dSizingRate;
            rig.delay->SetSampleRate(&rig.host.dSampleRate);
            rig.delay->Reset();
        }
        rig.host.dSampleRate = step.dRate;
        ProcessAll(*rig.delay, Signal(128, 0.25f), Signal(128, 0.25f), 32);
        EXPECT_FLOAT_EQ(rig.delay->SamplesForDelay(), step.fEighthNote) << step.fTempo << " BPM at " << step.dRate;
    }
    EXPECT_TRUE(checks.Saw("samplesfordelay < fbuffsizetouse"));
}

TEST(DelaySwitch, OffCopiesBitExactAndFreezesTheLines)
{
    const Signal a = test::Noise(20000, 1, 0.5f), aR = test::Noise(20000, 2, 0.5f);
    const Signal b = test::Noise(7000, 3, 0.5f), bR = test::Noise(7000, 4, 0.5f);
    const Signal c(30000, 0.0f);

    DelayRig reference(0.75f);
    ProcessAll(*reference.delay, a, aR);
    const Stereo expected = ProcessAll(*reference.delay, c, c);

    DelayRig rig(0.75f);
    ProcessAll(*rig.delay, a, aR);
    rig.host[kDelayOnOff] = 0.0f;
    for (float fLevel : {0.0f, 0.75f, 1.0f}) {
        rig.host[kDelayLevel] = fLevel;
        const Stereo off = ProcessAll(*rig.delay, b, bR, 333);
        ASSERT_EQ(off.left, b);
        ASSERT_EQ(off.right, bR);
    }
    rig.host[kDelayLevel] = 0.75f;
    rig.host[kDelayOnOff] = 1.0f;
    // Switched on again, the echoes continue from the audio before the switch-off.
    const Stereo resumed = ProcessAll(*rig.delay, c, c);
    EXPECT_EQ(resumed.left, expected.left);
    EXPECT_EQ(resumed.right, expected.right);
    EXPECT_GT(test::PeakAbs(resumed.left), 0.01f);
}

TEST(DelaySwitch, LevelZeroIsACleanCopyButTheLinesRecord)
{
    DelayRig rig(0.0f);
    const Signal x = test::Noise(5000, 5, 0.8f), xR = test::Noise(5000, 6, 0.8f);
    const Stereo out = ProcessAll(*rig.delay, x, xR);
    EXPECT_EQ(out.left, x);
    EXPECT_EQ(out.right, xR);

    // What was recorded at level 0 is heard once the level rises: the right line's own input
    // returns on the left after an eighth note.
    rig.host[kDelayLevel] = 1.0f;
    const Stereo echo = ProcessAll(*rig.delay, Signal(11025, 0.0f), Signal(11025, 0.0f));
    const int iBack = 11025 - 5000;
    for (int i = 0; i < 5000; i += 97)
        EXPECT_NEAR(echo.right[iBack + i], 0.35f * x[i], 1e-6) << i;
}

TEST(DelayRobustness, NanAndInfiniteSamplesCountAsSilence)
{
    Signal dirty = test::Noise(30000, 7, 0.5f);
    Signal clean = dirty;
    for (int i : {10, 500, 12000}) {
        dirty[i] = i == 500 ? std::numeric_limits<float>::infinity() : std::numeric_limits<float>::quiet_NaN();
        clean[i] = 0.0f;
    }
    const Signal right = test::Noise(30000, 8, 0.5f);

    DelayRig rig(0.9f), reference(0.9f);
    const Stereo out = ProcessAll(*rig.delay, dirty, right);
    const Stereo expected = ProcessAll(*reference.delay, clean, right);
    EXPECT_EQ(out.left, expected.left);
    EXPECT_EQ(out.right, expected.right);
    EXPECT_TRUE(test::AllFinite(out.left));
    EXPECT_TRUE(test::AllFinite(out.right));
}

TEST(DelayRobustness, UnusableTemposKeepTheLastUsableOne)
{
    const float kInf = std::numeric_limits<float>::infinity();
    const float afBad[] = {0.0f, -120.0f, std::numeric_limits<float>::quiet_NaN(), kInf, -kInf,
                           0.5f /* eighth note longer than the 33 s line */, 1.0e-30f};
    test::CheckRecorder checks;
    for (float fBad : afBad) {
        // From the start: the initial 120 BPM.
        DelayRig fresh(1.0f);
        fresh.host.fTempo = fBad;
        const Stereo out = ProcessAll(*fresh.delay, test::Impulse(11100), Signal(11100, 0.0f));
        EXPECT_FLOAT_EQ(fresh.delay->SamplesForDelay(), 11025.0f) << fBad;
        EXPECT_NEAR(out.right[11025], 0.35f, 1e-6) << fBad;

        // After a usable tempo: that tempo stays.
        DelayRig rig(1.0f);
        rig.host.fTempo = 30.0f;
        ProcessAll(*rig.delay, Signal(100, 0.0f), Signal(100, 0.0f));
        rig.host.fTempo = fBad;
        const Stereo later = ProcessAll(*rig.delay, test::Impulse(44200), Signal(44200, 0.0f));
        EXPECT_FLOAT_EQ(rig.delay->SamplesForDelay(), 44100.0f) << fBad;
        EXPECT_NEAR(later.right[44100], 0.35f, 1e-6) << fBad;
        EXPECT_TRUE(test::AllFinite(later.left) && test::AllFinite(later.right)) << fBad;

        // A usable tempo is taken up again at once.
        rig.host.fTempo = 60.0f;
        ProcessAll(*rig.delay, Signal(10, 0.0f), Signal(10, 0.0f));
        EXPECT_FLOAT_EQ(rig.delay->SamplesForDelay(), 22050.0f) << fBad;
    }
    EXPECT_EQ(checks.Count(), 0);
}

TEST(DelayRobustness, WithoutTempoPointerItRunsAt90Bpm)
{
    DelayRig rig(1.0f, false);
    const Stereo out = ProcessAll(*rig.delay, test::Impulse(14800), Signal(14800, 0.0f));
    EXPECT_FLOAT_EQ(rig.delay->SamplesForDelay(), 14700.0f);
    EXPECT_NEAR(out.right[14700], 0.35f, 1e-6);
}

TEST(DelayRobustness, FiniteAndInBoundsAtAnyRate)
{
    test::CheckRecorder checks;
    for (double dRate : {1000.0, 8000.0, 44100.0, 192000.0, 1.5e6}) {
        DelayRig rig(1.0f);
        rig.host.dSampleRate = dRate;
        rig.host.Attach(*rig.delay, true);
        EXPECT_EQ(checks.Saw("size <= capacity"), dRate > 192000.0) << dRate;
        EXPECT_LE(rig.delay->LineLength(), CMyDelay::DELAYBUFFERSIZE);
        const Stereo out = ProcessAll(*rig.delay, test::Noise(20000, 9), test::Noise(20000, 10));
        EXPECT_TRUE(test::AllFinite(out.left) && test::AllFinite(out.right)) << dRate;
        EXPECT_LT(rig.delay->SamplesForDelay(), static_cast<float>(rig.delay->LineLength()));

        // The rate behind the pointer changes without SetSampleRate: the line keeps its length.
        for (double dLater : {1000.0, 1.5e6, 0.0}) {
            rig.host.dSampleRate = dLater;
            const Stereo later = ProcessAll(*rig.delay, test::Noise(5000, 11), test::Noise(5000, 12));
            EXPECT_TRUE(test::AllFinite(later.left) && test::AllFinite(later.right)) << dRate << " " << dLater;
            EXPECT_GE(rig.delay->SamplesForDelay(), 1.0f);
            EXPECT_LT(rig.delay->SamplesForDelay(), static_cast<float>(rig.delay->LineLength()));
        }
        checks.Clear();
    }
}

TEST(DelayRobustness, RateFarAboveTheSizedOneHoldsTheLongestEcho)
{
    test::CheckRecorder checks;
    DelayRig rig(1.0f);
    rig.host.dSampleRate = 1000.0;
    rig.host.Attach(*rig.delay, true);
    ASSERT_EQ(rig.delay->LineLength(), 33000);
    rig.host.dSampleRate = 1.5e6; // 120 BPM would need 375000 samples
    ProcessAll(*rig.delay, Signal(100, 0.0f), Signal(100, 0.0f));
    EXPECT_EQ(rig.delay->SamplesForDelay(), 32999.0f);
    EXPECT_TRUE(checks.Saw("samplesfordelay < fbuffsizetouse"));
}

TEST(DelaySetup, LineFollowsTheRateAtSetSampleRate)
{
    DelayRig rig;
    EXPECT_EQ(rig.delay->LineLength(), 1455300);
    rig.host.dSampleRate = 48000.0;
    rig.delay->SetSampleRate(&rig.host.dSampleRate);
    EXPECT_EQ(rig.delay->LineLength(), 1455300); // applied at the next Reset
    rig.delay->Reset();
    EXPECT_EQ(rig.delay->LineLength(), 1584000);
}

} // namespace
} // namespace corvex
