#include "base/Parameters.h"

namespace corvex {

// Titles are the host-visible names, spelling included ("Ouput Clipping Led"): stored
// projects and automation lanes refer to parameters by them.
const ParamInfo kParamInfos[kParamTableSize] = {
    {"Start Of the parameters list", ParamKind::Switch, 0, 0.0f},
    {"Input Selection", ParamKind::Switch, 1, 1.0f},
    {"Gate/Compressor ON OFF", ParamKind::Switch, 1, 1.0f},
    {"Compressor Level", ParamKind::Continuous, 0, 0.8f},
    {"Distortion ON OFF", ParamKind::Switch, 1, 1.0f},
    {"Distortion Level", ParamKind::Continuous, 0, 0.55f},
    {"Stereo Enhancer ON OFF", ParamKind::Switch, 1, 0.0f},
    {"Delay ON OFF", ParamKind::Switch, 1, 1.0f},
    {"Modulation ON OFF", ParamKind::Switch, 1, 1.0f},
    {"Chorus Speed", ParamKind::Continuous, 0, 0.1f},
    {"Reverb ON OFF", ParamKind::Switch, 1, 1.0f},
    {"Delay Level", ParamKind::Continuous, 0, 0.75f},
    {"Reverb Level", ParamKind::Continuous, 0, 0.55f},
    {"Output Left Vumeter", ParamKind::Meter, 0, 0.0f},
    {"Output Right Vumeter", ParamKind::Meter, 0, 0.0f},
    {"Input Clipping Led", ParamKind::Led, 0, 0.0f},
    {"Ouput Clipping Led", ParamKind::Led, 0, 0.0f},
    {"Compression Led", ParamKind::Led, 0, 0.0f},
    {"Button1", ParamKind::Switch, 1, 0.0f},
    {"Bypass", ParamKind::Bypass, 1, 0.0f},
    {"End Of the parameters list", ParamKind::Switch, 0, 0.0f},
};

} // namespace corvex
