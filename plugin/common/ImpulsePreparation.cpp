#include "ImpulsePreparation.h"

#include <algorithm>
#include <cmath>
#include <new>

#include <samplerate.h>

namespace corvex {

namespace {

// Errors near -120 dB, well past 20 bits, for a quarter of the best converter's time: a second of
// IR at up to 192 kHz prepares in under 50 ms (bench/common, README: user IRs).
constexpr int kConverter = SRC_SINC_MEDIUM_QUALITY;

} // namespace

std::vector<std::vector<float>> ResampleImpulse(const ImpulseSource& source, double rate)
{
    const auto channels = static_cast<std::size_t>(std::max(source.channels, 0));
    if (channels == 0 || source.frames < 1 || source.samples.size() != channels * static_cast<std::size_t>(source.frames) ||
        !(rate > 0.0 && rate <= kImpulseMaxRate) || !(source.sampleRate > 0.0))
        return {};
    std::vector<float> interleaved;
    long frames = source.frames;
    if (rate == source.sampleRate) {
        interleaved = source.samples;
    } else {
        const double ratio = rate / source.sampleRate;
        frames = static_cast<long>(std::ceil(source.frames * ratio));
        interleaved.assign(static_cast<std::size_t>(frames) * channels, 0.0f);
        SRC_DATA data{};
        data.data_in = source.samples.data();
        data.input_frames = source.frames;
        data.data_out = interleaved.data();
        data.output_frames = frames;
        data.src_ratio = ratio;
        // Only for an unsupported ratio (beyond 256), which the rate limits rule out; what it
        // produced stays, the rest zeros.
        src_simple(&data, kConverter, source.channels);
    }
    std::vector<std::vector<float>> out(channels, std::vector<float>(static_cast<std::size_t>(frames)));
    for (std::size_t c = 0; c < channels; ++c)
        for (std::size_t i = 0; i < out[c].size(); ++i)
            out[c][i] = interleaved[i * channels + c];
    return out;
}

std::unique_ptr<CCabinetImpulse> PrepareImpulse(const ImpulseSource& source, double sessionRate)
{
    try {
        const std::vector<std::vector<float>> channels = ResampleImpulse(source, sessionRate);
        if (channels.empty())
            return nullptr;
        const float* right = channels.size() > 1 ? channels[1].data() : nullptr;
        const int frames = static_cast<int>(channels[0].size());
        // The processor core plays each IR in two chains, so that a preset change keeps it.
        std::unique_ptr<CCabinetImpulse> impulse = CCabinetImpulse::Create(channels[0].data(), right, frames, sessionRate);
        std::unique_ptr<CCabinetImpulse> spare = CCabinetImpulse::Create(channels[0].data(), right, frames, sessionRate);
        if (!impulse || !spare)
            return nullptr;
        impulse->AttachSpare(std::move(spare));
        return impulse;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace corvex
