#include "corvexparameters.h"

#include "base/ConsistencyCheck.h"
#include "pluginterfaces/base/ustring.h"

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace corvex {

int32 ParameterFlags(ParamKind kind)
{
    switch (kind) {
    case ParamKind::Switch:
    case ParamKind::Continuous:
        return ParameterInfo::kCanAutomate;
    case ParamKind::Meter:
    case ParamKind::Led:
        return ParameterInfo::kIsReadOnly;
    case ParamKind::Bypass:
        return ParameterInfo::kIsBypass;
    }
    return ParameterInfo::kNoFlags;
}

bool RegisterParameters(ParameterContainer& parameters)
{
    bool ok = true;
    for (ParamID id = kFirstParam; id <= kLastParam; ++id) {
        const ParamInfo& info = kParamInfos[id];
        String128 title = {};
        UString(title, str16BufferSize(String128)).fromAscii(info.title);
        Parameter* parameter = parameters.addParameter(title, nullptr, info.stepCount,
                                                       static_cast<ParamValue>(info.defaultValue),
                                                       ParameterFlags(info.kind), static_cast<int32>(id),
                                                       kRootUnitId);
        if (!CORVEX_CHECK(parameter != nullptr))
            ok = false;
    }
    return ok;
}

} // namespace corvex
