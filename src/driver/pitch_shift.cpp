#include "driver/pitch_shift.h"

#include <algorithm>

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
double envelope_factor(const EnvelopeSource& env, double m, double L, double h, double gf,
                       bool no_envelope) {
    if (no_envelope) return 1.0;
    const double src = floor_plus_half(m * L);
    if (!(src >= 1.0 && src <= 512.0)) return 1.0;
    const double dst = floor_plus_half(m * h * L * gf);
    if (!(dst >= 1.0 && dst <= 511.0)) return 1.0;
    const double es = env_value(env, static_cast<std::int32_t>(src));
    if (es == 0.0) return 1.0;
    return env_value(env, static_cast<std::int32_t>(dst)) / es;
}

// Harmonic numbers only grow along the bins, so the factor is computed once
// per harmonic and reused for all its bins.
struct FactorCache {
    double m = -1.0;
    double factor = 1.0;
};

double cached_factor(FactorCache& cache, const EnvelopeSource& env, double m, double L, double h,
                     double gf, bool no_envelope) {
    if (m != cache.m) {
        cache.m = m;
        cache.factor = envelope_factor(env, m, L, h, gf, no_envelope);
    }
    return cache.factor;
}

// The scatter (h > 1) or gather (h < 1) of shift_spectrum; h == 1 and NaN are
// handled by the callers.
void move_bins(const EnvelopeSource& env, const double* mag, const double* dphase, double L,
               double h, double gf, bool no_envelope, const AdvanceCorrection& correction,
               double* newmag, double* newdph) {
    std::fill(newmag, newmag + kHalfFrame + 1, 0.0);
    std::fill(newdph, newdph + kHalfFrame + 1, 0.0);
    FactorCache cache;
    if (h > 1.0) {
        // Scatter: input bin k, of harmonic m, moves by s bins to t. A later k
        // landing on the same t replaces the earlier one.
        for (std::int32_t k = 1; k <= kHalfFrame - 1; ++k) {
            const double m = floor_plus_half(k / L);
            const double s = (h - 1.0) * L * m;
            const double t = floor_plus_half(k + s);
            if (!(t >= 1.0 && t <= kHalfFrame - 1)) continue;
            const auto ti = static_cast<std::int32_t>(t);
            double dk = dphase[k];
            if (correction.apply) dk = corrected_advance(dk, m, L, correction.gap);
            newmag[ti] = cached_factor(cache, env, m, L, h, gf, no_envelope) * mag[k];
            newdph[ti] = wrap_cycles(dk - s * 256 * 0.0009765625);
        }
    } else if (h < 1.0) {
        // Gather: output bin t belongs to harmonic m at the new pitch and takes
        // the input bin k that harmonic came from (s < 0).
        for (std::int32_t t = 1; t <= kHalfFrame - 1; ++t) {
            const double m = floor_plus_half(t / (h * L));
            const double s = m * (h - 1.0) * L;
            const double k = floor_plus_half(t - s);
            if (!(k >= 0.0 && k <= kHalfFrame - 1)) continue;
            const auto ki = static_cast<std::int32_t>(k);
            double dk = dphase[ki];
            if (correction.apply && ki >= 1) {
                // The source bin's own harmonic (bin 0 is never corrected).
                dk = corrected_advance(dk, floor_plus_half(ki / L), L, correction.gap);
            }
            newmag[t] = cached_factor(cache, env, m, L, h, gf, no_envelope) * mag[ki];
            newdph[t] = wrap_cycles(dk - s * 256 * 0.0009765625);
        }
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
                              EnvelopeWork& work, double* newmag, double* newdph) {
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
    move_bins(env, mag, dphase, L, h, gf, no_envelope, correction, newmag, newdph);
}

}  // namespace kelmotra
