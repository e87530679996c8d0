#include "ImpulseSource.h"

#include <cmath>
#include <cstdio>

namespace corvex {

namespace {

std::string Hertz(double rate)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g Hz", rate);
    return text;
}

// The length of the UTF-8 character at text[i], or 0 when it is not one (overlong forms,
// surrogates and code points past U+10FFFF are not).
std::size_t Utf8Length(const std::string& text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    std::size_t length;
    std::uint32_t code;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - i < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0u) != 0x80u)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3Fu);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

} // namespace

std::string ImpulseShapeProblem(double sampleRate, int channels, std::int64_t frames)
{
    if (channels > kImpulseMaxChannels)
        return "has " + std::to_string(channels) + " channels (an IR has 1 or 2)";
    if (channels < 1 || frames < 1)
        return "holds no audio";
    if (!(sampleRate >= kImpulseMinRate && sampleRate <= kImpulseMaxRate))
        return "is at " + Hertz(sampleRate) + " (an IR is at " + Hertz(kImpulseMinRate) + " to " +
               Hertz(kImpulseMaxRate) + ")";
    if (static_cast<double>(frames) > kImpulseMaxSeconds * sampleRate)
        return "is longer than " + std::to_string(static_cast<int>(kImpulseMaxSeconds)) + " s";
    return {};
}

std::string ImpulseProblem(const ImpulseSource& source)
{
    std::string problem = ImpulseShapeProblem(source.sampleRate, source.channels, source.frames);
    if (!problem.empty())
        return problem;
    if (source.samples.size() != static_cast<std::size_t>(source.channels) * static_cast<std::size_t>(source.frames))
        return "holds " + std::to_string(source.samples.size()) + " samples, not channels × frames";
    float peak = 0.0f;
    for (const float sample : source.samples) {
        if (!std::isfinite(sample))
            return "has non-finite samples";
        peak = std::fmax(peak, std::fabs(sample));
    }
    if (peak < kImpulseSilencePeak)
        return "is silent";
    if (!IsImpulseName(source.name))
        return "has a name that is not UTF-8 text of at most " + std::to_string(kImpulseMaxNameBytes) + " bytes";
    return {};
}

std::string ImpulseName(const std::string& path)
{
#ifdef _WIN32
    const std::size_t slash = path.find_last_of("/\\");
#else
    const std::size_t slash = path.find_last_of('/');
#endif
    const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string name;
    for (std::size_t i = 0; i < last.size();) {
        const std::size_t length = Utf8Length(last, i);
        std::string character;
        if (length == 0)
            character = "\xEF\xBF\xBD";
        else if (length == 1 && IsControl(static_cast<unsigned char>(last[i])))
            character = "_";
        else
            character = last.substr(i, length);
        if (name.size() + character.size() > kImpulseMaxNameBytes)
            break;
        name += character;
        i += length == 0 ? 1 : length;
    }
    return name;
}

bool IsImpulseName(const std::string& name)
{
    if (name.size() > kImpulseMaxNameBytes)
        return false;
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t length = Utf8Length(name, i);
        if (length == 0 || (length == 1 && (IsControl(static_cast<unsigned char>(name[i])) || name[i] == '/')))
            return false;
        i += length;
    }
    return true;
}

} // namespace corvex
