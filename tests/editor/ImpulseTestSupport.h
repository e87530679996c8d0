#pragma once

// What the tests of the view's cabinet IR side share: parameters that hold their defaults and a
// recorder of the view's IR requests.

#include "ImpulseAccess.h"
#include "ParameterAccess.h"

#include <string>
#include <vector>

namespace test {

class CDefaultParameters : public corvex::CParameterAccess {
public:
    double getParamNormalized(corvex::ParamID) const override { return 0.0; }
    double getDefaultNormalized(corvex::ParamID) const override { return 0.0; }
    void beginEdit(corvex::ParamID) override {}
    void performEdit(corvex::ParamID, double) override {}
    void endEdit(corvex::ParamID) override {}
};

class CRecordingImpulseAccess : public corvex::CImpulseAccess {
public:
    void loadImpulseFile(const std::string& path) override { loads.push_back(path); }
    void clearImpulse() override { ++clears; }
    std::vector<std::string> loads;
    int clears = 0;
};

} // namespace test
