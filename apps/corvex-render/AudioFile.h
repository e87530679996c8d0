#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Audio file access for the renderer: libsndfile behind a small streaming interface, so that a
// long recording never has to fit in memory.

typedef struct sf_private_tag SNDFILE;

namespace corvex::render {

// The rates the plug-in is voiced and sized for: its filters and cabinet response are laid out
// for 44.1 kHz and above, and its delay, reverb and cabinet lines hold their times up to 192 kHz.
constexpr int kMinSampleRate = 44100;
constexpr int kMaxSampleRate = 192000;

// Where the render's input samples come from: a file, or a buffer such as the demo phrase.
class CAudioSource {
public:
    virtual ~CAudioSource() = default;
    virtual int SampleRate() const = 0;
    // Channels fed to the plug-in: 1 (to both inputs) or 2.
    virtual int Channels() const = 0;
    // Frames the source promises; -1 when it cannot say (a stream without a length).
    virtual std::int64_t Frames() const = 0;
    // Reads up to `frames` frames into left and right (a mono source fills both); returns the
    // number read, 0 at the end. A read error ends the source early and is kept in ReadError.
    virtual long Read(float* left, float* right, long frames) = 0;
    virtual const std::string& ReadError() const = 0;
};

// A mono buffer held in memory.
class CBufferSource final : public CAudioSource {
public:
    CBufferSource(std::vector<float> samples, int sampleRate);
    int SampleRate() const override { return m_iSampleRate; }
    int Channels() const override { return 1; }
    std::int64_t Frames() const override { return static_cast<std::int64_t>(m_afSamples.size()); }
    long Read(float* left, float* right, long frames) override;
    const std::string& ReadError() const override { return m_sNoError; }

private:
    std::vector<float> m_afSamples;
    int m_iSampleRate;
    std::size_t m_iPosition = 0;
    std::string m_sNoError;
};

// Any file libsndfile decodes, at an accepted rate; one or two of its channels.
class CSndfileSource final : public CAudioSource {
public:
    ~CSndfileSource() override;
    // Opens and validates `path`. `channels` holds the 1-based channels to use (one or two), or
    // is empty for a mono or stereo file's own. On failure returns null and a message naming the
    // problem.
    static std::unique_ptr<CSndfileSource> Open(const std::string& path, const std::vector<int>& channels,
                                                std::string& error);

    int SampleRate() const override { return m_iSampleRate; }
    int Channels() const override { return static_cast<int>(m_aiUsed.size()); }
    std::int64_t Frames() const override { return m_iFrames; }
    long Read(float* left, float* right, long frames) override;
    const std::string& ReadError() const override { return m_sReadError; }

    // "WAV (Microsoft), Signed 24 bit PCM, 4 channels", for reports.
    const std::string& Description() const { return m_sDescription; }
    // The 1-based channels in use.
    std::vector<int> UsedChannels() const;

private:
    CSndfileSource() = default;
    // Reads the next chunk of the file: libsndfile is asked for many frames at a time, however
    // small the blocks handed on.
    void FillChunk();

    SNDFILE* m_pFile = nullptr;
    int m_iSampleRate = 0;
    int m_iFileChannels = 0;
    std::vector<int> m_aiUsed; // 0-based
    std::int64_t m_iFrames = 0;
    std::vector<float> m_afInterleaved; // the current chunk
    long m_iChunkFrames = 0;
    long m_iChunkRead = 0;
    bool m_bFileEnded = false;
    std::string m_sPendingError;
    std::string m_sDescription;
    std::string m_sReadError;
};

// Frames the renderer reads from and writes to libsndfile at a time, whatever the block size.
constexpr long kChunkFrames = 4096;

// Parses --channels: "L" or "L,R", 1-based. On failure returns false and a message.
bool ParseChannels(const std::string& text, std::vector<int>& channels, std::string& error);

// Output container and sample encoding.
struct OutputFormat {
    std::string name; // as given to --format, e.g. "wav24"
    int sndfileFormat;
};

// The formats --format accepts, in the order they are listed to the user.
const std::vector<OutputFormat>& OutputFormats();
// The format named `name`, or null.
const OutputFormat* FindOutputFormat(const std::string& name);
// The format implied by an output file's extension: 24-bit for WAV, FLAC and AIFF, Vorbis for Ogg.
const OutputFormat& DefaultFormatFor(const std::string& path);

// A stereo file written under a temporary name beside its destination and renamed into place
// only by Commit, so that an interrupted render leaves no partial output behind.
class CStereoFileWriter {
public:
    ~CStereoFileWriter();
    static std::unique_ptr<CStereoFileWriter> Create(const std::string& path, const OutputFormat& format,
                                                     int sampleRate, std::string& error);
    bool Write(const float* left, const float* right, long frames);
    bool Commit(std::string& error);
    // Deletes the temporary file; also what the destructor does if Commit was not reached.
    void Discard();
    const std::string& TemporaryPath() const { return m_sTempPath; }

private:
    CStereoFileWriter() = default;
    // Hands the frames collected so far to libsndfile.
    bool Flush();

    SNDFILE* m_pFile = nullptr;
    std::string m_sPath;
    std::string m_sTempPath;
    std::vector<float> m_afInterleaved; // frames not yet written, interleaved
    long m_iBufferedFrames = 0;
};


} // namespace corvex::render
