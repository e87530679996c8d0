#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "EngineTestSupport.h"
#include "StereoRun.h"
#include "reverb/MyReverb.h"

namespace corvex {
namespace {

using test::ProcessAll;
using test::Signal;
using test::Stereo;

struct ReverbRig {
    test::BlockHost host;
    std::unique_ptr<CMyReverb> reverb = std::make_unique<CMyReverb>();

    ReverbRig(bool bReverb, bool bEnhancer, float fLevel = 0.55f, double dRate = 44100.0)
    {
        host[kReverbOnOff] = bReverb ? 1.0f : 0.0f;
        host[kStereoEnhancerOnOff] = bEnhancer ? 1.0f : 0.0f;
        host[kReverbLevel] = fLevel;
        host.dSampleRate = dRate;
        host.Attach(*reverb, true);
    }
};

// x read D samples back with linear interpolation, 0 before the start.
float Delayed(const Signal& x, int i, double dSamples)
{
    const double p = i - dSamples;
    const int i0 = static_cast<int>(std::floor(p));
    const double f = p - i0;
    const auto at = [&x](int k) { return k >= 0 && k < static_cast<int>(x.size()) ? x[k] : 0.0f; };
    return static_cast<float>((1.0 - f) * at(i0) + f * at(i0 + 1));
}

TEST(ReverbSwitch, BothOffIsIdentity)
{
    ReverbRig rig(false, false);
    const Signal l = test::Noise(20000, 1), r = test::Noise(20000, 2);
    const Stereo out = ProcessAll(*rig.reverb, l, r);
    EXPECT_EQ(out.left, l);
    EXPECT_EQ(out.right, r);
}

TEST(ReverbResponse, FirstSampleCarriesBothAllPassGains)
{
    const struct {
        float level;
        float combFirst, combLast, gA, gB;
    } cases[] = {{0.55f, 0.8469f, 0.7987f, 0.5199f, 0.0015f}, {1.0f, 0.9126f, 0.8837f, 0.6978f, 0.0283f}};
    for (const auto& c : cases) {
        ReverbRig rig(true, false, c.level);
        const int n = 22050;
        const Stereo out = ProcessAll(*rig.reverb, test::Impulse(n), Signal(n, 0.0f));

        EXPECT_NEAR(out.left[0], 0.73f + 0.09f * (c.gA + c.gB), 1e-5) << c.level;
        EXPECT_NEAR(rig.reverb->LeftComb(0).CombGain(), c.combFirst, 1e-4);
        EXPECT_NEAR(rig.reverb->LeftComb(4).CombGain(), c.combLast, 1e-4);
        EXPECT_NEAR(rig.reverb->RightComb(4).CombGain(), c.combLast, 1e-4);
        EXPECT_NEAR(rig.reverb->LeftAllPassA().CombGain(), c.gA, 1e-4);
        EXPECT_NEAR(rig.reverb->RightAllPassB().CombGain(), c.gB, 1e-4);

        // Nothing more until all-pass B's 1.7 ms; a tail long after.
        for (int i = 1; i < 74; ++i)
            ASSERT_EQ(out.left[i], 0.0f) << i;
        EXPECT_NE(out.left[75], 0.0f);
        EXPECT_GT(test::PeakAbs(Signal(out.left.begin() + 15000, out.left.end())), 1e-4f);
        // A left impulse never reaches the right output.
        EXPECT_EQ(test::PeakAbs(out.right), 0.0f);
    }
}

// The block written the plain way: fifteen sections, times set on each of them at every call,
// and every sample taken through the sections one at a time.
class PlainReverb {
public:
    explicit PlainReverb(const double* pfRate)
    {
        for (int k = 0; k < 5; ++k) {
            m_combsL.push_back(std::make_unique<Biquad>(Biquad::kComb, 1.0, k * 0.0101));
            m_combsR.push_back(std::make_unique<Biquad>(Biquad::kComb, 1.0, k * 0.0101));
        }
        for (Biquad* pSection : Sections()) {
            pSection->SetSampleRate(pfRate);
            pSection->Reset();
        }
    }

    void Process(const float* inL, const float* inR, float* outL, float* outR, int n, bool bReverb, bool bEnhancer,
                 float fLevel)
    {
        const double p = bEnhancer ? 0.10004001f : 0.0f;
        const float T = fLevel * 3.0f;
        for (int k = 0; k < 5; ++k) {
            m_combsL[k]->SetDecayTime(T);
            m_combsR[k]->SetDecayTime(T);
        }
        m_enhancer.SetDecayTime(0.0);
        for (Biquad* pSection : {&m_apAL, &m_apAR})
            pSection->SetDecayTime(T / 31.25f);
        for (Biquad* pSection : {&m_apBL, &m_apBR})
            pSection->SetDecayTime(T / 911.0f);
        for (int k = 0; k < 5; ++k) {
            const double dTime = (static_cast<float>(k) * 3.5f + 39.7f) * 0.001f;
            m_combsL[k]->SetDelayTime(dTime);
            m_combsR[k]->SetDelayTime(dTime);
        }
        m_enhancer.SetDelayTime(p);
        for (Biquad* pSection : {&m_apAL, &m_apAR})
            pSection->SetDelayTime(0.005f);
        for (Biquad* pSection : {&m_apBL, &m_apBR})
            pSection->SetDelayTime(0.0017f);

        const float fWet = bReverb ? 0.45f : 0.0f;
        const float fDry = 1.0f - fWet * 0.6f;
        for (int i = 0; i < n; ++i) {
            const float xL = inL[i] == inL[i] ? inL[i] : 0.0f;
            float xR = inR[i] == inR[i] ? inR[i] : 0.0f;
            if (p != 0.0)
                xR = m_enhancer.ProcessSample(xR);
            float sL = 0.0f, sR = 0.0f;
            for (auto& pComb : m_combsL)
                sL += pComb->ProcessSample(xL);
            const float aL = m_apAL.ProcessSample(sL), bL = m_apBL.ProcessSample(sL);
            outL[i] = fDry * xL - (bL + aL) * 0.04f * fWet;
            for (auto& pComb : m_combsR)
                sR += pComb->ProcessSample(xR);
            const float aR = m_apAR.ProcessSample(sR), bR = m_apBR.ProcessSample(sR);
            outR[i] = fDry * xR - (bR + aR) * 0.04f * fWet;
        }
    }

private:
    std::vector<Biquad*> Sections()
    {
        std::vector<Biquad*> sections{&m_enhancer, &m_apAL, &m_apBL, &m_apAR, &m_apBR};
        for (int k = 0; k < 5; ++k) {
            sections.push_back(m_combsL[k].get());
            sections.push_back(m_combsR[k].get());
        }
        return sections;
    }

    std::vector<std::unique_ptr<Biquad>> m_combsL, m_combsR;
    Biquad m_enhancer{Biquad::kDelay, 0.0, 1.0};
    Biquad m_apAL{Biquad::kAllPass, 0.09683, 0.005}, m_apBL{Biquad::kAllPass, 0.03292, 0.0017};
    Biquad m_apAR{Biquad::kAllPass, 0.09683, 0.005}, m_apBR{Biquad::kAllPass, 0.03292, 0.0017};
};

TEST(ReverbResponse, BitIdenticalToSectionsRunSampleBySample)
{
    // At 8 kHz all-pass B is shorter than a run of samples, at 44.1 kHz every section is longer.
    for (double dRate : {44100.0, 8000.0}) {
        SCOPED_TRACE(dRate);
        ReverbRig rig(true, false, 0.55f, dRate);
        PlainReverb plain(&rig.host.dSampleRate);
        const Signal l = test::Noise(30000, 14), r = test::Noise(30000, 15);
        const struct {
            int length;
            bool reverb, enhancer;
            float level;
        } blocks[] = {{1, true, false, 0.55f},   {700, true, true, 0.55f},  {64, true, true, 1.0f},
                      {65, false, true, 1.0f},   {4096, false, false, 0.3f}, {3, true, false, 0.0f},
                      {9000, true, true, 0.8f},  {127, true, true, 0.8f},   {8000, true, false, 0.8f}};
        size_t pos = 0;
        for (const auto& b : blocks) {
            rig.host[kReverbOnOff] = b.reverb ? 1.0f : 0.0f;
            rig.host[kStereoEnhancerOnOff] = b.enhancer ? 1.0f : 0.0f;
            rig.host[kReverbLevel] = b.level;
            Signal gotL(static_cast<size_t>(b.length)), gotR(gotL.size()), wantL(gotL.size()), wantR(gotL.size());
            ASSERT_EQ(rig.reverb->Process(&l[pos], &r[pos], gotL.data(), gotR.data(), b.length), 1);
            plain.Process(&l[pos], &r[pos], wantL.data(), wantR.data(), b.length, b.reverb, b.enhancer, b.level);
            ASSERT_EQ(gotL, wantL) << "block at " << pos;
            ASSERT_EQ(gotR, wantR) << "block at " << pos;
            pos += static_cast<size_t>(b.length);
        }
    }
}

TEST(ReverbResponse, LevelZeroLeavesTwoShortEchoes)
{
    ReverbRig rig(true, false, 0.0f);
    const Signal l = test::Noise(8000, 3), r = test::Noise(8000, 4);
    const Stereo out = ProcessAll(*rig.reverb, l, r);
    // The sections place their read positions in single precision: a fraction of a few
    // thousandths of a sample off at these write indices.
    const double dA = 0.005f * 44100.0f, dB = 0.0017f * 44100.0f;
    for (int i = 0; i < 8000; ++i) {
        ASSERT_NEAR(out.left[i], 0.73f * l[i] - 0.09f * Delayed(l, i, dA) - 0.09f * Delayed(l, i, dB), 2e-4) << i;
        ASSERT_NEAR(out.right[i], 0.73f * r[i] - 0.09f * Delayed(r, i, dA) - 0.09f * Delayed(r, i, dB), 2e-4) << i;
    }
}

TEST(ReverbResponse, TailRisesWithLevelAndStaysBounded)
{
    auto tailEnergy = [](float fLevel) {
        ReverbRig rig(true, false, fLevel);
        const Stereo out = ProcessAll(*rig.reverb, test::Impulse(88200), Signal(88200, 0.0f));
        double e = 0.0;
        for (int i = 22050; i < 88200; ++i)
            e += static_cast<double>(out.left[i]) * out.left[i];
        EXPECT_TRUE(test::AllFinite(out.left));
        return e;
    };
    const double eShort = tailEnergy(0.2f), eDefault = tailEnergy(0.55f), eLong = tailEnergy(1.0f);
    EXPECT_LT(eShort, eDefault);
    EXPECT_LT(eDefault, eLong);
    // Levels outside [0, 1] behave as the nearest end instead of running away.
    EXPECT_DOUBLE_EQ(tailEnergy(-0.5f), tailEnergy(0.0f));
    EXPECT_DOUBLE_EQ(tailEnergy(7.0f), eLong);
}

TEST(ReverbSwitch, OffCutsTheTailButTheCombsKeepRunning)
{
    const Signal x = test::Noise(10000, 5);
    const Signal silence(20000, 0.0f);
    ReverbRig alwaysOn(true, false), toggled(false, false);
    ProcessAll(*alwaysOn.reverb, x, x);
    const Stereo off = ProcessAll(*toggled.reverb, x, x);
    EXPECT_EQ(off.left, x);

    // Switched on later, the tail built while off is there at once.
    toggled.host[kReverbOnOff] = 1.0f;
    const Stereo expected = ProcessAll(*alwaysOn.reverb, silence, silence);
    const Stereo tail = ProcessAll(*toggled.reverb, silence, silence);
    EXPECT_EQ(tail.left, expected.left);
    EXPECT_GT(test::PeakAbs(tail.left), 1e-3f);
}

TEST(ReverbEnhancer, DelaysOnlyTheRightChannelBy100Ms)
{
    ReverbRig rig(false, true);
    const int n = 6000;
    const Signal l = test::Noise(n, 6);
    const Stereo out = ProcessAll(*rig.reverb, l, test::Impulse(n));
    EXPECT_EQ(out.left, l);
    // 0.10004001 s is 4411.76 samples: the impulse lands between 4411 and 4412.
    const float fDelay = 0.10004001f * 44100.0f;
    EXPECT_NEAR(out.right[4411], 4412.0f - fDelay, 1e-6);
    EXPECT_NEAR(out.right[4412], fDelay - 4411.0f, 1e-6);
    for (int i = 0; i < n; ++i) {
        if (i != 4411 && i != 4412) {
            ASSERT_EQ(out.right[i], 0.0f) << i;
        }
    }

    // With the reverb on, the right output is the reverb of the delayed input alone.
    ReverbRig withReverb(true, true), reference(true, false);
    const Stereo wet = ProcessAll(*withReverb.reverb, Signal(20000, 0.0f), test::Impulse(20000));
    Signal delayed(20000, 0.0f);
    std::copy(out.right.begin(), out.right.end(), delayed.begin());
    const Stereo expected = ProcessAll(*reference.reverb, Signal(20000, 0.0f), delayed);
    EXPECT_EQ(wet.right, expected.right);
    EXPECT_EQ(test::PeakAbs(wet.left), 0.0f);
}

TEST(ReverbEnhancer, SwitchedBackOnItReplaysWhatPrecededTheSwitchOff)
{
    ReverbRig rig(false, true);
    ProcessAll(*rig.reverb, Signal(10000, 0.0f), Signal(10000, 0.5f));
    rig.host[kStereoEnhancerOnOff] = 0.0f;
    const Stereo off = ProcessAll(*rig.reverb, Signal(3000, 0.0f), Signal(3000, -0.25f));
    EXPECT_EQ(off.right, Signal(3000, -0.25f));

    rig.host[kStereoEnhancerOnOff] = 1.0f;
    const Stereo on = ProcessAll(*rig.reverb, Signal(6000, 0.0f), Signal(6000, -0.25f));
    for (int i = 0; i < 4411; ++i)
        ASSERT_EQ(on.right[i], 0.5f) << i;
    for (int i = 4413; i < 6000; ++i)
        ASSERT_EQ(on.right[i], -0.25f) << i;
}

TEST(ReverbRobustness, NanAndInfiniteSamplesCountAsSilence)
{
    Signal dirty = test::Noise(20000, 7);
    Signal clean = dirty;
    for (int i : {3, 900, 15000}) {
        dirty[i] = i == 900 ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::quiet_NaN();
        clean[i] = 0.0f;
    }
    ReverbRig rig(true, true, 1.0f), reference(true, true, 1.0f);
    const Stereo out = ProcessAll(*rig.reverb, dirty, dirty);
    const Stereo expected = ProcessAll(*reference.reverb, clean, clean);
    EXPECT_EQ(out.left, expected.left);
    EXPECT_EQ(out.right, expected.right);
    EXPECT_TRUE(test::AllFinite(out.left) && test::AllFinite(out.right));
}

TEST(ReverbRobustness, FiniteAtAnyRateSetOrChangedLater)
{
    test::CheckRecorder checks;
    for (double dRate : {1000.0, 44100.0, 192000.0, 1.5e6}) {
        ReverbRig rig(true, true, 1.0f, dRate);
        // Above 192 kHz every section reports its clamped line once, at SetSampleRate.
        EXPECT_EQ(checks.Count(), dRate > 192000.0 ? 15 : 0) << dRate;
        EXPECT_EQ(rig.reverb->LeftComb(0).LineLength(), std::min(static_cast<int>(3 * dRate), 576000));
        const Stereo out = ProcessAll(*rig.reverb, test::Noise(30000, 8), test::Noise(30000, 9));
        EXPECT_TRUE(test::AllFinite(out.left) && test::AllFinite(out.right)) << dRate;
        for (double dLater : {1000.0, 1.5e6}) {
            rig.host.dSampleRate = dLater;
            const Stereo later = ProcessAll(*rig.reverb, test::Noise(30000, 10), test::Noise(30000, 11));
            EXPECT_TRUE(test::AllFinite(later.left) && test::AllFinite(later.right)) << dRate << " " << dLater;
            EXPECT_LT(test::PeakAbs(later.left), 20.0f) << dRate << " " << dLater;
        }
        checks.Clear();
    }
}

TEST(ReverbRobustness, ResetSilencesEveryLine)
{
    ReverbRig rig(true, true, 1.0f);
    ProcessAll(*rig.reverb, test::Noise(20000, 12), test::Noise(20000, 13));
    rig.reverb->Reset();
    const Stereo out = ProcessAll(*rig.reverb, Signal(150000, 0.0f), Signal(150000, 0.0f));
    EXPECT_EQ(test::PeakAbs(out.left), 0.0f);
    EXPECT_EQ(test::PeakAbs(out.right), 0.0f);
}

} // namespace
} // namespace corvex
