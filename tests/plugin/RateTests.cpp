// Corvex sounds the same at every sample rate the host picks.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "PluginTestSupport.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace {

constexpr int32 kBlock = 512;

// Level of each probe tone through the linear part of the chain (no distortion, dynamics,
// delay or reverb; the chorus stays on, its line sized from the rate), after it has settled.
std::vector<double> ToneLevels(test::PluginTest& fixture, corvex::hosting::PluginInstance& instance, double rate,
                               const std::vector<double>& tones)
{
    EXPECT_EQ(instance.Setup(rate, kBlock), kResultOk);
    EXPECT_EQ(instance.Activate(true), kResultOk);
    corvex::hosting::ProcessBlock settings(2, 2, 1);
    for (auto [id, value] : std::vector<std::pair<ParamID, double>>{{2, 0.0}, {4, 0.0}, {7, 0.0}, {10, 0.0}, {6, 0.0}})
        settings.inputChanges.Add(id, value);
    EXPECT_EQ(instance.Processor()->process(settings.Prepare(0)), kResultOk);

    std::vector<double> levels;
    const int total = static_cast<int>(rate * 0.5);
    const int measured = static_cast<int>(rate * 0.2);
    for (double tone : tones) {
        corvex::hosting::ProcessBlock block(2, 2, kBlock);
        std::vector<float> out;
        for (int done = 0; done < total; done += kBlock) {
            test::FillSine(block.In(0), kBlock, tone, rate, 0.05, done);
            test::FillSine(block.In(1), kBlock, tone, rate, 0.05, done);
            EXPECT_EQ(instance.Processor()->process(block.Prepare(kBlock)), kResultOk);
            out.insert(out.end(), block.Out(0), block.Out(0) + kBlock);
        }
        levels.push_back(test::ToneDb(out.data() + out.size() - measured, measured, tone, rate));
    }
    EXPECT_EQ(instance.Activate(false), kResultOk);
    (void)fixture;
    return levels;
}

class SampleRates : public test::PluginTest {};

TEST_F(SampleRates, SpectrumAgreesAcrossRatesOnOneInstance)
{
    // Below about 2 kHz the cabinet's nearest-sample reading of its response differs by a few
    // dB between rates on its own; these tones sit above that.
    const std::vector<double> tones = {2500.0, 3700.0, 5000.0};
    const auto at48 = ToneLevels(*this, *plugin, 48000.0, tones);
    // The same instance, re-set-up: every block must re-derive its sizes.
    const auto at96 = ToneLevels(*this, *plugin, 96000.0, tones);
    const auto at441 = ToneLevels(*this, *plugin, 44100.0, tones);
    for (size_t i = 0; i < tones.size(); ++i) {
        EXPECT_GT(at48[i], -60.0) << tones[i] << " Hz passes";
        EXPECT_NEAR(at96[i], at48[i], 1.0) << tones[i] << " Hz";
        EXPECT_NEAR(at441[i], at48[i], 1.0) << tones[i] << " Hz";
    }
}

TEST_F(SampleRates, TailFollowsTheRate)
{
    ASSERT_EQ(plugin->Setup(48000.0, kBlock), kResultOk);
    const uint32 at48 = plugin->Processor()->getTailSamples();
    ASSERT_EQ(plugin->Setup(96000.0, kBlock), kResultOk);
    const uint32 at96 = plugin->Processor()->getTailSamples();
    EXPECT_NEAR(static_cast<double>(at96), 2.0 * at48, 2.0);
}

// What the host is told: 24 eighth notes of delay repeats at the current tempo, the reverb's
// 6 s and 0.25 s more, in samples at the current rate, rounded up. A tail cut short would let a
// host stop calling the plug-in while the echoes still ring.
TEST_F(SampleRates, TailReportsRepeatsReverbAndMarginExactly)
{
    const struct {
        double rate;
        double bpm;
        uint32 samples;
    } cases[] = {
        {44100.0, 120.0, 540225},  // 6 + 6 + 0.25 s
        {48000.0, 60.0, 876000},   // 12 + 6.25 s
        {96000.0, 160.0, 1032000}, // 4.5 + 6.25 s
        {192000.0, 20.0, 8112000}, // 36 + 6.25 s
        {88200.0, 240.0, 815850},  // 3 + 6.25 s
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        ASSERT_EQ(plugin->Setup(c.rate, kBlock), kResultOk);
        ASSERT_EQ(plugin->Activate(true), kResultOk);
        corvex::hosting::ProcessBlock block(2, 2, kBlock);
        block.SetTempo(c.bpm);
        ASSERT_EQ(plugin->Processor()->process(block.Prepare(kBlock)), kResultOk);
        EXPECT_EQ(plugin->Processor()->getTailSamples(), c.samples) << c.bpm << " BPM";
        ASSERT_EQ(plugin->Activate(false), kResultOk);
    }
}

TEST_F(SampleRates, TailFollowsTheTempo)
{
    Start(44100.0, kBlock);
    EXPECT_EQ(plugin->Processor()->getTailSamples(), 540225u) << "120 BPM before the host says otherwise";
    corvex::hosting::ProcessBlock block(2, 2, kBlock);
    const struct {
        double bpm;
        uint32 samples;
    } steps[] = {
        {60.0, 804825},    // 12 + 6.25 s
        {240.0, 407925},   // 3 + 6.25 s
        {0.5, 32027625},   // held at 1 BPM: 720 + 6.25 s
        {120.0, 540225},
    };
    for (const auto& step : steps) {
        block.SetTempo(step.bpm);
        ASSERT_EQ(plugin->Processor()->process(block.Prepare(kBlock)), kResultOk);
        EXPECT_EQ(plugin->Processor()->getTailSamples(), step.samples) << step.bpm << " BPM";
    }
    // A context without a valid tempo leaves the last one.
    block.context.state &= ~Steinberg::Vst::ProcessContext::kTempoValid;
    block.context.tempo = 30.0;
    ASSERT_EQ(plugin->Processor()->process(block.Prepare(kBlock)), kResultOk);
    EXPECT_EQ(plugin->Processor()->getTailSamples(), 540225u);
}

// Reactivation resets every block. After more than the delay's 33 s line of playing, a reset
// that forgot part of it would replay it into the silence that follows. The equalisers keep
// their filter memories through a reset, so the reference is an instance that heard only the
// last half second of the same input: their memories agree by then.
TEST_F(SampleRates, ReactivationForgetsTheLongestLine)
{
    constexpr double kRate = 44100.0;
    const std::int64_t total = static_cast<std::int64_t>(34.0 * kRate) / kBlock * kBlock;
    const std::int64_t recent = static_cast<std::int64_t>(0.5 * kRate) / kBlock * kBlock;
    std::vector<std::vector<float>> outputs;
    for (std::int64_t from : {std::int64_t{0}, total - recent}) {
        auto instance = NewInstance();
        ASSERT_EQ(instance->Setup(kRate, kBlock), kResultOk);
        ASSERT_EQ(instance->Activate(true), kResultOk);
        corvex::hosting::ProcessBlock block(2, 2, kBlock);
        // The delay alone at full level (the equalisers and the cabinet always run).
        for (const auto& [id, value] : std::vector<std::pair<ParamID, double>>{
                 {2, 0.0}, {4, 0.0}, {8, 0.0}, {10, 0.0}, {11, 1.0}})
            block.inputChanges.Add(id, value);
        std::uint32_t state = 1u;
        for (std::int64_t done = 0; done < total; done += kBlock) {
            for (int i = 0; i < kBlock; ++i) {
                state = state * 1664525u + 1013904223u;
                block.In(0)[i] = block.In(1)[i] = static_cast<float>(state >> 8) / 16777216.0f - 0.5f;
            }
            if (done >= from) {
                ASSERT_EQ(instance->Processor()->process(block.Prepare(kBlock)), kResultOk);
                block.inputChanges.Clear();
            }
        }
        ASSERT_EQ(instance->Activate(false), kResultOk);
        ASSERT_EQ(instance->Activate(true), kResultOk);
        std::fill(block.In(0), block.In(0) + kBlock, 0.0f);
        std::fill(block.In(1), block.In(1) + kBlock, 0.0f);
        std::vector<float> out;
        for (int b = 0; b < static_cast<int>(kRate) / kBlock; ++b) {
            ASSERT_EQ(instance->Processor()->process(block.Prepare(kBlock)), kResultOk);
            out.insert(out.end(), block.Out(0), block.Out(0) + kBlock);
            out.insert(out.end(), block.Out(1), block.Out(1) + kBlock);
        }
        outputs.push_back(out);
    }
    float worst = 0.0f;
    for (std::size_t i = 0; i < outputs[0].size(); ++i)
        worst = std::max(worst, std::fabs(outputs[0][i] - outputs[1][i]));
    EXPECT_LT(worst, 1e-6f) << "stale echoes after the reset";
}

TEST_F(SampleRates, UnusableRatesAreRefused)
{
    EXPECT_EQ(plugin->Setup(0.0, kBlock), kResultFalse);
    EXPECT_EQ(plugin->Setup(-48000.0, kBlock), kResultFalse);
    EXPECT_EQ(plugin->Setup(std::nan(""), kBlock), kResultFalse);
    EXPECT_EQ(plugin->Setup(44100.0, kBlock), kResultOk);
}

// Everything the process writes to its standard error stream while alive.
class StderrCapture {
public:
    StderrCapture()
    {
        std::fflush(stderr);
        m_file = std::tmpfile();
        m_saved = dup(2);
        if (m_file != nullptr && m_saved >= 0)
            dup2(fileno(m_file), 2);
    }
    ~StderrCapture() { Release(); }

    std::string Release()
    {
        std::string text;
        if (m_saved < 0)
            return text;
        std::fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
        m_saved = -1;
        if (m_file != nullptr) {
            std::rewind(m_file);
            char buffer[512];
            for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0;)
                text.append(buffer, n);
            std::fclose(m_file);
            m_file = nullptr;
        }
        return text;
    }

private:
    std::FILE* m_file = nullptr;
    int m_saved = -1;
};

// Samples between the direct sound of an impulse and its first echo, with only the delay of
// the time effects on; the output must stay finite and within full scale all along.
double EchoDelaySamples(test::PluginTest& fixture, corvex::hosting::PluginInstance& instance, double rate)
{
    EXPECT_EQ(instance.Setup(rate, kBlock), kResultOk);
    EXPECT_EQ(instance.Activate(true), kResultOk);
    corvex::hosting::ProcessBlock settings(2, 2, 1);
    for (auto [id, value] : std::vector<std::pair<ParamID, double>>{{2, 0.0}, {4, 0.0}, {8, 0.0}, {10, 0.0}, {6, 0.0}, {7, 1.0}})
        settings.inputChanges.Add(id, value);
    EXPECT_EQ(instance.Processor()->process(settings.Prepare(0)), kResultOk);
    corvex::hosting::ProcessBlock block(2, 2, kBlock);
    block.SetTempo(120.0);
    std::vector<float> out;
    const int total = static_cast<int>(rate * 0.4);
    for (int done = 0; done < total; done += kBlock) {
        std::fill(block.In(0), block.In(0) + kBlock, 0.0f);
        std::fill(block.In(1), block.In(1) + kBlock, 0.0f);
        if (done == 0)
            block.In(0)[0] = block.In(1)[0] = 0.1f;
        EXPECT_EQ(instance.Processor()->process(block.Prepare(kBlock)), kResultOk);
        EXPECT_TRUE(test::AllFinite(block.Out(0), kBlock) && test::AllFinite(block.Out(1), kBlock));
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < kBlock; ++i)
                EXPECT_LE(std::fabs(block.Out(c)[i]), 1.0f);
        out.insert(out.end(), block.Out(0), block.Out(0) + kBlock);
    }
    EXPECT_EQ(instance.Activate(false), kResultOk);
    (void)fixture;
    const auto peak = [&](int from, int to) {
        int at = from;
        for (int i = from; i < to; ++i)
            if (std::fabs(out[size_t(i)]) > std::fabs(out[size_t(at)]))
                at = i;
        return at;
    };
    const int direct = peak(0, static_cast<int>(rate * 0.1));
    return peak(static_cast<int>(rate * 0.15), static_cast<int>(rate * 0.35)) - direct;
}

TEST_F(SampleRates, OddRatesBelowTheCeilingKeepTheirTimesAndPrintNothing)
{
    StderrCapture capture;
    const double at48 = EchoDelaySamples(*this, *plugin, 48000.0);
    const double odd = EchoDelaySamples(*this, *plugin, 12345.678);
    const double low = EchoDelaySamples(*this, *plugin, 1234.5678);
    const double top = EchoDelaySamples(*this, *plugin, 192000.0);
    const std::string printed = capture.Release();
    // An eighth note at 120 BPM.
    EXPECT_NEAR(at48, 0.25 * 48000.0, 1.0);
    EXPECT_NEAR(odd, 0.25 * 12345.678, 1.0);
    EXPECT_NEAR(low, 0.25 * 1234.5678, 1.0);
    EXPECT_NEAR(top, 0.25 * 192000.0, 1.0);
    EXPECT_EQ(printed, "");
}

TEST_F(SampleRates, RatesAboveTheLinesCapacityAreRefusedSilently)
{
    StderrCapture capture;
    for (double rate : {192000.5, 384000.0, 1234567.8}) {
        ProcessSetup setup{kRealtime, kSample32, kBlock, rate};
        EXPECT_EQ(plugin->Processor()->setupProcessing(setup), kResultFalse) << rate;
    }
    // The refusal leaves the processor as it was: it still runs at the last accepted rate.
    ASSERT_EQ(plugin->Setup(384000.0, kBlock), kResultFalse);
    const double echo = EchoDelaySamples(*this, *plugin, 96000.0);
    const std::string printed = capture.Release();
    EXPECT_NEAR(echo, 0.25 * 96000.0, 1.0);
    EXPECT_EQ(printed, "");
}

} // namespace
