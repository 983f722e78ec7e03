// Real-valued Fourier transforms of one frame, in place, and the tables they
// and the hop loop share: the complex roots of unity ("twiddle") and the
// periodic Hann window.
//
// Spectrum layout of an n-point real array y after rdft_forward:
//   y[k]     = C(k) = sum_t x[t] cos(2 pi k t / n)   for k = 0 .. n/2
//   y[n - k] = S(k) = sum_t x[t] sin(2 pi k t / n)   for k = 1 .. n/2 - 1
// (S(k) is the negated imaginary part of the usual forward DFT term.) No
// scaling: rdft_inverse(rdft_forward(x)) gives n/2 times x. Sizes 16 to
// 4096 run through a complex transform of half the length
// (audio/packed_rdft.h), the others through a radix-2 real transform; the two
// agree to rounding.
#pragma once

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/det_math.h"

namespace kelmotra {

inline constexpr std::int32_t kFrameSize = 1024;     // samples per analysis frame
inline constexpr double kTwoPi = 6.283185307179586;  // 2 pi as the tables use it

// The tables of one transform size, built once per run and read-only after.
inline constexpr std::int32_t kAtanSteps = 128;  // atan table: ratios c = i / 128, i = 0..128

struct Tables {
    std::int32_t n = 0;            // transform size (a power of two, >= 2)
    std::vector<double> twiddle;   // 2n doubles: entry e = (cos, sin)(2 pi e / n), interleaved
    std::vector<double> hann;      // n doubles: 0.5 - 0.5 cos(2 pi i / n); hann[0] = 0, hann[n/2] = 1
    std::vector<double> angle;     // n/2 + 1 doubles: table_angle(e, n), radians, e = 0 .. n/2
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
// n. work: nullptr, or 2n doubles of scratch owned by the caller (their
// contents on entry and return mean nothing), which spares the stack. No
// allocation, no trigonometric call.
void rdft_forward(std::int32_t n, double* x, const double* twiddle, double* work = nullptr);

// Inverse transform of y (n doubles in the layout above, overwritten in place)
// into x[t] = y[0]/2 + y[n/2]/2 (-1)^t
//            + sum_{k=1}^{n/2-1} (y[k] cos(2 pi k t / n) + y[n-k] sin(2 pi k t / n)).
// twiddle and work as for rdft_forward.
void rdft_inverse(std::int32_t n, double* y, const double* twiddle, double* work = nullptr);

// The radix-2 real transforms behind rdft_forward and rdft_inverse, for
// every power-of-two n >= 2: the same layout and scaling, in place, no
// allocation. rdft_forward and rdft_inverse use them for the sizes the
// packed transforms (audio/packed_rdft.h, 16 to 4096 points) leave out.
void rdft_forward_radix2(std::int32_t n, double* x, const double* twiddle);
void rdft_inverse_radix2(std::int32_t n, double* y, const double* twiddle);

// Angle of table entry e of an n-point twiddle table, 2 pi e / n, always
// formed this way, so that table_sincos knows the exact angle an entry holds.
inline double table_angle(std::int32_t e, std::int32_t n) {
    return kTwoPi * static_cast<double>(e) / static_cast<double>(n);
}

// cos and sin of an angle theta (radians, |theta| <= about pi) from the
// twiddle table of `tables` (n >= 8), to within one or two units in the last
// place of det_cos / det_sin. Used for the per-bin synthesis phases, so that a
// hop makes no trigonometric call per bin. Out-of-range or non-finite theta
// gives values that are not meaningful (but no undefined behaviour).
// Outputs: c = cos theta, s = sin theta.
//
// |theta| = a_e + r with a_e the table angle nearest |theta| (e = 0 .. n/2)
// and |r| <= pi / n. The remainder is exact (the two are within a factor of
// two of each other, or a_e = 0). For n = 1024, |r| < 0.0031 and the series
// below are exact to far below one unit in the last place; the result
// carries the table's own rounding plus one or two of the combination.
inline void table_sincos(const Tables& tables, double theta, double& c, double& s) {
    const std::int32_t half = tables.n / 2;
    const double a = std::fabs(theta);
    double idx = a * (static_cast<double>(tables.n) / kTwoPi) + 0.5;
    if (!(idx >= 0.0)) idx = 0.0;  // NaN
    if (idx > half) idx = half;
    const auto e = static_cast<std::int32_t>(idx);  // idx >= 0: truncation is floor
    const double r = a - table_angle(e, tables.n);
    const double r2 = r * r;
    // cos r - 1 and sin r by their Taylor series (Horner form).
    const double cm1 = -r2 * (0.5 - r2 * (1.0 / 24.0 - r2 * (1.0 / 720.0 - r2 * (1.0 / 40320.0))));
    const double sr = r * (1.0 - r2 * (1.0 / 6.0 - r2 * (1.0 / 120.0 - r2 * (1.0 / 5040.0))));
    const double ce = tables.twiddle[2 * static_cast<std::size_t>(e)];
    const double se = tables.twiddle[2 * static_cast<std::size_t>(e) + 1];
    c = ce + (ce * cm1 - se * sr);
    const double sa = se + (se * cm1 + ce * sr);
    // The sign of theta, by its sign bit rather than a branch (a theta of -0
    // gives a sine of -0 where a comparison would give +0: the same number).
    s = sa * std::copysign(1.0, theta);
}

// atan2(y, x) in radians, [-pi, pi], from the atan table of `tables`, to
// within one or two units in the last place of det_atan2. Zeros, infinities
// and NaNs are handed to det_atan2 itself, so the signed-zero and quadrant
// conventions are exactly the standard ones. Used for the per-bin analysis
// phases, so that a hop makes no trigonometric call per bin.
//
// With a = the smaller and b = the larger of |x| and |y|, atan(a / b) is
// atan(c) + atan(u) for the table ratio c = i / 128 nearest a / b and
// u = (a - c b) / (b + c a), |u| <= 1/256, whose series is cut after u^7
// (the next term is below 1e-20 relative). The four quadrant and octant
// cases each have their own table column, so the last step is one addition
// of a small term to a correctly rounded angle.
//
// The phases of a spectrum fall in every octant at random, so the octant is
// chosen by arithmetic rather than by branches: the table column, and the
// sign (+1 or -1, exact) with which the small angle enters, are indexed.
inline double table_atan2(const Tables& tables, double y, double x) {
    const double ax = std::fabs(x);
    const double ay = std::fabs(y);
    if (!(ax > 0.0 && ay > 0.0 && ax <= DBL_MAX && ay <= DBL_MAX)) return det_atan2(y, x);
    const double a = std::min(ay, ax);  // the smaller
    const double b = std::max(ay, ax);  // the larger
    const auto i = static_cast<std::int32_t>(a / b * kAtanSteps + 0.5);  // 0 .. 128
    const double c = static_cast<double>(i) / kAtanSteps;
    const double u = (a - c * b) / (b + c * a);
    const double u2 = u * u;
    const double p = u - u * u2 * (1.0 / 3.0 - u2 * (1.0 / 5.0 - u2 * (1.0 / 7.0)));
    // Columns: 0 atan c (x > 0, |y| <= |x|), 1 pi/2 - atan c (x > 0, steep),
    // 2 pi - atan c (x < 0, flat), 3 pi/2 + atan c (x < 0, steep).
    static constexpr double kSign[4] = {1.0, -1.0, -1.0, 1.0};
    const int col = (x > 0.0 ? 0 : 2) + (ay > ax ? 1 : 0);
    const double r = tables.atan[4 * static_cast<std::size_t>(i) + col] + kSign[col] * p;
    return r * std::copysign(1.0, y);  // y is not zero here
}

}  // namespace kelmotra
