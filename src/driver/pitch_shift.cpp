#include "driver/pitch_shift.h"

#include <algorithm>

namespace kelmotra {

namespace {

constexpr std::int32_t kN = 2 * kHalfFrame;  // frame size, 1024

// Envelope value env(j), j = 1..512, stored at mag[1024 - j].
inline double env_at(const double* mag, std::int32_t j) { return mag[kN - j]; }

// The envelope factor of harmonic m (a whole number, held as a double):
// env(dst) / env(src), where src is the harmonic's bin in the input and dst
// the bin whose envelope value the moved harmonic takes. 1 where no
// correction applies. Every bin number is range-checked as a double before it
// is converted, so huge or non-finite products are harmless.
double envelope_factor(const double* mag, double m, double L, double h, double gf,
                       bool no_envelope) {
    if (no_envelope) return 1.0;
    const double src = std::floor(m * L + 0.5);
    if (!(src >= 1.0 && src <= 512.0)) return 1.0;
    const double dst = std::floor(m * h * L * gf + 0.5);
    if (!(dst >= 1.0 && dst <= 511.0)) return 1.0;
    const double es = env_at(mag, static_cast<std::int32_t>(src));
    if (es == 0.0) return 1.0;
    return env_at(mag, static_cast<std::int32_t>(dst)) / es;
}

// Harmonic numbers only grow along the bins, so the factor is computed once
// per harmonic and reused for all its bins.
struct FactorCache {
    double m = -1.0;
    double factor = 1.0;
};

double cached_factor(FactorCache& cache, const double* mag, double m, double L, double h,
                     double gf, bool no_envelope) {
    if (m != cache.m) {
        cache.m = m;
        cache.factor = envelope_factor(mag, m, L, h, gf, no_envelope);
    }
    return cache.factor;
}

}  // namespace

double envelope_kernel(double x) {
    const double x2 = x * x;
    const double c = x2 - 2.25;
    return (x2 - 4.0) * (x2 - 1.0) * (c * c) / 20.25;
}

void spectral_envelope(double* mag, double L, double* kernel) {
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

    for (std::int32_t j = 1; j <= kHalfFrame; ++j) {
        double sum = 0.0;
        if (j - R >= 0 && j + R <= kHalfFrame - 1) {
            // Interior bin: every term lies inside 0..511.
            const double* centre = mag + j;
            for (std::int32_t m = -R; m < 0; ++m) sum += kernel[-m] * centre[m];
            for (std::int32_t m = 0; m <= R; ++m) sum += kernel[m] * centre[m];
        } else {
            for (std::int32_t m = -R; m <= R; ++m) {
                const std::int32_t jm = j + m;
                if (jm >= kHalfFrame) break;  // and every later m too
                const std::int32_t idx = jm >= 0 ? jm : -jm;
                // A mirrored index past 511 only occurs with kernels wider
                // than the half frame; it would read the envelope itself.
                if (idx > kHalfFrame - 1) continue;
                sum += kernel[m < 0 ? -m : m] * mag[idx];
            }
        }
        mag[kN - j] = sum / L;
    }
}

void shift_spectrum(const double* mag, const double* dphase, double L, double h, double gf,
                    bool no_envelope, double* newmag, double* newdph) {
    if (h == 1.0) {
        std::copy(mag, mag + kHalfFrame + 1, newmag);
        std::copy(dphase, dphase + kHalfFrame + 1, newdph);
        return;
    }
    std::fill(newmag, newmag + kHalfFrame + 1, 0.0);
    std::fill(newdph, newdph + kHalfFrame + 1, 0.0);
    FactorCache cache;
    if (h > 1.0) {
        // Scatter: input bin k, of harmonic m, moves by s bins to t. A later k
        // landing on the same t replaces the earlier one.
        for (std::int32_t k = 1; k <= kHalfFrame - 1; ++k) {
            const double m = std::floor(k / L + 0.5);
            const double s = (h - 1.0) * L * m;
            const double t = std::floor(k + s + 0.5);
            if (!(t >= 1.0 && t <= kHalfFrame - 1)) continue;
            const auto ti = static_cast<std::int32_t>(t);
            newmag[ti] = cached_factor(cache, mag, m, L, h, gf, no_envelope) * mag[k];
            newdph[ti] = wrap_cycles(dphase[k] - s * 256 * 0.0009765625);
        }
    } else if (h < 1.0) {
        // Gather: output bin t belongs to harmonic m at the new pitch and takes
        // the input bin k that harmonic came from (s < 0).
        for (std::int32_t t = 1; t <= kHalfFrame - 1; ++t) {
            const double m = std::floor(t / (h * L) + 0.5);
            const double s = m * (h - 1.0) * L;
            const double k = std::floor(t - s + 0.5);
            if (!(k >= 0.0 && k <= kHalfFrame - 1)) continue;
            const auto ki = static_cast<std::int32_t>(k);
            newmag[t] = cached_factor(cache, mag, m, L, h, gf, no_envelope) * mag[ki];
            newdph[t] = wrap_cycles(dphase[ki] - s * 256 * 0.0009765625);
        }
    }
}

}  // namespace kelmotra
