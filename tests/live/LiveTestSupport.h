#pragma once

#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "RenderTestSupport.h"

// Running corvex as a user does (a child process with its own settings folder) and playing into
// it from JACK clients of the test's own.

namespace live_test {

using render_test::ScratchDir;

// A child process with stdout and stderr in files; killed on destruction if still running.
class Child {
public:
    // Runs `args` (args[0] is the program) with the extra environment `env` ("NAME=value").
    Child(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::filesystem::path& logDir);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void Signal(int signal);
    // Waits for the exit; -1 if it did not come within `limit` (a hang).
    int Wait(std::chrono::milliseconds limit);
    bool Running();
    // Waits until stdout contains `text`; false if the process ended or the limit passed.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit);
    std::string Out() const;
    std::string Err() const;
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_exitCode = -1;
    bool m_exited = false;
    std::filesystem::path m_out, m_err;
};

std::string ReadText(const std::filesystem::path& path);

// Polls `condition` until it holds; false if the limit passed first.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// The corvex program, with the JACK server of the fixture (JACK_DEFAULT_SERVER) and a settings
// folder of the test's own.
std::vector<std::string> CorvexEnvironment(const std::filesystem::path& configHome);
std::string CorvexExe();

// corvex on a terminal of its own: script(1) gives it one and copies what it shows (Out()).
// script runs the command through $SHELL; a known shell and `exec` make corvex script's own child
// whatever the caller's shell. The environment is CorvexEnvironment's unless one is given.
Child OnATerminal(const ScratchDir& dir, const std::string& options, std::vector<std::string> environment = {});
// corvex itself under script, which signals are for; 0 if script's child is something else.
pid_t CorvexOnTheTerminal(const Child& terminal);

// A count as corvex prints it; -1 for anything but digits.
long long Count(const std::string& digits);
// The count corvex's last line gives ("corvex: stopped after T s, N xruns; ..."); -1 without it.
long long ExitLineXruns(const std::string& shown);
// A process's resident memory in kB (VmRSS); -1 if it cannot be read.
long ResidentKb(pid_t pid);

// The ports a JACK port of corvex is connected to, as another client sees them.
std::vector<std::string> Connections(jack_client_t* client, const std::string& port);

// HOME points at the test's folder (AlsaEnvironment), so ALSA's configuration reads this asoundrc
// as the user's. `device` reads its capture from in.raw and writes its playback to out.raw
// through the file plug-in, in front of `slave` (a PCM definition).
void WriteAsoundrc(const ScratchDir& dir, const std::string& device = "corvextest",
                   const std::string& slave = "{ type null }");
std::vector<std::string> AlsaEnvironment(const ScratchDir& dir);

// Two JACK clients of the test: a player that feeds a signal into Corvex's inputs from the first
// cycle in which its left output is connected, and a recorder that records Corvex's outputs from
// that same cycle on. Between them, in the graph, Corvex processes each cycle's input in that
// cycle.
class JackRig {
public:
    explicit JackRig(std::vector<float> left, std::vector<float> right, std::size_t recordFrames);
    ~JackRig();
    bool Ok() const { return m_player && m_recorder; }

    // Makes the player the transport's timebase master at `bpm` and starts the transport; true once
    // the transport reports that tempo.
    bool BecomeTimebaseMaster(double bpm, std::chrono::milliseconds limit);
    // Connects Corvex's outputs to the recorder, then the player to Corvex's inputs (left first;
    // the right one too unless leftOnly).
    bool Connect(const std::string& corvexClient = "Corvex", bool leftOnly = false);
    // Waits until recordFrames frames are recorded.
    bool WaitForRecording(std::chrono::milliseconds limit);
    // Makes the player's next cycle take `late` longer than its work, once: a client running late
    // as one without real-time scheduling can, which the server reports as an xrun.
    void Overrun(std::chrono::microseconds late) { m_overrunUs = late.count(); }
    // The xruns the server reported to the player since it opened.
    std::uint64_t Xruns() const { return m_xruns.load(); }
    // Frames recorded so far (safe to read the recording up to this).
    std::size_t Recorded() const { return m_recorded.load(); }
    const std::vector<float>& Left() const { return m_recordL; }
    const std::vector<float>& Right() const { return m_recordR; }
    jack_nframes_t Rate() const;
    jack_nframes_t Period() const;

private:
    static int PlayerProcess(jack_nframes_t frames, void* arg);
    static int RecorderProcess(jack_nframes_t frames, void* arg);
    static int PlayerXrun(void* arg);
    static void Timebase(jack_transport_state_t state, jack_nframes_t frames, jack_position_t* position, int newPosition,
                         void* arg);
    double m_dBpm = 0.0;

    std::vector<float> m_left, m_right;
    std::vector<float> m_recordL, m_recordR;
    jack_client_t* m_player = nullptr;
    jack_client_t* m_recorder = nullptr;
    jack_port_t* m_playOut[2] = {};
    jack_port_t* m_recordIn[2] = {};
    std::size_t m_played = 0;
    std::atomic<bool> m_started{false};
    std::atomic<jack_nframes_t> m_startFrame{0};
    std::atomic<std::size_t> m_recorded{0};
    std::atomic<std::int64_t> m_overrunUs{0};
    std::atomic<std::uint64_t> m_xruns{0};
};

// A JACK client of the test that only counts the xruns the server reports to its clients. Open
// for the whole of another client's run, it hears every xrun that client can hear.
class XrunCounter {
public:
    XrunCounter();
    ~XrunCounter();
    XrunCounter(const XrunCounter&) = delete;
    XrunCounter& operator=(const XrunCounter&) = delete;
    bool Ok() const { return m_client != nullptr; }
    std::uint64_t Xruns() const { return m_xruns.load(); }

private:
    jack_client_t* m_client = nullptr;
    std::atomic<std::uint64_t> m_xruns{0};
};

// A JACK client of the test with one MIDI output, "corvex-test-midi:out", as a controller is.
class MidiSender {
public:
    static constexpr const char* kPort = "corvex-test-midi:out";
    MidiSender();
    ~MidiSender();
    MidiSender(const MidiSender&) = delete;
    MidiSender& operator=(const MidiSender&) = delete;
    bool Ok() const { return m_client != nullptr; }
    // Sends the events (each a byte string as JACK carries it) from the next cycle on, as many a
    // cycle as the port's buffer takes; true once all are out.
    bool Send(const std::vector<std::vector<unsigned char>>& events, std::chrono::milliseconds limit);

private:
    static int Process(jack_nframes_t frames, void* arg);
    jack_client_t* m_client = nullptr;
    jack_port_t* m_port = nullptr;
    std::vector<std::vector<unsigned char>> m_events;
    std::atomic<std::size_t> m_sent{0};
    std::atomic<bool> m_sending{false};
};

// Corvex's settings at a state file's values; the 20 floats of an 80-byte state.
std::vector<float> StateFloats(const std::vector<unsigned char>& bytes);

} // namespace live_test
