// The user IR section of a plug-in state: refused with a reason, or decoded into a source that
// every check accepts and that encodes to the very same bytes.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ImpulseSection.h"

namespace {

void Check(const std::uint8_t* data, std::size_t size)
{
    corvex::ImpulseSource source;
    std::string error;
    if (!corvex::DecodeImpulseSection(data, size, source, error)) {
        CORVEX_FUZZ_EXPECT(error.rfind("the state's IR section ", 0) == 0);
        CORVEX_FUZZ_EXPECT(source.samples.empty() && source.name.empty());
        return;
    }
    CORVEX_FUZZ_EXPECT(corvex::ImpulseProblem(source).empty());
    const std::vector<std::uint8_t> again = corvex::EncodeImpulseSection(source);
    CORVEX_FUZZ_EXPECT(again.size() == size && std::memcmp(again.data(), data, size) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Check(data, size);
    // The same bytes with their length and checksum made to match, so that mutations reach the
    // fields behind them.
    if (size >= corvex::kImpulseSectionHeaderBytes + corvex::kImpulseSectionCrcBytes) {
        std::vector<std::uint8_t> sealed(data, data + size);
        const std::size_t body = size - corvex::kImpulseSectionCrcBytes;
        for (int i = 0; i < 4; ++i)
            sealed[8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(size >> (8 * i));
        const std::uint32_t crc = corvex::ImpulseCrc32(sealed.data(), body);
        for (int i = 0; i < 4; ++i)
            sealed[body + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
        Check(sealed.data(), sealed.size());
    }
    return 0;
}
