#include "audio/wav_writer.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "audio/vec2.h"

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

// A double as single precision, rounded to nearest; values beyond the single
// range are held at its largest finite value (the conversion itself would be
// undefined there).
float to_single(double d) {
    if (d > FLT_MAX) return FLT_MAX;
    if (d < -FLT_MAX) return -FLT_MAX;
    return static_cast<float>(d);
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

    // The samples, converted depth by depth into the space after the header
    // (one pass per depth keeps the per-sample work free of branches on it).
    const std::size_t head = b.size();
    b.resize(head + static_cast<std::size_t>(data_bytes));
    std::uint8_t* o = b.data() + head;
    auto value = [&](std::uint64_t i) { return std::isnan(values[i]) ? 0.0 : values[i]; };  // NaN is silence
    switch (bits) {
        case 8:
            for (std::uint64_t i = 0; i < samples; ++i)
                *o++ = static_cast<std::uint8_t>(clamp_truncate(value(i) * 0.00390625 + 128.5, 0, 255));
            break;
        case 16: {
            // Two samples at a time, the same numbers: NaN to +0, clamped,
            // truncated toward zero (in range, so a 32-bit conversion).
            std::uint64_t i = 0;
            for (; i + 2 <= samples; i += 2, o += 4) {
                V2 v = v2_load(values + i);
                v = v2_and(v2_eq(v, v), v);
                v = v2_min(v2_max(v, v2_splat(-32768.0)), v2_splat(32767.0));
                std::int32_t a, b;
                v2_trunc_ints(v, a, b);
                const auto x = static_cast<std::uint32_t>(a);
                const auto y = static_cast<std::uint32_t>(b);
                o[0] = static_cast<std::uint8_t>(x);
                o[1] = static_cast<std::uint8_t>(x >> 8);
                o[2] = static_cast<std::uint8_t>(y);
                o[3] = static_cast<std::uint8_t>(y >> 8);
            }
            for (; i < samples; ++i, o += 2) {
                const auto x = static_cast<std::uint32_t>(clamp_truncate(value(i), -32768, 32767));
                o[0] = static_cast<std::uint8_t>(x);
                o[1] = static_cast<std::uint8_t>(x >> 8);
            }
            break;
        }
        case 24:
            for (std::uint64_t i = 0; i < samples; ++i, o += 3) {
                const auto x = static_cast<std::uint32_t>(clamp_truncate(value(i) * 256, -8388608, 8388607));
                o[0] = static_cast<std::uint8_t>(x);
                o[1] = static_cast<std::uint8_t>(x >> 8);
                o[2] = static_cast<std::uint8_t>(x >> 16);
            }
            break;
        case 32:
            for (std::uint64_t i = 0; i < samples; ++i, o += 4) {
                std::uint32_t u;
                if (tag == 3) {
                    const float f = to_single(value(i) / 32767.5);
                    std::memcpy(&u, &f, 4);
                } else {
                    u = static_cast<std::uint32_t>(clamp_truncate(value(i) * 65536, -2147483648.0, 2147483647.0));
                }
                for (int k = 0; k < 4; ++k) o[k] = static_cast<std::uint8_t>(u >> (8 * k));
            }
            break;
        default:
            for (std::uint64_t i = 0; i < samples; ++i, o += 8) {
                const double d = value(i) / 32767.5;
                std::uint64_t u;
                std::memcpy(&u, &d, 8);
                for (int k = 0; k < 8; ++k) o[k] = static_cast<std::uint8_t>(u >> (8 * k));
            }
            break;
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
