// The phase-vocoder hop loop and the level stage.
//
// The output is built in hops of 256 samples. For each hop a frame of 1024
// input samples is taken at the input position the timing plan assigns to
// that moment, windowed and transformed, its magnitudes and phase advances
// are measured, the spectrum is moved to the target pitch with its envelope
// kept in place, resynthesised with running phases and overlap-added into the
// output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "audio/wav_reader.h"
#include "driver/args.h"
#include "driver/breath_noise.h"
#include "driver/pitch_shift.h"
#include "driver/timing.h"
#include "audio/transforms.h"
#include "freqmap/freqlist.h"

namespace kelmotra {

inline constexpr std::int32_t kHop = 256;             // output samples per hop
inline constexpr std::int32_t kFrameLead = 384;       // frame starts this far before the hop's position
inline constexpr double kPhasePi = 3.14159265358979;  // pi as the phase computations take it
inline constexpr double kOverlapGain = 0.00146484375; // 3 / 2048, overlap-add scale of a frame

// Positions further outside the input than this many frames are held here
// before they are converted to an integer; they read silence either way.
inline constexpr double kFarPosition = 1.0e12;

// Per-hop work arrays, each kFrameSize doubles, sized once and reused every
// hop (their contents do not carry from one hop to the next, but for frame,
// which is swapped with HopState::prev_spectrum).
struct HopWork {
    std::vector<double> frame;   // windowed input, then its spectrum
    std::vector<double> mag;     // bins 0..512 magnitudes; upper half: the envelope
    std::vector<double> dphase;  // phase advance of bins 0..512, cycles
    std::vector<double> newmag;  // re-pitched magnitudes
    std::vector<double> newdph;  // re-pitched phase advances, cycles
    std::vector<double> syn;     // synthesis spectrum, then the synthesised frame
    std::vector<double> transform;  // scratch of the transforms: 2 kFrameSize doubles from
                                    // a 32-byte boundary (transform_scratch)
    EnvelopeWork envelope;       // scratch of the envelope sums
};

// Loop state carried from hop to hop.
struct HopState {
    std::vector<double> prev_phase;  // kFrameSize: analysis phase of each bin, cycles: of the
                                     // last hop's spectrum for bins 1 .. phases_current - 1,
                                     // of an earlier one for the others
    std::vector<double> prev_spectrum;  // kFrameSize: the last hop's spectrum (it and
                                        // HopWork::frame trade places every hop)
    std::int32_t phases_current = kFrameSize / 2;  // all bins before the first hop (phase 0)
    std::vector<double> out_phase;   // kFrameSize: running synthesis phase, cycles in [-0.5, 0.5)
    std::int64_t prev_pos = -1;      // integer input position of the previous hop (input
                                     // frames); -1 means none, as does a real position of -1
    BreathState breath;              // flag B: the breath noise (empty without B)
};

HopWork make_hop_work();

// The transforms' scratch in work: 2 kFrameSize doubles that start on a
// 32-byte boundary, where four-lane loads and stores run fastest.
double* transform_scratch(HopWork& work);
HopState make_hop_state();

// Everything one hop reads, fixed for the whole loop. The pointers are
// borrowed: the caller keeps the objects alive while the loop runs.
struct LoopSetup {
    const ResamplerArgs* args = nullptr;
    const TimingPlan* plan = nullptr;
    const WaveData* wave = nullptr;
    const FreqList* list = nullptr;
    const Tables* tables = nullptr;   // built for kFrameSize
    double rho = 1.0;  // input sample rate / 44100
    double fa = 0.0;   // freq_avg / rho * modulation, Hz at 44100
    double gf = 1.0;   // formant / rho, envelope lookup factor
    bool clean = false;  // the wave holds no NaN or infinite sample
};

LoopSetup make_loop_setup(const ResamplerArgs& args, const TimingPlan& plan, const WaveData& wave,
                          const FreqList& list, const Tables& tables);

// Target pitch in Hz at output sample ap (output samples, >= 0): args.pitch
// without a track; with one, the track interpolated at (ap + 512) / bend_step,
// entries at or below 1 Hz standing for args.pitch and the track's final
// entry (args.pitch) beyond its end. A track that is inconsistent with
// track_count, or a bend_step below 1, counts as no track.
double target_pitch(const ResamplerArgs& args, double ap);

// The scalar quantities of one hop.
struct HopPitch {
    std::int64_t p = 0;  // integer input position (input frames), clamped to +-kFarPosition
    double tp = 0.0;     // target pitch, Hz
    double f0 = 0.0;     // source pitch at p + 384, Hz at the input's rate
    double L = 0.0;      // harmonic spacing at 44100 Hz, bins
    double h = 0.0;      // pitch ratio
    bool valid = false;  // L and h finite and > 0; otherwise the hop is silent
};

// Reads the frame of input frames p - 384 .. p + 639 (first channel only)
// into frame (kFrameSize doubles), windowed with hann (kFrameSize doubles).
// Frames outside the buffer (before 0, or past the silence that follows the
// samples) read 0, and so do non-finite samples. clean: the wave holds no
// non-finite sample. |p| at most a little over kFarPosition.
void read_frame(const WaveData& wave, bool clean, const double* hann, std::int64_t p,
                double* frame);

// Computes the hop quantities for output sample ap = 256 * hop index.
HopPitch hop_pitch(const LoopSetup& setup, double ap);

// Corrects the phase advances dphase[1..511] (cycles, in place) of a hop whose
// input moved d frames since the previous hop instead of 256, as if it had
// moved exactly 256: bin k of harmonic m = floor(k / L + 0.5) loses
// m * L * (256 - d) / 1024 cycles, wrapped. L in bins.
void hop_correction(double* dphase, double L, std::int64_t d);

// Renders hop `hop` (>= 0) into out[256 * hop .. 256 * hop + 1023], which
// must exist; updates state; uses work as scratch.
void render_hop(const LoopSetup& setup, std::int32_t hop, HopState& state, HopWork& work,
                double* out);

// The whole hop loop. out: the output accumulator, owned by the caller, with
// plan.outlen + 1024 zeros on entry (grown to that if shorter); its first
// plan.outlen values are the result, all finite. Runs plan.outlen / 256 hops.
// When args.verbose, the elapsed time of the loop goes to log ("This process
// took ... msec."). tables must be built for kFrameSize (otherwise the output
// stays silent).
void resynthesize(const ResamplerArgs& args, const TimingPlan& plan, const WaveData& wave,
                  const FreqList& list, const Tables& tables, std::vector<double>& out,
                  std::FILE* log);

// Level stage, in place on out[0..outlen) (16-bit sample scale): with
// peak_exp > 0 or volume != 1, multiplies every sample by
// (16384 / peak)^e * volume (e = peak_exp clamped to [0, 1], peak the largest
// magnitude) and clamps to [-32768, 32767]. With peak_exp <= 0 and volume
// exactly 1 it does nothing. A silent output stays silent, and no sample
// becomes NaN.
void apply_level(double* out, std::int32_t outlen, double peak_exp, double volume);

}  // namespace kelmotra
