#pragma once

#include <string>

namespace corvex {

// A name as hosts turn it into a folder name: each character no file system takes ('<', '>',
// ':', '"', '/', '\', '|', '?', '*' and control characters) becomes '_'.
std::string LegalFileName(const std::string& name);

// Where hosts look for the .vstpreset files, below a presets root (~/.vst3/presets,
// /usr/share/vst3/presets, Common Files\VST3 Presets): "<vendor>/<plug-in name>", both made legal,
// the vendor being the factory's vendor text.
std::string PresetFolder();

} // namespace corvex
