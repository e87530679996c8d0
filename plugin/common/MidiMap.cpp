#include "MidiMap.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace corvex {

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
    const std::uint8_t kind = message.status & kMidiKindMask;
    if (channel >= 0 && (message.status & kMidiChannelMask) != channel)
        return action;
    if (kind == kMidiControlChange && message.data1 < kMidiControllerCount && message.data2 <= kMidiValueMax) {
        action.kind = MidiAction::Kind::Control;
        action.controller = message.data1;
        action.value = message.data2;
    }
    else if (kind == kMidiProgramChange && message.data1 <= kMidiValueMax) {
        action.kind = MidiAction::Kind::Program;
        action.value = message.data1;
    }
    return action;
}

bool CMidiParser::Feed(std::uint8_t byte, MidiMessage& message)
{
    if (byte >= kMidiFirstRealTime)
        return false; // clock, active sensing and the like, even inside a message
    if (byte & kMidiStatusBit) {
        m_bSysEx = byte == kMidiSysExStart;
        // System Common (and SysEx) cancel running status; its end byte belongs to no message.
        m_status = byte < kMidiSysExStart ? byte : 0;
        m_count = 0;
        return false;
    }
    if (m_bSysEx || m_status == 0)
        return false;
    m_data[m_count++] = byte;
    const std::uint8_t kind = m_status & kMidiKindMask;
    const int length = kind == kMidiProgramChange || kind == kMidiChannelPressure ? 1 : 2;
    if (m_count < length)
        return false;
    m_count = 0;
    message.status = m_status;
    message.data1 = m_data[0];
    message.data2 = length == 2 ? m_data[1] : 0;
    return true;
}

MidiControllerMap MidiControllerMap::Default()
{
    MidiControllerMap map;
    for (const MidiBinding& binding : kMidiMap)
        map.params[binding.controller] = binding.id;
    return map;
}

void MidiControllerMap::Bind(int controller, ParamID id, bool toggle)
{
    if (controller < 0 || controller >= kMidiControllerCount)
        return;
    params[controller] = id;
    toggles[controller] = toggle && id != 0;
}

void MidiControllerMap::Forget(ParamID id)
{
    for (int c = 0; c < kMidiControllerCount; ++c)
        if (params[c] == id)
            Bind(c, 0);
}

int MidiControllerMap::ControllerOf(ParamID id) const
{
    for (int c = 0; c < kMidiControllerCount; ++c)
        if (params[c] == id)
            return c;
    return -1;
}

std::vector<MidiBinding> MidiControllerMap::Bindings() const
{
    std::vector<MidiBinding> bindings;
    for (int c = 0; c < kMidiControllerCount; ++c)
        if (params[c] != 0)
            bindings.push_back({c, params[c]});
    return bindings;
}

bool MidiControllerMap::operator==(const MidiControllerMap& other) const
{
    return std::equal(std::begin(params), std::end(params), std::begin(other.params)) &&
           std::equal(std::begin(toggles), std::end(toggles), std::begin(other.toggles));
}

bool IsMidiControllable(ParamID id)
{
    return (id >= kInputSelection && id <= kReverbLevel) || id == kBypass;
}

} // namespace corvex
