#include "Lv2Ports.h"

namespace corvex::lv2 {

const PortInfo kPorts[kPortCount] = {
    {PortKind::AudioIn, "in_left", "Left In", 0},
    {PortKind::AudioIn, "in_right", "Right In", 0},
    {PortKind::AudioOut, "out_left", "Left Out", 0},
    {PortKind::AudioOut, "out_right", "Right Out", 0},
    {PortKind::TimeIn, "time", "Control", 0},
    {PortKind::ControlIn, "input_selection", nullptr, kInputSelection},
    {PortKind::ControlIn, "gate_compressor_on", nullptr, kGateCompressorOnOff},
    {PortKind::ControlIn, "compressor_level", nullptr, kCompressorLevel},
    {PortKind::ControlIn, "distortion_on", nullptr, kDistortionOnOff},
    {PortKind::ControlIn, "distortion_level", nullptr, kDistortionLevel},
    {PortKind::ControlIn, "stereo_enhancer_on", nullptr, kStereoEnhancerOnOff},
    {PortKind::ControlIn, "delay_on", nullptr, kDelayOnOff},
    {PortKind::ControlIn, "modulation_on", nullptr, kModulationOnOff},
    {PortKind::ControlIn, "chorus_speed", nullptr, kChorusSpeed},
    {PortKind::ControlIn, "reverb_on", nullptr, kReverbOnOff},
    {PortKind::ControlIn, "delay_level", nullptr, kDelayLevel},
    {PortKind::ControlIn, "reverb_level", nullptr, kReverbLevel},
    {PortKind::Enabled, "enabled", "Enabled", kBypass},
    {PortKind::ControlOut, "output_left_vumeter", nullptr, kOutputLeftVumeter},
    {PortKind::ControlOut, "output_right_vumeter", nullptr, kOutputRightVumeter},
    {PortKind::ControlOut, "input_clipping_led", nullptr, kInputClippingLed},
    {PortKind::ControlOut, "output_clipping_led", nullptr, kOuputClippingLed},
    {PortKind::ControlOut, "compression_led", nullptr, kCompressionLed},
    {PortKind::Notify, "notify", "Notify", 0},
};

std::uint32_t PortOfParam(ParamID id)
{
    for (std::uint32_t port = 0; port < kPortCount; ++port)
        if (kPorts[port].id == id && id != 0)
            return port;
    return kPortCount;
}

} // namespace corvex::lv2
