#pragma once

// The files in which a Linux test run leaves its results for a Windows run to compare with:
// eight magic bytes, then records, each a 64-bit element count and the elements' bytes.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace test {

using FileMagic = char[8];

// Writes the magic and the records, replacing the file.
template <typename T>
::testing::AssertionResult WriteRecords(const char* path, const FileMagic& magic,
                                        const std::vector<std::vector<T>>& records)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(magic, sizeof magic);
    for (const std::vector<T>& values : records) {
        const std::uint64_t count = values.size();
        out.write(reinterpret_cast<const char*>(&count), sizeof count);
        out.write(reinterpret_cast<const char*>(values.data()), static_cast<std::streamsize>(count * sizeof(T)));
    }
    if (!out.flush())
        return ::testing::AssertionFailure() << "cannot write " << path;
    return ::testing::AssertionSuccess();
}

// Reads the `count` records a Linux run wrote behind this magic.
template <typename T>
::testing::AssertionResult ReadRecords(const char* path, const FileMagic& magic, std::size_t count,
                                       std::vector<std::vector<T>>& records)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return ::testing::AssertionFailure() << "no Linux results at " << path
                                             << ": run the Linux tests (cmake --workflow --preset test) first";
    char read[sizeof magic] = {};
    if (!in.read(read, sizeof read) || std::memcmp(read, magic, sizeof magic) != 0)
        return ::testing::AssertionFailure() << path << " does not begin with " << std::string(magic, sizeof magic);
    records.assign(count, {});
    for (std::size_t i = 0; i < count; ++i) {
        std::uint64_t size = 0;
        if (!in.read(reinterpret_cast<char*>(&size), sizeof size))
            return ::testing::AssertionFailure() << path << " ends before record " << i + 1 << " of " << count;
        records[i].assign(size, T{});
        if (!in.read(reinterpret_cast<char*>(records[i].data()), static_cast<std::streamsize>(size * sizeof(T))))
            return ::testing::AssertionFailure() << path << " ends inside record " << i + 1 << " of " << count;
    }
    return ::testing::AssertionSuccess();
}

} // namespace test
