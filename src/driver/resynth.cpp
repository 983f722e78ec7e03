#include "driver/resynth.h"

#include <algorithm>
#include <cmath>

#include "audio/det_math.h"
#include "audio/platform.h"
#include "driver/hop_kernels.h"
#include "driver/pitch_shift.h"

namespace kelmotra {

namespace {

constexpr std::size_t kN = kFrameSize;
constexpr std::int32_t kHalf = kFrameSize / 2;

}  // namespace

// Reads the frame of input frames p - 384 .. p + 639 (first channel only),
// windowed. Frames outside the buffer (before 0, or past the silence that
// follows the samples) read 0, and so do non-finite samples. clean: the
// wave holds no non-finite sample, so none needs to be looked for.
void read_frame(const WaveData& wave, bool clean, const double* hann, std::int64_t p,
                double* frame) {
    const std::int64_t ch = wave.format.channels;
    const std::int64_t avail =
        ch > 0 ? static_cast<std::int64_t>(wave.samples.size()) / ch : 0;
    const std::int64_t n0 = p - kFrameLead;
    // Frame indices [k_lo, k_hi) lie inside the buffer; p is at most
    // kFarPosition in magnitude, so none of this overflows.
    const std::int64_t k_lo = std::clamp<std::int64_t>(-n0, 0, kFrameSize);
    const std::int64_t k_hi = std::clamp<std::int64_t>(avail - n0, k_lo, kFrameSize);
    std::fill(frame, frame + k_lo, 0.0);
    const double* src = wave.samples.data();
    if (clean && ch == 1) {
        window_run(frame + k_lo, src + n0 + k_lo, hann + k_lo, k_hi - k_lo);
    } else {
        for (std::int64_t k = k_lo; k < k_hi; ++k) {
            double v = src[(n0 + k) * ch];
            if (!std::isfinite(v)) v = 0.0;
            frame[k] = v * hann[k];
        }
    }
    std::fill(frame + k_hi, frame + kFrameSize, 0.0);
}

HopWork make_hop_work() {
    HopWork w;
    w.frame.assign(kN, 0.0);
    w.mag.assign(kN, 0.0);
    w.dphase.assign(kN, 0.0);
    w.newmag.assign(kN, 0.0);
    w.newdph.assign(kN, 0.0);
    w.syn.assign(kN, 0.0);
    w.transform.assign(2 * kN + 4, 0.0);  // room to start on a 32-byte boundary
    w.envelope = make_envelope_work();
    return w;
}

double* transform_scratch(HopWork& work) {
    const auto at = reinterpret_cast<std::uintptr_t>(work.transform.data());
    const std::uintptr_t skip = (32 - at % 32) % 32;  // a multiple of 8 bytes
    return work.transform.data() + skip / sizeof(double);
}

HopState make_hop_state() {
    HopState s;
    s.prev_phase.assign(kN, 0.0);
    s.prev_spectrum.assign(kN, 0.0);
    s.phases_current = kHalf;
    s.out_phase.assign(kN, 0.0);
    s.prev_pos = -1;
    return s;
}

LoopSetup make_loop_setup(const ResamplerArgs& args, const TimingPlan& plan, const WaveData& wave,
                          const FreqList& list, const Tables& tables) {
    LoopSetup s;
    s.args = &args;
    s.plan = &plan;
    s.wave = &wave;
    s.list = &list;
    s.tables = &tables;
    s.rho = plan.rate_ratio;
    s.fa = list.freq_avg / s.rho * args.modulation;
    s.gf = args.formant / s.rho;
    s.clean = true;
    if (wave.all_finite) return s;
    for (double v : wave.samples) {
        if (!std::isfinite(v)) {
            s.clean = false;
            break;
        }
    }
    return s;
}

double target_pitch(const ResamplerArgs& args, double ap) {
    const std::int32_t count = args.track_count;
    if (args.track.empty() || count < 0 || args.bend_step < 1 ||
        args.track.size() < static_cast<std::size_t>(count) + 1) {
        return args.pitch;
    }
    const double x = (ap + 512) / args.bend_step;
    double i = std::floor(x);
    double frac = x - i;
    if (!(i >= 0.0)) {  // negative, or not finite
        i = 0.0;
        frac = 0.0;
    }
    // i is compared as a double before it indexes anything.
    const double last = args.track[static_cast<std::size_t>(count)];
    double a = i < count ? args.track[static_cast<std::size_t>(i)] : last;
    double b = i + 1 < count ? args.track[static_cast<std::size_t>(i) + 1] : last;
    if (!(a > 1.0)) a = args.pitch;
    if (!(b > 1.0)) b = args.pitch;
    return (1 - frac) * a + frac * b;
}

HopPitch hop_pitch(const LoopSetup& setup, double ap) {
    const ResamplerArgs& args = *setup.args;
    HopPitch hp;
    hp.tp = target_pitch(args, ap);

    double pos = source_position(*setup.plan, ap);
    if (!(pos >= -kFarPosition)) pos = -kFarPosition;  // also NaN: reads silence
    if (pos > kFarPosition) pos = kFarPosition;
    hp.p = static_cast<std::int64_t>(pos);  // truncation toward zero

    if (freqlist_valid(*setup.list)) {
        hp.f0 = freqlist_at(*setup.list, static_cast<double>(hp.p + kFrameLead), 16, 55,
                            setup.list->freq_avg);
    } else {
        hp.f0 = std::nan("");
    }
    const double f0r = hp.f0 / setup.rho;
    hp.L = f0r * 1024 / 44100;
    hp.h = hp.tp / ((1 - args.modulation) * f0r + setup.fa);
    hp.valid = std::isfinite(hp.L) && hp.L > 0 && std::isfinite(hp.h) && hp.h > 0;
    return hp;
}

void hop_correction(double* dphase, double L, std::int64_t d) {
    const double gap = static_cast<double>(256 - d);
    for (std::int32_t k = 1; k < kHalf; ++k) {
        dphase[k] = corrected_advance(dphase[k], floor_plus_half(k / L), L, gap);
    }
}

void render_hop(const LoopSetup& setup, std::int32_t hop, HopState& state, HopWork& work,
                double* out) {
    const Tables& tables = *setup.tables;
    const std::int64_t ap = static_cast<std::int64_t>(hop) * kHop;
    const HopPitch hp = hop_pitch(setup, static_cast<double>(ap));

    work.frame.swap(state.prev_spectrum);  // keeps the last hop's spectrum
    read_frame(*setup.wave, setup.clean, tables.hann.data(), hp.p, work.frame.data());
    rdft_forward(kFrameSize, work.frame.data(), tables.twiddle.data(), transform_scratch(work));

    const std::int64_t prev = state.prev_pos;
    state.prev_pos = hp.p;
    if (!hp.valid) {  // no usable pitch ratio: this hop adds nothing
        state.phases_current = 1;
        return;
    }

    // Phases only of the bins the shift reads (the lower half or so for a
    // shift up), as analyse_bins gives them: a bin whose stored phase is
    // older than the last hop first takes that hop's phase from its spectrum.
    const std::int32_t upto = shift_phase_bins(hp.L, hp.h);
    if (state.phases_current < upto) {
        spectrum_phases(tables, state.prev_spectrum.data(), std::max(state.phases_current, 1),
                        upto, state.prev_phase.data());
    }
    analyse_magnitudes(work.frame.data(), work.mag.data());
    advance_phases(tables, work.frame.data(), upto, state.prev_phase.data(), work.dphase.data());
    work.dphase[0] = 0.0;
    work.dphase[kHalf] = 0.0;
    state.phases_current = upto;

    // The hop correction (when the input did not move 256 frames since the
    // last hop), the envelope and the shift, computing only what the shift
    // reads: the same numbers as hop_correction, spectral_envelope and
    // shift_spectrum in turn.
    AdvanceCorrection correction;
    correction.apply = prev != -1 && hp.p - prev != kHop;
    correction.gap = static_cast<double>(kHop - (hp.p - prev));
    shift_spectrum_on_demand(work.mag.data(), work.dphase.data(), hp.L, hp.h, setup.gf,
                             setup.args->no_envelope, correction, work.envelope,
                             work.newmag.data(), work.newdph.data());
    synthesise_bins(tables, work.newmag.data(), work.newdph.data(), state.out_phase.data(),
                    work.syn.data());
    if (setup.args->breath > 0.0) {
        const BreathHop bh{.frame = work.frame.data(),
                           .mag = work.mag.data(),
                           .newmag = work.newmag.data(),
                           .out = out,
                           .ap = ap,
                           .p = hp.p,
                           .moved = prev == -1 ? -1 : hp.p - prev,
                           .L = hp.L,
                           .h = hp.h,
                           .gf = setup.gf,
                           .no_envelope = setup.args->no_envelope};
        add_breath(tables, *setup.wave, setup.clean, bh, state.breath, work.syn.data());
    }
    rdft_inverse(kFrameSize, work.syn.data(), tables.twiddle.data(), transform_scratch(work));

    // Non-finite values (from absurd envelope ratios on extreme input) are
    // cleared once the loop is done.
    overlap_add_frame(out + ap, work.syn.data(), tables.hann.data(), kOverlapGain);
}

void resynthesize(const ResamplerArgs& args, const TimingPlan& plan, const WaveData& wave,
                  const FreqList& list, const Tables& tables, std::vector<double>& out,
                  std::FILE* log) {
    const std::int32_t outlen = std::max<std::int32_t>(plan.outlen, 0);
    const std::size_t need = static_cast<std::size_t>(outlen) + kN;
    if (out.size() < need) out.resize(need, 0.0);

    const bool tables_fit = tables.n == kFrameSize && tables.twiddle.size() == 2 * kN &&
                            tables.hann.size() == kN;
    const std::int32_t hops = tables_fit ? outlen / kHop : 0;
    const LoopSetup setup = make_loop_setup(args, plan, wave, list, tables);
    HopWork work = make_hop_work();
    HopState state = make_hop_state();
    state.breath = make_breath_state(args.breath, note_seed(args));

    const double start = monotonic_seconds();
    for (std::int32_t j = 0; j < hops; ++j) render_hop(setup, j, state, work, out.data());
    const double end = monotonic_seconds();
    if (args.verbose && log != nullptr) {
        std::fprintf(log, "This process took %.03lf msec.\n", (end - start) * 1000);
    }

    // Absurd input (envelope ratios beyond the double range, frames summing
    // past it) can leave infinities or NaNs; nothing but finite samples
    // leaves the loop.
    clear_non_finite(out.data(), outlen);
}

void apply_level(double* out, std::int32_t outlen, double peak_exp, double volume) {
    if (!(peak_exp > 0) && volume == 1.0) return;
    const double peak = peak_magnitude(out, outlen);
    // A silent output stays silent: there is no level to normalise, and
    // 16384 / 0 must not meet a zero sample.
    if (peak == 0.0) return;
    double e = peak_exp;
    if (!(e > 0.0)) e = 0.0;  // also NaN
    if (e > 1.0) e = 1.0;
    const double gain = (e == 0.0 ? 1.0 : det_pow(16384 / peak, e)) * volume;
    // A NaN product (0 times an infinite gain from a subnormal peak, or a NaN
    // volume) becomes 0.
    scale_and_clamp(out, outlen, gain);
}

}  // namespace kelmotra
