#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "EngineTestSupport.h"
#include "cabinet/MyConvolution.h"

namespace corvex {
namespace {

constexpr float kCleanLevel = 0.3548134f;     // -9 dB
constexpr float kDistortionLevel = 0.1f;      // -20 dB
constexpr float kTapShare = 0.208f;

// The convolution written the plain way: a ring of past inputs, zero taps skipped, the mean of
// the products scaled to the output level.
class DirectForm {
public:
    explicit DirectForm(int iSize) : m_ring(static_cast<size_t>(std::max(iSize, 1)), 0.0f) {}

    float Next(float x, const float* h, int iTaps, float fLevel)
    {
        const int iSize = static_cast<int>(m_ring.size());
        m_ring[static_cast<size_t>(m_iWrite)] = x;
        double dSum = 0.0;
        int iCount = 0;
        for (int k = 0; k < iTaps; ++k) {
            if (h[k] == 0.0f)
                continue;
            const int iSlot = ((m_iWrite - k) % iSize + iSize) % iSize;
            dSum += static_cast<double>(m_ring[static_cast<size_t>(iSlot)] * h[k]);
            ++iCount;
        }
        m_iWrite = (m_iWrite + 1) % iSize;
        return iCount > 0 ? static_cast<float>(dSum / iCount) * fLevel * kTapShare : 0.0f;
    }

private:
    std::vector<float> m_ring;
    int m_iWrite = 0;
};

std::vector<float> Convolve(CMyConvolution& block, const std::vector<float>& inL, const std::vector<float>* inR = nullptr,
                       std::vector<float>* outR = nullptr)
{
    std::vector<float> outL(inL.size()), other(inL.size());
    block.Process(inL.data(), inR ? inR->data() : inL.data(), outL.data(), outR ? outR->data() : other.data(),
                  static_cast<int>(inL.size()));
    return outL;
}

// Largest difference from the reference, relative to the reference's largest magnitude.
double RelativeError(const std::vector<float>& got, const std::vector<float>& want)
{
    double dPeak = 1e-30, dError = 0.0;
    for (size_t i = 0; i < want.size(); ++i) {
        dPeak = std::max(dPeak, std::fabs(static_cast<double>(want[i])));
        dError = std::max(dError, std::fabs(static_cast<double>(got[i]) - want[i]));
    }
    return dError / dPeak;
}

TEST(Cabinet, UnitImpulseGivesTheMeanWeightedResponse)
{
    for (float fSwitch : {0.0f, 1.0f}) {
        SCOPED_TRACE(fSwitch == 0.0f ? "clean" : "distortion");
        const float fLevel = fSwitch == 0.0f ? kCleanLevel : kDistortionLevel;
        test::BlockHost host;
        host[kDistortionOnOff] = fSwitch;
        CMyConvolution block;
        host.Attach(block);
        ASSERT_EQ(block.Taps(), 458);

        // Two blocks, so the tail crosses a block boundary.
        const std::vector<float> impulse = test::Impulse(300);
        std::vector<float> y = Convolve(block, impulse);
        const std::vector<float> tail = Convolve(block, std::vector<float>(500, 0.0f));
        y.insert(y.end(), tail.begin(), tail.end());

        const float* h = block.ImpulseResponse();
        for (int k = 0; k < 458; ++k) {
            const float fWant = static_cast<float>(h[k] / 458.0) * fLevel * kTapShare;
            ASSERT_NEAR(y[static_cast<size_t>(k)], fWant, 1e-6 * std::fabs(fWant) + 1e-12) << "k = " << k;
        }
        for (size_t k = 458; k < y.size(); ++k)
            ASSERT_EQ(y[k], 0.0f) << "k = " << k;
    }
}

TEST(Cabinet, OutputIsMonoFromTheLeftInput)
{
    test::BlockHost host;
    CMyConvolution a, b;
    host.Attach(a);
    host.Attach(b);
    const std::vector<float> left = test::Noise(700, 1);
    const std::vector<float> rightA = test::Noise(700, 2), rightB = test::Sine(440.0, 44100.0, 700);
    std::vector<float> outRA(700), outRB(700);
    const std::vector<float> outLA = Convolve(a, left, &rightA, &outRA);
    const std::vector<float> outLB = Convolve(b, left, &rightB, &outRB);
    EXPECT_EQ(outLA, outRA);
    EXPECT_EQ(outLA, outLB);
    EXPECT_EQ(outRA, outRB);
    EXPECT_GT(test::PeakAbs(outLA), 0.0f);
}

TEST(Cabinet, WorksInPlace)
{
    test::BlockHost host;
    CMyConvolution a, b;
    host.Attach(a);
    host.Attach(b);
    std::vector<float> left = test::Noise(512, 3), right = left;
    const std::vector<float> want = Convolve(a, left);
    b.Process(left.data(), right.data(), left.data(), right.data(), 512);
    EXPECT_EQ(left, want);
    EXPECT_EQ(right, want);
}

TEST(Cabinet, MatchesTheDirectFormOverBlocksOfAnyLength)
{
    struct Case {
        double dRate;
        float fSwitch;
    };
    for (const Case c : {Case{44100.0, 0.0f}, Case{44100.0, 1.0f}, Case{48000.0, 1.0f}, Case{192000.0, 0.0f}}) {
        SCOPED_TRACE("rate " + std::to_string(c.dRate) + " switch " + std::to_string(c.fSwitch));
        test::BlockHost host;
        host.dSampleRate = c.dRate;
        host[kDistortionOnOff] = c.fSwitch;
        CMyConvolution block;
        host.Attach(block);
        DirectForm reference(block.HistoryLength());
        const float fLevel = c.fSwitch == 0.0f ? kCleanLevel : kDistortionLevel;

        const std::vector<float> input = test::Noise(20000, 7, 0.8f);
        size_t pos = 0;
        unsigned uBlock = 0;
        for (int iLength : {1, 7, 64, 512, 1000, 3, 1024, 2048, 333, 9000}) {
            const std::vector<float> in(input.begin() + static_cast<long>(pos),
                                        input.begin() + static_cast<long>(pos + static_cast<size_t>(iLength)));
            const std::vector<float> got = Convolve(block, in);
            std::vector<float> want(in.size());
            for (size_t i = 0; i < in.size(); ++i)
                want[i] = reference.Next(in[i], block.ImpulseResponse(), block.Taps(), fLevel);
            ASSERT_LT(RelativeError(got, want), 1e-6) << "block " << uBlock << " of " << iLength;
            pos += static_cast<size_t>(iLength);
            ++uBlock;
        }
    }
}

TEST(Cabinet, RateChangeWhileProcessingRebuildsAtTheOldLength)
{
    test::BlockHost host;
    CMyConvolution block;
    host.Attach(block);
    Convolve(block, test::Noise(256, 4));
    const std::vector<float> h44(block.ImpulseResponse(), block.ImpulseResponse() + 2205);
    const long lBuilds = block.BuildCount();

    host.dSampleRate = 96000.0;
    Convolve(block, test::Noise(256, 5));
    EXPECT_EQ(block.BuildCount(), lBuilds + 1);
    EXPECT_EQ(block.ResponseLength(), 2205);
    EXPECT_EQ(block.HistoryLength(), 2205);
    EXPECT_EQ(block.Taps(), 458);
    // The table is read at 44100 / 96000 spacing, nearest sample.
    for (int i = 0; i < 2205; ++i)
        ASSERT_EQ(block.ImpulseResponse()[i], h44[static_cast<size_t>(std::lround(i * 0.459375))]) << "i = " << i;
    for (int i = 2205; i < CMyConvolution::BUFCONVOLUTIONSIZE; ++i)
        ASSERT_EQ(block.ImpulseResponse()[i], 0.0f);
}

TEST(Cabinet, SetSampleRateSizesTheResponse)
{
    test::CheckRecorder checks;
    test::BlockHost host;
    CMyConvolution block;
    for (const auto& [dRate, iLength, iTaps] :
         {std::tuple{44100.0, 2205, 458}, std::tuple{48000.0, 2400, 499}, std::tuple{192000.0, 9600, 1996},
          std::tuple{192009.0, 9600, 1996} /* 9600.45 rounds to the capacity: no overflow */}) {
        host.dSampleRate = dRate;
        host.Attach(block);
        EXPECT_EQ(block.ResponseLength(), iLength);
        EXPECT_EQ(block.HistoryLength(), iLength);
        EXPECT_EQ(block.Taps(), iTaps);
    }
    EXPECT_EQ(checks.Count(), 0);
    host.dSampleRate = 192010.0; // 9600.5 rounds to 9601
    host.Attach(block);
    EXPECT_EQ(block.ResponseLength(), 9600);
    EXPECT_EQ(checks.Count(), 1);
    host.dSampleRate = 200000.0;
    host.Attach(block);
    EXPECT_EQ(block.ResponseLength(), 9600);
    EXPECT_EQ(checks.Count(), 2);
}

TEST(Cabinet, VoicingSwitchKeepsTheHistory)
{
    test::BlockHost host;
    host[kDistortionOnOff] = 0.0f;
    CMyConvolution block;
    host.Attach(block);
    DirectForm reference(block.HistoryLength());
    const std::vector<float> first = test::Noise(400, 8), second = test::Noise(400, 9);

    Convolve(block, first);
    const std::vector<float> hClean(block.ImpulseResponse(), block.ImpulseResponse() + 458);
    for (float x : first)
        reference.Next(x, hClean.data(), 458, kCleanLevel);

    host[kDistortionOnOff] = 1.0f;
    const std::vector<float> got = Convolve(block, second);
    EXPECT_NE(std::vector<float>(block.ImpulseResponse(), block.ImpulseResponse() + 458), hClean);
    std::vector<float> want(second.size());
    for (size_t i = 0; i < second.size(); ++i)
        want[i] = reference.Next(second[i], block.ImpulseResponse(), 458, kDistortionLevel);
    // The first output after the switch already mixes the old input with the new response.
    EXPECT_LT(RelativeError(got, want), 1e-6);
    EXPECT_NE(got[0], 0.0f);
}

TEST(Cabinet, SwitchBetweenZeroAndOneSelectsDistortionOnce)
{
    test::BlockHost host;
    CMyConvolution reference, block;
    host[kDistortionOnOff] = 1.0f;
    host.Attach(reference);
    host[kDistortionOnOff] = 0.5f;
    host.Attach(block);

    const std::vector<float> input = test::Noise(2048, 10);
    std::vector<float> want, got;
    for (int i = 0; i < 8; ++i) {
        const std::vector<float> part(input.begin() + i * 256, input.begin() + (i + 1) * 256);
        host[kDistortionOnOff] = 1.0f;
        const std::vector<float> a = Convolve(reference, part);
        host[kDistortionOnOff] = 0.5f;
        const std::vector<float> b = Convolve(block, part);
        want.insert(want.end(), a.begin(), a.end());
        got.insert(got.end(), b.begin(), b.end());
    }
    EXPECT_EQ(got, want);
    EXPECT_EQ(block.BuildCount(), 1);

    // A new value is a change: one rebuild, same sound.
    host[kDistortionOnOff] = 0.75f;
    Convolve(block, input);
    EXPECT_EQ(block.BuildCount(), 2);
    host[kDistortionOnOff] = 0.0f;
    Convolve(block, input);
    EXPECT_EQ(block.BuildCount(), 3);
}

TEST(Cabinet, ResetClearsHistoryAndRebuilds)
{
    test::BlockHost host;
    CMyConvolution fresh, used;
    host.Attach(fresh);
    host.Attach(used);
    Convolve(used, test::Noise(3000, 11));
    EXPECT_EQ(used.BuildCount(), 1);
    used.Reset();
    const std::vector<float> impulse = test::Impulse(600);
    EXPECT_EQ(Convolve(used, impulse), Convolve(fresh, impulse));
    EXPECT_EQ(used.BuildCount(), 2);
}

TEST(Cabinet, SoundsLikeAGuitarSpeaker)
{
    test::BlockHost host;
    for (float fSwitch : {0.0f, 1.0f}) {
        SCOPED_TRACE(fSwitch == 0.0f ? "clean" : "distortion");
        host[kDistortionOnOff] = fSwitch;
        auto level = [&](double dHz) {
            CMyConvolution block;
            host.Attach(block);
            return test::ToneLevelDb(Convolve(block, test::Sine(dHz, 44100.0, 16384)), dHz, 44100.0);
        };
        const double dPresence = std::max(level(2500.0), level(3500.0));
        EXPECT_GT(dPresence, level(500.0)) << "no presence peak";
        EXPECT_LT(level(12000.0), dPresence - 20.0) << "not band-limited at the top";
        EXPECT_LT(level(16000.0), dPresence - 30.0) << "not band-limited at the top";
    }
}

TEST(Cabinet, StaysFiniteAtAnyRate)
{
    test::CheckRecorder checks;
    const std::vector<float> input = test::Noise(4096, 12, 0.9f);
    for (double dSetRate : {1000.0, 8000.0, 44100.0, 192000.0, 384000.0, 1500000.0}) {
        for (double dLaterRate : {1000.0, 22050.0, 96000.0, 1500000.0}) {
            SCOPED_TRACE(std::to_string(dSetRate) + " then " + std::to_string(dLaterRate));
            test::BlockHost host;
            host.dSampleRate = dSetRate;
            host[kDistortionOnOff] = 1.0f;
            CMyConvolution block;
            host.Attach(block);
            Convolve(block, std::vector<float>(input.begin(), input.begin() + 1024));
            host.dSampleRate = dLaterRate;
            const std::vector<float> y = Convolve(block, input);
            EXPECT_TRUE(test::AllFinite(y));
            // A mean never exceeds its largest term.
            const float fLargest = *std::max_element(block.ImpulseResponse(), block.ImpulseResponse() + 9600,
                                                     [](float a, float b) { return std::fabs(a) < std::fabs(b); });
            EXPECT_LE(test::PeakAbs(y), std::fabs(fLargest) * 0.9f * kDistortionLevel * kTapShare * 1.0001f);
        }
    }
    EXPECT_FALSE(checks.Saw("m_afParams"));
}

TEST(Cabinet, ResponseLongerThanTheHistoryWrapsTheRing)
{
    // Reset at 1 kHz leaves a 50-slot history; a later SetSampleRate without Reset asks for
    // 1996 taps, which read the ring round and round.
    test::BlockHost host;
    host[kDistortionOnOff] = 0.0f;
    host.dSampleRate = 1000.0;
    CMyConvolution block;
    host.Attach(block);
    host.dSampleRate = 192000.0;
    block.SetSampleRate(&host.dSampleRate);
    ASSERT_EQ(block.HistoryLength(), 50);
    ASSERT_EQ(block.Taps(), 1996);

    DirectForm reference(block.HistoryLength());
    const std::vector<float> input = test::Noise(600, 13);
    const std::vector<float> got = Convolve(block, input);
    std::vector<float> want(input.size());
    for (size_t i = 0; i < input.size(); ++i)
        want[i] = reference.Next(input[i], block.ImpulseResponse(), block.Taps(), kCleanLevel);
    EXPECT_LT(RelativeError(got, want), 1e-6);
}

TEST(Cabinet, ResponseNearlyAsLongAsTheHistoryReadsOnlyPastInputs)
{
    // Reset at 200 Hz leaves a 10-slot history; a later SetSampleRate without Reset asks for 8
    // to 10 taps, so the oldest taps reach the slots just ahead of the write cursor, which a
    // group of outputs computed together must not have overwritten yet.
    for (const auto& [dLaterRate, iTaps] : {std::pair{800.0, 8}, std::pair{880.0, 9}, std::pair{980.0, 10}}) {
        SCOPED_TRACE(iTaps);
        test::BlockHost host;
        host[kDistortionOnOff] = 1.0f;
        host.dSampleRate = 200.0;
        CMyConvolution block;
        host.Attach(block);
        host.dSampleRate = dLaterRate;
        block.SetSampleRate(&host.dSampleRate);
        ASSERT_EQ(block.HistoryLength(), 10);
        ASSERT_EQ(block.Taps(), iTaps);

        DirectForm reference(block.HistoryLength());
        const std::vector<float> input = test::Noise(400, 17);
        const std::vector<float> got = Convolve(block, input);
        std::vector<float> want(input.size());
        for (size_t i = 0; i < input.size(); ++i)
            want[i] = reference.Next(input[i], block.ImpulseResponse(), block.Taps(), kDistortionLevel);
        EXPECT_LT(RelativeError(got, want), 1e-6);
    }
}

TEST(Cabinet, ZeroTapsAreSkippedInTheMean)
{
    // Set up at 192 kHz, then run at 4 kHz: the table ends before the 1996 taps do, so the
    // response ends in zeros that must not dilute the mean.
    test::BlockHost host;
    host[kDistortionOnOff] = 0.0f;
    host.dSampleRate = 192000.0;
    CMyConvolution block;
    host.Attach(block);
    host.dSampleRate = 4000.0;
    DirectForm reference(block.HistoryLength());
    const std::vector<float> input = test::Noise(3000, 14);
    const std::vector<float> got = Convolve(block, input);
    const float* h = block.ImpulseResponse();
    ASSERT_EQ(h[1995], 0.0f);
    ASSERT_NE(h[0], 0.0f);
    std::vector<float> want(input.size());
    for (size_t i = 0; i < input.size(); ++i)
        want[i] = reference.Next(input[i], h, block.Taps(), kCleanLevel);
    EXPECT_LT(RelativeError(got, want), 1e-6);
}

TEST(Cabinet, NoTapsGiveSilence)
{
    test::CheckRecorder checks;
    for (double dRate : {50.0, 1.0, 0.0}) {
        SCOPED_TRACE(dRate);
        test::BlockHost host;
        host.dSampleRate = dRate;
        CMyConvolution block;
        host.Attach(block);
        EXPECT_EQ(block.Taps(), 0);
        const std::vector<float> y = Convolve(block, test::Noise(300, 15));
        EXPECT_EQ(test::PeakAbs(y), 0.0f);
        EXPECT_TRUE(test::AllFinite(y));
    }
    EXPECT_EQ(checks.Count(), 0);
}

TEST(Cabinet, RefusesToRunWithoutParameters)
{
    test::CheckRecorder checks;
    CMyConvolution block;
    double dRate = 44100.0;
    block.SetSampleRate(&dRate);
    block.Reset();
    float in[8] = {}, out[8];
    EXPECT_EQ(block.Process(in, in, out, out, 8), 0);
    EXPECT_TRUE(checks.Saw("m_afParams"));
}

TEST(Cabinet, NonFiniteInputPassesForTapsSamplesOnly)
{
    test::BlockHost host;
    CMyConvolution block;
    host.Attach(block);
    std::vector<float> input = test::Noise(2000, 16);
    input[100] = INFINITY;
    const std::vector<float> y = Convolve(block, input);
    for (size_t i = 0; i < y.size(); ++i)
        EXPECT_EQ(std::isfinite(y[i]), i < 100 || i >= 100 + 458) << "i = " << i;
}

} // namespace
} // namespace corvex
