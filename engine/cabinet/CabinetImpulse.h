#pragma once

#include <memory>
#include <vector>

#include "cabinet/RealFft.h"

namespace corvex {

// The built-in cabinet's effective impulse response at a rate for one voicing: the taps the
// convolution applies with its staging folded in (divided by the count of non-zero taps, times
// the voicing's level and kTapShare), so that convolving with it gives what the cabinet gives.
// Off the audio thread (it allocates).
std::vector<float> BuiltInCabinetResponse(double sampleRate, bool distorted);

// A user cabinet impulse response at the session rate, ready to convolve with no latency: the
// first kHeadTaps taps directly, the rest in partitions through FFTs, short partitions early
// and long ones in the tail. A length's next output block is due as its current input block
// completes; all but its first partition meet older input blocks only, so their products are
// spread over the block, and what is left at its end is one forward and one inverse transform
// per channel (the longest length's come in bursts, once per its length). It holds its own
// running state; everything is allocated in Create.
class CCabinetImpulse {
public:
    static constexpr int kHeadTaps = 64;
    // Partition lengths, shortest first: the partitions of length kPartitionSizes[l] cover the
    // taps from kPartitionSizes[l] up to kPartitionSizes[l + 1], or to the end of the response
    // when it is shorter than kNextLevelShare times that next length. Each length costs its
    // transforms per sample whatever its partition count, so few lengths far apart cost least
    // (bench/engine/CabinetImpulseBench.cpp).
    static constexpr int kPartitionSizes[] = {64, 1024, 16384};
    static constexpr int kNextLevelShare = 2;
    static constexpr int kLevelCount = sizeof(kPartitionSizes) / sizeof(kPartitionSizes[0]);

    // Off the audio thread. left/right: frames samples each at sampleRate; right == nullptr for
    // mono. nullptr for no samples, a non-finite sample, a rate that is not positive and finite,
    // or when the memory cannot be had.
    static std::unique_ptr<CCabinetImpulse> Create(const float* left, const float* right, int frames,
                                                   double sampleRate);
    ~CCabinetImpulse();
    CCabinetImpulse(const CCabinetImpulse&) = delete;
    CCabinetImpulse& operator=(const CCabinetImpulse&) = delete;

    int Channels() const { return m_iChannels; }
    int Frames() const { return m_iFrames; }
    double SampleRate() const { return m_dSampleRate; }
    // The level-matching gain for the clean (false) or distorted (true) voicing: it brings the
    // response's energy (the channels' mean) to that of BuiltInCabinetResponse for the voicing.
    float Scale(bool distorted) const { return distorted ? m_fScaleDistorted : m_fScaleClean; }

    // A second impulse of the same response with running state of its own, for a second chain
    // (a preset change's outgoing sound), owned by this one. Off the audio thread.
    void AttachSpare(std::unique_ptr<CCabinetImpulse> pSpare);
    CCabinetImpulse* Spare() const { return m_pSpare.get(); }
    // The impulse a spare belongs to; itself for any other.
    CCabinetImpulse* Owner() { return m_pOwner ? m_pOwner : this; }

    // Audio thread. Clears the running state (only when it has run since the last clear).
    void Reset();
    // Audio thread. Convolves n samples of in with the response, unscaled; a mono response
    // writes the same to both outputs. outR may be null. in may be one of the outputs.
    void Process(const float* in, float* outL, float* outR, int n);

private:
    // The partitions of one length and what they need to run.
    struct Level {
        int iSize = 0;   // partition length B; the transforms are 2B long
        int iParts = 0;
        int iFill = 0;   // samples of the current input block so far
        int iNewest = 0; // the spectrum slot of the newest input block
        int iDone = 0;   // partitions 1..iDone are in the sums for the next output block
        std::unique_ptr<CRealFft> pFft;
        std::vector<float> afWindow;       // 2B: the previous input block, then the current one
        std::vector<float> afInRe, afInIm; // iParts slots of input spectra, B + 1 bins each
        std::vector<float> afPartRe[2], afPartIm[2]; // per channel, iParts spectra of B + 1 bins
        std::vector<float> afAccRe[2], afAccIm[2];  // per channel: the next output block's spectrum
        std::vector<float> afTime;                   // 2B
        std::vector<float> afOut[2];                 // B: this level's share of the current block
    };

    CCabinetImpulse() = default;
    // Throws std::bad_alloc when the memory cannot be had.
    void Build(const float* left, const float* right, int frames, double sampleRate);
    void CompleteBlock(Level& level);
    // Adds the products of partitions iDone + 1 to iUpTo into the sums.
    void AccumulateParts(Level& level, int iUpTo);

    int m_iChannels = 0;
    int m_iFrames = 0;
    double m_dSampleRate = 0.0;
    float m_fScaleClean = 0.0f;
    float m_fScaleDistorted = 0.0f;
    int m_iHeadTaps = 0;
    float m_afHead[2][kHeadTaps] = {};
    // The previous kHeadTaps inputs, then the current run.
    float m_afHeadWindow[2 * kHeadTaps] = {};
    int m_iHeadFill = 0;
    int m_iLevels = 0;
    Level m_aLevels[kLevelCount];
    bool m_bRunning = false;
    std::unique_ptr<CCabinetImpulse> m_pSpare;
    CCabinetImpulse* m_pOwner = nullptr;
};

} // namespace corvex
