#include "MidiFile.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>

namespace corvex::render {

// Our own reader: Debian's Standard MIDI File library reads past its buffers on damaged files,
// and all a render needs is two kinds of channel message and the tempo map.

namespace {

using corvex::kMidiChannelPressure;
using corvex::kMidiControlChange;
using corvex::kMidiKindMask;
using corvex::kMidiProgramChange;
// In a file, an escape as well as System Exclusive's end.
constexpr unsigned char kSysExContinued = corvex::kMidiSysExEnd;
constexpr unsigned char kMeta = 0xFF;
constexpr unsigned char kMetaTempo = 0x51;
constexpr unsigned char kMetaEndOfTrack = 0x2F;
constexpr std::uint32_t kDefaultTempo = 500000; // microseconds per quarter note: 120 BPM
constexpr std::size_t kHeaderLength = 6;
constexpr int kMaxVarLengthBytes = 4;

struct Tempo {
    std::uint64_t tick;
    std::uint32_t microsPerQuarter;
};

struct TickedMidi {
    std::uint64_t tick;
    MidiMessage message;
};

class CReader {
public:
    CReader(const unsigned char* data, std::size_t size) : m_pData(data), m_iSize(size) {}

    std::size_t Left() const { return m_iSize - m_iAt; }
    bool Byte(unsigned char& value)
    {
        if (m_iAt >= m_iSize)
            return false;
        value = m_pData[m_iAt++];
        return true;
    }
    bool Peek(unsigned char& value) const
    {
        if (m_iAt >= m_iSize)
            return false;
        value = m_pData[m_iAt];
        return true;
    }
    bool Skip(std::size_t count)
    {
        if (count > Left())
            return false;
        m_iAt += count;
        return true;
    }
    bool BigEndian(int bytes, std::uint32_t& value)
    {
        value = 0;
        for (int i = 0; i < bytes; ++i) {
            unsigned char b = 0;
            if (!Byte(b))
                return false;
            value = (value << 8) | b;
        }
        return true;
    }
    // A variable-length quantity: seven bits a byte, at most four bytes.
    bool VarLength(std::uint32_t& value)
    {
        value = 0;
        for (int i = 0; i < kMaxVarLengthBytes; ++i) {
            unsigned char b = 0;
            if (!Byte(b))
                return false;
            value = (value << 7) | (b & 0x7F);
            if ((b & 0x80) == 0)
                return true;
        }
        return false;
    }
    const unsigned char* Here() const { return m_pData + m_iAt; }

private:
    const unsigned char* m_pData;
    std::size_t m_iSize;
    std::size_t m_iAt = 0;
};

// One track's events: tempos and the channel messages kept. False with the reason.
bool ReadTrack(CReader track, std::vector<Tempo>& tempos, std::vector<TickedMidi>& kept, std::string& error)
{
    std::uint64_t tick = 0;
    unsigned char running = 0;
    while (track.Left() > 0) {
        std::uint32_t delta = 0;
        unsigned char status = 0;
        if (!track.VarLength(delta) || !track.Peek(status)) {
            error = "a track ends inside an event";
            return false;
        }
        tick += delta;
        if (status == kMeta) {
            unsigned char type = 0;
            std::uint32_t length = 0;
            track.Skip(1);
            if (!track.Byte(type) || !track.VarLength(length) || length > track.Left()) {
                error = "a meta event runs past its track";
                return false;
            }
            if (type == kMetaTempo && length == 3) {
                const unsigned char* bytes = track.Here();
                const std::uint32_t micros = (std::uint32_t(bytes[0]) << 16) | (std::uint32_t(bytes[1]) << 8) | bytes[2];
                if (micros > 0)
                    tempos.push_back({tick, micros});
            }
            track.Skip(length);
            if (type == kMetaEndOfTrack)
                return true;
            continue;
        }
        if (status == corvex::kMidiSysExStart || status == kSysExContinued) {
            std::uint32_t length = 0;
            track.Skip(1);
            if (!track.VarLength(length) || !track.Skip(length)) {
                error = "a System Exclusive message runs past its track";
                return false;
            }
            running = 0;
            continue;
        }
        if (status & 0x80) {
            if (status > 0xEF) {
                error = "it holds a system message where a file may not";
                return false;
            }
            running = status;
            track.Skip(1);
        } else if (running == 0) {
            error = "a data byte has no status before it";
            return false;
        }
        const unsigned char kind = running & kMidiKindMask;
        const int dataBytes = kind == kMidiProgramChange || kind == kMidiChannelPressure ? 1 : 2;
        unsigned char data[2] = {};
        for (int i = 0; i < dataBytes; ++i)
            if (!track.Byte(data[i]) || (data[i] & 0x80)) {
                error = "a channel message is cut short";
                return false;
            }
        if (kind == kMidiControlChange || kind == kMidiProgramChange)
            kept.push_back({tick, {running, data[0], data[1]}});
    }
    return true; // a track without its end marker still says what it holds
}

} // namespace

bool ParseMidiFile(const unsigned char* data, std::size_t size, std::vector<TimedMidi>& messages, std::string& error)
{
    messages.clear();
    CReader file(data, size);
    std::uint32_t id = 0, length = 0, format = 0, tracks = 0, division = 0;
    if (!file.BigEndian(4, id) || id != 0x4D546864 /* MThd */ || !file.BigEndian(4, length) ||
        length < kHeaderLength || !file.BigEndian(2, format) || !file.BigEndian(2, tracks) ||
        !file.BigEndian(2, division) || !file.Skip(length - kHeaderLength)) {
        error = "it is no Standard MIDI File (no MThd header)";
        return false;
    }
    if (format > 2 || division == 0) {
        error = "its header is damaged (format " + std::to_string(format) + ", division " + std::to_string(division) + ")";
        return false;
    }
    // Quarter-note ticks follow the tempo map; SMPTE ticks are of fixed length.
    double smpteTick = 0.0;
    if (division & 0x8000) {
        const int framesPerSecond = -static_cast<signed char>(division >> 8);
        const int ticksPerFrame = division & 0xFF;
        if (framesPerSecond <= 0 || ticksPerFrame == 0) {
            error = "its SMPTE timing is damaged";
            return false;
        }
        smpteTick = 1.0 / ((framesPerSecond == 29 ? 29.97 : framesPerSecond) * ticksPerFrame);
    }

    std::vector<Tempo> tempos;
    std::vector<TickedMidi> kept;
    std::uint32_t tracksRead = 0;
    while (file.Left() > 0 && tracksRead < tracks) {
        if (!file.BigEndian(4, id) || !file.BigEndian(4, length) || length > file.Left()) {
            error = "a chunk runs past the end of the file";
            return false;
        }
        const unsigned char* chunk = file.Here();
        file.Skip(length);
        if (id != 0x4D54726B /* MTrk */)
            continue; // chunks of other kinds are for other readers
        ++tracksRead;
        if (!ReadTrack(CReader(chunk, length), tempos, kept, error))
            return false;
    }
    if (tracksRead < tracks) {
        error = "it ends after " + std::to_string(tracksRead) + " of its " + std::to_string(tracks) + " tracks";
        return false;
    }

    // Every track follows one tempo map (the first track's, in a file of several).
    std::stable_sort(tempos.begin(), tempos.end(), [](const Tempo& a, const Tempo& b) { return a.tick < b.tick; });
    std::stable_sort(kept.begin(), kept.end(), [](const TickedMidi& a, const TickedMidi& b) { return a.tick < b.tick; });
    std::size_t next = 0;
    std::uint64_t segmentTick = 0;
    double segmentSeconds = 0.0;
    double secondsPerTick = kDefaultTempo * 1e-6 / division;
    for (const TickedMidi& event : kept) {
        TimedMidi timed;
        timed.message = event.message;
        if (smpteTick > 0.0) {
            timed.seconds = static_cast<double>(event.tick) * smpteTick;
        } else {
            for (; next < tempos.size() && tempos[next].tick <= event.tick; ++next) {
                segmentSeconds += static_cast<double>(tempos[next].tick - segmentTick) * secondsPerTick;
                segmentTick = tempos[next].tick;
                secondsPerTick = tempos[next].microsPerQuarter * 1e-6 / division;
            }
            timed.seconds = segmentSeconds + static_cast<double>(event.tick - segmentTick) * secondsPerTick;
        }
        messages.push_back(timed);
    }
    return true;
}

bool ReadMidiFile(const std::string& path, std::vector<TimedMidi>& messages, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read --midi file \"" + path + "\"";
        return false;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!ParseMidiFile(bytes.data(), bytes.size(), messages, error)) {
        error = "--midi file \"" + path + "\": " + error;
        return false;
    }
    return true;
}

} // namespace corvex::render
