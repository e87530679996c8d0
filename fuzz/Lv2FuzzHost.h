#pragma once

// The built corvex.so loaded through its lv2_descriptor, as hosts load it, for the LV2 targets:
// URIDs numbered in the order first asked for, and one instance playing a tone.

#include <dlfcn.h>

#include <lv2/core/lv2.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Lv2Ports.h"

namespace corvex::fuzz {

constexpr double kSampleRate = 48000.0;
constexpr std::uint32_t kBlock = 64;

// URID n is g_asUris[n - 1]; a target may name some in advance so that its seeds can use them.
inline std::vector<std::string> g_asUris;

inline LV2_URID Map(LV2_URID_Map_Handle, const char* uri)
{
    for (std::size_t i = 0; i < g_asUris.size(); ++i)
        if (g_asUris[i] == uri)
            return static_cast<LV2_URID>(i + 1);
    g_asUris.emplace_back(uri);
    return static_cast<LV2_URID>(g_asUris.size());
}

// One instance of the plug-in and the buffers on its audio and control ports.
struct CLv2Instance {
    const LV2_Descriptor* m_pDescriptor = nullptr;
    LV2_Handle m_hInstance = nullptr;
    float m_afAudio[4][kBlock] = {};
    float m_afControls[lv2::kPortCount] = {};

    // The descriptor of the binary at CORVEX_LV2_BUNDLE_PATH; one that does not load ends the run.
    void Load()
    {
        const std::string binary = std::string(CORVEX_LV2_BUNDLE_PATH) + "/" + lv2::kBinaryName;
        void* library = dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
        auto* entry = library ? reinterpret_cast<LV2_Descriptor_Function>(dlsym(library, "lv2_descriptor")) : nullptr;
        m_pDescriptor = entry ? entry(0) : nullptr;
        if (!m_pDescriptor) {
            std::fprintf(stderr, "cannot load %s: %s\n", binary.c_str(), library ? "no plug-in" : dlerror());
            std::exit(1);
        }
    }

    // Audio and controls connected (the atom ports are the target's), the controls at their
    // defaults with the plug-in enabled, and a tone on both inputs.
    void ConnectAndActivate()
    {
        using namespace lv2;
        for (std::uint32_t port = 0; port < kPortCount; ++port) {
            if (port <= kPortOutRight)
                m_pDescriptor->connect_port(m_hInstance, port, m_afAudio[port]);
            else if (port != kPortTime && port != kPortNotify)
                m_pDescriptor->connect_port(m_hInstance, port, &m_afControls[port]);
        }
        for (std::uint32_t port = kPortFirstParam; port < kPortEnabled; ++port)
            m_afControls[port] = corvex::kParamInfos[kPorts[port].id].defaultValue;
        m_afControls[kPortEnabled] = 1.0f;
        for (std::uint32_t i = 0; i < kBlock; ++i)
            m_afAudio[0][i] = m_afAudio[1][i] = 0.5f * static_cast<float>(std::sin(0.05 * i));
        m_pDescriptor->activate(m_hInstance);
    }
};

} // namespace corvex::fuzz
