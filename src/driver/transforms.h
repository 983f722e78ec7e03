// Real-valued Fourier transforms of one frame, in place, and the tables they
// and the hop loop share: the complex roots of unity ("twiddle") and the
// periodic Hann window.
//
// Spectrum layout of an n-point real array y after rdft_forward:
//   y[k]     = C(k) = sum_t x[t] cos(2 pi k t / n)   for k = 0 .. n/2
//   y[n - k] = S(k) = sum_t x[t] sin(2 pi k t / n)   for k = 1 .. n/2 - 1
// (S(k) is the negated imaginary part of the usual forward DFT term.) No
// scaling: rdft_inverse(rdft_forward(x)) gives n/2 times x.
#pragma once

#include <cstdint>
#include <vector>

namespace kelmotra {

inline constexpr std::int32_t kFrameSize = 1024;     // samples per analysis frame
inline constexpr double kTwoPi = 6.283185307179586;  // 2 pi as the tables use it

// The tables of one transform size, built once per run and read-only after.
inline constexpr std::int32_t kAtanSteps = 128;  // atan table: ratios c = i / 128, i = 0..128

struct Tables {
    std::int32_t n = 0;            // transform size (a power of two, >= 2)
    std::vector<double> twiddle;   // 2n doubles: entry e = (cos, sin)(2 pi e / n), interleaved
    std::vector<double> hann;      // n doubles: 0.5 - 0.5 cos(2 pi i / n); hann[0] = 0, hann[n/2] = 1
    // 4 (kAtanSteps + 1) doubles: for c = i / kAtanSteps, the four angles
    // atan2(c, 1), atan2(1, c), atan2(c, -1), atan2(1, -c) (radians) at
    // index 4 i .. 4 i + 3, for table_atan2.
    std::vector<double> atan;
};

// Builds the tables for transforms of n points (n a power of two, >= 2;
// the program uses kFrameSize). The result owns its arrays.
Tables build_tables(std::int32_t n = kFrameSize);

// Forward transform of x (n doubles, read and overwritten in place) into the
// layout above. twiddle: the 2n doubles of Tables::twiddle built for the same
// n. No allocation, no trigonometric call.
void rdft_forward(std::int32_t n, double* x, const double* twiddle);

// Inverse transform of y (n doubles in the layout above, overwritten in place)
// into x[t] = y[0]/2 + y[n/2]/2 (-1)^t
//            + sum_{k=1}^{n/2-1} (y[k] cos(2 pi k t / n) + y[n-k] sin(2 pi k t / n)).
// twiddle as for rdft_forward.
void rdft_inverse(std::int32_t n, double* y, const double* twiddle);

// cos and sin of an angle theta (radians, |theta| <= about pi) from the
// twiddle table of `tables` (any n >= 8), to within one or two units in the
// last place of det_cos / det_sin: the nearest table angle plus a short
// series for the small remainder. Used for the per-bin synthesis phases, so
// that a hop makes no trigonometric call per bin. Out-of-range or non-finite
// theta gives values that are not meaningful (but no undefined behaviour).
// Outputs: *c = cos theta, *s = sin theta.
void table_sincos(const Tables& tables, double theta, double* c, double* s);

// atan2(y, x) in radians, [-pi, pi], from the atan table of `tables`, to
// within one or two units in the last place of det_atan2: the table angle of
// the nearest ratio i / 128 plus a short series for the small remainder.
// Zeros, infinities and NaNs are handed to det_atan2 itself, so the signed
// zero and quadrant conventions are exactly the standard ones. Used for the
// per-bin analysis phases, so that a hop makes no trigonometric call per bin.
double table_atan2(const Tables& tables, double y, double x);

}  // namespace kelmotra
