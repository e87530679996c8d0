#include "VstPresetFile.h"

#include <cstdint>
#include <cstring>

namespace corvex {
namespace {

constexpr char kHeaderId[] = "VST3";
constexpr char kListId[] = "List";
constexpr char kComponentId[] = "Comp";
constexpr char kMetaInfoId[] = "Info";
constexpr std::int32_t kFormatVersion = 1;
constexpr std::size_t kIdSize = 4;
constexpr std::size_t kClassIdSize = 32;
constexpr std::size_t kHeaderSize = kIdSize + 4 + kClassIdSize + 8;
constexpr std::size_t kEntrySize = kIdSize + 8 + 8;

template <typename T>
void Put(std::vector<char>& out, T value)
{
    for (std::size_t i = 0; i < sizeof(T); ++i)
        out.push_back(char((std::uint64_t(value) >> (8 * i)) & 0xFF));
}

template <typename T>
T Get(const std::vector<char>& in, std::size_t at)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        value |= std::uint64_t(static_cast<unsigned char>(in[at + i])) << (8 * i);
    return T(value);
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

} // namespace

std::vector<char> BuildVstPreset(const VstPreset& preset)
{
    std::vector<char> out(kHeaderId, kHeaderId + kIdSize);
    Put<std::int32_t>(out, kFormatVersion);
    std::string classId = preset.classId;
    classId.resize(kClassIdSize, '0');
    out.insert(out.end(), classId.begin(), classId.end());
    const std::size_t listOffsetAt = out.size();
    Put<std::int64_t>(out, 0);

    struct Entry {
        const char* id;
        std::int64_t offset, size;
    };
    std::vector<Entry> entries;
    entries.push_back({kComponentId, std::int64_t(out.size()), std::int64_t(preset.componentState.size())});
    out.insert(out.end(), preset.componentState.begin(), preset.componentState.end());
    if (!preset.metaInfo.empty()) {
        entries.push_back({kMetaInfoId, std::int64_t(out.size()), std::int64_t(preset.metaInfo.size())});
        out.insert(out.end(), preset.metaInfo.begin(), preset.metaInfo.end());
    }

    const std::int64_t listOffset = std::int64_t(out.size());
    out.insert(out.end(), kListId, kListId + kIdSize);
    Put<std::int32_t>(out, std::int32_t(entries.size()));
    for (const Entry& e : entries) {
        out.insert(out.end(), e.id, e.id + kIdSize);
        Put<std::int64_t>(out, e.offset);
        Put<std::int64_t>(out, e.size);
    }
    for (std::size_t i = 0; i < 8; ++i)
        out[listOffsetAt + i] = char((std::uint64_t(listOffset) >> (8 * i)) & 0xFF);
    return out;
}

bool ParseVstPreset(const std::vector<char>& bytes, VstPreset& preset, std::string& error)
{
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kHeaderId, kIdSize) != 0) {
        error = "not a VST 3 preset (no \"VST3\" header)";
        return false;
    }
    const std::int32_t version = Get<std::int32_t>(bytes, kIdSize);
    if (version != kFormatVersion) {
        error = "preset format version " + std::to_string(version) + " is not 1";
        return false;
    }
    std::string classId(bytes.data() + kIdSize + 4, kClassIdSize);
    for (char c : classId) {
        if (!IsHexDigit(c)) {
            error = "damaged header: the class ID is not 32 hexadecimal digits";
            return false;
        }
    }
    const std::int64_t listOffset = Get<std::int64_t>(bytes, kIdSize + 4 + kClassIdSize);
    const auto size = std::int64_t(bytes.size());
    if (listOffset < std::int64_t(kHeaderSize) || listOffset > size - std::int64_t(kIdSize + 4) ||
        std::memcmp(bytes.data() + listOffset, kListId, kIdSize) != 0) {
        error = "damaged header: no chunk list where it points";
        return false;
    }
    const std::int32_t count = Get<std::int32_t>(bytes, std::size_t(listOffset) + kIdSize);
    const std::int64_t entriesAt = listOffset + std::int64_t(kIdSize + 4);
    if (count < 0 || count > (size - entriesAt) / std::int64_t(kEntrySize)) {
        error = "damaged chunk list: " + std::to_string(count) + " entries do not fit in the file";
        return false;
    }
    VstPreset parsed;
    parsed.classId = classId;
    bool haveComponent = false;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::size_t at = std::size_t(entriesAt) + std::size_t(i) * kEntrySize;
        const std::int64_t offset = Get<std::int64_t>(bytes, at + kIdSize);
        const std::int64_t length = Get<std::int64_t>(bytes, at + kIdSize + 8);
        // Chunks lie between the header and the list.
        if (offset < std::int64_t(kHeaderSize) || length < 0 || offset > listOffset || length > listOffset - offset) {
            error = "damaged chunk list: a chunk lies outside the file";
            return false;
        }
        const char* begin = bytes.data() + offset;
        if (std::memcmp(bytes.data() + at, kComponentId, kIdSize) == 0) {
            parsed.componentState.assign(begin, begin + length);
            haveComponent = true;
        } else if (std::memcmp(bytes.data() + at, kMetaInfoId, kIdSize) == 0) {
            parsed.metaInfo.assign(begin, begin + length);
        }
    }
    if (!haveComponent || parsed.componentState.empty()) {
        error = "the preset holds no component state";
        return false;
    }
    preset = std::move(parsed);
    return true;
}

} // namespace corvex
