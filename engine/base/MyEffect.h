#pragma once

#include <cmath>
#include <cstdint>

#include "base/ConsistencyCheck.h"
#include "base/Parameters.h"

namespace corvex {

// Ten 32-bit settings handed to a block by Configure; only the equaliser uses them.
struct EffectConfiguration {
    std::int32_t aiValues[10] = {};
};

// Base of every signal block. A block reads its switches and levels through the graph's shared
// parameter pointer table at each call (no copies, so a change lands at the next block), and
// the current sample rate and tempo through pointers owned by the processor.
//
// Results are integers: non-zero for success, 0 for failure.
class CMyEffect {
public:
    CMyEffect() = default;
    virtual ~CMyEffect() = default;
    CMyEffect(const CMyEffect&) = delete;
    CMyEffect& operator=(const CMyEffect&) = delete;

    // Clears the running state the block keeps between host blocks.
    virtual int Reset() = 0;
    // Processes n samples; an output pointer may be null for blocks that only measure.
    virtual int Process(const float* inL, const float* inR, float* outL, float* outR, int n) = 0;
    virtual int ProcessLimiter(const float* inL, const float* inR, float* outL, float* outR, int n);
    // Stores the pointer to the sample rate; blocks with rate-dependent sizes derive them here.
    virtual int SetSampleRate(const double* pfSampleRate);
    virtual int Configure(const EffectConfiguration& configuration, bool bFlag);
    virtual float ProcessSample(float x);
    // The right output of the last Process differs from the left (the chain is mono otherwise
    // until the chorus).
    virtual bool StereoOutput() const { return false; }
    // Whether the next Process's right input carries a signal of its own; blocks that read only
    // the left input while it does not ignore this.
    virtual void SetStereoInput(bool) {}

    int SetParamTable(float** afParams);
    int SetTempo(const float* pfTempo);

protected:
    float Param(ParamID id) const { return *m_afParams[id]; }
    void SetParam(ParamID id, float value) const { *m_afParams[id] = value; }
    // A level parameter limited to [0, 1], NaN read as 0: a value from outside that range would
    // turn feedback gains above 1 or drive filter memories non-finite for good.
    float Level(ParamID id) const
    {
        const float v = Param(id);
        return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
    }
    // A switch is off only at exactly 0.0; any other value (NaN included) is on.
    bool IsOn(ParamID id) const { return Param(id) != 0.0f; }
    float SampleRate() const { return static_cast<float>(*m_pfSampleRate); }
    // What a switched-off block does: each output becomes its own input. Buffers may coincide.
    static void PassThrough(const float* inL, const float* inR, float* outL, float* outR, int n);

    float** m_afParams = nullptr;
    const double* m_pfSampleRate = nullptr;
    const float* m_pfTempo = nullptr;
};

// A size derived from the sample rate: rate × seconds in single precision, rounded half away
// from zero, limited to [0, capacity]. Reports a failed check when it had to clamp and
// bReportClamp is set.
int SizeForRate(float fSampleRate, float fSeconds, int iCapacity, bool bReportClamp);

} // namespace corvex
