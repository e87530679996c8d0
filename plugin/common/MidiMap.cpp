#include "MidiMap.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace corvex {

namespace {

constexpr std::uint8_t kStatusKindMask = 0xF0;
constexpr std::uint8_t kChannelMask = 0x0F;
constexpr std::uint8_t kControlChange = 0xB0;
constexpr std::uint8_t kProgramChange = 0xC0;

} // namespace

const MidiBinding kMidiMap[kMidiBindingCount] = {
    {20, kInputSelection},   {21, kGateCompressorOnOff}, {22, kCompressorLevel},
    {23, kDistortionOnOff},  {24, kDistortionLevel},     {25, kStereoEnhancerOnOff},
    {26, kDelayOnOff},       {27, kModulationOnOff},     {28, kChorusSpeed},
    {29, kReverbOnOff},      {30, kDelayLevel},          {31, kReverbLevel},
    {11, kDistortionLevel},  {102, kBypass},
};

ParamID DefaultMidiParam(int controller)
{
    for (const MidiBinding& binding : kMidiMap)
        if (binding.controller == controller)
            return binding.id;
    return 0;
}

int DefaultMidiController(ParamID id)
{
    for (const MidiBinding& binding : kMidiMap)
        if (binding.id == id)
            return binding.controller;
    return -1;
}

double MidiControlValue(ParamID id, int value)
{
    value = std::clamp(value, 0, kMidiValueMax);
    if (IsParameter(id) && kParamInfos[id].stepCount == 1)
        return value >= kMidiSwitchOn ? 1.0 : 0.0;
    return static_cast<double>(value) / kMidiValueMax;
}

double ProgramValue(int index, int count)
{
    if (count < 2)
        return 0.0;
    return static_cast<double>(std::clamp(index, 0, count - 1)) / (count - 1);
}

int ProgramIndex(double value, int count)
{
    if (count < 2 || !(value > 0.0))
        return 0;
    return std::min(count - 1, static_cast<int>(std::floor(std::min(value, 1.0) * (count - 1) + 0.5)));
}

std::vector<MidiBinding> DefaultMidiMap()
{
    return std::vector<MidiBinding>(std::begin(kMidiMap), std::end(kMidiMap));
}

std::string FormatMidiMap(const std::vector<MidiBinding>& bindings, int programCount)
{
    std::vector<MidiBinding> sorted = bindings;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const MidiBinding& a, const MidiBinding& b) { return a.controller < b.controller; });
    std::string text;
    for (const MidiBinding& binding : sorted) {
        if (!IsParameter(binding.id))
            continue;
        text += "CC " + std::to_string(binding.controller) + (binding.controller < 10 ? "    " : binding.controller < 100 ? "   " : "  ");
        text += std::string(kParamInfos[binding.id].title) + "\n";
    }
    if (programCount > 0)
        text += "PC 0-" + std::to_string(std::min(programCount, kMidiValueMax + 1) - 1) +
                "  Preset: Program Change n selects preset n + 1 of the list\n";
    return text;
}

MidiAction DecodeMidi(const MidiMessage& message, int channel)
{
    MidiAction action;
    const std::uint8_t kind = message.status & kStatusKindMask;
    if (channel >= 0 && (message.status & kChannelMask) != channel)
        return action;
    if (kind == kControlChange && message.data1 < kMidiControllerCount && message.data2 <= kMidiValueMax) {
        action.kind = MidiAction::Kind::Control;
        action.controller = message.data1;
        action.value = message.data2;
    }
    else if (kind == kProgramChange && message.data1 <= kMidiValueMax) {
        action.kind = MidiAction::Kind::Program;
        action.value = message.data1;
    }
    return action;
}

} // namespace corvex
