// The tuner through the loaded module, the processor answering the controller's messages as a
// host passes them: readings of the selected input and the mute while tuning.

#include <cmath>

#include "AudioCalls.h"
#include "PluginTestSupport.h"
#include "corvexmessages.h"
#include "tuner/PitchDetector.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using corvex::hosting::ProcessBlock;

namespace {

constexpr double kRate = 48000.0;
constexpr int32 kBlock = 480;       // 10 ms
constexpr int kBlocksPerTick = 5;   // the view's 50 ms timer
constexpr double kTone = 220.0;     // A3
constexpr int kToneNote = 57;

struct Heard {
    bool pitched;
    int note;
    double hertz;
};

class TunerMessages : public test::PluginTest, public ::testing::WithParamInterface<bool> {
protected:
    // A tick of the view: the controller's message, answered by the processor.
    void Tune(bool shown, bool mute)
    {
        IMessage* message = test::NewMessage(corvex::kTunerMessage);
        message->getAttributes()->setInt(corvex::kTunerShownAttribute, shown ? 1 : 0);
        message->getAttributes()->setInt(corvex::kTunerMuteAttribute, mute ? 1 : 0);
        message->getAttributes()->setFloat(corvex::kTunerReferenceAttribute, 440.0);
        FUnknownPtr<IConnectionPoint> processor(plugin->Component());
        EXPECT_EQ(processor->notify(message), kResultOk);
        message->release();
    }
    // One block of the tone on the left input (the selected one), silence on the right.
    void Play(ProcessBlock& block)
    {
        test::FillSine(block.In(0), kBlock, kTone, kRate, 0.5, m_iPlayed);
        std::fill_n(block.In(1), kBlock, 0.0f);
        m_iPlayed += kBlock;
        const test::AudioPeriod period;
        ASSERT_EQ(Process(block, kBlock), kResultOk);
    }

    std::int64_t m_iPlayed = 0;
};

// Open, a tone's note reaches the controller within two ticks (100 ms of blocks); the output is
// silent while muted, playing otherwise and once the tuner closes; the audio thread neither
// allocates nor locks meanwhile.
TEST_P(TunerMessages, ReadTheSelectedInputWhileOpen)
{
    const bool mute = GetParam();
    Start(kRate, kBlock);
    FUnknownPtr<IConnectionPoint> processor(plugin->Component());
    FUnknownPtr<IConnectionPoint> controller(plugin->Controller());
    processor->disconnect(controller);
    test::RecordingPoint<Heard> spy(corvex::kTunerReadingMessage, [](IAttributeList& attributes) {
        Heard heard{};
        int64 pitched = 0, note = 0;
        attributes.getInt(corvex::kTunerPitchedAttribute, pitched);
        attributes.getInt(corvex::kTunerNoteAttribute, note);
        attributes.getFloat(corvex::kTunerHertzAttribute, heard.hertz);
        heard.pitched = pitched != 0;
        heard.note = int(note);
        return heard;
    });
    ASSERT_EQ(processor->connect(&spy), kResultOk);

    ProcessBlock block(2, 2, kBlock);
    for (int i = 0; i < 50; ++i)
        Play(block);
    Tune(true, mute);

    const int allocations = test::AudioAllocations(), locks = test::AudioLocks();
    int blocks = 0;
    while (blocks < 2 * kBlocksPerTick && (spy.records.empty() || !spy.records.back().pitched)) {
        for (int i = 0; i < kBlocksPerTick; ++i, ++blocks) {
            Play(block);
            EXPECT_EQ(test::AllZero(block.Out(0), kBlock), mute) << "block " << blocks;
        }
        Tune(true, mute);
    }
    EXPECT_EQ(test::AudioAllocations(), allocations);
    EXPECT_EQ(test::AudioLocks(), locks);
    ASSERT_FALSE(spy.records.empty());
    EXPECT_TRUE(spy.records.back().pitched) << "no pitch after " << blocks << " blocks";
    EXPECT_EQ(spy.records.back().note, kToneNote);
    EXPECT_NEAR(1200.0 * std::log2(spy.records.back().hertz / kTone), 0.0, 1.0);

    Tune(false, mute);
    Play(block);
    EXPECT_FALSE(test::AllZero(block.Out(0), kBlock)) << "still muted after closing";
    processor->disconnect(&spy);
}

INSTANTIATE_TEST_SUITE_P(Mute, TunerMessages, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& tested) {
                             return std::string(tested.param ? "Muted" : "Playing");
                         });

} // namespace
