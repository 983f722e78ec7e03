// Pitch analysis benchmarks: one step of the classic analysis (pass 1, the
// refinement and the level of one voiced step) and of the robust tracker, and
// the whole analysis, by either method, of the bundled sample (1.6 s, 44100
// Hz, 16-bit mono) and of a 2 s sung vowel at 44100 Hz.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "audio/wav_reader.h"
#include "freqmap/analysis.h"
#include "freqmap/pitch_analysis.h"
#include "freqmap/pitch_tracker.h"

namespace {

using namespace kelmotra;

const RawWave& bundled_sample() {
    static const RawWave raw = [] {
        auto r = wav_read_raw(path_from_utf8(KELMOTRA_SOURCE_DIR "/data/voice.wav"), 0, 0, 4096, stderr);
        if (!r) {
            std::fprintf(stderr, "cannot read data/voice.wav\n");
            std::exit(1);
        }
        return *r;
    }();
    return raw;
}

// Two seconds of a 220 Hz vowel (harmonics under three formant peaks) as the
// data chunk of a 16-bit mono file at 44100 Hz.
const RawWave& two_second_vowel() {
    static const RawWave raw = [] {
        const double rate = 44100, f0 = 220.0, pi = 3.14159265358979323846;
        const int n = static_cast<int>(2 * rate);
        RawWave r;
        r.format.format_tag = 1;
        r.format.channels = 1;
        r.format.sample_rate = 44100;
        r.format.block_align = 2;
        r.format.bits_per_sample = 16;
        r.byte_count = 2 * n;
        r.bytes.assign(static_cast<std::size_t>(2 * (n + 4096)), 0);
        for (int i = 0; i < n; ++i) {
            const double phase = 2 * pi * f0 * i / rate;
            double v = 0;
            for (int k = 1; k * f0 < 0.45 * rate; ++k) {
                const double f = k * f0;
                const double g = 1 / (1 + std::pow((f - 750) / 120, 2)) + 0.6 / (1 + std::pow((f - 1200) / 150, 2)) +
                                 0.3 / (1 + std::pow((f - 2600) / 200, 2)) + 0.05;
                v += g * std::sin(k * phase);
            }
            const auto s = static_cast<std::int16_t>(std::lround(v * 4000));
            r.bytes[static_cast<std::size_t>(2 * i)] = static_cast<std::uint8_t>(s & 0xFF);
            r.bytes[static_cast<std::size_t>(2 * i + 1)] = static_cast<std::uint8_t>((s >> 8) & 0xFF);
        }
        return r;
    }();
    return raw;
}

PitchSetup setup_of(const RawWave& raw) {
    const AnalysisWindow win = analysis_window(raw.format.sample_rate);
    auto s = pitch_setup(raw.bytes.data(), raw.bytes.size(), raw.byte_count, raw.format.bits_per_sample,
                         raw.format.channels, raw.format.block_align,
                         static_cast<std::int32_t>(raw.format.sample_rate), win.N, win.Step, 0, 0,
                         raw.format.format_tag);
    if (!s) std::exit(1);
    return *s;
}

// Pass 1 of one step in the steady vowel: frame, difference function,
// candidates and their scores.
void BM_AnalysisPass1Step(benchmark::State& state) {
    const PitchSetup s = setup_of(bundled_sample());
    PitchWork work = pitch_work(s);
    const bool wide = work.wide_lanes;
    work.wide_lanes = state.range(0) != 0 && wide;
    std::int32_t i = 100;
    for (auto _ : state) {
        // Neighbouring steps in turn, as the analysis runs them.
        benchmark::DoNotOptimize(pitch_pass1_step(s, work, i));
        i = i == 140 ? 100 : i + 1;
    }
    state.SetLabel(work.wide_lanes ? "4-lane difference function" : "2-lane difference function");
}
BENCHMARK(BM_AnalysisPass1Step)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

// The refinement of one voiced step (nine halvings from lag 200) and its level.
void BM_AnalysisPass2Step(benchmark::State& state) {
    const PitchSetup s = setup_of(bundled_sample());
    PitchWork work = pitch_work(s);
    for (auto _ : state) {
        benchmark::DoNotOptimize(pitch_refine(s, work, 100, 200));
        benchmark::DoNotOptimize(pitch_amplitude(s, work, 100));
    }
}
BENCHMARK(BM_AnalysisPass2Step)->Unit(benchmark::kMicrosecond);

// One step of the robust tracker in the steady vowel: frame, the difference
// function through three 2048-point transforms, the dips and their shares.
void BM_TrackerStep(benchmark::State& state) {
    const PitchSetup s = setup_of(bundled_sample());
    const TrackerOptions options;
    const std::optional<TrackerSetup> t = tracker_setup(s.R, s.N, options);
    if (!t) std::exit(1);
    TrackerWork work = tracker_work(*t);
    StepCandidates out;
    std::int32_t i = 100;
    for (auto _ : state) {
        tracker_frame(s, *t, work, static_cast<std::int64_t>(i) * s.Step);
        tracker_step(*t, options, work, out);
        benchmark::DoNotOptimize(out);
        i = i == 140 ? 100 : i + 1;
    }
}
BENCHMARK(BM_TrackerStep)->Unit(benchmark::kMicrosecond);

// The whole analysis (argument 0: robust, 1: classic), as analyseWave runs
// it without the file reading and writing: of the bundled sample, and of 2 s
// at 44100 Hz (target for the classic analysis: under 100 ms).
void whole_analysis(benchmark::State& state, const RawWave& raw) {
    const AnalysisOptions options{state.range(0) ? AnalysisMethod::Classic : AnalysisMethod::Robust};
    for (auto _ : state) {
        std::optional<FreqList> list = analyse_raw(raw, nullptr, options);
        if (!list) state.SkipWithError("no list");
        benchmark::DoNotOptimize(list);
    }
    state.SetLabel(analysis_method_name(options.method));
}
void BM_AnalysisBundledSample(benchmark::State& state) { whole_analysis(state, bundled_sample()); }
BENCHMARK(BM_AnalysisBundledSample)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
void BM_AnalysisTwoSeconds(benchmark::State& state) { whole_analysis(state, two_second_vowel()); }
BENCHMARK(BM_AnalysisTwoSeconds)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
