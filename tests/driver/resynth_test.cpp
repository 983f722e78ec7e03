#include "driver/resynth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "driver/pitch_shift.h"
#include "support/test_support.h"

namespace kelmotra {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.14159265358979323846;

// A plan whose whole note is the middle segment: output sample ap reads input
// position offl + ap * speed.
TimingPlan straight_plan(std::int32_t outlen, double offl = 0.0, double speed = 1.0,
                         double rate_ratio = 1.0) {
    TimingPlan p;
    p.ssize = 1 << 20;
    p.rate_ratio = rate_ratio;
    p.offl = offl;
    p.endp = 1e9;
    p.outlen = outlen;
    p.len1 = outlen;
    p.dif0 = p.dif1 = speed;
    p.dif2 = rate_ratio;
    return p;
}

// A mono sample on the 16-bit scale, with the 2048 silent frames the reader
// appends.
WaveData mono_wave(const std::vector<double>& x, std::uint32_t rate = 44100) {
    WaveData w;
    w.format.channels = 1;
    w.format.sample_rate = rate;
    w.format.bits_per_sample = 16;
    w.format.block_align = 2;
    w.format.format_tag = 1;
    w.frames = static_cast<std::int32_t>(x.size());
    w.samples = x;
    w.samples.resize(x.size() + 2048, 0.0);
    return w;
}

// A steady voiced sound: harmonics of f0 falling off by 1/n, peak about 10000.
std::vector<double> harmonic_tone(double f0, std::size_t frames, double rate = 44100) {
    std::vector<double> x(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        double v = 0;
        for (int n = 1; n * f0 < rate / 2 - 1000; ++n)
            v += std::sin(2 * kPi * n * f0 * static_cast<double>(i) / rate + 0.3 * n) / n;
        x[i] = 5000.0 * v;
    }
    return x;
}

FreqList constant_list(double hz, std::int32_t count, std::int32_t step = 256) {
    FreqList l;
    l.step = step;
    l.sample_rate = 44100;
    l.count = count;
    l.freq_avg = hz;
    l.freqs.assign(static_cast<std::size_t>(count) + 1, hz);
    l.amps.assign(static_cast<std::size_t>(count) + 1, 1000.0);
    return l;
}

ResamplerArgs quiet_args(double pitch) {
    ResamplerArgs a;
    a.pitch = pitch;
    a.verbose = false;
    return a;
}

std::vector<double> render(const ResamplerArgs& args, const TimingPlan& plan, const WaveData& wave,
                           const FreqList& list) {
    static const Tables tables = build_tables();
    std::vector<double> out(static_cast<std::size_t>(plan.outlen) + 1024, 0.0);
    resynthesize(args, plan, wave, list, tables, out, nullptr);
    out.resize(static_cast<std::size_t>(plan.outlen));
    return out;
}

double cents(double f, double ref) { return 1200.0 * std::log2(f / ref); }

bool all_zero(const std::vector<double>& v) {
    for (double x : v)
        if (x != 0.0) return false;
    return true;
}

// --- the hop loop -----------------------------------------------------------

TEST(Resynthesize, NoteShorterThanOneHopIsSilent) {
    const WaveData wave = mono_wave(harmonic_tone(200, 20000));
    const FreqList list = constant_list(200, 80);
    std::vector<double> out = render(quiet_args(300), straight_plan(255), wave, list);
    EXPECT_EQ(out.size(), 255u);
    EXPECT_TRUE(all_zero(out));
    apply_level(out.data(), 255, 0.86, 1.5);
    EXPECT_TRUE(all_zero(out));
}

TEST(Resynthesize, ElapsedTimeLineOnlyWhenVerbose) {
    const WaveData wave = mono_wave(harmonic_tone(200, 5000));
    const FreqList list = constant_list(200, 20);
    const Tables tables = build_tables();
    for (bool verbose : {true, false}) {
        ResamplerArgs args = quiet_args(200);
        args.verbose = verbose;
        std::FILE* log = testsupport::temp_stream();
        ASSERT_NE(log, nullptr);
        std::vector<double> out(1024 + 1024, 0.0);
        resynthesize(args, straight_plan(1024), wave, list, tables, out, log);
        std::rewind(log);
        char line[128] = {};
        const bool got = std::fgets(line, sizeof line, log) != nullptr;
        std::fclose(log);
        if (!verbose) {
            EXPECT_FALSE(got);
            continue;
        }
        ASSERT_TRUE(got);
        double ms = -1;
        char tail[32] = {};
        ASSERT_EQ(std::sscanf(line, "This process took %lf msec%31s", &ms, tail), 2) << line;
        EXPECT_STREQ(tail, ".");
        EXPECT_GE(ms, 0.0);
        // Three decimals, then the line end.
        const std::string s(line);
        EXPECT_EQ(s.substr(s.size() - 7), " msec.\n");
        EXPECT_EQ(s[s.find('.') + 4], ' ') << s;
    }
}

// With the target equal to the source pitch nothing is moved: the note is the
// input again, 384 samples late (the frame starts that far before the hop's
// position) and scaled by 9/8 (512 from the transforms times the overlap
// gain times the window overlap, sum of hann^2 = 1.5).
TEST(Resynthesize, UnshiftedNoteReproducesTheInput) {
    const std::vector<double> x = harmonic_tone(220, 30000);
    const WaveData wave = mono_wave(x);
    const FreqList list = constant_list(220, 120);
    const std::vector<double> out = render(quiet_args(220), straight_plan(20480), wave, list);
    double worst = 0;
    for (std::size_t n = 1024; n < 20480; ++n) worst = std::max(worst, std::fabs(out[n] - 1.125 * x[n - 384]));
    EXPECT_LT(worst, 30.0);  // of a peak near 12000
}

// A strictly periodic input moved to a new pitch lands on it.
TEST(Resynthesize, HarmonicInputLandsOnTheTargetPitch) {
    struct Case {
        double source, target;
    };
    for (Case c : {Case{200, 150}, Case{200, 190}, Case{200, 260}, Case{200, 400}, Case{150, 100},
                   Case{300, 450}}) {
        const WaveData wave = mono_wave(harmonic_tone(c.source, 40000));
        const FreqList list = constant_list(c.source, 160);
        const std::vector<double> out = render(quiet_args(c.target), straight_plan(32768), wave, list);
        const double f = testsupport::estimate_pitch(out, 4096, 8192, 44100, 60, 1000);
        EXPECT_NEAR(cents(f, c.target), 0.0, 5.0) << c.source << " -> " << c.target << ": " << f;
    }
}

// Time stretch (input read at half speed) keeps the pitch.
TEST(Resynthesize, StretchedInputKeepsTheTargetPitch) {
    const WaveData wave = mono_wave(harmonic_tone(200, 40000));
    const FreqList list = constant_list(200, 160);
    const std::vector<double> out =
        render(quiet_args(250), straight_plan(32768, 0.0, 0.5), wave, list);
    const double f = testsupport::estimate_pitch(out, 4096, 8192, 44100, 60, 1000);
    EXPECT_NEAR(cents(f, 250), 0.0, 5.0) << f;
}

TEST(Resynthesize, PositionsOutsideTheInputAreSilent) {
    const WaveData wave = mono_wave(harmonic_tone(200, 20000));
    const FreqList list = constant_list(200, 80);
    // Held at -1000: every frame ends at -361 at the latest. Then absurdly far
    // positions, both ways, and plans that give no number at all.
    for (double offl : {-1000.0, -1e15, 1e15, 1e300, -1e300, kInf, -kInf, kNaN}) {
        const std::vector<double> out =
            render(quiet_args(300), straight_plan(4096, offl, 0.0), wave, list);
        EXPECT_TRUE(all_zero(out)) << offl;
    }
    // Just past the end: the frame reads the 2048 frames of silence and what
    // follows them.
    const std::vector<double> out =
        render(quiet_args(300), straight_plan(4096, 20000 + 384, 1.0), wave, list);
    EXPECT_TRUE(all_zero(out));
}

TEST(Resynthesize, NonFiniteInputSamplesReadAsZero) {
    std::vector<double> x = harmonic_tone(200, 12000);
    std::vector<double> clean = x;
    for (std::size_t i : {1000u, 1001u, 3000u, 7777u}) {
        x[i] = (i % 2) ? kNaN : -kInf;
        clean[i] = 0.0;
    }
    x[5000] = kInf;
    clean[5000] = 0.0;
    const FreqList list = constant_list(200, 50);
    const std::vector<double> a = render(quiet_args(260), straight_plan(8192), mono_wave(x), list);
    const std::vector<double> b = render(quiet_args(260), straight_plan(8192), mono_wave(clean), list);
    EXPECT_EQ(a, b);
    EXPECT_FALSE(all_zero(a));
}

TEST(Resynthesize, OnlyTheFirstChannelIsHeard) {
    const std::vector<double> x = harmonic_tone(200, 12000);
    WaveData stereo = mono_wave(x);
    stereo.format.channels = 2;
    stereo.samples.assign(2 * (x.size() + 2048), 0.0);
    for (std::size_t i = 0; i < x.size(); ++i) {
        stereo.samples[2 * i] = x[i];
        stereo.samples[2 * i + 1] = 30000.0 * ((i / 7) % 2 ? 1 : -1);
    }
    const FreqList list = constant_list(200, 50);
    EXPECT_EQ(render(quiet_args(260), straight_plan(8192), stereo, list),
              render(quiet_args(260), straight_plan(8192), mono_wave(x), list));
}

// A hop whose pitch ratio or harmonic spacing is not a finite positive number
// adds nothing.
TEST(Resynthesize, UnusablePitchRatiosGiveSilence) {
    const WaveData wave = mono_wave(harmonic_tone(200, 20000));
    struct Case {
        const char* what;
        double pitch, freq, avg, rate_ratio;
    };
    for (Case c : {Case{"negative target", -220, 200, 200, 1},
                   Case{"target NaN", kNaN, 200, 200, 1},
                   Case{"target infinite", kInf, 200, 200, 1},
                   Case{"no source pitch anywhere", 220, 0, 0, 1},
                   Case{"source pitch NaN", 220, kNaN, 200, 1},
                   Case{"input rate 0", 220, 200, 200, 0},
                   Case{"source pitch infinite", 220, kInf, kInf, 1}}) {
        ResamplerArgs args = quiet_args(c.pitch);
        FreqList list = constant_list(c.freq, 80);
        list.freq_avg = c.avg;
        const std::vector<double> out = render(args, straight_plan(4096, 0, 1, c.rate_ratio), wave, list);
        EXPECT_TRUE(all_zero(out)) << c.what;
    }
}

// Extreme but finite settings in every combination: the loop must neither
// crash nor convert an out-of-range double, and every sample it leaves,
// before and after the level stage, is a finite number.
TEST(Resynthesize, ExtremeSettingsLeaveOnlyFiniteSamples) {
    const WaveData wave = mono_wave(harmonic_tone(200, 6000));
    const double values[] = {1e-300, 1e-5, 3.0, 200.0, 1e5, 1e300};
    const Tables tables = build_tables();
    int combos = 0;
    for (double pitch : values) {
        for (double freq : values) {
            for (double formant : {1e-300, 1.0, 1e300}) {
                for (double modulation : {-1e300, 0.0, 1.0, 1e300}) {
                    ResamplerArgs args = quiet_args(pitch);
                    args.formant = formant;
                    args.modulation = modulation;
                    FreqList list = constant_list(freq, 20);
                    std::vector<double> out(2048 + 1024, 0.0);
                    resynthesize(args, straight_plan(2048), wave, list, tables, out, nullptr);
                    apply_level(out.data(), 2048, 0.86, 2.0);
                    for (int i = 0; i < 2048; ++i) {
                        ASSERT_TRUE(std::isfinite(out[i]))
                            << pitch << " " << freq << " " << formant << " " << modulation;
                    }
                    ++combos;
                }
            }
        }
    }
    EXPECT_EQ(combos, 6 * 6 * 3 * 4);
}

// Two hops 300 input samples apart: the second one's advances are corrected
// as if the input had moved 256.
TEST(HopCorrection, AddsTheMissingAdvancePerHarmonic) {
    std::vector<double> dphase(513, 0.1);
    const double L = 5.0;
    hop_correction(dphase.data(), L, 300);
    for (int k = 1; k <= 511; ++k) {
        const double m = std::floor(k / L + 0.5);
        EXPECT_DOUBLE_EQ(dphase[k], wrap_cycles(0.1 + m * L * 44 / 1024)) << k;
        EXPECT_GE(dphase[k], -0.5);
        EXPECT_LT(dphase[k], 0.5);
    }
    EXPECT_EQ(dphase[0], 0.1);    // bins 0 and 512 untouched
    EXPECT_EQ(dphase[512], 0.1);
    EXPECT_EQ(dphase[2], 0.1);    // harmonic 0 does not move
}

// The hop loop folds the correction into the shift, correcting only the
// bins the shift reads; the numbers must be those of the separate steps.
TEST(HopCorrection, FoldedIntoTheShiftGivesTheSameNumbers) {
    std::vector<double> mag(1024, 0.0), dphase(513);
    for (int k = 0; k < 512; ++k) mag[k] = 100.0 + (k * 37 % 101) * 10.0;
    for (int k = 0; k <= 512; ++k) dphase[k] = std::fmod(k * 0.377, 1.0) - 0.5;
    for (double L : {4.69, 5.1, 0.9, 23.0}) {
        for (double h : {2.0, 1.3, 1.0, 0.8, 0.5}) {
            for (std::int64_t d : {300, 205, 0, -1000}) {
                std::vector<double> corrected = dphase;
                hop_correction(corrected.data(), L, d);
                EnvelopeWork ew = make_envelope_work();
                std::vector<double> m1(513), d1(513), m2(513), d2(513);
                shift_spectrum_on_demand(mag.data(), corrected.data(), L, h, 1.0, false,
                                         AdvanceCorrection{}, ew, m1.data(), d1.data());
                AdvanceCorrection fold;
                fold.apply = true;
                fold.gap = static_cast<double>(256 - d);
                shift_spectrum_on_demand(mag.data(), dphase.data(), L, h, 1.0, false, fold, ew,
                                         m2.data(), d2.data());
                for (int k = 0; k <= 512; ++k) {
                    ASSERT_EQ(m1[k], m2[k]) << L << " " << h << " " << d << " bin " << k;
                    ASSERT_EQ(d1[k], d2[k]) << L << " " << h << " " << d << " bin " << k;
                }
            }
        }
    }
}

// The correction applies only when the previous hop was not 256 behind.
TEST(HopCorrection, AppliedOnlyWhenTheInputDidNotMove256) {
    const WaveData wave = mono_wave(harmonic_tone(200, 20000));
    const FreqList list = constant_list(200, 80);
    const ResamplerArgs args = quiet_args(260);
    const TimingPlan plan = straight_plan(4096);
    const Tables tables = build_tables();
    const LoopSetup setup = make_loop_setup(args, plan, wave, list, tables);
    auto hop_with_prev = [&](std::int64_t prev) {
        HopWork work = make_hop_work();
        HopState state = make_hop_state();
        state.prev_pos = prev;
        std::vector<double> out(4096 + 1024, 0.0);
        render_hop(setup, 4, state, work, out.data());  // input position 1024
        return out;
    };
    const auto none = hop_with_prev(-1);
    EXPECT_EQ(hop_with_prev(1024 - 256), none);
    EXPECT_NE(hop_with_prev(1024 - 300), none);
}

// The loop takes the phases of only the bins the shift reads, and a stored
// phase older than the last hop again from that hop's spectrum: the same
// numbers as taking every one afresh, whatever the pitch does from hop to
// hop (up, down, unusable).
TEST(Resynthesize, PhasesOnlyWhereTheShiftReadsGiveTheSameNumbers) {
    const WaveData wave = mono_wave(harmonic_tone(200, 20000));
    const FreqList list = constant_list(200, 80);
    ResamplerArgs args = quiet_args(kNaN);  // track entries 0: unusable hops
    args.track = {440, 300, 1000, 150, 0, 0, 230, 880, 600, 0, 500, 2000, 210, 470, 90, 700, 650};
    args.track_count = static_cast<std::int32_t>(args.track.size()) - 1;
    args.bend_step = 256;
    const TimingPlan plan = straight_plan(256 * 16);
    const Tables tables = build_tables();
    const LoopSetup setup = make_loop_setup(args, plan, wave, list, tables);
    HopWork work = make_hop_work(), work_all = make_hop_work();
    HopState state = make_hop_state(), state_all = make_hop_state();
    std::vector<double> out(256 * 16 + 1024, 0.0), want = out;
    for (int hop = 0; hop < 16; ++hop) {
        render_hop(setup, hop, state, work, out.data());
        state_all.phases_current = 1;  // no stored phase counts as the last hop's
        render_hop(setup, hop, state_all, work_all, want.data());
    }
    EXPECT_EQ(out, want);
    EXPECT_FALSE(all_zero(out));
}

// --- per-hop pitches ----------------------------------------------------------

TEST(HopPitch, ModulationSetsHowMuchSourceMovementSurvives) {
    const WaveData wave = mono_wave(std::vector<double>(50000, 0.0), 48000);
    // A source pitch that rises from 180 to 260 Hz; average 220.
    FreqList list = constant_list(0, 100);
    for (int i = 0; i <= 100; ++i) list.freqs[i] = 180.0 + 0.8 * std::min(i, 99);
    list.freq_avg = 220;
    const double rho = 48000.0 / 44100.0;
    const TimingPlan plan = straight_plan(40000, 0, rho, rho);
    const Tables tables = build_tables();
    for (double modulation : {0.0, 0.5, 1.0}) {
        ResamplerArgs args = quiet_args(440);
        args.modulation = modulation;
        const LoopSetup setup = make_loop_setup(args, plan, wave, list, tables);
        for (int hop = 0; hop < 100; hop += 9) {
            const HopPitch hp = hop_pitch(setup, 256.0 * hop);
            ASSERT_TRUE(hp.valid);
            EXPECT_EQ(hp.p, static_cast<std::int64_t>(256.0 * hop * rho));
            EXPECT_EQ(hp.f0, freqlist_at(list, hp.p + 384.0, 16, 55, 220));
            const double f0r = hp.f0 / rho;
            EXPECT_DOUBLE_EQ(hp.L, f0r * 1024 / 44100);
            double want = 440 / f0r;
            if (modulation == 1.0) want = 440 * rho / 220;
            if (modulation == 0.5) want = 440 / ((f0r + 220 / rho) / 2);
            EXPECT_DOUBLE_EQ(hp.h, want) << modulation << " " << hop;
        }
    }
}

TEST(HopPitch, InputAt48kHzHearsTheSourceLower) {
    const WaveData wave = mono_wave(std::vector<double>(50000, 0.0), 48000);
    const FreqList list = constant_list(220, 100);
    const ResamplerArgs args = quiet_args(220);
    const double rho = 48000.0 / 44100.0;
    const TimingPlan plan = straight_plan(40000, 0, rho, rho);
    const Tables tables = build_tables();
    const HopPitch hp = hop_pitch(make_loop_setup(args, plan, wave, list, tables), 0);
    EXPECT_NEAR(hp.f0 / rho, 202.125, 1e-9);
    EXPECT_NEAR(hp.L, 4.693, 5e-4);
}

TEST(TargetPitch, FollowsTheTrackAndReturnsToThePitch) {
    ResamplerArgs args = quiet_args(440);
    EXPECT_EQ(target_pitch(args, 12345), 440);  // no track
    args.bend_step = 256;
    args.track = {400, 500, 0.5, 600, 440};  // 0.5 Hz stands for the plain pitch
    args.track_count = 4;
    struct Case {
        double ap, want;
    };
    for (Case c : {Case{0, 440},                 // x = 2: entry 2 stands for the pitch
                   Case{-512, 400},              // x = 0
                   Case{-384, 450},              // x = 0.5: between 400 and 500
                   Case{-256, 500},              // x = 1
                   Case{-128, 470},              // x = 1.5: 500 to 440 (entry 2 replaced)
                   Case{128, 520},               // x = 2.5: 440 to 600
                   Case{384, 520},               // x = 3.5: 600 to the final 440
                   Case{512, 440},               // x = 4: past the bend values
                   Case{1e6, 440}}) {
        EXPECT_DOUBLE_EQ(target_pitch(args, c.ap), c.want) << c.ap;
    }
    // A track whose length does not match its count is not used.
    args.track_count = 10;
    EXPECT_EQ(target_pitch(args, 0), 440);
}

// --- level stage --------------------------------------------------------------

TEST(ApplyLevel, GainVolumeAndClamping) {
    struct Case {
        const char* what;
        double peak_exp, volume;
        std::vector<double> in, want;
    };
    const double g86 = std::pow(4.0, 0.86);  // peak 4096 raised toward 16384
    const std::vector<Case> cases = {
        {"volume only", 0.0, 1.5, {1000, -2000, 30000, -30000}, {1500, -3000, 32767, -32768}},
        {"passed through", 0.0, 1.0, {40000, -50000, 0.25}, {40000, -50000, 0.25}},
        {"negative exponent counts as off", -1.0, 1.0, {40000, 7}, {40000, 7}},
        {"default exponent", 0.86, 1.0, {4096, -1024, 0}, {4096 * g86, -1024 * g86, 0}},
        {"full normalisation", 1.0, 1.0, {-8192, 4096}, {-16384, 8192}},
        {"exponent above 1 counts as 1", 2.5, 0.5, {-8192, 4096}, {-8192, 4096}},
        {"loud peak brought down", 1.0, 2.0, {65536, 100000}, {16384.0 * 2 * 65536 / 100000.0, 32767}},
    };
    for (const Case& c : cases) {
        std::vector<double> out = c.in;
        apply_level(out.data(), static_cast<std::int32_t>(out.size()), c.peak_exp, c.volume);
        for (std::size_t i = 0; i < out.size(); ++i)
            EXPECT_NEAR(out[i], c.want[i], 1e-9 * std::fabs(c.want[i]) + 1e-12) << c.what << " " << i;
    }
    EXPECT_NEAR(g86, 3.29, 0.005);
}

TEST(ApplyLevel, OnlyTheFirstOutlenSamplesCount) {
    std::vector<double> out = {100, 200, 50000, 50000};
    apply_level(out.data(), 2, 1.0, 1.0);
    EXPECT_EQ(out, (std::vector<double>{8192, 16384, 50000, 50000}));
}

TEST(ApplyLevel, SilenceStaysSilent) {
    for (double peak_exp : {0.86, 1.0, 0.0, 5.0}) {
        for (double volume : {1.0, 1.5, 0.0, 2.0}) {
            std::vector<double> out(1000, 0.0);
            apply_level(out.data(), 1000, peak_exp, volume);
            for (double v : out) ASSERT_EQ(v, 0.0) << peak_exp << " " << volume;
        }
    }
}

// A peak so small that 16384 / peak overflows: nonzero samples go to full
// scale, zeros stay zero, nothing becomes NaN.
TEST(ApplyLevel, SubnormalPeakGivesNoNaN) {
    const double tiny = std::numeric_limits<double>::denorm_min();
    std::vector<double> out = {tiny, 0.0, -tiny};
    apply_level(out.data(), 3, 1.0, 1.0);
    EXPECT_EQ(out, (std::vector<double>{32767, 0, -32768}));
}

}  // namespace
}  // namespace kelmotra
