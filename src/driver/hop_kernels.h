// The per-bin and per-sample loops of one hop, two bins or samples at a
// time (audio/vec2.h): windowing, magnitudes and phase advances, the
// synthesis spectrum with its running phases, and the overlap-add.
//
// Each gives exactly the numbers of the plain per-bin formula written beside
// it (the same IEEE operations in the same order per bin); bins whose
// numbers leave the range of the fast path (zeros, infinities, NaNs) take the
// plain formula itself. No allocation; all arrays are the caller's.
//
// Where the build and the CPU offer AVX (audio/vec4.h) they run four at a
// time, with the same bits; lanes = PackedLanes::two keeps them two at a
// time, so that tests can compare the two.
#pragma once

#include <cstdint>

#include "audio/packed_rdft.h"
#include "audio/transforms.h"

namespace kelmotra {

// frame[k] = src[k] * hann[k] for k < count (samples). The arrays do not
// overlap.
void window_run(double* frame, const double* src, const double* hann, std::int64_t count,
                PackedLanes lanes = PackedLanes::widest);

// The pieces of analyse_bins, for a hop that needs the phases of only its
// lower bins. frame: a spectrum (kFrameSize doubles in the layout of
// rdft_forward).
//   analyse_magnitudes: mag[k] of bins 0..512, as analyse_bins gives them.
//   spectrum_phases: phi[k] = table_atan2(S(k), C(k)) * 0.5 / kPhasePi
//     (cycles) for from <= k < to (1 <= from, to <= 512).
//   advance_phases: dphase[k] and prev_phase[k] as analyse_bins gives them,
//     for 1 <= k < upto (upto <= 512); the other bins are left alone.
void analyse_magnitudes(const double* frame, double* mag,
                        PackedLanes lanes = PackedLanes::widest);
void spectrum_phases(const Tables& tables, const double* frame, std::int32_t from,
                     std::int32_t to, double* phi, PackedLanes lanes = PackedLanes::widest);
void advance_phases(const Tables& tables, const double* frame, std::int32_t upto,
                    double* prev_phase, double* dphase,
                    PackedLanes lanes = PackedLanes::widest);

// Magnitudes and phase advances of the spectrum in frame (kFrameSize
// doubles in the layout of rdft_forward), bins 1..511:
//   phi = table_atan2(S(k), C(k)) * 0.5 / kPhasePi          (cycles)
//   dphase[k] = wrap_cycles(phi - prev_phase[k]); prev_phase[k] = phi
//   mag[k] = sqrt(S(k)^2 + C(k)^2)
// and mag[0] = |C(0)|, mag[512] = |C(512)|, dphase[0] = dphase[512] = 0.
// tables: built for kFrameSize.
void analyse_bins(const Tables& tables, const double* frame, double* prev_phase, double* mag,
                  double* dphase, PackedLanes lanes = PackedLanes::widest);

// Advances the running phases (cycles) by the phase advances newdph and
// builds the spectrum to invert from the magnitudes newmag (bins 0..512):
//   out_phase[k] = wrap_cycles(out_phase[k] + newdph[k]),   k = 1..511
//   (c, s) = table_sincos(2 * out_phase[k] * kPhasePi)
//   syn[k] = newmag[k] * c, syn[1024 - k] = newmag[k] * s   (both +0 when newmag[k] == 0)
// and syn[0] = newmag[0], syn[512] = newmag[512]. syn: kFrameSize doubles.
void synthesise_bins(const Tables& tables, const double* newmag, const double* newdph,
                     double* out_phase, double* syn, PackedLanes lanes = PackedLanes::widest);

// dst[i] += syn[i] * gain * hann[i] for one frame of kFrameSize samples.
void overlap_add_frame(double* dst, const double* syn, const double* hann, double gain,
                       PackedLanes lanes = PackedLanes::widest);

// x[i] = +0 for every x[i] (i < count) that is not finite.
void clear_non_finite(double* x, std::int32_t count);

// The largest |x[i]|, i < count, NaNs left out (0 when there is none).
double peak_magnitude(const double* x, std::int32_t count);

// x[i] = x[i] * gain clamped to [-32768, 32767], a NaN product becoming +0.
void scale_and_clamp(double* x, std::int32_t count, double gain);

}  // namespace kelmotra
