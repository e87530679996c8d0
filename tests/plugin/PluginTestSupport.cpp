#include "PluginTestSupport.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "pluginterfaces/vst/ivsthostapplication.h"
#include "public.sdk/source/vst/hosting/hostclasses.h"

using namespace Steinberg;
using namespace Steinberg::Vst;
using corvex::hosting::PluginInstance;
using corvex::hosting::PluginModule;
using corvex::hosting::ProcessBlock;

namespace test {

FUnknown* HostContext()
{
    static HostApplication* host = new HostApplication();
    return host;
}

IMessage* NewMessage(const char* id)
{
    FUnknownPtr<IHostApplication> host(HostContext());
    IMessage* message = nullptr;
    TUID cid;
    IMessage::iid.toTUID(cid);
    host->createInstance(cid, cid, reinterpret_cast<void**>(&message));
    message->setMessageID(id);
    return message;
}

std::vector<char> StateBytes(const std::vector<float>& values)
{
    std::vector<char> bytes(values.size() * 4);
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

std::vector<float> StateFloats(const std::vector<char>& bytes)
{
    std::vector<float> values(bytes.size() / 4);
    std::memcpy(values.data(), bytes.data(), values.size() * 4);
    return values;
}

std::vector<float> DefaultStateFloats()
{
    return {1.0f, 1.0f, 1.0f, 0.8f, 1.0f, 0.55f, 0.0f, 1.0f, 1.0f, 0.1f, 1.0f, 0.75f, 0.55f,
            0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
}

tresult PLUGIN_API ScriptedStream::read(void* buffer, int32 numBytes, int32* numBytesRead)
{
    if (numBytesRead)
        *numBytesRead = 0;
    if (numBytes < 0)
        return kInvalidArgument;
    std::int64_t available = static_cast<std::int64_t>(data.size()) - position;
    if (failAt >= 0)
        available = std::min(available, failAt - position);
    if (available < numBytes && !shortReads)
        return kResultFalse;
    const std::int64_t count = std::max<std::int64_t>(0, std::min<std::int64_t>(available, numBytes));
    if (count > 0)
        std::memcpy(buffer, data.data() + position, static_cast<size_t>(count));
    position += count;
    if (numBytesRead)
        *numBytesRead = static_cast<int32>(count);
    return kResultOk;
}

tresult PLUGIN_API ScriptedStream::write(void* buffer, int32 numBytes, int32* numBytesWritten)
{
    if (numBytesWritten)
        *numBytesWritten = 0;
    if (failWritesAt >= 0 && position + numBytes > failWritesAt)
        return kResultFalse;
    if (static_cast<std::int64_t>(data.size()) < position + numBytes)
        data.resize(static_cast<size_t>(position + numBytes));
    std::memcpy(data.data() + position, buffer, static_cast<size_t>(numBytes));
    position += numBytes;
    if (numBytesWritten)
        *numBytesWritten = numBytes;
    return kResultOk;
}

tresult PLUGIN_API ScriptedStream::seek(int64 pos, int32 mode, int64* result)
{
    if (mode == kIBSeekSet)
        position = pos;
    else if (mode == kIBSeekCur)
        position += pos;
    else
        position = static_cast<std::int64_t>(data.size()) + pos;
    if (result)
        *result = position;
    return kResultOk;
}

tresult PLUGIN_API ScriptedStream::tell(int64* pos)
{
    if (pos)
        *pos = position;
    return kResultOk;
}

tresult PLUGIN_API ScriptedStream::queryInterface(const TUID iid, void** obj)
{
    QUERY_INTERFACE(iid, obj, FUnknown::iid, IBStream)
    QUERY_INTERFACE(iid, obj, IBStream::iid, IBStream)
    *obj = nullptr;
    return kNoInterface;
}

void PluginTest::SetUp()
{
    plugin = NewInstance();
    ASSERT_TRUE(plugin);
}

void PluginTest::TearDown()
{
    plugin.reset();
}

std::unique_ptr<PluginInstance> PluginTest::NewInstance()
{
    std::string error;
    auto instance = PluginInstance::Create(Module().Factory(), HostContext(), error);
    EXPECT_TRUE(instance) << error;
    return instance;
}

void PluginTest::Start(double sampleRate, int32 maxBlock)
{
    ASSERT_EQ(plugin->Setup(sampleRate, maxBlock), kResultOk);
    ASSERT_EQ(plugin->Activate(true), kResultOk);
}

tresult PluginTest::Process(ProcessBlock& block, int32 numSamples)
{
    return plugin->Processor()->process(block.Prepare(numSamples));
}

void PluginTest::SetParameters(const std::vector<std::pair<ParamID, double>>& values)
{
    ProcessBlock block(2, 2, 1);
    for (const auto& [id, value] : values)
        block.inputChanges.Add(id, value);
    ASSERT_EQ(Process(block, 0), kResultOk);
}

std::vector<float> PluginTest::ComponentState()
{
    std::vector<char> bytes;
    EXPECT_TRUE(plugin->SaveState(bytes));
    return StateFloats(bytes);
}

void FillSine(float* out, int n, double frequency, double sampleRate, double amplitude, std::int64_t start)
{
    const double step = 2.0 * M_PI * frequency / sampleRate;
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<float>(amplitude * std::sin(step * static_cast<double>(start + i)));
}

double RmsDb(const float* samples, int n)
{
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += double(samples[i]) * samples[i];
    return 10.0 * std::log10(sum / std::max(n, 1) + 1e-30);
}

double ToneDb(const float* samples, int n, double frequency, double sampleRate)
{
    const double periods = std::floor(n * frequency / sampleRate);
    const int count = periods >= 1.0 ? static_cast<int>(std::lround(periods * sampleRate / frequency)) : n;
    double re = 0.0;
    double im = 0.0;
    const double step = 2.0 * M_PI * frequency / sampleRate;
    for (int i = 0; i < std::min(count, n); ++i) {
        re += samples[i] * std::cos(step * i);
        im += samples[i] * std::sin(step * i);
    }
    const double amplitude = 2.0 * std::sqrt(re * re + im * im) / std::min(count, n);
    return 20.0 * std::log10(amplitude + 1e-30);
}

bool AllFinite(const float* samples, int n)
{
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(samples[i]))
            return false;
    return true;
}

std::vector<float> TestImpulse(int channels, int frames, unsigned seed)
{
    std::vector<float> samples(static_cast<std::size_t>(channels) * frames);
    std::uint32_t state = 2463534242u + seed;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const double noise = static_cast<double>(state) / 4294967296.0 - 0.5;
        samples[i] = static_cast<float>(noise * std::exp(-8.0 * static_cast<double>(i / channels) / frames));
    }
    return samples;
}

void WriteWave(const std::string& path, const std::vector<float>& samples, int channels, int sampleRate)
{
    std::string bytes;
    auto put = [&](std::uint32_t value, int size) {
        for (int b = 0; b < size; ++b)
            bytes.push_back(static_cast<char>(value >> (8 * b)));
    };
    const auto data = static_cast<std::uint32_t>(samples.size() * 4);
    bytes += "RIFF";
    put(36 + data, 4);
    bytes += "WAVEfmt ";
    put(16, 4);
    put(3, 2); // IEEE float
    put(static_cast<std::uint32_t>(channels), 2);
    put(static_cast<std::uint32_t>(sampleRate), 4);
    put(static_cast<std::uint32_t>(sampleRate * channels * 4), 4);
    put(static_cast<std::uint32_t>(channels * 4), 2);
    put(32, 2);
    bytes += "data";
    put(data, 4);
    for (float sample : samples) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &sample, 4);
        put(bits, 4);
    }
    std::ofstream(path, std::ios::binary) << bytes;
}

bool AllZero(const float* samples, int n)
{
    for (int i = 0; i < n; ++i)
        if (samples[i] != 0.0f)
            return false;
    return true;
}

} // namespace test
