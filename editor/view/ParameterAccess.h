#pragma once

#include "base/Parameters.h"

namespace corvex {

// What the view needs from whoever hosts it, whatever the plug-in format: the parameters'
// current and default values, and a way to hand the user's edits on. Called on the
// user-interface thread only; values are normalised, in [0, 1].
class CParameterAccess {
public:
    virtual ~CParameterAccess() = default;

    // The value the host side holds now.
    virtual double getParamNormalized(ParamID id) const = 0;
    virtual double getDefaultNormalized(ParamID id) const = 0;

    // A gesture: beginEdit, any number of performEdit, endEdit. performEdit stores the value on
    // the host side (so every open view shows it) and passes it on to the processing side.
    virtual void beginEdit(ParamID id) = 0;
    virtual void performEdit(ParamID id, double value) = 0;
    virtual void endEdit(ParamID id) = 0;

    // The host's context menu for the parameter `id` (a right-click or the menu key on its
    // control), at (x, y) in the view's device pixels; false when the host offers none.
    virtual bool popupContextMenu(ParamID /*id*/, int /*x*/, int /*y*/) { return false; }
};

} // namespace corvex
