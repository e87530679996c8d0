// Filter coefficients and gains are recomputed only when one of their inputs changes. The
// references below force a recomputation before every block (a detour through other settings)
// and must give the same bits.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "EngineTestSupport.h"
#include "distortion/MyDisto.h"
#include "equaliser/MyEqu.h"
#include "filters/Biquad.h"

namespace corvex {
namespace {

using Signal = std::vector<float>;
constexpr int kBlock = 32;
constexpr int kBlocks = 240;

// A plucked, decaying tone with a little noise: something every band and voice reacts to.
Signal Guitar(int n, double dRate = 44100.0)
{
    Signal s(static_cast<size_t>(n));
    unsigned noise = 12345;
    for (int i = 0; i < n; ++i) {
        const double t = i / dRate;
        const double local = std::fmod(t, 0.05);
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.01;
        s[static_cast<size_t>(i)] =
            static_cast<float>(0.5 * std::exp(-20.0 * local) * std::sin(2.0 * M_PI * 196.0 * t) + hiss);
    }
    return s;
}

bool BitEqual(const Signal& a, const Signal& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), sizeof(float) * a.size()) == 0;
}

struct Setting {
    int iType;
    double dFrequency, dQ, dGainDb;
};

// Settings that change every few blocks, including a change of the sign of zero only.
Setting SettingForBlock(int b)
{
    static const Setting kSettings[] = {
        {Biquad::kPeak, 0.01, 0.9, 12.0},   {Biquad::kPeak, 0.01, 0.9, -12.0}, {Biquad::kPeak, 0.01, 0.9, 0.0},
        {Biquad::kPeak, 0.01, 0.9, -0.0},   {Biquad::kLowPass, 0.1, 0.55, 0.0}, {Biquad::kHighPass, 0.02, 0.7, 0.0},
        {Biquad::kBandPass, 0.05, 2.0, 0.0}, {Biquad::kNotch, 0.05, 2.0, 0.0},  {Biquad::kLowShelf, 0.004, 0.7, 6.0},
        {Biquad::kHighShelf, 0.2, 0.7, -6.0}, {Biquad::kPeak, 0.3, 0.55, 20.0},
    };
    return kSettings[(b / 7) % (sizeof(kSettings) / sizeof(kSettings[0]))];
}

TEST(CoefficientCache, FilterSectionMatchesRecomputingEveryBlock)
{
    const Signal in = Guitar(kBlock * kBlocks);
    Biquad cached, recomputed;
    Signal outCached(in.size()), outRecomputed(in.size());
    int iChanges = 0;
    for (int b = 0; b < kBlocks; ++b) {
        const Setting s = SettingForBlock(b);
        const Setting previous = SettingForBlock(b > 0 ? b - 1 : 0);
        if (std::memcmp(&s, &previous, sizeof s) != 0)
            ++iChanges;
        cached.SetFilter(s.iType, s.dFrequency, s.dQ, s.dGainDb);
        recomputed.SetFilter(Biquad::kLowPass, 0.25, 1.0, 3.0); // the detour
        recomputed.SetFilter(s.iType, s.dFrequency, s.dQ, s.dGainDb);
        for (int i = b * kBlock; i < (b + 1) * kBlock; ++i) {
            outCached[static_cast<size_t>(i)] = cached.ProcessSample(in[static_cast<size_t>(i)]);
            outRecomputed[static_cast<size_t>(i)] = recomputed.ProcessSample(in[static_cast<size_t>(i)]);
        }
        ASSERT_EQ(cached.B0(), recomputed.B0()) << b;
        ASSERT_EQ(cached.A2(), recomputed.A2()) << b;
    }
    EXPECT_GT(iChanges, 20);
    EXPECT_TRUE(BitEqual(outCached, outRecomputed));
}

TEST(CoefficientCache, FilterSectionFollowsEveryChange)
{
    // A cache that missed a change would keep the old response.
    Biquad section;
    section.SetFilter(Biquad::kPeak, 0.01, 0.9, 12.0);
    const double dBoost = section.B0();
    section.SetFilter(Biquad::kPeak, 0.01, 0.9, -12.0);
    EXPECT_NE(section.B0(), dBoost);
    section.SetFilter(Biquad::kPeak, 0.02, 0.9, -12.0);
    const double dMoved = section.A1();
    section.SetFilter(Biquad::kPeak, 0.02, 0.5, -12.0);
    EXPECT_NE(section.A2(), dMoved);
    section.SetFilter(Biquad::kLowPass, 0.02, 0.5, -12.0);
    EXPECT_EQ(section.B1(), 2.0 * section.B0());
}

TEST(CoefficientCache, CombGainFollowsDelayAndDecay)
{
    const double dRate = 44100.0;
    Biquad cached(Biquad::kComb, 1.0, 0.03), recomputed(Biquad::kComb, 1.0, 0.03);
    for (Biquad* p : {&cached, &recomputed}) {
        p->SetSampleRate(&dRate);
        p->Reset();
    }
    const Signal in = Guitar(kBlock * kBlocks);
    Signal outCached(in.size()), outRecomputed(in.size());
    for (int b = 0; b < kBlocks; ++b) {
        const double dDecay = 0.5 + 0.25 * ((b / 9) % 5);
        const double dDelay = 0.02 + 0.001 * ((b / 13) % 3);
        cached.SetDecayTime(dDecay);
        cached.SetDelayTime(dDelay);
        recomputed.SetDecayTime(9.0);
        recomputed.SetDelayTime(0.5);
        recomputed.SetDecayTime(dDecay);
        recomputed.SetDelayTime(dDelay);
        ASSERT_EQ(cached.CombGain(), recomputed.CombGain()) << b;
        cached.ProcessRun(&in[static_cast<size_t>(b * kBlock)], &outCached[static_cast<size_t>(b * kBlock)], kBlock);
        recomputed.ProcessRun(&in[static_cast<size_t>(b * kBlock)], &outRecomputed[static_cast<size_t>(b * kBlock)],
                              kBlock);
    }
    EXPECT_TRUE(BitEqual(outCached, outRecomputed));
}

// The level and switch automation a player produces: a change every few blocks.
void Automate(test::BlockHost& host, int b)
{
    host[kDistortionLevel] = 0.1f + 0.15f * static_cast<float>((b / 5) % 6);
    host[kDistortionOnOff] = (b / 23) % 4 == 3 ? 0.0f : 1.0f;
}

// Runs two attached copies of an effect through the same automated blocks, `recomputed` after a
// detour before each: an empty block with `id` at `Other` of its value and another rate, which
// forces a recomputation. Both must give the same bits.
template <typename Effect, typename Other>
void ExpectCachedMatchesRecomputed(Effect& cached, test::BlockHost& hostCached, Effect& recomputed,
                                   test::BlockHost& hostRecomputed, ParamID id, Other other)
{
    const Signal in = Guitar(kBlock * kBlocks);
    Signal cachedL(in.size()), cachedR(in.size()), recomputedL(in.size()), recomputedR(in.size());
    for (int b = 0; b < kBlocks; ++b) {
        const size_t at = static_cast<size_t>(b * kBlock);
        Automate(hostCached, b);
        Automate(hostRecomputed, b);
        const float fValue = hostRecomputed[id];
        hostRecomputed[id] = other(fValue);
        hostRecomputed.dSampleRate = 48000.0;
        ASSERT_EQ(recomputed.Process(&in[at], &in[at], &recomputedL[at], &recomputedR[at], 0), 1);
        hostRecomputed[id] = fValue;
        hostRecomputed.dSampleRate = 44100.0;

        ASSERT_EQ(cached.Process(&in[at], &in[at], &cachedL[at], &cachedR[at], kBlock), 1);
        ASSERT_EQ(recomputed.Process(&in[at], &in[at], &recomputedL[at], &recomputedR[at], kBlock), 1);
    }
    EXPECT_TRUE(BitEqual(cachedL, recomputedL));
    EXPECT_TRUE(BitEqual(cachedR, recomputedR));
}

TEST(CoefficientCache, DistortionMatchesRecomputingEveryBlock)
{
    test::BlockHost hostCached, hostRecomputed;
    CMyDisto cached, recomputed;
    hostCached.Attach(cached);
    hostRecomputed.Attach(recomputed);
    // The detour: another level.
    ASSERT_NO_FATAL_FAILURE(ExpectCachedMatchesRecomputed(cached, hostCached, recomputed, hostRecomputed,
                                                          kDistortionLevel,
                                                          [](float fLevel) { return 1.0f - fLevel + 0.01f; }));
}

TEST(CoefficientCache, EqualisersMatchRecomputingEveryBlock)
{
    for (bool bPost : {false, true}) {
        SCOPED_TRACE(bPost);
        test::BlockHost hostCached, hostRecomputed;
        CMyEqu cached, recomputed;
        hostCached.Attach(cached);
        hostRecomputed.Attach(recomputed);
        cached.Configure(EffectConfiguration{}, bPost);
        recomputed.Configure(EffectConfiguration{}, bPost);
        // The detour (its empty block sets the bands): the other voicing.
        ASSERT_NO_FATAL_FAILURE(ExpectCachedMatchesRecomputed(
            cached, hostCached, recomputed, hostRecomputed, kDistortionOnOff,
            [](float fSwitch) { return fSwitch == 0.0f ? 1.0f : 0.0f; }));
    }
}

} // namespace
} // namespace corvex
