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

bool IsSupportedContainer(int major)
{
    return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64 ||
           major == SF_FORMAT_FLAC || major == SF_FORMAT_AIFF || major == SF_FORMAT_OGG;
}

bool IsSupportedEncoding(int major, int subtype)
{
    if (major == SF_FORMAT_OGG)
        return subtype == SF_FORMAT_VORBIS;
    return subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_24 || subtype == SF_FORMAT_FLOAT;
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

CSndfileSource::~CSndfileSource()
{
    if (m_pFile)
        sf_close(m_pFile);
}

std::unique_ptr<CSndfileSource> CSndfileSource::Open(const std::string& path, std::string& error)
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
        // libsndfile says "unknown format" for readable non-audio files; report unreadable ones as such.
        if (access(path.c_str(), R_OK) != 0)
            error = "cannot read input file " + Quoted(path) + ": " + std::strerror(errno);
        else
            error = "input file " + Quoted(path) + " is not a supported audio file (" + sf_strerror(nullptr) +
                    "); accepted: WAV, FLAC, AIFF or Ogg Vorbis";
        return nullptr;
    }
    std::unique_ptr<CSndfileSource> source(new CSndfileSource);
    source->m_pFile = file;
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    SF_FORMAT_INFO formatInfo{};
    formatInfo.format = major;
    sf_command(nullptr, SFC_GET_FORMAT_INFO, &formatInfo, sizeof formatInfo);
    const std::string containerName = formatInfo.name ? formatInfo.name : "unknown";
    if (!IsSupportedContainer(major)) {
        error = "input file " + Quoted(path) + " is " + containerName +
                ", which is not supported; accepted: WAV, FLAC, AIFF or Ogg Vorbis";
        return nullptr;
    }
    if (!IsSupportedEncoding(major, subtype)) {
        SF_FORMAT_INFO subtypeInfo{};
        subtypeInfo.format = subtype;
        sf_command(nullptr, SFC_GET_FORMAT_INFO, &subtypeInfo, sizeof subtypeInfo);
        error = "input file " + Quoted(path) + " holds " + (subtypeInfo.name ? subtypeInfo.name : "unknown") +
                " samples, which are not supported; accepted: 16-bit or 24-bit integer, or 32-bit float";
        return nullptr;
    }
    if (info.samplerate < kMinSampleRate || info.samplerate > kMaxSampleRate) {
        error = "input file " + Quoted(path) + " has a sample rate of " + std::to_string(info.samplerate) +
                " Hz; accepted: " + std::to_string(kMinSampleRate) + " to " + std::to_string(kMaxSampleRate) + " Hz";
        return nullptr;
    }
    if (info.channels < 1 || info.channels > 2) {
        error = "input file " + Quoted(path) + " has " + std::to_string(info.channels) +
                " channels; accepted: 1 (mono) or 2 (stereo)";
        return nullptr;
    }
    source->m_iSampleRate = info.samplerate;
    source->m_iChannels = info.channels;
    source->m_iFrames = info.frames;
    return source;
}

long CSndfileSource::Read(float* left, float* right, long frames)
{
    if (m_iChannels == 1) {
        const sf_count_t n = sf_readf_float(m_pFile, left, frames);
        if (n < 0)
            return -1;
        std::copy_n(left, n, right);
        if (n < frames && sf_error(m_pFile) != SF_ERR_NO_ERROR)
            return -1;
        return static_cast<long>(n);
    }
    m_afInterleaved.resize(static_cast<std::size_t>(frames) * 2);
    const sf_count_t n = sf_readf_float(m_pFile, m_afInterleaved.data(), frames);
    if (n < 0)
        return -1;
    for (sf_count_t i = 0; i < n; ++i) {
        left[i] = m_afInterleaved[2 * i];
        right[i] = m_afInterleaved[2 * i + 1];
    }
    if (n < frames && sf_error(m_pFile) != SF_ERR_NO_ERROR)
        return -1;
    return static_cast<long>(n);
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
    m_afInterleaved.resize(static_cast<std::size_t>(frames) * 2);
    for (long i = 0; i < frames; ++i) {
        m_afInterleaved[2 * i] = left[i];
        m_afInterleaved[2 * i + 1] = right[i];
    }
    return sf_writef_float(m_pFile, m_afInterleaved.data(), frames) == frames;
}

bool CStereoFileWriter::Commit(std::string& error)
{
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

bool WriteFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes, std::string& error)
{
    const std::string temp = CreateTemporaryBeside(path);
    if (temp.empty()) {
        error = "cannot write " + Quoted(path) + ": " + std::strerror(errno);
        return false;
    }
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    bool ok = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file)
        ok = (std::fclose(file) == 0) && ok;
    if (!ok) {
        error = "cannot write " + Quoted(path) + ": " + std::strerror(errno);
        std::remove(temp.c_str());
        return false;
    }
    return RenameIntoPlace(temp, path, error);
}

} // namespace corvex::render
