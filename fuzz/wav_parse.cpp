// Fuzz target: the WAV reader's decoding form on arbitrary file bytes.
//
// Beyond "no crash, no undefined behaviour", a decoded sample must keep its
// shape: a whole number of frames, the requested silent padding, and only
// finite values on the 16-bit scale.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "audio/wav_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks the padding so that 0 and the driver's 2048 both run.
    int pad = 2048;
    if (size > 0 && data[0] == 'p') pad = 0;
    const auto wave = kelmotra::wav_parse(data, size, pad, nullptr);
    if (!wave) return 0;

    const kelmotra::WaveFormat& f = wave->format;
    const std::size_t ch = f.channels;
    if (ch < 1 || ch > static_cast<std::size_t>(kelmotra::kMaxChannels)) std::abort();
    if (wave->frames < 1) std::abort();
    const std::size_t total = (static_cast<std::size_t>(wave->frames) + static_cast<std::size_t>(pad)) * ch;
    if (wave->samples.size() != total) std::abort();
    for (std::size_t i = 0; i < total; ++i) {
        const double v = wave->samples[i];
        // Float files may hold any value, but never one that is not a number.
        if (!std::isfinite(v)) std::abort();
        if (i >= static_cast<std::size_t>(wave->frames) * ch && v != 0.0) std::abort();
    }
    return 0;
}
