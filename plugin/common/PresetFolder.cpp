#include "PresetFolder.h"

#include "version.h"

#include <cstring>

namespace corvex {

namespace {
constexpr const char* kIllegalFileNameCharacters = "<>:\"/\\|?*";
constexpr char kFirstPrintable = ' ';
} // namespace

std::string LegalFileName(const std::string& name)
{
    std::string legal = name;
    for (char& c : legal) {
        if (static_cast<unsigned char>(c) < kFirstPrintable || std::strchr(kIllegalFileNameCharacters, c) != nullptr)
            c = '_';
    }
    return legal;
}

std::string PresetFolder()
{
    return LegalFileName(kVendor) + "/" + LegalFileName(kProcessorName);
}

} // namespace corvex
