#include "audio/packed_rdft.h"

#include "audio/vec2.h"

namespace kelmotra {

namespace {

// A complex number is a V2 (re, im); complex index c of an array is the
// doubles 2c and 2c + 1.
inline V2 cload(const double* z, std::int32_t c) { return v2_load(z + 2 * c); }
inline void cstore(double* z, std::int32_t c, V2 v) { v2_store(z + 2 * c, v); }

// Twiddle table entry e, (cos, sin)(2 pi e / n), prepared for cmul:
// re = (cos, cos), ims = (-sin, sin).
struct Twiddle {
    V2 re;
    V2 ims;
};
inline Twiddle twiddle_at(const double* twiddle, std::int32_t e) {
    const V2 w = v2_load(twiddle + 2 * e);
    return {v2_lo(w, w), v2_xor(v2_hi(w, w), v2_set(-0.0, 0.0))};
}

// a * w = (ar wr - ai wi, ai wr + ar wi).
inline V2 cmul(V2 a, const Twiddle& w) { return a * w.re + v2_swap(a) * w.ims; }

// i * b = (-bi, br); conj(b) = (br, -bi).
inline V2 times_i(V2 b) { return v2_xor(v2_swap(b), v2_set(-0.0, 0.0)); }
inline V2 conj(V2 b) { return v2_xor(b, v2_set(0.0, -0.0)); }

// One pass of a self-sorting (Stockham) transform of m complex numbers,
// radix 2 or 4, from src to dst (which do not overlap). span: the length of
// the transforms already done (1, then times each radix). Input j + r m/R
// (r = 0..R-1) of butterfly j, at position k = j mod span of its transform,
// is turned by e^{2 pi i r k / (R span)}; the R outputs go to
// (j / span) R span + k + r span. After the last pass (span R = m) dst holds
// Z(k) = sum_j z[j] e^{+2 pi i j k / m} in natural order. twiddle: the table
// of n = 2m reals (entry e: angle 2 pi e / n).
void stockham_pass2(std::int32_t m, std::int32_t span, const double* src, double* dst,
                    const double* twiddle) {
    const std::int32_t quarter = m / 2;  // m / R
    const std::int32_t step = 2 * m / (2 * span);
    for (std::int32_t k = 0; k < span; ++k) {
        const Twiddle w1 = twiddle_at(twiddle, k * step);
        for (std::int32_t j = k, out = k; j < quarter; j += span, out += 2 * span) {
            const V2 a0 = cload(src, j);
            const V2 a1 = cmul(cload(src, j + quarter), w1);
            cstore(dst, out, a0 + a1);
            cstore(dst, out + span, a0 - a1);
        }
    }
}

void stockham_pass4(std::int32_t m, std::int32_t span, const double* src, double* dst,
                    const double* twiddle) {
    const std::int32_t quarter = m / 4;
    const std::int32_t step = 2 * m / (4 * span);
    for (std::int32_t k = 0; k < span; ++k) {
        const Twiddle w1 = twiddle_at(twiddle, k * step);
        const Twiddle w2 = twiddle_at(twiddle, 2 * k * step);
        const Twiddle w3 = twiddle_at(twiddle, 3 * k * step);
        for (std::int32_t j = k, out = k; j < quarter; j += span, out += 4 * span) {
            const V2 a0 = cload(src, j);
            const V2 a1 = cmul(cload(src, j + quarter), w1);
            const V2 a2 = cmul(cload(src, j + 2 * quarter), w2);
            const V2 a3 = cmul(cload(src, j + 3 * quarter), w3);
            const V2 s02 = a0 + a2;
            const V2 d02 = a0 - a2;
            const V2 s13 = a1 + a3;
            const V2 d13 = times_i(a1 - a3);
            cstore(dst, out, s02 + s13);
            cstore(dst, out + span, d02 + d13);
            cstore(dst, out + 2 * span, s02 - s13);
            cstore(dst, out + 3 * span, d02 - d13);
        }
    }
}

// The transform of the m complex numbers in a (natural order) into b, in an
// odd number of passes between the two arrays: radix 4 where it can, radix 2
// for an odd number of bits and, where the count of passes would be even,
// for one more. a is overwritten.
void complex_transform(std::int32_t m, double* a, double* b, const double* twiddle) {
    std::int32_t bits = 0;
    while ((1 << bits) < m) ++bits;
    std::int32_t twos = bits % 2;
    std::int32_t fours = bits / 2;
    if ((twos + fours) % 2 == 0) {
        twos += 2;
        fours -= 1;
    }
    double* src = a;
    double* dst = b;
    std::int32_t span = 1;
    for (std::int32_t p = 0; p < twos + fours; ++p) {
        if (p < twos) {
            stockham_pass2(m, span, src, dst, twiddle);
            span *= 2;
        } else {
            stockham_pass4(m, span, src, dst, twiddle);
            span *= 4;
        }
        double* t = src;
        src = dst;
        dst = t;
    }
}

}  // namespace

// With Z the transform of z[j] = x[2j] + i x[2j+1] (m = n/2 points), the
// spectrum Y(k) = C(k) + i S(k) = sum_t x[t] w^{kt}, w = e^{2 pi i / n}, is
// E(k) + w^k O(k), where E(k) = (Z(k) + conj Z(m-k)) / 2 and
// O(k) = (Z(k) - conj Z(m-k)) / 2i are the transforms of the even and odd
// samples; and Y(m-k) = conj(E(k) - w^k O(k)).
void packed_rdft_forward(std::int32_t n, double* x, const double* twiddle) {
    alignas(16) double work[kPackedMaxSize];
    const std::int32_t m = n / 2;
    complex_transform(m, x, work, twiddle);
    const double* z = work;
    x[0] = z[0] + z[1];
    x[m] = z[0] - z[1];
    const V2 half = v2_splat(0.5);
    for (std::int32_t k = 1; k < m / 2; ++k) {
        const V2 zk = cload(z, k);
        const V2 cz = conj(cload(z, m - k));
        const V2 e = (zk + cz) * half;
        const V2 d = (zk - cz) * half;
        const V2 o = conj(v2_swap(d));  // d / i = (di, -dr)
        const V2 q = cmul(o, twiddle_at(twiddle, k));
        const V2 yk = e + q;
        const V2 ym = e - q;  // conj Y(m-k)
        x[k] = v2_lane0(yk);
        x[n - k] = v2_lane1(yk);
        x[m - k] = v2_lane0(ym);
        x[m + k] = -v2_lane1(ym);
    }
    // k = m/2: w^k = i, and E, O are real there, so Y(m/2) = Z(m/2).
    x[m / 2] = z[m];
    x[n - m / 2] = z[m + 1];
}

// The forward steps backwards. With G(k) = C(k) - i S(k), the frame is
// x[t] = 1/2 sum_{k<n} G(k) w^{kt} (G(n-k) = conj G(k)), so
// z[j] = x[2j] + i x[2j+1] is the transform of H(k) = (A(k) + i B(k)) / 2
// with A(k) = G(k) + conj G(m-k), B(k) = (G(k) - conj G(m-k)) w^k, and
// H(m-k) = (conj A(k) + i conj B(k)) / 2.
void packed_rdft_inverse(std::int32_t n, double* y, const double* twiddle) {
    alignas(16) double work[kPackedMaxSize];
    const std::int32_t m = n / 2;
    double* h = work;
    const V2 half = v2_splat(0.5);
    cstore(h, 0, v2_set(y[0] + y[m], y[0] - y[m]) * half);
    for (std::int32_t k = 1; k < m / 2; ++k) {
        const V2 gk = v2_set(y[k], -y[n - k]);
        const V2 cg = v2_set(y[m - k], y[m + k]);  // conj G(m-k)
        const V2 a = gk + cg;
        const V2 b = cmul(gk - cg, twiddle_at(twiddle, k));
        const V2 sb = v2_swap(b);  // (bi, br)
        cstore(h, k, (a + v2_xor(sb, v2_set(-0.0, 0.0))) * half);     // (ar - bi, ai + br) / 2
        cstore(h, m - k, (sb + v2_xor(a, v2_set(0.0, -0.0))) * half);  // (bi + ar, br - ai) / 2
    }
    // k = m/2: A = 2 C, B = 2 S, so H = C + i S.
    cstore(h, m / 2, v2_set(y[m / 2], y[n - m / 2]));
    complex_transform(m, h, y, twiddle);
}

}  // namespace kelmotra
