#pragma once

#include <string>
#include <vector>

#include "base/ConsistencyCheck.h"
#include "base/MyEffect.h"
#include "base/Parameters.h"

namespace corvex::test {

// The processor's side of a block under test: parameter floats at their defaults, the
// parameter pointer table over them, a sample rate and a tempo.
struct BlockHost {
    float afValues[kParamTableSize] = {};
    float* afTable[kParamTableSize] = {};
    double dSampleRate = 44100.0;
    float fTempo = 120.0f;

    BlockHost();
    float& operator[](ParamID id) { return afValues[id]; }
    // Hands table and sample rate (and tempo when asked) to the block, then resets it.
    void Attach(CMyEffect& block, bool bWithTempo = false);
};

// Records failed consistency checks for its lifetime instead of printing them.
class CheckRecorder {
public:
    CheckRecorder();
    ~CheckRecorder();
    CheckRecorder(const CheckRecorder&) = delete;
    CheckRecorder& operator=(const CheckRecorder&) = delete;

    int Count() const;
    bool Saw(const std::string& expression) const;
    const std::vector<std::string>& Expressions() const;
    void Clear();

private:
    CheckHandler m_previous;
};

// Deterministic test signals.
std::vector<float> Sine(double dFrequency, double dSampleRate, int n, float fAmplitude = 1.0f);
std::vector<float> Impulse(int n, int iAt = 0, float fValue = 1.0f);
std::vector<float> Noise(int n, unsigned uSeed, float fAmplitude = 1.0f);
// A plucked stiff string: silence until dPluck seconds, then partial k at k f0 sqrt(1 + B k^2),
// each decaying, upper ones faster; with white noise dNoiseDb below the string's first second's
// RMS when dNoiseDb < 0 (over the whole signal, silence included).
std::vector<float> PluckedString(double dF0, double dStiffness, double dSampleRate, double dSeconds,
                                 double dPluck, double dNoiseDb = 0.0, unsigned uSeed = 1);

// Magnitude in dB of a steady sine at dFrequency within a signal (by correlation).
double ToneLevelDb(const std::vector<float>& signal, double dFrequency, double dSampleRate);
float PeakAbs(const std::vector<float>& signal);
bool AllFinite(const std::vector<float>& signal);

} // namespace corvex::test
