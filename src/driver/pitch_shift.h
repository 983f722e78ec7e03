// Envelope-preserving pitch shift of one frame's spectrum.
//
// Every harmonic m of the input (at bin m * L) is moved to m * h * L and given
// the amplitude that the input's spectral envelope has at its new place, so
// the formants stay where they were while the pitch changes. The envelope is
// a smoothing of the bin magnitudes with a kernel one harmonic spacing wide.
//
// Array conventions (all owned by the caller):
//   mag     kFrameSize doubles. Lower half [0..512]: bin magnitudes. Upper
//           half: the envelope, env(j) for j = 1..512 at index 1024 - j
//           (index 512 holds env(512) once the envelope is built).
//   dphase  513 or more doubles: phase advance of bins 0..512 since the
//           previous hop, in cycles.
//   newmag, newdph  513 or more doubles each, outputs for bins 0..512.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/packed_rdft.h"
#include "audio/vec2.h"
#include "audio/vec4.h"

namespace kelmotra {

inline constexpr std::int32_t kHalfFrame = 512;  // bins 0..512 of a 1024-point frame

// Largest kernel half-width used by spectral_envelope: terms further than
// this from a bin can only read outside bins 0..511, so wider kernels (input
// pitches whose spacing L exceeds it) are cut there.
inline constexpr std::int32_t kKernelCapacity = 1023;

// Scratch of spectral_envelope, sized once (make_envelope_work) and reused.
struct EnvelopeWork {
    std::vector<double> kernel;  // kKernelCapacity + 1: K(m / L) for m = 0..R
    std::vector<double> padded;  // 512 + 2 kKernelCapacity + 1: magnitudes with the
                                 // mirror image below bin 0 and zeros above bin 511
    std::vector<double> sums;    // 512: the running sums of env(1..512)
};

EnvelopeWork make_envelope_work();

// floor(x + 0.5), exactly as std::floor(x + 0.5) gives it, without a
// library call and without a data-dependent branch where it matters: sums
// below 2^31 in magnitude (all phases and bin numbers) are truncated through
// a 32-bit integer, minus one where that went up; larger ones, NaN and
// infinities go to std::floor. The sum x + 0.5 is never -0, so the sign of a
// zero result needs no care. This rounding runs several times per bin per
// hop, on phases whose signs are random.
inline double floor_plus_half(double x) {
    const double y = x + 0.5;
    if (!(std::fabs(y) < 2147483648.0)) return std::floor(y);  // 2^31
    const double t = static_cast<double>(static_cast<std::int32_t>(y));
    return t - (t > y ? 1.0 : 0.0);
}

// Wraps a phase in cycles into [-0.5, 0.5): x - floor(x + 0.5).
inline double wrap_cycles(double x) { return x - floor_plus_half(x); }

// floor_plus_half of both lanes of a pair (audio/vec2.h) into out, when both
// x + 0.5 lie below 2^31 in magnitude; false (out untouched) otherwise.
inline bool v2_floor_plus_half(V2 x, V2& out) {
    const V2 y = x + v2_splat(0.5);
    if (v2_int_range_mask(y) != 3) return false;
    out = v2_floor_plus_half_in_range(y);
    return true;
}

// wrap_cycles of both lanes of a pair; lanes out of that range (NaN,
// infinities, huge phases) through the scalar function.
inline V2 v2_wrap_cycles(V2 x) {
    V2 f;
    if (v2_floor_plus_half(x, f)) return x - f;
    return v2_set(wrap_cycles(v2_lane0(x)), wrap_cycles(v2_lane1(x)));
}

#ifdef KELMOTRA_VEC4_AVX
#pragma GCC push_options
#pragma GCC target("avx")

// v2_floor_plus_half and v2_wrap_cycles four lanes wide (audio/vec4.h; call
// them only from code compiled for AVX): the same operations per lane, so
// the same numbers; wrap_cycles takes every lane where one leaves the range.
inline bool v4_floor_plus_half(V4 x, V4& out) {
    const V4 y = x + v4_splat(0.5);
    if (v4_int_range_mask(y) != 15) return false;
    out = v4_floor_plus_half_in_range(y);
    return true;
}

inline V4 v4_wrap_cycles(V4 x) {
    V4 f;
    if (v4_floor_plus_half(x, f)) return x - f;
    double v[4];
    v4_store(v, x);
    for (double& lane : v) lane = wrap_cycles(lane);
    return v4_load(v);
}

#pragma GCC pop_options
#endif

// A phase advance dph (cycles) of a bin of harmonic m, corrected for an
// input that moved 256 - gap frames since the previous hop instead of 256:
// the harmonic at m * L bins lost m * L * gap / 1024 cycles. L in bins.
inline double corrected_advance(double dph, double m, double L, double gap) {
    return wrap_cycles(dph - m * L * gap * 0.0009765625);
}

// Whether (and by how much) the phase advances need that correction this
// hop: gap = 256 - d for an input that moved d frames.
struct AdvanceCorrection {
    bool apply = false;
    double gap = 0.0;  // input frames
};

// The smoothing kernel K(x) = (x^2 - 4)(x^2 - 1)(x^2 - 2.25)^2 / 20.25.
// K(0) = 1, K(+-1) = 0, K >= 0 on |x| <= 1 (the only part used). x is in
// harmonic spacings (bins / L).
double envelope_kernel(double x);

// Builds the spectral envelope of one frame into mag's upper half:
//   env(j) = (sum over m = -R..R of K(m / L) * mag[idx]) / L,  j = 1..512,
// R = floor(L) (cut at kKernelCapacity), idx = j + m, mirrored at bin 0
// (idx = -(j + m) when j + m < 0); terms whose index falls outside 0..511 are
// left out. Only indices 0..511 are read, so the envelope can be stored as it
// is built.
//   mag     kFrameSize doubles, in/out (see the header comment).
//   L       harmonic spacing of the input pitch, in bins; finite and > 0.
//   work    scratch; its kernel holds K(m / L) for m = 0..R afterwards
//           (computed once per call, not per bin).
void spectral_envelope(double* mag, double L, EnvelopeWork& work);

// Fills kernel[0..R] with K(m / L) for m = 0..R and returns R = floor(L)
// (0 for L below 1 or not a number, kKernelCapacity at most). L in bins;
// kernel holds kKernelCapacity + 1 doubles.
std::int32_t envelope_kernel_table(double L, double* kernel);

// One envelope value env(j), j = 1..512, from the magnitudes mag[0..511]
// (bins), the kernel table of the same L and its R: the sum of
// spectral_envelope for that bin alone, in the same order, so the same
// number.
double envelope_at(const double* mag, std::int32_t j, double L, const double* kernel,
                   std::int32_t R);

// Moves the spectrum by the pitch ratio h, keeping the envelope built by
// spectral_envelope (same hop) in place.
//   mag, dphase  inputs as in the header comment (mag with its envelope).
//   L            harmonic spacing of the input pitch, in bins (> 0).
//   h            pitch ratio, output pitch / input pitch (> 0).
//   gf           envelope lookup factor (formant factor / rate ratio): a moved
//                harmonic takes the envelope value at m * h * L * gf.
//   no_envelope  true: every harmonic keeps its input magnitude.
//   newmag, newdph  outputs, bins 0..512 written.
// h > 1 scatters input bins upward, h < 1 gathers output bins from above,
// h == 1 copies magnitudes and advances unchanged. In the shifted cases bins
// 0 and 512 are 0. An h that is none of these (NaN) gives all zeros.
void shift_spectrum(const double* mag, const double* dphase, double L, double h, double gf,
                    bool no_envelope, double* newmag, double* newdph);

// Bins 1 .. n-1 are the only ones whose phase advance (dphase) the shift
// with ratio h reads (L in bins): for h > 1 the bin k of harmonic
// m = floor(k / L + 0.5) lands at t >= k + (h - 1) L (k / L - 0.5) - 0.5,
// past bin 511 once k > (511.5 + (h - 1) L / 2) / h, and the scatter reads
// no bin whose target lies past 511. The bound keeps three bins to spare for
// rounding (and one for the pair the scatter loads last). Any other h (h <= 1
// reads every bin, NaN) gives 512.
inline std::int32_t shift_phase_bins(double L, double h) {
    if (!(h > 1.0)) return kHalfFrame;
    const double bound = (511.5 + (h - 1.0) * L * 0.5) / h + 3.0;
    if (!(bound < kHalfFrame - 1)) return kHalfFrame;
    return bound >= 0.0 ? static_cast<std::int32_t>(bound) + 2 : 2;
}

// The hop correction of the phase advances (bins 1..511, each by
// corrected_advance with its harmonic m = floor(k / L + 0.5)), then
// spectral_envelope, then shift_spectrum, with the same results, but
// computing only what the shift reads: the envelope values of the moved
// harmonics (two each, or env(512) when h == 1) instead of all 512, and the
// corrections of the bins that are moved, with the harmonic numbers the shift
// has at hand. mag's lower half [0..511] holds the magnitudes; its upper half
// is neither read nor written; dphase is not changed. correction: whether
// and how to correct. work: scratch (its kernel is overwritten). Other
// arguments and outputs as for shift_spectrum. Where the frame transforms run
// four lanes wide (audio/packed_rdft.h) the scatter does too, with the same
// bits; lanes = PackedLanes::two keeps it two bins at a time.
void shift_spectrum_on_demand(const double* mag, const double* dphase, double L, double h,
                              double gf, bool no_envelope, const AdvanceCorrection& correction,
                              EnvelopeWork& work, double* newmag, double* newdph,
                              PackedLanes lanes = PackedLanes::widest);

}  // namespace kelmotra
