#include "AudioCalls.h"
#include "EngineTestSupport.h"
#include "TunerAnalyser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

namespace {

using corvex::CSampleRing;
using corvex::CTunerAnalyser;
using corvex::TunerReading;

constexpr double kRate = 44100.0;

bool Same(const TunerReading& a, const TunerReading& b)
{
    return a.dSeconds == b.dSeconds && a.pitch.bPitched == b.pitch.bPitched && a.pitch.dHertz == b.pitch.dHertz &&
           a.pitch.iNote == b.pitch.iNote && a.pitch.dCents == b.pitch.dCents;
}

// An audio thread copies blocks into the ring while another drains it: the readings are those
// of the samples fed straight, one per 50 ms, and neither thread allocates or locks meanwhile.
TEST(TunerAnalyser, ReadsThroughTheRingAsFedStraightWithoutAllocatingOrLocking)
{
    const std::vector<float> string = corvex::test::PluckedString(82.407, 1e-4, kRate, 1.0, 0.1);
    std::vector<TunerReading> straight;
    CTunerAnalyser direct(kRate);
    direct.Feed(string.data(), static_cast<int>(string.size()), [&](const TunerReading& r) { straight.push_back(r); });
    ASSERT_EQ(straight.size(), 20u);
    for (std::size_t i = 0; i < straight.size(); ++i)
        EXPECT_DOUBLE_EQ(straight[i].dSeconds, 0.05 * static_cast<double>(i + 1));
    EXPECT_FALSE(straight.front().pitch.bPitched);
    EXPECT_TRUE(straight.back().pitch.bPitched);

    // Room for the whole signal: however the threads are scheduled, nothing is dropped.
    CSampleRing ring(static_cast<int>(string.size()));
    CTunerAnalyser analyser(kRate);
    std::vector<TunerReading> drained;
    drained.reserve(straight.size());
    const int before = test::AudioAllocations() + test::AudioLocks();
    int written = 0;
    std::thread audio([&] {
        test::AudioPeriod period;
        constexpr int kBlock = 64;
        for (std::size_t i = 0; i < string.size(); i += kBlock)
            written += ring.Write(string.data() + i, static_cast<int>(std::min<std::size_t>(kBlock, string.size() - i)));
    });
    {
        test::AudioPeriod period;
        while (drained.size() < straight.size())
            analyser.Drain(ring, [&](const TunerReading& r) { drained.push_back(r); });
    }
    audio.join();
    EXPECT_EQ(test::AudioAllocations() + test::AudioLocks(), before);
    EXPECT_EQ(written, static_cast<int>(string.size()));
    EXPECT_EQ(ring.Dropped(), 0u);
    ASSERT_EQ(drained.size(), straight.size());
    for (std::size_t i = 0; i < straight.size(); ++i)
        EXPECT_TRUE(Same(drained[i], straight[i])) << i;
}

// A ring the consumer has let fill keeps the oldest samples, counts the rest as dropped, and
// gives back what it kept in order across its end.
TEST(TunerAnalyser, FullRingDropsTheNewestAndCountsThem)
{
    CSampleRing ring(6);
    ASSERT_EQ(ring.Capacity(), 8);
    const float first[5] = {1, 2, 3, 4, 5}, second[5] = {6, 7, 8, 9, 10};
    float out[8] = {};
    EXPECT_EQ(ring.Write(first, 5), 5);
    EXPECT_EQ(ring.Read(out, 3), 3);
    EXPECT_EQ(ring.Write(second, 5), 5);
    EXPECT_EQ(ring.Write(first, 5), 1);
    EXPECT_EQ(ring.Dropped(), 4u);
    EXPECT_EQ(ring.Read(out, 8), 8);
    const float expected[8] = {4, 5, 6, 7, 8, 9, 10, 1};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out[i], expected[i]) << i;
    EXPECT_EQ(ring.Read(out, 8), 0);
}

} // namespace
