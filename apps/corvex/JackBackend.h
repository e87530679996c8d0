#pragma once

#include <atomic>
#include <string>
#include <vector>

#include <jack/jack.h>
#include <jack/midiport.h>

#include "AudioBackend.h"

namespace corvex::live {

// The events of a JACK MIDI port buffer for one period, each at its frame; bytes go through a
// parser that lives as long as the port, so running status carries from one event to the next.
class CJackMidiEvents final : public CMidiEvents {
public:
    void Reset(void* buffer);
    bool Next(MidiEvent& event) override;

private:
    void* m_pBuffer = nullptr;
    std::uint32_t m_count = 0, m_index = 0;
    jack_midi_event_t m_current{};
    std::size_t m_byte = 0;
    CMidiParser m_parser;
};

// JACK (and PipeWire's JACK library): a client with two input and two output ports and a MIDI
// input. Ports are wired to the first physical capture and playback ports, or to the ones named,
// or left alone; the MIDI input to the port named, if any.
class CJackBackend final : public CAudioBackend {
public:
    struct Options {
        std::string clientName = "Corvex";
        std::vector<std::string> inputs;  // empty: the first physical capture ports
        std::vector<std::string> outputs; // empty: the first physical playback ports
        bool connect = true;
        std::string midiInput; // empty: none
        bool midiRemembered = false; // from the settings: a missing port leaves the input unwired
    };

    explicit CJackBackend(Options options) : m_options(std::move(options)) {}
    ~CJackBackend() override;

    bool Open(std::string& error) override;
    double SampleRate() const override;
    int Period() const override;
    int MaxPeriod() const override;
    bool Start(CAudioClient& client, std::string& error) override;
    void Stop() override;
    std::uint64_t Xruns() const override { return m_xruns.load(std::memory_order_relaxed); }
    bool Lost(std::string& why) const override;
    std::string Describe() const override;
    std::string MidiPortName() const override;
    std::string MidiNotice() const override { return m_sMidiNotice; }

    // The client's full port names, in_1, in_2, out_1, out_2.
    std::vector<std::string> PortNames() const;

private:
    static int OnProcess(jack_nframes_t frames, void* arg);
    static int OnXrun(void* arg);
    static void OnShutdown(jack_status_t code, const char* reason, void* arg);
    // Wires the ports as the options say; returns once the server's graph holds the connections.
    bool Connect(std::string& error);

    Options m_options;
    jack_client_t* m_pClient = nullptr;
    jack_port_t* m_apIn[2] = {};
    jack_port_t* m_apOut[2] = {};
    jack_port_t* m_pMidiIn = nullptr;
    CJackMidiEvents m_midiEvents;
    std::string m_sMidiNotice;
    CAudioClient* m_pAudioClient = nullptr;
    bool m_bActive = false;
    // Processing begins with the first period in which an input is connected, so a take starts
    // from a fresh amplifier rather than from one that has been running on silence.
    bool m_bRolling = false;
    std::atomic<std::uint64_t> m_xruns{0};
    std::atomic<bool> m_bLost{false};
    char m_acLostReason[256] = {};
};

} // namespace corvex::live
