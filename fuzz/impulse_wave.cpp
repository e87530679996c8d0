// Our RIFF/WAVE reader, on the files a user may drop: refused with a sentence naming the file, or
// read into a source that every check accepts.

#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "ImpulseFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = corvex::fuzz::ScratchFile(".wav");
    corvex::fuzz::WriteWhole(path, data, size);
    const std::string name = corvex::ImpulseName(path);
    corvex::ImpulseSource source;
    std::string error;
    if (!corvex::ReadWaveImpulseFile(path, source, error)) {
        CORVEX_FUZZ_EXPECT(error.rfind("cannot read '" + name + "': ", 0) == 0 || error.rfind("'" + name + "' ", 0) == 0);
        CORVEX_FUZZ_EXPECT(source.samples.empty());
        return 0;
    }
    CORVEX_FUZZ_EXPECT(source.name == name && corvex::ImpulseProblem(source).empty());
    return 0;
}
