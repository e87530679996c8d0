#pragma once

#include "base/MyEffect.h"
#include "cabinet/CabinetSegments.h"

namespace corvex {

// How the cabinet sounds behind one kind of amplifier: the weight of each segment of the table
// and the output level.
struct CabinetVoicing {
    float afWeights[kCabinetSegmentCount];
    float fLevelDb;
};

// Loudspeaker-cabinet simulation: a direct-form convolution of the left input with an impulse
// response mixed from the cabinet segment table, written to both outputs.
class CMyConvolution final : public CMyEffect {
public:
    // 50 ms at 192 kHz.
    static constexpr int BUFCONVOLUTIONSIZE = 9600;
    static constexpr float kResponseSeconds = 0.05f;
    // Share of the response that takes part, applied once more as an output gain.
    static constexpr float kTapShare = 0.208f;
    static constexpr double kResponseScale = 25.0;

    static constexpr CabinetVoicing kCleanVoicing = {
        {-0.12981999f, 0.09280002f, -0.34906f, 0.42418003f, 0.0f, 0.0f, -1.0f}, -9.0f};
    static constexpr CabinetVoicing kDistortionVoicing = {
        {-0.7076f, -0.93978f, -0.75808f, 0.38399994f, -0.028259993f, 0.22935998f, -0.72688997f}, -20.0f};

    CMyConvolution();
    ~CMyConvolution() override;

    int Reset() override;
    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override;
    int SetSampleRate(const double* pfSampleRate) override;

    // The impulse response of the last build; ResponseLength() entries are meaningful.
    const float* ImpulseResponse() const { return m_afImpulse; }
    int ResponseLength() const { return m_iBuffSizeToUse; }
    int HistoryLength() const { return m_lSize; }
    // Leading entries of the response that take part in the convolution.
    int Taps() const;
    // Number of impulse-response builds since construction.
    long BuildCount() const { return m_lBuildCount; }

private:
    bool IsStale(const CabinetVoicing& voicing, double dRate, float fSwitch) const;
    void BuildImpulse(const CabinetVoicing& voicing, double dRate);
    void PrepareTaps(int iTaps);
    static constexpr int kGroup = 4;
    double ContiguousSum() const;
    void ContiguousSums(double adSums[kGroup]) const;
    double WrappedSum(int& iCount) const;

    float* m_afHistory = nullptr;  // 2 × BUFCONVOLUTIONSIZE: each slot mirrored lSize further on
    float* m_afImpulse = nullptr;  // BUFCONVOLUTIONSIZE
    int m_lSize = BUFCONVOLUTIONSIZE;
    int m_lWriteCursor = 0;
    int m_iBuffSizeToUse = BUFCONVOLUTIONSIZE;
    float m_afBuiltWeights[kCabinetSegmentCount] = {};
    double m_dBuiltSampleRate = 0.0;
    // The switch value itself rather than its whole-number part, so that a value between 0 and 1
    // does not look changed at every call.
    float m_fBuiltSwitch = 0.0f;
    int m_iImpulseValid = 0;

    // The taps in reverse order, so that each output is one contiguous dot product with the
    // mirrored history.
    float* m_afReversed = nullptr; // BUFCONVOLUTIONSIZE
    int m_iPreparedTaps = -1;
    int m_iNonZeroTaps = 0;
    long m_lBuildCount = 0;
    // The output level of the voicing last used; it changes only with the switch.
    const CabinetVoicing* m_pLevelVoicing = nullptr;
    float m_fLevel = 1.0f;
};

} // namespace corvex
