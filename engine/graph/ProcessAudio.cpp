#include "graph/ProcessAudio.h"

#include <algorithm>
#include <cstring>

#include "base/DenormalGuard.h"
#include "cabinet/MyConvolution.h"
#include "delay/MyDelay.h"
#include "distortion/MyDisto.h"
#include "dynamics/MyComp.h"
#include "equaliser/MyEqu.h"
#include "input/ComputeInputVumeter.h"
#include "input/EffectSourceSelector.h"
#include "input/GainDEntree.h"
#include "meters/ComputeOutputVumeters.h"
#include "modulation/MyChorus.h"
#include "reverb/MyReverb.h"

namespace corvex {
namespace {

// The order in which blocks receive the sample rate, the parameter table and Reset.
constexpr CProcessAudio::BlockId kSetupOrder[] = {
    CProcessAudio::kSourceSelector, CProcessAudio::kInputGain,     CProcessAudio::kInputMeter,
    CProcessAudio::kGateCompressor, CProcessAudio::kPreEqualiser,  CProcessAudio::kPostEqualiser,
    CProcessAudio::kDistortion,     CProcessAudio::kCabinet,       CProcessAudio::kChorus,
    CProcessAudio::kDelay,          CProcessAudio::kReverb,        CProcessAudio::kOutputMeters,
    CProcessAudio::kOutputLimiter,
};

} // namespace

CProcessAudio::CProcessAudio()
{
    m_apBlocks[kSourceSelector] = std::make_unique<CEffectSourceSelector>();
    m_apBlocks[kInputGain] = std::make_unique<CGainDEntree>();
    m_apBlocks[kInputMeter] = std::make_unique<CComputeInputVumeter>();
    m_apBlocks[kGateCompressor] = std::make_unique<CMyComp>();
    m_apBlocks[kPreEqualiser] = std::make_unique<CMyEqu>();
    m_apBlocks[kPostEqualiser] = std::make_unique<CMyEqu>();
    m_apBlocks[kDistortion] = std::make_unique<CMyDisto>();
    m_apBlocks[kChorus] = std::make_unique<CMyChorus>();
    m_apBlocks[kDelay] = std::make_unique<CMyDelay>();
    m_apBlocks[kReverb] = std::make_unique<CMyReverb>();
    auto pCabinet = std::make_unique<CMyConvolution>();
    m_pCabinet = pCabinet.get();
    m_apBlocks[kCabinet] = std::move(pCabinet);
    m_apBlocks[kOutputMeters] = std::make_unique<CComputeOutputVumeters>();
    m_apBlocks[kOutputLimiter] = std::make_unique<CMyComp>();
    m_bAllBlocks = true;
    m_afParamTable = new float*[kParamTableSize]();
    m_iTableSize = kParamTableSize;
}

CProcessAudio::~CProcessAudio()
{
    FreeBuffers();
    DestroyBlocks();
}

int CProcessAudio::SetBlockSize(int iSamples)
{
    if (iSamples <= 0)
        return 0;
    m_iBlockSize = iSamples;
    return 1;
}

int CProcessAudio::SetSampleRate(const double* pfSampleRate)
{
    if (!pfSampleRate)
        return 0;
    m_pfSampleRate = pfSampleRate;
    return 1;
}

int CProcessAudio::SetBufferCount(int iCount)
{
    if (iCount < 2)
        return 0;
    m_iBufferCount = iCount;
    return 1;
}

int CProcessAudio::SetParamCount(int iCount)
{
    if (iCount <= 0)
        return 0;
    m_iParamCount = iCount;
    return 1;
}

int CProcessAudio::SetTempo(const float* pfTempo)
{
    m_pfTempo = pfTempo;
    return 1;
}

int CProcessAudio::Init()
{
    if (m_iParamCount < 1)
        return 0;
    delete[] m_afParamTable;
    m_afParamTable = new float*[m_iParamCount]();
    m_iTableSize = m_iParamCount;

    if (m_iBufferCount < 2 || m_iBlockSize < 1)
        return 0;
    if (!CORVEX_CHECK(m_aafBuffers == nullptr))
        return 0;
    m_aafBuffers = new float*[m_iBufferCount];
    for (int i = 0; i < m_iBufferCount; ++i)
        m_aafBuffers[i] = new float[m_iBlockSize]();

    for (BlockId id : kSetupOrder) {
        m_apBlocks[id]->SetSampleRate(m_pfSampleRate);
        if (id == kDelay || id == kReverb)
            m_apBlocks[id]->SetTempo(m_pfTempo);
    }
    for (BlockId id : kSetupOrder)
        m_apBlocks[id]->SetParamTable(m_afParamTable);

    const EffectConfiguration preConfiguration{{0}};
    const EffectConfiguration postConfiguration{{7}};
    m_apBlocks[kPreEqualiser]->Configure(preConfiguration, false);
    m_apBlocks[kPostEqualiser]->Configure(postConfiguration, true);

    Reset();
    return 1;
}

int CProcessAudio::SetParamPointer(ParamID id, float* pfValue)
{
    if (!CORVEX_CHECK(IsParameter(id)))
        return 0;
    if (!CORVEX_CHECK(m_afParamTable && static_cast<int>(id) < m_iTableSize))
        return 0;
    m_afParamTable[id] = pfValue;
    return 1;
}

int CProcessAudio::GetParamTable(float*** pafTable)
{
    if (!m_afParamTable || !pafTable)
        return 0;
    *pafTable = m_afParamTable;
    return 1;
}

int CProcessAudio::Reset()
{
    for (BlockId id : kSetupOrder)
        if (m_apBlocks[id])
            m_apBlocks[id]->Reset();
    return 1;
}

int CProcessAudio::RefreshSampleRate()
{
    if (!m_pfSampleRate)
        return 0;
    for (BlockId id : kSetupOrder)
        if (m_apBlocks[id])
            m_apBlocks[id]->SetSampleRate(m_pfSampleRate);
    return 1;
}

int CProcessAudio::GrowBlockSize(int iSamples)
{
    if (iSamples <= 0)
        return 0;
    if (!m_aafBuffers) {
        m_iBlockSize = std::max(m_iBlockSize, iSamples);
        return 1;
    }
    if (iSamples <= m_iBlockSize)
        return 1;
    for (int i = 0; i < m_iBufferCount; ++i) {
        delete[] m_aafBuffers[i];
        m_aafBuffers[i] = new float[iSamples]();
    }
    m_iBlockSize = iSamples;
    return 1;
}

int CProcessAudio::Process(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    if (n < 1 || !inL || !inR || !outL || !outR)
        return 0;
    if (!CORVEX_CHECK(m_aafBuffers && m_iBlockSize > 0))
        return 0;
    if (!CORVEX_CHECK(m_bAllBlocks))
        return 0;

    ScopedNoDenormals noDenormals;
    // A block longer than the scratch buffers runs in slices of their capacity.
    int iResult = 1;
    for (int iDone = 0; iDone < n && iResult; iDone += m_iBlockSize) {
        const int iCount = std::min(m_iBlockSize, n - iDone);
        iResult = ProcessSlice(inL + iDone, inR + iDone, outL + iDone, outR + iDone, iCount);
    }
    return iResult;
}

int CProcessAudio::ProcessSlice(const float* inL, const float* inR, float* outL, float* outR, int n)
{
    float** B = m_aafBuffers;

    // The selector also makes the samples safe for the rest of the chain.
    if (!m_apBlocks[kSourceSelector]->Process(inL, inR, B[2], B[3], n))
        return 0;
    if (!m_apBlocks[kInputGain]->Process(B[2], B[3], B[4], B[5], n))
        return 0;
    if (!m_apBlocks[kInputMeter]->Process(B[4], B[5], nullptr, nullptr, n))
        return 0;
    if (!m_apBlocks[kGateCompressor]->Process(B[4], B[5], B[6], B[7], n))
        return 0;
    if (!m_apBlocks[kPreEqualiser]->Process(B[6], B[7], B[8], B[9], n))
        return 0;
    if (!m_apBlocks[kDistortion]->Process(B[8], B[9], B[10], B[11], n))
        return 0;
    if (!m_apBlocks[kCabinet]->Process(B[10], B[11], B[12], B[13], n))
        return 0;
    // A stereo user impulse gives the right output a response of its own, which the
    // equaliser and the chorus then carry on the right.
    // The cabinet's own type answers without a virtual call.
    const bool bStereo = m_pCabinet ? m_pCabinet->StereoOutput() : m_apBlocks[kCabinet]->StereoOutput();
    const int iStereo = bStereo ? 1 : 0;
    if (iStereo != m_iStereoRouted) {
        m_apBlocks[kPostEqualiser]->SetStereoInput(iStereo != 0);
        m_apBlocks[kChorus]->SetStereoInput(iStereo != 0);
        m_iStereoRouted = iStereo;
    }
    if (!m_apBlocks[kPostEqualiser]->Process(B[12], B[13], B[14], B[15], n))
        return 0;
    if (!m_apBlocks[kChorus]->Process(B[14], B[15], B[16], B[17], n))
        return 0;
    if (!m_apBlocks[kDelay]->Process(B[16], B[17], B[18], B[19], n))
        return 0;
    if (!m_apBlocks[kReverb]->Process(B[18], B[19], B[20], B[21], n))
        return 0;
    if (!m_apBlocks[kOutputLimiter]->ProcessLimiter(B[20], B[21], outL, outR, n))
        return 0;
    return m_apBlocks[kOutputMeters]->Process(outL, outR, nullptr, nullptr, n);
}

void CProcessAudio::FreeBuffers()
{
    if (!m_aafBuffers)
        return;
    for (int i = 0; i < m_iBufferCount; ++i)
        delete[] m_aafBuffers[i];
    delete[] m_aafBuffers;
    m_aafBuffers = nullptr;
}

void CProcessAudio::DestroyBlocks()
{
    for (auto& pBlock : m_apBlocks)
        pBlock.reset();
    m_bAllBlocks = false;
    m_pCabinet = nullptr;
    delete[] m_afParamTable;
    m_afParamTable = nullptr;
    m_iTableSize = 0;
}

std::unique_ptr<CMyEffect> CProcessAudio::ExchangeBlock(BlockId id, std::unique_ptr<CMyEffect> pBlock)
{
    m_apBlocks[id].swap(pBlock);
    // A new block learns the routing at the next run.
    m_iStereoRouted = kRoutingUnknown;
    if (id == kCabinet)
        m_pCabinet = dynamic_cast<CMyConvolution*>(m_apBlocks[id].get());
    m_bAllBlocks = true;
    for (const auto& pPresent : m_apBlocks)
        m_bAllBlocks = m_bAllBlocks && pPresent;
    return pBlock;
}

CCabinetImpulse* CProcessAudio::ExchangeImpulse(CCabinetImpulse* pImpulse)
{
    return m_pCabinet ? m_pCabinet->ExchangeImpulse(pImpulse) : pImpulse;
}

CCabinetImpulse* CProcessAudio::TakeRetiredImpulse()
{
    return m_pCabinet ? m_pCabinet->TakeRetired() : nullptr;
}

int CProcessAudio::ImpulseTailSamples() const
{
    return m_pCabinet ? m_pCabinet->ImpulseTailSamples() : 0;
}

} // namespace corvex
