#include "tuner/PitchDetector.h"

#include "cabinet/RealFft.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

constexpr double kTwoPi = 2.0 * M_PI;
// The decimated rate is the input rate divided by a whole factor down to no less than this.
constexpr double kDecimatedRate = 11000.0;
// The low pass sits well above the highest fundamental, and well below the decimated Nyquist.
constexpr double kCutoffShare = 0.3;
// The McLeod window holds this many periods of the lowest note.
constexpr double kNsdfPeriods = 2.1;
// Lags searched: the range, widened by a little over half a semitone each side.
constexpr double kLagMargin = 1.04;
// The refinement's window: this many periods (so that the second partial, this many bins away,
// lies beyond the main lobe and in the -92 dB side lobes), or this long for high notes, whose
// frequency needs more time than periods to resolve to a cent in noise.
constexpr double kRefinePeriods = 5.0;
constexpr double kMinRefineSeconds = 0.05;
// The two windows compared lie this many periods apart, and at least so long: far for precision
// in noise, or near while the far one still holds the attack.
constexpr double kAdvancePeriods = 2.0;
constexpr double kNearAdvanceSeconds = 0.025;
constexpr double kFarAdvanceSeconds = 0.06;
constexpr int kWindowStep = 8; // window lengths are rounded to this, so the window is seldom remade

// Refusals. Below this RMS (about -66 dBFS) is silence.
constexpr double kSilenceRms = 5e-4;
// The McLeod clarity below which the waveform has no one period (noise, most chords).
constexpr double kMinClarity = 0.85;
// Key maxima this close to the highest one count as a period; the first of them is taken, so
// a period is not mistaken for two.
constexpr double kPeakShare = 0.9;
// The first partial refined must stay this close to the period's estimate (a third of a
// semitone: far more than stiffness moves the period) and hold at least this share of the
// window's power (-23 dB), else what was found was not the fundamental.
constexpr double kMaxRefineRatio = 1.02;
constexpr double kMinFundamentalShare = 0.005;
// The two windows' first partials must be this close in magnitude: a string ringing on, not a
// pluck's attack that the older window barely holds, nor a string being damped.
constexpr double kMinSteadiness = 0.85;

constexpr int kBlackmanTerms = 4;
constexpr double kBlackmanHarris[kBlackmanTerms] = {0.35875, 0.48829, 0.14128, 0.01168};

int NextPowerOfTwo(int i)
{
    int p = 1;
    while (p < i)
        p *= 2;
    return p;
}

double Wrap(double dPhase)
{
    return dPhase - kTwoPi * std::floor(dPhase / kTwoPi + 0.5);
}

} // namespace

CPitchDetector::CPitchDetector(double dSampleRate)
{
    m_iFactor = std::max(1, static_cast<int>(dSampleRate / kDecimatedRate));
    m_dRate = dSampleRate / m_iFactor;

    // A sixth-order Butterworth low pass as three sections (bilinear, cut-off pre-warped).
    const double dOmega = kTwoPi * kCutoffShare * m_dRate / dSampleRate;
    const double dCos = std::cos(dOmega), dSin = std::sin(dOmega);
    for (int s = 0; s < kSections; ++s) {
        const double dQ = 1.0 / (2.0 * std::cos(M_PI * (2 * s + 1) / (4.0 * kSections)));
        const double dAlpha = dSin / (2.0 * dQ), dA0 = 1.0 + dAlpha;
        m_adB[s][0] = m_adB[s][2] = (1.0 - dCos) / 2.0 / dA0;
        m_adB[s][1] = (1.0 - dCos) / dA0;
        m_adA[s][0] = -2.0 * dCos / dA0;
        m_adA[s][1] = (1.0 - dAlpha) / dA0;
    }

    m_iNsdfWindow = NextPowerOfTwo(static_cast<int>(std::ceil(kNsdfPeriods * m_dRate / kMinHertz)));
    const double dLongest = kLagMargin * m_dRate / kMinHertz;
    const int iSpan = static_cast<int>(std::ceil(std::max(kRefinePeriods * dLongest, kMinRefineSeconds * m_dRate) +
                                                 std::max(kAdvancePeriods * dLongest, kFarAdvanceSeconds * m_dRate))) +
                      kWindowStep;
    m_afFrame.assign(std::max(iSpan, m_iNsdfWindow), 0.0f);
    m_afHistory.assign(NextPowerOfTwo(static_cast<int>(m_afFrame.size())), 0.0f);
    m_pFft = std::make_unique<CRealFft>(2 * m_iNsdfWindow);
    m_afPadded.assign(2 * m_iNsdfWindow, 0.0f);
    m_afRe.assign(m_pFft->Bins(), 0.0f);
    m_afIm.assign(m_pFft->Bins(), 0.0f);
    m_afCorrelation.assign(2 * m_iNsdfWindow, 0.0f);
    m_adNsdf.assign(m_iNsdfWindow, 0.0);
    m_adWindow.assign(m_afFrame.size(), 0.0);
}

CPitchDetector::~CPitchDetector() = default;

void CPitchDetector::Reset()
{
    std::fill(m_afHistory.begin(), m_afHistory.end(), 0.0f);
    for (auto& adState : m_adState)
        std::fill(std::begin(adState), std::end(adState), 0.0);
    m_llWritten = 0;
    m_iPhase = 0;
}

void CPitchDetector::Push(const float* afSamples, int n)
{
    const long long llMask = static_cast<long long>(m_afHistory.size()) - 1;
    for (int i = 0; i < n; ++i) {
        double x = afSamples[i] == afSamples[i] ? std::clamp(afSamples[i], -1000.0f, 1000.0f) : 0.0f;
        for (int s = 0; s < kSections; ++s) {
            double* ad = m_adState[s];
            const double y = m_adB[s][0] * x + m_adB[s][1] * ad[0] + m_adB[s][2] * ad[1] - m_adA[s][0] * ad[2] -
                             m_adA[s][1] * ad[3];
            ad[1] = ad[0];
            ad[0] = x;
            ad[3] = ad[2];
            ad[2] = y;
            x = y;
        }
        if (++m_iPhase == m_iFactor) {
            m_iPhase = 0;
            m_afHistory[static_cast<std::size_t>(m_llWritten & llMask)] = static_cast<float>(x);
            ++m_llWritten;
        }
    }
}

void CPitchDetector::NoteName(int iNote, char (&acName)[5])
{
    static const char* const kNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    iNote = std::clamp(iNote, -12, 131);
    const int iPitchClass = (iNote % 12 + 12) % 12;
    const int iOctave = (iNote - iPitchClass) / 12 - 1;
    int i = 0;
    for (const char* p = kNames[iPitchClass]; *p; ++p)
        acName[i++] = *p;
    if (iOctave < 0)
        acName[i++] = '-';
    acName[i++] = static_cast<char>('0' + std::abs(iOctave));
    acName[i] = '\0';
}

void CPitchDetector::NoteOf(double dHertz, double dReference, int& iNote, double& dCents)
{
    constexpr int kA4 = 69;
    const double dNote = kA4 + 12.0 * std::log2(dHertz / dReference);
    iNote = static_cast<int>(std::lround(dNote));
    dCents = 100.0 * (dNote - iNote);
}

bool CPitchDetector::McLeodEstimate(const float* afFrame, int iFrame, double& dPeriod, double& dClarity)
{
    const int iW = m_iNsdfWindow;
    const float* x = afFrame + iFrame - iW;
    double dMean = 0.0;
    for (int i = 0; i < iW; ++i)
        dMean += x[i];
    dMean /= iW;
    for (int i = 0; i < iW; ++i)
        m_afPadded[i] = static_cast<float>(x[i] - dMean);
    std::fill(m_afPadded.begin() + iW, m_afPadded.end(), 0.0f);

    // The autocorrelation r(tau) = sum x[j] x[j + tau] through the power spectrum.
    m_pFft->Forward(m_afPadded.data(), m_afRe.data(), m_afIm.data());
    for (int k = 0; k < m_pFft->Bins(); ++k) {
        m_afRe[k] = m_afRe[k] * m_afRe[k] + m_afIm[k] * m_afIm[k];
        m_afIm[k] = 0.0f;
    }
    m_pFft->Inverse(m_afRe.data(), m_afIm.data(), m_afCorrelation.data());

    const int iMinLag = std::max(2, static_cast<int>(m_dRate / (kMaxHertz * kLagMargin)));
    const int iMaxLag = std::min(iW / 2, static_cast<int>(std::ceil(kLagMargin * m_dRate / kMinHertz)) + 1);
    // m(tau) = sum over the same terms of x[j]^2 + x[j + tau]^2, updated lag by lag.
    double dM = 0.0;
    for (int i = 0; i < iW; ++i)
        dM += 2.0 * m_afPadded[i] * m_afPadded[i];
    const double dScale = 1.0 / m_pFft->Size();
    for (int iLag = 0; iLag <= iMaxLag + 1; ++iLag) {
        if (iLag > 0) {
            const double a = m_afPadded[iLag - 1], b = m_afPadded[iW - iLag];
            dM -= a * a + b * b;
        }
        m_adNsdf[iLag] = dM > 0.0 ? 2.0 * m_afCorrelation[iLag] * dScale / dM : 0.0;
    }

    // Key maxima: the highest point of each positive lobe after the first negative one.
    int iLag = 1;
    while (iLag <= iMaxLag && m_adNsdf[iLag] > 0.0)
        ++iLag;
    int aiKeys[64];
    int iKeys = 0;
    double dHighest = 0.0;
    while (iLag <= iMaxLag && iKeys < 64) {
        while (iLag <= iMaxLag && m_adNsdf[iLag] <= 0.0)
            ++iLag;
        int iBest = -1;
        while (iLag <= iMaxLag && m_adNsdf[iLag] > 0.0) {
            if (iBest < 0 || m_adNsdf[iLag] > m_adNsdf[iBest])
                iBest = iLag;
            ++iLag;
        }
        if (iBest >= iMinLag) {
            aiKeys[iKeys++] = iBest;
            dHighest = std::max(dHighest, m_adNsdf[iBest]);
        }
    }
    for (int k = 0; k < iKeys; ++k) {
        const int t = aiKeys[k];
        if (m_adNsdf[t] < kPeakShare * dHighest)
            continue;
        const double a = m_adNsdf[t - 1], b = m_adNsdf[t], c = m_adNsdf[t + 1];
        const double dCurve = a - 2.0 * b + c;
        const double dShift = dCurve < 0.0 ? 0.5 * (a - c) / dCurve : 0.0;
        dPeriod = t + dShift;
        dClarity = b - 0.25 * (a - c) * dShift;
        return dPeriod >= m_dRate / (kMaxHertz * kLagMargin) && dPeriod <= kLagMargin * m_dRate / kMinHertz;
    }
    return false;
}

void CPitchDetector::MakeWindow(int iLength)
{
    if (iLength == m_iWindowLength)
        return;
    m_iWindowLength = iLength;
    // cos(k theta) from cos(theta) by Chebyshev, cos(theta) by a rotating phasor.
    const double dStep = kTwoPi / (iLength - 1);
    const double dRotC = std::cos(dStep), dRotS = std::sin(dStep);
    double c = 1.0, s = 0.0;
    m_dWindowSum = 0.0;
    for (int i = 0; i < iLength; ++i) {
        const double c2 = 2.0 * c * c - 1.0, c3 = (4.0 * c * c - 3.0) * c;
        m_adWindow[i] = kBlackmanHarris[0] - kBlackmanHarris[1] * c + kBlackmanHarris[2] * c2 - kBlackmanHarris[3] * c3;
        m_dWindowSum += m_adWindow[i];
        const double cNext = c * dRotC - s * dRotS;
        s = s * dRotC + c * dRotS;
        c = cNext;
    }
}

void CPitchDetector::WindowedPartial(double dOmega, int iEnd, int iLength, double& dRe, double& dIm) const
{
    const float* x = m_afFrame.data() + iEnd - iLength;
    // Four phasors a sample apart, each turned four samples at a time: independent chains.
    constexpr int kChains = 4;
    double adC[kChains], adS[kChains], adRe[kChains] = {}, adIm[kChains] = {};
    for (int k = 0; k < kChains; ++k) {
        adC[k] = std::cos(dOmega * k);
        adS[k] = -std::sin(dOmega * k);
    }
    const double dRotC = std::cos(dOmega * kChains), dRotS = -std::sin(dOmega * kChains);
    int i = 0;
    for (; i + kChains <= iLength; i += kChains) {
        for (int k = 0; k < kChains; ++k) {
            const double v = m_adWindow[i + k] * x[i + k];
            adRe[k] += v * adC[k];
            adIm[k] += v * adS[k];
            const double c = adC[k] * dRotC - adS[k] * dRotS;
            adS[k] = adS[k] * dRotC + adC[k] * dRotS;
            adC[k] = c;
        }
    }
    for (int k = 0; i < iLength; ++i, ++k) {
        const double v = m_adWindow[i] * x[i];
        adRe[0] += v * adC[k];
        adIm[0] += v * adS[k];
    }
    dRe = adRe[0] + adRe[1] + adRe[2] + adRe[3];
    dIm = adIm[0] + adIm[1] + adIm[2] + adIm[3];
}

bool CPitchDetector::Refine(double dPeriod, int iLength, int iAdvance, double& dOmega, double& dMagnitude) const
{
    // A period apart first, where the phase cannot wrap for any error of the estimate below half
    // the frequency; then the full advance, twice, as the estimate's own error biases the phase
    // by its product with the shift of the two windows' weight (the pluck's attack).
    const int iFrame = static_cast<int>(m_afFrame.size());
    const double dEstimate = kTwoPi / dPeriod;
    dOmega = dEstimate;
    const int aiAdvances[] = {std::max(1, static_cast<int>(std::lround(dPeriod))), iAdvance, iAdvance};
    double dRe = 0.0, dIm = 0.0, dOldRe = 0.0, dOldIm = 0.0;
    for (int iStep : aiAdvances) {
        WindowedPartial(dOmega, iFrame - iStep, iLength, dOldRe, dOldIm);
        WindowedPartial(dOmega, iFrame, iLength, dRe, dIm);
        const double dTurn = std::atan2(dIm * dOldRe - dRe * dOldIm, dRe * dOldRe + dIm * dOldIm);
        dOmega += Wrap(dTurn - dOmega * iStep) / iStep;
    }
    dMagnitude = std::hypot(dRe, dIm);
    const double dOld = std::hypot(dOldRe, dOldIm);
    // The older window's tapered start weighs an attack too little for the magnitudes to show
    // it: its first quarter must also hold about the power of the newest quarter.
    const int iQuarter = iLength / 4;
    const float* afOldest = m_afFrame.data() + iFrame - iAdvance - iLength;
    const float* afNewest = m_afFrame.data() + iFrame - iQuarter;
    double dOldest = 0.0, dNewest = 0.0;
    for (int i = 0; i < iQuarter; ++i) {
        dOldest += static_cast<double>(afOldest[i]) * afOldest[i];
        dNewest += static_cast<double>(afNewest[i]) * afNewest[i];
    }
    return dOmega < dEstimate * kMaxRefineRatio && dOmega * kMaxRefineRatio > dEstimate &&
           dOld >= kMinSteadiness * dMagnitude && dMagnitude >= kMinSteadiness * dOld &&
           dOldest >= kMinSteadiness * kMinSteadiness * dNewest;
}

PitchReading CPitchDetector::Detect(double dReference)
{
    PitchReading reading;
    dReference = std::clamp(dReference, kMinReference, kMaxReference);
    const int iFrame = static_cast<int>(m_afFrame.size());
    const std::size_t uMask = m_afHistory.size() - 1;
    for (int i = 0; i < iFrame; ++i)
        m_afFrame[i] = m_afHistory[static_cast<std::size_t>(m_llWritten - iFrame + i) & uMask];

    double dPower = 0.0;
    for (int i = iFrame - m_iNsdfWindow; i < iFrame; ++i)
        dPower += static_cast<double>(m_afFrame[i]) * m_afFrame[i];
    if (dPower < kSilenceRms * kSilenceRms * m_iNsdfWindow)
        return reading;
    double dPeriod = 0.0, dClarity = 0.0;
    if (!McLeodEstimate(m_afFrame.data(), iFrame, dPeriod, dClarity) || dClarity < kMinClarity)
        return reading;

    const double dLength = std::max(kRefinePeriods * dPeriod, kMinRefineSeconds * m_dRate);
    const int iLength = std::min(iFrame - static_cast<int>(std::ceil(kAdvancePeriods * dPeriod)),
                                 kWindowStep * static_cast<int>(std::lround(dLength / kWindowStep)));
    MakeWindow(iLength);
    const auto advance = [&](double dSeconds) {
        return std::min(iFrame - iLength, static_cast<int>(std::lround(std::max(kAdvancePeriods * dPeriod, dSeconds * m_dRate))));
    };
    double dOmega = 0.0, dMagnitude = 0.0;
    if (!Refine(dPeriod, iLength, advance(kFarAdvanceSeconds), dOmega, dMagnitude) &&
        !Refine(dPeriod, iLength, advance(kNearAdvanceSeconds), dOmega, dMagnitude))
        return reading;

    double dWindowPower = 0.0;
    const float* x = m_afFrame.data() + iFrame - iLength;
    for (int i = 0; i < iLength; ++i)
        dWindowPower += m_adWindow[i] * x[i] * x[i];
    dWindowPower /= m_dWindowSum;
    const double dAmplitude = 2.0 * dMagnitude / m_dWindowSum;
    if (0.5 * dAmplitude * dAmplitude < kMinFundamentalShare * dWindowPower)
        return reading;

    // The range, with the lags' margin for a string tuned from a little below or above it.
    reading.dHertz = dOmega * m_dRate / kTwoPi;
    if (reading.dHertz < kMinHertz / kLagMargin || reading.dHertz > kMaxHertz * kLagMargin)
        return PitchReading();
    reading.bPitched = true;
    NoteOf(reading.dHertz, dReference, reading.iNote, reading.dCents);
    return reading;
}

} // namespace corvex
