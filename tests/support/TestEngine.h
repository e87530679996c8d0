#pragma once

#include <vector>

#include "base/Parameters.h"
#include "graph/ProcessAudio.h"

namespace corvex::test {

// A graph set up the way the processor sets it up: parameter floats at their defaults,
// 44.1 kHz, 120 BPM, 1024-sample capacity, 24 buffers, 21 table entries.
struct TestEngine {
    float afValues[kParamTableSize] = {};
    double dSampleRate = 44100.0;
    float fTempo = 120.0f;
    CProcessAudio graph;

    explicit TestEngine(double dRate = 44100.0);
    float& operator[](ParamID id) { return afValues[id]; }

    // Runs whole signals through the graph in blocks of iBlock samples; false if any call failed.
    bool Run(const std::vector<float>& inL, const std::vector<float>& inR, std::vector<float>& outL,
             std::vector<float>& outR, int iBlock = 512);
};

} // namespace corvex::test
