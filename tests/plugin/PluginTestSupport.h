#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BundleModule.h"
#include "PluginInstance.h"
#include "PluginModule.h"
#include "ProcessBlock.h"
#include "pluginterfaces/base/ibstream.h"
#include "pluginterfaces/vst/ivstmessage.h"

namespace test {

// The host context every instance is initialised with.
Steinberg::FUnknown* HostContext();

// A host's component state of exactly these bytes, or of these floats as the module writes them.
std::vector<char> StateBytes(const std::vector<float>& values);
std::vector<float> StateFloats(const std::vector<char>& bytes);
std::vector<float> DefaultStateFloats();

// A read/write stream over a byte vector that can misbehave: reads fail once failAt bytes have
// been delivered, or (shortReads) succeed while delivering only what is left.
class ScriptedStream : public Steinberg::IBStream {
public:
    explicit ScriptedStream(std::vector<char> bytes = {}) : data(std::move(bytes)) {}
    virtual ~ScriptedStream() = default;

    std::vector<char> data;
    std::int64_t position = 0;
    std::int64_t failAt = -1;
    bool shortReads = false;
    std::int64_t failWritesAt = -1;

    Steinberg::tresult PLUGIN_API read(void* buffer, Steinberg::int32 numBytes, Steinberg::int32* numBytesRead) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API write(void* buffer, Steinberg::int32 numBytes, Steinberg::int32* numBytesWritten) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API seek(Steinberg::int64 pos, Steinberg::int32 mode, Steinberg::int64* result) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API tell(Steinberg::int64* pos) SMTG_OVERRIDE;
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) SMTG_OVERRIDE;
    Steinberg::uint32 PLUGIN_API addRef() SMTG_OVERRIDE { return 1; }
    Steinberg::uint32 PLUGIN_API release() SMTG_OVERRIDE { return 1; }
};

// A message of this ID made by the host context, for the caller to release.
Steinberg::Vst::IMessage* NewMessage(const char* id);

// A connection point standing in for the controller: of the messages the processor sends, those
// with the ID `id`, each as `read` makes it of their attributes.
template <typename T>
class RecordingPoint : public Steinberg::Vst::IConnectionPoint {
public:
    RecordingPoint(const char* id, T (*read)(Steinberg::Vst::IAttributeList&)) : m_id(id), m_read(read) {}
    virtual ~RecordingPoint() = default;

    std::vector<T> records;

    Steinberg::tresult PLUGIN_API connect(IConnectionPoint*) SMTG_OVERRIDE { return Steinberg::kResultOk; }
    Steinberg::tresult PLUGIN_API disconnect(IConnectionPoint*) SMTG_OVERRIDE { return Steinberg::kResultOk; }
    Steinberg::tresult PLUGIN_API notify(Steinberg::Vst::IMessage* message) SMTG_OVERRIDE
    {
        if (!message || !message->getMessageID() || !message->getAttributes())
            return Steinberg::kInvalidArgument;
        if (std::strcmp(message->getMessageID(), m_id) == 0)
            records.push_back(m_read(*message->getAttributes()));
        return Steinberg::kResultOk;
    }
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) SMTG_OVERRIDE
    {
        QUERY_INTERFACE(iid, obj, Steinberg::FUnknown::iid, IConnectionPoint)
        QUERY_INTERFACE(iid, obj, IConnectionPoint::iid, IConnectionPoint)
        *obj = nullptr;
        return Steinberg::kNoInterface;
    }
    Steinberg::uint32 PLUGIN_API addRef() SMTG_OVERRIDE { return 1; }
    Steinberg::uint32 PLUGIN_API release() SMTG_OVERRIDE { return 1; }

private:
    const char* m_id;
    T (*m_read)(Steinberg::Vst::IAttributeList&);
};

// One processor and controller from the loaded module.
class PluginTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Sets up (stereo buses) and activates.
    void Start(double sampleRate = 44100.0, Steinberg::int32 maxBlock = 512);
    Steinberg::tresult Process(corvex::hosting::ProcessBlock& block, Steinberg::int32 numSamples);
    // Applies parameter changes in a zero-sample block.
    void SetParameters(const std::vector<std::pair<Steinberg::Vst::ParamID, double>>& values);
    std::vector<float> ComponentState();
    std::unique_ptr<corvex::hosting::PluginInstance> NewInstance();

    std::unique_ptr<corvex::hosting::PluginInstance> plugin;
};

// Signals and measurements.
void FillSine(float* out, int n, double frequency, double sampleRate, double amplitude, std::int64_t start = 0);
double RmsDb(const float* samples, int n);
// Level of one frequency in dB (a single-bin DFT over whole periods where possible).
double ToneDb(const float* samples, int n, double frequency, double sampleRate);
bool AllFinite(const float* samples, int n);
bool AllZero(const float* samples, int n);

// A cabinet-like IR for the tests: a decaying noise burst, the same for the same arguments,
// interleaved, `channels` of `frames`.
std::vector<float> TestImpulse(int channels, int frames, unsigned seed = 1);
// Writes interleaved samples as a 32-bit float RIFF/WAVE file (every build reads that).
void WriteWave(const std::string& path, const std::vector<float>& samples, int channels, int sampleRate);

} // namespace test
