#pragma once

#include <string>
#include <vector>

#include "MidiMap.h"

namespace corvex::render {

// A channel message of a Standard MIDI File at its time from the start, tempo map applied.
struct TimedMidi {
    double seconds = 0.0;
    MidiMessage message;
};

// The Control and Program Changes of a Standard MIDI File's every track, in time order (equal
// times keep the file's order); other events are left out. False, with the reason, for a file
// that cannot be read, is no Standard MIDI File or is damaged (refused whole).
bool ReadMidiFile(const std::string& path, std::vector<TimedMidi>& messages, std::string& error);
// The same from bytes in memory.
bool ParseMidiFile(const unsigned char* data, std::size_t size, std::vector<TimedMidi>& messages,
                   std::string& error);

} // namespace corvex::render
