#pragma once

#include <string>

namespace corvex {

// What the view needs to load and show a user cabinet IR. UI thread only.
class CImpulseAccess {
public:
    virtual ~CImpulseAccess() = default;
    // Asks the host side to load a file; the outcome arrives later through the view's
    // showImpulse (name, or a refusal reason).
    virtual void loadImpulseFile(const std::string& path) = 0;
    virtual void clearImpulse() = 0; // back to the built-in cabinet
};

} // namespace corvex
