// The component state a host restores, through the built module's IComponent and the
// controller's setComponentState, then one processed block that takes it over. A state is taken
// when its 80 bytes are followed by nothing or by an IR section that decodes; the seeds include
// states carrying small IRs, the dictionary the section's words.

#include <cmath>
#include <cstdint>
#include <vector>

#include "ProcessBlock.h"
#include "StateChecks.h"

using namespace corvex::fuzz;
using Steinberg::kResultOk;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Plugin();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    corvex::hosting::PluginInstance& plugin = *Plugin().m_pInstance;
    std::vector<char> bytes(data, data + size);
    const bool whole = size == corvex::kStateSize ||
                       (size > corvex::kStateSize &&
                        IsImpulseSection(bytes.data() + corvex::kStateSize, size - corvex::kStateSize));

    Steinberg::MemoryStream forComponent(bytes.data(), static_cast<Steinberg::TSize>(bytes.size()));
    const bool taken = plugin.Component()->setState(&forComponent) == kResultOk;
    CORVEX_FUZZ_EXPECT(taken == whole);
    // Both sides accept or refuse the same bytes.
    Steinberg::MemoryStream forController(bytes.data(), static_cast<Steinberg::TSize>(bytes.size()));
    CORVEX_FUZZ_EXPECT((plugin.Controller()->setComponentState(&forController) == kResultOk) == taken);
    CheckControllerParameters(plugin.Controller(), taken ? &bytes : nullptr);

    // Until the audio thread has it, the state restored is the state reported.
    Steinberg::MemoryStream pending;
    CORVEX_FUZZ_EXPECT(plugin.Component()->getState(&pending) == kResultOk);
    CheckWrittenState(pending, taken ? &bytes : nullptr, true);

    corvex::hosting::ProcessBlock block(2, 2, kMaxBlock);
    for (int i = 0; i < kMaxBlock; ++i)
        block.In(0)[i] = block.In(1)[i] = 0.5f * static_cast<float>(std::sin(0.05 * i));
    CORVEX_FUZZ_EXPECT(plugin.Processor()->process(block.Prepare(kMaxBlock)) == kResultOk);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kMaxBlock; ++i)
            CORVEX_FUZZ_EXPECT(std::isfinite(block.Out(c)[i]));
    Steinberg::MemoryStream applied;
    CORVEX_FUZZ_EXPECT(plugin.Component()->getState(&applied) == kResultOk);
    CheckWrittenState(applied, nullptr, true);
    return 0;
}
