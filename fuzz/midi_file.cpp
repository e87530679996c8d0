// corvex-render's --midi files: the Control and Program Changes of a Standard MIDI File in time
// order, or a refusal with a reason.

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "MidiFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<corvex::render::TimedMidi> messages;
    std::string error;
    if (!corvex::render::ParseMidiFile(data, size, messages, error)) {
        CORVEX_FUZZ_EXPECT(!error.empty() && messages.empty());
        return 0;
    }
    double last = 0.0;
    for (const corvex::render::TimedMidi& timed : messages) {
        CORVEX_FUZZ_EXPECT(std::isfinite(timed.seconds) && timed.seconds >= last);
        const int kind = timed.message.status & 0xF0;
        CORVEX_FUZZ_EXPECT(kind == 0xB0 || kind == 0xC0);
        last = timed.seconds;
    }
    return 0;
}
