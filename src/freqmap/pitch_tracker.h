// Robust pitch tracker: the default analysis of a sample's frequency map.
//
// Per step, a cumulative-mean-normalised difference function (after de
// Cheveigne and Kawahara's YIN) computed through an FFT cross-correlation;
// its dips are the step's candidate periods, each with its depth and the
// share of a range of voicing thresholds under which it is the first dip
// deep enough (after Mauch and Dixon's pYIN), so that a dip at a multiple of
// the period outranks the period only when it is clearly deeper. One path
// through all steps (pitch_path.h) then picks a candidate or "unvoiced" per
// step, and the chosen period is refined by a parabola through the raw
// difference values around it, which cannot leave its dip.
//
// Same map layout as the literal analysis (pitch_analysis.h): the same step,
// count, amplitudes and average weighting; only the frequencies differ. The
// set-up lines are printed, the per-step lines are not.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <vector>

#include "audio/transforms.h"
#include "freqmap/freqlist.h"
#include "freqmap/pitch_analysis.h"

namespace kelmotra {

// The tracker's settings, with their defaults.
struct TrackerOptions {
    double low_hz = 55.0;        // lowest fundamental searched, Hz
    double high_hz = 1100.0;     // highest fundamental searched, Hz
    double centre_hz = 220.0;    // the comparison of a period of this frequency is centred on the step
    double dip_reach = 0.06;     // a dip is the lowest point within this fraction of its lag either way
    int threshold_power = 4;     // sharpness of the voicing-threshold prior: G(s) = 1 - (1 - s)^power (1..16)
    double share_weight = 1.0;   // cost of a candidate's missing share of the threshold range
    double voicing_threshold = 0.45;   // a step is voiced when 1 - (best depth) beats this
    double silence_threshold = 0.03;   // level (of the loudest step's) below which steps turn unvoiced
    double jump_cost = 1.0;      // per octave of pitch change between steps, per 10 ms of step
    double switch_cost = 0.14;   // per change between voiced and unvoiced, per 10 ms of step
};

inline constexpr std::int32_t kMaxCandidates = 8;  // voiced candidates kept per step

// Sizes of one tracking, derived from the rate and window.
struct TrackerSetup {
    std::int32_t R = 0;       // sample rate, Hz
    std::int32_t W = 0;       // integration window, frames
    std::int32_t minLag = 0;  // shortest period searched, frames (R / high_hz, at least 2)
    std::int32_t maxLag = 0;  // longest period searched, frames (R / low_hz)
    std::int32_t lead = 0;    // frames from a frame's first sample to the step's position
    std::int32_t span = 0;    // frames read per step: W + maxLag + 2
    std::int32_t fft_n = 0;   // transform size: the power of two >= span
};

// The sizes for rate R (Hz, >= 1) and window N (frames, >= 8). Nothing when
// the band holds no lag of at least 2 frames or the transform would exceed
// 2^20 points.
std::optional<TrackerSetup> tracker_setup(std::int32_t R, std::int32_t N, const TrackerOptions& options);

// One candidate period of a step.
struct PitchCandidate {
    double lag = 0.0;    // refined period, frames
    double depth = 1.0;  // normalised difference at the dip, 0 (periodic) .. 1 (not at all)
    double share = 0.0;  // share of the threshold prior that picks this dip first, 0 .. 1
};

// The candidates of one step, in increasing lag, and the step's level.
struct StepCandidates {
    std::int32_t count = 0;
    PitchCandidate c[kMaxCandidates];
    double level = 0.0;  // RMS of the frames read, on the signal's scale
};

// Working storage of one tracking, sized once; nothing in tracker_step
// allocates.
struct TrackerWork {
    Tables tables;                 // transforms of fft_n points
    std::vector<double> frame;     // span values: the frames read, zeros beyond the data
    std::vector<double> head;      // fft_n values: the first W of them, then zeros
    std::vector<double> energy;    // span + 1 prefix sums of squares of frame
    std::vector<double> diff;      // maxLag + 2 raw difference values d(tau)
    std::vector<double> norm;      // maxLag + 2 normalised values d'(tau)
    std::vector<double> spectrum;  // fft_n values
};
TrackerWork tracker_work(const TrackerSetup& setup);

// Loads work.frame with the frames read for the step at `position` (frames)
// of the sample described by sample (channel 0 on the 16-bit scale; frames
// outside the data read 0).
void tracker_frame(const PitchSetup& sample, const TrackerSetup& setup, TrackerWork& work,
                   std::int64_t position);

// The candidates of the step whose frames work.frame holds (span values, on
// any scale). Fills out; uses the rest of work (updated in place).
void tracker_step(const TrackerSetup& setup, const TrackerOptions& options, TrackerWork& work,
                  StepCandidates& out);

// The robust analysis of the sample described by setup (checked by
// pitch_setup with the default band, which gives the step count and the
// fallback average). Prints the set-up lines on progress (nullptr: none) and
// returns the list (owned by the caller), or nothing when the data is too
// short for one step. At a rate whose band holds no lag every step is
// unvoiced.
std::optional<FreqList> track_pitch(const PitchSetup& setup, const TrackerOptions& options,
                                    std::FILE* progress);

}  // namespace kelmotra
