// Interpolating sample readers: the first channel of raw, interleaved WAV data
// read at any real-valued frame position by windowed-sinc interpolation, on
// the 16-bit scale (full scale about +-32768) that the pitch analysis works in.
//
// The readers work on the bytes of the data chunk as stored. Each sums the raw
// stored values (24-bit ones sign-extended) weighted by the kernel, divides by
// the sum of all kernel weights and converts that normalised raw value once:
//
//   reader           stored as                    conversion of the raw value
//   interpolateU8    8-bit unsigned               * 256, then - 32640
//   interpolateS16   16-bit signed                none
//   interpolateS24   24-bit signed, 3 bytes       * (1/256)
//   interpolateS32   32-bit signed integer        * (1/65536)
//   interpolateF32   32-bit IEEE float            * 32768
//
// Frames that do not exist (before frame 0, or at or after the caller's frame
// count) contribute no value but their kernel weight still counts in the
// normalisation, exactly as zero bytes of padding would: near either end of
// the data the readings fade toward the conversion of a raw 0 (0.0 for the
// signed formats, -32640 for 8-bit data). No reader ever touches a byte
// outside data[0, frames * Ch * bytes-per-sample).
#pragma once

#include <cstdint>
#include <optional>

namespace kelmotra {

// pi as the kernel uses it.
inline constexpr double kKernelPi = 3.14159265358979;

// Largest kernel scale the readers accept; larger (or non-positive) scales
// read as "no frame" (the conversion of a raw 0).
inline constexpr double kMaxKernelScale = 1024.0;

// sin(t)/t, 1 at t = 0, summed as its Maclaurin series (never by division):
// terms up to t^26/27! for |t| <= kKernelPi, six more (up to t^38/39!) above.
// Agrees with sin(t)/t to within 2e-15 for |t| <= 2*pi.
// t: the argument in radians. Returns the value (dimensionless).
double sincSeries(double t);

// Kernel weight of a frame at signed distance `offset` (frames, frame index
// minus reading position) for kernel scale b (frames, > 0):
// sincSeries(offset * pi / b) * cos(offset * pi / b / 4).
double sincKernelWeight(double offset, double b);

// The kernel of one reading at scale 1 (the analysis' scale): the frames
// lo = ceil(x - 2) .. floor(x + 2) and their weights. All positions with the
// same fractional part share the weights; the kernel of x + m (m a whole
// number, x + m exact) is this one shifted by m frames, bit for bit.
struct SincKernel {
    std::int64_t first = 0;      // lo, a frame index
    int count = 0;               // frames in the span: 4, or 5 at a whole-number x
    double weight[5] = {};       // weight of frame first + i
    double weight_sum = 0.0;     // sum of all weights, in frame order
};

// The scale-1 kernel at position x (frames). x must be finite with
// |x| < 2^50; nothing otherwise.
std::optional<SincKernel> sincKernel1(double x);

// Readers. Each takes
//   x       position in frames (any double; non-finite positions read as "no
//           frame", as do positions whose whole span lies outside the data);
//   data    first byte of the data chunk (borrowed, only read); may be
//           nullptr when frames is 0;
//   frames  number of frames whose channel-0 sample the reader may read:
//           bytes [j*Ch*w, j*Ch*w + w) of data, w the bytes per sample, must
//           lie in the caller's buffer for every j < frames;
//   b       kernel scale in frames (the analysis passes 1.0);
//   Ch      channel count (>= 1), which sets the stride; Ch < 1 reads as "no
//           frame".
// Returns the interpolated channel-0 value on the 16-bit scale.
double interpolateU8(double x, const std::uint8_t* data, std::int64_t frames, double b,
                     std::int32_t Ch);
double interpolateS16(double x, const std::uint8_t* data, std::int64_t frames, double b,
                      std::int32_t Ch);
double interpolateS24(double x, const std::uint8_t* data, std::int64_t frames, double b,
                      std::int32_t Ch);
double interpolateS32(double x, const std::uint8_t* data, std::int64_t frames, double b,
                      std::int32_t Ch);
double interpolateF32(double x, const std::uint8_t* data, std::int64_t frames, double b,
                      std::int32_t Ch);

// How one stored sample is coded.
enum class SampleCoding { U8, S16, S24, S32, F32 };

// The coding for a WAV depth (bits per sample) and format tag: 8 -> U8,
// 16 -> S16, 24 -> S24, 32 with tag 1 -> S32, 32 with any other tag -> F32.
// Nothing for any other depth (64-bit float included).
std::optional<SampleCoding> sample_coding(std::int32_t bits, std::uint16_t format_tag);

// Bytes of one stored sample of the coding (1 to 4).
int coding_bytes(SampleCoding coding);

// The raw stored value at p (coding_bytes(coding) bytes, borrowed) as a
// double, before conversion: the unsigned byte, the sign-extended integer, or
// the float. A float that is not finite reads as 0.
double raw_sample(SampleCoding coding, const std::uint8_t* p);

// A raw value (or a normalised sum of raw values) on the 16-bit scale, by the
// reader's conversion in the table above.
double raw_to_scale(SampleCoding coding, double raw);

// The same conversion for a coding known at compile time.
template <SampleCoding C>
inline double raw_to_scale_of(double raw) {
    if constexpr (C == SampleCoding::U8) return raw * 256.0 - 32640.0;
    if constexpr (C == SampleCoding::S16) return raw;
    if constexpr (C == SampleCoding::S24) return raw * (1.0 / 256.0);
    if constexpr (C == SampleCoding::S32) return raw * (1.0 / 65536.0);
    return raw * 32768.0;
}

// The reader of the coding (interpolateU8 .. interpolateF32), same arguments.
double interpolate(SampleCoding coding, double x, const std::uint8_t* data, std::int64_t frames,
                   double b, std::int32_t Ch);

}  // namespace kelmotra
