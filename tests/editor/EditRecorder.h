#pragma once

#include "pluginterfaces/vst/ivsteditcontroller.h"

#include <string>
#include <vector>

namespace test {

// A host's IComponentHandler that records what the editor tells it: every call in order, the
// performEdits alone, and (when `controller` is set) the controller's value at each call.
class EditRecorder : public Steinberg::Vst::IComponentHandler {
public:
    Steinberg::Vst::IEditController* controller = nullptr;

    struct Edit {
        std::string kind; // "begin", "perform" or "end"
        Steinberg::Vst::ParamID id;
        double value;
        double controllerValue;
    };
    std::vector<Edit> calls;
    std::vector<Edit> edits;
    int beginOrEnd = 0;

    std::vector<Edit> editsOf(Steinberg::Vst::ParamID id) const
    {
        std::vector<Edit> found;
        for (const Edit& e : edits)
            if (e.id == id)
                found.push_back(e);
        return found;
    }

    Steinberg::tresult PLUGIN_API beginEdit(Steinberg::Vst::ParamID id) override
    {
        ++beginOrEnd;
        return record("begin", id, 0.0);
    }
    Steinberg::tresult PLUGIN_API performEdit(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value) override
    {
        record("perform", id, value);
        edits.push_back(calls.back());
        return Steinberg::kResultOk;
    }
    Steinberg::tresult PLUGIN_API endEdit(Steinberg::Vst::ParamID id) override
    {
        ++beginOrEnd;
        return record("end", id, 0.0);
    }
    Steinberg::tresult PLUGIN_API restartComponent(Steinberg::int32) override { return Steinberg::kResultOk; }
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID, void** obj) override
    {
        *obj = nullptr;
        return Steinberg::kNoInterface;
    }
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

private:
    Steinberg::tresult record(const char* kind, Steinberg::Vst::ParamID id, double value)
    {
        calls.push_back({kind, id, value, controller != nullptr ? controller->getParamNormalized(id) : 0.0});
        return Steinberg::kResultOk;
    }
};

} // namespace test
