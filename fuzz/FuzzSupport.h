#pragma once

// What every fuzz target uses: a check that stops the run (libFuzzer then keeps the input as a
// finding), and a scratch file for the readers that take a path.

#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

#define CORVEX_FUZZ_EXPECT(condition)                                                                    \
    do {                                                                                                 \
        if (!(condition)) {                                                                              \
            std::fprintf(stderr, "%s:%d: broken promise: %s\n", __FILE__, __LINE__, #condition);         \
            std::abort();                                                                                \
        }                                                                                                \
    } while (false)

namespace corvex::fuzz {

// A file of this process's own in $TMPDIR (else /tmp), named ...suffix, removed at exit.
inline const std::string& ScratchFile(const std::string& suffix)
{
    static const std::string path = [&] {
        const char* folder = std::getenv("TMPDIR");
        std::string name = std::string(folder && *folder ? folder : "/tmp") + "/corvex-fuzz-XXXXXX" + suffix;
        const int fd = mkstemps(name.data(), static_cast<int>(suffix.size()));
        if (fd < 0)
            std::abort();
        close(fd);
        return name;
    }();
    static const bool removed = std::atexit([] { std::remove(path.c_str()); }) == 0;
    (void)removed;
    return path;
}

inline void WriteWhole(const std::string& path, const void* data, std::size_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    CORVEX_FUZZ_EXPECT(file && std::fwrite(data, 1, size, file) == size);
    CORVEX_FUZZ_EXPECT(std::fclose(file) == 0);
}

} // namespace corvex::fuzz
