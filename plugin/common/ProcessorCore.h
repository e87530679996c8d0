#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "PresetChange.h"
#include "SampleRing.h"
#include "base/Parameters.h"
#include "graph/ProcessAudio.h"

namespace corvex {

// What every plug-in format does around the graph, whatever its API: the parameter floats the
// graph reads, their clamping, the tempo and its validity rules, the bypass, skipping the chain
// once silent input has let the tail ring out, running long blocks in slices, and telling which
// meters and LEDs the chain changed during a block. A format adapter only translates.
//
// Threads: Prepare and Activate run while nothing processes; the rest on the audio thread,
// which none of it allocates, locks or logs on.
class CProcessorCore {
public:
    static constexpr int kIndicatorCount = kCompressionLed - kOutputLeftVumeter + 1;
    static constexpr float kInitialTempo = 120.0f;
    // Host tempos outside this range are clamped: the delay sizes its repeats from the tempo.
    static constexpr float kMinTempo = 1.0f;
    static constexpr float kMaxTempo = 999.0f;
    static constexpr double kInitialSampleRate = 44100.0;
    static constexpr int kInitialBlockSize = 1024;
    // Scratch buffers grow to the host's block size up to this; longer blocks run in slices.
    static constexpr int kMaxScratchSamples = 16384;

    // Builds the graph at 44.1 kHz and 1024 samples with every parameter at its default. Throws
    // std::bad_alloc when the buffers cannot be had.
    CProcessorCore();
    ~CProcessorCore();

    // Finite, positive and at most the rate every line holds its full time at: above it the
    // delay, reverb and chorus times would come out short, so such a rate is refused instead.
    static bool SupportsSampleRate(double sampleRate)
    {
        return sampleRate > 0.0 && sampleRate <= CProcessAudio::kMaxSampleRate;
    }
    // Rate and largest block; false (nothing changed) for a rate SupportsSampleRate refuses.
    bool Prepare(double sampleRate, int maxBlockSize);
    // Start or end of processing: meters and LEDs at 0, every block's running state cleared.
    void Activate();
    double SampleRate() const { return m_dSampleRate; }

    // A preset change waiting for its fade to start already counts.
    float Param(ParamID id) const
    {
        if (!IsParameter(id))
            return 0.0f;
        if (id <= kReverbLevel && m_change.Pending())
            return m_change.PendingValues()[id - kFirstParam];
        return m_afParamValues[id];
    }
    static constexpr double kSwitchOnFrom = 0.5;
    // Stores a value from outside, clamped to [0, 1], a switch's as 0 or 1; NaN and unknown
    // identifiers change nothing.
    void SetParam(ParamID id, double value);
    // Stores a value as it is (a restored state, already sanitised).
    void SetParamExact(ParamID id, float value)
    {
        if (IsParameter(id)) {
            m_afParamValues[id] = value;
            m_change.KeepInPending(id, value);
        }
    }

    // Audio thread: changes parameters 1 to 12 to `values` as a preset change (CPresetChange):
    // crossfaded, the outgoing delay and reverb ringing on. A parameter set alone still acts at
    // once.
    // One asked for while nothing sounds (before the first signal after a reset, or once the
    // tail of the last has passed) applies at once, as a restored state would.
    void ChangePreset(const float* values);
    // True while a preset change fades or its outgoing trails ring.
    bool PresetChanging() const { return m_change.Busy(); }

    float Tempo() const { return m_fTempo; }
    // A host tempo in beats per minute: ignored unless finite and positive, clamped to
    // [kMinTempo, kMaxTempo].
    void SetTempo(double bpm);

    // Takes the indicators' values before a block, to tell afterwards which ones it changed.
    void BeginBlock()
    {
        for (int i = 0; i < kIndicatorCount; ++i)
            m_afOutputSnapshot[i] = m_afParamValues[kOutputLeftVumeter + i];
    }
    // One block of n > 0 samples over inChannels inputs and outChannels outputs (buffers may
    // alias). The chain reads the left input, and the right one when there are two; with one
    // output the right result is discarded; outputs past the second are zeroed. inSilence has a
    // bit per input the host knows to be all zeros; outSilence gets one per output that is.
    // Missing buffers leave everything untouched. False when the graph fails.
    bool Run(const float* const* inputs, int inChannels, std::uint64_t inSilence, float* const* outputs,
             int outChannels, int n, std::uint64_t& outSilence);

    // Indicator i (identifier kOutputLeftVumeter + i) changed during the last block.
    bool IndicatorChanged(int i) const
    {
        // A NaN counts as changed.
        return !(m_afParamValues[kOutputLeftVumeter + i] == m_afOutputSnapshot[i]);
    }
    float Indicator(int i) const { return m_afParamValues[kOutputLeftVumeter + i]; }

    // Samples the delay and reverb may ring after the input stops, at rate fs and tempo bpm,
    // with every level at its maximum.
    static std::int64_t TailSamples(double fs, float tempo);

    // The graph's block capacity, and how many times Run has called the graph so far (once per
    // slice): the audio is the same however a block is sliced, and whether the chain ran on
    // silence or was skipped, so these are what shows it.
    int ScratchSamples() const { return pAudioProcess->BlockSize(); }

    // Audio thread: installs a user cabinet impulse (nullptr: the built-in cabinet) with a
    // crossfade, and hands back impulses no longer in use, for freeing off the audio thread
    // (CMyConvolution::ExchangeImpulse and TakeRetired tell when).
    CCabinetImpulse* ExchangeImpulse(CCabinetImpulse* pImpulse) { return m_change.ExchangeImpulse(*pAudioProcess, pImpulse); }
    CCabinetImpulse* TakeRetiredImpulse() { return m_change.TakeRetiredImpulse(*pAudioProcess); }
    std::int64_t GraphRuns() const { return m_iGraphRuns; }

    // The tuner. While it is open, Run copies each block's selected input (what the chain plays)
    // into TunerRing for a consumer off the audio thread, and mutes the output if asked; the
    // meters still show the chain. Closed, Run does nothing for it. SetTuner may come from any
    // thread; the ring (CTunerAnalyser::kRingSeconds at the prepared rate) is replaced only by
    // Prepare, while nothing processes.
    void SetTuner(bool open, bool mute)
    {
        m_bTunerMute.store(mute, std::memory_order_relaxed);
        m_bTunerOpen.store(open, std::memory_order_release);
    }
    bool TunerOpen() const { return m_bTunerOpen.load(std::memory_order_relaxed); }
    CSampleRing& TunerRing() { return *m_pTunerRing; }

private:
    // Run without the tuner's copy and mute.
    bool RunChain(const float* const* inputs, int inChannels, std::uint64_t inSilence, float* const* outputs,
                  int outChannels, int n, std::uint64_t& outSilence);
    void CopyToTuner(const float* const* inputs, int inChannels, std::uint64_t inSilence, int n);
    void ResetChain();
    // Run for any bus layout, silence flags, bypass and block length.
    // The input has been silent for as long as the chain rings: the delay's and reverb's tails at
    // the tempo, and a user cabinet IR's on top (it rings before they do).
    bool TailsHaveDied() const;
    bool RunAnyBus(const float* const* inputs, int inChannels, std::uint64_t inSilence, float* const* outputs,
                   int outChannels, int n, std::uint64_t& outSilence);

    float m_afParamValues[kParamTableSize] = {};
    float m_afOutputSnapshot[kIndicatorCount] = {};
    float m_fTempo = kInitialTempo;
    double m_dSampleRate = kInitialSampleRate;
    std::unique_ptr<CProcessAudio> pAudioProcess; // the live chain
    CPresetChange m_change;
    std::int64_t m_iGraphRuns = 0;
    // Zeros for inputs flagged silent, and a sink for the right output of a mono bus.
    std::vector<float> m_afZeros;
    std::vector<float> m_afDiscard;
    // The longest slice both of them cover.
    int m_iSliceSamples = 0;
    // Samples since an input last carried signal; the chain stops once the tail has passed.
    std::int64_t m_iQuietSamples = 0;
    std::unique_ptr<CSampleRing> m_pTunerRing;
    std::atomic<bool> m_bTunerOpen{false};
    std::atomic<bool> m_bTunerMute{false};
    static_assert(std::atomic<bool>::is_always_lock_free, "the audio thread may not lock");
};

} // namespace corvex
