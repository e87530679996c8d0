#pragma once

#include "base/MyEffect.h"

namespace corvex {

// One filter or delay-line section, driven one sample at a time by its owner.
//
// Filter types (0-6) are second-order sections from the bilinear transform, run in transposed
// direct form II in double precision. Delay types (7-9) run a circular line of up to
// BIQUADLINESIZE samples, read at a delay given in seconds with linear interpolation.
class Biquad final : public CMyEffect {
public:
    enum Type : int {
        kLowPass = 0,
        kHighPass = 1,
        kBandPass = 2,
        kNotch = 3,
        kPeak = 4,
        kLowShelf = 5,
        kHighShelf = 6,
        kComb = 7,
        kAllPass = 8,
        kDelay = 9,
    };

    // Three seconds at 192 kHz.
    static constexpr int BIQUADLINESIZE = 576000;
    static constexpr float kLineSeconds = 3.0f;
    // Bilinear sections turn unstable as the normalised frequency reaches 0.5; sections are
    // kept below this bound when a low host rate would push them there.
    static constexpr double kMaxNormalisedFrequency = 0.49;

    // A filter section, an identity until its first setting.
    Biquad() = default;
    // A delay-line section; SetSampleRate and Reset must follow before the first sample.
    Biquad(int iType, double dDecayTime, double dDelayTime);
    ~Biquad() override;

    void SetFilter(int iType, double dFrequency, double dQ, double dGainDb);
    void SetDelayTime(double dSeconds);
    void SetDecayTime(double dSeconds);

    float ProcessSample(float x) override;
    int Reset() override;
    int SetSampleRate(const double* pfSampleRate) override;
    int Process(const float*, const float*, float*, float*, int) override;

    // Linear interpolation of the circular line at a fractional position, wrapped into the line.
    float ReadDelayLine(float fPosition) const;

    int Type() const { return m_iType; }
    double B0() const { return m_dB0; }
    double B1() const { return m_dB1; }
    double B2() const { return m_dB2; }
    double A1() const { return m_dA1; }
    double A2() const { return m_dA2; }
    double CombGain() const { return m_dCombGain; }
    int LineLength() const { return m_iLineLength; }
    int Capacity() const { return m_iCapacity; }
    float* DelayLine() { return m_afDelayLine; }

private:
    void ComputeCoefficients();

    int m_iType = kLowPass;
    double m_dB0 = 1.0, m_dB1 = 0.0, m_dB2 = 0.0; // feed-forward
    double m_dA1 = 0.0, m_dA2 = 0.0;              // feedback, subtracted by the recursion
    double m_dFrequency = 0.5;                    // Hz / sample rate
    double m_dQ = 0.707;
    double m_dGain = 0.0;                         // dB; its sign selects boost or cut
    double m_dS1 = 0.0, m_dS2 = 0.0;              // transposed direct form II memories
    double m_dDelayTime = 0.0;                    // seconds
    double m_dDecayTime = 0.0;                    // seconds for a 60 dB fall
    double m_dCombGain = 0.0;                     // feedback or all-pass gain
    float* m_afDelayLine = nullptr;               // BIQUADLINESIZE entries, delay types only
    int m_iLineLength = 0;                        // entries in use
    int m_iWriteIndex = 0;                        // next entry to write
    int m_iCapacity = 0;                          // three seconds at the current rate
};

} // namespace corvex
