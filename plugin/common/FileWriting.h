#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace corvex {

// Writes `size` bytes to `path` (its folder made if missing) through a file of its own beside it,
// flushed to the disk and then renamed over `path`: a reader, or the disk after a power cut, finds
// the old contents or the new ones, never a part. On failure `error` names the file and the
// reason, and `path` is as it was.
bool WriteFileAtomically(const std::filesystem::path& path, const void* data, std::size_t size, std::string& error);

inline bool WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes, std::string& error)
{
    return WriteFileAtomically(path, bytes.data(), bytes.size(), error);
}

} // namespace corvex
