#include "audio/packed_rdft.h"

#include <cstddef>

#include "audio/vec2.h"
#include "audio/vec4.h"

namespace kelmotra {

namespace {

// Complex numbers are kept split: the real parts of m of them in one run of
// doubles, the imaginary parts in the next (re = a, im = a + m). A pair of
// V2 (re, im) holds two neighbouring complex numbers, one per lane.
struct CPair {
    V2 re;
    V2 im;
};

inline CPair operator+(CPair a, CPair b) { return {a.re + b.re, a.im + b.im}; }
inline CPair operator-(CPair a, CPair b) { return {a.re - b.re, a.im - b.im}; }

// a * w = (ar wr - ai wi, ar wi + ai wr).
inline CPair cmul(CPair a, CPair w) {
    return {a.re * w.re - a.im * w.im, a.re * w.im + a.im * w.re};
}

// i * (a - b) = (bi - ai, ar - br).
inline CPair i_diff(CPair a, CPair b) { return {b.im - a.im, a.re - b.re}; }

// Complex numbers c and c + 1 of a split array of m.
inline CPair load_split(const double* a, std::int32_t m, std::int32_t c) {
    return {v2_load(a + c), v2_load(a + m + c)};
}
inline void store_split(double* a, std::int32_t m, std::int32_t c, CPair v) {
    v2_store(a + c, v.re);
    v2_store(a + m + c, v.im);
}

// Complex numbers c and c + 1 of an interleaved array (re, im, re, im, ...).
inline CPair load_interleaved(const double* a, std::int32_t c) {
    const V2 p0 = v2_load(a + 2 * c);
    const V2 p1 = v2_load(a + 2 * c + 2);
    return {v2_lo(p0, p1), v2_hi(p0, p1)};
}
inline void store_interleaved(double* a, std::int32_t c, CPair v) {
    v2_store(a + 2 * c, v2_lo(v.re, v.im));
    v2_store(a + 2 * c + 2, v2_hi(v.re, v.im));
}

// Twiddle table entries e and e + de: (cos, sin)(2 pi e / n) per lane.
inline CPair twiddle_pair(const double* twiddle, std::int32_t e, std::int32_t de) {
    const V2 w0 = v2_load(twiddle + 2 * e);
    const V2 w1 = v2_load(twiddle + 2 * (e + de));
    return {v2_lo(w0, w1), v2_hi(w0, w1)};
}

// Where the passes read and write: split arrays of m complex numbers, except
// that the first pass of the forward transform reads the caller's
// interleaved array (SrcInterleaved) and the last pass of the inverse writes
// it (DstInterleaved). Fixed at compile time, so the loops carry no test.
// FixedM: the count m when it is known at compile time (the frame size of
// the hop loop), so that every offset is a constant; 0 when it is not.
template <bool SrcInterleaved, bool DstInterleaved, std::int32_t FixedM = 0>
struct PassIo {
    const double* src;
    double* dst;
    std::int32_t m_run;
    std::int32_t m() const { return FixedM != 0 ? FixedM : m_run; }
    CPair load(std::int32_t c) const {
        if constexpr (SrcInterleaved) {
            return load_interleaved(src, c);
        } else {
            return load_split(src, m(), c);
        }
    }
    void store(std::int32_t c, CPair v) const {
        if constexpr (DstInterleaved) {
            store_interleaved(dst, c, v);
        } else {
            store_split(dst, m(), c, v);
        }
    }
};

// One pass of a self-sorting (Stockham) transform of m complex numbers,
// radix R = 2 or 4, two butterflies at a time. span: the length of the
// transforms already done (1, then times each radix). Input j + r m/R
// (r = 0..R-1) of butterfly j, at position k = j mod span of its transform,
// is turned by e^{2 pi i r k / (R span)}; the R outputs go to
// (j / span) R span + k + r span. After the last pass (span R = m) dst holds
// Z(k) = sum_j z[j] e^{+2 pi i j k / m} in natural order. twiddle: the table
// of n = 2m reals (entry e: angle 2 pi e / n).
//
// With span 1 the two butterflies j, j + 1 write R apart and every twiddle
// is 1; the outputs are interleaved lane by lane. Otherwise they are the
// neighbours k, k + 1 of one transform and write side by side.
template <class Io>
[[gnu::always_inline]] inline void pass2(const Io& io, std::int32_t span, const double* twiddle) {
    const std::int32_t m = io.m();
    const std::int32_t part = m / 2;
    if (span == 1) {
        for (std::int32_t j = 0; j < part; j += 2) {
            const CPair a0 = io.load(j);
            const CPair a1 = io.load(j + part);
            const CPair y0 = a0 + a1;
            const CPair y1 = a0 - a1;
            io.store(2 * j, {v2_lo(y0.re, y1.re), v2_lo(y0.im, y1.im)});
            io.store(2 * j + 2, {v2_hi(y0.re, y1.re), v2_hi(y0.im, y1.im)});
        }
        return;
    }
    const std::int32_t step = m / span;  // entry of angle 2 pi / (2 span)
    for (std::int32_t k = 0; k < span; k += 2) {
        const CPair w1 = twiddle_pair(twiddle, k * step, step);
        for (std::int32_t j = k, out = k; j < part; j += span, out += 2 * span) {
            const CPair a0 = io.load(j);
            const CPair a1 = cmul(io.load(j + part), w1);
            io.store(out, a0 + a1);
            io.store(out + span, a0 - a1);
        }
    }
}

template <class Io>
[[gnu::always_inline]] inline void pass4(const Io& io, std::int32_t span, const double* twiddle) {
    const std::int32_t m = io.m();
    const std::int32_t part = m / 4;
    if (span == 1) {
        for (std::int32_t j = 0; j < part; j += 2) {
            const CPair a0 = io.load(j);
            const CPair a1 = io.load(j + part);
            const CPair a2 = io.load(j + 2 * part);
            const CPair a3 = io.load(j + 3 * part);
            const CPair s02 = a0 + a2;
            const CPair d02 = a0 - a2;
            const CPair s13 = a1 + a3;
            const CPair d13 = i_diff(a1, a3);
            const CPair y0 = s02 + s13;
            const CPair y1 = d02 + d13;
            const CPair y2 = s02 - s13;
            const CPair y3 = d02 - d13;
            io.store(4 * j, {v2_lo(y0.re, y1.re), v2_lo(y0.im, y1.im)});
            io.store(4 * j + 2, {v2_lo(y2.re, y3.re), v2_lo(y2.im, y3.im)});
            io.store(4 * j + 4, {v2_hi(y0.re, y1.re), v2_hi(y0.im, y1.im)});
            io.store(4 * j + 6, {v2_hi(y2.re, y3.re), v2_hi(y2.im, y3.im)});
        }
        return;
    }
    const std::int32_t step = m / (2 * span);  // entry of angle 2 pi / (4 span)
    for (std::int32_t k = 0; k < span; k += 2) {
        const CPair w1 = twiddle_pair(twiddle, k * step, step);
        const CPair w2 = twiddle_pair(twiddle, 2 * k * step, 2 * step);
        const CPair w3 = twiddle_pair(twiddle, 3 * k * step, 3 * step);
        for (std::int32_t j = k, out = k; j < part; j += span, out += 4 * span) {
            const CPair a0 = io.load(j);
            const CPair a1 = cmul(io.load(j + part), w1);
            const CPair a2 = cmul(io.load(j + 2 * part), w2);
            const CPair a3 = cmul(io.load(j + 3 * part), w3);
            const CPair s02 = a0 + a2;
            const CPair d02 = a0 - a2;
            const CPair s13 = a1 + a3;
            const CPair d13 = i_diff(a1, a3);
            io.store(out, s02 + s13);
            io.store(out + span, d02 + d13);
            io.store(out + 2 * span, s02 - s13);
            io.store(out + 3 * span, d02 - d13);
        }
    }
}

template <class Io>
void run_pass(const Io& io, std::int32_t radix, std::int32_t span, const double* twiddle) {
    if (radix == 2) {
        pass2(io, span, twiddle);
    } else {
        pass4(io, span, twiddle);
    }
}

// Radix 2 from span 1 and radix 4 from span 2 in one sweep, from a source
// of m complex numbers held interleaved (re, im, re, im, ...) into a split
// array: pass2 then pass4 with the same operations in the same order, but
// the radix-2 butterflies are formed in registers just where the radix-4
// butterflies read them, so their results never go through memory. A
// complex number sits whole in one V2 for the radix-2 step (one operation
// gives its real and imaginary parts), which needs no unpacking on load.
//
// Radix-4 butterfly j = 2q reads, in lanes 0 and 1, the sum and the
// difference of complex numbers c and c + m/2, c = q + r m/8 (r = 0..3).
template <std::int32_t M>
[[gnu::always_inline]] inline void pass2_4(const double* src, double* dst, const double* twiddle) {
    constexpr std::int32_t part = M / 4;
    constexpr std::int32_t step = M / 4;  // entry of angle 2 pi / 8
    const CPair w1 = twiddle_pair(twiddle, 0, step);
    const CPair w2 = twiddle_pair(twiddle, 0, 2 * step);
    const CPair w3 = twiddle_pair(twiddle, 0, 3 * step);
    auto radix2 = [src](std::int32_t c) {
        const V2 a = v2_load(src + 2 * c);
        const V2 b = v2_load(src + 2 * (c + M / 2));
        const V2 s = a + b;
        const V2 d = a - b;
        return CPair{v2_lo(s, d), v2_hi(s, d)};
    };
    for (std::int32_t q = 0; q < part / 2; ++q) {
        const CPair a0 = radix2(q);
        const CPair a1 = cmul(radix2(q + M / 8), w1);
        const CPair a2 = cmul(radix2(q + 2 * (M / 8)), w2);
        const CPair a3 = cmul(radix2(q + 3 * (M / 8)), w3);
        const CPair s02 = a0 + a2;
        const CPair d02 = a0 - a2;
        const CPair s13 = a1 + a3;
        const CPair d13 = i_diff(a1, a3);
        store_split(dst, M, 8 * q, s02 + s13);
        store_split(dst, M, 8 * q + 2, d02 + d13);
        store_split(dst, M, 8 * q + 4, s02 - s13);
        store_split(dst, M, 8 * q + 6, d02 - d13);
    }
}

// The transform of the m complex numbers (m >= 8) in a into b, in an odd
// number of passes between the two arrays: radix 4 where it can, radix 2 for
// an odd number of bits and, where the count of passes would be even, for
// one more. a is overwritten. a_interleaved: a holds the input interleaved
// (the forward transform); b_interleaved: the result goes to b interleaved
// (the inverse). Every other array is split.
void complex_transform(std::int32_t m, double* a, double* b, bool a_interleaved,
                       bool b_interleaved, const double* twiddle) {
    std::int32_t bits = 0;
    while ((1 << bits) < m) ++bits;
    std::int32_t twos = bits % 2;
    std::int32_t fours = bits / 2;
    if ((twos + fours) % 2 == 0) {
        twos += 2;
        fours -= 1;
    }
    const std::int32_t passes = twos + fours;
    double* src = a;
    double* dst = b;
    std::int32_t span = 1;
    for (std::int32_t p = 0; p < passes; ++p) {
        const std::int32_t radix = p < twos ? 2 : 4;
        if (p == 0 && a_interleaved) {
            run_pass(PassIo<true, false>{src, dst, m}, radix, span, twiddle);
        } else if (p == passes - 1 && b_interleaved) {
            run_pass(PassIo<false, true>{src, dst, m}, radix, span, twiddle);
        } else {
            run_pass(PassIo<false, false>{src, dst, m}, radix, span, twiddle);
        }
        span *= radix;
        double* t = src;
        src = dst;
        dst = t;
    }
}


// With Z the transform of z[j] = x[2j] + i x[2j+1] (m = n/2 points), the
// spectrum Y(k) = C(k) + i S(k) = sum_t x[t] w^{kt}, w = e^{2 pi i / n}, is
// E(k) + w^k O(k), where E(k) = (Z(k) + conj Z(m-k)) / 2 and
// O(k) = (Z(k) - conj Z(m-k)) / 2i are the transforms of the even and odd
// samples; and Y(m-k) = conj(E(k) - w^k O(k)). Bins k and k + 1 go together
// (with m-k and m-k-1), k = 2 .. m/2 - 1; bin 1 alone first.
// work: Z as a split array of m complex numbers; x: the n = 2m reals.
// pairs_from: the first k of the pairs (even); a caller that passes more
// than 2 has done the bins below it itself.
[[gnu::always_inline]] inline void split_spectrum(std::int32_t m, const double* work, double* x,
                                                  const double* twiddle,
                                                  std::int32_t pairs_from = 2) {
    const std::int32_t n = 2 * m;
    const double* zr = work;
    const double* zi = work + m;
    x[0] = zr[0] + zi[0];
    x[m] = zr[0] - zi[0];
    const V2 half = v2_splat(0.5);
    // zk = Z(k), zm = Z(m-k); yk = Y(k), ym = conj Y(m-k). Bin 1 in both
    // lanes, then bins k, k+1 in lanes 0, 1.
    auto bins = [&](CPair zk, CPair zm, CPair w, CPair& yk, CPair& ym) {
        const CPair e{(zk.re + zm.re) * half, (zk.im - zm.im) * half};
        const CPair d{(zk.re - zm.re) * half, (zk.im + zm.im) * half};
        const CPair o{d.im, v2_xor(d.re, v2_splat(-0.0))};  // d / i
        const CPair q = cmul(o, w);
        yk = e + q;
        ym = e - q;  // conj Y(m-k)
    };
    {
        CPair yk, ym;
        bins({v2_splat(zr[1]), v2_splat(zi[1])}, {v2_splat(zr[m - 1]), v2_splat(zi[m - 1])},
             twiddle_pair(twiddle, 1, 0), yk, ym);
        x[1] = v2_lane0(yk.re);
        x[n - 1] = v2_lane0(yk.im);
        x[m - 1] = v2_lane0(ym.re);
        x[m + 1] = -v2_lane0(ym.im);
    }
    for (std::int32_t k = pairs_from; k < m / 2; k += 2) {
        const CPair zk{v2_load(zr + k), v2_load(zi + k)};
        const CPair zm{v2_swap(v2_load(zr + m - k - 1)), v2_swap(v2_load(zi + m - k - 1))};
        CPair yk, ym;
        bins(zk, zm, twiddle_pair(twiddle, k, 1), yk, ym);
        v2_store(x + k, yk.re);
        v2_store(x + n - k - 1, v2_swap(yk.im));
        v2_store(x + m - k - 1, v2_swap(ym.re));
        v2_store(x + m + k, v2_xor(ym.im, v2_splat(-0.0)));
    }
    // k = m/2: w^k = i, and E, O are real there, so Y(m/2) = Z(m/2).
    x[m / 2] = zr[m / 2];
    x[n - m / 2] = zi[m / 2];
}

// The forward steps backwards. With G(k) = C(k) - i S(k), the frame is
// x[t] = 1/2 sum_{k<n} G(k) w^{kt} (G(n-k) = conj G(k)), so
// z[j] = x[2j] + i x[2j+1] is the transform of H(k) = (A(k) + i B(k)) / 2
// with A(k) = G(k) + conj G(m-k), B(k) = (G(k) - conj G(m-k)) w^k, and
// H(m-k) = (conj A(k) + i conj B(k)) / 2.
// y: the n = 2m reals; h: H, m complex numbers, interleaved (Interleaved)
// or split. pairs_from as for split_spectrum.
template <bool Interleaved>
[[gnu::always_inline]] inline void merge_spectrum(std::int32_t m, const double* y, double* h,
                                                  const double* twiddle,
                                                  std::int32_t pairs_from = 2) {
    const std::int32_t n = 2 * m;
    // H(c) = (re, im).
    auto put = [=](std::int32_t c, double re, double im) {
        if constexpr (Interleaved) {
            h[2 * c] = re;
            h[2 * c + 1] = im;
        } else {
            h[c] = re;
            h[m + c] = im;
        }
    };
    // H(c), H(c + 1) from lanes 0, 1 of lo and H(d), H(d - 1) from lanes 0,
    // 1 of hi (d = m - c: the mirrored bins come in falling order).
    auto put_pairs = [h, m](std::int32_t c, CPair lo, CPair hi) {
        const std::int32_t d = m - c;
        if constexpr (Interleaved) {
            store_interleaved(h, c, lo);
            v2_store(h + 2 * (d - 1), v2_hi(hi.re, hi.im));
            v2_store(h + 2 * d, v2_lo(hi.re, hi.im));
        } else {
            store_split(h, m, c, lo);
            store_split(h, m, d - 1, {v2_swap(hi.re), v2_swap(hi.im)});
        }
    };
    const V2 half = v2_splat(0.5);
    put(0, (y[0] + y[m]) * 0.5, (y[0] - y[m]) * 0.5);
    // gk = G(k), cg = conj G(m-k); hk = H(k), hm = H(m-k).
    auto bins = [&](CPair gk, CPair cg, CPair w, CPair& hk, CPair& hm) {
        const CPair a = gk + cg;
        const CPair b = cmul(gk - cg, w);
        hk = {(a.re - b.im) * half, (a.im + b.re) * half};
        hm = {(a.re + b.im) * half, (b.re - a.im) * half};
    };
    {
        CPair hk, hm;
        bins({v2_splat(y[1]), v2_splat(-y[n - 1])}, {v2_splat(y[m - 1]), v2_splat(y[m + 1])},
             twiddle_pair(twiddle, 1, 0), hk, hm);
        put(1, v2_lane0(hk.re), v2_lane0(hk.im));
        put(m - 1, v2_lane0(hm.re), v2_lane0(hm.im));
    }
    for (std::int32_t k = pairs_from; k < m / 2; k += 2) {
        const CPair gk{v2_load(y + k), v2_xor(v2_swap(v2_load(y + n - k - 1)), v2_splat(-0.0))};
        const CPair cg{v2_swap(v2_load(y + m - k - 1)), v2_load(y + m + k)};
        CPair hk, hm;
        bins(gk, cg, twiddle_pair(twiddle, k, 1), hk, hm);
        put_pairs(k, hk, hm);
    }
    // k = m/2: A = 2 C, B = 2 S, so H = C + i S.
    put(m / 2, y[m / 2], y[n - m / 2]);
}

// The frame size of the hop loop (n = 1024, m = 512) with every count and
// span fixed at compile time, radix 2 and the first radix-4 pass fused
// (pass2_4), and two work arrays, so that the frame is read once and written
// once: x -> w1 -> w2 -> w1 -> w2 -> x forward, y -> w1 -> ... -> y inverse.
constexpr std::int32_t kFrameM = 512;

void forward_frame(double* x, const double* twiddle, double* w1, double* w2) {
    constexpr std::int32_t m = kFrameM;
    pass2_4<m>(x, w1, twiddle);
    pass4(PassIo<false, false, m>{w1, w2, m}, 8, twiddle);
    pass4(PassIo<false, false, m>{w2, w1, m}, 32, twiddle);
    pass4(PassIo<false, false, m>{w1, w2, m}, 128, twiddle);
    split_spectrum(m, w2, x, twiddle);
}

void inverse_frame(double* y, const double* twiddle, double* w1, double* w2) {
    constexpr std::int32_t m = kFrameM;
    merge_spectrum<true>(m, y, w1, twiddle);
    pass2_4<m>(w1, w2, twiddle);
    pass4(PassIo<false, false, m>{w2, w1, m}, 8, twiddle);
    pass4(PassIo<false, false, m>{w1, w2, m}, 32, twiddle);
    pass4(PassIo<false, true, m>{w2, y, m}, 128, twiddle);
}

#ifdef KELMOTRA_VEC4_AVX
#pragma GCC push_options
#pragma GCC target("avx")

// The frame transforms four butterflies at a time where the CPU has AVX:
// the passes above with each value made by the same operations in the same
// order, so the results are the same bits; only the grouping into registers
// differs. The spectrum steps too, up to the last few bins. The helpers
// repeat those of CPair because everything that takes or gives an AVX
// register must itself be compiled for AVX.
namespace avx {

struct CQuad {
    V4 re;
    V4 im;
};

inline CQuad operator+(CQuad a, CQuad b) { return {a.re + b.re, a.im + b.im}; }
inline CQuad operator-(CQuad a, CQuad b) { return {a.re - b.re, a.im - b.im}; }
inline CQuad cmul(CQuad a, CQuad w) {
    return {a.re * w.re - a.im * w.im, a.re * w.im + a.im * w.re};
}
inline CQuad i_diff(CQuad a, CQuad b) { return {b.im - a.im, a.re - b.re}; }

// Complex numbers c .. c + 3 of a split array of kFrameM.
inline CQuad load_split(const double* a, std::int32_t c) {
    return {v4_load(a + c), v4_load(a + kFrameM + c)};
}
inline void store_split(double* a, std::int32_t c, CQuad v) {
    v4_store(a + c, v.re);
    v4_store(a + kFrameM + c, v.im);
}
inline void store_interleaved(double* a, std::int32_t c, CQuad v) {
    const V4 lo = v4_lo(v.re, v.im);  // c, c + 2
    const V4 hi = v4_hi(v.re, v.im);  // c + 1, c + 3
    v4_store(a + 2 * c, v4_low_halves(lo, hi));
    v4_store(a + 2 * c + 4, v4_high_halves(lo, hi));
}

// Twiddle table entries e + r de, r = 0..3, in lanes 0..3.
inline CQuad twiddle_quad(const double* twiddle, std::int32_t e, std::int32_t de) {
    const V4 even = v4_join(v2_load(twiddle + 2 * e), v2_load(twiddle + 2 * (e + 2 * de)));
    const V4 odd = v4_join(v2_load(twiddle + 2 * (e + de)), v2_load(twiddle + 2 * (e + 3 * de)));
    return {v4_lo(even, odd), v4_hi(even, odd)};
}

// pass4 of the frame size at span 8, 32 or 128: butterflies k .. k + 3 of
// one transform side by side.
template <std::int32_t Span, bool DstInterleaved>
[[gnu::always_inline]] inline void pass4(const double* src, double* dst, const double* twiddle) {
    constexpr std::int32_t part = kFrameM / 4;
    constexpr std::int32_t step = kFrameM / (2 * Span);
    for (std::int32_t k = 0; k < Span; k += 4) {
        const CQuad w1 = twiddle_quad(twiddle, k * step, step);
        const CQuad w2 = twiddle_quad(twiddle, 2 * k * step, 2 * step);
        const CQuad w3 = twiddle_quad(twiddle, 3 * k * step, 3 * step);
        for (std::int32_t j = k, out = k; j < part; j += Span, out += 4 * Span) {
            const CQuad a0 = load_split(src, j);
            const CQuad a1 = cmul(load_split(src, j + part), w1);
            const CQuad a2 = cmul(load_split(src, j + 2 * part), w2);
            const CQuad a3 = cmul(load_split(src, j + 3 * part), w3);
            const CQuad s02 = a0 + a2;
            const CQuad d02 = a0 - a2;
            const CQuad s13 = a1 + a3;
            const CQuad d13 = i_diff(a1, a3);
            const CQuad y[4] = {s02 + s13, d02 + d13, s02 - s13, d02 - d13};
            for (std::int32_t r = 0; r < 4; ++r) {
                if constexpr (DstInterleaved) {
                    store_interleaved(dst, out + r * Span, y[r]);
                } else {
                    store_split(dst, out + r * Span, y[r]);
                }
            }
        }
    }
}

// pass2_4 of the frame size: rounds q and q + 1 of the two-lane loop at once
// (lanes 0, 1 and 2, 3), their outputs regrouped by halves.
[[gnu::always_inline]] inline void pass2_4(const double* src, double* dst, const double* twiddle) {
    constexpr std::int32_t m = kFrameM;
    constexpr std::int32_t step = m / 4;
    auto twice = [](CPair w) { return CQuad{v4_join(w.re, w.re), v4_join(w.im, w.im)}; };
    const CQuad w1 = twice(twiddle_pair(twiddle, 0, step));
    const CQuad w2 = twice(twiddle_pair(twiddle, 0, 2 * step));
    const CQuad w3 = twice(twiddle_pair(twiddle, 0, 3 * step));
    auto radix2 = [src](std::int32_t c) {
        const V4 a = v4_load(src + 2 * c);
        const V4 b = v4_load(src + 2 * (c + m / 2));
        const V4 s = a + b;
        const V4 d = a - b;
        return CQuad{v4_lo(s, d), v4_hi(s, d)};
    };
    for (std::int32_t q = 0; q < m / 8; q += 2) {
        const CQuad a0 = radix2(q);
        const CQuad a1 = cmul(radix2(q + m / 8), w1);
        const CQuad a2 = cmul(radix2(q + 2 * (m / 8)), w2);
        const CQuad a3 = cmul(radix2(q + 3 * (m / 8)), w3);
        const CQuad s02 = a0 + a2;
        const CQuad d02 = a0 - a2;
        const CQuad s13 = a1 + a3;
        const CQuad d13 = i_diff(a1, a3);
        const CQuad y0 = s02 + s13;
        const CQuad y1 = d02 + d13;
        const CQuad y2 = s02 - s13;
        const CQuad y3 = d02 - d13;
        auto halves = [](CQuad a, CQuad b, bool high) {
            return high ? CQuad{v4_high_halves(a.re, b.re), v4_high_halves(a.im, b.im)}
                        : CQuad{v4_low_halves(a.re, b.re), v4_low_halves(a.im, b.im)};
        };
        store_split(dst, 8 * q, halves(y0, y1, false));
        store_split(dst, 8 * q + 4, halves(y2, y3, false));
        store_split(dst, 8 * q + 8, halves(y0, y1, true));
        store_split(dst, 8 * q + 12, halves(y2, y3, true));
    }
}

// Lanes 3, 2, 1, 0.
inline V4 reversed(V4 v) { return _mm256_permute_pd(_mm256_permute2f128_pd(v, v, 1), 5); }

// The bins of split_spectrum and merge_spectrum four at a time, k = 2 .. 253
// (kQuadsEnd); the bins from there on go two at a time as before.
constexpr std::int32_t kQuadsEnd = 2 + (kFrameM / 2 - 2) / 4 * 4;

[[gnu::always_inline]] inline void split_spectrum(const double* work, double* x,
                                                  const double* twiddle) {
    constexpr std::int32_t m = kFrameM;
    constexpr std::int32_t n = 2 * m;
    const double* zr = work;
    const double* zi = work + m;
    const V4 half = _mm256_set1_pd(0.5);
    const V4 minus0 = _mm256_set1_pd(-0.0);
    for (std::int32_t k = 2; k < kQuadsEnd; k += 4) {
        const CQuad zk{v4_load(zr + k), v4_load(zi + k)};
        const CQuad zm{reversed(v4_load(zr + m - k - 3)), reversed(v4_load(zi + m - k - 3))};
        const CQuad e{(zk.re + zm.re) * half, (zk.im - zm.im) * half};
        const CQuad d{(zk.re - zm.re) * half, (zk.im + zm.im) * half};
        const CQuad o{d.im, _mm256_xor_pd(d.re, minus0)};
        const CQuad q = cmul(o, twiddle_quad(twiddle, k, 1));
        const CQuad yk = e + q;
        const CQuad ym = e - q;
        v4_store(x + k, yk.re);
        v4_store(x + n - k - 3, reversed(yk.im));
        v4_store(x + m - k - 3, reversed(ym.re));
        v4_store(x + m + k, _mm256_xor_pd(ym.im, minus0));
    }
    kelmotra::split_spectrum(m, work, x, twiddle, kQuadsEnd);
}

[[gnu::always_inline]] inline void merge_spectrum(const double* y, double* h,
                                                  const double* twiddle) {
    constexpr std::int32_t m = kFrameM;
    constexpr std::int32_t n = 2 * m;
    const V4 half = _mm256_set1_pd(0.5);
    const V4 minus0 = _mm256_set1_pd(-0.0);
    for (std::int32_t k = 2; k < kQuadsEnd; k += 4) {
        const CQuad gk{v4_load(y + k), _mm256_xor_pd(reversed(v4_load(y + n - k - 3)), minus0)};
        const CQuad cg{reversed(v4_load(y + m - k - 3)), v4_load(y + m + k)};
        const CQuad a = gk + cg;
        const CQuad b = cmul(gk - cg, twiddle_quad(twiddle, k, 1));
        const CQuad hk{(a.re - b.im) * half, (a.im + b.re) * half};
        const CQuad hm{(a.re + b.im) * half, (b.re - a.im) * half};  // H(m-k) .. H(m-k-3)
        store_interleaved(h, k, hk);
        const V4 lo = v4_lo(hm.re, hm.im);  // H(m-k), H(m-k-2)
        const V4 hi = v4_hi(hm.re, hm.im);  // H(m-k-1), H(m-k-3)
        v4_store(h + 2 * (m - k - 3), v4_high_halves(hi, lo));
        v4_store(h + 2 * (m - k - 1), v4_low_halves(hi, lo));
    }
    kelmotra::merge_spectrum<true>(m, y, h, twiddle, kQuadsEnd);
}

void forward_frame(double* x, const double* twiddle, double* w1, double* w2) {
    pass2_4(x, w1, twiddle);
    pass4<8, false>(w1, w2, twiddle);
    pass4<32, false>(w2, w1, twiddle);
    pass4<128, false>(w1, w2, twiddle);
    split_spectrum(w2, x, twiddle);
}

void inverse_frame(double* y, const double* twiddle, double* w1, double* w2) {
    merge_spectrum(y, w1, twiddle);
    pass2_4(w1, w2, twiddle);
    pass4<8, false>(w2, w1, twiddle);
    pass4<32, false>(w1, w2, twiddle);
    pass4<128, true>(w2, y, twiddle);
}

}  // namespace avx

#pragma GCC pop_options
#endif

void forward_other(std::int32_t n, double* x, const double* twiddle, double* work) {
    complex_transform(n / 2, x, work, true, false, twiddle);
    split_spectrum(n / 2, work, x, twiddle);
}

void inverse_other(std::int32_t n, double* y, const double* twiddle, double* work) {
    merge_spectrum<false>(n / 2, y, work, twiddle);
    complex_transform(n / 2, work, y, false, true, twiddle);
}

// Whether the frame size runs four lanes wide: asked for, built in, and the
// CPU has AVX.
bool frame_four_lanes(PackedLanes lanes) {
#ifdef KELMOTRA_VEC4_AVX
    return lanes == PackedLanes::widest && vec4_cpu_has_avx();
#else
    (void)lanes;
    return false;
#endif
}

void frame_forward(double* x, const double* twiddle, double* w, PackedLanes lanes) {
#ifdef KELMOTRA_VEC4_AVX
    if (frame_four_lanes(lanes)) return avx::forward_frame(x, twiddle, w, w + 2 * kFrameM);
#endif
    (void)lanes;
    forward_frame(x, twiddle, w, w + 2 * kFrameM);
}

void frame_inverse(double* y, const double* twiddle, double* w, PackedLanes lanes) {
#ifdef KELMOTRA_VEC4_AVX
    if (frame_four_lanes(lanes)) return avx::inverse_frame(y, twiddle, w, w + 2 * kFrameM);
#endif
    (void)lanes;
    inverse_frame(y, twiddle, w, w + 2 * kFrameM);
}

// Scratch on the stack, each size in a function of its own, so that a call
// touches (and the stack probes fault in) only the pages its size needs.
// Aligned for the widest loads the build may make.
#ifdef KELMOTRA_VEC4_AVX
constexpr std::size_t kScratchAlign = 32;
#else
constexpr std::size_t kScratchAlign = 16;
#endif

[[gnu::noinline]] void forward_on_stack(std::int32_t n, double* x, const double* twiddle,
                                        PackedLanes lanes) {
    if (n == 2 * kFrameM) {
        alignas(kScratchAlign) double w[packed_work_size(2 * kFrameM)];
        frame_forward(x, twiddle, w, lanes);
    } else {
        alignas(16) double w[kPackedMaxSize];
        forward_other(n, x, twiddle, w);
    }
}

[[gnu::noinline]] void inverse_on_stack(std::int32_t n, double* y, const double* twiddle,
                                        PackedLanes lanes) {
    if (n == 2 * kFrameM) {
        alignas(kScratchAlign) double w[packed_work_size(2 * kFrameM)];
        frame_inverse(y, twiddle, w, lanes);
    } else {
        alignas(16) double w[kPackedMaxSize];
        inverse_other(n, y, twiddle, w);
    }
}

}  // namespace

bool packed_rdft_four_lanes() { return frame_four_lanes(PackedLanes::widest); }

void packed_rdft_forward(std::int32_t n, double* x, const double* twiddle, double* work,
                         PackedLanes lanes) {
    if (work == nullptr) return forward_on_stack(n, x, twiddle, lanes);
    if (n == 2 * kFrameM) return frame_forward(x, twiddle, work, lanes);
    forward_other(n, x, twiddle, work);
}

void packed_rdft_inverse(std::int32_t n, double* y, const double* twiddle, double* work,
                         PackedLanes lanes) {
    if (work == nullptr) return inverse_on_stack(n, y, twiddle, lanes);
    if (n == 2 * kFrameM) return frame_inverse(y, twiddle, work, lanes);
    inverse_other(n, y, twiddle, work);
}

}  // namespace kelmotra
