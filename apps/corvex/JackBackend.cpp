#include "JackBackend.h"

#include <jack/transport.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

namespace corvex::live {

namespace {

// Periods longer than this are processed in pieces; JACK's own limit is 8192 frames.
constexpr int kMaxPeriod = 8192;
// A connection the server accepted shows in its graph from its next cycle on; a server that runs
// no cycle for this long gets it when it does.
constexpr auto kWiringLimit = std::chrono::seconds(5);
constexpr auto kWiringPoll = std::chrono::milliseconds(2);

std::string StatusText(jack_status_t status)
{
    if (status & JackServerFailed)
        return "no JACK server is running (start one with jackd, qjackctl or a PipeWire session, or use --alsa)";
    if (status & JackVersionError)
        return "the JACK server speaks another protocol version";
    if (status & JackShmFailure)
        return "JACK's shared memory is not accessible";
    if (status & JackNameNotUnique)
        return "the client name is taken";
    return "the server refused the client (status 0x" + [&] {
        char text[16];
        std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(status));
        return std::string(text);
    }() + ")";
}

std::string ServerName()
{
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    return name && *name ? name : "default";
}

// The physical ports of one direction, in the server's order.
std::vector<std::string> PhysicalPorts(jack_client_t* client, unsigned long flags)
{
    std::vector<std::string> names;
    if (const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | flags)) {
        for (const char** p = ports; *p; ++p)
            names.emplace_back(*p);
        jack_free(ports);
    }
    return names;
}

} // namespace

void CJackMidiEvents::Reset(void* buffer)
{
    m_pBuffer = buffer;
    m_count = buffer ? jack_midi_get_event_count(buffer) : 0;
    m_index = 0;
    m_current = {};
    m_byte = 0;
}

bool CJackMidiEvents::Next(MidiEvent& event)
{
    for (;;) {
        while (m_byte < m_current.size) {
            if (m_parser.Feed(m_current.buffer[m_byte++], event.message)) {
                event.offset = static_cast<int>(m_current.time);
                return true;
            }
        }
        if (m_index >= m_count || jack_midi_event_get(&m_current, m_pBuffer, m_index++) != 0)
            return false;
        m_byte = 0;
    }
}

CJackBackend::~CJackBackend()
{
    Stop();
    // Also after the server went away: closing releases the client's semaphore.
    if (m_pClient)
        jack_client_close(m_pClient);
}

bool CJackBackend::Open(std::string& error)
{
    // libjack reports on stderr from its own threads; corvex says what matters itself.
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    jack_status_t status{};
    // JackNoStartServer: a missing server is reported, not started behind the player's back.
    m_pClient = jack_client_open(m_options.clientName.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackUseExactName),
                                 &status);
    if (!m_pClient) {
        error = "cannot connect to the JACK server \"" + ServerName() + "\": " + StatusText(status);
        return false;
    }
    static const char* const kInNames[2] = {"in_1", "in_2"};
    static const char* const kOutNames[2] = {"out_1", "out_2"};
    for (int c = 0; c < 2; ++c) {
        m_apIn[c] = jack_port_register(m_pClient, kInNames[c], JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        m_apOut[c] = jack_port_register(m_pClient, kOutNames[c], JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (!m_apIn[c] || !m_apOut[c]) {
            error = "the JACK server \"" + ServerName() + "\" refused to register the ports of \"" +
                    m_options.clientName + "\"";
            return false;
        }
    }
    m_pMidiIn = jack_port_register(m_pClient, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!m_pMidiIn) {
        error = "the JACK server \"" + ServerName() + "\" refused to register the MIDI port of \"" +
                m_options.clientName + "\"";
        return false;
    }
    jack_set_process_callback(m_pClient, &CJackBackend::OnProcess, this);
    jack_set_xrun_callback(m_pClient, &CJackBackend::OnXrun, this);
    jack_on_info_shutdown(m_pClient, &CJackBackend::OnShutdown, this);
    return true;
}

double CJackBackend::SampleRate() const
{
    return m_pClient ? static_cast<double>(jack_get_sample_rate(m_pClient)) : 0.0;
}

int CJackBackend::Period() const
{
    return m_pClient ? static_cast<int>(jack_get_buffer_size(m_pClient)) : 0;
}

int CJackBackend::MaxPeriod() const
{
    return std::max(Period(), kMaxPeriod);
}

std::vector<std::string> CJackBackend::PortNames() const
{
    std::vector<std::string> names;
    for (jack_port_t* port : {m_apIn[0], m_apIn[1], m_apOut[0], m_apOut[1]})
        if (port)
            names.emplace_back(jack_port_name(port));
    return names;
}

bool CJackBackend::Start(CAudioClient& client, std::string& error)
{
    // Named ports must exist before anything starts.
    std::vector<std::string> named = m_options.inputs;
    named.insert(named.end(), m_options.outputs.begin(), m_options.outputs.end());
    // A controller unplugged since it was remembered must not keep the guitar silent.
    if (!m_options.midiInput.empty() && m_options.midiRemembered && !jack_port_by_name(m_pClient, m_options.midiInput.c_str())) {
        m_sMidiNotice = "the MIDI port \"" + m_options.midiInput + "\" is not there; the MIDI input stays unwired";
        m_options.midiInput.clear();
    }
    if (!m_options.midiInput.empty())
        named.push_back(m_options.midiInput);
    for (const std::string& name : named)
        if (!jack_port_by_name(m_pClient, name.c_str())) {
            error = "no JACK port named \"" + name + "\" on the server \"" + ServerName() +
                    "\" (jack_lsp lists the ports)";
            return false;
        }
    m_pAudioClient = &client;
    if (jack_activate(m_pClient) != 0) {
        error = "the JACK server \"" + ServerName() + "\" refused to activate the client";
        return false;
    }
    m_bActive = true;
    // The controller is wired whatever --no-connect says: that option is about the audio.
    if (!m_options.midiInput.empty()) {
        const int result = jack_connect(m_pClient, m_options.midiInput.c_str(), jack_port_name(m_pMidiIn));
        if (result != 0 && result != EEXIST) {
            error = "cannot connect the JACK MIDI port \"" + m_options.midiInput + "\" to \"" +
                    jack_port_name(m_pMidiIn) + "\" (is it a MIDI output?)";
            return false;
        }
        // As for the audio: what the controller sends once playing is announced is heard.
        const auto limit = std::chrono::steady_clock::now() + kWiringLimit;
        while (!jack_port_connected_to(m_pMidiIn, m_options.midiInput.c_str()) && !m_bLost.load(std::memory_order_acquire) &&
               std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(kWiringPoll);
    }
    return !m_options.connect || Connect(error);
}

bool CJackBackend::Connect(std::string& error)
{
    std::vector<std::string> sources = m_options.inputs;
    if (sources.empty()) {
        sources = PhysicalPorts(m_pClient, JackPortIsOutput);
        if (sources.size() > 2)
            sources.resize(2);
    }
    std::vector<std::string> sinks = m_options.outputs;
    if (sinks.empty()) {
        sinks = PhysicalPorts(m_pClient, JackPortIsInput);
        if (sinks.size() > 2)
            sinks.resize(2);
        // A single playback port takes the left output.
    }
    std::vector<std::pair<jack_port_t*, std::string>> made;
    auto connect = [&](const std::string& from, const std::string& to, jack_port_t* own, const std::string& other) {
        const int result = jack_connect(m_pClient, from.c_str(), to.c_str());
        if (result != 0 && result != EEXIST) {
            error = "cannot connect the JACK port \"" + from + "\" to \"" + to + "\"";
            return false;
        }
        made.emplace_back(own, other);
        return true;
    };
    for (std::size_t c = 0; c < sources.size() && c < 2; ++c)
        if (!connect(sources[c], jack_port_name(m_apIn[c]), m_apIn[c], sources[c]))
            return false;
    for (std::size_t c = 0; c < sinks.size() && c < 2; ++c)
        if (!connect(jack_port_name(m_apOut[c]), sinks[c], m_apOut[c], sinks[c]))
            return false;
    // The server takes new connections into its graph at its next cycle: until then neither
    // corvex nor any other client sees them. Playing is announced once they are in.
    const auto limit = std::chrono::steady_clock::now() + kWiringLimit;
    auto wired = [&] {
        return std::all_of(made.begin(), made.end(), [](const std::pair<jack_port_t*, std::string>& c) {
            return jack_port_connected_to(c.first, c.second.c_str()) != 0;
        });
    };
    while (!wired() && !m_bLost.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(kWiringPoll);
    return true;
}

void CJackBackend::Stop()
{
    if (m_bActive && !m_bLost.load())
        jack_deactivate(m_pClient);
    m_bActive = false;
}

bool CJackBackend::Lost(std::string& why) const
{
    if (!m_bLost.load(std::memory_order_acquire))
        return false;
    why = "the JACK server \"" + ServerName() + "\" went away";
    if (m_acLostReason[0])
        why += std::string(": ") + m_acLostReason;
    return true;
}

std::string CJackBackend::Describe() const
{
    return "JACK client \"" + std::string(m_pClient ? jack_get_client_name(m_pClient) : m_options.clientName.c_str()) +
           "\" on server \"" + ServerName() + "\"";
}

std::string CJackBackend::MidiPortName() const
{
    return m_pMidiIn ? jack_port_name(m_pMidiIn) : "";
}

int CJackBackend::OnProcess(jack_nframes_t frames, void* arg)
{
    auto* self = static_cast<CJackBackend*>(arg);
    const auto n = static_cast<int>(frames);
    auto* inL = static_cast<const float*>(jack_port_get_buffer(self->m_apIn[0], frames));
    auto* inR = static_cast<const float*>(jack_port_get_buffer(self->m_apIn[1], frames));
    auto* outL = static_cast<float*>(jack_port_get_buffer(self->m_apOut[0], frames));
    auto* outR = static_cast<float*>(jack_port_get_buffer(self->m_apOut[1], frames));
    if (!self->m_bRolling) {
        if (jack_port_connected(self->m_apIn[0]) == 0 && jack_port_connected(self->m_apIn[1]) == 0) {
            std::fill_n(outL, n, 0.0f);
            std::fill_n(outR, n, 0.0f);
            return 0;
        }
        self->m_bRolling = true;
    }
    // A timebase master's tempo, when there is one.
    jack_position_t position{};
    jack_transport_query(self->m_pClient, &position);
    const double tempo = (position.valid & JackPositionBBT) != 0 ? position.beats_per_minute : 0.0;
    self->m_midiEvents.Reset(jack_port_get_buffer(self->m_pMidiIn, frames));
    self->m_pAudioClient->ProcessPeriod(inL, inR, outL, outR, n, tempo, &self->m_midiEvents);
    return 0;
}

int CJackBackend::OnXrun(void* arg)
{
    static_cast<CJackBackend*>(arg)->m_xruns.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void CJackBackend::OnShutdown(jack_status_t, const char* reason, void* arg)
{
    auto* self = static_cast<CJackBackend*>(arg);
    if (reason)
        std::snprintf(self->m_acLostReason, sizeof self->m_acLostReason, "%s", reason);
    self->m_bLost.store(true, std::memory_order_release);
}

} // namespace corvex::live
