// The same input and settings give the same bits on every system: the Linux run writes the
// module's output for a set of test signals to a file, the Windows run (under Wine) compares
// its own output with it bit for bit.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "CrossSystemFile.h"
#include "PluginTestSupport.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using corvex::hosting::ProcessBlock;

namespace {

constexpr char kMagic[8] = {'C', 'V', 'X', 'O', 'U', 'T', '0', '1'};
constexpr int kSeconds = 2;

struct Case {
    const char* name;
    double sampleRate;
    int32 block;
    double tempo;
    std::vector<std::pair<ParamID, double>> parameters;
};

// Defaults, every block at full level, the clean path, the right input with the enhancer, an odd
// block length at another rate and tempo.
const std::vector<Case>& Cases()
{
    static const std::vector<Case> cases = {
        {"defaults", 44100.0, 512, 120.0, {}},
        {"full", 44100.0, 256, 140.0, {{3, 1.0}, {5, 1.0}, {9, 1.0}, {11, 1.0}, {12, 1.0}}},
        {"clean", 48000.0, 1024, 90.0, {{2, 0.0}, {4, 0.0}, {8, 0.0}, {5, 0.2}}},
        {"right-enhanced", 96000.0, 333, 174.0, {{1, 0.0}, {6, 1.0}, {10, 0.0}, {12, 0.9}}},
    };
    return cases;
}

// A plucked note and a noise burst made of plain arithmetic only (no libm, whose last bits
// differ between C runtimes), so both systems feed the module the same bits. Left: a 110 Hz
// tone from a two-pole oscillator, decaying; right: noise from a linear congruential generator.
void FillInput(ProcessBlock& block, int32 numSamples, std::int64_t start, double sampleRate)
{
    // 2 cos(2 pi 110 / fs) for the rates used, as constants.
    const double twoCos = sampleRate == 44100.0   ? 1.999754382651517
                          : sampleRate == 48000.0 ? 1.999792673350785
                                                  : 1.9999481676660484;
    static double y1 = 0.0, y2 = 0.0, envelope = 0.0;
    static std::uint32_t noise = 1;
    if (start == 0) {
        y1 = 0.0;
        y2 = 0.05;
        envelope = 0.9;
        noise = 22222u;
    }
    for (int32 i = 0; i < numSamples; ++i) {
        const double y = twoCos * y1 - y2;
        y2 = y1;
        y1 = y;
        envelope *= 0.99997;
        noise = noise * 1664525u + 1013904223u;
        block.In(0)[i] = static_cast<float>(envelope * y * 0.15);
        block.In(1)[i] = static_cast<float>((static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * envelope);
    }
}

class PortableOutput : public test::PluginTest {
protected:
    // The stereo output of one case, interleaved by channel per block.
    std::vector<float> Render(const Case& c)
    {
        std::vector<float> out;
        if (plugin->Setup(c.sampleRate, c.block) != kResultOk || plugin->Activate(true) != kResultOk) {
            ADD_FAILURE() << c.name << ": set-up refused";
            return out;
        }
        if (!c.parameters.empty())
            SetParameters(c.parameters);
        ProcessBlock block(2, 2, c.block);
        block.SetTempo(c.tempo);
        const std::int64_t total = static_cast<std::int64_t>(c.sampleRate) * kSeconds;
        for (std::int64_t done = 0; done < total; done += c.block) {
            const int32 n = static_cast<int32>(std::min<std::int64_t>(c.block, total - done));
            FillInput(block, n, done, c.sampleRate);
            if (Process(block, n) != kResultOk) {
                ADD_FAILURE() << c.name << ": process refused at sample " << done;
                return out;
            }
            out.insert(out.end(), block.Out(0), block.Out(0) + n);
            out.insert(out.end(), block.Out(1), block.Out(1) + n);
        }
        plugin->Activate(false);
        return out;
    }

    std::vector<std::vector<float>> RenderAll()
    {
        std::vector<std::vector<float>> outputs;
        for (const Case& c : Cases()) {
            plugin = NewInstance();
            outputs.push_back(Render(c));
        }
        return outputs;
    }
};

#if defined(CORVEX_MODULE_OUTPUT_WRITE)

TEST_F(PortableOutput, WritesTheModuleOutputForOtherSystems)
{
    const auto outputs = RenderAll();
    // What is written must be reproducible here in the first place.
    EXPECT_EQ(RenderAll(), outputs);
    ASSERT_TRUE(test::WriteRecords(CORVEX_MODULE_OUTPUT_WRITE, kMagic, outputs));
}

#endif

#if defined(CORVEX_MODULE_OUTPUT_REFERENCE)

TEST_F(PortableOutput, EqualsTheLinuxModuleBitForBit)
{
    std::vector<std::vector<float>> reference;
    ASSERT_TRUE(test::ReadRecords(CORVEX_MODULE_OUTPUT_REFERENCE, kMagic, Cases().size(), reference));
    const auto outputs = RenderAll();
    for (size_t i = 0; i < Cases().size(); ++i) {
        const std::vector<float>& expected = reference[i];
        ASSERT_EQ(outputs[i].size(), expected.size()) << Cases()[i].name;
        size_t differing = 0;
        size_t first = expected.size();
        for (size_t k = 0; k < expected.size(); ++k)
            if (std::memcmp(&outputs[i][k], &expected[k], sizeof(float)) != 0 && differing++ == 0)
                first = k;
        EXPECT_EQ(differing, 0u) << Cases()[i].name << ": " << differing << " of " << expected.size()
                                 << " samples differ, the first at " << first;
    }
}

#endif

} // namespace
