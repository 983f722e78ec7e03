#include "freqmap/sample_readers.h"

#include <cmath>
#include <cstring>

#include "audio/det_math.h"

namespace kelmotra {

namespace {

// (2k)(2k + 1) for k = 1 .. 19: the divisors of the series' successive terms.
constexpr double kSeriesDivisor[20] = {0,    6,    20,   42,   72,   110,  156,
                                       210,  272,  342,  420,  506,  600,  702,
                                       812,  930,  1056, 1190, 1332, 1482};

// Positions at or beyond this magnitude are treated as lying outside any data
// (keeps every double-to-integer conversion in range).
constexpr double kMaxPosition = 4503599627370496.0;  // 2^52

std::int32_t get_s16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

std::int32_t get_s24(const std::uint8_t* p) {
    std::uint32_t u = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                      (static_cast<std::uint32_t>(p[2]) << 16);
    if (u & 0x800000u) u |= 0xFF000000u;
    return static_cast<std::int32_t>(u);
}

std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

template <SampleCoding C>
double raw_of(const std::uint8_t* p) {
    if constexpr (C == SampleCoding::U8) {
        return static_cast<double>(p[0]);
    } else if constexpr (C == SampleCoding::S16) {
        return static_cast<double>(get_s16(p));
    } else if constexpr (C == SampleCoding::S24) {
        return static_cast<double>(get_s24(p));
    } else if constexpr (C == SampleCoding::S32) {
        return static_cast<double>(static_cast<std::int32_t>(get_u32(p)));
    } else {
        const std::uint32_t u = get_u32(p);
        float f;
        std::memcpy(&f, &u, 4);
        return std::isfinite(f) ? static_cast<double>(f) : 0.0;
    }
}

template <SampleCoding C>
constexpr int bytes_of() {
    if constexpr (C == SampleCoding::U8) return 1;
    if constexpr (C == SampleCoding::S16) return 2;
    if constexpr (C == SampleCoding::S24) return 3;
    return 4;
}

template <SampleCoding C>
double read_at(double x, const std::uint8_t* data, std::int64_t frames, double b, std::int32_t Ch) {
    const double none = raw_to_scale_of<C>(0.0);
    if (!(b > 0.0 && b <= kMaxKernelScale) || Ch < 1) return none;
    if (!(x > -kMaxPosition && x < kMaxPosition)) return none;
    if (frames < 0 || data == nullptr) frames = 0;
    const double reach = 2.0 * b;
    // A span that holds no existing frame has a value sum of 0.
    if (!(x + reach >= 0.0) || !(x - reach < static_cast<double>(frames))) return none;

    const std::int64_t lo = static_cast<std::int64_t>(std::ceil(x - reach));
    const std::int64_t hi = static_cast<std::int64_t>(std::floor(x + reach));
    const std::size_t stride = static_cast<std::size_t>(Ch) * static_cast<std::size_t>(bytes_of<C>());
    double weight_sum = 0.0;
    double value_sum = 0.0;
    for (std::int64_t j = lo; j <= hi; ++j) {
        const double w = sincKernelWeight(static_cast<double>(j) - x, b);
        weight_sum += w;
        if (j >= 0 && j < frames) value_sum += w * raw_of<C>(data + static_cast<std::size_t>(j) * stride);
    }
    return raw_to_scale_of<C>(value_sum / weight_sum);
}

}  // namespace

double sincSeries(double t) {
    const double t2 = t * t;
    const int last = std::fabs(t) <= kKernelPi ? 13 : 19;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k <= last; ++k) {
        term = term * t2 / kSeriesDivisor[k];
        if (k & 1)
            sum -= term;
        else
            sum += term;
    }
    return sum;
}

double sincKernelWeight(double offset, double b) {
    const double t = offset * kKernelPi / b;
    return sincSeries(t) * det_cos(t / 4.0);
}

std::optional<SincKernel> sincKernel1(double x) {
    if (!(x > -1125899906842624.0 && x < 1125899906842624.0)) return std::nullopt;  // 2^50
    SincKernel k;
    k.first = static_cast<std::int64_t>(std::ceil(x - 2.0));
    const std::int64_t hi = static_cast<std::int64_t>(std::floor(x + 2.0));
    const std::int64_t count = hi - k.first + 1;
    if (count < 1 || count > 5) return std::nullopt;
    k.count = static_cast<int>(count);
    for (int i = 0; i < k.count; ++i) {
        k.weight[i] = sincKernelWeight(static_cast<double>(k.first + i) - x, 1.0);
        k.weight_sum += k.weight[i];
    }
    return k;
}

double interpolateU8(double x, const std::uint8_t* data, std::int64_t frames, double b,
                     std::int32_t Ch) {
    return read_at<SampleCoding::U8>(x, data, frames, b, Ch);
}

double interpolateS16(double x, const std::uint8_t* data, std::int64_t frames, double b,
                      std::int32_t Ch) {
    return read_at<SampleCoding::S16>(x, data, frames, b, Ch);
}

double interpolateS24(double x, const std::uint8_t* data, std::int64_t frames, double b,
                      std::int32_t Ch) {
    return read_at<SampleCoding::S24>(x, data, frames, b, Ch);
}

double interpolateS32(double x, const std::uint8_t* data, std::int64_t frames, double b,
                      std::int32_t Ch) {
    return read_at<SampleCoding::S32>(x, data, frames, b, Ch);
}

double interpolateF32(double x, const std::uint8_t* data, std::int64_t frames, double b,
                      std::int32_t Ch) {
    return read_at<SampleCoding::F32>(x, data, frames, b, Ch);
}

std::optional<SampleCoding> sample_coding(std::int32_t bits, std::uint16_t format_tag) {
    switch (bits) {
        case 8:
            return SampleCoding::U8;
        case 16:
            return SampleCoding::S16;
        case 24:
            return SampleCoding::S24;
        case 32:
            return format_tag == 1 ? SampleCoding::S32 : SampleCoding::F32;
        default:
            return std::nullopt;
    }
}

int coding_bytes(SampleCoding coding) {
    switch (coding) {
        case SampleCoding::U8:
            return 1;
        case SampleCoding::S16:
            return 2;
        case SampleCoding::S24:
            return 3;
        default:
            return 4;
    }
}

double raw_sample(SampleCoding coding, const std::uint8_t* p) {
    switch (coding) {
        case SampleCoding::U8:
            return raw_of<SampleCoding::U8>(p);
        case SampleCoding::S16:
            return raw_of<SampleCoding::S16>(p);
        case SampleCoding::S24:
            return raw_of<SampleCoding::S24>(p);
        case SampleCoding::S32:
            return raw_of<SampleCoding::S32>(p);
        default:
            return raw_of<SampleCoding::F32>(p);
    }
}

double raw_to_scale(SampleCoding coding, double raw) {
    switch (coding) {
        case SampleCoding::U8:
            return raw_to_scale_of<SampleCoding::U8>(raw);
        case SampleCoding::S16:
            return raw_to_scale_of<SampleCoding::S16>(raw);
        case SampleCoding::S24:
            return raw_to_scale_of<SampleCoding::S24>(raw);
        case SampleCoding::S32:
            return raw_to_scale_of<SampleCoding::S32>(raw);
        default:
            return raw_to_scale_of<SampleCoding::F32>(raw);
    }
}

double interpolate(SampleCoding coding, double x, const std::uint8_t* data, std::int64_t frames,
                   double b, std::int32_t Ch) {
    switch (coding) {
        case SampleCoding::U8:
            return interpolateU8(x, data, frames, b, Ch);
        case SampleCoding::S16:
            return interpolateS16(x, data, frames, b, Ch);
        case SampleCoding::S24:
            return interpolateS24(x, data, frames, b, Ch);
        case SampleCoding::S32:
            return interpolateS32(x, data, frames, b, Ch);
        default:
            return interpolateF32(x, data, frames, b, Ch);
    }
}

}  // namespace kelmotra
