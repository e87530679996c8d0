#pragma once

#include <vector>

#include "pluginterfaces/vst/ivstparameterchanges.h"

namespace corvex::hosting {

// A host-side parameter queue: points in the order added. Lives on the host's stack or in its
// objects, so reference counting is a no-op. Final, so that a host calling it through its own
// type makes direct calls.
class ParamValueQueue final : public Steinberg::Vst::IParamValueQueue {
public:
    using tresult = Steinberg::tresult;
    using int32 = Steinberg::int32;

    // Room for capacity points is made here; a queue given more grows (off the audio path).
    explicit ParamValueQueue(Steinberg::Vst::ParamID id = 0, int32 capacity = 16);
    ParamValueQueue(ParamValueQueue&&) = default;
    ParamValueQueue& operator=(ParamValueQueue&&) = default;
    virtual ~ParamValueQueue() = default;

    void Reset(Steinberg::Vst::ParamID id)
    {
        m_id = id;
        m_count = 0;
    }
    // The value of point index, below getPointCount().
    Steinberg::Vst::ParamValue Value(int32 index) const { return m_points[static_cast<size_t>(index)].value; }

    Steinberg::Vst::ParamID PLUGIN_API getParameterId() SMTG_OVERRIDE { return m_id; }
    int32 PLUGIN_API getPointCount() SMTG_OVERRIDE { return m_count; }
    tresult PLUGIN_API getPoint(int32 index, int32& sampleOffset, Steinberg::Vst::ParamValue& value) SMTG_OVERRIDE
    {
        if (index < 0 || index >= m_count)
            return Steinberg::kResultFalse;
        sampleOffset = m_points[static_cast<size_t>(index)].offset;
        value = m_points[static_cast<size_t>(index)].value;
        return Steinberg::kResultOk;
    }
    tresult PLUGIN_API addPoint(int32 sampleOffset, Steinberg::Vst::ParamValue value, int32& index) SMTG_OVERRIDE;
    // Adds a point within the slots made up front; with them full, the last point takes the
    // offset and value instead. Never allocates: for live input, where the latest value counts.
    void AddWithinSlots(int32 sampleOffset, Steinberg::Vst::ParamValue value)
    {
        if (m_count == m_slots && m_count > 0) {
            m_points[static_cast<size_t>(m_count - 1)] = {sampleOffset, value};
            return;
        }
        int32 index = 0;
        addPoint(sampleOffset, value, index);
    }

    tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) SMTG_OVERRIDE;
    Steinberg::uint32 PLUGIN_API addRef() SMTG_OVERRIDE { return 1; }
    Steinberg::uint32 PLUGIN_API release() SMTG_OVERRIDE { return 1; }

private:
    struct Point {
        int32 offset;
        Steinberg::Vst::ParamValue value;
    };
    // Out of line (other compilers ignore the attribute), so that adding within the slots saves
    // no registers for it.
    [[gnu::noinline]] tresult AddPastSlots(int32 sampleOffset, Steinberg::Vst::ParamValue value, int32& index);

    Steinberg::Vst::ParamID m_id;
    int32 m_count = 0;
    // The points' slots, all made up front, so that adding one within them only writes it.
    int32 m_slots;
    std::vector<Point> m_points;
};

// A host-side list of parameter queues, one per parameter, in the order added.
class ParameterChanges final : public Steinberg::Vst::IParameterChanges {
public:
    using tresult = Steinberg::tresult;
    using int32 = Steinberg::int32;

    explicit ParameterChanges(int32 capacity = 32);
    virtual ~ParameterChanges() = default;

    // Inline, as hosts clear both lists once per block.
    void Clear() { m_count = 0; }
    // Adds one point for id (creating its queue), returning false if the list is full.
    bool Add(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value, int32 sampleOffset = 0);
    // Adds a point as ParamValueQueue::AddWithinSlots does; false if the list is full.
    bool AddOrReplaceLast(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value, int32 sampleOffset)
    {
        int32 index = 0;
        if (addParameterData(id, index)) {
            m_queues[static_cast<size_t>(index)].AddWithinSlots(sampleOffset, value);
            return true;
        }
        return false;
    }
    // The queue for id, or nullptr.
    ParamValueQueue* Find(Steinberg::Vst::ParamID id);

    int32 PLUGIN_API getParameterCount() SMTG_OVERRIDE { return m_count; }
    // getParameterData of an index below getParameterCount(), as the queue's own type.
    ParamValueQueue& Queue(int32 index) { return m_queues[static_cast<size_t>(index)]; }
    Steinberg::Vst::IParamValueQueue* PLUGIN_API getParameterData(int32 index) SMTG_OVERRIDE;
    Steinberg::Vst::IParamValueQueue* PLUGIN_API addParameterData(const Steinberg::Vst::ParamID& id,
                                                                  int32& index) SMTG_OVERRIDE;

    tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) SMTG_OVERRIDE;
    Steinberg::uint32 PLUGIN_API addRef() SMTG_OVERRIDE { return 1; }
    Steinberg::uint32 PLUGIN_API release() SMTG_OVERRIDE { return 1; }

private:
    std::vector<ParamValueQueue> m_queues;
    int32 m_capacity;
    int32 m_count = 0;
};

} // namespace corvex::hosting
