#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace corvex {

// A user cabinet impulse response as loaded: the file's samples at the file's rate. Immutable once
// made; the file reader and the state section make only sources that ImpulseProblem accepts.
struct ImpulseSource {
    std::string name;            // file name without folders, UTF-8
    double sampleRate = 0.0;     // the file's rate, 8000..384000
    int channels = 0;            // 1 or 2
    int frames = 0;              // ≤ 10 s at sampleRate
    std::vector<float> samples;  // interleaved, channels * frames
};

constexpr double kImpulseMinRate = 8000.0, kImpulseMaxRate = 384000.0, kImpulseMaxSeconds = 10.0;
constexpr int kImpulseMaxChannels = 2;
// The longest name kept, in UTF-8 bytes: room for 255 UTF-16 units of a Windows file name.
constexpr std::size_t kImpulseMaxNameBytes = 1024;
// A peak under -90 dBFS counts as silence.
constexpr float kImpulseSilencePeak = 3.16227766e-5f;

// What makes a rate, channel count and length unusable, as a phrase that follows the file's name
// ("is longer than 10 s"); empty when they are usable. The frame count may exceed an int.
std::string ImpulseShapeProblem(double sampleRate, int channels, std::int64_t frames);
// The same for a whole source, its samples included (non-finite, silent), and its size.
std::string ImpulseProblem(const ImpulseSource& source);

// A name as a source keeps it: the path's last component (after '/', and '\' on Windows), bytes
// that are not UTF-8 replaced by U+FFFD, control characters by '_', cut at a character boundary
// to kImpulseMaxNameBytes.
std::string ImpulseName(const std::string& path);
// Whether a name is one ImpulseName could have made of itself: UTF-8, no control characters,
// at most kImpulseMaxNameBytes.
bool IsImpulseName(const std::string& name);

} // namespace corvex
