#pragma once

#include <cmath>

#include "base/CpuFeatures.h"
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
    // The longest run whose reads all go ahead of its writes.
    static constexpr int kMaxRun = 64;
    // Bilinear sections turn unstable as the normalised frequency reaches 0.5; sections are
    // kept below this bound when a low host rate would push them there.
    static constexpr double kMaxNormalisedFrequency = 0.49;

    // A filter section, an identity until its first setting.
    Biquad() = default;
    // A delay-line section; SetSampleRate and Reset must follow before the first sample.
    Biquad(int iType, double dDecayTime, double dDelayTime);
    ~Biquad() override;

    // The setters recompute the coefficients only when a setting differs from the last one.
    void SetFilter(int iType, double dFrequency, double dQ, double dGainDb);
    void SetDelayTime(double dSeconds);
    void SetDecayTime(double dSeconds);

    float ProcessSample(float x) override;
    // ProcessSample of a section known to be a filter type (0-6), without the type dispatch.
    float ProcessFilter(float x);
    // ProcessSample over a run of samples (delay types): the same result, with the per-run
    // work (delay in samples, gain, type dispatch) taken out of the sample loop, and runs no
    // longer than the delay processed eight samples to a vector where the processor allows.
    void ProcessRun(const float* afIn, float* afOut, int n);
    // ProcessRun of each section of aSections in turn on the same input, each output added into
    // afSum: the bits of ProcessRun into a scratch run and a sum loop per section, with the
    // dispatch made once and no scratch pass, which small blocks feel.
    static void ProcessRunsSummed(Biquad* aSections, int iCount, const float* afIn, float* afSum, int n);
    // ProcessRunsSummed of two rows, such as a stereo pair's: where section k of both rows has
    // the same type, delay, line length and write position, both lines are read at positions
    // worked out once. The same bits as ProcessRunsSummed row by row.
    static void ProcessRunsSummedPair(Biquad* aFirst, Biquad* aSecond, int iCount, const float* afInFirst,
                                      const float* afInSecond, float* afSumFirst, float* afSumSecond, int n);
    // ProcessRun of a and b, which pair up as in ProcessRunsSummedPair where they can.
    static void ProcessRunPair(Biquad& a, Biquad& b, const float* afInA, const float* afInB, float* afOutA, float* afOutB,
                               int n);
    // One channel of a reverb for ProcessReverbRunPair: combs summed on the input, and
    // all-passes each run on that sum into a run of their own.
    struct CReverbRow {
        Biquad* aCombs;
        Biquad* aAllPasses;
        const float* afIn;
        float* const* apfOut;
    };
    // The most sections of a row ProcessReverbRunPair takes through a run together, and the
    // shape of row its loops are unrolled for.
    static constexpr int kMaxReverbSections = 8;
    static constexpr int kReverbCombs = 5;
    static constexpr int kReverbAllPasses = 2;
    // What ProcessReverbRunPair derives from a reverb's sections (lines, gains, delays), kept by
    // their owner from run to run and worked out again only when a section's settings change.
    class CReverbPlan {
        friend class Biquad;
        bool m_bCurrent = false;
        bool m_bLinesMarked = false; // every line already marked written to its end
        const Biquad* m_apCombs[2] = {};
        const Biquad* m_apAllPasses[2] = {};
        int m_iCombs = 0;
        int m_iAllPasses = 0;
        const double* m_pdRate = nullptr;
        double m_dRate = 0.0;
        int m_iLineLength = 0;
        float m_fLength = 0.0f;
        float m_fMinDelay = 0.0f;
        float m_fMaxDelay = 0.0f;
        // Section s of both rows, combs first.
        unsigned m_aauStamp[2][kMaxReverbSections] = {};
        float* m_aapfLine[2][kMaxReverbSections] = {};
        float m_aafGain[2][kMaxReverbSections] = {};
        float m_afDelay[kMaxReverbSections] = {};
    };
    // A reverb's two channels: ProcessRunsSummedPair of the comb rows into zeroed sums, then
    // ProcessRunPair of each all-pass pair on the sums, with those calls' bits. Where every
    // line shares its length, write position and rate, and each pair its delay, as a reverb's
    // lines do, the run goes eight samples at a time through every section, the sums held in
    // registers, after checks that compare each section's settings stamp and write position
    // with the plan. Outputs may coincide with inputs but not overlap them otherwise.
    static void ProcessReverbRunPair(CReverbPlan& plan, const CReverbRow& first, const CReverbRow& second, int iCombs,
                                     int iAllPasses, int n);
#if CORVEX_HAVE_AVX2_KERNELS
    // ProcessReverbRunPair for a caller that already runs at the AVX2 level.
    static void ProcessReverbRunPairAvx2(CReverbPlan& plan, const CReverbRow& first, const CReverbRow& second,
                                         int iCombs, int iAllPasses, int n)
    {
        ReverbRunPairAvx2(plan, first, second, iCombs, iAllPasses, n);
    }
#endif
    int Reset() override;
    int SetSampleRate(const double* pfSampleRate) override;
    int Process(const float*, const float*, float*, float*, int) override;

    // One sample of a delay type, given the value r read from the line: writes the line entry
    // and returns the output.
    template <int kType>
    static float DelayStep(float x, float r, float g, float& fLineEntry);

    // Linear interpolation of the circular line at a fractional position, wrapped into the line.
    float ReadDelayLine(float fPosition) const;

    // The filter memories, for owners that run several sections side by side in local arrays.
    void GetMemories(double& dS1, double& dS2) const { dS1 = m_dS1; dS2 = m_dS2; }
    void SetMemories(double dS1, double dS2) { m_dS1 = dS1; m_dS2 = dS2; }

    int Type() const { return m_iType; }
    double B0() const { return m_dB0; }
    double B1() const { return m_dB1; }
    double B2() const { return m_dB2; }
    double A1() const { return m_dA1; }
    double A2() const { return m_dA2; }
    double CombGain() const { return m_dCombGain; }
    int LineLength() const { return m_iLineLength; }
    int Capacity() const { return m_iCapacity; }
    // Writable access: the next Reset then clears the whole line.
    float* DelayLine()
    {
        m_iDirtyEnd = m_afDelayLine ? BIQUADLINESIZE : 0;
        return m_afDelayLine;
    }

private:
    void ComputeCoefficients();
    // ProcessRun without the vector kernels, and for sections that are not delay lines.
    // With kSum the outputs are added into afOut rather than stored.
    template <bool kSum>
    void ProcessRunPortable(const float* afIn, float* afOut, int n);
    template <int kType, bool kSum = false>
    void RunDelayType(const float* afIn, float* afOut, int n);
#if CORVEX_HAVE_AVX2_KERNELS
    // The kernels' entries: one section's run, and a row of sections summed, which inlines the
    // bodies below so that the sections share one frame and one set of constants.
    CORVEX_TARGET_AVX2 void ProcessRunAvx2(const float* afIn, float* afOut, int n);
    static CORVEX_TARGET_AVX2 void RunsSummedAvx2(Biquad* aSections, int iCount, const float* afIn, float* afSum, int n);
    template <bool kSum>
    CORVEX_TARGET_AVX2 CORVEX_KERNEL_BODY void RunAvx2(const float* afIn, float* afOut, int n);
    template <int kType, bool kSum>
    CORVEX_TARGET_AVX2 CORVEX_KERNEL_BODY void RunDelayTypeAvx2(const float* afIn, float* afOut, int n);
    static CORVEX_TARGET_AVX2 void RunsSummedPairAvx2(Biquad* aFirst, Biquad* aSecond, int iCount, const float* afInFirst,
                                                      const float* afInSecond, float* afSumFirst, float* afSumSecond, int n);
    static CORVEX_TARGET_AVX2 void RunPairAvx2(Biquad& a, Biquad& b, const float* afInA, const float* afInB, float* afOutA,
                                               float* afOutB, int n);
    // One pair of ProcessRunsSummedPair (kSum) or ProcessRunPair; false, running nothing, if
    // the pair's lines differ in their geometry or the run cannot read ahead of its writes.
    template <int kType, bool kSum>
    static CORVEX_TARGET_AVX2 CORVEX_KERNEL_BODY bool RunPairedAvx2(Biquad& a, Biquad& b, const float* afInA, const float* afInB,
                                                                    float* afOutA, float* afOutB, int n);
    // ReverbRunPairAvx2 for rows of kCombs and kAllPasses sections, or with both 0, of the
    // counts given.
    template <int kCombs, int kAllPasses>
    static CORVEX_TARGET_AVX2 CORVEX_KERNEL_BODY void ReverbRunShapedAvx2(CReverbPlan& plan, const CReverbRow& first,
                                                                          const CReverbRow& second, int iCombsAny,
                                                                          int iAllPassesAny, int n);
    static CORVEX_TARGET_AVX2 void ReverbRunPairAvx2(CReverbPlan& plan, const CReverbRow& first, const CReverbRow& second,
                                                     int iCombs, int iAllPasses, int n);
    // ProcessReverbRunPair as RunsSummedPairAvx2 and RunPairAvx2 would run it, section by section.
    static CORVEX_TARGET_AVX2 void ReverbRunEachAvx2(const CReverbRow& first, const CReverbRow& second, int iCombs,
                                                     int iAllPasses, int n);
#endif
    // Works plan out afresh for these rows; false, leaving it not current, unless every line
    // shares its length, write position and rate and each pair its delay.
    static bool PlanReverbRun(CReverbPlan& plan, const CReverbRow& first, const CReverbRow& second, int iCombs,
                              int iAllPasses);
    // plan is current and was worked out for these rows, at the rate they now run at.
    static bool ReverbPlanFits(const CReverbPlan& plan, const CReverbRow& first, const CReverbRow& second, int iCombs,
                               int iAllPasses);
    // Where plan still holds for every section (its stamp and position w), moves each section's
    // position on by n and marks what the run writes; otherwise false, the positions as they were.
    template <int kCombs, int kAllPasses>
    static bool AdvanceReverbPlan(CReverbPlan& plan, const CReverbRow& first, const CReverbRow& second, int iCombsAny,
                                  int iAllPassesAny, int w, int n);
    // Notes that entries [w, w + n) of the line, wrapped, are about to be written.
    void MarkWritten(int w, int n) { MarkWrittenTo(n < m_iLineLength - w ? w + n : m_iLineLength); }
    void MarkWrittenTo(int iEnd)
    {
        if (iEnd > m_iDirtyEnd)
            m_iDirtyEnd = iEnd;
    }

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
    int m_iDirtyEnd = 0;                          // every entry from here on holds zero
    bool m_bCoefficientsCurrent = false;          // the coefficients match the settings above
    unsigned m_uSettingsStamp = 0;                // changes with any setting a run derives from
};

// Defined here so owners that run sections per sample can inline them.
template <int kType>
inline float Biquad::DelayStep(float x, float r, float g, float& fLineEntry)
{
    if (kType == kComb) {
        const float y = r * g + x;
        fLineEntry = y;
        return y;
    }
    if (kType == kAllPass) {
        const float u = g * r + x;
        fLineEntry = u;
        return -g * u + r;
    }
    fLineEntry = x;
    return r;
}

inline float Biquad::ReadDelayLine(float fPosition) const
{
    const int L = m_iLineLength;
    // floor() without a library call: truncate, then step down for negative fractions.
    int i = static_cast<int>(fPosition);
    if (fPosition < static_cast<float>(i))
        --i;
    const float f = fPosition - static_cast<float>(i);
    // Positions stay within a few line lengths of the write index; the modulo is the rare path.
    if (i < 0) {
        i += L;
        if (i < 0)
            i = (i % L + L) % L;
    } else if (i >= L) {
        i -= L;
        if (i >= L)
            i %= L;
    }
    const int j = i + 1 < L ? i + 1 : 0;
    return (1.0f - f) * m_afDelayLine[i] + f * m_afDelayLine[j];
}

inline float Biquad::ProcessFilter(float x)
{
    const double dx = x;
    const double y = m_dB0 * dx + m_dS1;
    m_dS1 = m_dB1 * dx + m_dS2 - m_dA1 * y;
    m_dS2 = m_dB2 * dx - m_dA2 * y;
    return static_cast<float>(y);
}

inline float Biquad::ProcessSample(float x)
{
    if (m_iType < kComb || m_iType > kDelay)
        return ProcessFilter(x);

    // A section built without a line (then set to a delay type) has nothing to run on.
    if (!CORVEX_CHECK(m_afDelayLine && m_iLineLength >= 1 && m_pfSampleRate))
        return x;
    if (x != x)
        x = 0.0f; // a NaN must never circulate in a line

    const float fWrite = static_cast<float>(m_iWriteIndex);
    float fPosition = fWrite - SampleRate() * static_cast<float>(m_dDelayTime);
    // A position that no longer fits an integer (absurd rate or time) reads the oldest entry.
    if (!(std::fabs(fPosition) < 1.0e9f))
        fPosition = fWrite;
    const float r = ReadDelayLine(fPosition);
    const float g = static_cast<float>(m_dCombGain);

    float& fEntry = m_afDelayLine[m_iWriteIndex];
    const float y = m_iType == kComb      ? DelayStep<kComb>(x, r, g, fEntry)
                    : m_iType == kAllPass ? DelayStep<kAllPass>(x, r, g, fEntry)
                                          : DelayStep<kDelay>(x, r, g, fEntry);
    if (m_iWriteIndex >= m_iDirtyEnd)
        m_iDirtyEnd = m_iWriteIndex + 1;
    if (++m_iWriteIndex >= m_iLineLength)
        m_iWriteIndex = 0;
    return y;
}

template <int kType, bool kSum>
inline void Biquad::RunDelayType(const float* afIn, float* afOut, int n)
{
    const float fDelay = SampleRate() * static_cast<float>(m_dDelayTime);
    const float g = static_cast<float>(m_dCombGain);
    float* const afLine = m_afDelayLine;
    int w = m_iWriteIndex;
    MarkWritten(w, n);
    // When the delay is longer than the run, no sample of the run reads what the run writes:
    // all reads can go first, free of the stores, and the sample loop only mixes and writes.
    if (n <= kMaxRun && fDelay >= static_cast<float>(n + 2) && fDelay + static_cast<float>(n + 2) < static_cast<float>(m_iLineLength)) {
        float afRead[kMaxRun];
        for (int k = 0, v = w; k < n; ++k) {
            afRead[k] = ReadDelayLine(static_cast<float>(v) - fDelay);
            if (++v >= m_iLineLength)
                v = 0;
        }
        for (int k = 0; k < n; ++k) {
            float x = afIn[k];
            if (x != x)
                x = 0.0f;
            const float y = DelayStep<kType>(x, afRead[k], g, afLine[w]);
            afOut[k] = kSum ? afOut[k] + y : y;
            if (++w >= m_iLineLength)
                w = 0;
        }
        m_iWriteIndex = w;
        return;
    }
    for (int k = 0; k < n; ++k) {
        float x = afIn[k];
        if (x != x)
            x = 0.0f;
        const float fWrite = static_cast<float>(w);
        float fPosition = fWrite - fDelay;
        if (!(std::fabs(fPosition) < 1.0e9f))
            fPosition = fWrite;
        const float y = DelayStep<kType>(x, ReadDelayLine(fPosition), g, afLine[w]);
        afOut[k] = kSum ? afOut[k] + y : y;
        if (++w >= m_iLineLength)
            w = 0;
    }
    m_iWriteIndex = w;
}

} // namespace corvex
