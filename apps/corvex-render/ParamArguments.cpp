#include "ParamArguments.h"

#include <pluginterfaces/vst/ivsteditcontroller.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace corvex::render {

namespace {

using Steinberg::Vst::ParameterInfo;

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string Trim(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

bool ParseWhole(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size();
}

const ModuleParam* FindById(const std::vector<ModuleParam>& params, std::uint32_t id)
{
    for (const ModuleParam& p : params)
        if (p.id == id)
            return &p;
    return nullptr;
}

} // namespace

int EditDistance(const std::string& a, const std::string& b)
{
    std::vector<int> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = static_cast<int>(j);
    for (std::size_t i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const int above = row[j];
            const int substitution = diagonal + (Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1);
            row[j] = std::min({above + 1, row[j - 1] + 1, substitution});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string ClosestTitle(const std::string& wanted, const std::vector<ModuleParam>& params)
{
    const ModuleParam* best = nullptr;
    int bestDistance = 0;
    for (const ModuleParam& p : params) {
        const int d = EditDistance(wanted, p.title);
        if (!best || d < bestDistance) {
            best = &p;
            bestDistance = d;
        }
    }
    return best ? best->title : std::string();
}

bool ParseSetting(const std::string& argument, const std::vector<ModuleParam>& params, ParamSetting& setting,
                  std::string& error, const std::string& label)
{
    const std::string quoted = label.empty() ? "--set \"" + argument + "\"" : label;
    const auto equals = argument.rfind('=');
    if (equals == std::string::npos) {
        error = quoted + ": expected TITLE=VALUE or ID=VALUE, e.g. --set \"Distortion Level=0.8\"";
        return false;
    }
    const std::string name = Trim(argument.substr(0, equals));
    const std::string valueText = Trim(argument.substr(equals + 1));

    const ModuleParam* param = nullptr;
    double number = 0.0;
    if (ParseWhole(name, number)) {
        const bool whole = number == std::floor(number) && number >= 0.0 && number <= 4294967295.0;
        param = whole ? FindById(params, static_cast<std::uint32_t>(number)) : nullptr;
        if (!param) {
            error = quoted + ": there is no parameter with identifier " + name + "; identifiers run from " +
                    std::to_string(params.empty() ? 0 : params.front().id) + " to " +
                    std::to_string(params.empty() ? 0 : params.back().id) + " (see --list-params)";
            return false;
        }
    } else {
        for (const ModuleParam& p : params)
            if (EqualsIgnoringCase(p.title, name))
                param = &p;
        if (!param) {
            error = quoted + ": unknown parameter title \"" + name + "\"; did you mean \"" +
                    ClosestTitle(name, params) + "\"? (see --list-params)";
            return false;
        }
    }
    if (param->flags & ParameterInfo::kIsReadOnly) {
        error = quoted + ": \"" + param->title + "\" is a read-only indicator that the plug-in writes; it cannot be set";
        return false;
    }

    double value = 0.0;
    if (EqualsIgnoringCase(valueText, "on")) {
        value = 1.0;
    } else if (EqualsIgnoringCase(valueText, "off")) {
        value = 0.0;
    } else if (!ParseWhole(valueText, value) || !std::isfinite(value)) {
        error = quoted + ": value \"" + valueText + "\" is not a number; accepted: a number from 0 to 1, or on/off";
        return false;
    } else if (value < 0.0 || value > 1.0) {
        error = quoted + ": value " + valueText + " is outside the accepted range [0, 1]";
        return false;
    }
    setting = {param->id, value};
    return true;
}

bool ParseAt(const std::string& argument, const std::vector<ModuleParam>& params, TimedArgument& change,
             std::string& error)
{
    const std::string quoted = "--at \"" + argument + "\"";
    const auto colon = argument.find(':');
    double seconds = 0.0;
    if (colon == std::string::npos || !ParseWhole(Trim(argument.substr(0, colon)), seconds)) {
        error = quoted + ": expected SECONDS:NAME=VALUE or SECONDS:preset=NAME, e.g. --at \"12.5:Delay ON OFF=off\"";
        return false;
    }
    if (!std::isfinite(seconds) || seconds < 0.0) {
        error = quoted + ": time " + Trim(argument.substr(0, colon)) + " is out of range; accepted: 0 seconds or later";
        return false;
    }
    const std::string rest = argument.substr(colon + 1);
    const auto equals = rest.find('=');
    change.seconds = seconds;
    change.preset.clear();
    if (equals != std::string::npos && EqualsIgnoringCase(Trim(rest.substr(0, equals)), "preset")) {
        change.preset = Trim(rest.substr(equals + 1));
        if (change.preset.empty()) {
            error = quoted + ": no preset named";
            return false;
        }
        return true;
    }
    return ParseSetting(rest, params, change.setting, error, quoted);
}

std::string DescribeFlags(std::int32_t flags)
{
    struct Named {
        std::int32_t flag;
        const char* name;
    };
    static const Named names[] = {
        {ParameterInfo::kCanAutomate, "automatable"},  {ParameterInfo::kIsReadOnly, "read-only"},
        {ParameterInfo::kIsWrapAround, "wrap-around"}, {ParameterInfo::kIsList, "list"},
        {ParameterInfo::kIsProgramChange, "program-change"}, {ParameterInfo::kIsBypass, "bypass"},
    };
    std::string text;
    for (const Named& n : names)
        if (flags & n.flag)
            text += (text.empty() ? "" : ",") + std::string(n.name);
    return text.empty() ? "-" : text;
}

} // namespace corvex::render
