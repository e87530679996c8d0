// Reset after playing longer than a block's state holds: every line, window and history is
// filled over its whole length first, so a Reset that forgets any part of it leaves stale audio
// that the silence afterwards brings out.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "EngineTestSupport.h"
#include "StereoRun.h"
#include "cabinet/MyConvolution.h"
#include "delay/MyDelay.h"
#include "distortion/MyDisto.h"
#include "dynamics/MyComp.h"
#include "equaliser/MyEqu.h"
#include "modulation/MyChorus.h"
#include "reverb/MyReverb.h"

namespace corvex {
namespace {

using test::Signal;
using test::Stereo;

constexpr int kSlice = 4096;

// Feeds n samples per channel, made by `source` a slice at a time (so that a line of tens of
// seconds never has to be held in memory twice), and returns the largest output magnitude.
float Stream(CMyEffect& block, long n, const std::function<void(Signal&, Signal&, long)>& source)
{
    Signal inL(kSlice), inR(kSlice), outL(kSlice), outR(kSlice);
    float peak = 0.0f;
    for (long done = 0; done < n; done += kSlice) {
        const int count = static_cast<int>(std::min<long>(kSlice, n - done));
        source(inL, inR, done);
        EXPECT_EQ(block.Process(inL.data(), inR.data(), outL.data(), outR.data(), count), 1);
        for (int i = 0; i < count; ++i)
            peak = std::max({peak, std::fabs(outL[i]), std::fabs(outR[i])});
    }
    return peak;
}

// Full-scale noise, different on each side.
void Noise(Signal& left, Signal& right, long from)
{
    std::uint32_t state = static_cast<std::uint32_t>(from) * 2654435761u + 1u;
    for (std::size_t i = 0; i < left.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        left[i] = static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
        state = state * 1664525u + 1013904223u;
        right[i] = static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
    }
}

void Silence(Signal& left, Signal& right, long)
{
    std::fill(left.begin(), left.end(), 0.0f);
    std::fill(right.begin(), right.end(), 0.0f);
}

class LongPlay : public ::testing::TestWithParam<double> {
protected:
    test::BlockHost host;
    void SetUp() override { host.dSampleRate = GetParam(); }
    long Seconds(double s) const { return std::lround(s * host.dSampleRate); }
};

// The delay's lines hold 33 s. Its taps read an eighth and a quarter note back, so right after
// a Reset they read the end of the line at a usual tempo, and nearly all of it at the slowest
// tempo a line holds; between the two, every stale sample would be heard.
TEST_P(LongPlay, DelayResetForgetsTheWholeLine)
{
    CMyDelay delay;
    host[kDelayLevel] = 1.0f;
    host.Attach(delay, true);
    const long line = delay.LineLength();
    ASSERT_EQ(line, std::lround(33.0 * host.dSampleRate));
    EXPECT_GT(Stream(delay, line + Seconds(1.0), Noise), 0.5f);
    delay.Reset();
    EXPECT_EQ(Stream(delay, Seconds(1.0), Silence), 0.0f) << "at 120 BPM";
    host.fTempo = 0.91f; // an eighth note of 32.97 s
    EXPECT_EQ(Stream(delay, line, Silence), 0.0f) << "at 0.91 BPM";
}

// Every reverb section holds 3 s; the enhancer's line is one of them.
TEST_P(LongPlay, ReverbResetForgetsEveryLine)
{
    auto reverb = std::make_unique<CMyReverb>();
    host[kReverbOnOff] = 1.0f;
    host[kStereoEnhancerOnOff] = 1.0f;
    host[kReverbLevel] = 1.0f;
    host.Attach(*reverb, true);
    EXPECT_GT(Stream(*reverb, Seconds(3.5), Noise), 0.5f);
    reverb->Reset();
    EXPECT_EQ(Stream(*reverb, Seconds(3.5), Silence), 0.0f);
}

// A reset clears what was written since the last one: after part of a line, resets in a row
// (as hosts send them), a rate change in between, and another stretch of audio, nothing stale
// remains anywhere in the delay's or the reverb's lines.
TEST_P(LongPlay, ResetsAfterPartOfTheLinesForgetIt)
{
    CMyDelay delay;
    auto reverb = std::make_unique<CMyReverb>();
    host[kDelayLevel] = 1.0f;
    host[kReverbOnOff] = 1.0f;
    host[kStereoEnhancerOnOff] = 1.0f;
    host[kReverbLevel] = 1.0f;
    host.Attach(delay, true);
    host.Attach(*reverb, true);
    const double dRate = host.dSampleRate;
    for (CMyEffect* block : {static_cast<CMyEffect*>(&delay), static_cast<CMyEffect*>(reverb.get())}) {
        EXPECT_GT(Stream(*block, Seconds(0.7), Noise), 0.5f);
        block->Reset();
        block->Reset();
        host.dSampleRate = dRate / 2.0;
        block->SetSampleRate(&host.dSampleRate);
        block->Reset();
        EXPECT_GT(Stream(*block, Seconds(0.4), Noise), 0.5f);
        host.dSampleRate = dRate;
        block->SetSampleRate(&host.dSampleRate);
        block->Reset();
    }
    EXPECT_EQ(Stream(*reverb, Seconds(3.5), Silence), 0.0f);
    host.fTempo = 0.91f; // an eighth note of 32.97 s: the delay reads its whole line
    EXPECT_EQ(Stream(delay, delay.LineLength(), Silence), 0.0f);
}

// The chorus reads the oldest part of its 40 ms line, and its oscillator restarts: after a
// Reset it answers exactly as a new chorus does.
TEST_P(LongPlay, ChorusResetForgetsTheLineAndThePhase)
{
    CMyChorus used, fresh;
    host[kChorusSpeed] = 1.0f;
    host.Attach(used);
    host.Attach(fresh);
    EXPECT_GT(Stream(used, Seconds(0.5), Noise), 0.5f);
    used.Reset();
    EXPECT_EQ(Stream(used, Seconds(0.1), Silence), 0.0f);
    used.Reset();
    const Signal probe = test::Sine(440.0, host.dSampleRate, static_cast<int>(Seconds(0.2)), 0.5f);
    const Stereo after = test::ProcessAll(used, probe, probe);
    const Stereo expected = test::ProcessAll(fresh, probe, probe);
    EXPECT_EQ(after.left, expected.left);
    EXPECT_EQ(after.right, expected.right);
}

// The cabinet's history spans its 50 ms response.
TEST_P(LongPlay, CabinetResetForgetsTheHistory)
{
    auto used = std::make_unique<CMyConvolution>(), fresh = std::make_unique<CMyConvolution>();
    host.Attach(*used);
    host.Attach(*fresh);
    EXPECT_GT(Stream(*used, Seconds(0.2), Noise), 0.01f);
    used->Reset();
    EXPECT_EQ(Stream(*used, Seconds(0.1), Silence), 0.0f);
    used->Reset();
    const Signal probe = test::Impulse(static_cast<int>(Seconds(0.1)), 17, 0.5f);
    const Stereo after = test::ProcessAll(*used, probe, probe);
    EXPECT_EQ(after.left, test::ProcessAll(*fresh, probe, probe).left);
}

// The gate/compressor's level window holds 1,023 magnitudes: after a Reset a quiet signal is
// gated exactly as by a new block, not lifted by the loud window before it.
TEST_P(LongPlay, GateResetForgetsTheLevelWindow)
{
    CMyComp used, fresh;
    host.Attach(used);
    host.Attach(fresh);
    Stream(used, 3 * CMyComp::BUFCOMPSIZE, Noise);
    used.Reset();
    const Signal probe = test::Sine(220.0, host.dSampleRate, 3 * CMyComp::BUFCOMPSIZE, 0.01f);
    const Stereo after = test::ProcessAll(used, probe, probe, 100);
    const Stereo expected = test::ProcessAll(fresh, probe, probe, 100);
    EXPECT_EQ(after.left, expected.left);
}

// The equalisers and the distortion keep their filter memories through a Reset, by design: a
// block that was reset goes on ringing exactly like one that was not.
TEST_P(LongPlay, FilterMemoriesRingOnThroughReset)
{
    auto check = [&](CMyEffect& reset, CMyEffect& kept, const char* name) {
        SCOPED_TRACE(name);
        const Signal noise = test::Noise(static_cast<int>(Seconds(1.0)), 7, 0.5f);
        test::ProcessAll(reset, noise, noise);
        test::ProcessAll(kept, noise, noise);
        reset.Reset();
        const Signal silence(static_cast<std::size_t>(Seconds(1.0)), 0.0f);
        const Stereo a = test::ProcessAll(reset, silence, silence);
        const Stereo b = test::ProcessAll(kept, silence, silence);
        EXPECT_EQ(a.left, b.left);
        EXPECT_GT(test::PeakAbs(a.left), 1e-6f) << "the filters ring after Reset";
    };
    CMyEqu preReset, preKept, postReset, postKept;
    for (CMyEqu* equ : {&preReset, &preKept, &postReset, &postKept})
        host.Attach(*equ);
    for (CMyEqu* equ : {&postReset, &postKept})
        equ->Configure(EffectConfiguration{}, true);
    check(preReset, preKept, "pre-equaliser");
    check(postReset, postKept, "post-equaliser");
    CMyDisto distoReset, distoKept;
    host.Attach(distoReset);
    host.Attach(distoKept);
    check(distoReset, distoKept, "distortion");
}

INSTANTIATE_TEST_SUITE_P(Rates, LongPlay, ::testing::Values(44100.0, 96000.0, 192000.0),
                         [](const ::testing::TestParamInfo<double>& rate) {
                             return std::to_string(static_cast<int>(rate.param)) + "Hz";
                         });

} // namespace
} // namespace corvex
