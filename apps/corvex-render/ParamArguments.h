#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Turning --set arguments into parameter changes, against the parameter list the module reports.

namespace corvex::render {

// One parameter as the module's controller describes it.
struct ModuleParam {
    std::uint32_t id;
    std::string title;
    double defaultValue;
    std::int32_t flags; // VST 3 ParameterInfo flags
    int stepCount;
};

struct ParamSetting {
    std::uint32_t id;
    double value;
};

// Case-insensitive edit distance (Levenshtein), for suggesting a title.
int EditDistance(const std::string& a, const std::string& b);

// The title of `params` closest to `wanted`.
std::string ClosestTitle(const std::string& wanted, const std::vector<ModuleParam>& params);

// Parses "TITLE=VALUE" or "ID=VALUE" (VALUE a number in [0, 1], or on/off) into `setting`;
// on failure returns false and a message that names the argument (as `label` gives it, --set's
// by default).
bool ParseSetting(const std::string& argument, const std::vector<ModuleParam>& params, ParamSetting& setting,
                  std::string& error, const std::string& label = {});

// An --at argument: a parameter change, or a preset change (`preset` names the preset), at a
// time in seconds from the start.
struct TimedArgument {
    double seconds = 0.0;
    std::string preset;
    ParamSetting setting{};
};
// Parses "SECONDS:NAME=VALUE" (as --set takes NAME=VALUE) or "SECONDS:preset=NAME".
bool ParseAt(const std::string& argument, const std::vector<ModuleParam>& params, TimedArgument& change,
             std::string& error);

// "automatable", "read-only", "bypass", … for --list-params.
std::string DescribeFlags(std::int32_t flags);

} // namespace corvex::render
