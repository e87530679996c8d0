#pragma once

#include "SampleRing.h"
#include "tuner/PitchDetector.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace corvex {

// A reading of the tuner and the end of the audio it has seen, in seconds from the first sample.
struct TunerReading {
    double dSeconds = 0.0;
    PitchReading pitch;
};

// The tuner's analysis, off the audio thread: the selected input's samples go in (straight, or
// through the ring the audio thread fills), one reading comes out per 50 ms hop. Everything is
// allocated by the constructor.
class CTunerAnalyser {
public:
    static constexpr double kHopSeconds = 0.05;
    // The ring an audio thread fills for it: a quarter second, so that a consumer polled at the
    // view's rate never makes it drop.
    static constexpr double kRingSeconds = 0.25;

    explicit CTunerAnalyser(double dSampleRate);

    double SampleRate() const { return m_dSampleRate; }
    // A4 in hertz, held to CPitchDetector::kMinReference..kMaxReference.
    void SetReference(double dHertz);
    double Reference() const { return m_dReference; }
    // Starts again at time 0 with nothing heard.
    void Reset();

    // Takes n samples; calls onReading(const TunerReading&) for each hop they complete.
    template <class OnReading>
    void Feed(const float* afSamples, int n, OnReading&& onReading)
    {
        while (n > 0) {
            const int iTake = static_cast<int>(std::min<std::int64_t>(n, m_llNextHop - m_llFed));
            m_detector.Push(afSamples, iTake);
            m_llFed += iTake;
            afSamples += iTake;
            n -= iTake;
            if (m_llFed == m_llNextHop) {
                onReading(TunerReading{static_cast<double>(m_llFed) / m_dSampleRate, m_detector.Detect(m_dReference)});
                m_llNextHop = HopEnd(++m_llHops);
            }
        }
    }

    // Takes everything the ring holds. Samples the ring dropped leave a gap the detector does not
    // bridge: it starts again from what follows.
    template <class OnReading>
    void Drain(CSampleRing& ring, OnReading&& onReading)
    {
        for (;;) {
            if (ring.Dropped() != m_uDropped) {
                m_uDropped = ring.Dropped();
                m_detector.Reset();
            }
            const int iRead = ring.Read(m_afChunk.data(), static_cast<int>(m_afChunk.size()));
            if (iRead == 0)
                return;
            Feed(m_afChunk.data(), iRead, onReading);
        }
    }

private:
    // Hops end on whole samples nearest to multiples of 50 ms, so that the times never drift.
    std::int64_t HopEnd(std::int64_t llHop) const { return std::llround((llHop + 1) * kHopSeconds * m_dSampleRate); }

    double m_dSampleRate;
    double m_dReference = CPitchDetector::kDefaultReference;
    CPitchDetector m_detector;
    std::vector<float> m_afChunk;
    std::int64_t m_llFed = 0;
    std::int64_t m_llHops = 0;
    std::int64_t m_llNextHop;
    std::uint32_t m_uDropped = 0;
};

} // namespace corvex
