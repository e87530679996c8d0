// Writes the bundle's manifest.ttl, corvex.ttl and presets.ttl from the port table and the
// factory preset table, so what hosts read about the ports is what the plug-in code uses.
// Usage: corvex-lv2-ttl OUTPUT_DIRECTORY

#include "FactoryPresets.h"
#include "Lv2Ports.h"
#include "MidiMap.h"
#include "version.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace corvex::lv2 {
namespace {

// The project every Corvex plug-in belongs to: its maintainer is named once, here.
const char* const kProjectUri = "https://corvex.example.org/lv2";

// What pedalboard hosts (MOD) show: the maker, and a name short enough for a pedal's footswitch
// label and a plug-in block.
const char kModBrand[] = "Corvex";
const char kModLabel[] = "Corvex Amp";
constexpr std::size_t kModLabelMaximum = 16;
static_assert(sizeof kModLabel - 1 <= kModLabelMaximum, "MOD hosts cut labels after 16 characters");
// The files MOD's file manager offers for the Cabinet IR: its impulse-response and cabinet folders.
const char kModIrFileTypes[] = "ir,cabsim";

const char* const kPrefixes = R"(@prefix atom:  <http://lv2plug.in/ns/ext/atom#> .
@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .
@prefix doap:  <http://usefulinc.com/ns/doap#> .
@prefix foaf:  <http://xmlns.com/foaf/0.1/> .
@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .
@prefix midi:  <http://lv2plug.in/ns/ext/midi#> .
@prefix mod:   <http://moddevices.com/ns/mod#> .
@prefix opts:  <http://lv2plug.in/ns/ext/options#> .
@prefix patch: <http://lv2plug.in/ns/ext/patch#> .
@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .
@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .
@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .
@prefix rsz:   <http://lv2plug.in/ns/ext/resize-port#> .
@prefix state: <http://lv2plug.in/ns/ext/state#> .
@prefix time:  <http://lv2plug.in/ns/ext/time#> .
@prefix ui:    <http://lv2plug.in/ns/extensions/ui#> .
@prefix urid:  <http://lv2plug.in/ns/ext/urid#> .
@prefix work:  <http://lv2plug.in/ns/ext/worker#> .

)";

// The shortest decimal that reads back as the same float, so hosts start at the VST 3 defaults.
std::string FloatLiteral(float value)
{
    char text[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, double(value));
        if (std::strtof(text, nullptr) == value)
            break;
    }
    std::string literal = text;
    if (literal.find_first_of(".e") == std::string::npos)
        literal += ".0";
    return literal;
}

std::string Quoted(const char* text)
{
    std::string quoted = "\"";
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '"' || *c == '\\')
            quoted += '\\';
        quoted += *c;
    }
    return quoted + "\"";
}

void WritePort(std::ostream& out, std::uint32_t index)
{
    const PortInfo& port = kPorts[index];
    const char* name = port.name != nullptr ? port.name : kParamInfos[port.id].title;
    switch (port.kind) {
    case PortKind::AudioIn:
        out << "        a lv2:AudioPort , lv2:InputPort ;\n";
        break;
    case PortKind::AudioOut:
        out << "        a lv2:AudioPort , lv2:OutputPort ;\n";
        break;
    case PortKind::TimeIn:
        out << "        a atom:AtomPort , lv2:InputPort ;\n"
               "        atom:bufferType atom:Sequence ;\n"
               "        atom:supports time:Position , patch:Message , <" << kTunerUri << "> ;\n"
               "        lv2:designation lv2:control ;\n"
               "        rsz:minimumSize " << kAtomPortMinimumSize << " ;\n"
               "        lv2:portProperty lv2:connectionOptional ;\n";
        break;
    case PortKind::Notify:
        out << "        a atom:AtomPort , lv2:OutputPort ;\n"
               "        atom:bufferType atom:Sequence ;\n"
               "        atom:supports patch:Message , <" << kNoticeUri << "> ;\n"
               "        lv2:designation lv2:control ;\n"
               "        rsz:minimumSize " << kAtomPortMinimumSize << " ;\n"
               "        lv2:portProperty lv2:connectionOptional ;\n";
        break;
    case PortKind::ControlIn:
    case PortKind::Enabled:
        out << "        a lv2:ControlPort , lv2:InputPort ;\n";
        break;
    case PortKind::ControlOut:
        out << "        a lv2:ControlPort , lv2:OutputPort ;\n";
        break;
    }
    out << "        lv2:index " << index << " ;\n"
        << "        lv2:symbol " << Quoted(port.symbol) << " ;\n"
        << "        lv2:name " << Quoted(name);
    if (port.kind == PortKind::ControlIn || port.kind == PortKind::ControlOut) {
        const ParamInfo& info = kParamInfos[port.id];
        out << " ;\n        lv2:default " << FloatLiteral(info.defaultValue) << " ;\n"
            << "        lv2:minimum 0.0 ;\n        lv2:maximum 1.0";
        if (info.kind == ParamKind::Switch || info.kind == ParamKind::Led)
            out << " ;\n        lv2:portProperty lv2:toggled";
        // The default controller, on any channel, for hosts that offer it; they learn the rest.
        if (const int controller = DefaultMidiController(port.id); port.kind == PortKind::ControlIn && controller >= 0)
            out << " ;\n        midi:binding [\n            a midi:Controller ;\n"
                << "            midi:controllerNumber " << controller << "\n        ]";
    } else if (port.kind == PortKind::Enabled) {
        out << " ;\n        lv2:designation lv2:enabled ;\n"
            << "        lv2:default 1 ;\n        lv2:minimum 0 ;\n        lv2:maximum 1 ;\n"
            << "        lv2:portProperty lv2:toggled , lv2:integer";
    }
    out << "\n";
}

std::string PluginTtl()
{
    std::ostringstream out;
    out << kPrefixes;
    out << "<" << kProjectUri << ">\n"
        << "    a doap:Project ;\n"
        << "    doap:name \"Corvex\" ;\n"
        << "    doap:homepage <" << kVendorUrl << "> ;\n"
        << "    doap:maintainer [\n"
        << "        a foaf:Person ;\n"
        << "        foaf:name \"Corvex Audio\" ;\n"
        << "        foaf:homepage <" << kVendorUrl << "> ;\n"
        << "        foaf:mbox <" << kVendorEmail << ">\n"
        << "    ] .\n\n";
    out << "<" << kPluginUri << ">\n"
        << "    a lv2:Plugin , lv2:DistortionPlugin ;\n"
        << "    doap:name " << Quoted(kProcessorName) << " ;\n"
        << "    rdfs:comment \"A guitar amplifier and effects processor: gate/compressor, distortion, "
           "cabinet, chorus, tempo-synced delay and reverb.\" ;\n"
        << "    doap:license <https://spdx.org/licenses/GPL-3.0-or-later> ;\n"
        << "    lv2:project <" << kProjectUri << "> ;\n"
        << "    mod:brand " << Quoted(kModBrand) << " ;\n"
        << "    mod:label " << Quoted(kModLabel) << " ;\n"
        << "    lv2:minorVersion 0 ;\n"
        << "    lv2:microVersion 0 ;\n"
        // Restore prepares an IR on its own thread and hands it to run() through an atomic slot,
        // so hosts may restore without stopping the audio.
        << "    lv2:optionalFeature lv2:hardRTCapable , urid:map , opts:options , bufsz:boundedBlockLength , "
           "work:schedule , state:threadSafeRestore ;\n"
        << "    opts:supportedOption bufsz:maxBlockLength ;\n"
        << "    lv2:extensionData work:interface , state:interface ;\n"
        // Hosts accept patch:Set on the notify port only of the properties declared here.
        << "    patch:writable <" << kImpulseUri << "> ;\n"
        << "    patch:readable <" << kImpulseUri << "> ;\n"
#ifdef CORVEX_LV2_WITH_UI
        << "    ui:ui <" << kUiUri << "> ;\n"
#endif
        << "    lv2:port";
    for (std::uint32_t index = 0; index < kPortCount; ++index) {
        out << (index == 0 ? " [\n" : " , [\n");
        WritePort(out, index);
        out << "    ]";
    }
    out << " .\n";
    // The user cabinet IR: hosts offer their own file chooser for it.
    out << "\n<" << kImpulseUri << ">\n"
        << "    a lv2:Parameter ;\n"
        << "    rdfs:label \"Cabinet IR\" ;\n"
        << "    rdfs:comment \"An impulse response file replacing the built-in cabinet; an empty path brings it "
           "back.\" ;\n"
        << "    mod:fileTypes " << Quoted(kModIrFileTypes) << " ;\n"
        << "    rdfs:range atom:Path .\n";
    // What the factory presets carry besides their ports.
    out << "\n<" << kControlsOnlyUri << ">\n"
        << "    a rdf:Property ;\n"
        << "    rdfs:label \"Controls only\" ;\n"
        << "    rdfs:comment \"True in a state that sets the controls and keeps the cabinet IR that plays.\" ;\n"
        << "    rdfs:range atom:Bool .\n";
    // The messages between the plug-in and its UI.
    out << "\n<" << kTunerUri << ">\n"
        << "    a rdfs:Class ;\n"
        << "    rdfs:label \"Tuner\" ;\n"
        << "    rdfs:comment \"From the UI while the tuner shows: whether it shows, whether the output is muted "
           "meanwhile, and A4 in hertz.\" .\n";
    out << "\n<" << kNoticeUri << ">\n"
        << "    a rdfs:Class ;\n"
        << "    rdfs:label \"Notice\" ;\n"
        << "    rdfs:comment \"To the UI: the cabinet IR's name, a refusal, restored controls or a tuner "
           "reading.\" .\n";
#ifdef CORVEX_LV2_WITH_UI
    // The editor: embedded in the host's window, its timer driven by the host's idle calls.
    out << "\n<" << kUiUri << ">\n"
        << "    a ui:X11UI ;\n"
        << "    lv2:requiredFeature ui:parent , ui:idleInterface ;\n"
        << "    lv2:optionalFeature ui:resize , ui:touch , urid:map ;\n"
        << "    lv2:extensionData ui:idleInterface";
    for (std::uint32_t index = kPortFirstIndicator; index < kPortCount; ++index)
        out << " ;\n    ui:portNotification [\n        ui:plugin <" << kPluginUri << "> ;\n"
            << "        lv2:symbol " << Quoted(kPorts[index].symbol) << " ;\n"
            << "        ui:protocol " << (index == kPortNotify ? "atom:eventTransfer" : "ui:floatProtocol") << "\n    ]";
    out << " .\n";
#endif
    return out.str();
}

std::string PresetUri(const FactoryPreset& preset)
{
    return std::string(kPluginUri) + "#preset-" + preset.symbol;
}

std::string PresetsTtl()
{
    std::ostringstream out;
    out << kPrefixes;
    for (const FactoryPreset& preset : kFactoryPresets) {
        out << "<" << PresetUri(preset) << ">\n"
            << "    a pset:Preset ;\n"
            << "    lv2:appliesTo <" << kPluginUri << "> ;\n"
            << "    rdfs:label " << Quoted(preset.name) << " ;\n"
            << "    rdfs:comment " << Quoted(preset.description) << " ;\n"
            << "    lv2:port";
        bool first = true;
        for (std::uint32_t index = kPortFirstParam; index < kPortEnabled; ++index) {
            out << (first ? " [\n" : " , [\n") << "        lv2:symbol " << Quoted(kPorts[index].symbol) << " ;\n"
                << "        pset:value " << FloatLiteral(preset.values[kPorts[index].id - kFirstParam]) << "\n    ]";
            first = false;
        }
        // Without an IR section this keeps the IR that plays, as the live preset change does.
        out << " ;\n    state:state [\n        <" << kControlsOnlyUri << "> true\n    ] .\n\n";
    }
    return out.str();
}

std::string ManifestTtl()
{
    std::ostringstream out;
    out << kPrefixes;
    out << "<" << kPluginUri << ">\n"
        << "    a lv2:Plugin ;\n"
        << "    lv2:binary <" << kBinaryName << "> ;\n"
        << "    rdfs:seeAlso <corvex.ttl> .\n";
#ifdef CORVEX_LV2_WITH_UI
    out << "\n<" << kUiUri << ">\n"
        << "    a ui:X11UI ;\n"
        << "    ui:binary <" << kUiBinaryName << "> ;\n"
        << "    rdfs:seeAlso <corvex.ttl> .\n";
#endif
    for (const FactoryPreset& preset : kFactoryPresets)
        out << "\n<" << PresetUri(preset) << ">\n"
            << "    a pset:Preset ;\n"
            << "    lv2:appliesTo <" << kPluginUri << "> ;\n"
            << "    rdfs:seeAlso <presets.ttl> .\n";
    return out.str();
}

bool WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::cerr << "corvex-lv2-ttl: cannot write " << path << "\n";
        return false;
    }
    return true;
}

} // namespace
} // namespace corvex::lv2

int main(int argc, char** argv)
{
    using namespace corvex::lv2;
    if (argc != 2) {
        std::cerr << "usage: corvex-lv2-ttl OUTPUT_DIRECTORY\n";
        return 2;
    }
    const std::string dir = argv[1];
    return WriteFile(dir + "/manifest.ttl", ManifestTtl()) && WriteFile(dir + "/corvex.ttl", PluginTtl()) &&
                   WriteFile(dir + "/presets.ttl", PresetsTtl())
               ? 0
               : 1;
}
