#pragma once

#include "CorvexEditorView.h"
#include "corvexcontroller.h"

#include <utility>
#include <vector>

namespace test {

using ParamValues = std::vector<std::pair<Steinberg::Vst::ParamID, double>>;

// Switches off, knobs turned, both clip LEDs lit: values whose every part shows on the panel.
inline const ParamValues& ShowcaseValues()
{
    using namespace corvex;
    static const ParamValues values = {
        {kInputSelection, 0.0},  {kDistortionOnOff, 0.0}, {kDistortionLevel, 0.3}, {kReverbOnOff, 0.0},
        {kChorusSpeed, 0.9},     {kDelayLevel, 0.05},     {kInputClippingLed, 1.0}, {kOuputClippingLed, 1.0}};
    return values;
}

// The editor of a controller of its own, drawn offscreen: what a window must show at the same values.
class OffscreenEditor {
public:
    OffscreenEditor() = default;
    OffscreenEditor(const OffscreenEditor&) = delete;
    OffscreenEditor& operator=(const OffscreenEditor&) = delete;
    ~OffscreenEditor()
    {
        if (view != nullptr) {
            if (view->isAttached())
                view->removed();
            view->release();
        }
        controller->terminate();
        controller->release();
    }

    // Sets `values`, opens the view and runs two ticks (meters and LEDs show their values at the first).
    bool Open(const ParamValues& values)
    {
        if (controller->initialize(nullptr) != Steinberg::kResultOk)
            return false;
        for (const auto& [id, value] : values)
            controller->setParamNormalized(id, value);
        view = new corvex::CorvexEditorView(controller);
        if (view->attached(&parent, corvex::CEditorBase::kPlatformTypeOffscreen) != Steinberg::kResultOk)
            return false;
        view->onTimer();
        view->onTimer();
        return true;
    }

    const corvex::gui::COffscreenContext& Pixels() const { return view->getFrame()->getOffscreen(); }

private:
    corvex::CorvexController* controller = new corvex::CorvexController();
    corvex::CorvexEditorView* view = nullptr;
    int parent = 0;
};

} // namespace test
