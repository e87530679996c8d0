#include "ProcessBlock.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace corvex::hosting {

tresult PLUGIN_API EventList::getEvent(int32 index, Event& e)
{
    if (index < 0 || index >= getEventCount())
        return kResultFalse;
    e = events[static_cast<size_t>(index)];
    return kResultOk;
}

tresult PLUGIN_API EventList::addEvent(Event& e)
{
    events.push_back(e);
    return kResultOk;
}

tresult PLUGIN_API EventList::queryInterface(const TUID iid, void** obj)
{
    QUERY_INTERFACE(iid, obj, FUnknown::iid, IEventList)
    QUERY_INTERFACE(iid, obj, IEventList::iid, IEventList)
    *obj = nullptr;
    return kNoInterface;
}

ProcessBlock::ProcessBlock(int32 inChannels, int32 outChannels, int32 maxSamples)
    : m_maxSamples(maxSamples),
      m_in(static_cast<size_t>(inChannels), std::vector<float>(static_cast<size_t>(maxSamples), 0.0f)),
      m_out(static_cast<size_t>(outChannels), std::vector<float>(static_cast<size_t>(maxSamples), 0.0f))
{
    for (auto& channel : m_in)
        m_inPointers.push_back(channel.data());
    SetInPlace(false);
    inputBus.numChannels = inChannels;
    inputBus.channelBuffers32 = m_inPointers.data();
    outputBus.numChannels = outChannels;
    outputBus.channelBuffers32 = m_outPointers.data();
    SetTempo(120.0);
    m_fixed.processMode = kRealtime;
    m_fixed.symbolicSampleSize = kSample32;
    m_fixed.numInputs = 1;
    m_fixed.numOutputs = 1;
    m_fixed.inputs = &inputBus;
    m_fixed.outputs = &outputBus;
    m_fixed.inputParameterChanges = &inputChanges;
    m_fixed.outputParameterChanges = &outputChanges;
}

void ProcessBlock::SetInPlace(bool inPlace)
{
    m_outPointers.clear();
    for (size_t c = 0; c < m_out.size(); ++c)
        m_outPointers.push_back(inPlace && c < m_in.size() ? m_in[c].data() : m_out[c].data());
    outputBus.channelBuffers32 = m_outPointers.data();
}

void ProcessBlock::UseBuffers(float** in, float** out)
{
    inputBus.channelBuffers32 = in;
    outputBus.channelBuffers32 = out;
}

void ProcessBlock::UseOwnBuffers()
{
    inputBus.channelBuffers32 = m_inPointers.data();
    outputBus.channelBuffers32 = m_outPointers.data();
}

void ProcessBlock::SetTempo(double bpm)
{
    context.tempo = bpm;
    context.state |= ProcessContext::kTempoValid;
}

} // namespace corvex::hosting
