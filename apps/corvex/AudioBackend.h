#pragma once

#include <cstdint>
#include <string>

#include "MidiMap.h"

namespace corvex::live {

// One channel message, at its frame in the period (0 where the backend gives no time).
struct MidiEvent {
    int offset = 0;
    MidiMessage message;
};

// The MIDI that arrived for one period, in time order, read once on the audio thread.
class CMidiEvents {
public:
    virtual ~CMidiEvents() = default;
    virtual bool Next(MidiEvent& event) = 0;
};

// What an audio backend calls once per period, on its audio thread. It must not allocate, lock,
// log or block.
class CAudioClient {
public:
    virtual ~CAudioClient() = default;
    // transportTempo: the tempo a transport master gives for this period, or 0 for none; midi:
    // the period's MIDI input, or null.
    virtual void ProcessPeriod(const float* inL, const float* inR, float* outL, float* outR, int frames,
                               double transportTempo, CMidiEvents* midi = nullptr) = 0;
};

// A way to the sound card: two inputs, two outputs, one period at a time. The rest of corvex
// knows nothing of the backend behind this.
class CAudioBackend {
public:
    virtual ~CAudioBackend() = default;

    // Connects to the server or opens the device; afterwards the rate and period are known. On
    // failure, a message naming the server or device and the reason.
    virtual bool Open(std::string& error) = 0;
    virtual double SampleRate() const = 0;
    virtual int Period() const = 0;
    // The longest period the client must be ready for.
    virtual int MaxPeriod() const = 0;
    // Starts calling the client (and wires the ports, where the backend has any).
    virtual bool Start(CAudioClient& client, std::string& error) = 0;
    virtual void Stop() = 0;

    virtual std::uint64_t Xruns() const = 0;
    // True once the server or device has gone; why says what happened. Any thread.
    virtual bool Lost(std::string& why) const = 0;
    // "JACK 48000 Hz, 256 frames" and the like.
    virtual std::string Describe() const = 0;
    // The MIDI input port's name as other programs see it, or empty without one.
    virtual std::string MidiPortName() const = 0;
    // After Start: why a remembered MIDI port was left unwired (it is gone), or empty.
    virtual std::string MidiNotice() const = 0;
};

} // namespace corvex::live
