#include "driver/breath_noise.h"

#include <algorithm>
#include <cmath>

#include "driver/pitch_shift.h"
#include "driver/resynth.h"

namespace kelmotra {

namespace {

constexpr std::int32_t kN = kFrameSize;
constexpr std::int32_t kHalf = kFrameSize / 2;

// Half-width, in bins, of the band over which the unrepeated power is
// averaged into the floor (about 170 Hz either side at 44.1 kHz).
constexpr std::int32_t kBand = 4;

// The floor is estimated anew every kEvidenceHops noisy hops (its second
// frame and transform are the dearest part of the work; the input of a note
// stretched 2x moves 512 frames in that time); in between the last estimate
// holds. An estimate made after the input moved d frames keeps
// kSettle / (kSettle + d) of the old floor.
constexpr std::int32_t kEvidenceHops = 4;
constexpr double kSettle = 256.0;

// A bin whose power is within this factor of the floor counts as noise as a
// whole: the mask subtracts generously, so that little of a noise bin's
// energy stays with the running phases (and turns into buzz there).
constexpr double kMaskFactor = 2.0;

// Frames of independent random phases add in power, not in amplitude: with
// the Hann window for analysis and synthesis and a hop of a quarter frame
// their overlap-add comes out a factor 2 lower in amplitude than that of a
// steady component, made up here. The steered level corrects the rest.
constexpr double kIncoherentGain = 2.0;

// Decay, at each new measurement, of the sums that measure the aperiodic
// share of input (every estimate of the floor) and output (every noisy hop).
constexpr double kMemory = 0.75;

// The steered level moves by at most this factor a hop and stays within
// [kMinLevel, kMaxLevel].
constexpr double kMaxStep = 1.12;
constexpr double kMinLevel = 1.0 / 64.0;
constexpr double kMaxLevel = 4.0;

// Stretch weight of a hop whose input moved d frames since the previous one:
// 0 from 256 on (the running phases then carry the noise's own evolution,
// and transients stay sharp), 1 at 128 and below (a note stretched 2x or
// more), linear in between. No previous hop: 0.
double stretch_weight(bool has_prev, std::int64_t d) {
    if (!has_prev) return 0.0;
    return std::clamp(2.0 * (1.0 - static_cast<double>(d) / kHop), 0.0, 1.0);
}

// Updates the noise floor from the hop's frame and the frame one period
// later, and the input's aperiodic share. Nothing when the period is out of
// reach (below 2 or above 2048 input frames).
void update_floor(const Tables& tables, const WaveData& wave, bool clean, const BreathHop& hop,
                  BreathState& st) {
    const double period = kN / hop.L;  // input frames
    if (!(period >= 2.0 && period <= 2.0 * kN)) return;
    const double lag = floor_plus_half(period);
    const double rest = period - lag;  // what the whole lag leaves out, [-0.5, 0.5]
    double* later = st.later.data();
    read_frame(wave, clean, tables.hann.data(), hop.p + static_cast<std::int64_t>(lag), later);
    rdft_forward(kN, later, tables.twiddle.data());

    // A component near bin k lags `rest` frames behind in the later frame,
    // 2 pi k rest / N radians: the rotation (c, s)^k lines the frames up.
    double c1, s1;
    table_sincos(tables, -kTwoPi * rest / kN, c1, s1);
    double rc = 1.0, rs = 0.0;
    const double* z = hop.frame;
    double* diff = st.diff.data();
    double power = 0.0;
    diff[0] = 0.0;
    for (std::int32_t k = 1; k < kHalf; ++k) {
        const double nc = rc * c1 - rs * s1;
        rs = rc * s1 + rs * c1;
        rc = nc;
        // The difference of the frame and the lined-up later frame holds the
        // noise of both: half its power is one frame's unrepeated power (at
        // most the bin's power, which only frames that cancel would exceed).
        // diff holds the running sums over the bins.
        const double zr = z[k], zi = z[kN - k];
        const double yr = later[k] * rc - later[kN - k] * rs;
        const double yi = later[k] * rs + later[kN - k] * rc;
        const double dr = zr - yr, di = zi - yi;
        const double bin = 0.5 * (zr * zr + zi * zi + yr * yr + yi * yi);
        diff[k] = diff[k - 1] + std::min(0.5 * (dr * dr + di * di), bin);
        power += bin;
    }
    if (!std::isfinite(diff[kHalf - 1]) || !std::isfinite(power)) return;

    const double keep = st.primed ? kSettle / (kSettle + st.moved_since) : 0.0;
    constexpr double kPerBin = 1.0 / (2 * kBand + 1);
    for (std::int32_t k = 1; k < kHalf; ++k) {
        const std::int32_t lo = std::max(1, k - kBand) - 1;
        const std::int32_t hi = std::min(kHalf - 1, k + kBand);
        const double sum = diff[hi] - diff[lo];
        const double noise = hi - lo == 2 * kBand + 1 ? sum * kPerBin : sum / (hi - lo);
        st.floor[k] = keep * st.floor[k] + (1.0 - keep) * noise;
        st.floor_amp[k] = std::sqrt(st.floor[k]);
    }
    st.in_diff = kMemory * st.in_diff + diff[kHalf - 1];
    st.in_power = kMemory * st.in_power + power;
    st.primed = true;
    st.moved_since = 0.0;
}

// The aperiodic share of the output: of the kHop samples before the hop's
// own (complete: no later frame reaches them; every other one is enough),
// the power one output period (1024 / (h L) samples, fractional, read by
// linear interpolation) does not repeat, against their whole power. The
// same measure as the input's.
void measure_output(const BreathHop& hop, BreathState& st) {
    const double period = kN / (hop.h * hop.L);  // output samples
    const std::int64_t from = hop.ap - kHop;
    if (hop.out == nullptr || !(period >= 2.0 && period <= kN) ||
        static_cast<double>(from) < period + 1.0)
        return;
    const auto whole = static_cast<std::int64_t>(period);
    const double frac = period - static_cast<double>(whole);
    const double* x = hop.out + from;
    double power = 0.0, diff = 0.0;
    for (std::int32_t i = 0; i < kHop; i += 2) {
        const double earlier = x[i - whole] + frac * (x[i - whole - 1] - x[i - whole]);
        const double d = x[i] - earlier;
        power += x[i] * x[i];
        diff += 0.5 * d * d;
    }
    if (!std::isfinite(power) || !std::isfinite(diff)) return;
    st.out_power = kMemory * st.out_power + power;
    st.out_diff = kMemory * st.out_diff + diff;
}

// Moves the level toward the one that gives the output B/100 of the input's
// ratio of aperiodic to periodic power, whatever the shift, the running
// phases and the overlap-add make of either part. At most a factor kMaxStep
// a hop: a change shows in the measured output only a few hops later, and
// small steps settle without swinging.
void steer_level(BreathState& st) {
    if (!(st.in_power > st.in_diff) || !(st.out_power > st.out_diff) || !(st.in_diff > 0.0)) return;
    const double want = st.amount * st.in_diff / (st.in_power - st.in_diff);
    const double have = st.out_diff / (st.out_power - st.out_diff);
    if (!(have > 0.0)) return;
    const double step = std::clamp(std::sqrt(std::sqrt(want / have)), 1.0 / kMaxStep, kMaxStep);
    st.level = std::clamp(st.level * step, kMinLevel, kMaxLevel);
}

// The harmonic of bin k (bins spaced `spacing` apart), m = floor(k / spacing
// + 1/2), given m for the bin before: one step up where that is all it
// takes, a division where the harmonics are closer than a bin.
double next_harmonic(std::int32_t k, double spacing, double m) {
    if (k < (m + 0.5) * spacing) return m;
    if (k < (m + 1.5) * spacing) return m + 1.0;
    return floor_plus_half(k / spacing);
}

// For each output bin t = 1..511, the input bin whose magnitude the pitch
// shift puts there (the last one, where several land on the same bin), or
// -1: the bin map of shift_spectrum, with the harmonic numbers counted along
// the bins instead of divided out. L in bins, h the pitch ratio.
void shift_sources(double L, double h, std::int32_t* src) {
    std::fill(src, src + kHalf + 1, -1);
    if (h == 1.0) {
        for (std::int32_t t = 1; t < kHalf; ++t) src[t] = t;
    } else if (h > 1.0) {
        double m = 0.0;  // harmonic of bin k: m - 1/2 <= k / L < m + 1/2
        for (std::int32_t k = 1; k < kHalf; ++k) {
            m = next_harmonic(k, L, m);
            const double t = floor_plus_half(k + (h - 1.0) * L * m);
            if (!(t <= kHalf - 1)) break;  // targets only grow along the bins
            if (t >= 1.0) src[static_cast<std::int32_t>(t)] = k;
        }
    } else if (h < 1.0) {
        const double spacing = h * L;  // harmonic spacing at the new pitch, bins
        double m = 0.0;
        for (std::int32_t t = 1; t < kHalf; ++t) {
            m = next_harmonic(t, spacing, m);
            const double k = floor_plus_half(t - m * (h - 1.0) * L);
            if (!(k <= kHalf - 1)) break;  // sources only grow along the bins
            if (k >= 0.0) src[t] = static_cast<std::int32_t>(k);
        }
    }
}

// The mix of add_breath, bins t = 1..511 of syn: the periodic part scaled
// by sqrt(1 - wc share) (share of input bin source[t], none where it is -1),
// plus amp * floor_amp[lookup[t]] (floor_amp[0] is 0) at a phase from rng,
// ten bits of the sequence a bin. mag, floor: input bins; twiddle: the
// table's (cos, sin) pairs, one of kN phases.
void mix_noise(const double* __restrict mag, const double* __restrict floor,
               const double* __restrict floor_amp, const std::int32_t* __restrict source,
               const std::int32_t* __restrict lookup, double wc, double amp,
               const double* __restrict twiddle, NoiseRng& rng, double* __restrict syn) {
    NoiseRng r = rng;
    for (std::int32_t group = 1; group < kHalf; group += 6) {
        std::uint64_t bits = rng_next(r);
        const std::int32_t end = std::min(group + 6, kHalf);
        for (std::int32_t t = group; t < end; ++t, bits >>= 10) {
            const auto e = static_cast<std::size_t>(bits & (kN - 1));
            double keep = 1.0;
            const std::int32_t k = source[t];
            if (k >= 0) {
                const double p = mag[k] * mag[k];
                const double f = kMaskFactor * floor[k];
                keep = std::sqrt(1.0 - (p > f ? wc * f / p : wc));
            }
            const double a = amp * floor_amp[lookup[t]];
            syn[t] = syn[t] * keep + a * twiddle[2 * e];
            syn[kN - t] = syn[kN - t] * keep + a * twiddle[2 * e + 1];
        }
    }
    rng = r;
}

}  // namespace

BreathState make_breath_state(double breath, std::uint64_t seed) {
    BreathState st;
    if (!(breath > 0.0)) return st;
    st.amount = std::min(breath, 100.0) / 100.0;
    st.rng.state = seed;
    st.floor.assign(kHalf + 1, 0.0);
    st.later.assign(kN, 0.0);
    st.diff.assign(kHalf + 1, 0.0);
    st.floor_amp.assign(kHalf + 1, 0.0);
    st.lookup.assign(kHalf + 1, 0);
    for (std::int32_t t = 1; t < kHalf; ++t) st.lookup[static_cast<std::size_t>(t)] = t;
    st.lookup_factor = 1.0;
    st.source.assign(kHalf + 1, -1);
    return st;
}

void add_breath(const Tables& tables, const WaveData& wave, bool clean, const BreathHop& hop,
                BreathState& st, double* syn) {
    if (!(st.amount > 0.0)) return;
    const double w = st.amount * stretch_weight(hop.moved >= 0, hop.moved);
    if (!(w > 0.0)) return;
    measure_output(hop, st);
    st.moved_since += static_cast<double>(std::max<std::int64_t>(hop.moved, 0));
    if (!st.primed || ++st.hops_since >= kEvidenceHops) {
        st.hops_since = 0;
        update_floor(tables, wave, clean, hop, st);
    }
    if (!st.primed) return;
    steer_level(st);

    // Output bin t: its periodic part keeps 1 - w share of its power, share
    // being the noise share of the input bin the shift took it from (a
    // Wiener-like mask against the floor: min(1, 2 floor / |X|^2)); the
    // noise is the floor in place, output bin t taking the floor at
    // t * look as the harmonics take the envelope there, with a phase from
    // the note's sequence.
    std::int32_t* source = st.source.data();
    shift_sources(hop.L, hop.h, source);
    const double look = hop.no_envelope ? 1.0 / hop.h : hop.gf;
    std::int32_t* lookup = st.lookup.data();
    if (look != st.lookup_factor) {
        for (std::int32_t t = 1; t < kHalf; ++t) {
            const double x = floor_plus_half(t * look);
            lookup[t] = x >= 1.0 && x <= kHalf - 1 ? static_cast<std::int32_t>(x) : 0;
        }
        st.lookup_factor = look;
    }
    // The steered level: below 1 it converts less of the periodic part (the
    // output is aperiodic enough already, and what stays periodic keeps its
    // level, so the envelope stays), above 1 it raises the noise.
    const double wc = w * std::min(st.level, 1.0);
    const double amp = kIncoherentGain * std::sqrt(wc * std::max(st.level, 1.0));
    mix_noise(hop.mag, st.floor.data(), st.floor_amp.data(), source, lookup, wc, amp,
              tables.twiddle.data(), st.rng, syn);
}

}  // namespace kelmotra
