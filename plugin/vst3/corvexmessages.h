#pragma once

#include <string>

#include "pluginterfaces/vst/ivstattributes.h"

namespace corvex {

// The messages processor and controller exchange about the user cabinet IR. Texts travel as
// binary attributes holding UTF-8 (file names and paths are not all UTF-16 safe).

// Controller to processor: load the file at the path attribute, or go back to the built-in
// cabinet.
constexpr const char* kLoadImpulseMessage = "LoadImpulse";
constexpr const char* kClearImpulseMessage = "ClearImpulse";
constexpr const char* kPathAttribute = "Path";

// Processor to controller, after either: the IR in use (name empty: the built-in cabinet) and,
// when a file was refused, the reason (otherwise empty).
constexpr const char* kImpulseMessage = "Impulse";
constexpr const char* kNameAttribute = "Name";
constexpr const char* kErrorAttribute = "Error";

// The tuner. Controller to processor, on its views' timer while one shows the tuner, and once
// when none does any more: whether it is shown (int 0 or 1), whether the output is muted meanwhile
// (int) and A4 in hertz (float). The processor copies the selected input only while it is shown;
// on each message it analyses what was copied since the last one (on the thread the message
// arrives on) and answers with the newest reading, if a 50 ms hop completed.
constexpr const char* kTunerMessage = "Tuner";
constexpr const char* kTunerShownAttribute = "Shown";
constexpr const char* kTunerMuteAttribute = "Mute";
constexpr const char* kTunerReferenceAttribute = "Reference";
// Processor to controller: a reading. Pitched (int), Hertz (float), Note (int, MIDI), Cents
// (float) and Seconds (float: the end of the audio it has seen, since the tuner opened).
constexpr const char* kTunerReadingMessage = "TunerReading";
constexpr const char* kTunerPitchedAttribute = "Pitched";
constexpr const char* kTunerHertzAttribute = "Hertz";
constexpr const char* kTunerNoteAttribute = "Note";
constexpr const char* kTunerCentsAttribute = "Cents";
constexpr const char* kTunerSecondsAttribute = "Seconds";

// Sends a text as a binary attribute. An empty one is left out (BinaryText reads it back as
// empty): the SDK's host attribute list never frees a zero-length binary.
inline void SetBinaryText(Steinberg::Vst::IAttributeList* attributes, const char* id, const std::string& text)
{
    if (attributes && !text.empty())
        attributes->setBinary(id, text.data(), static_cast<Steinberg::uint32>(text.size()));
}

// A text attribute as sent; empty when it is missing.
inline std::string BinaryText(Steinberg::Vst::IAttributeList* attributes, const char* id)
{
    const void* data = nullptr;
    Steinberg::uint32 size = 0;
    if (!attributes || attributes->getBinary(id, data, size) != Steinberg::kResultOk || !data)
        return {};
    return std::string(static_cast<const char*>(data), size);
}

} // namespace corvex
