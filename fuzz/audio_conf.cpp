// corvex's audio.conf: read; a file it accepts holds settings in their ranges, and what corvex
// writes for them reads back as the same settings (the next start uses what was saved).

#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "Settings.h"

using namespace corvex::live;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = corvex::fuzz::ScratchFile(".conf");
    corvex::fuzz::WriteWhole(path, data, size);
    std::string warning;
    const AudioSettings read = ReadAudioSettings(path, warning);
    if (!warning.empty()) {
        CORVEX_FUZZ_EXPECT(read == AudioSettings{});
        return 0;
    }
    CORVEX_FUZZ_EXPECT(read.backend == "jack" || read.backend == "alsa");
    CORVEX_FUZZ_EXPECT(read.inputs.size() <= 2 && (read.outputs.empty() || read.outputs.size() == 2));
    CORVEX_FUZZ_EXPECT(!read.device.empty());
    CORVEX_FUZZ_EXPECT(read.rate >= kMinRate && read.rate <= kMaxRate);
    CORVEX_FUZZ_EXPECT(read.period >= kMinPeriod && read.period <= kMaxPeriod);
    CORVEX_FUZZ_EXPECT(read.tempo >= kMinTempo && read.tempo <= kMaxTempo);

    const std::string written = FormatAudioSettings(read);
    corvex::fuzz::WriteWhole(path, written.data(), written.size());
    const AudioSettings again = ReadAudioSettings(path, warning);
    CORVEX_FUZZ_EXPECT(warning.empty());
    CORVEX_FUZZ_EXPECT(again == read);
    return 0;
}
