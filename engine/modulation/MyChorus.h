#pragma once

#include "base/MyEffect.h"

namespace corvex {

// Stereo chorus: records the left input in a 40 ms circular line and reads it back at two taps
// that a 0.3 Hz oscillator moves in quadrature (cosine to the left, sine to the right), each
// mixed with the dry input. This is where the mono guitar signal becomes stereo; when told
// that the right input carries its own signal (a stereo cabinet response), the right tap reads
// a second line that records the right input, mixed with the right input.
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
    void SetStereoInput(bool bStereo) override { m_bStereoInput = bStereo; }

    int Size() const { return m_iSize; }
    int LineLength() const { return m_iLineLength; }
    int OscillatorCounter() const { return m_iOscCounter; }

    // One oscillator period at 192 kHz: counter values 0 to 640,000.
    static constexpr int kOscillatorTableSize = 640001;

private:
    void OscillatorAt(int iCounter, float fs, float& fCos, float& fSin);
    template <bool kStereo>
    // c: the level of "Chorus Speed".
    void Run(const float* inL, const float* inR, float* outL, float* outR, int n, float fs, float c, float fWet,
             float fDry);

    float* m_afLine = nullptr; // CHORUSBUFFERSIZE entries
    // The right input's line, used only while the right input is stereo; it starts as a copy of
    // the left line, the two inputs having been equal until then.
    float* m_afLineRight = nullptr;
    bool m_bStereoInput = false;
    bool m_bRightLive = false;
    int m_iOscCounter = 0;     // samples since the oscillator phase restarted
    int m_iLineLength = 0;
    int m_iWriteIndice = 0;
    int m_iSize = 0;           // line length for the rate at SetSampleRate, applied at Reset
    float m_fLastRate = 44100.0f; // the oscillator's rate when the current one is unusable

    // The oscillator's cosine and sine for each counter value, kept as the counter first
    // reaches it at the current rate: from the second period on, a sample reads two floats
    // instead of evaluating two transcendental functions. Values are the ones computed.
    float* m_afOscCos = nullptr;          // kOscillatorTableSize entries
    float* m_afOscSin = nullptr;
    unsigned char* m_abOscKnown = nullptr; // non-zero where the entries above hold
    float m_fOscTableRate = 0.0f;          // the rate the entries were computed for
    int m_iOscKnownEnd = 0;                // no entry at or beyond this index is marked
};

} // namespace corvex
