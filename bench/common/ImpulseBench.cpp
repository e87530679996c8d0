// Loading a user cabinet IR, off the audio thread: reading the file, resampling it to the
// session's rate (libsamplerate's converters beside libsoxr's, for the choice of resampler),
// building the engine's impulse, and the state section both ways.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <samplerate.h>
#include <sndfile.h>
#include <soxr.h>

#include "EngineTestSupport.h"
#include "ImpulseFile.h"
#include "ImpulsePreparation.h"
#include "ImpulseSection.h"

namespace corvex::bench {
namespace {

struct RateCase {
    double from, to;
};
// 44.1 kHz files in a 48 kHz session, 96 kHz files in a 44.1 kHz one, and for the preparation
// also the most work a second can be, 384 kHz in a 48 kHz session, and no resampling at all.
constexpr RateCase kRateCases[] = {{44100.0, 48000.0}, {96000.0, 44100.0}, {384000.0, 48000.0}, {48000.0, 48000.0}};

// A second of decaying stereo noise, as a room or cabinet answers, quantised to 24 bits.
ImpulseSource OneSecondImpulse(double rate)
{
    ImpulseSource source;
    source.name = "bench.wav";
    source.sampleRate = rate;
    source.channels = 2;
    source.frames = static_cast<int>(rate);
    const std::vector<float> noise = test::Noise(2 * source.frames, 5, 0.9f);
    for (int i = 0; i < 2 * source.frames; ++i)
        source.samples.push_back(
            std::round(noise[static_cast<size_t>(i)] * std::exp(-6.0 * (i / 2) / rate) * 8388607.0f) / 8388608.0f);
    return source;
}

// How far a resampler is from the exact result: a 1 kHz and a 15 kHz sine in, the error against
// the sines computed at the new rate, in dB below them, away from the ends.
template <class Resample>
double ErrorDb(const RateCase& rates, Resample resample)
{
    const int frames = static_cast<int>(rates.from);
    std::vector<float> in(2 * static_cast<size_t>(frames));
    const auto tone = [](double t) { return 0.5 * std::sin(2 * M_PI * 1000.0 * t) + 0.25 * std::sin(2 * M_PI * 15000.0 * t); };
    for (int i = 0; i < frames; ++i)
        in[2 * static_cast<size_t>(i)] = in[2 * static_cast<size_t>(i) + 1] = static_cast<float>(tone(i / rates.from));
    std::vector<float> out(2 * static_cast<size_t>(std::ceil(frames * rates.to / rates.from)));
    resample(in, out, frames);
    double signal = 0.0, error = 0.0;
    const size_t outFrames = out.size() / 2;
    for (size_t i = outFrames / 10; i < outFrames * 9 / 10; ++i) {
        const double exact = tone(static_cast<double>(i) / rates.to);
        signal += exact * exact;
        error += (out[2 * i] - exact) * (out[2 * i] - exact);
    }
    return 10.0 * std::log10(error / signal);
}

void Libsamplerate(const std::vector<float>& in, std::vector<float>& out, int frames, double ratio, int converter)
{
    SRC_DATA data{};
    data.data_in = in.data();
    data.input_frames = frames;
    data.data_out = out.data();
    data.output_frames = static_cast<long>(out.size() / 2);
    data.src_ratio = ratio;
    if (src_simple(&data, converter, 2) != 0)
        std::abort();
}

void Soxr(const std::vector<float>& in, std::vector<float>& out, int frames, const RateCase& rates,
          unsigned long quality)
{
    const soxr_quality_spec_t spec = soxr_quality_spec(quality, 0);
    size_t done = 0;
    if (soxr_oneshot(rates.from, rates.to, 2, in.data(), static_cast<size_t>(frames), nullptr, out.data(),
                     out.size() / 2, &done, nullptr, &spec, nullptr))
        std::abort();
}

// range(0): the rate case; range(1): SRC_SINC_BEST_QUALITY, _MEDIUM_QUALITY or _FASTEST.
void BM_ResampleLibsamplerate(benchmark::State& state)
{
    const RateCase rates = kRateCases[state.range(0)];
    const int converter = static_cast<int>(state.range(1));
    const ImpulseSource source = OneSecondImpulse(rates.from);
    std::vector<float> out(2 * static_cast<size_t>(std::ceil(source.frames * rates.to / rates.from)));
    for (auto _ : state) {
        Libsamplerate(source.samples, out, source.frames, rates.to / rates.from, converter);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["error_db"] = ErrorDb(rates, [&](const auto& in, auto& o, int frames) {
        Libsamplerate(in, o, frames, rates.to / rates.from, converter);
    });
}
BENCHMARK(BM_ResampleLibsamplerate)
    ->ArgNames({"case", "converter"})
    ->ArgsProduct({{0, 1}, {SRC_SINC_BEST_QUALITY, SRC_SINC_MEDIUM_QUALITY, SRC_SINC_FASTEST}})
    ->Unit(benchmark::kMillisecond);

// range(1): SOXR_HQ or SOXR_VHQ.
void BM_ResampleSoxr(benchmark::State& state)
{
    const RateCase rates = kRateCases[state.range(0)];
    const auto quality = static_cast<unsigned long>(state.range(1));
    const ImpulseSource source = OneSecondImpulse(rates.from);
    std::vector<float> out(2 * static_cast<size_t>(std::ceil(source.frames * rates.to / rates.from)));
    for (auto _ : state) {
        Soxr(source.samples, out, source.frames, rates, quality);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["error_db"] =
        ErrorDb(rates, [&](const auto& in, auto& o, int frames) { Soxr(in, o, frames, rates, quality); });
}
BENCHMARK(BM_ResampleSoxr)
    ->ArgNames({"case", "quality"})
    ->ArgsProduct({{0, 1}, {SOXR_HQ, SOXR_VHQ}})
    ->Unit(benchmark::kMillisecond);

// Everything after the file is read: resampling and the engine's impulse (range(0) the rate case).
void BM_PrepareImpulse(benchmark::State& state)
{
    const RateCase rates = kRateCases[state.range(0)];
    const ImpulseSource source = OneSecondImpulse(rates.from);
    for (auto _ : state) {
        auto impulse = PrepareImpulse(source, rates.to);
        if (!impulse)
            std::abort();
        benchmark::DoNotOptimize(impulse.get());
    }
}
BENCHMARK(BM_PrepareImpulse)->ArgName("case")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// Reading a second of 24-bit stereo at 48 kHz: libsndfile, then our RIFF/WAVE reader.
void BM_ReadImpulseFile(benchmark::State& state)
{
    const ImpulseSource source = OneSecondImpulse(48000.0);
    const std::string path = "corvex-bench-impulse.wav";
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        std::abort();
    sf_writef_float(file, source.samples.data(), source.frames);
    sf_close(file);
    const auto read = state.range(0) == 0 ? &ReadImpulseFile : &ReadWaveImpulseFile;
    for (auto _ : state) {
        ImpulseSource loaded;
        std::string error;
        if (!read(path, loaded, error))
            std::abort();
        benchmark::DoNotOptimize(loaded.samples.data());
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_ReadImpulseFile)->ArgName("riffwave")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The state section of a second of 24-bit stereo at 48 kHz, written (range 0) and read (1).
void BM_ImpulseSection(benchmark::State& state)
{
    const ImpulseSource source = OneSecondImpulse(48000.0);
    const std::vector<std::uint8_t> bytes = EncodeImpulseSection(source);
    for (auto _ : state) {
        if (state.range(0) == 0) {
            benchmark::DoNotOptimize(EncodeImpulseSection(source).data());
        } else {
            ImpulseSource decoded;
            std::string error;
            if (!DecodeImpulseSection(bytes.data(), bytes.size(), decoded, error))
                std::abort();
            benchmark::DoNotOptimize(decoded.samples.data());
        }
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_ImpulseSection)->ArgName("decode")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace corvex::bench
