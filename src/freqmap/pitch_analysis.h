// The classic pitch analysis: builds the frequency map of a voice sample in
// the time domain, every Step frames, from the first channel of the stored
// samples. It is kept exactly as it has always been, byte for byte, and runs
// when asked for by name (analysis.h); the default is the robust tracker
// (pitch_tracker.h), which shares this file's set-up, levels and average.
//
// Per step (pass 1): a Hann-weighted squared-difference function over the lags
// of the frequency band; its local minima are the candidates; each scores the
// frame's spectral magnitude at its frequency over the square root of its
// difference value; the best one is the step's period. A step whose best is
// its shortest candidate counts as unvoiced, and a continuity rule between
// neighbouring steps repairs octave-type errors (ratios 1, 2, 3, 4, 5, 3/2,
// 4/3), propagating backward. Pass 2 refines each voiced period to a fraction
// of a frame on interpolated samples, measures a windowed RMS level, and
// weighs the steps into one average frequency.
//
// Progress and diagnostic lines go to the `progress` stream given to each
// entry point (nullptr: nothing is printed). The lines of the two passes end
// in a carriage return, so each overwrites the previous one on a terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <vector>

#include "audio/platform.h"
#include "audio/wav_reader.h"
#include "freqmap/freqlist.h"
#include "freqmap/sample_readers.h"

namespace kelmotra {

// Window length N (samples) and hop Step (frames) for a sample rate R (Hz):
// up to 14999 Hz 512/64, up to 29999 Hz 720/128, up to 59999 Hz 1024/256,
// above that 2048/512.
struct AnalysisWindow {
    std::int32_t N = 0;
    std::int32_t Step = 0;
};
AnalysisWindow analysis_window(std::uint32_t R);

// Whole analysis of a data chunk held in memory.
//   bytes         the data chunk as stored (interleaved frames), borrowed and
//                 only read; bytes[0, buffer_bytes) must be readable.
//   buffer_bytes  bytes in that buffer: D data bytes and any padding after
//                 them. The analysis never reads past it; frames past D read
//                 as silence whether padding is there or not.
//   D             data bytes really present (0 <= D <= buffer_bytes).
//   B             bits per sample: 8, 16, 24 or 32.
//   Ch            channels per frame (>= 1); channel 0 is analysed.
//   A             block align, bytes per frame; must equal Ch * B / 8.
//   R             sample rate, Hz (>= 1).
//   N             window length in samples: a multiple of 8, 8 .. 2048.
//   Step          hop between analysed steps, frames (>= 1).
//   fLo, fHi      frequency band, Hz; a value below 1 selects 55 (fLo) or
//                 880 (fHi); the two are exchanged when fLo > fHi.
//   format_tag    WAV format tag; with B = 32, tag 1 reads integers (value /
//                 65536 on the 16-bit scale), any other tag IEEE floats.
//   progress      stream for the progress lines, or nullptr.
// Returns the new list (owned by the caller): step = Step, sample_rate = R,
// count = steps analysed, freqs in Hz and amps on the 16-bit scale with
// count + 1 values each. Nothing when the arguments break the rules above
// (nothing printed then), or when the data is too short for one step
// (count 0; the progress lines are printed all the same).
std::optional<FreqList> analysePitch(const std::uint8_t* bytes, std::size_t buffer_bytes,
                                     std::int32_t D, std::int32_t B, std::int32_t Ch,
                                     std::int32_t A, std::int32_t R, std::int32_t N,
                                     std::int32_t Step, std::int32_t fLo, std::int32_t fHi,
                                     std::uint16_t format_tag, std::FILE* progress);

// ---------------------------------------------------------------------------
// Building blocks of the analysis, for tests, benchmarks and the robust
// tracker.

// printf to out, or nothing when out is nullptr (the progress lines).
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void say_progress(std::FILE* out, const char* format, ...);

// Whether lag z matches lag M (both frames): floor(8M/9) < z < floor(9M/8).
bool lag_matches(std::int64_t z, std::int64_t M);

// Continuity correction between step i (>= 1) and step i - 1, applied when
// at least one of the two is voiced, with the backward propagation toward
// step 0. lag: chosen periods in frames (0: none); voiced: 1 or 0; both hold
// at least i + 1 entries and are updated in place (borrowed).
void continuity_correct(std::span<std::int32_t> lag, std::span<std::int32_t> voiced,
                        std::size_t i);

// A checked set of analysis parameters with its derived sizes. Borrows the
// sample bytes.
struct PitchSetup {
    const std::uint8_t* bytes = nullptr;  // data chunk, borrowed
    std::size_t buffer_bytes = 0;         // readable bytes at `bytes`
    std::int64_t D = 0;                   // data bytes
    SampleCoding coding = SampleCoding::S16;
    std::int32_t B = 0, Ch = 0, A = 0, R = 0, N = 0, Step = 0;
    std::int32_t H = 0;           // frame buffer length, N + N/2 samples
    std::int32_t K = 0;           // comparison length, N/4 + N/2 samples
    std::int32_t minLag = 0;      // shortest lag, frames (R / highest frequency, at least 1)
    std::int32_t maxLag = 0;      // longest lag, frames (R / lowest frequency, at most K)
    std::int32_t list_size = 0;   // (D / A) / Step
    std::int32_t list_count = 0;  // steps analysed: i * A * Step < D - N, at most list_size
    std::int64_t data_frames = 0; // frames that hold data: offset < D, channel 0 inside the buffer
};

// The first set-up lines of an analysis on out (nullptr: none), from
// "N=%d Step=%d" to "List Size=%d".
void say_setup(std::FILE* out, const PitchSetup& setup);

// Checks the arguments of analysePitch (same meaning and units) and derives
// the sizes. The result borrows bytes. Nothing when they break its rules.
std::optional<PitchSetup> pitch_setup(const std::uint8_t* bytes, std::size_t buffer_bytes,
                                      std::int32_t D, std::int32_t B, std::int32_t Ch,
                                      std::int32_t A, std::int32_t R, std::int32_t N,
                                      std::int32_t Step, std::int32_t fLo, std::int32_t fHi,
                                      std::uint16_t format_tag);

inline constexpr std::size_t kTableSlots = 128;  // cached candidate tables
inline constexpr std::size_t kScoreGroup = 4;    // candidates scored side by side

// Working storage of one analysis, sized once from its set-up and used again
// by every step; nothing in the step functions below allocates. Sizes are in
// values (doubles) unless stated.
struct PitchWork {
    std::vector<double> w1;         // N points: periodic Hann window of length N
    std::vector<double> w2;         // H + 1 points: Hann window over H
    std::vector<double> w2_even;    // K points: w2[2k], the difference function's window
    std::vector<double> frame;      // H samples of the step (16-bit scale), x
    std::vector<double> frame_reversed;  // the same, last sample first
    bool wide_lanes = false;        // the difference function may use 4-lane vectors (same bits)
    std::vector<double> windowed;   // N samples: frame[N/4 + j] * w1[j], y
    std::vector<double> diff;       // maxLag + 1 values, d[m] for minLag <= m <= maxLag
    std::vector<std::int32_t> candidates;  // candidate lags, in increasing order
    std::int32_t candidate_count = 0;
    // Tables of the candidate scores: slot m % kTableSlots holds, for the lag
    // in table_lag[slot], cos and sin of 2*pi*r/m for r = 0 .. m/2.
    std::size_t table_stride = 0;   // values per slot, maxLag/2 + 1
    std::vector<double> cos_table;  // kTableSlots * table_stride
    std::vector<double> sin_table;
    std::vector<double> angle_table;      // the angles 2*pi*r/m themselves
    std::vector<std::int32_t> table_lag;  // kTableSlots lags, 0: slot empty
    // The tables of one lag expanded to a whole turn (maxLag entries each).
    std::vector<double> turn_cos, turn_sin, turn_angle, turn_extra;
    // cos and sin at every j < N for kScoreGroup candidates, interleaved.
    std::vector<double> phase_cos, phase_sin;
    std::vector<double> raw;        // refinement: raw channel-0 values of a stretch of frames
    std::int64_t raw_first = 0;     // frame of raw[0]
    std::int64_t raw_count = 0;     // values of raw loaded for the current step
    std::int32_t raw_lag_cap = 0;   // longest lag the raw stretch can serve
};
// The working storage for setup (read only), with both windows computed.
// Returned to the caller, who owns it; it borrows nothing.
PitchWork pitch_work(const PitchSetup& setup);

// Pass 1 of step i (0 <= i < list_count) of the sample described by setup
// (read only): fills frame, windowed, diff and the candidate list of work
// (updated in place), scores the candidates and returns the chosen lag
// (frames, 0 for none) and whether it counts as voiced (1) or not (0), before
// the continuity correction.
struct StepLag {
    std::int32_t lag = 0;
    std::int32_t voiced = 0;
};
StepLag pitch_pass1_step(const PitchSetup& setup, PitchWork& work, std::int32_t i);

// The spectral sums of work's windowed frame y (16-bit scale) at the
// frequency of lag m (frames, 1 <= m <= maxLag; zeros otherwise):
// re = sum y[j] cos(2 pi j/m), im = sum y[j] sin(2 pi j/m), j = 0 .. N-1 in
// that order, with 2 pi = 6.28318530717958. Uses and refills work's tables
// (updated in place); each cos and sin value lies within a few units in the
// last place of direct evaluation, and equals it for j <= m/2.
struct SpectralSums {
    double re = 0.0;
    double im = 0.0;
};
SpectralSums candidate_sums(const PitchSetup& setup, PitchWork& work, std::int32_t m);

// Refinement cost of trial lag w (frames) at step i of the sample described
// by setup, through the generic interpolating readers: the sum over m < K of
// (v(c0 - w/2 + m) - v(c0 - w/2 + w + m))^2 * w2[2m], c0 = N/8 + i*Step
// (frames), v on the 16-bit scale. work (read only) supplies w2.
double refine_cost_direct(const PitchSetup& setup, const PitchWork& work, std::int32_t i, double w);

// The refined period (frames) of step i for its integer lag (frames, >= 1):
// the step-halving search of pass 2, which returns lag itself when it wanders
// more than one frame away. Loads a stretch of raw samples into work (updated
// in place) and evaluates each trial with one kernel per side; equal, bit for
// bit, to the search run on refine_cost_direct.
double pitch_refine(const PitchSetup& setup, PitchWork& work, std::int32_t i, std::int32_t lag);

// Windowed RMS level of step i on the 16-bit scale: frames i*Step - N/4 on,
// weighted by work's w2 (read only). 0 for steps whose window would start
// before frame 0; frames without data count as 0.
double pitch_amplitude(const PitchSetup& setup, const PitchWork& work, std::int32_t i);

// The same level with the window w2 given (H + 1 values, borrowed; as
// pitch_window_w2 makes it).
double pitch_amplitude(const PitchSetup& setup, std::span<const double> w2, std::int32_t i);

// W2, the Hann window over the frame buffer: H + 1 points,
// 0.5 - 0.5 cos(2 pi k / H) with 2 pi = 6.28318530717958. Returned to the caller.
std::vector<double> pitch_window_w2(const PitchSetup& setup);

// The weighted average frequency (Hz) of a map's first `count` steps: freq
// in Hz (above 0: voiced), amp their levels (both borrowed, at least count
// values). Each voiced step weighs (amp + 1) times, for each of the 11 steps
// before it, (f / (f + 15 |f_prev - f|))^2 when that step exists and is
// voiced, else 1 / (f + 1); the sums run in step order. `fallback` (Hz)
// when no step is voiced or the weights leave the double range.
double pitch_average(std::span<const double> freq, std::span<const double> amp, std::int32_t count,
                     double fallback);

}  // namespace kelmotra
