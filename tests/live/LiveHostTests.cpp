// The host's real-time path in-process: the audio thread processes periods while the
// user-interface thread edits and reads meters. The audio thread must not allocate or lock.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "AudioCalls.h"
#include "FactoryPresets.h"
#include "LiveHost.h"
#include "FactoryPresets.h"
#include "MidiMap.h"
#include "StateLayout.h"
#include "base/Parameters.h"
#include "RenderTestSupport.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"

namespace {

using namespace corvex::live;

constexpr double kRate = 48000.0;
constexpr int kPeriod = 64;

std::unique_ptr<CLiveHost> LoadHost()
{
    std::string error;
    auto host = CLiveHost::Load(CORVEX_BUNDLE_PATH, error);
    EXPECT_TRUE(host) << error;
    return host;
}

TEST(LiveHost, AudioThreadNeitherAllocatesNorLocksWhileTheEditorEdits)
{
    auto host = LoadHost();
    ASSERT_TRUE(host);
    std::string error;
    ASSERT_TRUE(host->Start(kRate, 8192, 120.0, error)) << error;

    const std::vector<float> phrase = render_test::PluckedTestSignal(static_cast<int>(kRate), 2.0);
    constexpr int kPeriods = 1500;
    // The audio thread plays on until the editor has sent this many edits (or the time limit
    // passes), however the two threads are scheduled.
    constexpr int kEdits = 10;
    constexpr std::chrono::seconds kLimit{60};
    std::atomic<bool> done{false};
    std::atomic<int> badOutput{0};
    std::atomic<int> edits{0};
    int periods = 0;
    std::thread audio([&] {
        std::vector<float> inL(kPeriod), inR(kPeriod, 0.0f), outL(kPeriod), outR(kPeriod);
        const auto start = std::chrono::steady_clock::now();
        int p = 0;
        for (; p < kPeriods || (edits < kEdits && std::chrono::steady_clock::now() - start < kLimit); ++p) {
            for (int i = 0; i < kPeriod; ++i)
                inL[static_cast<size_t>(i)] = phrase[static_cast<size_t>(p * kPeriod + i) % phrase.size()];
            {
                const test::AudioPeriod period;
                host->ProcessPeriod(inL.data(), inR.data(), outL.data(), outR.data(), kPeriod, p % 3 == 0 ? 97.0 : 0.0);
            }
            for (int i = 0; i < kPeriod; ++i)
                if (!std::isfinite(outL[static_cast<size_t>(i)]) || std::fabs(outL[static_cast<size_t>(i)]) > 1.0f)
                    ++badOutput;
        }
        periods = p;
        done = true;
    });

    // The user-interface thread: knob turns through the controller's component handler, as the
    // editor sends them, and the meters taken in.
    std::minstd_rand random(3);
    double lastSent[20] = {};
    bool sent[20] = {};
    while (!done) {
        const Steinberg::Vst::ParamID id = 1 + random() % 12;
        const double value = (random() % 1000) / 999.0;
        host->Controller()->setParamNormalized(id, value);
        host->EditHandler()->performEdit(id, value);
        lastSent[id] = value;
        sent[id] = true;
        ++edits;
        host->Dispatch();
        std::this_thread::yield();
    }
    audio.join();
    // More periods take the edits still queued (a flood of them can outrun the queue).
    std::vector<float> silence(kPeriod, 0.0f), out(kPeriod);
    int extraPeriods = 0;
    do {
        host->Dispatch();
        host->ProcessPeriod(silence.data(), silence.data(), out.data(), out.data(), kPeriod, 0.0);
        ++extraPeriods;
    } while (host->EditsWaiting() > 0);
    host->Dispatch();

    EXPECT_EQ(badOutput.load(), 0);
    EXPECT_EQ(test::AudioAllocations(), 0);
    EXPECT_EQ(test::AudioLocks(), 0);
    EXPECT_GE(edits.load(), kEdits);
    EXPECT_GT(host->EditsDelivered(), 0u);
    EXPECT_EQ(host->PeriodsProcessed(), static_cast<std::uint64_t>(periods + extraPeriods));
    EXPECT_EQ(host->FailedPeriods(), 0u);

    // Every parameter ends at the last value the editor sent.
    std::vector<unsigned char> state;
    ASSERT_TRUE(host->GetState(state));
    ASSERT_EQ(state.size(), 80u);
    for (int id = 1; id <= 12; ++id) {
        if (!sent[id])
            continue;
        float value = 0.0f;
        std::memcpy(&value, &state[static_cast<size_t>(id) * 4], 4);
        // Switches take the host's on/off reading of a value.
        const bool isSwitch = corvex::kParamInfos[id].stepCount == 1;
        EXPECT_EQ(value, isSwitch ? (lastSent[id] >= 0.5 ? 1.0f : 0.0f) : static_cast<float>(lastSent[id])) << id;
    }
    // The meters came back to the controller.
    EXPECT_GT(host->Controller()->getParamNormalized(13) + host->Indicator(13), 0.0);
}

TEST(LiveHost, TransportTempoIsUsedOnlyWhenValid)
{
    auto host = LoadHost();
    ASSERT_TRUE(host);
    std::string error;
    ASSERT_TRUE(host->Start(kRate, kPeriod, 100.0, error)) << error;
    std::vector<float> in(kPeriod, 0.0f), out(kPeriod);
    host->ProcessPeriod(in.data(), in.data(), out.data(), out.data(), kPeriod, 0.0);
    EXPECT_EQ(host->TempoInUse(), 100.0);
    host->ProcessPeriod(in.data(), in.data(), out.data(), out.data(), kPeriod, 140.0);
    EXPECT_EQ(host->TempoInUse(), 140.0);
    host->ProcessPeriod(in.data(), in.data(), out.data(), out.data(), kPeriod, std::nan(""));
    EXPECT_EQ(host->TempoInUse(), 100.0);
    host->ProcessPeriod(in.data(), in.data(), out.data(), out.data(), kPeriod, 5000.0);
    EXPECT_EQ(host->TempoInUse(), 100.0);
}

TEST(LiveHost, APeriodLongerThanAnnouncedIsProcessedInPieces)
{
    auto host = LoadHost();
    ASSERT_TRUE(host);
    std::string error;
    ASSERT_TRUE(host->Start(kRate, 64, 120.0, error)) << error;
    const std::vector<float> phrase = render_test::PluckedTestSignal(static_cast<int>(kRate), 0.1);
    std::vector<float> out(phrase.size(), -9.0f), outR(phrase.size());
    host->ProcessPeriod(phrase.data(), phrase.data(), out.data(), outR.data(), static_cast<int>(phrase.size()), 0.0);
    for (float v : out)
        ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 1.0f);
    EXPECT_EQ(host->FailedPeriods(), 0u);
}

// The component state's value of one parameter.
float StateValue(CLiveHost& host, std::uint32_t id)
{
    std::vector<unsigned char> state;
    EXPECT_TRUE(host.GetState(state));
    float value = -1.0f;
    if (state.size() == corvex::kStateSize)
        std::memcpy(&value, &state[id * corvex::kStateValueBytes], corvex::kStateValueBytes);
    return value;
}

// An editor can send edits faster than periods come (a knob dragged while the audio thread is
// held up): beyond the queue's room they wait, in order, none is lost, and each parameter ends at
// the last value sent, the bypass switch included.
TEST(LiveHost, EditsBeyondTheQueuesRoomWaitInOrderAndNoneIsLost)
{
    auto host = LoadHost();
    ASSERT_TRUE(host);
    std::string error;
    ASSERT_TRUE(host->Start(kRate, kPeriod, 120.0, error)) << error;
    std::vector<float> in(kPeriod, 0.0f), out(kPeriod);
    auto period = [&] { host->ProcessPeriod(in.data(), in.data(), out.data(), out.data(), kPeriod, 0.0); };

    Steinberg::Vst::IComponentHandler* editor = host->EditHandler();
    editor->performEdit(corvex::kDelayLevel, 0.125); // the oldest edit in the queue
    const int flood = static_cast<int>(CLiveHost::kQueueSize) + 100;
    for (int i = 0; i < flood; ++i)
        editor->performEdit(corvex::kDistortionLevel, i / static_cast<double>(flood));
    editor->performEdit(corvex::kReverbLevel, 0.75); // waits behind the flood
    EXPECT_GT(host->EditsWaiting(), 100u);
    period();
    // An edit made while others still wait comes after them.
    editor->performEdit(corvex::kDistortionLevel, 0.25);
    editor->performEdit(corvex::kBypass, 1.0);
    for (int i = 0; i < 4; ++i) {
        host->Dispatch();
        period();
    }
    EXPECT_EQ(host->EditsWaiting(), 0u);
    EXPECT_EQ(StateValue(*host, corvex::kDelayLevel), 0.125f);
    EXPECT_EQ(StateValue(*host, corvex::kReverbLevel), 0.75f);
    EXPECT_EQ(StateValue(*host, corvex::kDistortionLevel), 0.25f);
    EXPECT_EQ(StateValue(*host, corvex::kBypass), 1.0f);
    // Bypassed, the input passes unchanged.
    for (int i = 0; i < kPeriod; ++i)
        in[static_cast<size_t>(i)] = 0.001f * static_cast<float>(i);
    period();
    EXPECT_EQ(out, in);
}

// What the processor reports for its meters and LEDs reaches the controller (and so the
// editor's meters) and the status line alike.
TEST(LiveHost, MetersReachTheControllerAndTheStatusLine)
{
    auto host = LoadHost();
    ASSERT_TRUE(host);
    std::string error;
    ASSERT_TRUE(host->Start(kRate, kPeriod, 120.0, error)) << error;
    const std::vector<float> phrase = render_test::PluckedTestSignal(static_cast<int>(kRate), 0.25);
    std::vector<float> out(kPeriod), outR(kPeriod);
    for (std::size_t at = 0; at + kPeriod <= phrase.size(); at += kPeriod)
        host->ProcessPeriod(&phrase[at], &phrase[at], out.data(), outR.data(), kPeriod, 0.0);
    EXPECT_EQ(host->Controller()->getParamNormalized(corvex::kOutputLeftVumeter), 0.0)
        << "not before the user-interface thread takes it";
    host->Dispatch();
    const double meter = host->Controller()->getParamNormalized(corvex::kOutputLeftVumeter);
    EXPECT_GT(meter, 0.0);
    EXPECT_EQ(host->Indicator(corvex::kOutputLeftVumeter), meter);
}

// A period's MIDI as a byte string per event, read as the JACK port's events are: through one
// parser, so running status carries from event to event.
class CByteEvents final : public CMidiEvents {
public:
    explicit CByteEvents(std::vector<std::vector<std::uint8_t>> events) : m_aEvents(std::move(events)) {}
    bool Next(MidiEvent& event) override
    {
        for (; m_event < m_aEvents.size(); ++m_event, m_byte = 0)
            while (m_byte < m_aEvents[m_event].size())
                if (m_parser.Feed(m_aEvents[m_event][m_byte++], event.message)) {
                    event.offset = static_cast<int>(m_event % kPeriod);
                    return true;
                }
        return false;
    }

private:
    std::vector<std::vector<std::uint8_t>> m_aEvents;
    std::size_t m_event = 0, m_byte = 0;
    corvex::CMidiParser m_parser;
};

using Bytes = std::vector<std::vector<std::uint8_t>>;
using Values = std::vector<std::pair<std::uint32_t, double>>;

// One period with `events` on the audio thread (counted), then the user-interface thread's turn.
void PeriodWithMidi(CLiveHost& host, const Bytes& events)
{
    std::vector<float> in(kPeriod, 0.0f), out(kPeriod);
    CByteEvents midi(events);
    {
        const test::AudioPeriod period;
        host.ProcessPeriod(in.data(), in.data(), out.data(), out.data(), kPeriod, 0.0, &midi);
    }
    host.Dispatch();
}

// Each parameter at its value in the processor and in the controller; the others at their defaults.
void ExpectValues(CLiveHost& host, const Values& expected)
{
    for (std::uint32_t id = 1; id <= corvex::kReverbLevel; ++id) {
        double want = corvex::kParamInfos[id].defaultValue;
        for (const auto& [which, value] : expected)
            if (which == id)
                want = value;
        EXPECT_FLOAT_EQ(StateValue(host, id), static_cast<float>(want)) << id;
        EXPECT_FLOAT_EQ(static_cast<float>(host.Controller()->getParamNormalized(id)), static_cast<float>(want)) << id;
    }
}

// Control and Program Changes reach the processor and the controller per the map, in one period
// and without allocating or locking; what is not for corvex is passed over without a trace.
TEST(LiveHost, MidiIsAppliedOnTheAudioThreadAndTheRestIgnored)
{
    Bytes burst;
    for (int i = 0; i < 5000; ++i)
        burst.push_back({0xB0, 24, static_cast<std::uint8_t>(i % 128)});
    burst.push_back({0xB0, 24, 7});
    std::vector<std::pair<std::uint32_t, double>> preset;
    for (std::uint32_t id = 1; id <= corvex::kReverbLevel; ++id)
        preset.emplace_back(id, corvex::kFactoryPresets[2].values[id - 1]);
    struct Row {
        const char* what;
        int channel;
        Bytes events;
        Values expected;
    };
    const Row rows[] = {
        {"a level", -1, {{0xB0, 24, 100}}, {{5, 100.0 / 127}}},
        {"switches from 64", -1, {{0xB5, 23, 63}, {0xB5, 26, 64}, {0xBF, 25, 127}}, {{4, 0.0}, {7, 1.0}, {6, 1.0}}},
        {"Expression", -1, {{0xB0, 11, 127}}, {{5, 1.0}}},
        {"running status", -1, {{0xB0, 24, 0, 25, 127}, {30, 16}}, {{5, 0.0}, {6, 1.0}, {11, 16.0 / 127}}},
        {"System Exclusive", -1, {{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, {0xF0, 0x00, 0x01}, {24, 127, 0xF7}, {0xB0, 22, 5}},
         {{3, 5.0 / 127}}},
        {"real-time bytes", -1, {{0xFE}, {0xB0, 0xFE, 24, 0xF8, 32}}, {{5, 32.0 / 127}}},
        {"other channels", 1, {{0xB0, 24, 127}, {0xB1, 23, 0}, {0xC0, 2}}, {{4, 0.0}}},
        {"a burst", -1, burst, {{5, 7.0 / 127}}},
        {"notes and unmapped controllers", -1, {{0x90, 60, 100}, {0xB0, 64, 127}, {0xB0, 7, 0}, {0xE0, 0, 64}}, {}},
        {"a program", -1, {{0xC0, 2}}, preset},
        {"a program past the list", -1, {{0xC0, 127}}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto host = LoadHost();
        ASSERT_TRUE(host);
        host->SetMidiChannel(row.channel);
        std::string error;
        ASSERT_TRUE(host->Start(kRate, kPeriod, 120.0, error)) << error;
        PeriodWithMidi(*host, row.events);
        PeriodWithMidi(*host, {});
        EXPECT_EQ(test::AudioAllocations(), 0);
        EXPECT_EQ(test::AudioLocks(), 0);
        ExpectValues(*host, row.expected);
    }
}

// Learning binds the next controller moved (and lets go of what reached the parameter); a
// footswitch that sends 127 on every press is recognised and toggles; Forget unbinds.
TEST(LiveHost, LearningBindsTheNextControllerMoved)
{
    auto host = LoadHost();
    ASSERT_TRUE(host);
    std::string error;
    ASSERT_TRUE(host->Start(kRate, kPeriod, 120.0, error)) << error;
    struct Step {
        std::uint32_t learn, forget;
        Bytes events;
        Values expected;
    };
    const Step steps[] = {
        {5, 0, {{0xB0, 40, 80}, {0xB0, 24, 127}}, {{5, 80.0 / 127}}},
        {4, 0, {{0xB0, 41, 127}}, {{5, 80.0 / 127}, {4, 1.0}}},
        {0, 0, {{0xB0, 41, 127}}, {{5, 80.0 / 127}, {4, 0.0}}},
        {0, 0, {{0xB0, 41, 127}, {0xB0, 41, 127}, {0xB0, 41, 127}}, {{5, 80.0 / 127}, {4, 1.0}}},
        {7, 0, {{0xB0, 42, 127}, {0xB0, 42, 0}, {0xB0, 42, 0}}, {{5, 80.0 / 127}, {4, 1.0}, {7, 0.0}}},
        {0, 5, {{0xB0, 40, 127}, {0xB0, 11, 127}}, {{5, 80.0 / 127}, {4, 1.0}, {7, 0.0}}},
    };
    for (const Step& step : steps) {
        if (step.learn)
            host->Learn(step.learn);
        if (step.forget)
            host->Forget(step.forget);
        EXPECT_EQ(host->Learning(), step.learn);
        PeriodWithMidi(*host, step.events);
        EXPECT_EQ(host->Learning(), 0u);
        ExpectValues(*host, step.expected);
    }
    corvex::MidiControllerMap expected = corvex::MidiControllerMap::Default();
    expected.Forget(5);
    expected.Forget(4);
    expected.Forget(7);
    expected.Bind(41, 4, true);
    expected.Bind(42, 7);
    EXPECT_EQ(host->MidiMap(), expected);
    EXPECT_EQ(test::AudioAllocations(), 0);
}

} // namespace

namespace {

// A preset applied from corvex reaches the processor as a host's message and plays from the next
// period; the controller (and so the panel) follows with what the processor reports.
TEST(LiveHost, APresetAppliedPlaysAndTheControllerFollows)
{
    auto host = LoadHost();
    ASSERT_TRUE(host);
    std::string error;
    ASSERT_TRUE(host->Start(kRate, kPeriod, 120.0, error)) << error;
    std::vector<float> in(kPeriod, 0.0f), out(kPeriod);
    const corvex::FactoryPreset& preset = *corvex::FindFactoryPreset("Tight Rhythm");
    ASSERT_TRUE(host->ApplyPreset(preset.values));
    EXPECT_EQ(StateValue(*host, corvex::kDelayOnOff), 1.0f) << "not before the next period";
    host->ProcessPeriod(in.data(), in.data(), out.data(), out.data(), kPeriod, 0.0);
    host->Dispatch();
    for (std::uint32_t id = 1; id <= preset.values.size(); ++id) {
        EXPECT_EQ(StateValue(*host, id), preset.values[id - 1]) << id;
        EXPECT_FLOAT_EQ(static_cast<float>(host->Controller()->getParamNormalized(id)), preset.values[id - 1]) << id;
    }
}

} // namespace
