// corvex's last.state (and a --state file): taken whole or refused with a warning.

#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "ImpulseSection.h"
#include "Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = corvex::fuzz::ScratchFile(".state");
    corvex::fuzz::WriteWhole(path, data, size);
    std::string warning;
    const auto state = corvex::live::ReadStateFile(path, true, warning);
    CORVEX_FUZZ_EXPECT(state.has_value() == warning.empty());
    if (!state)
        return 0;
    CORVEX_FUZZ_EXPECT(size >= corvex::kStateSize && state->size() == size &&
                       std::memcmp(state->data(), data, size) == 0);
    // What follows the values is an IR section the plug-in takes.
    corvex::ImpulseSource impulse;
    std::string error;
    CORVEX_FUZZ_EXPECT(size == corvex::kStateSize ||
                       corvex::DecodeImpulseSection(data + corvex::kStateSize, size - corvex::kStateSize, impulse, error));
    for (std::size_t i = 1; i < corvex::kStateSize / corvex::kStateValueBytes; ++i) {
        float value = 0.0f;
        std::memcpy(&value, data + i * corvex::kStateValueBytes, sizeof value);
        CORVEX_FUZZ_EXPECT(value >= 0.0f && value <= 1.0f);
    }
    return 0;
}
