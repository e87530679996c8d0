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
