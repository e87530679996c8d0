#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "EngineTestSupport.h"
#include "StereoRun.h"
#include "modulation/MyChorus.h"

namespace corvex {
namespace {

using test::ProcessAll;
using test::Signal;
using test::Stereo;

struct ChorusRig {
    test::BlockHost host;
    std::unique_ptr<CMyChorus> chorus = std::make_unique<CMyChorus>();

    explicit ChorusRig(float fSpeed = 0.1f, double dRate = 44100.0)
    {
        host[kChorusSpeed] = fSpeed;
        host.dSampleRate = dRate;
        host.Attach(*chorus);
    }
};

// The delay at which a single impulse reappears: the centroid of the response after iFrom.
double EchoDelay(const Signal& out, int iImpulseAt, int iFrom)
{
    double sum = 0.0, weighted = 0.0;
    for (int i = iFrom; i < static_cast<int>(out.size()); ++i) {
        sum += out[i];
        weighted += out[i] * (i - iImpulseAt);
    }
    return sum > 0.0 ? weighted / sum : -1.0;
}

TEST(ChorusSwitch, OffCopiesEachSideAndFreezesTheOscillator)
{
    ChorusRig rig;
    ProcessAll(*rig.chorus, test::Noise(1000, 1), test::Noise(1000, 2));
    const int iCounter = rig.chorus->OscillatorCounter();

    rig.host[kModulationOnOff] = 0.0f;
    const Signal l = test::Noise(3000, 3), r = test::Noise(3000, 4);
    const Stereo out = ProcessAll(*rig.chorus, l, r, 300);
    EXPECT_EQ(out.left, l);
    EXPECT_EQ(out.right, r);
    EXPECT_EQ(rig.chorus->OscillatorCounter(), iCounter);
}

TEST(ChorusMix, RightInputIsIgnored)
{
    ChorusRig a, b;
    const Signal l = test::Noise(6000, 5);
    const Stereo withRight = ProcessAll(*a.chorus, l, test::Noise(6000, 6));
    const Stereo withoutRight = ProcessAll(*b.chorus, l, Signal(6000, 0.0f));
    EXPECT_EQ(withRight.left, withoutRight.left);
    EXPECT_EQ(withRight.right, withoutRight.right);
}

TEST(ChorusMix, SpeedSetsWetDryAndGain)
{
    // A step: before the taps reach it only the dry part sounds; once they do, dry and wet sum.
    const struct {
        float speed, dry, gain;
    } cases[] = {{0.0f, 1.0f, 0.999f}, {0.1f, 0.93f, 1.00233f}, {1.0f, 0.3f, 1.0323f}};
    for (const auto& c : cases) {
        ChorusRig rig(c.speed);
        const Stereo out = ProcessAll(*rig.chorus, Signal(4000, 1.0f), Signal(4000, 0.0f));
        for (int i : {0, 100, 700}) {
            EXPECT_NEAR(out.left[i], c.dry * c.gain, 1e-5) << c.speed << " at " << i;
            EXPECT_NEAR(out.right[i], c.dry * c.gain, 1e-5) << c.speed << " at " << i;
        }
        for (int i : {1100, 2000, 3999}) {
            EXPECT_NEAR(out.left[i], c.gain, 1e-5) << c.speed << " at " << i;
            EXPECT_NEAR(out.right[i], c.gain, 1e-5) << c.speed << " at " << i;
        }
    }
}

TEST(ChorusOscillator, TapsStartInQuadratureAndSwingThreeMilliseconds)
{
    // At the start the left tap is at its shortest delay (20 - 3 ms), the right at its centre.
    ChorusRig rig(1.0f);
    const Stereo out = ProcessAll(*rig.chorus, test::Impulse(2000), Signal(2000, 0.0f));
    for (int i = 1; i < 745; ++i)
        ASSERT_EQ(out.left[i], 0.0f) << i;
    EXPECT_NEAR(EchoDelay(out.left, 0, 1), 883.0 - 132.3, 0.5);
    // The right tap has moved a little by the time the impulse reaches it, some 878 samples on.
    EXPECT_NEAR(EchoDelay(out.right, 0, 1), 883.0 - 132.3 * std::sin(2 * M_PI * 0.3 * 878 / 44100.0), 0.5);

    // Half a period later the left tap is at its longest delay.
    ChorusRig half(1.0f);
    const int iAt = 147001 / 2;
    const Stereo later = ProcessAll(*half.chorus, test::Impulse(iAt + 2000, iAt), Signal(iAt + 2000, 0.0f));
    EXPECT_NEAR(EchoDelay(later.left, iAt, iAt + 1), 883.0 + 132.3, 0.5);
}

TEST(ChorusOscillator, PeriodIs147001Samples)
{
    ChorusRig rig;
    ProcessAll(*rig.chorus, Signal(147000, 0.0f), Signal(147000, 0.0f));
    EXPECT_EQ(rig.chorus->OscillatorCounter(), 147000);
    ProcessAll(*rig.chorus, Signal(1, 0.0f), Signal(1, 0.0f));
    EXPECT_EQ(rig.chorus->OscillatorCounter(), 0);

    // One period on, an impulse comes back exactly as it did at the start.
    ChorusRig a(1.0f), b(1.0f);
    const Stereo first = ProcessAll(*a.chorus, test::Impulse(2000), Signal(2000, 0.0f));
    const int iAt = 147001;
    const Stereo again = ProcessAll(*b.chorus, test::Impulse(iAt + 2000, iAt), Signal(iAt + 2000, 0.0f));
    EXPECT_NEAR(EchoDelay(again.left, iAt, iAt + 1), EchoDelay(first.left, 0, 1), 0.01);
    EXPECT_NEAR(EchoDelay(again.right, iAt, iAt + 1), EchoDelay(first.right, 0, 1), 0.01);
}

// The chorus written out plainly, one sample at a time, with both oscillator functions
// evaluated at every sample: the block's remembered oscillator values must match it exactly.
class ReferenceChorus {
public:
    explicit ReferenceChorus(int iSize) : m_line(static_cast<size_t>(iSize), 0.0f), m_iHalf(iSize / 2) {}

    void Process(float x, float fs, float fSpeed, float& outL, float& outR)
    {
        const float fDry = 1.0f - fSpeed * 0.7f;
        const float fWet = 1.0f - fDry;
        const float fGain = (fSpeed * 0.01f + 0.3f) * 3.33f;
        const int L = static_cast<int>(m_line.size());
        m_line[static_cast<size_t>(m_w)] = x;
        if (++m_w >= L)
            m_w = 0;
        if (fs * 3.3333333f > static_cast<float>(m_iCounter))
            ++m_iCounter;
        else
            m_iCounter = 0;
        const float fPhase = static_cast<float>(m_iCounter) / fs * 1.8849558f;
        const float fCos = static_cast<float>(std::cos(static_cast<double>(fPhase)));
        const float fSin = static_cast<float>(std::sin(static_cast<double>(fPhase)));
        const float h = static_cast<float>(m_iHalf);
        outL = (Tap(fCos * 0.15f * h - 2.0f + static_cast<float>(m_w) + h) * fWet + fDry * x) * fGain;
        outR = (Tap(fSin * 0.15f * h - 2.0f + static_cast<float>(m_w) + h) * fWet + fDry * x) * fGain;
    }

private:
    float Tap(float p) const
    {
        const int L = static_cast<int>(m_line.size());
        int i = static_cast<int>(p);
        const float f = p - static_cast<float>(i);
        int j = i + 1;
        while (i >= L)
            i -= L;
        while (j >= L)
            j -= L;
        return (1.0f - f) * m_line[static_cast<size_t>(i)] + f * m_line[static_cast<size_t>(j)];
    }

    std::vector<float> m_line;
    int m_iHalf;
    int m_w = 0;
    int m_iCounter = 0;
};

TEST(ChorusOscillator, RememberedOscillatorMatchesEvaluatingItEverySample)
{
    // Over two and a half periods, then after the rate changes behind the block's back.
    ChorusRig rig(0.8f);
    ReferenceChorus reference(rig.chorus->Size());
    const Signal input = test::Noise(147001 * 5 / 2 + 30000, 41, 0.5f);
    Signal outL(input.size()), outR(input.size());
    const size_t uRateChange = 367500; // two and a half periods, on a block boundary
    for (size_t i = 0; i < input.size(); i += 500) {
        if (i >= uRateChange)
            rig.host.dSampleRate = 48000.0;
        const int n = static_cast<int>(std::min<size_t>(500, input.size() - i));
        ASSERT_EQ(rig.chorus->Process(&input[i], &input[i], &outL[i], &outR[i], n), 1);
    }
    for (size_t i = 0; i < input.size(); ++i) {
        float refL, refR;
        reference.Process(input[i], i >= uRateChange ? 48000.0f : 44100.0f, 0.8f, refL, refR);
        ASSERT_EQ(outL[i], refL) << i;
        ASSERT_EQ(outR[i], refR) << i;
    }
}

TEST(ChorusSetup, LineIs40MillisecondsAtTheRateOfSetSampleRate)
{
    EXPECT_EQ(ChorusRig(0.1f, 44100.0).chorus->LineLength(), 1764);
    EXPECT_EQ(ChorusRig(0.1f, 48000.0).chorus->LineLength(), 1920);
    EXPECT_EQ(ChorusRig(0.1f, 1.5e6).chorus->LineLength(), CMyChorus::CHORUSBUFFERSIZE);
    // Too short a line would put the taps before its start.
    EXPECT_EQ(ChorusRig(0.1f, 20.0).chorus->LineLength(), 2 * CMyChorus::kMinHalfSize);
}

TEST(ChorusRobustness, FiniteAtAnyRateSetOrChangedLater)
{
    test::CheckRecorder checks;
    for (double dRate : {20.0, 1000.0, 44100.0, 192000.0, 1.5e6}) {
        ChorusRig rig(1.0f, dRate);
        const Stereo out = ProcessAll(*rig.chorus, test::Noise(20000, 8), Signal(20000, 0.0f));
        EXPECT_TRUE(test::AllFinite(out.left) && test::AllFinite(out.right)) << dRate;
        for (double dLater : {1000.0, 1.5e6, 0.0, -44100.0, std::nan(""), 1.0e12}) {
            rig.host.dSampleRate = dLater;
            const Stereo later = ProcessAll(*rig.chorus, test::Noise(5000, 9), Signal(5000, 0.0f));
            EXPECT_TRUE(test::AllFinite(later.left) && test::AllFinite(later.right)) << dRate << " " << dLater;
            EXPECT_LE(test::PeakAbs(later.left), 1.0323f * 1.0001f);
        }
    }
    EXPECT_EQ(checks.Count(), 0);
}

TEST(ChorusRobustness, ResetClearsTheLineAndRestartsTheOscillator)
{
    ChorusRig rig(1.0f);
    const Signal x = test::Noise(3000, 10);
    const Stereo first = ProcessAll(*rig.chorus, x, Signal(3000, 0.0f));
    ProcessAll(*rig.chorus, test::Noise(10000, 11), Signal(10000, 0.0f));
    rig.chorus->Reset();
    const Stereo again = ProcessAll(*rig.chorus, x, Signal(3000, 0.0f));
    EXPECT_EQ(again.left, first.left);
    EXPECT_EQ(again.right, first.right);
}

} // namespace
} // namespace corvex
