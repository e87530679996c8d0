#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "AudioBackend.h"
#include "SpscRing.h"

namespace corvex::live {

// Messages a reading thread took from the sequencer, for the audio thread; they carry no frame.
class CRingMidiEvents final : public CMidiEvents {
public:
    static constexpr std::size_t kCapacity = 4096;
    CSpscRing<MidiMessage, kCapacity> ring;
    bool Next(MidiEvent& event) override
    {
        event.offset = 0;
        return ring.Pop(event.message);
    }
};

// ALSA, for machines without a JACK server: one device opened for capture and playback at a
// fixed rate and period, run by an audio thread of our own that reads a period, processes it
// and writes it; and a sequencer port for MIDI, read by a thread of its own.
class CAlsaBackend final : public CAudioBackend {
public:
    struct Options {
        std::string device = "default";
        int rate = 48000;
        int period = 128;
        std::string midiInput; // a sequencer port ("20:0", "Launch Control:0"); empty: none
        bool midiRemembered = false; // from the settings: a missing port leaves the input unwired
    };

    explicit CAlsaBackend(Options options) : m_options(std::move(options)) {}
    ~CAlsaBackend() override;

    bool Open(std::string& error) override;
    double SampleRate() const override { return m_uRate; }
    int Period() const override { return static_cast<int>(m_period); }
    int MaxPeriod() const override { return static_cast<int>(m_period); }
    bool Start(CAudioClient& client, std::string& error) override;
    void Stop() override;
    std::uint64_t Xruns() const override { return m_xruns.load(std::memory_order_relaxed); }
    bool Lost(std::string& why) const override;
    std::string Describe() const override;
    std::string MidiPortName() const override;
    std::string MidiNotice() const override { return m_sMidiNotice; }

private:
    // Number of periods in the playback buffer: one being played, one being written.
    static constexpr unsigned kPeriods = 2;

    bool Configure(snd_pcm_t* pcm, const char* direction, std::string& error);
    void Run();
    bool Recover(snd_pcm_t* pcm, int code);
    // The sequencer client and its port; false with a reason only when a named port is missing.
    bool OpenSequencer(std::string& error);
    void ReadMidi();

    Options m_options;
    snd_pcm_t* m_pCapture = nullptr;
    snd_pcm_t* m_pPlayback = nullptr;
    snd_pcm_format_t m_format = SND_PCM_FORMAT_FLOAT_LE;
    unsigned m_uRate = 0;
    snd_pcm_uframes_t m_period = 0;
    CAudioClient* m_pClient = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bLost{false};
    std::atomic<int> m_iLostCode{0};
    std::atomic<std::uint64_t> m_xruns{0};
    // Interleaved device buffers and the four channel buffers the client sees; sized at Open.
    std::vector<unsigned char> m_aCaptureBytes, m_aPlaybackBytes;
    std::vector<float> m_afInL, m_afInR, m_afOutL, m_afOutR;
    snd_seq_t* m_pSequencer = nullptr;
    int m_iMidiPort = -1;
    std::thread m_midiThread;
    CRingMidiEvents m_midi;
    std::string m_sMidiNotice;
};

} // namespace corvex::live
