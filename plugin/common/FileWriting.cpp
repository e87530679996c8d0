#include "FileWriting.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

namespace corvex {

namespace {

namespace fs = std::filesystem;

// Writes the file's buffered bytes through to the disk.
bool FlushToDisk(std::FILE* file)
{
    if (std::fflush(file) != 0)
        return false;
#if defined(_WIN32)
    return _commit(_fileno(file)) == 0;
#else
    return ::fsync(fileno(file)) == 0;
#endif
}

// A name beside `path` no other writer in this process or another one picks.
fs::path TemporaryBeside(const fs::path& path)
{
    static std::atomic<unsigned> counter{0};
#if defined(_WIN32)
    const int process = _getpid();
#else
    const int process = static_cast<int>(::getpid());
#endif
    fs::path temporary = path;
    temporary += "." + std::to_string(process) + "-" + std::to_string(counter.fetch_add(1)) + ".part";
    return temporary;
}

} // namespace

bool WriteFileAtomically(const fs::path& target, const void* data, std::size_t size, std::string& error)
{
    const std::string path = target.u8string();
    std::error_code ec;
    if (target.has_parent_path())
        fs::create_directories(target.parent_path(), ec);
    const fs::path temporaryPath = TemporaryBeside(target);
#if defined(_WIN32)
    std::FILE* file = _wfopen(temporaryPath.c_str(), L"wb");
#else
    std::FILE* file = std::fopen(temporaryPath.c_str(), "wb");
#endif
    if (!file) {
        error = "cannot write \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(data, 1, size, file) == size && FlushToDisk(file);
    int reason = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        reason = errno;
    }
    if (ok) {
        // Replaces the old file in one step, on Windows too.
        fs::rename(temporaryPath, target, ec);
        if (!ec)
            return true;
        error = "cannot write \"" + path + "\": " + ec.message();
    } else {
        error = "cannot write \"" + path + "\": " + std::strerror(reason);
    }
    fs::remove(temporaryPath, ec);
    return false;
}

} // namespace corvex
