#include "TestEngine.h"

#include <algorithm>

namespace corvex::test {

TestEngine::TestEngine(double dRate)
{
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        afValues[id] = kParamInfos[id].defaultValue;
    graph.SetBlockSize(CProcessAudio::kDefaultBlockSize);
    graph.SetSampleRate(&dSampleRate);
    graph.SetBufferCount(CProcessAudio::kDefaultBufferCount);
    graph.SetParamCount(kParamTableSize);
    graph.SetTempo(&fTempo);
    graph.Init();
    for (ParamID id = kFirstParam; id <= kLastParam; ++id)
        graph.SetParamPointer(id, &afValues[id]);
    if (dRate != dSampleRate) {
        dSampleRate = dRate;
        graph.RefreshSampleRate();
    }
    graph.Reset();
}

bool TestEngine::Run(const std::vector<float>& inL, const std::vector<float>& inR, std::vector<float>& outL,
                     std::vector<float>& outR, int iBlock)
{
    const size_t n = std::min(inL.size(), inR.size());
    outL.assign(n, 0.0f);
    outR.assign(n, 0.0f);
    bool bOk = true;
    for (size_t i = 0; i < n; i += static_cast<size_t>(iBlock)) {
        const int iCount = static_cast<int>(std::min(n - i, static_cast<size_t>(iBlock)));
        bOk = graph.Process(&inL[i], &inR[i], &outL[i], &outR[i], iCount) && bOk;
    }
    return bOk;
}

} // namespace corvex::test
