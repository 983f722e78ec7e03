#include "driver/transforms.h"

#include <cfloat>
#include <cmath>
#include <utility>

#include "audio/det_math.h"

namespace kelmotra {

namespace {

// Angle of table entry e for an n-point table: 2 pi e / n, always formed the
// same way so that table_sincos can recover the exact angle an entry holds.
double table_angle(std::int32_t e, std::int32_t n) {
    return kTwoPi * static_cast<double>(e) / static_cast<double>(n);
}

// In-place bit-reversal permutation, with the reversed counter kept on the
// fly (no index table): j runs through the bit reverses of i = 1 .. n-2.
void bit_reverse(std::int32_t n, double* x) {
    std::int32_t j = 0;
    for (std::int32_t i = 1; i < n - 1; ++i) {
        std::int32_t h = n >> 1;
        j ^= h;
        while (h > j) {
            h >>= 1;
            j ^= h;
        }
        if (i < j) std::swap(x[i], x[j]);
    }
}

}  // namespace

Tables build_tables(std::int32_t n) {
    Tables t;
    t.n = n;
    t.twiddle.assign(2 * static_cast<std::size_t>(n), 0.0);
    t.hann.assign(static_cast<std::size_t>(n), 0.0);
    for (std::int32_t e = 0; e < n; ++e) {
        double a = table_angle(e, n);
        t.twiddle[2 * static_cast<std::size_t>(e)] = det_cos(a);
        t.twiddle[2 * static_cast<std::size_t>(e) + 1] = det_sin(a);
        t.hann[static_cast<std::size_t>(e)] = 0.5 - 0.5 * det_cos(a);
    }
    t.atan.assign(4 * static_cast<std::size_t>(kAtanSteps + 1), 0.0);
    for (std::int32_t i = 0; i <= kAtanSteps; ++i) {
        const double c = static_cast<double>(i) / kAtanSteps;
        double* a = &t.atan[4 * static_cast<std::size_t>(i)];
        a[0] = det_atan2(c, 1.0);   // atan c
        a[1] = det_atan2(1.0, c);   // pi/2 - atan c
        a[2] = det_atan2(c, -1.0);  // pi - atan c
        a[3] = det_atan2(1.0, -c);  // pi/2 + atan c
    }
    return t;
}

// Decimation in time: after the bit reversal, blocks of size d = 2, 4, ... n
// are combined from their two halves. Each block keeps its real spectrum in
// the layout of the header (cosine terms from the block start upward, sine
// terms from the block end downward), so the butterflies work on four reals
// at a time and never need complex storage.
void rdft_forward(std::int32_t n, double* x, const double* twiddle) {
    bit_reverse(n, x);
    for (std::int32_t d = 2; d <= n; d <<= 1) {
        const std::int32_t b = d >> 1;
        const std::int32_t q = n / d;
        for (std::int32_t s = 0; s < n; s += d) {
            double t = x[s + b];
            x[s + b] = x[s] - t;
            x[s] = x[s] + t;
        }
        if (b < 4) continue;
        for (std::int32_t j = 1; j < b / 2; ++j) {
            const double co = twiddle[2 * j * q];
            const double si = twiddle[2 * j * q + 1];
            for (std::int32_t s = 0; s < n; s += d) {
                double a = x[s + d - j];
                double bb = x[s + b + j];
                double e = x[s + b - j];
                double dd = x[s + j];
                double v = a * co + bb * si;
                double u = bb * co - a * si;
                x[s + b + j] = v - e;
                x[s + d - j] = v + e;
                x[s + b - j] = dd - u;
                x[s + j] = dd + u;
            }
        }
    }
}

// Decimation in frequency: the forward butterflies run backwards, from the
// whole array down to pairs, then the bit reversal restores the order.
void rdft_inverse(std::int32_t n, double* y, const double* twiddle) {
    y[0] = y[0] * 0.5;
    y[n / 2] = y[n / 2] * 0.5;
    for (std::int32_t d = n; d >= 2; d >>= 1) {
        const std::int32_t b = d >> 1;
        const std::int32_t q = n / d;
        for (std::int32_t s = 0; s < n; s += d) {
            double a = y[s];
            double t = y[s + b];
            y[s] = a + t;
            y[s + b] = a - t;
        }
        if (b < 4) continue;
        for (std::int32_t j = 1; j < b / 2; ++j) {
            const double co = twiddle[2 * j * q];
            const double si = twiddle[2 * j * q + 1];
            for (std::int32_t s = 0; s < n; s += d) {
                double a = y[s + d - j];
                double bb = y[s + b + j];
                double e = y[s + b - j];
                double dd = y[s + j];
                double sum = a + bb;
                double diff = dd - e;
                y[s + j] = e + dd;
                y[s + b - j] = a - bb;
                y[s + b + j] = sum * si + diff * co;
                y[s + d - j] = sum * co - diff * si;
            }
        }
    }
    bit_reverse(n, y);
}

// theta = a_e + r with a_e the table angle nearest |theta| (e = 0 .. n/2) and
// |r| <= pi / n. The remainder r = |theta| - a_e is exact (the two are within
// a factor of two of each other, or a_e = 0). For n = 1024, |r| < 0.0031 and
// the series below are exact to far below one unit in the last place; the
// result carries the table's own rounding plus one or two of the combination.
void table_sincos(const Tables& tables, double theta, double* c, double* s) {
    const std::int32_t half = tables.n / 2;
    const double a = std::fabs(theta);
    double idx = std::floor(a * (static_cast<double>(tables.n) / kTwoPi) + 0.5);
    if (!(idx >= 0.0)) idx = 0.0;  // also catches NaN
    if (idx > half) idx = half;
    const auto e = static_cast<std::int32_t>(idx);
    const double r = a - table_angle(e, tables.n);
    const double r2 = r * r;
    // cos r - 1 and sin r by their Taylor series (Horner form).
    const double cm1 = -r2 * (0.5 - r2 * (1.0 / 24.0 - r2 * (1.0 / 720.0 - r2 * (1.0 / 40320.0))));
    const double sr = r * (1.0 - r2 * (1.0 / 6.0 - r2 * (1.0 / 120.0 - r2 * (1.0 / 5040.0))));
    const double ce = tables.twiddle[2 * static_cast<std::size_t>(e)];
    const double se = tables.twiddle[2 * static_cast<std::size_t>(e) + 1];
    *c = ce + (ce * cm1 - se * sr);
    const double sa = se + (se * cm1 + ce * sr);
    *s = theta < 0.0 ? -sa : sa;
}

// With a = the smaller and b = the larger of |x| and |y|, atan(a / b) is
// atan(c) + atan(u) for the table ratio c = i / 128 nearest a / b and
// u = (a - c b) / (b + c a), |u| <= 1/256, whose series is cut after u^7
// (the next term is below 1e-20 relative). The four quadrant and octant
// cases each have their own table column, so the final step is one addition
// of a small term to a correctly rounded angle.
double table_atan2(const Tables& tables, double y, double x) {
    const double ax = std::fabs(x);
    const double ay = std::fabs(y);
    if (!(ax > 0.0 && ay > 0.0 && ax <= DBL_MAX && ay <= DBL_MAX)) return det_atan2(y, x);
    const bool steep = ay > ax;
    const double a = steep ? ax : ay;
    const double b = steep ? ay : ax;
    const auto i = static_cast<std::int32_t>(a / b * kAtanSteps + 0.5);  // 0 .. 128
    const double c = static_cast<double>(i) / kAtanSteps;
    const double u = (a - c * b) / (b + c * a);
    const double u2 = u * u;
    const double p = u - u * u2 * (1.0 / 3.0 - u2 * (1.0 / 5.0 - u2 * (1.0 / 7.0)));
    const double* row = &tables.atan[4 * static_cast<std::size_t>(i)];
    double r;
    if (x > 0.0) {
        r = steep ? row[1] - p : row[0] + p;
    } else {
        r = steep ? row[3] + p : row[2] - p;
    }
    return y < 0.0 ? -r : r;
}

}  // namespace kelmotra
