#include "AlsaBackend.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <poll.h>

namespace corvex::live {

namespace {

constexpr int kChannels = 2;
// How long the audio thread waits for the device before looking whether it should stop.
constexpr int kWaitMs = 100;
// How long the MIDI thread waits for room when a burst fills the ring: the sequencer queues
// behind it, so nothing is lost.
constexpr auto kRingFullWait = std::chrono::milliseconds(1);
// Sample formats in order of preference: the float the plug-in works in, then integers.
constexpr snd_pcm_format_t kFormats[] = {SND_PCM_FORMAT_FLOAT_LE, SND_PCM_FORMAT_S32_LE, SND_PCM_FORMAT_S16_LE};

void Quiet(const char*, int, const char*, int, const char*, ...) {}

void Deinterleave(const unsigned char* bytes, snd_pcm_format_t format, float* left, float* right, int frames)
{
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < kChannels; ++c) {
            float value = 0.0f;
            const int index = i * kChannels + c;
            if (format == SND_PCM_FORMAT_FLOAT_LE) {
                std::memcpy(&value, bytes + index * 4, 4);
            } else if (format == SND_PCM_FORMAT_S32_LE) {
                std::int32_t sample;
                std::memcpy(&sample, bytes + index * 4, 4);
                value = static_cast<float>(sample / 2147483648.0);
            } else {
                std::int16_t sample;
                std::memcpy(&sample, bytes + index * 2, 2);
                value = static_cast<float>(sample / 32768.0);
            }
            (c == 0 ? left : right)[i] = value;
        }
    }
}

void Interleave(const float* left, const float* right, snd_pcm_format_t format, unsigned char* bytes, int frames)
{
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < kChannels; ++c) {
            const float value = (c == 0 ? left : right)[i];
            const int index = i * kChannels + c;
            if (format == SND_PCM_FORMAT_FLOAT_LE) {
                std::memcpy(bytes + index * 4, &value, 4);
            } else if (format == SND_PCM_FORMAT_S32_LE) {
                const double scaled = std::clamp(static_cast<double>(value) * 2147483648.0, -2147483648.0, 2147483647.0);
                const auto sample = static_cast<std::int32_t>(std::lrint(scaled));
                std::memcpy(bytes + index * 4, &sample, 4);
            } else {
                const float scaled = std::clamp(value * 32768.0f, -32768.0f, 32767.0f);
                const auto sample = static_cast<std::int16_t>(std::lrint(scaled));
                std::memcpy(bytes + index * 2, &sample, 2);
            }
        }
    }
}

} // namespace

CAlsaBackend::~CAlsaBackend()
{
    Stop();
    if (m_pSequencer)
        snd_seq_close(m_pSequencer);
    if (m_pCapture)
        snd_pcm_close(m_pCapture);
    if (m_pPlayback)
        snd_pcm_close(m_pPlayback);
}

bool CAlsaBackend::Configure(snd_pcm_t* pcm, const char* direction, std::string& error)
{
    const std::string named = "the ALSA device \"" + m_options.device + "\" (" + direction + ") ";
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    snd_pcm_hw_params_any(pcm, hw);
    if (snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0) {
        error = named + "offers no interleaved access (try plughw:" + m_options.device + ")";
        return false;
    }
    bool formatSet = false;
    for (snd_pcm_format_t format : kFormats) {
        if (snd_pcm_hw_params_test_format(pcm, hw, format) == 0 && snd_pcm_hw_params_set_format(pcm, hw, format) == 0) {
            // Both directions take the capture's format: one conversion each way.
            if (pcm == m_pCapture)
                m_format = format;
            else if (format != m_format)
                continue;
            formatSet = true;
            break;
        }
    }
    if (!formatSet) {
        error = named + "takes none of the sample formats float, 32-bit or 16-bit (try a plughw: device)";
        return false;
    }
    if (snd_pcm_hw_params_set_channels(pcm, hw, kChannels) < 0) {
        error = named + "has no two-channel mode (try a plughw: device)";
        return false;
    }
    if (snd_pcm_hw_params_set_rate(pcm, hw, static_cast<unsigned>(m_options.rate), 0) < 0) {
        error = named + "does not run at " + std::to_string(m_options.rate) + " Hz";
        return false;
    }
    snd_pcm_uframes_t period = static_cast<snd_pcm_uframes_t>(m_options.period);
    int dir = 0;
    if (snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dir) < 0) {
        error = named + "refuses periods of " + std::to_string(m_options.period) + " frames";
        return false;
    }
    if (pcm == m_pPlayback && period != m_period) {
        error = named + "offers periods of " + std::to_string(period) + " frames for playback but " +
                std::to_string(m_period) + " for capture";
        return false;
    }
    m_period = period;
    snd_pcm_uframes_t buffer = period * kPeriods * (pcm == m_pCapture ? 2 : 1);
    snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
    const int result = snd_pcm_hw_params(pcm, hw);
    if (result < 0) {
        error = named + "refused the settings: " + snd_strerror(result);
        return false;
    }
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_sw_params_current(pcm, sw);
    snd_pcm_sw_params_set_avail_min(pcm, sw, period);
    // Started explicitly once the playback buffer holds its silence.
    snd_pcm_sw_params_set_start_threshold(pcm, sw, buffer * 2);
    snd_pcm_sw_params(pcm, sw);
    return true;
}

bool CAlsaBackend::Open(std::string& error)
{
    int result = snd_pcm_open(&m_pCapture, m_options.device.c_str(), SND_PCM_STREAM_CAPTURE, 0);
    if (result < 0) {
        m_pCapture = nullptr;
        error = "cannot open the ALSA device \"" + m_options.device + "\" for capture: " + snd_strerror(result);
        return false;
    }
    result = snd_pcm_open(&m_pPlayback, m_options.device.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
    if (result < 0) {
        m_pPlayback = nullptr;
        error = "cannot open the ALSA device \"" + m_options.device + "\" for playback: " + snd_strerror(result);
        return false;
    }
    if (!Configure(m_pCapture, "capture", error) || !Configure(m_pPlayback, "playback", error) ||
        !OpenSequencer(error))
        return false;
    m_uRate = static_cast<unsigned>(m_options.rate);
    const std::size_t frames = m_period;
    const std::size_t bytes = frames * kChannels * static_cast<std::size_t>(snd_pcm_format_physical_width(m_format) / 8);
    m_aCaptureBytes.assign(bytes, 0);
    m_aPlaybackBytes.assign(bytes, 0);
    for (auto* channel : {&m_afInL, &m_afInR, &m_afOutL, &m_afOutR})
        channel->assign(frames, 0.0f);
    return true;
}

bool CAlsaBackend::Start(CAudioClient& client, std::string& error)
{
    m_pClient = &client;
    // Silence ahead of the first processed period: the playback side's latency.
    snd_pcm_prepare(m_pPlayback);
    std::fill(m_aPlaybackBytes.begin(), m_aPlaybackBytes.end(), 0);
    for (unsigned p = 0; p < kPeriods; ++p)
        snd_pcm_writei(m_pPlayback, m_aPlaybackBytes.data(), m_period);
    int result = snd_pcm_start(m_pPlayback);
    if (result >= 0)
        result = snd_pcm_start(m_pCapture);
    if (result < 0) {
        error = "cannot start the ALSA device \"" + m_options.device + "\": " + snd_strerror(result);
        return false;
    }
    m_bRunning = true;
    m_thread = std::thread([this] { Run(); });
    if (m_pSequencer)
        m_midiThread = std::thread([this] { ReadMidi(); });
    // Real-time scheduling where the system grants it; without it the period still runs.
    sched_param priority{};
    priority.sched_priority = std::max(1, sched_get_priority_max(SCHED_FIFO) / 2);
    pthread_setschedparam(m_thread.native_handle(), SCHED_FIFO, &priority);
    return true;
}

void CAlsaBackend::Stop()
{
    m_bRunning = false;
    if (m_thread.joinable())
        m_thread.join();
    if (m_midiThread.joinable())
        m_midiThread.join();
    if (m_pCapture)
        snd_pcm_drop(m_pCapture);
    if (m_pPlayback)
        snd_pcm_drop(m_pPlayback);
}

bool CAlsaBackend::Recover(snd_pcm_t* pcm, int code)
{
    if (code == -EPIPE || code == -ESTRPIPE)
        m_xruns.fetch_add(1, std::memory_order_relaxed);
    if (snd_pcm_recover(pcm, code, 1) < 0) {
        m_iLostCode = code;
        m_bLost = true;
        return false;
    }
    if (pcm == m_pPlayback) {
        // Refill the silence the restart needs.
        std::vector<unsigned char>& bytes = m_aPlaybackBytes;
        std::fill(bytes.begin(), bytes.end(), 0);
        for (unsigned p = 0; p < kPeriods; ++p)
            snd_pcm_writei(m_pPlayback, bytes.data(), m_period);
        snd_pcm_start(m_pPlayback);
    } else {
        snd_pcm_start(m_pCapture);
    }
    return true;
}

void CAlsaBackend::Run()
{
    const int frames = static_cast<int>(m_period);
    const int frameBytes = kChannels * snd_pcm_format_physical_width(m_format) / 8;
    while (m_bRunning.load(std::memory_order_relaxed)) {
        const int ready = snd_pcm_wait(m_pCapture, kWaitMs);
        if (ready == 0)
            continue;
        if (ready < 0 && !Recover(m_pCapture, ready))
            return;
        // A whole period in, however the device delivers it.
        int got = 0;
        while (got < frames && m_bRunning.load(std::memory_order_relaxed)) {
            const snd_pcm_sframes_t n =
                snd_pcm_readi(m_pCapture, m_aCaptureBytes.data() + got * frameBytes, static_cast<snd_pcm_uframes_t>(frames - got));
            if (n == -EAGAIN)
                continue;
            if (n < 0) {
                if (!Recover(m_pCapture, static_cast<int>(n)))
                    return;
                continue;
            }
            got += static_cast<int>(n);
        }
        if (got < frames)
            return;
        Deinterleave(m_aCaptureBytes.data(), m_format, m_afInL.data(), m_afInR.data(), frames);
        m_pClient->ProcessPeriod(m_afInL.data(), m_afInR.data(), m_afOutL.data(), m_afOutR.data(), frames, 0.0,
                                 m_pSequencer ? &m_midi : nullptr);
        Interleave(m_afOutL.data(), m_afOutR.data(), m_format, m_aPlaybackBytes.data(), frames);
        int put = 0;
        while (put < frames && m_bRunning.load(std::memory_order_relaxed)) {
            const snd_pcm_sframes_t n = snd_pcm_writei(m_pPlayback, m_aPlaybackBytes.data() + put * frameBytes,
                                                       static_cast<snd_pcm_uframes_t>(frames - put));
            if (n == -EAGAIN)
                continue;
            if (n < 0) {
                if (!Recover(m_pPlayback, static_cast<int>(n)))
                    return;
                break; // the period is lost with the xrun; the refill replaces it
            }
            put += static_cast<int>(n);
        }
    }
}

bool CAlsaBackend::Lost(std::string& why) const
{
    if (!m_bLost.load())
        return false;
    why = "the ALSA device \"" + m_options.device + "\" stopped: " + snd_strerror(m_iLostCode.load());
    return true;
}

bool CAlsaBackend::OpenSequencer(std::string& error)
{
    const std::string& named = m_options.midiInput;
    // A machine without a sequencer is no fault: alsa-lib's own complaint is kept off stderr.
    snd_lib_error_set_handler(&Quiet);
    int result = snd_seq_open(&m_pSequencer, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK);
    snd_lib_error_set_handler(nullptr);
    if (result < 0) {
        m_pSequencer = nullptr;
        // Without a sequencer corvex plays on, with no MIDI input, unless one was asked for.
        if (!named.empty() && !m_options.midiRemembered)
            error = "cannot open the ALSA sequencer for the MIDI input \"" + named + "\": " + snd_strerror(result);
        else if (!named.empty())
            m_sMidiNotice = "no ALSA sequencer for the MIDI port \"" + named + "\" (" + snd_strerror(result) + ")";
        return named.empty() || m_options.midiRemembered;
    }
    snd_seq_set_client_name(m_pSequencer, "Corvex");
    m_iMidiPort = snd_seq_create_simple_port(m_pSequencer, "midi_in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                             SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (m_iMidiPort < 0) {
        error = "the ALSA sequencer refused corvex's MIDI port: " + std::string(snd_strerror(m_iMidiPort));
        return false;
    }
    if (named.empty())
        return true;
    snd_seq_addr_t source{};
    result = snd_seq_parse_address(m_pSequencer, &source, named.c_str());
    if (result >= 0)
        result = snd_seq_connect_from(m_pSequencer, m_iMidiPort, source.client, source.port);
    if (result < 0 && m_options.midiRemembered) {
        m_sMidiNotice = "the MIDI port \"" + named + "\" is not there; the MIDI input stays unwired";
    } else if (result < 0) {
        error = "cannot connect the ALSA sequencer port \"" + named + "\" to corvex: " + snd_strerror(result) +
                " (aconnect -i lists the ports)";
        return false;
    }
    return true;
}

void CAlsaBackend::ReadMidi()
{
    const int count = snd_seq_poll_descriptors_count(m_pSequencer, POLLIN);
    std::vector<pollfd> fds(static_cast<std::size_t>(std::max(count, 0)));
    snd_seq_poll_descriptors(m_pSequencer, fds.data(), static_cast<unsigned>(fds.size()), POLLIN);
    while (m_bRunning.load(std::memory_order_relaxed)) {
        if (poll(fds.data(), fds.size(), kWaitMs) <= 0)
            continue;
        snd_seq_event_t* event = nullptr;
        while (snd_seq_event_input(m_pSequencer, &event) >= 0 && event) {
            // The sequencer hands over decoded messages: running status and SysEx never get here.
            MidiMessage message;
            if (event->data.control.param > 127 || event->data.control.value < 0 || event->data.control.value > 127)
                continue;
            const auto channel = static_cast<std::uint8_t>(event->data.control.channel & kMidiChannelMask);
            if (event->type == SND_SEQ_EVENT_CONTROLLER)
                message = {static_cast<std::uint8_t>(kMidiControlChange | channel), static_cast<std::uint8_t>(event->data.control.param),
                           static_cast<std::uint8_t>(event->data.control.value)};
            else if (event->type == SND_SEQ_EVENT_PGMCHANGE)
                message = {static_cast<std::uint8_t>(kMidiProgramChange | channel), static_cast<std::uint8_t>(event->data.control.value), 0};
            else
                continue;
            while (!m_midi.ring.Push(message) && m_bRunning.load(std::memory_order_relaxed))
                std::this_thread::sleep_for(kRingFullWait);
        }
    }
}

std::string CAlsaBackend::MidiPortName() const
{
    if (!m_pSequencer)
        return "";
    return "Corvex:midi_in (" + std::to_string(snd_seq_client_id(m_pSequencer)) + ":" + std::to_string(m_iMidiPort) + ")";
}

std::string CAlsaBackend::Describe() const
{
    return "ALSA device \"" + m_options.device + "\"";
}

} // namespace corvex::live
