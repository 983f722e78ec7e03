#include "driver/hop_kernels.h"

#include <algorithm>
#include <cmath>

#include "audio/vec2.h"
#include "audio/vec4.h"
#include "driver/pitch_shift.h"
#include "driver/resynth.h"

namespace kelmotra {

namespace {

constexpr std::int32_t kN = kFrameSize;
constexpr std::int32_t kHalf = kFrameSize / 2;

// table_atan2(y, x) of two lanes whose |x| and |y| are finite and above 0.
inline V2 v2_table_atan2(const Tables& tables, V2 y, V2 x) {
    const V2 ax = v2_abs(x);
    const V2 ay = v2_abs(y);
    const V2 a = v2_min(ax, ay);  // std::min(ay, ax)
    const V2 b = v2_max(ax, ay);  // std::max(ay, ax)
    std::int32_t i0, i1;
    v2_trunc_ints(a / b * v2_splat(kAtanSteps) + v2_splat(0.5), i0, i1);
    // i / 128 is exact, and so is the product by 1 / 128 that replaces it.
    const V2 c = v2_set(static_cast<double>(i0), static_cast<double>(i1)) *
                 v2_splat(1.0 / static_cast<double>(kAtanSteps));
    const V2 u = (a - c * b) / (b + c * a);
    const V2 u2 = u * u;
    const V2 p =
        u - u * u2 * (v2_splat(1.0 / 3.0) - u2 * (v2_splat(1.0 / 5.0) - u2 * v2_splat(1.0 / 7.0)));
    // Column (x > 0 ? 0 : 2) + (ay > ax ? 1 : 0). The small angle enters
    // negated in columns 1 and 2: where (x > 0) and (ay > ax) agree.
    const V2 right = v2_gt(x, v2_splat(0.0));
    const V2 steep = v2_gt(ay, ax);
    const int rm = v2_mask(right);
    const int sm = v2_mask(steep);
    const int col0 = ((rm & 1) ? 0 : 2) + (sm & 1);
    const int col1 = ((rm & 2) ? 0 : 2) + ((sm >> 1) & 1);
    const V2 t = v2_set(tables.atan[4 * static_cast<std::size_t>(i0) + col0],
                        tables.atan[4 * static_cast<std::size_t>(i1) + col1]);
    const V2 negate = v2_andnot(v2_xor(right, steep), v2_splat(-0.0));  // sign bit where they agree
    const V2 r = t + v2_xor(p, negate);                                  // t + kSign[col] * p
    return v2_xor(r, v2_sign_of(y));  // r * copysign(1, y)
}

// table_sincos of two lanes: c and s.
inline void v2_table_sincos(const Tables& tables, V2 theta, V2& c, V2& s) {
    const V2 a = v2_abs(theta);
    V2 idx = a * v2_splat(static_cast<double>(tables.n) / kTwoPi) + v2_splat(0.5);
    idx = v2_max(idx, v2_splat(0.0));  // NaN gives 0
    idx = v2_min(idx, v2_splat(static_cast<double>(tables.n / 2)));
    std::int32_t e0, e1;
    v2_trunc_ints(idx, e0, e1);
    const V2 angle = v2_set(tables.angle[static_cast<std::size_t>(e0)],
                            tables.angle[static_cast<std::size_t>(e1)]);
    const V2 r = a - angle;
    const V2 r2 = r * r;
    // cos r - 1 and sin r as table_sincos takes them (-r2 * ... is exact).
    const V2 c4 = v2_splat(1.0 / 720.0) - r2 * v2_splat(1.0 / 40320.0);
    const V2 cm1 = v2_xor(r2, v2_splat(-0.0)) *
                   (v2_splat(0.5) - r2 * (v2_splat(1.0 / 24.0) - r2 * c4));
    const V2 s4 = v2_splat(1.0 / 120.0) - r2 * v2_splat(1.0 / 5040.0);
    const V2 sr = r * (v2_splat(1.0) - r2 * (v2_splat(1.0 / 6.0) - r2 * s4));
    const V2 p0 = v2_load(&tables.twiddle[2 * static_cast<std::size_t>(e0)]);
    const V2 p1 = v2_load(&tables.twiddle[2 * static_cast<std::size_t>(e1)]);
    const V2 ce = v2_lo(p0, p1);
    const V2 se = v2_hi(p0, p1);
    c = ce + (ce * cm1 - se * sr);
    const V2 sa = se + (se * cm1 + ce * sr);
    s = v2_xor(sa, v2_sign_of(theta));  // sa * copysign(1, theta)
}

}  // namespace

namespace {

// Phases (cycles) of bins k and k + 1 of a spectrum.
[[gnu::always_inline]] inline V2 phase_pair(const Tables& tables, const double* frame,
                                              std::int32_t k) {
    const V2 zero = v2_splat(0.0);
    const V2 inf = v2_splat(HUGE_VAL);
    const V2 c = v2_load(frame + k);
    const V2 s = v2_swap(v2_load(frame + kN - k - 1));  // S(k), S(k + 1)
    const V2 ac = v2_abs(c);
    const V2 as = v2_abs(s);
    const V2 ok = v2_and(v2_and(v2_gt(ac, zero), v2_gt(as, zero)),
                         v2_and(v2_lt(ac, inf), v2_lt(as, inf)));
    if (v2_mask(ok) == 3) return v2_table_atan2(tables, s, c) * v2_splat(0.5) / v2_splat(kPhasePi);
    return v2_set(table_atan2(tables, v2_lane0(s), v2_lane0(c)) * 0.5 / kPhasePi,
                  table_atan2(tables, v2_lane1(s), v2_lane1(c)) * 0.5 / kPhasePi);
}

inline double phase_one(const Tables& tables, const double* frame, std::int32_t k) {
    return table_atan2(tables, frame[kN - k], frame[k]) * 0.5 / kPhasePi;
}

// Whether the kernels run four lanes wide: asked for, and the build and the
// CPU offer them (as they do to the frame transforms).
[[maybe_unused]] bool four_lanes(PackedLanes lanes) {
    return lanes == PackedLanes::widest && packed_rdft_four_lanes();
}

#ifdef KELMOTRA_VEC4_AVX
#pragma GCC push_options
#pragma GCC target("avx")

// The kernels four bins or samples at a time where the CPU has AVX: per
// lane the operations of the two-lane code above in the same order, so the
// same bits; lanes out of the fast range go through the scalar formulas,
// which give those bits too. Each runs the groups of four it can and
// returns the first bin or sample it left to the two-lane code.
namespace avx {

inline V4 v4_table_atan2(const Tables& tables, V4 y, V4 x) {
    const V4 ax = v4_abs(x);
    const V4 ay = v4_abs(y);
    const V4 a = v4_min(ax, ay);
    const V4 b = v4_max(ax, ay);
    std::int32_t i[4];
    v4_trunc_ints(a / b * v4_splat(kAtanSteps) + v4_splat(0.5), i);
    const V4 c = v4_set(static_cast<double>(i[0]), static_cast<double>(i[1]),
                        static_cast<double>(i[2]), static_cast<double>(i[3])) *
                 v4_splat(1.0 / static_cast<double>(kAtanSteps));
    const V4 u = (a - c * b) / (b + c * a);
    const V4 u2 = u * u;
    const V4 p =
        u - u * u2 * (v4_splat(1.0 / 3.0) - u2 * (v4_splat(1.0 / 5.0) - u2 * v4_splat(1.0 / 7.0)));
    const V4 right = v4_gt(x, v4_splat(0.0));
    const V4 steep = v4_gt(ay, ax);
    const int rm = v4_mask(right);
    const int sm = v4_mask(steep);
    // Column of lane l, as in v2_table_atan2.
    auto entry = [&](int l) {
        const int col = (((rm >> l) & 1) ? 0 : 2) + ((sm >> l) & 1);
        return tables.atan[4 * static_cast<std::size_t>(i[l]) + col];
    };
    const V4 t = v4_set(entry(0), entry(1), entry(2), entry(3));
    const V4 negate = v4_andnot(v4_xor(right, steep), v4_splat(-0.0));
    const V4 r = t + v4_xor(p, negate);
    return v4_xor(r, v4_sign_of(y));
}

inline void v4_table_sincos(const Tables& tables, V4 theta, V4& c, V4& s) {
    const V4 a = v4_abs(theta);
    V4 idx = a * v4_splat(static_cast<double>(tables.n) / kTwoPi) + v4_splat(0.5);
    idx = v4_max(idx, v4_splat(0.0));  // NaN gives 0
    idx = v4_min(idx, v4_splat(static_cast<double>(tables.n / 2)));
    std::int32_t e[4];
    v4_trunc_ints(idx, e);
    const V4 angle = v4_set(tables.angle[static_cast<std::size_t>(e[0])],
                            tables.angle[static_cast<std::size_t>(e[1])],
                            tables.angle[static_cast<std::size_t>(e[2])],
                            tables.angle[static_cast<std::size_t>(e[3])]);
    const V4 r = a - angle;
    const V4 r2 = r * r;
    const V4 c4 = v4_splat(1.0 / 720.0) - r2 * v4_splat(1.0 / 40320.0);
    const V4 cm1 = v4_xor(r2, v4_splat(-0.0)) *
                   (v4_splat(0.5) - r2 * (v4_splat(1.0 / 24.0) - r2 * c4));
    const V4 s4 = v4_splat(1.0 / 120.0) - r2 * v4_splat(1.0 / 5040.0);
    const V4 sr = r * (v4_splat(1.0) - r2 * (v4_splat(1.0 / 6.0) - r2 * s4));
    // (cos, sin) of entries e0, e2 and of e1, e3, then split.
    const V4 p02 = v4_join(v2_load(&tables.twiddle[2 * static_cast<std::size_t>(e[0])]),
                           v2_load(&tables.twiddle[2 * static_cast<std::size_t>(e[2])]));
    const V4 p13 = v4_join(v2_load(&tables.twiddle[2 * static_cast<std::size_t>(e[1])]),
                           v2_load(&tables.twiddle[2 * static_cast<std::size_t>(e[3])]));
    const V4 ce = v4_lo(p02, p13);
    const V4 se = v4_hi(p02, p13);
    c = ce + (ce * cm1 - se * sr);
    const V4 sa = se + (se * cm1 + ce * sr);
    s = v4_xor(sa, v4_sign_of(theta));
}

// Phases (cycles) of bins k .. k + 3 of a spectrum.
inline V4 phase_quad(const Tables& tables, const double* frame, std::int32_t k) {
    const V4 zero = v4_splat(0.0);
    const V4 inf = v4_splat(HUGE_VAL);
    const V4 c = v4_load(frame + k);
    const V4 s = v4_reverse(v4_load(frame + kN - k - 3));  // S(k) .. S(k + 3)
    const V4 ac = v4_abs(c);
    const V4 as = v4_abs(s);
    const V4 ok = v4_and(v4_and(v4_gt(ac, zero), v4_gt(as, zero)),
                         v4_and(v4_lt(ac, inf), v4_lt(as, inf)));
    if (v4_mask(ok) == 15) return v4_table_atan2(tables, s, c) * v4_splat(0.5) / v4_splat(kPhasePi);
    return v4_join(phase_pair(tables, frame, k), phase_pair(tables, frame, k + 2));
}

std::int64_t window_run(double* frame, const double* src, const double* hann,
                        std::int64_t count) {
    std::int64_t k = 0;
    for (; k + 4 <= count; k += 4) v4_store(frame + k, v4_load(src + k) * v4_load(hann + k));
    return k;
}

std::int32_t analyse_magnitudes(const double* frame, double* mag) {
    std::int32_t k = 1;
    for (; k + 3 < kHalf; k += 4) {
        const V4 c = v4_load(frame + k);
        const V4 s = v4_reverse(v4_load(frame + kN - k - 3));
        v4_store(mag + k, v4_sqrt(s * s + c * c));
    }
    return k;
}

std::int32_t spectrum_phases(const Tables& tables, const double* frame, std::int32_t from,
                             std::int32_t to, double* phi) {
    std::int32_t k = from;
    for (; k + 3 < to; k += 4) v4_store(phi + k, phase_quad(tables, frame, k));
    return k;
}

std::int32_t advance_phases(const Tables& tables, const double* frame, std::int32_t upto,
                            double* prev_phase, double* dphase) {
    std::int32_t k = 1;
    for (; k + 3 < upto; k += 4) {
        const V4 phi = phase_quad(tables, frame, k);
        v4_store(dphase + k, v4_wrap_cycles(phi - v4_load(prev_phase + k)));
        v4_store(prev_phase + k, phi);
    }
    return k;
}

std::int32_t synthesise_bins(const Tables& tables, const double* newmag, const double* newdph,
                             double* out_phase, double* syn) {
    std::int32_t k = 1;
    for (; k + 3 < kHalf; k += 4) {
        const V4 ph = v4_wrap_cycles(v4_load(out_phase + k) + v4_load(newdph + k));
        v4_store(out_phase + k, ph);
        const V4 a = v4_load(newmag + k);
        const V4 keep = v4_ne(a, v4_splat(0.0));  // also NaN
        if (v4_mask(keep) == 0) {
            v4_store(syn + k, v4_splat(0.0));
            v4_store(syn + kN - k - 3, v4_splat(0.0));
            continue;
        }
        V4 c, s;
        v4_table_sincos(tables, v4_splat(2.0) * ph * v4_splat(kPhasePi), c, s);
        v4_store(syn + k, v4_and(keep, a * c));
        v4_store(syn + kN - k - 3, v4_reverse(v4_and(keep, a * s)));
    }
    return k;
}

void overlap_add_frame(double* dst, const double* syn, const double* hann, double gain) {
    const V4 g = v4_splat(gain);
    for (std::int32_t i = 0; i < kN; i += 4) {
        v4_store(dst + i, v4_load(dst + i) + v4_load(syn + i) * g * v4_load(hann + i));
    }
}

}  // namespace avx

#pragma GCC pop_options
#endif

}  // namespace

void window_run(double* frame, const double* src, const double* hann, std::int64_t count,
                [[maybe_unused]] PackedLanes lanes) {
    std::int64_t k = 0;
#ifdef KELMOTRA_VEC4_AVX
    if (four_lanes(lanes)) k = avx::window_run(frame, src, hann, count);
#endif
    for (; k + 2 <= count; k += 2) v2_store(frame + k, v2_load(src + k) * v2_load(hann + k));
    for (; k < count; ++k) frame[k] = src[k] * hann[k];
}

void analyse_magnitudes(const double* frame, double* mag, [[maybe_unused]] PackedLanes lanes) {
    std::int32_t k = 1;
#ifdef KELMOTRA_VEC4_AVX
    if (four_lanes(lanes)) k = avx::analyse_magnitudes(frame, mag);
#endif
    for (; k + 1 < kHalf; k += 2) {
        const V2 c = v2_load(frame + k);
        const V2 s = v2_swap(v2_load(frame + kN - k - 1));
        v2_store(mag + k, v2_sqrt(s * s + c * c));
    }
    for (; k < kHalf; ++k) {
        const double c = frame[k];
        const double s = frame[kN - k];
        mag[k] = std::sqrt(s * s + c * c);
    }
    mag[0] = std::fabs(frame[0]);
    mag[kHalf] = std::fabs(frame[kHalf]);
}

void spectrum_phases(const Tables& tables, const double* frame, std::int32_t from,
                     std::int32_t to, double* phi, [[maybe_unused]] PackedLanes lanes) {
    std::int32_t k = from;
#ifdef KELMOTRA_VEC4_AVX
    if (four_lanes(lanes)) k = avx::spectrum_phases(tables, frame, from, to, phi);
#endif
    for (; k + 1 < to; k += 2) v2_store(phi + k, phase_pair(tables, frame, k));
    for (; k < to; ++k) phi[k] = phase_one(tables, frame, k);
}

void advance_phases(const Tables& tables, const double* frame, std::int32_t upto,
                    double* prev_phase, double* dphase, [[maybe_unused]] PackedLanes lanes) {
    std::int32_t k = 1;
#ifdef KELMOTRA_VEC4_AVX
    if (four_lanes(lanes)) k = avx::advance_phases(tables, frame, upto, prev_phase, dphase);
#endif
    for (; k + 1 < upto; k += 2) {
        const V2 phi = phase_pair(tables, frame, k);
        v2_store(dphase + k, v2_wrap_cycles(phi - v2_load(prev_phase + k)));
        v2_store(prev_phase + k, phi);
    }
    for (; k < upto; ++k) {
        const double phi = phase_one(tables, frame, k);
        dphase[k] = wrap_cycles(phi - prev_phase[k]);
        prev_phase[k] = phi;
    }
}

void analyse_bins(const Tables& tables, const double* frame, double* prev_phase, double* mag,
                  double* dphase, PackedLanes lanes) {
    analyse_magnitudes(frame, mag, lanes);
    advance_phases(tables, frame, kHalf, prev_phase, dphase, lanes);
    dphase[0] = 0.0;
    dphase[kHalf] = 0.0;
}

void synthesise_bins(const Tables& tables, const double* newmag, const double* newdph,
                     double* out_phase, double* syn, [[maybe_unused]] PackedLanes lanes) {
    syn[0] = newmag[0];
    syn[kHalf] = newmag[kHalf];
    std::int32_t k = 1;
#ifdef KELMOTRA_VEC4_AVX
    if (four_lanes(lanes)) k = avx::synthesise_bins(tables, newmag, newdph, out_phase, syn);
#endif
    for (; k + 1 < kHalf; k += 2) {
        const V2 ph = v2_wrap_cycles(v2_load(out_phase + k) + v2_load(newdph + k));
        v2_store(out_phase + k, ph);
        const V2 a = v2_load(newmag + k);
        const V2 keep = v2_ne(a, v2_splat(0.0));  // also NaN, as a == 0.0 is false for it
        if (v2_mask(keep) == 0) {
            v2_store(syn + k, v2_splat(0.0));
            v2_store(syn + kN - k - 1, v2_splat(0.0));
            continue;
        }
        V2 c, s;
        v2_table_sincos(tables, v2_splat(2.0) * ph * v2_splat(kPhasePi), c, s);
        v2_store(syn + k, v2_and(keep, a * c));
        v2_store(syn + kN - k - 1, v2_swap(v2_and(keep, a * s)));
    }
    for (; k < kHalf; ++k) {
        const double ph = wrap_cycles(out_phase[k] + newdph[k]);
        out_phase[k] = ph;
        const double a = newmag[k];
        if (a == 0.0) {
            syn[k] = 0.0;
            syn[kN - k] = 0.0;
            continue;
        }
        double c, s;
        table_sincos(tables, 2 * ph * kPhasePi, c, s);
        syn[k] = a * c;
        syn[kN - k] = a * s;
    }
}

void overlap_add_frame(double* dst, const double* syn, const double* hann, double gain,
                       [[maybe_unused]] PackedLanes lanes) {
#ifdef KELMOTRA_VEC4_AVX
    if (four_lanes(lanes)) return avx::overlap_add_frame(dst, syn, hann, gain);
#endif
    const V2 g = v2_splat(gain);
    for (std::int32_t i = 0; i < kN; i += 2) {
        v2_store(dst + i, v2_load(dst + i) + v2_load(syn + i) * g * v2_load(hann + i));
    }
}

void clear_non_finite(double* x, std::int32_t count) {
    const V2 inf = v2_splat(HUGE_VAL);
    std::int32_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const V2 v = v2_load(x + i);
        v2_store(x + i, v2_and(v2_lt(v2_abs(v), inf), v));
    }
    for (; i < count; ++i) {
        if (!std::isfinite(x[i])) x[i] = 0.0;
    }
}

double peak_magnitude(const double* x, std::int32_t count) {
    // max(v, peak) keeps peak for a NaN v, as (peak < v ? v : peak) does.
    V2 peak = v2_splat(0.0);
    std::int32_t i = 0;
    for (; i + 2 <= count; i += 2) peak = v2_max(v2_abs(v2_load(x + i)), peak);
    double p = std::max(v2_lane0(peak), v2_lane1(peak));
    for (; i < count; ++i) p = std::max(p, std::fabs(x[i]));
    return p;
}

void scale_and_clamp(double* x, std::int32_t count, double gain) {
    const V2 g = v2_splat(gain);
    const V2 hi = v2_splat(32767.0);
    const V2 lo = v2_splat(-32768.0);
    std::int32_t i = 0;
    for (; i + 2 <= count; i += 2) {
        V2 v = v2_load(x + i) * g;
        v = v2_and(v2_eq(v, v), v);  // NaN: +0
        v2_store(x + i, v2_max(v2_min(v, hi), lo));
    }
    for (; i < count; ++i) {
        double v = x[i] * gain;
        if (v > 32767.0) {
            v = 32767.0;
        } else if (v < -32768.0) {
            v = -32768.0;
        } else if (v != v) {
            v = 0.0;
        }
        x[i] = v;
    }
}

}  // namespace kelmotra
