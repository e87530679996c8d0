#include "cabinet/CabinetImpulse.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "base/CpuFeatures.h"
#include "base/Parameters.h"
#include "cabinet/MyConvolution.h"

namespace corvex {
namespace {

// Products are rounded one by one and summed in a fixed order, element by element: the
// results are the same bits at every vector width.
CORVEX_KERNEL_BODY void HeadRunBody(const float* afWindow, const float* afTaps, int iTaps, int n, float* afOut)
{
    constexpr int kFull = CCabinetImpulse::kHeadTaps;
    if (n == kFull) {
        // A whole run: its sums fit in registers for all the taps.
        float afSum[kFull];
        for (int t = 0; t < kFull; ++t)
            afSum[t] = afOut[t];
        for (int u = 0; u < iTaps; ++u) {
            const float h = afTaps[u];
            const float* x = afWindow - u;
#pragma omp simd
            for (int t = 0; t < kFull; ++t)
                afSum[t] += h * x[t];
        }
        for (int t = 0; t < kFull; ++t)
            afOut[t] = afSum[t];
        return;
    }
    for (int u = 0; u < iTaps; ++u) {
        const float h = afTaps[u];
        const float* x = afWindow - u;
#pragma omp simd
        for (int t = 0; t < n; ++t)
            afOut[t] += h * x[t];
    }
}

CORVEX_KERNEL_BODY void MultiplyAddBody(const float* aRe, const float* aIm, const float* bRe, const float* bIm, int n,
                                        float* accRe, float* accIm)
{
#pragma omp simd
    for (int k = 0; k < n; ++k) {
        accRe[k] += aRe[k] * bRe[k] - aIm[k] * bIm[k];
        accIm[k] += aRe[k] * bIm[k] + aIm[k] * bRe[k];
    }
}

#if CORVEX_HAVE_AVX2_KERNELS
CORVEX_TARGET_AVX2 void HeadRunAvx2(const float* afWindow, const float* afTaps, int iTaps, int n, float* afOut)
{
    HeadRunBody(afWindow, afTaps, iTaps, n, afOut);
}

CORVEX_TARGET_AVX2 void MultiplyAddAvx2(const float* aRe, const float* aIm, const float* bRe, const float* bIm, int n,
                                        float* accRe, float* accIm)
{
    MultiplyAddBody(aRe, aIm, bRe, bIm, n, accRe, accIm);
}
#endif

// afOut[t] += sum over u of afTaps[u] * afWindow[t - u], for t < n.
void HeadRun(const float* afWindow, const float* afTaps, int iTaps, int n, float* afOut)
{
#if CORVEX_HAVE_AVX2_KERNELS
    if (cpu::Active() == cpu::Level::kAvx2) {
        HeadRunAvx2(afWindow, afTaps, iTaps, n, afOut);
        return;
    }
#endif
    HeadRunBody(afWindow, afTaps, iTaps, n, afOut);
}

// acc += a × b, bin by bin.
void MultiplyAdd(const float* aRe, const float* aIm, const float* bRe, const float* bIm, int n, float* accRe,
                 float* accIm)
{
#if CORVEX_HAVE_AVX2_KERNELS
    if (cpu::Active() == cpu::Level::kAvx2) {
        MultiplyAddAvx2(aRe, aIm, bRe, bIm, n, accRe, accIm);
        return;
    }
#endif
    MultiplyAddBody(aRe, aIm, bRe, bIm, n, accRe, accIm);
}

double Energy(const float* af, int n)
{
    double dSum = 0.0;
    for (int i = 0; i < n; ++i)
        dSum += static_cast<double>(af[i]) * af[i];
    return dSum;
}

} // namespace

std::vector<float> BuiltInCabinetResponse(double sampleRate, bool distorted)
{
    // The cabinet itself answers a unit impulse: its output is the effective response, computed
    // by the very code that applies it.
    float afValues[kParamTableSize] = {};
    float* afTable[kParamTableSize] = {};
    for (int i = 0; i < kParamTableSize; ++i)
        afTable[i] = &afValues[i];
    afValues[kDistortionOnOff] = distorted ? 1.0f : 0.0f;
    auto pCabinet = std::make_unique<CMyConvolution>();
    pCabinet->SetParamTable(afTable);
    pCabinet->SetSampleRate(&sampleRate);
    pCabinet->Reset();
    const int iTaps = std::max(pCabinet->Taps(), 0);
    std::vector<float> afResponse(static_cast<size_t>(iTaps), 0.0f);
    if (iTaps == 0)
        return afResponse;
    std::vector<float> afInput(static_cast<size_t>(iTaps), 0.0f), afRight(static_cast<size_t>(iTaps));
    afInput[0] = 1.0f;
    pCabinet->Process(afInput.data(), afInput.data(), afResponse.data(), afRight.data(), iTaps);
    return afResponse;
}

std::unique_ptr<CCabinetImpulse> CCabinetImpulse::Create(const float* left, const float* right, int frames,
                                                         double sampleRate)
{
    if (!left || frames < 1 || !(sampleRate > 0.0) || !std::isfinite(sampleRate))
        return nullptr;
    // One non-finite tap would spread through every transform for good.
    for (const float* channel : {left, right})
        if (channel && !std::all_of(channel, channel + frames, [](float f) { return std::isfinite(f); }))
            return nullptr;
    try {
        std::unique_ptr<CCabinetImpulse> pImpulse(new CCabinetImpulse());
        pImpulse->Build(left, right, frames, sampleRate);
        return pImpulse;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

CCabinetImpulse::~CCabinetImpulse() = default;

void CCabinetImpulse::AttachSpare(std::unique_ptr<CCabinetImpulse> pSpare)
{
    m_pSpare = std::move(pSpare);
    if (m_pSpare)
        m_pSpare->m_pOwner = this;
}

void CCabinetImpulse::Build(const float* left, const float* right, int frames, double sampleRate)
{
    m_iChannels = right ? 2 : 1;
    m_iFrames = frames;
    m_dSampleRate = sampleRate;
    const float* apChannel[2] = {left, right ? right : left};

    // Level matching: the response's energy, the channels' mean, made that of the built-in one.
    const double dEnergy =
        right ? (Energy(left, frames) + Energy(right, frames)) / 2.0 : Energy(left, frames);
    for (bool distorted : {false, true}) {
        const std::vector<float> afBuiltIn = BuiltInCabinetResponse(sampleRate, distorted);
        const double dTarget = Energy(afBuiltIn.data(), static_cast<int>(afBuiltIn.size()));
        const float fScale = dEnergy > 0.0 ? static_cast<float>(std::sqrt(dTarget / dEnergy)) : 0.0f;
        (distorted ? m_fScaleDistorted : m_fScaleClean) = fScale;
    }

    m_iHeadTaps = std::min(frames, kHeadTaps);
    for (int c = 0; c < m_iChannels; ++c)
        std::copy(apChannel[c], apChannel[c] + m_iHeadTaps, m_afHead[c]);

    m_iLevels = 0;
    for (int l = 0; l < kLevelCount && frames > kPartitionSizes[l]; ++l) {
        const int B = kPartitionSizes[l];
        // The next length takes over only where it has enough of the response to pay for its
        // transforms; until then this one runs to the end.
        const bool bLast = l + 1 == kLevelCount || frames < kNextLevelShare * kPartitionSizes[l + 1];
        const int iEnd = bLast ? frames : kPartitionSizes[l + 1];
        Level& level = m_aLevels[l];
        level.iSize = B;
        level.iParts = (iEnd - B + B - 1) / B;
        level.pFft = std::make_unique<CRealFft>(2 * B);
        const size_t uBins = static_cast<size_t>(B + 1);
        const size_t uSpectra = uBins * static_cast<size_t>(level.iParts);
        level.afWindow.assign(2 * static_cast<size_t>(B), 0.0f);
        level.afInRe.assign(uSpectra, 0.0f);
        level.afInIm.assign(uSpectra, 0.0f);
        level.afTime.assign(2 * static_cast<size_t>(B), 0.0f);
        // The inverse transform's factor 2B is taken out of the partitions' spectra.
        const float fNorm = 1.0f / static_cast<float>(2 * B);
        for (int c = 0; c < m_iChannels; ++c) {
            level.afPartRe[c].assign(uSpectra, 0.0f);
            level.afPartIm[c].assign(uSpectra, 0.0f);
            level.afOut[c].assign(static_cast<size_t>(B), 0.0f);
            level.afAccRe[c].assign(uBins, 0.0f);
            level.afAccIm[c].assign(uBins, 0.0f);
            for (int p = 0; p < level.iParts; ++p) {
                const int iFirst = B + p * B;
                const int iCount = std::min(B, iEnd - iFirst);
                std::fill(level.afTime.begin(), level.afTime.end(), 0.0f);
                for (int i = 0; i < iCount; ++i)
                    level.afTime[static_cast<size_t>(i)] = apChannel[c][iFirst + i] * fNorm;
                const size_t uAt = uBins * static_cast<size_t>(p);
                level.pFft->Forward(level.afTime.data(), &level.afPartRe[c][uAt], &level.afPartIm[c][uAt]);
            }
        }
        std::fill(level.afTime.begin(), level.afTime.end(), 0.0f);
        ++m_iLevels;
        if (bLast)
            break;
    }
}

void CCabinetImpulse::Reset()
{
    if (!m_bRunning)
        return;
    std::fill(std::begin(m_afHeadWindow), std::end(m_afHeadWindow), 0.0f);
    m_iHeadFill = 0;
    for (int l = 0; l < m_iLevels; ++l) {
        Level& level = m_aLevels[l];
        level.iFill = 0;
        level.iNewest = 0;
        level.iDone = 0;
        std::fill(level.afWindow.begin(), level.afWindow.end(), 0.0f);
        std::fill(level.afInRe.begin(), level.afInRe.end(), 0.0f);
        std::fill(level.afInIm.begin(), level.afInIm.end(), 0.0f);
        for (int c = 0; c < m_iChannels; ++c) {
            std::fill(level.afOut[c].begin(), level.afOut[c].end(), 0.0f);
            std::fill(level.afAccRe[c].begin(), level.afAccRe[c].end(), 0.0f);
            std::fill(level.afAccIm[c].begin(), level.afAccIm[c].end(), 0.0f);
        }
    }
    m_bRunning = false;
}

void CCabinetImpulse::AccumulateParts(Level& level, int iUpTo)
{
    const size_t uBins = static_cast<size_t>(level.iSize + 1);
    while (level.iDone < iUpTo) {
        // Partition p meets the input block p blocks before the one now filling, which is
        // p - 1 slots before the newest complete one.
        const int p = ++level.iDone;
        int iSlot = level.iNewest - (p - 1);
        if (iSlot < 0)
            iSlot += level.iParts;
        const size_t uPart = uBins * static_cast<size_t>(p), uIn = uBins * static_cast<size_t>(iSlot);
        for (int c = 0; c < m_iChannels; ++c)
            MultiplyAdd(&level.afPartRe[c][uPart], &level.afPartIm[c][uPart], &level.afInRe[uIn], &level.afInIm[uIn],
                        level.iSize + 1, level.afAccRe[c].data(), level.afAccIm[c].data());
    }
}

void CCabinetImpulse::CompleteBlock(Level& level)
{
    const int B = level.iSize;
    AccumulateParts(level, level.iParts - 1);
    level.iDone = 0;
    // The newest input spectrum goes into the slot of the oldest, which no sum needs any more.
    level.iNewest = level.iNewest + 1 < level.iParts ? level.iNewest + 1 : 0;
    const size_t uNewest = static_cast<size_t>(B + 1) * static_cast<size_t>(level.iNewest);
    level.pFft->Forward(level.afWindow.data(), &level.afInRe[uNewest], &level.afInIm[uNewest]);
    std::copy(level.afWindow.begin() + B, level.afWindow.end(), level.afWindow.begin());

    for (int c = 0; c < m_iChannels; ++c) {
        MultiplyAdd(&level.afPartRe[c][0], &level.afPartIm[c][0], &level.afInRe[uNewest], &level.afInIm[uNewest],
                    B + 1, level.afAccRe[c].data(), level.afAccIm[c].data());
        level.pFft->Inverse(level.afAccRe[c].data(), level.afAccIm[c].data(), level.afTime.data());
        // Overlap-save: the second half is the linear convolution.
        std::copy(level.afTime.begin() + B, level.afTime.end(), level.afOut[c].begin());
        std::fill(level.afAccRe[c].begin(), level.afAccRe[c].end(), 0.0f);
        std::fill(level.afAccIm[c].begin(), level.afAccIm[c].end(), 0.0f);
    }
}

void CCabinetImpulse::Process(const float* in, float* outL, float* outR, int n)
{
    m_bRunning = true;
    float afRun[2][kHeadTaps];
    int i = 0;
    while (i < n) {
        const int iRun = std::min(n - i, kHeadTaps - m_iHeadFill);
        float* afCurrent = m_afHeadWindow + kHeadTaps + m_iHeadFill;
        std::copy(in + i, in + i + iRun, afCurrent);
        for (int l = 0; l < m_iLevels; ++l) {
            Level& level = m_aLevels[l];
            std::copy(in + i, in + i + iRun, level.afWindow.begin() + level.iSize + level.iFill);
        }
        for (int c = 0; c < m_iChannels; ++c) {
            std::fill(afRun[c], afRun[c] + iRun, 0.0f);
            HeadRun(afCurrent, m_afHead[c], m_iHeadTaps, iRun, afRun[c]);
            for (int l = 0; l < m_iLevels; ++l) {
                const float* afShare = m_aLevels[l].afOut[c].data() + m_aLevels[l].iFill;
#pragma omp simd
                for (int t = 0; t < iRun; ++t)
                    afRun[c][t] += afShare[t];
            }
        }
        std::copy(afRun[0], afRun[0] + iRun, outL + i);
        if (outR)
            std::copy(afRun[m_iChannels - 1], afRun[m_iChannels - 1] + iRun, outR + i);

        m_iHeadFill += iRun;
        if (m_iHeadFill == kHeadTaps) {
            std::copy(m_afHeadWindow + kHeadTaps, m_afHeadWindow + 2 * kHeadTaps, m_afHeadWindow);
            m_iHeadFill = 0;
        }
        for (int l = 0; l < m_iLevels; ++l) {
            Level& level = m_aLevels[l];
            level.iFill += iRun;
            if (level.iFill == level.iSize) {
                CompleteBlock(level);
                level.iFill = 0;
            } else {
                // The share of the older partitions due by now.
                AccumulateParts(level, static_cast<int>(static_cast<long long>(level.iParts - 1) * level.iFill /
                                                        level.iSize));
            }
        }
        i += iRun;
    }
}

} // namespace corvex
