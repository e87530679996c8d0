#pragma once

#include <string>
#include <vector>

namespace corvex {

// The VST 3 preset file (.vstpreset) as the SDK lays it out, little-endian throughout: the header
// ("VST3", version 1, the processor's class ID as 32 ASCII hex digits, the offset of the chunk
// list), the data chunks, then the chunk list ("List", an entry count, and per entry a chunk ID,
// offset and size, each 64-bit but the ID).
struct VstPreset {
    std::string classId;             // 32 hex digits
    std::vector<char> componentState; // the "Comp" chunk
    std::string metaInfo;            // the "Info" chunk's XML, if any
};

// The file's bytes for preset. The component state must not be empty.
std::vector<char> BuildVstPreset(const VstPreset& preset);

// Reads a whole preset file; false with a message naming what is wrong for a damaged header, a
// chunk list or chunk outside the file, or no component state.
bool ParseVstPreset(const std::vector<char>& bytes, VstPreset& preset, std::string& error);

} // namespace corvex
