#pragma once

#include <memory>
#include <vector>

namespace corvex {

class CRealFft;

// One tuner reading. Notes are MIDI numbers (A4 = 69) named in scientific pitch notation with
// sharps: C4 is middle C, A#3 is the B flat below it, A0 (27.5 Hz at A4 = 440) the lowest.
struct PitchReading {
    bool bPitched = false; // false: silence, noise or a sound with no single readable pitch
    double dHertz = 0.0;   // the fundamental's frequency
    int iNote = 0;         // the nearest equal-tempered note to the reference
    double dCents = 0.0;   // how far dHertz is from iNote, -50 to +50
};

// The fundamental of one string, 27.5 to 1,400 Hz. The period is found on the whole waveform by
// the McLeod normalised square difference; since stiff strings stretch their upper partials
// (partial k at k f0 sqrt(1 + B k^2)), that period reads a few cents sharp, so the frequency is
// then taken from the first partial alone: the phase advance of its windowed spectrum between
// two windows a few periods apart. There is no reading for silence, noise, chords, a fundamental
// too weak to refine on, nor while the windows still hold the pluck's attack (a reading then
// would be cents off). The input is low-passed and decimated to about 11 to 12 kHz. Everything
// is allocated by the constructor; Push and Detect neither allocate nor lock.
class CPitchDetector {
public:
    static constexpr double kMinHertz = 27.5;
    static constexpr double kMaxHertz = 1400.0;
    static constexpr double kMinReference = 430.0;
    static constexpr double kMaxReference = 450.0;
    static constexpr double kDefaultReference = 440.0;

    // dSampleRate: 8 kHz or more. Throws std::bad_alloc when the memory cannot be had.
    explicit CPitchDetector(double dSampleRate);
    ~CPitchDetector();
    CPitchDetector(const CPitchDetector&) = delete;
    CPitchDetector& operator=(const CPitchDetector&) = delete;

    // Forgets the audio pushed so far.
    void Reset();
    // Input samples at the sample rate; NaN counts as silence.
    void Push(const float* afSamples, int n);
    // The pitch of the audio that ends with the last sample pushed; dReference is A4 in hertz,
    // held to kMinReference..kMaxReference.
    PitchReading Detect(double dReference = kDefaultReference);

    // "A4", "C#-1": at most 4 characters and the terminating zero.
    static void NoteName(int iNote, char (&acName)[5]);
    // The nearest note and the cents from it, for dHertz > 0.
    static void NoteOf(double dHertz, double dReference, int& iNote, double& dCents);

private:
    bool McLeodEstimate(const float* afFrame, int iFrame, double& dPeriod, double& dClarity);
    // The phase of the first partial near dOmega (radians per sample) in the window that ends
    // iEnd samples into m_afFrame, and its magnitude.
    void WindowedPartial(double dOmega, int iEnd, int iLength, double& dRe, double& dIm) const;
    void MakeWindow(int iLength);
    // The first partial's frequency dOmega (radians per sample) and magnitude, from its phase
    // advance between the window of iLength samples that ends the frame and the one iAdvance
    // earlier; false when it strays from the period's estimate or the two windows' magnitudes
    // differ (an attack, a damped string).
    bool Refine(double dPeriod, int iLength, int iAdvance, double& dOmega, double& dMagnitude) const;

    double m_dRate;        // the decimated rate
    int m_iFactor;         // input samples per decimated sample
    int m_iPhase = 0;      // input samples since the last decimated one
    // The anti-aliasing low pass: three Butterworth sections, direct form I, in double.
    static constexpr int kSections = 3;
    double m_adB[kSections][3] = {};
    double m_adA[kSections][2] = {};
    double m_adState[kSections][4] = {};

    // The decimated history, a power of two, and how many samples were ever written.
    std::vector<float> m_afHistory;
    long long m_llWritten = 0;
    std::vector<float> m_afFrame;     // the newest history, oldest first
    int m_iNsdfWindow;                // the McLeod window, half the transform size
    std::unique_ptr<CRealFft> m_pFft;
    std::vector<float> m_afPadded, m_afRe, m_afIm, m_afCorrelation;
    std::vector<double> m_adNsdf;
    std::vector<double> m_adWindow;   // the refinement's window
    int m_iWindowLength = 0;
    double m_dWindowSum = 0.0;
};

} // namespace corvex
