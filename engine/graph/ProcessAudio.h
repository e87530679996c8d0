#pragma once

#include <memory>

#include "base/MyEffect.h"

namespace corvex {

class CCabinetImpulse;
class CMyConvolution;

// The processing graph: thirteen signal blocks run in a fixed chain once per host block,
// connected through preallocated scratch buffers. The graph owns the blocks, the parameter
// pointer table and the buffers; the processor owns the parameter floats, the sample rate and
// the tempo the table and pointers refer to.
class CProcessAudio {
public:
    // The blocks, in the order the graph creates them.
    enum BlockId {
        kSourceSelector,
        kInputGain,
        kInputMeter,
        kGateCompressor,
        kPreEqualiser,
        kPostEqualiser,
        kDistortion,
        kChorus,
        kDelay,
        kReverb,
        kCabinet,
        kOutputMeters,
        kOutputLimiter,
        kBlockCount
    };

    static constexpr int kDefaultBlockSize = 1024;
    static constexpr int kDefaultBufferCount = 24;
    // The highest rate every line (delay, reverb, chorus, cabinet) holds its full time at.
    static constexpr double kMaxSampleRate = 192000.0;

    CProcessAudio();
    ~CProcessAudio();
    CProcessAudio(const CProcessAudio&) = delete;
    CProcessAudio& operator=(const CProcessAudio&) = delete;

    int SetBlockSize(int iSamples);
    int SetSampleRate(const double* pfSampleRate);
    int SetBufferCount(int iCount);
    int SetParamCount(int iCount);
    int SetTempo(const float* pfTempo);
    // Allocates the table and the scratch buffers and hands rate, tempo and table to the blocks.
    int Init();
    int SetParamPointer(ParamID id, float* pfValue);
    int GetParamTable(float*** pafTable);
    int Reset();
    // Runs the chain over n samples. Host input and output may be the same memory.
    int Process(const float* inL, const float* inR, float* outL, float* outR, int n);
    // Process for a caller that holds the denormal guard itself and passes non-null buffers
    // and n >= 1, as a host's every block does: a block within the scratch buffers goes
    // straight to the chain without Process's re-checks, which small blocks feel.
    int ProcessGuarded(const float* inL, const float* inR, float* outL, float* outR, int n)
    {
        if (n <= m_iBlockSize && m_bAllBlocks && m_aafBuffers)
            return ProcessSlice(inL, inR, outL, outR, n);
        return Process(inL, inR, outL, outR, n);
    }
    void FreeBuffers();
    void DestroyBlocks();

    // Hands the current sample rate to every block again, so blocks re-derive their
    // rate-dependent sizes; a Reset must follow. Control thread only.
    int RefreshSampleRate();
    // Grows the scratch buffers to at least iSamples each. Allocates: control thread only.
    int GrowBlockSize(int iSamples);
    int BlockSize() const { return m_iBlockSize; }

    CMyEffect* Block(BlockId id) const { return m_apBlocks[id].get(); }
    // The cabinet block, or null when a test has put another block in its place.
    CMyConvolution* Cabinet() const { return m_pCabinet; }
    // Audio thread: the cabinet's user impulse exchange and retirement (CMyConvolution's
    // ExchangeImpulse and TakeRetired). Without a cabinet block the impulse comes straight back.
    CCabinetImpulse* ExchangeImpulse(CCabinetImpulse* pImpulse);
    CCabinetImpulse* TakeRetiredImpulse();
    // CMyConvolution::ImpulseTailSamples, 0 without a cabinet block.
    int ImpulseTailSamples() const;
    // Swaps a block for another (used to observe the chain from tests); returns the old one.
    std::unique_ptr<CMyEffect> ExchangeBlock(BlockId id, std::unique_ptr<CMyEffect> pBlock);

private:
    int ProcessSlice(const float* inL, const float* inR, float* outL, float* outR, int n);

    int m_iBlockSize = 0;
    const double* m_pfSampleRate = nullptr;
    int m_iBufferCount = 0;
    int m_iParamCount = 0;
    float** m_afParamTable = nullptr;
    int m_iTableSize = 0;
    float** m_aafBuffers = nullptr;
    const float* m_pfTempo = nullptr;
    std::unique_ptr<CMyEffect> m_apBlocks[kBlockCount];
    // Every entry of m_apBlocks holds a block; kept by the calls that change them, so that
    // Process checks one flag per block of audio rather than every block of the chain.
    bool m_bAllBlocks = false;
    CMyConvolution* m_pCabinet = nullptr;
    // Whether the equaliser and chorus after the cabinet were last told of a stereo input (1)
    // or not (0): they are told again only when it changes.
    static constexpr int kRoutingUnknown = -1;
    int m_iStereoRouted = kRoutingUnknown;
};

} // namespace corvex
