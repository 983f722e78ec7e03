// Breath kept as noise (flag B): the aperiodic part of a stretched note is
// resynthesised as noise instead of with running phases.
//
// The hop loop resynthesises every bin with a running phase. For harmonics
// that is right; for the noise of a voice (breath, aspiration) it is not
// once the note is stretched: consecutive frames then overlap more than the
// hops do, the hop correction gives every bin its harmonic's phase advance,
// and the noise turns into steady partials, a buzz. This part follows the
// harmonic-plus-noise view of the voice (Serra's deterministic plus
// stochastic model; Stylianou's harmonic plus noise model) and the phase
// randomisation of noise components in noise-aware phase vocoders:
//
//   1. Noise floor. Besides the hop's frame at input position p the input is
//      read one period later, at p + T (T = 1024 / L input frames; the
//      fraction of a frame the whole lag leaves out is made up by a phase
//      rotation). A periodic signal repeats there and noise does not, so
//      half the power of the difference of the two spectra is the noise of
//      one frame (as an autocorrelation at the period measures it, without
//      the cross terms of harmonic and noise). Averaged over 9 bins and
//      smoothed over the input's time, it is the floor: noise power per bin.
//   2. Split. Each input bin's noise share is min(1, 2 floor / |X|^2), a
//      Wiener-like mask: bins between the harmonics are noise, harmonic
//      peaks keep nearly all their energy. The periodic part of each output
//      bin keeps 1 - w share of its power (the share of the input bin the
//      shift took it from) and its running phase.
//   3. Noise. The floor is resynthesised in place (noise has no pitch to
//      move) under the same envelope lookup as the harmonics (output bin t
//      takes the floor at t * gf; at t / h with flag N), with phases from the
//      note's pseudo-random sequence, new every hop.
//   4. Level. The same measure applied to the finished output (what one
//      output period does not repeat) steers a level so that the note's
//      ratio of aperiodic to periodic power is B/100 of the input's,
//      whatever the shift and the overlap-add make of either part (the
//      running phases do not always add a shifted harmonic's frames
//      coherently, and the pitch shift of a real voice makes some
//      aperiodic power of its own). Below 1 the level converts less of the
//      periodic part (w times the level); above 1 it raises the noise.
//
// w = B/100 times the hop's stretch weight: 0 where the input moves 256 or
// more frames a hop (the running phases then carry the noise's own
// evolution, and transients stay sharp), 1 where it moves 128 or fewer (a
// note stretched 2x or more), linear in between.
//
// Everything is IEEE arithmetic (+ - * / sqrt), the transforms and tables of
// audio/transforms.h and the integer sequence of driver/noise_rng.h, so a
// note gives the same bytes on every platform and build.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/transforms.h"
#include "audio/wav_reader.h"
#include "driver/noise_rng.h"

namespace kelmotra {

// State and work areas of one note's breath noise, sized once before the hop
// loop (make_breath_state) and used by every hop. Empty when B is 0. Arrays
// of 513 hold bins 0..512.
struct BreathState {
    double amount = 0.0;               // B / 100, in (0, 1]; 0: the whole part is off
    NoiseRng rng;                      // the note's sequence
    std::vector<double> floor;         // 513: noise floor per input bin (|X|^2 units)
    std::vector<double> floor_amp;     // 513: its square roots
    std::vector<std::int32_t> lookup;  // 513: the floor bin each output bin takes (0: none)
    double lookup_factor = 1.0;        // the envelope lookup factor lookup was made for
    bool primed = false;               // floor holds an estimate
    std::int32_t hops_since = 0;       // noisy hops since the last estimate
    double moved_since = 0.0;          // input frames moved since the last estimate
    std::vector<double> later;         // kFrameSize: the frame one period later, then its spectrum
    std::vector<double> diff;          // 513: running sums of the unrepeated power over the bins
    std::vector<std::int32_t> source;  // 513: input bin of each output bin, or -1
    // Aperiodic share of input and output (decaying sums of power and of the
    // power a period does not repeat), and the level they steer.
    double in_power = 0.0, in_diff = 0.0;
    double out_power = 0.0, out_diff = 0.0;
    double level = 1.0;
};

// breath: flag B, 0..100 (0 or less gives an empty state; above 100 counts
// as 100). seed: the note's seed (note_seed).
BreathState make_breath_state(double breath, std::uint64_t seed);

// What one hop hands over. Arrays are the hop loop's, borrowed for the call.
struct BreathHop {
    const double* frame = nullptr;   // the hop's spectrum (layout of rdft_forward)
    const double* mag = nullptr;     // bins 0..511: its magnitudes
    const double* newmag = nullptr;  // bins 0..511: the shifted magnitudes
    const double* out = nullptr;     // the output accumulator; samples before ap are complete
    std::int64_t ap = 0;             // the hop's first output sample
    std::int64_t p = 0;              // integer input position of the hop (input frames)
    std::int64_t moved = -1;         // input frames moved since the previous hop; -1: no previous hop
    double L = 0.0;                  // harmonic spacing, bins (finite, > 0)
    double h = 0.0;                  // pitch ratio (finite, > 0)
    double gf = 1.0;                 // envelope lookup factor
    bool no_envelope = false;        // flag N: the noise moves with the pitch instead
};

// Adds the hop's breath noise to syn, the synthesis spectrum (layout of
// rdft_forward; bins 1..511 as built from newmag and the running phases) and
// takes the noise share off its periodic part. Reads the input (first
// channel; clean: the wave holds no non-finite sample) one period after the
// hop's position. Does nothing when the state is empty or the hop's stretch
// weight is 0.
void add_breath(const Tables& tables, const WaveData& wave, bool clean, const BreathHop& hop,
                BreathState& st, double* syn);

}  // namespace kelmotra
