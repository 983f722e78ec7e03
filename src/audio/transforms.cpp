#include "audio/transforms.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "audio/det_math.h"
#include "audio/packed_rdft.h"

namespace kelmotra {

namespace {

// In-place bit-reversal permutation, computed on the fly (no index table
// is kept between calls).
//
// For sizes with an even number of bits (1024 = 2^10 among them) an index is
// a pair (H, L) of half-width numbers, i = H * w + L with w = sqrt(n), and its
// reverse is rev(L) * w + rev(H). So i lies below its reverse exactly when
// H < rev(L): for every L the pairs to swap are those with H = 0 .. rev(L) - 1,
// and each is swapped once with no comparison to make. The reverses of the
// half-width numbers come from a reversed counter, w of them per call.
//
// Other sizes walk every index with a reversed counter that steps through
// the even indices only (the reverse of an odd i + 1 is that of i plus n/2),
// swapping each pair (i, reverse of i) with i below its reverse.
//
// Either way the same disjoint pairs are swapped, so the result is the
// permutation itself, whatever the order of the swaps.
void bit_reverse(std::int32_t n, double* x) {
    std::int32_t bits = 0;
    while ((1 << bits) < n) ++bits;
    constexpr std::int32_t kMaxHalf = 64;  // half widths up to 6 bits: n up to 4096
    if (bits % 2 == 0 && (1 << (bits / 2)) <= kMaxHalf) {
        const std::int32_t w = 1 << (bits / 2);
        std::int32_t rev[kMaxHalf];
        rev[0] = 0;
        for (std::int32_t v = 1, r = 0; v < w; ++v) {
            std::int32_t h = w >> 1;
            r ^= h;
            while (h > r) {
                h >>= 1;
                r ^= h;
            }
            rev[v] = r;
        }
        for (std::int32_t low = 0; low < w; ++low) {
            const std::int32_t rl = rev[low];
            double* column = x + low;   // x[H * w + low]
            double* row = x + rl * w;   // x[rl * w + rev(H)]
            for (std::int32_t high = 0; high < rl; ++high) {
                std::swap(column[high * w], row[rev[high]]);
            }
        }
        return;
    }
    const std::int32_t half = n >> 1;
    std::int32_t j = 0;
    for (std::int32_t i = 0; i < n; i += 2) {
        if (i > 0) {
            // Add 2 to the reversed counter: the carry runs downward from n/4.
            std::int32_t h = n >> 2;
            j ^= h;
            while (h > j) {
                h >>= 1;
                j ^= h;
            }
        }
        if (i < j) std::swap(x[i], x[j]);
        if (i + 1 < j + half) std::swap(x[i + 1], x[j + half]);
    }
}

// Pairs of doubles for the butterflies of neighbouring j: each lane is an
// ordinary IEEE double operation, so a pair gives exactly the two scalar
// results (the compilers we build with map these onto SSE2 or NEON).
typedef double Pair __attribute__((vector_size(16)));

inline Pair load_pair(const double* p) {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store_pair(double* p, Pair v) { std::memcpy(p, &v, sizeof v); }
inline Pair swap_pair(Pair v) { return Pair{v[1], v[0]}; }

// Blocks of a stage at or above this size run their butterflies block by
// block (long inner loops over j); smaller ones twiddle by twiddle (long
// inner loops over the blocks). Each butterfly is independent of the others
// in its stage, so the order changes nothing in the results.
constexpr std::int32_t kBlockwiseFrom = 32;

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
    t.angle.assign(static_cast<std::size_t>(n / 2) + 1, 0.0);
    for (std::int32_t e = 0; e <= n / 2; ++e) t.angle[static_cast<std::size_t>(e)] = table_angle(e, n);
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

// Sizes from kPackedMinSize to kPackedMaxSize go through the complex
// transform of half the length; the others take the radix-2 transform.
void rdft_forward(std::int32_t n, double* x, const double* twiddle, double* work) {
    if (n >= kPackedMinSize && n <= kPackedMaxSize) {
        packed_rdft_forward(n, x, twiddle, work);
    } else {
        rdft_forward_radix2(n, x, twiddle);
    }
}

void rdft_inverse(std::int32_t n, double* y, const double* twiddle, double* work) {
    if (n >= kPackedMinSize && n <= kPackedMaxSize) {
        packed_rdft_inverse(n, y, twiddle, work);
    } else {
        rdft_inverse_radix2(n, y, twiddle);
    }
}

// Decimation in time: after the bit reversal, blocks of size d = 2, 4, ... n
// are combined from their two halves. Each block keeps its real spectrum in
// the layout of the header (cosine terms from the block start upward, sine
// terms from the block end downward), so the butterflies work on four reals
// at a time and never need complex storage.
void rdft_forward_radix2(std::int32_t n, double* x, const double* twiddle) {
    bit_reverse(n, x);
    std::int32_t d = 2;
    if (n >= 8) {
        // Blocks of 2, 4 and 8 in one pass over each group of eight, kept in
        // registers: the same operations in the same order per value as the
        // three separate stages. The block of 8 has one twiddle (j = 1).
        const double co = twiddle[2 * (n / 8)];
        const double si = twiddle[2 * (n / 8) + 1];
        for (std::int32_t s = 0; s < n; s += 8) {
            double* v = x + s;
            double x0 = v[0], x1 = v[1], x2 = v[2], x3 = v[3];
            double x4 = v[4], x5 = v[5], x6 = v[6], x7 = v[7];
            double t;
            t = x1; x1 = x0 - t; x0 = x0 + t;  // d = 2
            t = x3; x3 = x2 - t; x2 = x2 + t;
            t = x5; x5 = x4 - t; x4 = x4 + t;
            t = x7; x7 = x6 - t; x6 = x6 + t;
            t = x2; x2 = x0 - t; x0 = x0 + t;  // d = 4
            t = x6; x6 = x4 - t; x4 = x4 + t;
            t = x4; x4 = x0 - t; x0 = x0 + t;  // d = 8
            const double vv = x7 * co + x5 * si;
            const double u = x5 * co - x7 * si;
            v[0] = x0;
            v[1] = x1 + u;
            v[2] = x2;
            v[3] = x1 - u;
            v[4] = x4;
            v[5] = vv - x3;
            v[6] = x6;
            v[7] = vv + x3;
        }
        d = 16;
    }
    for (; d <= n; d <<= 1) {
        const std::int32_t b = d >> 1;
        const std::int32_t q = n / d;
        for (std::int32_t s = 0; s < n; s += d) {
            double t = x[s + b];
            x[s + b] = x[s] - t;
            x[s] = x[s] + t;
        }
        if (b < 4) continue;
        const std::int32_t jn = b / 2;
        if (d >= kBlockwiseFrom) {
            for (std::int32_t s = 0; s < n; s += d) {
                double* lo = x + s;       // x[s + j] and, downward, x[s + b - j]
                double* hi = x + s + b;   // x[s + b + j] and, downward, x[s + d - j]
                const double* tw = twiddle + 2 * q;
                // j and j + 1 together; the four pairs of places never overlap
                // since j + 1 < b - j - 1. The last j (jn - 1, odd count) alone.
                std::int32_t j = 1;
                for (; j + 1 < jn; j += 2, tw += 4 * q) {
                    const Pair co = {tw[0], tw[2 * q]};
                    const Pair si = {tw[1], tw[2 * q + 1]};
                    const Pair a = swap_pair(load_pair(hi + b - j - 1));
                    const Pair bb = load_pair(hi + j);
                    const Pair e = swap_pair(load_pair(lo + b - j - 1));
                    const Pair dd = load_pair(lo + j);
                    const Pair v = a * co + bb * si;
                    const Pair u = bb * co - a * si;
                    store_pair(hi + j, v - e);
                    store_pair(hi + b - j - 1, swap_pair(v + e));
                    store_pair(lo + b - j - 1, swap_pair(dd - u));
                    store_pair(lo + j, dd + u);
                }
                for (; j < jn; ++j, tw += 2 * q) {
                    const double co = tw[0];
                    const double si = tw[1];
                    double a = hi[b - j];
                    double bb = hi[j];
                    double e = lo[b - j];
                    double dd = lo[j];
                    double v = a * co + bb * si;
                    double u = bb * co - a * si;
                    hi[j] = v - e;
                    hi[b - j] = v + e;
                    lo[b - j] = dd - u;
                    lo[j] = dd + u;
                }
            }
            continue;
        }
        for (std::int32_t j = 1; j < jn; ++j) {
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
void rdft_inverse_radix2(std::int32_t n, double* y, const double* twiddle) {
    y[0] = y[0] * 0.5;
    y[n / 2] = y[n / 2] * 0.5;
    // With n >= 8 the blocks of 8, 4 and 2 are done together below.
    const std::int32_t last = n >= 8 ? 16 : 2;
    for (std::int32_t d = n; d >= last; d >>= 1) {
        const std::int32_t b = d >> 1;
        const std::int32_t q = n / d;
        for (std::int32_t s = 0; s < n; s += d) {
            double a = y[s];
            double t = y[s + b];
            y[s] = a + t;
            y[s + b] = a - t;
        }
        if (b < 4) continue;
        const std::int32_t jn = b / 2;
        if (d >= kBlockwiseFrom) {
            for (std::int32_t s = 0; s < n; s += d) {
                double* lo = y + s;
                double* hi = y + s + b;
                const double* tw = twiddle + 2 * q;
                std::int32_t j = 1;
                for (; j + 1 < jn; j += 2, tw += 4 * q) {
                    const Pair co = {tw[0], tw[2 * q]};
                    const Pair si = {tw[1], tw[2 * q + 1]};
                    const Pair a = swap_pair(load_pair(hi + b - j - 1));
                    const Pair bb = load_pair(hi + j);
                    const Pair e = swap_pair(load_pair(lo + b - j - 1));
                    const Pair dd = load_pair(lo + j);
                    const Pair sum = a + bb;
                    const Pair diff = dd - e;
                    store_pair(lo + j, e + dd);
                    store_pair(lo + b - j - 1, swap_pair(a - bb));
                    store_pair(hi + j, sum * si + diff * co);
                    store_pair(hi + b - j - 1, swap_pair(sum * co - diff * si));
                }
                for (; j < jn; ++j, tw += 2 * q) {
                    const double co = tw[0];
                    const double si = tw[1];
                    double a = hi[b - j];
                    double bb = hi[j];
                    double e = lo[b - j];
                    double dd = lo[j];
                    double sum = a + bb;
                    double diff = dd - e;
                    lo[j] = e + dd;
                    lo[b - j] = a - bb;
                    hi[j] = sum * si + diff * co;
                    hi[b - j] = sum * co - diff * si;
                }
            }
            continue;
        }
        for (std::int32_t j = 1; j < jn; ++j) {
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
    if (n >= 8) {
        // Blocks of 8, 4 and 2 in one pass over each group of eight, as in
        // rdft_forward.
        const double co = twiddle[2 * (n / 8)];
        const double si = twiddle[2 * (n / 8) + 1];
        for (std::int32_t s = 0; s < n; s += 8) {
            double* v = y + s;
            double y0 = v[0], y1 = v[1], y2 = v[2], y3 = v[3];
            double y4 = v[4], y5 = v[5], y6 = v[6], y7 = v[7];
            double a, t;
            a = y0; t = y4; y0 = a + t; y4 = a - t;  // d = 8
            const double sum = y7 + y5;
            const double diff = y1 - y3;
            const double n1 = y3 + y1;
            const double n3 = y7 - y5;
            y5 = sum * si + diff * co;
            y7 = sum * co - diff * si;
            y1 = n1;
            y3 = n3;
            a = y0; t = y2; y0 = a + t; y2 = a - t;  // d = 4
            a = y4; t = y6; y4 = a + t; y6 = a - t;
            a = y0; t = y1; y0 = a + t; y1 = a - t;  // d = 2
            a = y2; t = y3; y2 = a + t; y3 = a - t;
            a = y4; t = y5; y4 = a + t; y5 = a - t;
            a = y6; t = y7; y6 = a + t; y7 = a - t;
            v[0] = y0;
            v[1] = y1;
            v[2] = y2;
            v[3] = y3;
            v[4] = y4;
            v[5] = y5;
            v[6] = y6;
            v[7] = y7;
        }
    }
    bit_reverse(n, y);
}

}  // namespace kelmotra
