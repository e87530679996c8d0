#include "ParameterChanges.h"

#include <algorithm>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace corvex::hosting {

ParamValueQueue::ParamValueQueue(ParamID id, int32 capacity)
    : m_id(id), m_slots(std::max(capacity, 0)), m_points(static_cast<size_t>(m_slots))
{
}

tresult PLUGIN_API ParamValueQueue::addPoint(int32 sampleOffset, ParamValue value, int32& index)
{
    const int32 count = m_count;
    if (count == m_slots)
        return AddPastSlots(sampleOffset, value, index);
    Point& point = m_points[static_cast<size_t>(count)];
    point.offset = sampleOffset;
    point.value = value;
    m_count = count + 1;
    index = count;
    return kResultOk;
}

tresult ParamValueQueue::AddPastSlots(int32 sampleOffset, ParamValue value, int32& index)
{
    m_points.resize(std::max<size_t>(1, 2 * m_points.size()));
    m_slots = static_cast<int32>(m_points.size());
    return addPoint(sampleOffset, value, index);
}

tresult PLUGIN_API ParamValueQueue::queryInterface(const TUID iid, void** obj)
{
    QUERY_INTERFACE(iid, obj, FUnknown::iid, IParamValueQueue)
    QUERY_INTERFACE(iid, obj, IParamValueQueue::iid, IParamValueQueue)
    *obj = nullptr;
    return kNoInterface;
}

ParameterChanges::ParameterChanges(int32 capacity) : m_capacity(capacity)
{
    m_queues.reserve(static_cast<size_t>(capacity));
    for (int32 i = 0; i < capacity; ++i)
        m_queues.emplace_back();
}

ParamValueQueue* ParameterChanges::Find(ParamID id)
{
    for (int32 i = 0; i < m_count; ++i)
        if (m_queues[static_cast<size_t>(i)].getParameterId() == id)
            return &m_queues[static_cast<size_t>(i)];
    return nullptr;
}

bool ParameterChanges::Add(ParamID id, ParamValue value, int32 sampleOffset)
{
    int32 index = 0;
    IParamValueQueue* queue = addParameterData(id, index);
    if (!queue)
        return false;
    int32 point = 0;
    return queue->addPoint(sampleOffset, value, point) == kResultOk;
}

IParamValueQueue* PLUGIN_API ParameterChanges::getParameterData(int32 index)
{
    if (index < 0 || index >= m_count)
        return nullptr;
    return &m_queues[static_cast<size_t>(index)];
}

IParamValueQueue* PLUGIN_API ParameterChanges::addParameterData(const ParamID& id, int32& index)
{
    const ParamID wanted = id;
    ParamValueQueue* const first = m_queues.data();
    ParamValueQueue* const end = first + m_count;
    for (ParamValueQueue* queue = first; queue != end; ++queue) {
        if (queue->getParameterId() == wanted) {
            index = static_cast<int32>(queue - first);
            return queue;
        }
    }
    if (m_count >= m_capacity)
        return nullptr;
    end->Reset(wanted);
    index = m_count++;
    return end;
}

tresult PLUGIN_API ParameterChanges::queryInterface(const TUID iid, void** obj)
{
    QUERY_INTERFACE(iid, obj, FUnknown::iid, IParameterChanges)
    QUERY_INTERFACE(iid, obj, IParameterChanges::iid, IParameterChanges)
    *obj = nullptr;
    return kNoInterface;
}

} // namespace corvex::hosting
