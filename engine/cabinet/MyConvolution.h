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

class CCabinetImpulse;

// Loudspeaker-cabinet simulation: a direct-form convolution of the left input with an impulse
// response mixed from the cabinet segment table, written to both outputs; or, once installed
// with ExchangeImpulse, the convolution with a user's impulse response (stereo ones give each
// output its own), scaled to the built-in level of the voicing in use.
//
// User impulses: ExchangeImpulse installs one (or nullptr, the built-in cabinet again) and
// crossfades to it over kFadeSeconds; the impulse it replaces keeps playing until the fade is
// over. The convolution owns the impulses it holds and hands each back exactly once, no longer
// referenced, through either ExchangeImpulse's result or TakeRetired; the caller frees them off
// the audio thread. The destructor (never on the audio thread) frees those still held.
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

    // The crossfade between the old and the new response, equal-gain linear.
    static constexpr double kFadeSeconds = 0.02;
    // After a stereo response stops, the right output stays reported as stereo this long, so
    // that the stages after the cabinet let their right memories settle onto the left's first.
    static constexpr double kStereoHoldSeconds = 0.2;

    CMyConvolution();
    ~CMyConvolution() override;

    // Clears the running state, the user impulse's too, and ends a crossfade at once.
    int Reset() override;
    int Process(const float* inL, const float* inR, float* outL, float* outR, int n) override;
    int SetSampleRate(const double* pfSampleRate) override;
    // The right output of the last block differed from the left (a stereo user impulse).
    bool StereoOutput() const override { return m_iStereoHold > 0; }

    // Audio thread; no allocation, lock or free. Installs pImpulse (nullptr: the built-in
    // cabinet) and starts the crossfade to it. Returns an impulse now out of use, or nullptr: the
    // one fading out when a new exchange cuts its fade short (or one waiting to be taken by
    // TakeRetired). Installing the impulse already installed changes nothing.
    CCabinetImpulse* ExchangeImpulse(CCabinetImpulse* pImpulse);
    // Audio thread, at the start of a block: the impulse whose fade-out has finished, now out of
    // use, or nullptr.
    CCabinetImpulse* TakeRetired();
    // The impulse installed, nullptr for the built-in cabinet.
    const CCabinetImpulse* Impulse() const { return m_pImpulse; }
    bool Fading() const { return m_iFadeLeft > 0; }
    // How long the user impulses in play ring after the input stops, in samples (0 with the
    // built-in cabinet alone): what a silence detector must wait for besides the later stages.
    int ImpulseTailSamples() const;

    // The impulse response of the last build; ResponseLength() entries are meaningful.
    const float* ImpulseResponse() const { return m_afImpulse; }
    int ResponseLength() const { return m_iBuffSizeToUse; }
    int HistoryLength() const { return m_lSize; }
    // Leading entries of the response that take part in the convolution.
    int Taps() const { return static_cast<int>(static_cast<float>(m_iBuffSizeToUse) * kTapShare); }
    // Number of impulse-response builds since construction.
    long BuildCount() const { return m_lBuildCount; }

private:
    bool IsStale(const CabinetVoicing& voicing, double dRate, float fSwitch) const;
    // The voicing of switch value fSwitch at dRate: the response rebuilt where stale, the level.
    void UpdateVoicing(float fSwitch, double dRate);
    void BuildImpulse(const CabinetVoicing& voicing, double dRate);
    void PrepareTaps(int iTaps);
    static constexpr int kGroup = 4;
    double ContiguousSum() const;
    void ContiguousSums(double adSums[kGroup]) const;
    double WrappedSum(int& iCount) const;
    // The built-in convolution of n samples (outputs may be null or the input).
    void RunBuiltIn(const float* inL, float* outL, float* outR, int n, int iTaps, float fLevel);
    // Only the built-in history's writes, while a user impulse plays.
    void WriteHistory(const float* inL, int n);
    // One side of a crossfade into afL/afR: the impulse scaled, or the built-in cabinet.
    void RunSide(CCabinetImpulse* pImpulse, const float* inL, float* afL, float* afR, int n, bool bDistorted,
                 int iTaps, float fLevel);
    void RunUserImpulses(const float* inL, float* outL, float* outR, int n, bool bDistorted, int iTaps,
                         float fLevel);

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

    // User impulses: the one installed and the one fading out (nullptr: the built-in cabinet on
    // that side); with no fade left, a non-null m_pFading waits for TakeRetired.
    CCabinetImpulse* m_pImpulse = nullptr;
    CCabinetImpulse* m_pFading = nullptr;
    int m_iFadeLength = 0;
    int m_iFadeLeft = 0;
    int m_iStereoHold = 0;
    static constexpr int kScratch = 256;
    float m_afScratch[4][kScratch] = {};
};

} // namespace corvex
