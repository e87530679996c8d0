#pragma once

#include "ParamArguments.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Corvex driven through its VST 3 interfaces exactly as a host drives it: module loaded from its
// bundle, processor and controller from the factory, stereo buses, offline processing.

namespace corvex::render {

// The blocks handed to the processor so far.
struct BlockCounts {
    std::int64_t blocks = 0;
    std::int64_t samples = 0;
    int smallest = 0;
    int largest = 0;
    int maxBlock = 0;   // what the processor was told at set-up
    double tempo = 0.0; // what the process context carries
};

// A parameter change at a frame counted from the start of the render.
struct TimedChange {
    std::int64_t frame = 0;
    ParamSetting setting;
};

class CRenderHost {
public:
    virtual ~CRenderHost() = default;

    // Loads the bundle (or the shared library inside it) and creates processor and controller;
    // on failure returns null and a message naming the module and what went wrong.
    static std::unique_ptr<CRenderHost> Load(const std::string& modulePath, std::string& error);

    // The parameters as the controller reports them, in its order.
    virtual const std::vector<ModuleParam>& Params() const = 0;
    // The presets of the controller's program list, in its order, and the program-change
    // parameter that selects them (0 for none).
    virtual const std::vector<std::string>& ProgramNames() const = 0;
    virtual std::uint32_t ProgramParam() const = 0;

    // Hands a component state to the processor and the controller.
    virtual bool SetState(const std::vector<unsigned char>& bytes, std::string& error) = 0;
    virtual bool GetState(std::vector<unsigned char>& bytes, std::string& error) = 0;

    // Stereo buses, offline 32-bit processing at `sampleRate` with blocks of at most `maxBlock`.
    virtual bool Start(double sampleRate, int maxBlock, double tempo, std::string& error) = 0;

    // The parameter changes to hand over while processing, sorted by frame (equal frames keep
    // their order). A change is sent to the processor with the block that starts at its frame,
    // a block being cut short there if need be, and to the controller, as a sample-accurate host
    // does; changes at frame 0 go with the first block.
    virtual void Schedule(std::vector<TimedChange> changes) = 0;
    // The parameter a DAW routes a MIDI controller (or Program Change, kCtrlProgramChange) of a
    // channel to, as the controller's IMidiMapping answers; false for none.
    virtual bool MidiAssignment(int channel, int controller, std::uint32_t& id) const = 0;

    // `frames` of the caller's buffers, handed to the processor in blocks of `block` frames (the
    // last may be shorter, and a scheduled change cuts one): it gets each block's part of them
    // as its bus channels (and may use the input ones as it pleases). Sets `clipLed` if the
    // processor reported the output clip LED lit. Before each block but the first, stops if
    // `stop` is set. Returns false if the processor refused a block; `processed` is the frames
    // before the block it stopped at or that was refused, otherwise `frames`.
    virtual bool Process(float* inLeft, float* inRight, float* outLeft, float* outRight, long frames, int block,
                         const std::atomic<bool>& stop, bool& clipLed, long& processed) = 0;

    virtual void Stop() = 0;

    // The shared object the plug-in's code was actually loaded from.
    virtual const std::string& LoadedLibrary() const = 0;
    // What the processor reports as its tail at the current rate and tempo.
    virtual std::uint32_t TailSamples() const = 0;
    virtual BlockCounts Blocks() const = 0;
};

} // namespace corvex::render
