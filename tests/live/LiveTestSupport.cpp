#include "LiveTestSupport.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace live_test {

std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

Child::Child(const std::vector<std::string>& args, const std::vector<std::string>& env,
             const std::filesystem::path& logDir)
{
    static int counter = 0;
    const std::string stem = "child" + std::to_string(++counter);
    m_out = logDir / (stem + ".out");
    m_err = logDir / (stem + ".err");
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
        environment.emplace_back(*e);
    for (const std::string& extra : env) {
        const std::string name = extra.substr(0, extra.find('=') + 1);
        environment.erase(std::remove_if(environment.begin(), environment.end(),
                                         [&](const std::string& e) { return e.rfind(name, 0) == 0; }),
                          environment.end());
        environment.push_back(extra);
    }
    std::vector<char*> argv, envp;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : environment)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        const int out = open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
}

Child::~Child()
{
    if (Running()) {
        kill(m_pid, SIGKILL);
        Wait(std::chrono::seconds(5));
    }
}

void Child::Signal(int signal)
{
    if (!m_exited)
        kill(m_pid, signal);
}

bool Child::Running()
{
    if (m_exited || m_pid <= 0)
        return false;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_exited = true;
        m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

int Child::Wait(std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (Running()) {
        if (std::chrono::steady_clock::now() >= end)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return m_exitCode;
}

bool Child::WaitForOutput(const std::string& text, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (Out().find(text) != std::string::npos)
            return true;
        if (!Running() || std::chrono::steady_clock::now() >= end)
            return Out().find(text) != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string Child::Out() const { return ReadText(m_out); }
std::string Child::Err() const { return ReadText(m_err); }

std::string CorvexExe() { return CORVEX_EXE; }

std::vector<std::string> CorvexEnvironment(const std::filesystem::path& configHome)
{
    return {"XDG_CONFIG_HOME=" + configHome.string(), "JACK_NO_START_SERVER=1"};
}

Child OnATerminal(const ScratchDir& dir, const std::string& options, std::vector<std::string> environment)
{
    if (environment.empty())
        environment = CorvexEnvironment(dir.Path());
    environment.push_back("SHELL=/bin/sh");
    return Child({"/usr/bin/script", "-qfec", "exec " + CorvexExe() + " " + options, "/dev/null"}, environment,
                 dir.Path());
}

pid_t CorvexOnTheTerminal(const Child& terminal)
{
    const std::string task = "/proc/" + std::to_string(terminal.Pid()) + "/task/" + std::to_string(terminal.Pid());
    std::ifstream children(task + "/children");
    pid_t corvex = 0;
    children >> corvex;
    std::string name;
    std::ifstream("/proc/" + std::to_string(corvex) + "/comm") >> name;
    return corvex > 0 && name == "corvex" ? corvex : 0;
}

std::vector<std::string> Connections(jack_client_t* client, const std::string& port)
{
    std::vector<std::string> names;
    if (const char** list = jack_port_get_all_connections(client, jack_port_by_name(client, port.c_str()))) {
        for (const char** p = list; *p; ++p)
            names.emplace_back(*p);
        jack_free(list);
    }
    return names;
}

void WriteAsoundrc(const ScratchDir& dir, const std::string& device, const std::string& slave)
{
    std::ofstream rc(dir / ".asoundrc");
    rc << "pcm." << device << " {\n"
       << "  type asym\n"
       << "  capture.pcm { type file slave.pcm " << device << "slave file \"/dev/null\" infile \""
       << (dir / "in.raw").string() << "\" format raw }\n"
       << "  playback.pcm { type file slave.pcm " << device << "slave file \"" << (dir / "out.raw").string()
       << "\" format raw }\n"
       << "}\n"
       << "pcm." << device << "slave " << slave << "\n";
}

std::vector<std::string> AlsaEnvironment(const ScratchDir& dir)
{
    auto env = CorvexEnvironment(dir.Path());
    env.push_back("HOME=" + dir.Path().string());
    return env;
}

JackRig::JackRig(std::vector<float> left, std::vector<float> right, std::size_t recordFrames)
    : m_left(std::move(left)), m_right(std::move(right)), m_recordL(recordFrames), m_recordR(recordFrames)
{
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    jack_status_t status{};
    m_player = jack_client_open("corvex-test-player", JackNoStartServer, &status);
    m_recorder = jack_client_open("corvex-test-recorder", JackNoStartServer, &status);
    if (!m_player || !m_recorder)
        return;
    for (int c = 0; c < 2; ++c) {
        const std::string n = std::to_string(c + 1);
        m_playOut[c] = jack_port_register(m_player, ("out_" + n).c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        m_recordIn[c] = jack_port_register(m_recorder, ("in_" + n).c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    }
    jack_set_process_callback(m_player, &JackRig::PlayerProcess, this);
    jack_set_process_callback(m_recorder, &JackRig::RecorderProcess, this);
    jack_set_xrun_callback(m_player, &JackRig::PlayerXrun, this);
    jack_activate(m_player);
    jack_activate(m_recorder);
}

JackRig::~JackRig()
{
    // Leave the transport as the next test expects it: stopped, without a master.
    if (m_player && m_dBpm > 0.0) {
        jack_release_timebase(m_player);
        jack_transport_stop(m_player);
    }
    for (jack_client_t* client : {m_player, m_recorder}) {
        if (client) {
            jack_deactivate(client);
            jack_client_close(client);
        }
    }
}

jack_nframes_t JackRig::Rate() const { return jack_get_sample_rate(m_player); }
jack_nframes_t JackRig::Period() const { return jack_get_buffer_size(m_player); }

bool JackRig::Connect(const std::string& corvex, bool leftOnly)
{
    const std::string player = jack_get_client_name(m_player);
    const std::string recorder = jack_get_client_name(m_recorder);
    return jack_connect(m_recorder, (corvex + ":out_1").c_str(), (recorder + ":in_1").c_str()) == 0 &&
           jack_connect(m_recorder, (corvex + ":out_2").c_str(), (recorder + ":in_2").c_str()) == 0 &&
           jack_connect(m_player, (player + ":out_1").c_str(), (corvex + ":in_1").c_str()) == 0 &&
           (leftOnly || jack_connect(m_player, (player + ":out_2").c_str(), (corvex + ":in_2").c_str()) == 0);
}

void JackRig::Timebase(jack_transport_state_t, jack_nframes_t, jack_position_t* position, int, void* arg)
{
    auto* self = static_cast<JackRig*>(arg);
    position->valid = JackPositionBBT;
    position->bar = 1;
    position->beat = 1;
    position->tick = 0;
    position->bar_start_tick = 0.0;
    position->beats_per_bar = 4.0f;
    position->beat_type = 4.0f;
    position->ticks_per_beat = 1920.0;
    position->beats_per_minute = self->m_dBpm;
}

bool JackRig::BecomeTimebaseMaster(double bpm, std::chrono::milliseconds limit)
{
    m_dBpm = bpm;
    if (jack_set_timebase_callback(m_player, 0, &JackRig::Timebase, this) != 0)
        return false;
    jack_transport_start(m_player);
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        jack_position_t position{};
        jack_transport_query(m_player, &position);
        if ((position.valid & JackPositionBBT) != 0 && position.beats_per_minute == bpm)
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool JackRig::WaitForRecording(std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (m_recorded.load() < m_recordL.size()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int JackRig::PlayerProcess(jack_nframes_t frames, void* arg)
{
    auto* self = static_cast<JackRig*>(arg);
    if (const std::int64_t late = self->m_overrunUs.exchange(0))
        std::this_thread::sleep_for(std::chrono::microseconds(late));
    auto* outL = static_cast<float*>(jack_port_get_buffer(self->m_playOut[0], frames));
    auto* outR = static_cast<float*>(jack_port_get_buffer(self->m_playOut[1], frames));
    if (!self->m_started.load()) {
        if (jack_port_connected(self->m_playOut[0]) == 0) {
            std::fill_n(outL, frames, 0.0f);
            std::fill_n(outR, frames, 0.0f);
            return 0;
        }
        self->m_startFrame = jack_last_frame_time(self->m_player);
        self->m_started = true;
    }
    for (jack_nframes_t i = 0; i < frames; ++i, ++self->m_played) {
        outL[i] = self->m_played < self->m_left.size() ? self->m_left[self->m_played] : 0.0f;
        outR[i] = self->m_played < self->m_right.size() ? self->m_right[self->m_played] : 0.0f;
    }
    return 0;
}

int JackRig::RecorderProcess(jack_nframes_t frames, void* arg)
{
    auto* self = static_cast<JackRig*>(arg);
    if (!self->m_started.load())
        return 0;
    const jack_nframes_t now = jack_last_frame_time(self->m_recorder);
    const std::size_t at = now - self->m_startFrame.load();
    if (at != self->m_recorded.load())
        return 0; // a cycle the recorder missed would show as a shortfall
    auto* inL = static_cast<const float*>(jack_port_get_buffer(self->m_recordIn[0], frames));
    auto* inR = static_cast<const float*>(jack_port_get_buffer(self->m_recordIn[1], frames));
    std::size_t n = std::min<std::size_t>(frames, self->m_recordL.size() - std::min(at, self->m_recordL.size()));
    std::copy_n(inL, n, self->m_recordL.begin() + static_cast<std::ptrdiff_t>(at));
    std::copy_n(inR, n, self->m_recordR.begin() + static_cast<std::ptrdiff_t>(at));
    self->m_recorded = at + n;
    return 0;
}

int JackRig::PlayerXrun(void* arg)
{
    static_cast<JackRig*>(arg)->m_xruns.fetch_add(1);
    return 0;
}

MidiSender::MidiSender()
{
    m_client = jack_client_open("corvex-test-midi", JackNoStartServer, nullptr);
    if (!m_client)
        return;
    m_port = jack_port_register(m_client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(m_client, &MidiSender::Process, this);
    if (!m_port || jack_activate(m_client) != 0) {
        jack_client_close(m_client);
        m_client = nullptr;
    }
}

MidiSender::~MidiSender()
{
    if (m_client) {
        jack_deactivate(m_client);
        jack_client_close(m_client);
    }
}

bool MidiSender::Send(const std::vector<std::vector<unsigned char>>& events, std::chrono::milliseconds limit)
{
    m_events = events;
    m_sent = 0;
    m_sending = true;
    const bool done = WaitUntil([&] { return m_sent.load() == m_events.size(); }, limit);
    m_sending = false;
    return done;
}

int MidiSender::Process(jack_nframes_t frames, void* arg)
{
    auto* self = static_cast<MidiSender*>(arg);
    void* buffer = jack_port_get_buffer(self->m_port, frames);
    jack_midi_clear_buffer(buffer);
    if (!self->m_sending.load())
        return 0;
    // Spread over the cycle, several to a frame when there are more events than frames.
    std::size_t sent = self->m_sent.load();
    for (jack_nframes_t frame = 0; sent < self->m_events.size(); ++sent, frame = std::min(frame + 1, frames - 1)) {
        const std::vector<unsigned char>& event = self->m_events[sent];
        if (jack_midi_event_write(buffer, frame, event.data(), event.size()) != 0)
            break;
    }
    self->m_sent = sent;
    return 0;
}

XrunCounter::XrunCounter()
{
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    m_client = jack_client_open("corvex-test-xruns", JackNoStartServer, nullptr);
    if (!m_client)
        return;
    jack_set_xrun_callback(
        m_client,
        [](void* arg) {
            static_cast<XrunCounter*>(arg)->m_xruns.fetch_add(1);
            return 0;
        },
        this);
    if (jack_activate(m_client) != 0) {
        jack_client_close(m_client);
        m_client = nullptr;
    }
}

XrunCounter::~XrunCounter()
{
    if (m_client) {
        jack_deactivate(m_client);
        jack_client_close(m_client);
    }
}

std::vector<float> StateFloats(const std::vector<unsigned char>& bytes)
{
    std::vector<float> values(bytes.size() / 4);
    if (!values.empty())
        std::memcpy(values.data(), bytes.data(), values.size() * 4);
    return values;
}

long long Count(const std::string& digits)
{
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return std::stoll(digits);
}

long long ExitLineXruns(const std::string& shown)
{
    const std::size_t line = shown.find("corvex: stopped after ");
    const std::size_t start = line == std::string::npos ? line : shown.find(" s, ", line);
    const std::size_t end = start == std::string::npos ? start : shown.find(" xruns;", start);
    if (end == std::string::npos)
        return -1;
    return Count(shown.substr(start + 4, end - start - 4));
}

long ResidentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = -1;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return -1;
}

} // namespace live_test
