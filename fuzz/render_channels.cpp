// corvex-render's --channels argument: one or two channel numbers counted from 1, or a message
// that names the argument.

#include <cstdint>
#include <string>
#include <vector>

#include "AudioFile.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<int> channels;
    std::string error;
    if (!corvex::render::ParseChannels(text, channels, error)) {
        CORVEX_FUZZ_EXPECT(error.rfind("--channels ", 0) == 0);
        return 0;
    }
    CORVEX_FUZZ_EXPECT(error.empty() && (channels.size() == 1 || channels.size() == 2));
    for (int c : channels)
        CORVEX_FUZZ_EXPECT(c >= 1 && c <= 1024);
    return 0;
}
