#pragma once

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include "Lv2Ports.h"
#include "ProcessorCore.h"

namespace corvex::lv2 {

// The LV2 face of CProcessorCore: reads the control ports and the host's tempo each run,
// writes the meters and LEDs back. Every parameter is a port, so the ports are the state.
class CCorvexLv2 {
public:
    // Used when the host states no bufsz:maxBlockLength; longer runs are sliced anyway.
    static constexpr int kDefaultMaxBlock = 4096;

    // Null when the rate is impossible or memory runs out.
    static CCorvexLv2* Create(double sampleRate, const LV2_Feature* const* features);

    void Connect(std::uint32_t port, void* data);
    void Activate();
    void Run(std::uint32_t samples);

private:
    CCorvexLv2() = default;
    void ReadTempo();
    void ReadControls();

    CProcessorCore m_core;
    const float* m_apfPorts[kPortCount] = {};
    const LV2_Atom_Sequence* m_pTime = nullptr;
    struct {
        LV2_URID atomBlank, atomObject, atomFloat, atomDouble, atomInt, atomLong;
        LV2_URID timePosition, timeBeatsPerMinute;
    } m_uris{};
};

} // namespace corvex::lv2
