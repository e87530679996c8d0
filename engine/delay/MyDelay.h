#pragma once

#include "base/MyEffect.h"

namespace corvex {

// Tempo-synchronised stereo echo: the left line repeats after an eighth note, the right line
// after a quarter note, and each line feeds mostly the other, so repeats alternate sides.
// "Delay Level" sets both the echo in the output and the feedback.
class CMyDelay final : public CMyEffect {
public:
    // 33 s at 192 kHz per line.
    static constexpr int DELAYBUFFERSIZE = 6336000;
    static constexpr float kLineSeconds = 33.0f;
    // The shortest line that still holds an echo of one whole sample.
    static constexpr int kMinLineLength = 2;
    // The tempo the block assumes until the host gives a usable one, and without a tempo pointer.
    static constexpr float kInitialTempo = 120.0f;
    static constexpr float kTempoWithoutHost = 90.0f;

    CMyDelay();
    ~CMyDelay() override;

    // Clears the part of both lines written since the last clear.
    int Reset() override;
    // Echoes both channels, or copies them while "Delay ON OFF" is 0 (the lines then freeze).
    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override;
    // Derives the line length from the rate found behind the pointer now; applied at Reset.
    int SetSampleRate(const double* pfSampleRate) override;

    int LineLength() const { return m_iLineLength; }
    int BuffSizeToUse() const { return m_iBuffSizeToUse; }
    // The eighth note in samples used by the last active Process call.
    float SamplesForDelay() const { return m_fSamplesForDelay; }
    const float* LeftLine() const { return m_afLineL; }
    const float* RightLine() const { return m_afLineR; }

private:
    float EighthNoteSamples();
    // Sets the eighth note and the taps' whole and fractional parts from it.
    void UpdateTaps();

    float* m_afLineL = nullptr;  // DELAYBUFFERSIZE entries
    float* m_afLineR = nullptr;  // DELAYBUFFERSIZE entries
    int m_iLineLength = 0;
    int m_iWriteIndice = 0;      // shared by both lines
    int m_iDirtyEnd = 0;         // every entry of both lines from here on holds zero
    int m_iBuffSizeToUse = 0;    // line length for the rate at SetSampleRate
    float m_fLastTempo = kInitialTempo; // last host tempo whose eighth note fitted the line
    float m_fSamplesForDelay = 0.0f;
    // The taps: whole samples back (the right one within the line) and fractions.
    int m_iTapWholeL = 0;
    float m_fTapFracL = 0.0f;
    int m_iTapWholeR = 0;
    float m_fTapFracR = 0.0f;
    // The host tempo, rate and line length the taps follow from alone (-1: none such).
    float m_fKnownTempo = 0.0f;
    float m_fKnownRate = 0.0f;
    int m_iKnownLength = -1;
};

} // namespace corvex
