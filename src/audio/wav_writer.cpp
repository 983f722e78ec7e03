#include "audio/wav_writer.h"

#include <cmath>
#include <cstring>

namespace kelmotra {

namespace {

void put16(std::vector<std::uint8_t>& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Clamps v into [lo, hi] and truncates toward zero.
std::int64_t clamp_truncate(double v, double lo, double hi) {
    if (v < lo) v = lo;
    if (v > hi) v = hi;
    return static_cast<std::int64_t>(v);
}

}  // namespace

std::optional<std::vector<std::uint8_t>> wav_encode(const double* values, std::int32_t count,
                                                    std::int32_t bits, std::int32_t channels,
                                                    std::int32_t rate, std::int16_t format) {
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32 && bits != 64) return std::nullopt;
    if (channels < 1 || channels > 65535) return std::nullopt;
    if (count < 0) count = 0;
    // The tag says what the samples are: doubles are always float, 32 bits
    // are float when asked for, everything else is integer PCM.
    const std::uint32_t tag = bits == 64 || (bits == 32 && format == 3) ? 3u : 1u;
    const std::uint32_t align = static_cast<std::uint32_t>(bits / 8 * channels);
    const std::uint64_t samples = static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(channels);
    const std::uint64_t data_bytes = samples * static_cast<std::uint64_t>(bits / 8);
    if (data_bytes > 0xFFFFFFFFull - 36) return std::nullopt;

    std::vector<std::uint8_t> b;
    b.reserve(static_cast<std::size_t>(44 + data_bytes));
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    put32(b, static_cast<std::uint32_t>(data_bytes + 36));
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(b, 16);
    put16(b, tag);
    put16(b, static_cast<std::uint32_t>(channels));
    put32(b, static_cast<std::uint32_t>(rate));
    put32(b, align * static_cast<std::uint32_t>(rate));
    put16(b, align);
    put16(b, static_cast<std::uint32_t>(bits));
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    put32(b, static_cast<std::uint32_t>(data_bytes));

    for (std::uint64_t i = 0; i < samples; ++i) {
        const double v = std::isnan(values[i]) ? 0.0 : values[i];  // NaN is written as silence
        switch (bits) {
            case 8:
                b.push_back(static_cast<std::uint8_t>(clamp_truncate(v * 0.00390625 + 128.5, 0, 255)));
                break;
            case 16:
                put16(b, static_cast<std::uint32_t>(clamp_truncate(v, -32768, 32767)));
                break;
            case 24: {
                auto x = static_cast<std::uint32_t>(clamp_truncate(v * 256, -8388608, 8388607));
                b.push_back(static_cast<std::uint8_t>(x));
                b.push_back(static_cast<std::uint8_t>(x >> 8));
                b.push_back(static_cast<std::uint8_t>(x >> 16));
                break;
            }
            case 32:
                if (tag == 3) {
                    float f = static_cast<float>(v / 32767.5);
                    std::uint32_t u;
                    std::memcpy(&u, &f, 4);
                    put32(b, u);
                } else {
                    put32(b, static_cast<std::uint32_t>(clamp_truncate(v * 65536, -2147483648.0, 2147483647.0)));
                }
                break;
            default: {
                double d = v / 32767.5;
                std::uint64_t u;
                std::memcpy(&u, &d, 8);
                put32(b, static_cast<std::uint32_t>(u));
                put32(b, static_cast<std::uint32_t>(u >> 32));
                break;
            }
        }
    }
    return b;
}

std::int64_t wav_write(const PathString& path, const double* values, std::int32_t count,
                       std::int32_t bits, std::int32_t channels, std::int32_t rate,
                       std::int16_t format) {
    auto bytes = wav_encode(values, count, bits, channels, rate, format);
    if (!bytes) return -1;
    bool ok = path == path_from_ascii("-") ? write_stdout(bytes->data(), bytes->size())
                                           : write_file_atomic(path, bytes->data(), bytes->size());
    return ok ? static_cast<std::int64_t>(bytes->size()) : -1;
}

}  // namespace kelmotra
