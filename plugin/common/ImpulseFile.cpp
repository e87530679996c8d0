#include "ImpulseFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif
#if CORVEX_IMPULSE_SNDFILE
#include <sndfile.h>
#endif

namespace corvex {

namespace {

bool CannotRead(const ImpulseSource& source, const std::string& reason, std::string& error)
{
    error = "cannot read '" + source.name + "': " + reason;
    return false;
}

bool Refuse(const ImpulseSource& source, const std::string& problem, std::string& error)
{
    error = "'" + source.name + "' " + problem;
    return false;
}

// The header's rate, channels and length, before any sample is read.
bool ShapeAllowed(const ImpulseSource& source, double rate, int channels, std::int64_t frames, std::string& error)
{
    const std::string problem = ImpulseShapeProblem(rate, channels, frames);
    return problem.empty() || Refuse(source, problem, error);
}

bool Finish(ImpulseSource& source, ImpulseSource& out, std::string& error)
{
    const std::string problem = ImpulseProblem(source);
    if (!problem.empty())
        return Refuse(source, problem, error);
    out = std::move(source);
    return true;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr OpenForReading(const std::string& path, std::string& reason)
{
#ifdef _WIN32
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                                           nullptr, 0);
    if (length <= 0) {
        reason = "the path is not UTF-8";
        return nullptr;
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()), wide.data(), length);
    FilePtr file(_wfopen(wide.c_str(), L"rb"));
#else
    FilePtr file(std::fopen(path.c_str(), "rb"));
#endif
    if (!file)
        reason = std::strerror(errno);
    return file;
}

bool SeekTo(std::FILE* file, std::int64_t offset)
{
#ifdef _WIN32
    return _fseeki64(file, offset, SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::int64_t FileSize(std::FILE* file)
{
#ifdef _WIN32
    return _fseeki64(file, 0, SEEK_END) == 0 ? _ftelli64(file) : -1;
#else
    return fseeko(file, 0, SEEK_END) == 0 ? static_cast<std::int64_t>(ftello(file)) : -1;
#endif
}

std::uint32_t Le16(const unsigned char* p) { return p[0] | (static_cast<std::uint32_t>(p[1]) << 8); }
std::uint32_t Le32(const unsigned char* p) { return Le16(p) | (Le16(p + 2) << 16); }

enum class EWaveSamples { kUnsigned8, kInteger16, kInteger24, kInteger32, kFloat32, kFloat64 };

// One sample as libsndfile reads it into a float: integers scaled by the power of two of their
// width, doubles rounded to float.
float WaveSample(const unsigned char* p, EWaveSamples kind)
{
    switch (kind) {
    case EWaveSamples::kUnsigned8:
        return static_cast<float>(static_cast<int>(p[0]) - 128) * (1.0f / 0x80);
    case EWaveSamples::kInteger16:
        return static_cast<float>(static_cast<std::int16_t>(Le16(p))) * (1.0f / 0x8000);
    case EWaveSamples::kInteger24:
        return static_cast<float>(static_cast<std::int32_t>((static_cast<std::uint32_t>(p[0]) << 8) |
                                                            (Le16(p + 1) << 16))) *
               (1.0f / 2147483648.0f);
    case EWaveSamples::kInteger32:
        return static_cast<float>(static_cast<std::int32_t>(Le32(p))) * (1.0f / 2147483648.0f);
    case EWaveSamples::kFloat32: {
        const std::uint32_t bits = Le32(p);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    case EWaveSamples::kFloat64: {
        const std::uint64_t bits = Le32(p) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        // Beyond float's range is infinite, as the conversion gives on IEEE hardware.
        if (std::fabs(value) > std::numeric_limits<float>::max() && !std::isnan(value))
            return value > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
        return static_cast<float>(value);
    }
    }
    return 0.0f;
}

// The tail of the GUID of WAVE_FORMAT_EXTENSIBLE's sub-formats; the first two bytes are the tag.
constexpr unsigned char kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint32_t kWaveFormatPcm = 1, kWaveFormatFloat = 3, kWaveFormatExtensible = 0xFFFE;
// The part of a format chunk read: WAVE_FORMAT_EXTENSIBLE's is the longest.
constexpr std::size_t kFormatBytes = 40;
// Frames converted per read.
constexpr std::int64_t kReadFrames = 4096;

} // namespace

bool ReadWaveImpulseFile(const std::string& path, ImpulseSource& out, std::string& error)
{
    ImpulseSource source;
    source.name = ImpulseName(path);
    std::string reason;
    const FilePtr file = OpenForReading(path, reason);
    if (!file)
        return CannotRead(source, reason, error);
    const std::int64_t fileSize = FileSize(file.get());
    unsigned char riff[12];
    if (fileSize < 0 || !SeekTo(file.get(), 0) || std::fread(riff, 1, sizeof riff, file.get()) != sizeof riff ||
        std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return CannotRead(source, "not a RIFF/WAVE file", error);

    // The chunks in any order; a data chunk longer than the file holds what the file has.
    unsigned char format[kFormatBytes] = {};
    std::size_t formatBytes = 0;
    std::int64_t dataStart = -1, dataBytes = 0;
    for (std::int64_t position = 12; position + 8 <= fileSize && (formatBytes == 0 || dataStart < 0);) {
        unsigned char head[8];
        if (!SeekTo(file.get(), position) || std::fread(head, 1, sizeof head, file.get()) != sizeof head)
            return CannotRead(source, "the file ends inside a chunk header", error);
        const std::uint32_t size = Le32(head + 4);
        const std::int64_t body = position + 8;
        if (std::memcmp(head, "fmt ", 4) == 0 && formatBytes == 0) {
            formatBytes = std::min<std::size_t>(size, kFormatBytes);
            if (formatBytes < 16 || std::fread(format, 1, formatBytes, file.get()) != formatBytes)
                return CannotRead(source, "its format chunk is too short", error);
        } else if (std::memcmp(head, "data", 4) == 0 && dataStart < 0) {
            dataStart = body;
            dataBytes = std::min<std::int64_t>(size, fileSize - body);
        }
        position = body + size + (size & 1u);
    }
    if (formatBytes == 0)
        return CannotRead(source, "it has no format chunk", error);
    if (dataStart < 0)
        return CannotRead(source, "it has no data chunk", error);

    std::uint32_t tag = Le16(format);
    const int channels = static_cast<int>(Le16(format + 2));
    const std::uint32_t rate = Le32(format + 4);
    const std::uint32_t blockAlign = Le16(format + 12);
    const std::uint32_t bits = Le16(format + 14);
    if (tag == kWaveFormatExtensible) {
        if (formatBytes < kFormatBytes || std::memcmp(format + 26, kSubFormatTail, sizeof kSubFormatTail) != 0)
            return CannotRead(source, "its extensible format chunk is incomplete", error);
        tag = Le16(format + 24);
    }
    EWaveSamples kind;
    if (tag == kWaveFormatPcm && bits == 8)
        kind = EWaveSamples::kUnsigned8;
    else if (tag == kWaveFormatPcm && bits == 16)
        kind = EWaveSamples::kInteger16;
    else if (tag == kWaveFormatPcm && bits == 24)
        kind = EWaveSamples::kInteger24;
    else if (tag == kWaveFormatPcm && bits == 32)
        kind = EWaveSamples::kInteger32;
    else if (tag == kWaveFormatFloat && bits == 32)
        kind = EWaveSamples::kFloat32;
    else if (tag == kWaveFormatFloat && bits == 64)
        kind = EWaveSamples::kFloat64;
    else
        return CannotRead(source, "its samples (format " + std::to_string(tag) + ", " + std::to_string(bits) +
                                      " bits) are not PCM of 8 to 32 bits or IEEE floats of 32 or 64 bits", error);
    const std::uint32_t sampleBytes = bits / 8;
    if (channels > 0 && blockAlign != sampleBytes * static_cast<std::uint32_t>(channels))
        return CannotRead(source, "its block size does not match its channels and sample width", error);
    const std::int64_t frames = channels > 0 ? dataBytes / blockAlign : 0;
    if (!ShapeAllowed(source, rate, channels, frames, error))
        return false;

    source.sampleRate = rate;
    source.channels = channels;
    source.frames = static_cast<int>(frames);
    source.samples.resize(static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels));
    std::vector<unsigned char> bytes(static_cast<std::size_t>(kReadFrames * blockAlign));
    if (!SeekTo(file.get(), dataStart))
        return CannotRead(source, std::strerror(errno), error);
    float* next = source.samples.data();
    for (std::int64_t done = 0; done < frames;) {
        const std::int64_t count = std::min(kReadFrames, frames - done);
        const std::size_t length = static_cast<std::size_t>(count * blockAlign);
        if (std::fread(bytes.data(), 1, length, file.get()) != length)
            return CannotRead(source, "the file ends inside its samples", error);
        for (std::size_t i = 0; i < length; i += sampleBytes)
            *next++ = WaveSample(bytes.data() + i, kind);
        done += count;
    }
    return Finish(source, out, error);
}

#if CORVEX_IMPULSE_SNDFILE

bool ReadImpulseFile(const std::string& path, ImpulseSource& out, std::string& error)
{
    ImpulseSource source;
    source.name = ImpulseName(path);
    SF_INFO info{};
    SNDFILE* opened = sf_open(path.c_str(), SFM_READ, &info);
    if (!opened)
        return CannotRead(source, sf_strerror(nullptr), error);
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(opened, sf_close);
    if (!ShapeAllowed(source, info.samplerate, info.channels, info.frames, error))
        return false;

    source.sampleRate = info.samplerate;
    source.channels = info.channels;
    source.samples.resize(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    const sf_count_t frames = sf_readf_float(file.get(), source.samples.data(), info.frames);
    if (frames <= 0)
        return CannotRead(source, sf_strerror(file.get()), error);
    // A file shorter than its header says gives what it holds.
    source.frames = static_cast<int>(frames);
    source.samples.resize(static_cast<std::size_t>(frames) * static_cast<std::size_t>(info.channels));
    return Finish(source, out, error);
}

#else

bool ReadImpulseFile(const std::string& path, ImpulseSource& out, std::string& error)
{
    return ReadWaveImpulseFile(path, out, error);
}

#endif

} // namespace corvex
