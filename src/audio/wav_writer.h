// WAV writer: a 44-byte RIFF/WAVE header followed by the samples, converted
// from doubles on the 16-bit scale to the requested depth with clamping and
// truncation toward zero (no dithering).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "audio/platform.h"

namespace kelmotra {

// The whole file in memory. values: count * channels doubles on the 16-bit
// scale, frame after frame. bits: 8, 16, 24, 32 or 64 (anything else gives
// nothing). channels >= 1; rate in Hz; format 3 asks for IEEE float at 32
// bits, anything else integer PCM; 64 bits are always IEEE double, 8, 16 and
// 24 bits always integer, and the header's format tag says so. A negative
// count writes no samples; NaN values are written as 0.0.
std::optional<std::vector<std::uint8_t>> wav_encode(const double* values, std::int32_t count,
                                                    std::int32_t bits, std::int32_t channels,
                                                    std::int32_t rate, std::int16_t format);

// Writes the file to path, or to the standard output stream when path is
// exactly "-". A file is written under a temporary name in the same folder and
// renamed into place only when every byte was written, so no half-written
// output is ever left behind. Returns the file's length in bytes (data bytes +
// 44), or -1 when it could not be written.
std::int64_t wav_write(const PathString& path, const double* values, std::int32_t count,
                       std::int32_t bits, std::int32_t channels, std::int32_t rate,
                       std::int16_t format);

}  // namespace kelmotra
