#include "driver/pitch_shift.h"

#include <algorithm>

#include "audio/vec4.h"

namespace kelmotra {

namespace {

constexpr std::int32_t kN = 2 * kHalfFrame;  // frame size, 1024

// Envelope value env(j), j = 1..512, stored at mag[1024 - j].
inline double env_at(const double* mag, std::int32_t j) { return mag[kN - j]; }

// Where the envelope values come from: the upper half of mag, as
// spectral_envelope stored it (kernel == nullptr), or computed on demand
// from the magnitudes with the kernel values of this hop.
struct EnvelopeSource {
    const double* mag = nullptr;
    const double* kernel = nullptr;
    std::int32_t R = 0;
    double L = 1.0;
};

double env_value(const EnvelopeSource& e, std::int32_t j) {
    if (e.kernel == nullptr) return env_at(e.mag, j);
    return envelope_at(e.mag, j, e.L, e.kernel, e.R);
}

// The envelope factor of harmonic m (a whole number, held as a double):
// env(dst) / env(src), where src is the harmonic's bin in the input and dst
// the bin whose envelope value the moved harmonic takes. 1 where no
// correction applies. Every bin number is range-checked as a double before it
// is converted, so huge or non-finite products are harmless.
// Harmonic m's two envelope bins: true, with js (the input's) and jd (the
// moved harmonic's), when both sums take the fast path of envelope_at (this
// hop's kernel, every term inside 0..511); false where envelope_factor takes
// any other branch.
[[gnu::always_inline]] inline bool fast_sums(const EnvelopeSource& env, double m, double L,
                                             double h, double gf, bool no_envelope,
                                             std::int32_t& js, std::int32_t& jd) {
    if (no_envelope || env.kernel == nullptr) return false;
    const double src = floor_plus_half(m * L);
    if (!(src >= 1.0 && src <= 512.0)) return false;
    const double dst = floor_plus_half(m * h * L * gf);
    if (!(dst >= 1.0 && dst <= 511.0)) return false;
    js = static_cast<std::int32_t>(src);
    jd = static_cast<std::int32_t>(dst);
    return std::min(js, jd) - env.R >= 0 && std::max(js, jd) + env.R <= kHalfFrame - 1;
}

// env(jd) / env(js) from the pair of envelope sums (1 where env(js) is 0).
inline double factor_from_sums(V2 sum, double L) {
    const V2 e = sum / v2_splat(L);
    const double es = v2_lane0(e);
    if (es == 0.0) return 1.0;
    return v2_lane1(e) / es;
}

// The envelope factor of harmonic m (a whole number, held as a double):
// env(dst) / env(src), where src is the harmonic's bin in the input and dst
// the bin whose envelope value the moved harmonic takes. 1 where no
// correction applies. Every bin number is range-checked as a double before it
// is converted, so huge or non-finite products are harmless.
double envelope_factor(const EnvelopeSource& env, double m, double L, double h, double gf,
                       bool no_envelope) {
    std::int32_t js = 0, jd = 0;
    if (fast_sums(env, m, L, h, gf, no_envelope, js, jd)) {
        // Both sums on the fast path of envelope_at, side by side: each lane
        // adds its terms in the same order, so the same two numbers.
        const std::int32_t R = env.R;
        const double* k = env.kernel;
        const double* ms = env.mag + js;
        const double* md = env.mag + jd;
        V2 sum = v2_splat(0.0);
        for (std::int32_t i = -R; i < 0; ++i) {
            sum = sum + v2_splat(k[-i]) * v2_set(ms[i], md[i]);
        }
        for (std::int32_t i = 0; i <= R; ++i) sum = sum + v2_splat(k[i]) * v2_set(ms[i], md[i]);
        return factor_from_sums(sum, env.L);
    }
    if (no_envelope) return 1.0;
    const double src = floor_plus_half(m * L);
    if (!(src >= 1.0 && src <= 512.0)) return 1.0;
    const double dst = floor_plus_half(m * h * L * gf);
    if (!(dst >= 1.0 && dst <= 511.0)) return 1.0;
    const double es = env_value(env, static_cast<std::int32_t>(src));
    if (es == 0.0) return 1.0;
    return env_value(env, static_cast<std::int32_t>(dst)) / es;
}

// The factors of harmonics m and m + 1, as envelope_factor gives them. Where
// both take the fast path their sums run side by side: two chains of
// additions that do not wait for each other, each in its own order.
void envelope_factor_pair(const EnvelopeSource& env, double m, double L, double h, double gf,
                          bool no_envelope, double& f0, double& f1) {
    const double m1 = m + 1.0;
    std::int32_t js0 = 0, jd0 = 0, js1 = 0, jd1 = 0;
    if (!fast_sums(env, m, L, h, gf, no_envelope, js0, jd0) ||
        !fast_sums(env, m1, L, h, gf, no_envelope, js1, jd1)) {
        f0 = envelope_factor(env, m, L, h, gf, no_envelope);
        f1 = envelope_factor(env, m1, L, h, gf, no_envelope);
        return;
    }
    const std::int32_t R = env.R;
    const double* k = env.kernel;
    const double *ms0 = env.mag + js0, *md0 = env.mag + jd0;
    const double *ms1 = env.mag + js1, *md1 = env.mag + jd1;
    V2 sum0 = v2_splat(0.0);
    V2 sum1 = v2_splat(0.0);
    for (std::int32_t i = -R; i < 0; ++i) {
        const V2 w = v2_splat(k[-i]);
        sum0 = sum0 + w * v2_set(ms0[i], md0[i]);
        sum1 = sum1 + w * v2_set(ms1[i], md1[i]);
    }
    for (std::int32_t i = 0; i <= R; ++i) {
        const V2 w = v2_splat(k[i]);
        sum0 = sum0 + w * v2_set(ms0[i], md0[i]);
        sum1 = sum1 + w * v2_set(ms1[i], md1[i]);
    }
    f0 = factor_from_sums(sum0, env.L);
    f1 = factor_from_sums(sum1, env.L);
}

// Harmonic numbers only grow along the bins, so the factor is computed once
// per harmonic and reused for all its bins; the next harmonic's is computed
// with it and kept for when its bins come.
struct FactorCache {
    double m = -1.0;
    double factor = 1.0;
    bool has_next = false;  // next_factor holds harmonic m + 1's
    double next_factor = 1.0;
};

double cached_factor(FactorCache& cache, const EnvelopeSource& env, double m, double L, double h,
                     double gf, bool no_envelope) {
    if (m == cache.m) return cache.factor;
    if (cache.has_next && m == cache.m + 1.0) {
        cache.m = m;
        cache.factor = cache.next_factor;
        cache.has_next = false;
        return cache.factor;
    }
    envelope_factor_pair(env, m, L, h, gf, no_envelope, cache.factor, cache.next_factor);
    cache.m = m;
    cache.has_next = true;
    return cache.factor;
}

// Everything the scatter and gather read, fixed for one call.
struct Move {
    const EnvelopeSource* env;
    const double* mag;
    const double* dphase;
    double L, h, gf;
    bool no_envelope;
    AdvanceCorrection correction;
    double* newmag;
    double* newdph;
    FactorCache cache;
};

// The envelope factor of harmonic m for this move.
inline double factor_of(Move& mv, double m) {
    return cached_factor(mv.cache, *mv.env, m, mv.L, mv.h, mv.gf, mv.no_envelope);
}

// Scatter (h > 1), one input bin k of harmonic m: it moves by s bins to t. A
// later k landing on the same t replaces the earlier one.
inline void scatter_bin(Move& mv, std::int32_t k) {
    const double L = mv.L;
    const double m = floor_plus_half(k / L);
    const double s = (mv.h - 1.0) * L * m;
    const double t = floor_plus_half(k + s);
    if (!(t >= 1.0 && t <= kHalfFrame - 1)) return;
    const auto ti = static_cast<std::int32_t>(t);
    double dk = mv.dphase[k];
    if (mv.correction.apply) dk = corrected_advance(dk, m, L, mv.correction.gap);
    mv.newmag[ti] = factor_of(mv, m) * mv.mag[k];
    mv.newdph[ti] = wrap_cycles(dk - s * 256 * 0.0009765625);
}

// Gather (h < 1), one output bin t: it belongs to harmonic m at the new pitch
// and takes the input bin k that harmonic came from (s < 0).
inline void gather_bin(Move& mv, std::int32_t t) {
    const double L = mv.L;
    const double m = floor_plus_half(t / (mv.h * L));
    const double s = m * (mv.h - 1.0) * L;
    const double k = floor_plus_half(t - s);
    if (!(k >= 0.0 && k <= kHalfFrame - 1)) return;
    const auto ki = static_cast<std::int32_t>(k);
    double dk = mv.dphase[ki];
    if (mv.correction.apply && ki >= 1) {
        // The source bin's own harmonic (bin 0 is never corrected).
        dk = corrected_advance(dk, floor_plus_half(ki / L), L, mv.correction.gap);
    }
    mv.newmag[t] = factor_of(mv, m) * mv.mag[ki];
    mv.newdph[t] = wrap_cycles(dk - s * 256 * 0.0009765625);
}

Move make_move(const EnvelopeSource& env, const double* mag, const double* dphase, double L,
               double h, double gf, bool no_envelope, const AdvanceCorrection& correction,
               double* newmag, double* newdph) {
    std::fill(newmag, newmag + kHalfFrame + 1, 0.0);
    std::fill(newdph, newdph + kHalfFrame + 1, 0.0);
    return Move{&env,       mag,        dphase, L,      h,           gf,
                no_envelope, correction, newmag, newdph, FactorCache{}};
}

// The scatter (h > 1) or gather (h < 1) of shift_spectrum, bin by bin; h == 1
// and NaN are handled by the callers.
void move_bins(const EnvelopeSource& env, const double* mag, const double* dphase, double L,
               double h, double gf, bool no_envelope, const AdvanceCorrection& correction,
               double* newmag, double* newdph) {
    Move mv = make_move(env, mag, dphase, L, h, gf, no_envelope, correction, newmag, newdph);
    if (h > 1.0) {
        for (std::int32_t k = 1; k <= kHalfFrame - 1; ++k) scatter_bin(mv, k);
    } else if (h < 1.0) {
        for (std::int32_t t = 1; t <= kHalfFrame - 1; ++t) gather_bin(mv, t);
    }
}

// What one pair of bins of move_bins_pairs came to.
enum class PairStep {
    kDone,      // both bins handled
    kLast,      // both handled, and no later bin can land inside 1..511
    kFallback,  // numbers out of the integer range: the bins go one by one
};

// Constants of the pair loops, as pairs.
struct MoveConstants {
    V2 L, gap, quarter, two56, one, zero, top;
    explicit MoveConstants(const Move& mv)
        : L(v2_splat(mv.L)), gap(v2_splat(mv.correction.gap)), quarter(v2_splat(0.0009765625)),
          two56(v2_splat(256.0)), one(v2_splat(1.0)), zero(v2_splat(0.0)),
          top(v2_splat(kHalfFrame - 1)) {}
};

// scatter_bin for bins k and k + 1 at once. Targets never decrease along the
// bins (m, s and k + s do not), so once one lies past the top, every later
// one does too.
inline PairStep scatter_pair(Move& mv, const MoveConstants& c, V2 hl, std::int32_t k) {
    const V2 kv = v2_set(k, k + 1);
    V2 m, t;
    if (!v2_floor_plus_half(kv / c.L, m)) return PairStep::kFallback;
    const V2 s = hl * m;
    if (!v2_floor_plus_half(kv + s, t)) return PairStep::kFallback;
    const int valid = v2_mask(v2_and(v2_ge(t, c.one), v2_le(t, c.top)));
    const PairStep step = v2_lane1(t) > kHalfFrame - 1 ? PairStep::kLast : PairStep::kDone;
    if (valid == 0) return step;
    V2 dk = v2_load(mv.dphase + k);
    if (mv.correction.apply) dk = v2_wrap_cycles(dk - m * c.L * c.gap * c.quarter);
    const V2 ph = v2_wrap_cycles(dk - s * c.two56 * c.quarter);
    std::int32_t t0, t1;
    v2_trunc_ints(t, t0, t1);
    if (valid & 1) {
        mv.newmag[t0] = factor_of(mv, v2_lane0(m)) * mv.mag[k];
        mv.newdph[t0] = v2_lane0(ph);
    }
    if (valid & 2) {
        mv.newmag[t1] = factor_of(mv, v2_lane1(m)) * mv.mag[k + 1];
        mv.newdph[t1] = v2_lane1(ph);
    }
    return step;
}

// gather_bin for output bins t and t + 1 at once. Sources never decrease
// along the bins (s does not increase), so once one lies past the top,
// every later one does too.
inline PairStep gather_pair(Move& mv, const MoveConstants& c, V2 hlv, V2 hm1, std::int32_t t) {
    const V2 tv = v2_set(t, t + 1);
    V2 m, k;
    if (!v2_floor_plus_half(tv / hlv, m)) return PairStep::kFallback;
    const V2 s = m * hm1 * c.L;
    if (!v2_floor_plus_half(tv - s, k)) return PairStep::kFallback;
    const V2 ok = v2_and(v2_ge(k, c.zero), v2_le(k, c.top));
    const int valid = v2_mask(ok);
    const PairStep step = v2_lane1(k) > kHalfFrame - 1 ? PairStep::kLast : PairStep::kDone;
    if (valid == 0) return step;
    // Invalid lanes read bin 0 and are cleared below.
    const V2 kk = v2_and(ok, k);
    std::int32_t k0, k1;
    v2_trunc_ints(kk, k0, k1);
    V2 dk = v2_set(mv.dphase[k0], mv.dphase[k1]);
    if (mv.correction.apply) {
        V2 src;  // the source bin's own harmonic
        if (!v2_floor_plus_half(kk / c.L, src)) return PairStep::kFallback;
        const V2 fixed = v2_wrap_cycles(dk - src * c.L * c.gap * c.quarter);
        dk = v2_select(v2_gt(kk, c.zero), fixed, dk);  // bin 0 is never corrected
    }
    const V2 ph = v2_wrap_cycles(dk - s * c.two56 * c.quarter);
    const double f0 = (valid & 1) ? factor_of(mv, v2_lane0(m)) : 0.0;
    const double f1 = (valid & 2) ? factor_of(mv, v2_lane1(m)) : 0.0;
    v2_store(mv.newmag + t, v2_and(ok, v2_set(f0 * mv.mag[k0], f1 * mv.mag[k1])));
    v2_store(mv.newdph + t, v2_and(ok, ph));
    return step;
}

// Bins from .. 511 (from odd) through pair (two at a time) or, where it
// falls back, through one (bin by bin), in bin order; bin 511 alone at the
// end.
template <class Pair, class One>
void pairs_then_rest(Pair pair, One one, std::int32_t from = 1) {
    constexpr std::int32_t kLast = kHalfFrame - 1;
    std::int32_t b = from;
    for (; b + 1 <= kLast; b += 2) {
        const PairStep step = pair(b);
        if (step == PairStep::kLast) return;
        if (step == PairStep::kFallback) {
            one(b);
            one(b + 1);
        }
    }
    for (; b <= kLast; ++b) one(b);
}

#ifdef KELMOTRA_VEC4_AVX
#pragma GCC push_options
#pragma GCC target("avx")

// Constants of the scatter, four lanes wide.
struct ScatterQuad {
    V4 L, hl, gap, quarter, two56, one, top;
    explicit ScatterQuad(const Move& mv)
        : L(v4_splat(mv.L)), hl(v4_splat((mv.h - 1.0) * mv.L)), gap(v4_splat(mv.correction.gap)),
          quarter(v4_splat(0.0009765625)), two56(v4_splat(256.0)), one(v4_splat(1.0)),
          top(v4_splat(kHalfFrame - 1)) {}
};

// scatter_pair for bins k, k + 1 and k + 2, k + 3 at once, stopping where
// the first of those pairs would (its second target past the top); kFallback
// before any store, so the two pairs can then run as they would have.
inline PairStep scatter_quad(Move& mv, const ScatterQuad& c, std::int32_t k) {
    const V4 kv = v4_set(k, k + 1, k + 2, k + 3);
    V4 m, t;
    if (!v4_floor_plus_half(kv / c.L, m)) return PairStep::kFallback;
    const V4 s = c.hl * m;
    if (!v4_floor_plus_half(kv + s, t)) return PairStep::kFallback;
    int valid = v4_mask(v4_and(v4_ge(t, c.one), v4_le(t, c.top)));
    double tl[4];
    v4_store(tl, t);
    PairStep step = PairStep::kDone;
    if (tl[1] > kHalfFrame - 1) {
        step = PairStep::kLast;
        valid &= 3;
    } else if (tl[3] > kHalfFrame - 1) {
        step = PairStep::kLast;
    }
    if (valid == 0) return step;
    V4 dk = v4_load(mv.dphase + k);
    if (mv.correction.apply) dk = v4_wrap_cycles(dk - m * c.L * c.gap * c.quarter);
    const V4 ph = v4_wrap_cycles(dk - s * c.two56 * c.quarter);
    std::int32_t ti[4];
    v4_trunc_ints(t, ti);
    double ml[4], pl[4];
    v4_store(ml, m);
    v4_store(pl, ph);
    for (int l = 0; l < 4; ++l) {
        if (((valid >> l) & 1) == 0) continue;
        mv.newmag[ti[l]] = factor_of(mv, ml[l]) * mv.mag[k + l];
        mv.newdph[ti[l]] = pl[l];
    }
    return step;
}

// The scatter four bins at a time from bin 1 on; returns the first bin it
// left to the pairs (kHalfFrame when no later bin can land inside).
std::int32_t scatter_quads(Move& mv) {
    const ScatterQuad c(mv);
    std::int32_t b = 1;
    for (; b + 3 <= kHalfFrame - 1; b += 4) {
        const PairStep step = scatter_quad(mv, c, b);
        if (step == PairStep::kLast) return kHalfFrame;
        if (step == PairStep::kFallback) break;
    }
    return b;
}

#pragma GCC pop_options
#endif

// move_bins two (or, for the scatter where the transforms run four lanes
// wide, four) bins at a time: the same formulas lane by lane (so the same
// numbers), the envelope factors and the stores in bin order.
void move_bins_pairs(const EnvelopeSource& env, const double* mag, const double* dphase, double L,
                     double h, double gf, bool no_envelope, const AdvanceCorrection& correction,
                     double* newmag, double* newdph, [[maybe_unused]] PackedLanes lanes) {
    Move mv = make_move(env, mag, dphase, L, h, gf, no_envelope, correction, newmag, newdph);
    const MoveConstants c(mv);
    if (h > 1.0) {
        std::int32_t from = 1;
#ifdef KELMOTRA_VEC4_AVX
        if (lanes == PackedLanes::widest && packed_rdft_four_lanes()) from = scatter_quads(mv);
#endif
        const V2 hl = v2_splat((h - 1.0) * L);
        pairs_then_rest([&](std::int32_t k) { return scatter_pair(mv, c, hl, k); },
                        [&](std::int32_t k) { scatter_bin(mv, k); }, from);
    } else if (h < 1.0) {
        const V2 hlv = v2_splat(h * L);
        const V2 hm1 = v2_splat(h - 1.0);
        pairs_then_rest([&](std::int32_t t) { return gather_pair(mv, c, hlv, hm1, t); },
                        [&](std::int32_t t) { gather_bin(mv, t); });
    }
}

}  // namespace

double envelope_kernel(double x) {
    const double x2 = x * x;
    const double c = x2 - 2.25;
    return (x2 - 4.0) * (x2 - 1.0) * (c * c) / 20.25;
}

EnvelopeWork make_envelope_work() {
    EnvelopeWork w;
    w.kernel.assign(kKernelCapacity + 1, 0.0);
    w.padded.assign(kHalfFrame + 2 * kKernelCapacity + 1, 0.0);
    w.sums.assign(kHalfFrame, 0.0);
    return w;
}

namespace {

// sums[i] += k * x[i] for i = 0..511. The arrays do not overlap; the fixed
// length lets the compiler use vector instructions, which round each element
// exactly as the scalar loop would.
void add_scaled_512(double* __restrict sums, const double* __restrict x, double k) {
    for (std::int32_t i = 0; i < kHalfFrame; ++i) sums[i] += k * x[i];
}

}  // namespace

// The sums run term by term in ascending m for every bin at once: pass m adds
// K(m / L) * mag[idx(j + m)] to the sum of every bin j. Each bin sees the
// same additions in the same order as a loop over m per bin would. Terms
// whose index lies outside 0..511 read a zero from the padded copy; adding
// that +0 (or the -0 of K(+-1) * 0) leaves every sum exactly as it was, since
// the sums start at +0 and all terms are non-negative.
std::int32_t envelope_kernel_table(double L, double* kernel) {
    // R = floor(L), converted only once it is known to be in range.
    const double rl = std::floor(L);
    std::int32_t R = 0;
    if (rl >= kKernelCapacity) {
        R = kKernelCapacity;
    } else if (rl > 0.0) {
        R = static_cast<std::int32_t>(rl);
    }
    // K is even, and (-m) / L is exactly -(m / L): one value serves +-m.
    for (std::int32_t m = 0; m <= R; ++m) kernel[m] = envelope_kernel(m / L);
    return R;
}

double envelope_at(const double* mag, std::int32_t j, double L, const double* kernel,
                   std::int32_t R) {
    double sum = 0.0;
    if (j - R >= 0 && j + R <= kHalfFrame - 1) {
        // Every term inside 0..511.
        const double* centre = mag + j;
        for (std::int32_t m = -R; m < 0; ++m) sum += kernel[-m] * centre[m];
        for (std::int32_t m = 0; m <= R; ++m) sum += kernel[m] * centre[m];
    } else {
        for (std::int32_t m = -R; m <= R; ++m) {
            const std::int32_t jm = j + m;
            if (jm >= kHalfFrame) break;  // and every later m too
            const std::int32_t idx = jm >= 0 ? jm : -jm;
            if (idx > kHalfFrame - 1) continue;  // mirrored past 511: left out
            sum += kernel[m < 0 ? -m : m] * mag[idx];
        }
    }
    return sum / L;
}

void spectral_envelope(double* mag, double L, EnvelopeWork& work) {
    double* kernel = work.kernel.data();
    const std::int32_t R = envelope_kernel_table(L, kernel);

    // padded[R + i] is the term for index i = j + m, i = -R .. 511 + R:
    // mag[i] inside 0..511, mag[-i] mirrored below 0 (a mirrored index past
    // 511 only occurs with kernels wider than the half frame, and would read
    // the envelope itself: left out), nothing from 512 on.
    double* padded = work.padded.data();
    for (std::int32_t i = -R; i < 0; ++i) padded[R + i] = -i <= kHalfFrame - 1 ? mag[-i] : 0.0;
    std::copy(mag, mag + kHalfFrame, padded + R);
    std::fill(padded + R + kHalfFrame, padded + 2 * R + kHalfFrame + 1, 0.0);

    double* sums = work.sums.data();  // sums[j - 1] for j = 1..512
    std::fill(sums, sums + kHalfFrame, 0.0);
    for (std::int32_t m = -R; m <= R; ++m) {
        add_scaled_512(sums, padded + R + m + 1, kernel[m < 0 ? -m : m]);
    }
    // Only indices 0..511 were read, so the envelope can now take the upper half.
    for (std::int32_t j = 1; j <= kHalfFrame; ++j) mag[kN - j] = sums[j - 1] / L;
}

void shift_spectrum(const double* mag, const double* dphase, double L, double h, double gf,
                    bool no_envelope, double* newmag, double* newdph) {
    if (h == 1.0) {
        std::copy(mag, mag + kHalfFrame + 1, newmag);
        std::copy(dphase, dphase + kHalfFrame + 1, newdph);
        return;
    }
    EnvelopeSource env;
    env.mag = mag;
    move_bins(env, mag, dphase, L, h, gf, no_envelope, AdvanceCorrection{}, newmag, newdph);
}

void shift_spectrum_on_demand(const double* mag, const double* dphase, double L, double h,
                              double gf, bool no_envelope, const AdvanceCorrection& correction,
                              EnvelopeWork& work, double* newmag, double* newdph,
                              PackedLanes lanes) {
    EnvelopeSource env;
    env.mag = mag;
    env.kernel = work.kernel.data();
    env.R = envelope_kernel_table(L, work.kernel.data());
    env.L = L;
    if (h == 1.0) {
        std::copy(mag, mag + kHalfFrame, newmag);
        newmag[kHalfFrame] = envelope_at(mag, kHalfFrame, L, env.kernel, env.R);
        std::copy(dphase, dphase + kHalfFrame + 1, newdph);
        if (correction.apply) {
            for (std::int32_t k = 1; k <= kHalfFrame - 1; ++k)
                newdph[k] = corrected_advance(newdph[k], floor_plus_half(k / L), L, correction.gap);
        }
        return;
    }
    move_bins_pairs(env, mag, dphase, L, h, gf, no_envelope, correction, newmag, newdph, lanes);
}

}  // namespace kelmotra
