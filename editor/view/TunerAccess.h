#pragma once

namespace corvex {

// What the view needs to show the tuner. UI thread only.
class CTunerAccess {
public:
    virtual ~CTunerAccess() = default;
    // On every editor tick while the tuner shows (bShown true), and once when it hides or the
    // view closes (bShown false): the host side copies the selected input only between these,
    // mutes the output meanwhile when bMute is set, and hands readings back through the view's
    // showTunerReading, at once or at a later tick. dReference is A4 in hertz.
    virtual void tune(bool bShown, bool bMute, double dReference) = 0;
};

} // namespace corvex
