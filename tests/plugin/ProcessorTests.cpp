// The processor through the binary interface: buses, set-up, parameter changes, bypass,
// silence, indicators, odd block shapes.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "FactoryPresets.h"
#include "MidiMap.h"
#include "PluginTestSupport.h"
#include "corvexparameters.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/vstspeaker.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using corvex::hosting::ProcessBlock;

namespace {

constexpr double kRate = 44100.0;
constexpr int32 kBlock = 512;

std::string BusName(IComponent* component, BusDirection dir, int32 index)
{
    BusInfo info{};
    if (component->getBusInfo(kAudio, dir, index, info) != kResultOk)
        return "<none>";
    std::string name;
    for (const char16* c = info.name; *c; ++c)
        name.push_back(static_cast<char>(*c));
    return name;
}

class Processor : public test::PluginTest {};

TEST_F(Processor, NegotiatesBusesByTheTable)
{
    IComponent* component = plugin->Component();
    IAudioProcessor* processor = plugin->Processor();
    EXPECT_EQ(component->getBusCount(kAudio, kInput), 1);
    EXPECT_EQ(component->getBusCount(kAudio, kOutput), 1);
    EXPECT_EQ(component->getBusCount(kEvent, kInput), 1);
    BusInfo event{};
    ASSERT_EQ(component->getBusInfo(kEvent, kInput, 0, event), kResultOk);
    EXPECT_EQ(event.channelCount, 1);
    EXPECT_EQ(BusName(component, kInput, 0), "Stereo In");

    SpeakerArrangement stereo = SpeakerArr::kStereo;
    SpeakerArrangement mono = SpeakerArr::kMono;
    SpeakerArrangement surround = SpeakerArr::k51;
    SpeakerArrangement empty = SpeakerArr::kEmpty;

    EXPECT_EQ(processor->setBusArrangements(&stereo, 1, &stereo, 1), kResultTrue);
    EXPECT_EQ(processor->setBusArrangements(&mono, 1, &mono, 1), kResultTrue);
    EXPECT_EQ(BusName(component, kInput, 0), "Mono In");
    EXPECT_EQ(BusName(component, kOutput, 0), "Mono Out");
    SpeakerArrangement arrangement = 0;
    ASSERT_EQ(processor->getBusArrangement(kOutput, 0, arrangement), kResultTrue);
    EXPECT_EQ(arrangement, SpeakerArr::kMono);

    // Mixed requests fall back to plain stereo and are refused.
    EXPECT_EQ(processor->setBusArrangements(&mono, 1, &stereo, 1), kResultFalse);
    EXPECT_EQ(BusName(component, kInput, 0), "Stereo In");
    EXPECT_EQ(BusName(component, kOutput, 0), "Stereo Out");
    ASSERT_EQ(processor->getBusArrangement(kInput, 0, arrangement), kResultTrue);
    EXPECT_EQ(arrangement, SpeakerArr::kStereo);

    EXPECT_EQ(processor->setBusArrangements(&stereo, 1, &mono, 1), kResultFalse);
    EXPECT_EQ(processor->setBusArrangements(&surround, 1, &surround, 1), kResultFalse);
    EXPECT_EQ(processor->setBusArrangements(&empty, 1, &mono, 1), kResultFalse);
    SpeakerArrangement two[2] = {stereo, stereo};
    EXPECT_EQ(processor->setBusArrangements(two, 2, &stereo, 1), kResultFalse);
    EXPECT_EQ(processor->setBusArrangements(&stereo, 0, &stereo, 1), kResultFalse);
    EXPECT_EQ(component->getBusCount(kAudio, kInput), 1);
    EXPECT_EQ(BusName(component, kInput, 0), "Stereo In");
}

TEST_F(Processor, RefusesDoublePrecisionAndAsksForTheTempo)
{
    IAudioProcessor* processor = plugin->Processor();
    EXPECT_EQ(processor->canProcessSampleSize(kSample32), kResultTrue);
    EXPECT_EQ(processor->canProcessSampleSize(kSample64), kResultFalse);
    EXPECT_EQ(plugin->Setup(kRate, kBlock, kSample64), kResultFalse);
    EXPECT_EQ(plugin->Setup(kRate, kBlock), kResultOk);
    EXPECT_EQ(processor->getLatencySamples(), 0u);

    FUnknownPtr<IProcessContextRequirements> requirements(processor);
    ASSERT_TRUE(requirements);
    EXPECT_TRUE(requirements->getProcessContextRequirements() & IProcessContextRequirements::kNeedTempo);
}

TEST_F(Processor, LastQueuePointWinsAndOnlyParametersCount)
{
    Start();
    ProcessBlock block(2, 2, kBlock);
    int32 index = 0;
    auto* queue = block.inputChanges.addParameterData(5, index);
    // More points than a host queue is made with room for.
    constexpr int32 kPoints = 40;
    for (int32 p = 0; p < kPoints - 1; ++p)
        queue->addPoint(p, 0.1 + 0.005 * p, index);
    queue->addPoint(kBlock - 1, 0.3, index);
    EXPECT_EQ(index, kPoints - 1);
    ASSERT_EQ(queue->getPointCount(), kPoints);
    for (ParamID outside : {0u, 20u, 21u, 999u, 0xFFFFFFFFu})
        block.inputChanges.Add(outside, 0.5);
    // A queue without points changes nothing.
    int32 emptyIndex = 0;
    block.inputChanges.addParameterData(3, emptyIndex);
    ASSERT_EQ(Process(block, kBlock), kResultOk);

    std::vector<float> expected = test::DefaultStateFloats();
    expected[5] = 0.3f;
    std::vector<float> state = ComponentState();
    for (int id = 1; id <= 12; ++id)
        EXPECT_EQ(state[id], expected[id]) << "id " << id;
    EXPECT_EQ(state[18], 0.0f);
    EXPECT_EQ(state[19], 0.0f);
}

TEST_F(Processor, ClampsHostValuesAndIgnoresNaN)
{
    Start();
    // Switches read as the host shows them, on from half way (a MIDI controller's 64 of 127).
    SetParameters({{3, 1.5}, {5, -0.25}, {9, std::nan("")}, {11, 1e300}, {2, 63.0 / 127}, {6, 64.0 / 127},
                   {19, 0.25}});
    std::vector<float> state = ComponentState();
    EXPECT_EQ(state[3], 1.0f);
    EXPECT_EQ(state[5], 0.0f);
    EXPECT_EQ(state[9], 0.1f) << "NaN keeps the previous value";
    EXPECT_EQ(state[11], 1.0f);
    EXPECT_EQ(state[2], 0.0f);
    EXPECT_EQ(state[6], 1.0f);
    EXPECT_EQ(state[19], 0.0f);
}

TEST_F(Processor, ProgramChangeAppliesThePresetAndReportsItsControls)
{
    // Those of the program list, which holds the user's presets after the factory ones.
    const auto ProgramCount = [this] {
        ParameterInfo info{};
        plugin->Controller()->getParameterInfo(19, info);
        return info.stepCount + 1;
    };
    Start();
    for (int program = corvex::kFactoryPresetCount - 1; program >= 0; --program) {
        ProcessBlock block(2, 2, kBlock);
        block.inputChanges.Add(corvex::kProgramParam, corvex::ProgramValue(program, ProgramCount()));
        ASSERT_EQ(Process(block, kBlock), kResultOk);
        const auto values = corvex::PresetValues(corvex::kFactoryPresets[program]);
        const std::vector<float> state = ComponentState();
        std::vector<ParamID> reported;
        for (int32 i = 0; i < block.outputChanges.getParameterCount(); ++i)
            reported.push_back(block.outputChanges.getParameterData(i)->getParameterId());
        for (ParamID id = 1; id <= 12; ++id) {
            EXPECT_EQ(state[id], values[id]) << "program " << program << ", id " << id;
            EXPECT_NE(std::find(reported.begin(), reported.end(), id), reported.end()) << "id " << id;
        }
    }
    // While a note sounds the change fades in; a control the same block sets after it still wins.
    ProcessBlock playing(2, 2, kBlock);
    test::FillSine(playing.In(0), kBlock, 220.0, kRate, 0.3);
    test::FillSine(playing.In(1), kBlock, 220.0, kRate, 0.3);
    ASSERT_EQ(Process(playing, kBlock), kResultOk);
    playing.inputChanges.Add(corvex::kProgramParam, corvex::ProgramValue(3, ProgramCount()));
    playing.inputChanges.Add(5, 16.0 / 127);
    ASSERT_EQ(Process(playing, kBlock), kResultOk);
    EXPECT_EQ(ComponentState()[5], float(16.0 / 127));
    EXPECT_EQ(ComponentState()[3], corvex::kFactoryPresets[3].values[2]);
}

TEST_F(Processor, ZeroSampleBlockFlushesChangesOnly)
{
    Start();
    ProcessBlock block(2, 2, kBlock);
    block.inputChanges.Add(12, 0.25);
    ASSERT_EQ(Process(block, 0), kResultOk);
    EXPECT_EQ(block.outputChanges.getParameterCount(), 0);
    EXPECT_EQ(ComponentState()[12], 0.25f);
}

TEST_F(Processor, BypassAtHalfIsBitExactIdentityAndSendsNothing)
{
    Start();
    SetParameters({{19, 0.5}});
    ProcessBlock block(2, 2, kBlock);
    for (int i = 0; i < kBlock; ++i) {
        block.In(0)[i] = 0.9f * std::sin(0.01f * i) + 1e-30f * i;
        block.In(1)[i] = -0.3f * std::cos(0.02f * i);
    }
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(Process(block, kBlock), kResultOk);
        EXPECT_EQ(std::memcmp(block.In(0), block.Out(0), kBlock * sizeof(float)), 0);
        EXPECT_EQ(std::memcmp(block.In(1), block.Out(1), kBlock * sizeof(float)), 0);
        EXPECT_EQ(block.outputChanges.getParameterCount(), 0);
    }
}

TEST_F(Processor, GuitarOnTheLeftSoundsWhileTheRightIsFlaggedSilent)
{
    Start();
    ProcessBlock block(2, 2, kBlock);
    double level = -300.0;
    for (int b = 0; b < 40; ++b) {
        test::FillSine(block.In(0), kBlock, 220.0, kRate, 0.3, b * kBlock);
        std::fill(block.In(1), block.In(1) + kBlock, 0.0f);
        block.inputBus.silenceFlags = 2;
        ASSERT_EQ(Process(block, kBlock), kResultOk);
        level = test::RmsDb(block.Out(0), kBlock);
    }
    EXPECT_GT(level, -30.0);
    EXPECT_GT(test::RmsDb(block.Out(1), kBlock), -30.0);
    EXPECT_EQ(block.outputBus.silenceFlags, 0u);
}

TEST_F(Processor, DelayTailRingsAfterTheInputFallsSilentThenStops)
{
    Start();
    // Delay and reverb at full level so the tail is long and loud.
    SetParameters({{11, 1.0}, {12, 1.0}});
    ProcessBlock block(2, 2, kBlock);
    for (int b = 0; b < 20; ++b) {
        test::FillSine(block.In(0), kBlock, 330.0, kRate, 0.5, b * kBlock);
        test::FillSine(block.In(1), kBlock, 330.0, kRate, 0.5, b * kBlock);
        block.inputBus.silenceFlags = 0;
        ASSERT_EQ(Process(block, kBlock), kResultOk);
    }
    const uint32 tail = plugin->Processor()->getTailSamples();
    EXPECT_GE(tail, static_cast<uint32>(6.0 * kRate)) << "reverb decay at full level";
    EXPECT_LT(tail, static_cast<uint32>(60.0 * kRate));

    // The host sends silence flagged as such and garbage-free zeros.
    std::fill(block.In(0), block.In(0) + kBlock, 0.0f);
    std::fill(block.In(1), block.In(1) + kBlock, 0.0f);
    int64 processed = 0;
    double lateLevel = -300.0;
    bool flaggedWhileRinging = false;
    while (processed < static_cast<int64>(tail) + kBlock) {
        block.inputBus.silenceFlags = 3;
        ASSERT_EQ(Process(block, kBlock), kResultOk);
        processed += kBlock;
        const bool silentOut = test::AllZero(block.Out(0), kBlock) && test::AllZero(block.Out(1), kBlock);
        if (block.outputBus.silenceFlags == 3 && !silentOut)
            flaggedWhileRinging = true;
        if (processed > static_cast<int64>(0.5 * kRate) && processed <= static_cast<int64>(0.5 * kRate) + kBlock)
            lateLevel = test::RmsDb(block.Out(0), kBlock);
    }
    EXPECT_GT(lateLevel, -80.0) << "echoes and reverb half a second after the input stopped";
    EXPECT_FALSE(flaggedWhileRinging);
    // Once the tail has passed, silence in gives flagged zeros out.
    block.inputBus.silenceFlags = 3;
    ASSERT_EQ(Process(block, kBlock), kResultOk);
    EXPECT_EQ(block.outputBus.silenceFlags, 3u);
    EXPECT_TRUE(test::AllZero(block.Out(0), kBlock));
    EXPECT_TRUE(test::AllZero(block.Out(1), kBlock));
    EXPECT_EQ(block.outputChanges.getParameterCount(), 0);
}

TEST_F(Processor, FreshSilenceIsFlaggedAndZeroed)
{
    Start();
    ProcessBlock block(2, 2, kBlock);
    std::fill(block.Out(0), block.Out(0) + kBlock, 0.7f);
    std::fill(block.Out(1), block.Out(1) + kBlock, 0.7f);
    block.inputBus.silenceFlags = 3;
    ASSERT_EQ(Process(block, kBlock), kResultOk);
    EXPECT_EQ(block.outputBus.silenceFlags, 3u);
    EXPECT_TRUE(test::AllZero(block.Out(0), kBlock));
    EXPECT_TRUE(test::AllZero(block.Out(1), kBlock));
}

TEST_F(Processor, IndicatorsAreSentOnlyWhenTheyChange)
{
    Start();
    ProcessBlock block(2, 2, kBlock);
    // A hot signal lights meters and clip LEDs.
    for (int i = 0; i < kBlock; ++i)
        block.In(0)[i] = block.In(1)[i] = (i / 20) % 2 ? 1.5f : -1.5f;
    ASSERT_EQ(Process(block, kBlock), kResultOk);
    ASSERT_GT(block.outputChanges.getParameterCount(), 0);
    for (int32 i = 0; i < block.outputChanges.getParameterCount(); ++i) {
        IParamValueQueue* queue = block.outputChanges.getParameterData(i);
        EXPECT_GE(queue->getParameterId(), 13u);
        EXPECT_LE(queue->getParameterId(), 17u);
        ASSERT_EQ(queue->getPointCount(), 1);
        int32 offset = -1;
        ParamValue value = -1.0;
        ASSERT_EQ(queue->getPoint(0, offset, value), kResultOk);
        EXPECT_EQ(offset, 0);
        EXPECT_GE(value, 0.0);
    }
    // Silence: the meters fall, then stay put and nothing more is sent.
    std::fill(block.In(0), block.In(0) + kBlock, 0.0f);
    std::fill(block.In(1), block.In(1) + kBlock, 0.0f);
    int quietBlocks = 0;
    for (int b = 0; b < 60 * 44100 / kBlock && quietBlocks < 10; ++b) {
        ASSERT_EQ(Process(block, kBlock), kResultOk);
        quietBlocks = block.outputChanges.getParameterCount() == 0 ? quietBlocks + 1 : 0;
    }
    EXPECT_EQ(quietBlocks, 10);
}

TEST_F(Processor, ActivationZeroesTheIndicators)
{
    Start();
    ProcessBlock block(2, 2, kBlock);
    for (int i = 0; i < kBlock; ++i)
        block.In(0)[i] = block.In(1)[i] = (i / 10) % 2 ? 1.2f : -1.2f;
    ASSERT_EQ(Process(block, kBlock), kResultOk);
    std::vector<float> lit = ComponentState();
    float sum = 0.0f;
    for (int id = 13; id <= 17; ++id)
        sum += lit[id];
    ASSERT_GT(sum, 0.0f);

    ASSERT_EQ(plugin->Activate(false), kResultOk);
    ASSERT_EQ(plugin->Activate(true), kResultOk);
    std::vector<float> state = ComponentState();
    for (int id = 13; id <= 17; ++id)
        EXPECT_EQ(state[id], 0.0f) << id;
    // The next loud block reports what lit up again.
    ASSERT_EQ(Process(block, kBlock), kResultOk);
    EXPECT_GT(block.outputChanges.getParameterCount(), 0);
}

TEST_F(Processor, BlocksLongerThanTheCapacityAreSafe)
{
    constexpr int32 kLong = 20000;
    // A host announcing long blocks, and one sending more than it announced.
    for (int32 announced : {8192, 256}) {
        plugin.reset();
        plugin = NewInstance();
        Start(kRate, announced);
        ProcessBlock block(2, 2, kLong);
        test::FillSine(block.In(0), kLong, 440.0, kRate, 0.4);
        test::FillSine(block.In(1), kLong, 440.0, kRate, 0.4);
        ASSERT_EQ(Process(block, kLong), kResultOk);
        EXPECT_TRUE(test::AllFinite(block.Out(0), kLong));
        EXPECT_GT(test::RmsDb(block.Out(0) + kLong - 4096, 4096), -30.0) << announced;
    }
}

TEST_F(Processor, MonoBusesRunOnTheOneChannel)
{
    SpeakerArrangement mono = SpeakerArr::kMono;
    ASSERT_EQ(plugin->Processor()->setBusArrangements(&mono, 1, &mono, 1), kResultTrue);
    ProcessSetup setup{kRealtime, kSample32, kBlock, kRate};
    ASSERT_EQ(plugin->Processor()->setupProcessing(setup), kResultOk);
    ASSERT_EQ(plugin->Activate(true), kResultOk);

    for (bool inPlace : {false, true}) {
        ProcessBlock block(1, 1, kBlock);
        block.SetInPlace(inPlace);
        double level = -300.0;
        for (int b = 0; b < 20; ++b) {
            test::FillSine(block.In(0), kBlock, 220.0, kRate, 0.3, b * kBlock);
            ASSERT_EQ(Process(block, kBlock), kResultOk);
            level = test::RmsDb(inPlace ? block.In(0) : block.Out(0), kBlock);
        }
        EXPECT_GT(level, -30.0);
        // Bypassed, the one channel passes untouched.
        SetParameters({{19, 1.0}});
        test::FillSine(block.In(0), kBlock, 220.0, kRate, 0.3);
        std::vector<float> input(block.In(0), block.In(0) + kBlock);
        ASSERT_EQ(Process(block, kBlock), kResultOk);
        EXPECT_EQ(std::memcmp(input.data(), inPlace ? block.In(0) : block.Out(0), kBlock * sizeof(float)), 0);
        SetParameters({{19, 0.0}});
    }
}

// A host holding its audio in its own buffers (here one long stretch, cut at odd, unaligned
// offsets) hears what the block's own channels give, and those stay untouched.
TEST_F(Processor, CallersBuffersTakeTheBlocksPlace)
{
    constexpr int32 kTotal = 6 * kBlock;
    std::vector<float> left(kTotal), right(kTotal);
    test::FillSine(left.data(), kTotal, 220.0, kRate, 0.5);
    test::FillSine(right.data(), kTotal, 330.0, kRate, 0.5);
    auto render = [&](bool callers) {
        plugin.reset();
        plugin = NewInstance();
        Start();
        ProcessBlock block(2, 2, kBlock);
        std::vector<float> inLeft = left, inRight = right, outLeft(kTotal), outRight(kTotal);
        float* in[2] = {};
        float* out[2] = {};
        if (callers)
            block.UseBuffers(in, out);
        for (int32 at = 0, n = 0; at < kTotal; at += n) {
            n = std::min(kTotal - at, at % 3 ? kBlock : 101);
            in[0] = inLeft.data() + at;
            in[1] = inRight.data() + at;
            out[0] = outLeft.data() + at;
            out[1] = outRight.data() + at;
            if (!callers) {
                std::copy_n(in[0], n, block.In(0));
                std::copy_n(in[1], n, block.In(1));
            }
            EXPECT_EQ(Process(block, n), kResultOk);
            if (!callers) {
                std::copy_n(block.Out(0), n, out[0]);
                std::copy_n(block.Out(1), n, out[1]);
            }
        }
        if (callers) {
            EXPECT_TRUE(test::AllZero(block.Out(0), kBlock) && test::AllZero(block.Out(1), kBlock));
            block.UseOwnBuffers();
            test::FillSine(block.In(0), kBlock, 220.0, kRate, 0.5);
            EXPECT_EQ(Process(block, kBlock), kResultOk);
            EXPECT_FALSE(test::AllZero(block.Out(0), kBlock)) << "back on its own channels";
        }
        outLeft.insert(outLeft.end(), outRight.begin(), outRight.end());
        return outLeft;
    };
    const std::vector<float> own = render(false);
    EXPECT_GT(test::RmsDb(own.data(), kTotal), -40.0);
    const std::vector<float> callers = render(true);
    ASSERT_EQ(callers.size(), own.size());
    EXPECT_EQ(std::memcmp(callers.data(), own.data(), own.size() * sizeof(float)), 0);
}

TEST_F(Processor, TempoIsTakenOnlyWhenValid)
{
    // Render an echo with a given context; compare the renders.
    auto render = [&](bool sendContext, double tempo, uint32 flags) {
        plugin.reset();
        plugin = NewInstance();
        Start();
        SetParameters({{11, 1.0}, {10, 0.0}, {4, 0.0}, {8, 0.0}, {2, 0.0}});
        ProcessBlock block(2, 2, kBlock);
        block.sendContext = sendContext;
        block.context.tempo = tempo;
        block.context.state = flags;
        std::vector<float> out;
        for (int b = 0; b < 60; ++b) {
            std::fill(block.In(0), block.In(0) + kBlock, 0.0f);
            std::fill(block.In(1), block.In(1) + kBlock, 0.0f);
            if (b == 0)
                test::FillSine(block.In(0), 256, 1000.0, kRate, 0.5);
            EXPECT_EQ(Process(block, kBlock), kResultOk);
            out.insert(out.end(), block.Out(0), block.Out(0) + kBlock);
            EXPECT_TRUE(test::AllFinite(block.Out(0), kBlock));
            EXPECT_TRUE(test::AllFinite(block.Out(1), kBlock));
        }
        return out;
    };
    const auto reference = render(false, 0.0, 0);
    EXPECT_EQ(render(true, 0.0, 0), reference) << "a host without tempo sends 0 and no flag";
    EXPECT_EQ(render(true, 0.0, ProcessContext::kTempoValid), reference);
    EXPECT_EQ(render(true, std::nan(""), ProcessContext::kTempoValid), reference);
    EXPECT_EQ(render(true, -90.0, ProcessContext::kTempoValid), reference);
    EXPECT_EQ(render(true, 120.0, ProcessContext::kTempoValid), reference) << "120 is the default";
    EXPECT_NE(render(true, 60.0, ProcessContext::kTempoValid), reference);
    EXPECT_EQ(render(true, 60.0, 0), reference) << "an unflagged tempo is ignored";
}

TEST_F(Processor, OddProcessDataIsHandled)
{
    Start();
    ProcessBlock block(2, 2, kBlock);
    ProcessData& data = block.Prepare(kBlock);
    data.numInputs = 0;
    EXPECT_EQ(plugin->Processor()->process(data), kResultOk);
    ProcessData& noBuffers = block.Prepare(kBlock);
    block.inputBus.channelBuffers32 = nullptr;
    EXPECT_EQ(plugin->Processor()->process(noBuffers), kResultOk);
    ProcessData& negative = block.Prepare(-5);
    EXPECT_EQ(plugin->Processor()->process(negative), kResultFalse);

    // Events are read and ignored.
    ProcessBlock withEvents(2, 2, kBlock);
    withEvents.sendEvents = true;
    Event note{};
    note.type = Event::kNoteOnEvent;
    withEvents.events.addEvent(note);
    EXPECT_EQ(Process(withEvents, kBlock), kResultOk);
}

TEST_F(Processor, NonFiniteInputNeverReachesTheOutput)
{
    Start();
    ProcessBlock block(2, 2, kBlock);
    for (int b = 0; b < 8; ++b) {
        test::FillSine(block.In(0), kBlock, 220.0, kRate, 0.3, b * kBlock);
        block.In(0)[7] = std::nanf("");
        block.In(1)[9] = INFINITY;
        block.In(0)[100] = -INFINITY;
        ASSERT_EQ(Process(block, kBlock), kResultOk);
        ASSERT_TRUE(test::AllFinite(block.Out(0), kBlock));
        ASSERT_TRUE(test::AllFinite(block.Out(1), kBlock));
    }
}

} // namespace
