#include "AudioFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex::render {

namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string FormatName(int format)
{
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) != 0 || !info.name)
        return "unknown";
    return info.name;
}

std::uint32_t Little32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24; }
std::uint32_t Big32(const unsigned char* p) { return std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// The frames a WAV or AIFF header promises. libsndfile trims its own count to the data the
// file really holds, so a recording cut short would otherwise pass unnoticed. -1 when the header
// promises nothing usable (another container, a compressed encoding, a length left unset).
std::int64_t HeaderFrames(const std::string& path, int major, int subtype)
{
    const bool plainSamples = subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_U8 ||
                              subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_24 ||
                              subtype == SF_FORMAT_PCM_32 || subtype == SF_FORMAT_FLOAT ||
                              subtype == SF_FORMAT_DOUBLE || subtype == SF_FORMAT_ULAW || subtype == SF_FORMAT_ALAW;
    const bool wav = major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX;
    if (!(wav || major == SF_FORMAT_AIFF))
        return -1;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return -1;
    unsigned char head[12];
    std::int64_t frames = -1;
    if (std::fread(head, 1, sizeof head, file) == sizeof head) {
        const bool bigEndian = std::memcmp(head, "RIFX", 4) == 0 || std::memcmp(head, "FORM", 4) == 0;
        std::uint32_t blockAlign = 0;
        unsigned char chunk[8];
        // Walk the chunks up to the audio data; a few are plenty in any real file.
        for (int i = 0; i < 64 && std::fread(chunk, 1, sizeof chunk, file) == sizeof chunk; ++i) {
            const std::uint32_t size = bigEndian ? Big32(chunk + 4) : Little32(chunk + 4);
            const long next = std::ftell(file) + static_cast<long>(size) + static_cast<long>(size & 1u);
            unsigned char body[16] = {};
            const std::size_t got = std::fread(body, 1, std::min<std::size_t>(sizeof body, size), file);
            if (wav && std::memcmp(chunk, "fmt ", 4) == 0 && got >= 14) {
                blockAlign = bigEndian ? (body[12] << 8 | body[13]) : (body[12] | body[13] << 8);
            } else if (wav && std::memcmp(chunk, "data", 4) == 0) {
                if (plainSamples && blockAlign > 0 && size != 0 && size != 0xFFFFFFFFu)
                    frames = size / blockAlign;
                break;
            } else if (!wav && std::memcmp(chunk, "COMM", 4) == 0 && got >= 6) {
                frames = Big32(body + 2);
                break;
            }
            if (std::fseek(file, next, SEEK_SET) != 0)
                break;
        }
    }
    std::fclose(file);
    return frames;
}

void Deinterleave(const float* from, float* left, float* right, long frames)
{
    for (long i = 0; i < frames; ++i) {
        left[i] = from[2 * i];
        right[i] = from[2 * i + 1];
    }
}

std::string Lowercase(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

} // namespace

CBufferSource::CBufferSource(std::vector<float> samples, int sampleRate)
    : m_afSamples(std::move(samples)), m_iSampleRate(sampleRate)
{
}

long CBufferSource::Read(float* left, float* right, long frames)
{
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(frames), m_afSamples.size() - m_iPosition);
    std::copy_n(m_afSamples.data() + m_iPosition, n, left);
    std::copy_n(m_afSamples.data() + m_iPosition, n, right);
    m_iPosition += n;
    return static_cast<long>(n);
}

bool ParseChannels(const std::string& text, std::vector<int>& channels, std::string& error)
{
    channels.clear();
    const std::string accepted = "; accepted: one channel number or two separated by a comma, counted from 1 "
                                 "(e.g. --channels 3 or --channels 3,4)";
    std::size_t from = 0;
    while (true) {
        const std::size_t comma = text.find(',', from);
        const std::string part = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        char* end = nullptr;
        const long value = std::strtol(part.c_str(), &end, 10);
        if (part.empty() || *end != '\0' || value < 1 || value > 1024) {
            error = "--channels " + Quoted(text) + " is not valid" + accepted;
            return false;
        }
        channels.push_back(static_cast<int>(value));
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    if (channels.size() > 2) {
        error = "--channels " + Quoted(text) + " names " + std::to_string(channels.size()) +
                " channels; Corvex has a stereo input" + accepted;
        return false;
    }
    return true;
}

CSndfileSource::~CSndfileSource()
{
    if (m_pFile)
        sf_close(m_pFile);
}

std::unique_ptr<CSndfileSource> CSndfileSource::Open(const std::string& path, const std::vector<int>& channels,
                                                     std::string& error)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        error = "input file " + Quoted(path) + " does not exist";
        return nullptr;
    }
    if (std::filesystem::is_directory(path, ec)) {
        error = "input " + Quoted(path) + " is a directory, not an audio file";
        return nullptr;
    }
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        // libsndfile says "unknown format" for unreadable files too; report those as such.
        if (access(path.c_str(), R_OK) != 0)
            error = "cannot read input file " + Quoted(path) + ": " + std::strerror(errno);
        else
            error = "cannot decode input file " + Quoted(path) + ": " + sf_strerror(nullptr) + " (libsndfile " +
                    sf_version_string() + ")";
        return nullptr;
    }
    std::unique_ptr<CSndfileSource> source(new CSndfileSource);
    source->m_pFile = file;
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    source->m_sDescription = FormatName(major) + ", " + FormatName(subtype) + ", " + std::to_string(info.channels) +
                             (info.channels == 1 ? " channel" : " channels");
    if (info.samplerate < kMinSampleRate || info.samplerate > kMaxSampleRate) {
        error = "input file " + Quoted(path) + " has a sample rate of " + std::to_string(info.samplerate) +
                " Hz; accepted: " + std::to_string(kMinSampleRate) + " to " + std::to_string(kMaxSampleRate) +
                " Hz (Corvex's filters and cabinet are voiced for 44.1 kHz and above, and its delay, reverb "
                "and cabinet lines hold their times up to 192 kHz; resample the file first)";
        return nullptr;
    }
    if (channels.empty()) {
        if (info.channels > 2) {
            error = "input file " + Quoted(path) + " has " + std::to_string(info.channels) +
                    " channels; pick one or two of them with --channels L[,R] (e.g. --channels 1 or --channels 1,2)";
            return nullptr;
        }
        for (int c = 0; c < info.channels; ++c)
            source->m_aiUsed.push_back(c);
    } else {
        for (int c : channels) {
            if (c < 1 || c > info.channels) {
                error = "--channels " + std::to_string(c) + " is out of range: input file " + Quoted(path) + " has " +
                        std::to_string(info.channels) + (info.channels == 1 ? " channel" : " channels") +
                        "; accepted: 1 to " + std::to_string(info.channels);
                return nullptr;
            }
            source->m_aiUsed.push_back(c - 1);
        }
    }
    source->m_iSampleRate = info.samplerate;
    source->m_iFileChannels = info.channels;
    // Streams without a length report the largest count there is.
    source->m_iFrames = info.frames >= 0 && info.frames < SF_COUNT_MAX ? info.frames : -1;
    const std::int64_t promised = HeaderFrames(path, major, subtype);
    if (promised > source->m_iFrames)
        source->m_iFrames = promised;
    return source;
}

std::vector<int> CSndfileSource::UsedChannels() const
{
    std::vector<int> used;
    for (int c : m_aiUsed)
        used.push_back(c + 1);
    return used;
}

long CSndfileSource::Read(float* left, float* right, long frames)
{
    const std::size_t width = static_cast<std::size_t>(m_iFileChannels);
    const std::size_t l = static_cast<std::size_t>(m_aiUsed.front());
    const std::size_t r = static_cast<std::size_t>(m_aiUsed.back());
    long done = 0;
    while (done < frames) {
        if (m_iChunkRead == m_iChunkFrames) {
            // A read error shows once the frames read before it have been handed out.
            if (m_bFileEnded) {
                m_sReadError = m_sPendingError;
                break;
            }
            FillChunk();
            if (m_iChunkFrames == 0)
                continue;
        }
        const long count = std::min(frames - done, m_iChunkFrames - m_iChunkRead);
        const float* from = m_afInterleaved.data() + static_cast<std::size_t>(m_iChunkRead) * width;
        // A stereo or mono file's own channels, the usual case, in loops the compiler vectorises.
        if (width == 2 && l == 0 && r == 1) {
            Deinterleave(from, left + done, right + done, count);
        } else if (width == 1) {
            std::copy_n(from, count, left + done);
            std::copy_n(from, count, right + done);
        } else {
            for (long i = 0; i < count; ++i, from += width) {
                left[done + i] = from[l];
                right[done + i] = from[r];
            }
        }
        done += count;
        m_iChunkRead += count;
    }
    return done;
}

void CSndfileSource::FillChunk()
{
    m_afInterleaved.resize(static_cast<std::size_t>(kChunkFrames) * static_cast<std::size_t>(m_iFileChannels));
    sf_count_t n = sf_readf_float(m_pFile, m_afInterleaved.data(), kChunkFrames);
    if (n < 0)
        n = 0;
    m_iChunkFrames = static_cast<long>(n);
    m_iChunkRead = 0;
    if (n < kChunkFrames) {
        m_bFileEnded = true;
        if (sf_error(m_pFile) != SF_ERR_NO_ERROR)
            m_sPendingError = sf_strerror(m_pFile);
    }
}

const std::vector<OutputFormat>& OutputFormats()
{
    static const std::vector<OutputFormat> formats = {
        {"wav16", SF_FORMAT_WAV | SF_FORMAT_PCM_16},   {"wav24", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {"wav32f", SF_FORMAT_WAV | SF_FORMAT_FLOAT},   {"flac16", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"flac24", SF_FORMAT_FLAC | SF_FORMAT_PCM_24}, {"aiff16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
        {"aiff24", SF_FORMAT_AIFF | SF_FORMAT_PCM_24}, {"aiff32f", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
    };
    return formats;
}

const OutputFormat* FindOutputFormat(const std::string& name)
{
    const std::string wanted = Lowercase(name);
    for (const OutputFormat& format : OutputFormats())
        if (format.name == wanted)
            return &format;
    return nullptr;
}

const OutputFormat& DefaultFormatFor(const std::string& path)
{
    const std::string extension = Lowercase(std::filesystem::path(path).extension().string());
    const char* name = "wav24";
    if (extension == ".flac")
        name = "flac24";
    else if (extension == ".aif" || extension == ".aiff")
        name = "aiff24";
    else if (extension == ".ogg" || extension == ".oga")
        name = "ogg";
    return *FindOutputFormat(name);
}

namespace {

// Creates an empty, uniquely named file beside `path`; returns its name or "" with errno set.
std::string CreateTemporaryBeside(const std::string& path)
{
    const std::filesystem::path target(path);
    std::filesystem::path dir = target.parent_path();
    std::string pattern = (dir / ("." + target.filename().string() + ".partial-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0)
        return "";
    // mkstemp creates the file private to its owner; give it the permissions any new file gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    return name.data();
}

bool RenameIntoPlace(const std::string& from, const std::string& to, std::string& error)
{
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        error = "cannot move the finished output into place as " + Quoted(to) + ": " + std::strerror(errno);
        std::remove(from.c_str());
        return false;
    }
    return true;
}

} // namespace

CStereoFileWriter::~CStereoFileWriter() { Discard(); }

std::unique_ptr<CStereoFileWriter> CStereoFileWriter::Create(const std::string& path, const OutputFormat& format,
                                                             int sampleRate, std::string& error)
{
    std::unique_ptr<CStereoFileWriter> writer(new CStereoFileWriter);
    writer->m_sPath = path;
    writer->m_sTempPath = CreateTemporaryBeside(path);
    if (writer->m_sTempPath.empty()) {
        error = "cannot write output file " + Quoted(path) + ": " + std::strerror(errno);
        return nullptr;
    }
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = format.sndfileFormat;
    if (!sf_format_check(&info)) {
        error = "format " + format.name + " cannot hold " + std::to_string(sampleRate) + " Hz audio";
        return nullptr;
    }
    writer->m_pFile = sf_open(writer->m_sTempPath.c_str(), SFM_WRITE, &info);
    if (!writer->m_pFile) {
        error = "cannot write output file " + Quoted(path) + ": " + sf_strerror(nullptr);
        return nullptr;
    }
    // Saturate instead of wrapping around when a sample beyond full scale meets an integer format.
    sf_command(writer->m_pFile, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // The PEAK chunk of float files carries a time stamp; without it equal renders give equal files.
    sf_command(writer->m_pFile, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    return writer;
}

bool CStereoFileWriter::Write(const float* left, const float* right, long frames)
{
    m_afInterleaved.resize(2 * static_cast<std::size_t>(kChunkFrames));
    for (long done = 0; done < frames;) {
        const long count = std::min(frames - done, kChunkFrames - m_iBufferedFrames);
        float* out = m_afInterleaved.data() + 2 * m_iBufferedFrames;
        for (long i = 0; i < count; ++i) {
            out[2 * i] = left[done + i];
            out[2 * i + 1] = right[done + i];
        }
        done += count;
        m_iBufferedFrames += count;
        if (m_iBufferedFrames == kChunkFrames && !Flush())
            return false;
    }
    return true;
}

bool CStereoFileWriter::Flush()
{
    const sf_count_t frames = m_iBufferedFrames;
    m_iBufferedFrames = 0;
    return frames == 0 || sf_writef_float(m_pFile, m_afInterleaved.data(), frames) == frames;
}

bool CStereoFileWriter::Commit(std::string& error)
{
    if (!Flush()) {
        error = "cannot write output file " + Quoted(m_sPath) + " (disk full?)";
        Discard();
        return false;
    }
    const int closeResult = sf_close(m_pFile);
    m_pFile = nullptr;
    if (closeResult != 0) {
        error = "cannot finish output file " + Quoted(m_sPath) + ": " + sf_error_number(closeResult);
        Discard();
        return false;
    }
    const bool moved = RenameIntoPlace(m_sTempPath, m_sPath, error);
    m_sTempPath.clear();
    return moved;
}

void CStereoFileWriter::Discard()
{
    if (m_pFile) {
        sf_close(m_pFile);
        m_pFile = nullptr;
    }
    if (!m_sTempPath.empty()) {
        std::remove(m_sTempPath.c_str());
        m_sTempPath.clear();
    }
}

} // namespace corvex::render
