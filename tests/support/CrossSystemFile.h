#pragma once

// The files in which a Linux test run leaves its results for a Windows run to compare with:
// eight magic bytes, then records, each a 64-bit element count and the elements' bytes.

#include <cstdint>
#include <cstring>
#include <istream>
#include <ostream>
#include <vector>

namespace test {

using FileMagic = char[8];

inline void WriteMagic(std::ostream& out, const FileMagic& magic) { out.write(magic, sizeof magic); }

inline bool ReadMagic(std::istream& in, const FileMagic& magic)
{
    char read[sizeof magic] = {};
    return in.read(read, sizeof read) && std::memcmp(read, magic, sizeof magic) == 0;
}

template <typename T>
void WriteRecord(std::ostream& out, const std::vector<T>& values)
{
    const std::uint64_t count = values.size();
    out.write(reinterpret_cast<const char*>(&count), sizeof count);
    out.write(reinterpret_cast<const char*>(values.data()), static_cast<std::streamsize>(count * sizeof(T)));
}

// False when the file ends before the record does.
template <typename T>
bool ReadRecord(std::istream& in, std::vector<T>& values)
{
    std::uint64_t count = 0;
    if (!in.read(reinterpret_cast<char*>(&count), sizeof count))
        return false;
    values.assign(count, T{});
    return bool(in.read(reinterpret_cast<char*>(values.data()), static_cast<std::streamsize>(count * sizeof(T))));
}

} // namespace test
