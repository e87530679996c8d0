#include "AudioCalls.h"
#include "EngineTestSupport.h"
#include "TunerAnalyser.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using corvex::CSampleRing;
using corvex::CTunerAnalyser;
using corvex::TunerReading;

// An audio thread copies blocks into the ring while another drains it: the readings are those
// of the samples fed straight, one per 50 ms, and neither thread allocates or locks meanwhile.
TEST(TunerAnalyser, ReadsThroughTheRingAsFedStraightWithoutAllocatingOrLocking)
{
    constexpr double kRate = 44100.0;
    const std::vector<float> string = corvex::test::PluckedString(82.407, 1e-4, kRate, 1.0, 0.1);
    std::vector<TunerReading> straight, drained;
    CTunerAnalyser direct(kRate), analyser(kRate);
    direct.Feed(string.data(), static_cast<int>(string.size()), [&](const TunerReading& r) { straight.push_back(r); });
    ASSERT_EQ(straight.size(), 20u);
    EXPECT_TRUE(!straight.front().pitch.bPitched && straight.back().pitch.bPitched);

    CSampleRing ring(static_cast<int>(string.size())); // room for all: nothing dropped, however scheduled
    drained.reserve(straight.size());
    const int before = test::AudioAllocations() + test::AudioLocks();
    int written = 0;
    std::thread audio([&] {
        test::AudioPeriod period;
        for (std::size_t i = 0; i < string.size(); i += 64)
            written += ring.Write(string.data() + i, static_cast<int>(std::min<std::size_t>(64, string.size() - i)));
    });
    {
        test::AudioPeriod period;
        while (drained.size() < straight.size())
            analyser.Drain(ring, [&](const TunerReading& r) { drained.push_back(r); });
    }
    audio.join();
    EXPECT_EQ(test::AudioAllocations() + test::AudioLocks(), before);
    EXPECT_EQ(written, static_cast<int>(string.size()));
    ASSERT_EQ(drained.size(), straight.size());
    for (std::size_t i = 0; i < straight.size(); ++i) {
        EXPECT_DOUBLE_EQ(drained[i].dSeconds, 0.05 * static_cast<double>(i + 1));
        EXPECT_EQ(drained[i].pitch.dHertz, straight[i].pitch.dHertz) << i;
    }
}

// A ring the consumer has let fill keeps the oldest samples, counts the rest as dropped, and
// gives back what it kept in order across its end.
TEST(TunerAnalyser, FullRingDropsTheNewestAndCountsThem)
{
    CSampleRing ring(6);
    const float first[5] = {1, 2, 3, 4, 5}, second[5] = {6, 7, 8, 9, 10};
    float out[8] = {};
    EXPECT_EQ(ring.Write(first, 5) + ring.Read(out, 3) + ring.Write(second, 5) + ring.Write(first, 5), 14);
    EXPECT_EQ(ring.Dropped(), 4u);
    EXPECT_EQ(ring.Read(out, 8), 8);
    EXPECT_EQ(std::vector<float>(out, out + 8), std::vector<float>({4, 5, 6, 7, 8, 9, 10, 1}));
}

} // namespace
