#pragma once

#include <algorithm>
#include <vector>

#include "ParameterChanges.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"

namespace corvex::hosting {

// A host-side event list (note events and the like) for the processor's event input.
class EventList : public Steinberg::Vst::IEventList {
public:
    virtual ~EventList() = default;
    std::vector<Steinberg::Vst::Event> events;

    Steinberg::int32 PLUGIN_API getEventCount() SMTG_OVERRIDE { return static_cast<Steinberg::int32>(events.size()); }
    Steinberg::tresult PLUGIN_API getEvent(Steinberg::int32 index, Steinberg::Vst::Event& e) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API addEvent(Steinberg::Vst::Event& e) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) SMTG_OVERRIDE;
    Steinberg::uint32 PLUGIN_API addRef() SMTG_OVERRIDE { return 1; }
    Steinberg::uint32 PLUGIN_API release() SMTG_OVERRIDE { return 1; }
};

// What a ProcessBlock has handed the processor so far: how many blocks and of which sizes.
// Counting costs no allocation, so it is safe on an audio thread.
struct BlockSizeCount {
    Steinberg::int64 blocks = 0;
    Steinberg::int64 samples = 0;
    Steinberg::int32 smallest = 0; // of the blocks with samples; 0 before the first
    Steinberg::int32 largest = 0;
};

// Everything one process call needs: one input and one output bus of 32-bit channels, the
// parameter changes both ways, an event list and a process context.
class ProcessBlock {
public:
    ProcessBlock(Steinberg::int32 inChannels, Steinberg::int32 outChannels, Steinberg::int32 maxSamples);
    // The process data points into the block itself.
    ProcessBlock(const ProcessBlock&) = delete;
    ProcessBlock& operator=(const ProcessBlock&) = delete;

    Steinberg::int32 MaxSamples() const { return m_maxSamples; }
    float* In(Steinberg::int32 channel) { return m_in[static_cast<size_t>(channel)].data(); }
    float* Out(Steinberg::int32 channel) { return m_out[static_cast<size_t>(channel)].data(); }
    // Lets output channel c alias input channel c (in-place processing) or not.
    void SetInPlace(bool inPlace);
    // Has the processor read from and write to the caller's channels (arrays of as many
    // pointers as the buses have channels, alive until the next call) rather than In and Out,
    // so that a host holding its audio elsewhere copies nothing. UseOwnBuffers goes back.
    void UseBuffers(float** in, float** out);
    void UseOwnBuffers();

    // Fills the process data for a block of numSamples (at most MaxSamples) and clears the
    // output parameter changes. The input changes, event list and context stay as set. Every
    // field is written again, as the caller or a processor may have changed any. Inline, as
    // hosts call it once per block.
    Steinberg::Vst::ProcessData& Prepare(Steinberg::int32 numSamples)
    {
        const Steinberg::int32 n = std::min(numSamples, m_maxSamples);
        outputChanges.Clear();
        m_data = m_fixed;
        m_data.numSamples = n;
        m_data.inputEvents = sendEvents ? &events : nullptr;
        m_data.processContext = sendContext ? &context : nullptr;
        ++m_sizes.blocks;
        if (n > 0) {
            m_sizes.samples += n;
            if (n != m_lastSize)
                CountSize(n);
        }
        return m_data;
    }
    // The tempo as a host with a valid tempo sends it.
    void SetTempo(double bpm);
    // The block sizes Prepare has handed out since construction (blocks of no samples included
    // in the count only).
    const BlockSizeCount& Sizes() const { return m_sizes; }

    Steinberg::Vst::AudioBusBuffers inputBus{};
    Steinberg::Vst::AudioBusBuffers outputBus{};
    ParameterChanges inputChanges;
    ParameterChanges outputChanges;
    EventList events;
    Steinberg::Vst::ProcessContext context{};
    bool sendContext = true;
    bool sendEvents = false;

private:
    // Smallest and largest move only when the size does, as most blocks repeat the last one's.
    void CountSize(Steinberg::int32 n)
    {
        m_sizes.smallest = m_sizes.smallest ? std::min(m_sizes.smallest, n) : n;
        m_sizes.largest = std::max(m_sizes.largest, n);
        m_lastSize = n;
    }

    Steinberg::int32 m_maxSamples;
    std::vector<std::vector<float>> m_in;
    std::vector<std::vector<float>> m_out;
    std::vector<float*> m_inPointers;
    std::vector<float*> m_outPointers;
    // What every block's process data starts from: all but its size, events and context, which
    // the caller may switch between blocks.
    Steinberg::Vst::ProcessData m_fixed{};
    Steinberg::Vst::ProcessData m_data{};
    BlockSizeCount m_sizes;
    Steinberg::int32 m_lastSize = 0; // of the last block with samples
};

} // namespace corvex::hosting
