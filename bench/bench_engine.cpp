// Engine benchmarks: the transforms of one frame (the packed transform the
// hop loop uses and the radix-2 one it replaced), the per-bin kernels of a
// hop, one whole hop, and the hop loop of the standard note (2.0 s at A4 from
// the bundled 220 Hz sample).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "audio/det_math.h"
#include "audio/wav_reader.h"
#include "driver/args.h"
#include "driver/hop_kernels.h"
#include "driver/pitch_shift.h"
#include "driver/resynth.h"
#include "driver/timing.h"
#include "audio/transforms.h"
#include "freqmap/freqlist.h"

namespace {

using namespace kelmotra;

// The bundled sample, its frequency map (a steady 220 Hz, as the analysis
// finds it) and the plan of the standard note.
struct StandardNote {
    WaveData wave;
    FreqList list;
    ResamplerArgs args;
    TimingPlan plan;
    Tables tables = build_tables();
};

const StandardNote& standard_note() {
    static const StandardNote note = [] {
        StandardNote n;
        auto wave = wav_read(path_from_utf8(KELMOTRA_SOURCE_DIR "/data/voice.wav"), stderr);
        if (!wave) {
            std::fprintf(stderr, "cannot read data/voice.wav\n");
            std::exit(1);
        }
        n.wave = std::move(*wave);
        const std::int32_t count = n.wave.frames / 256;
        n.list.step = 256;
        n.list.sample_rate = 44100;
        n.list.count = count;
        n.list.freq_avg = 220.0;
        n.list.freqs.assign(static_cast<std::size_t>(count) + 1, 220.0);
        n.list.amps.assign(static_cast<std::size_t>(count) + 1, 1000.0);
        n.args.pitch = 440.0;
        n.args.outlen = static_cast<std::int32_t>(std::ceil(2000 * 44.1));
        n.args.verbose = false;
        n.plan = plan_timing(n.args, n.wave.format.sample_rate, n.wave.frames, nullptr);
        return n;
    }();
    return note;
}

// Argument 0: scratch on the stack; 1: the caller's, as the hop loop passes it.
void BM_RdftForwardInverse1024(benchmark::State& state) {
    const Tables tables = build_tables();
    std::vector<double> x(1024);
    std::vector<double> scratch(2 * 1024);
    double* work = state.range(0) != 0 ? scratch.data() : nullptr;
    for (int i = 0; i < 1024; ++i) x[i] = std::sin(i * 0.37) * 1000.0;
    for (auto _ : state) {
        rdft_forward(1024, x.data(), tables.twiddle.data(), work);
        rdft_inverse(1024, x.data(), tables.twiddle.data(), work);
        for (double& v : x) v *= 1.0 / 512;
        benchmark::DoNotOptimize(x.data());
    }
}
BENCHMARK(BM_RdftForwardInverse1024)->Arg(0)->Arg(1);

// The radix-2 real transform the hop loop used before the packed one, for
// comparison (it still serves sizes outside 16..4096).
void BM_Radix2ForwardInverse1024(benchmark::State& state) {
    const Tables tables = build_tables();
    std::vector<double> x(1024);
    for (int i = 0; i < 1024; ++i) x[i] = std::sin(i * 0.37) * 1000.0;
    for (auto _ : state) {
        rdft_forward_radix2(1024, x.data(), tables.twiddle.data());
        rdft_inverse_radix2(1024, x.data(), tables.twiddle.data());
        for (double& v : x) v *= 1.0 / 512;
        benchmark::DoNotOptimize(x.data());
    }
}
BENCHMARK(BM_Radix2ForwardInverse1024);

// The per-bin kernels of one hop of the standard note, on a real spectrum:
// magnitudes and phase advances, the shift an octave up (with the hop
// correction), and the synthesis spectrum.
struct HopSpectra {
    Tables tables = build_tables();
    std::vector<double> frame, prev, mag, dphase, newmag, newdph, phase, syn;
    EnvelopeWork envelope = make_envelope_work();
    HopSpectra() {
        const StandardNote& n = standard_note();
        frame.assign(n.wave.samples.begin() + 30000, n.wave.samples.begin() + 30000 + 1024);
        for (int i = 0; i < 1024; ++i) frame[i] *= tables.hann[i];
        rdft_forward(1024, frame.data(), tables.twiddle.data());
        prev.assign(1024, 0.1);
        mag.assign(1024, 0.0);
        dphase.assign(1024, 0.0);
        newmag.assign(1024, 0.0);
        newdph.assign(1024, 0.0);
        phase.assign(1024, 0.0);
        syn.assign(1024, 0.0);
        analyse_bins(tables, frame.data(), prev.data(), mag.data(), dphase.data());
        AdvanceCorrection c{true, 51.0};
        shift_spectrum_on_demand(mag.data(), dphase.data(), 5.11, 2.0, 1.0, false, c, envelope,
                                 newmag.data(), newdph.data());
    }
};

// Argument of the kernel cases: 0 the widest lanes the CPU offers, 1 two
// lanes (the same numbers).
PackedLanes lanes_arg(const benchmark::State& state) {
    return state.range(0) != 0 ? PackedLanes::two : PackedLanes::widest;
}

void BM_AnalyseBins(benchmark::State& state) {
    HopSpectra h;
    const PackedLanes lanes = lanes_arg(state);
    for (auto _ : state) {
        analyse_bins(h.tables, h.frame.data(), h.prev.data(), h.mag.data(), h.dphase.data(),
                     lanes);
        benchmark::DoNotOptimize(h.dphase.data());
    }
}
BENCHMARK(BM_AnalyseBins)->Arg(0)->Arg(1);

// What the hop loop analyses of a hop an octave up: every magnitude, the
// phases of the bins the shift reads.
void BM_AnalyseOctaveUp(benchmark::State& state) {
    HopSpectra h;
    const std::int32_t upto = shift_phase_bins(5.11, 2.0);
    const PackedLanes lanes = lanes_arg(state);
    for (auto _ : state) {
        analyse_magnitudes(h.frame.data(), h.mag.data(), lanes);
        advance_phases(h.tables, h.frame.data(), upto, h.prev.data(), h.dphase.data(), lanes);
        benchmark::DoNotOptimize(h.dphase.data());
    }
}
BENCHMARK(BM_AnalyseOctaveUp)->Arg(0)->Arg(1);

void BM_ShiftOctaveUp(benchmark::State& state) {
    HopSpectra h;
    const AdvanceCorrection c{true, 51.0};
    const PackedLanes lanes = lanes_arg(state);
    for (auto _ : state) {
        shift_spectrum_on_demand(h.mag.data(), h.dphase.data(), 5.11, 2.0, 1.0, false, c,
                                 h.envelope, h.newmag.data(), h.newdph.data(), lanes);
        benchmark::DoNotOptimize(h.newdph.data());
    }
}
BENCHMARK(BM_ShiftOctaveUp)->Arg(0)->Arg(1);

void BM_SynthesiseBins(benchmark::State& state) {
    HopSpectra h;
    const PackedLanes lanes = lanes_arg(state);
    for (auto _ : state) {
        synthesise_bins(h.tables, h.newmag.data(), h.newdph.data(), h.phase.data(), h.syn.data(),
                        lanes);
        benchmark::DoNotOptimize(h.syn.data());
    }
}
BENCHMARK(BM_SynthesiseBins)->Arg(0)->Arg(1);

// One hop in the middle of the standard note (input moving 0.8 per output
// sample, so the hop correction runs as well).
void BM_OneHop(benchmark::State& state) {
    const StandardNote& n = standard_note();
    const LoopSetup setup = make_loop_setup(n.args, n.plan, n.wave, n.list, n.tables);
    HopWork work = make_hop_work();
    HopState hop_state = make_hop_state();
    hop_state.prev_pos = 0;
    std::vector<double> out(static_cast<std::size_t>(n.plan.outlen) + 1024, 0.0);
    for (auto _ : state) {
        render_hop(setup, 150, hop_state, work, out.data());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_OneHop);

// The whole hop loop of the standard note, 344 hops.
void BM_StandardNoteLoop(benchmark::State& state) {
    const StandardNote& n = standard_note();
    std::vector<double> out;
    for (auto _ : state) {
        out.assign(static_cast<std::size_t>(n.plan.outlen) + 1024, 0.0);
        resynthesize(n.args, n.plan, n.wave, n.list, n.tables, out, nullptr);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_StandardNoteLoop)->Unit(benchmark::kMillisecond);

// The per-bin elementary functions of one hop's analysis (511 bins), to see
// what they cost next to the rest.
void BM_AnalysisAtan2Hypot511(benchmark::State& state) {
    std::vector<double> c(512), s(512);
    for (int k = 0; k < 512; ++k) {
        c[k] = std::cos(k * 1.3) * (k + 1);
        s[k] = std::sin(k * 0.7) * (k + 3);
    }
    for (auto _ : state) {
        double acc = 0;
        for (int k = 1; k < 512; ++k) acc += det_atan2(s[k], c[k]) + det_hypot(s[k], c[k]);
        benchmark::DoNotOptimize(acc);
    }
}
BENCHMARK(BM_AnalysisAtan2Hypot511);

// The same bins through the table-driven atan2 the hop loop uses.
void BM_TableAtan2_511(benchmark::State& state) {
    const Tables tables = build_tables();
    std::vector<double> c(512), s(512);
    for (int k = 0; k < 512; ++k) {
        c[k] = std::cos(k * 1.3) * (k + 1);
        s[k] = std::sin(k * 0.7) * (k + 3);
    }
    for (auto _ : state) {
        double acc = 0;
        for (int k = 1; k < 512; ++k) acc += table_atan2(tables, s[k], c[k]);
        benchmark::DoNotOptimize(acc);
    }
}
BENCHMARK(BM_TableAtan2_511);

void BM_DetHypot511(benchmark::State& state) {
    std::vector<double> c(512), s(512);
    for (int k = 0; k < 512; ++k) {
        c[k] = std::cos(k * 1.3) * (k + 1);
        s[k] = std::sin(k * 0.7) * (k + 3);
    }
    for (auto _ : state) {
        double acc = 0;
        for (int k = 1; k < 512; ++k) acc += det_hypot(s[k], c[k]);
        benchmark::DoNotOptimize(acc);
    }
}
BENCHMARK(BM_DetHypot511);

void BM_SpectralEnvelope(benchmark::State& state) {
    std::vector<double> mag(1024);
    EnvelopeWork ew = make_envelope_work();
    for (auto _ : state) {
        for (int k = 0; k < 512; ++k) mag[k] = 100.0 + k;
        spectral_envelope(mag.data(), 5.1, ew);
        benchmark::DoNotOptimize(mag.data());
    }
}
BENCHMARK(BM_SpectralEnvelope);

}  // namespace
