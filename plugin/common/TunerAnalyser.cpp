#include "TunerAnalyser.h"

#include <algorithm>

namespace corvex {

namespace {
constexpr int kChunkSamples = 1024; // read from the ring at a time
}

CTunerAnalyser::CTunerAnalyser(double dSampleRate)
    : m_dSampleRate(dSampleRate), m_detector(dSampleRate), m_afChunk(kChunkSamples), m_llNextHop(HopEnd(0))
{
}

void CTunerAnalyser::SetReference(double dHertz)
{
    if (dHertz == dHertz)
        m_dReference = std::clamp(dHertz, CPitchDetector::kMinReference, CPitchDetector::kMaxReference);
}

void CTunerAnalyser::Reset()
{
    m_detector.Reset();
    m_llFed = 0;
    m_llHops = 0;
    m_llNextHop = HopEnd(0);
}

} // namespace corvex
