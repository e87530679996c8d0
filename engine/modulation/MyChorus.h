#pragma once

#include "base/MyEffect.h"

namespace corvex {

// Stereo chorus: records the left input in a 40 ms circular line and reads it back at two taps
// that a 0.3 Hz oscillator moves in quadrature (cosine to the left, sine to the right), each
// mixed with the dry input. This is where the mono guitar signal becomes stereo.
class CMyChorus final : public CMyEffect {
public:
    // 40 ms at 819.2 kHz; higher rates get a proportionally shorter line.
    static constexpr int CHORUSBUFFERSIZE = 32768;
    static constexpr float kLineSeconds = 0.04f;
    // The taps swing 0.15 of the half line around its centre; below a half line of 3 samples
    // a tap position could fall before the start of the line.
    static constexpr int kMinHalfSize = 3;

    CMyChorus();
    ~CMyChorus() override;

    // Clears the used part of the line and restarts the oscillator.
    int Reset() override;
    // Chorus of the left input into both outputs, or a plain copy while "Modulation ON OFF" is 0.
    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override;
    // Derives the line length from the rate found behind the pointer now.
    int SetSampleRate(const double* pfSampleRate) override;

    int Size() const { return m_iSize; }
    int LineLength() const { return m_iLineLength; }
    int OscillatorCounter() const { return m_iOscCounter; }

private:

    float* m_afLine = nullptr; // CHORUSBUFFERSIZE entries
    int m_iOscCounter = 0;     // samples since the oscillator phase restarted
    int m_iLineLength = 0;
    int m_iWriteIndice = 0;
    int m_iSize = 0;           // line length for the rate at SetSampleRate, applied at Reset
    float m_fLastRate = 44100.0f; // the oscillator's rate when the current one is unusable
};

} // namespace corvex
