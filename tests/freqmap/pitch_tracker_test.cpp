// The robust tracker: right on octave traps, glides, vibrato and real sung
// syllables; unvoiced on silence and breath; the classic map's layout.
#include "freqmap/pitch_tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "freqmap/analysis.h"
#include "freqmap/pitch_path.h"
#include "support/test_support.h"

namespace kelmotra {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = 44100.0;

std::optional<FreqList> track(const std::vector<double>& x, double rate = kRate,
                              AnalysisMethod method = AnalysisMethod::Robust, std::FILE* progress = nullptr) {
    const std::vector<std::uint8_t> file = testsupport::wav16_mono(static_cast<std::uint32_t>(rate), x);
    const std::optional<RawWave> raw = wav_parse_raw(file.data(), file.size(), 0, 0, 4096, nullptr);
    if (!raw) return std::nullopt;
    return analyse_raw(*raw, progress, AnalysisOptions{method});
}

double cents(double f, double ref) { return 1200.0 * std::log2(f / ref); }

// A sung vowel: 0.1 s of silence, then `seconds` of harmonics of hz(t) (t in
// seconds from the onset) under the formants of "a", each period's length
// jittered by up to `jitter`, then `tail` seconds in which the voice fades by
// 40 dB under rising breath noise, then silence.
std::vector<double> sing(double seconds, const std::function<double(double)>& hz, double jitter = 0.005,
                         double tail = 0.0) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> uni(-1.0, 1.0);
    const int lead = static_cast<int>(0.1 * kRate), body = static_cast<int>(seconds * kRate);
    const int fade = static_cast<int>(tail * kRate);
    std::vector<double> x(static_cast<std::size_t>(lead + body + fade + lead), 0.0);
    double phase = 0.0, jit = 0.0, breath = 0.0;
    for (int i = lead; i < lead + body + fade; ++i) {
        const double t = static_cast<double>(i - lead) / kRate;
        const double f = hz(std::min(t, seconds)) * (1.0 + jit);
        phase += f / kRate;
        if (phase >= 1.0) {
            phase -= 1.0;
            jit = jitter * uni(rng);
        }
        double v = 0.0;
        for (int k = 1; k * f < 0.45 * kRate; ++k) {
            const double h = k * f;
            const double g = 1 / (1 + std::pow((h - 750) / 120, 2)) + 0.6 / (1 + std::pow((h - 1200) / 150, 2)) + 0.05;
            v += g * std::sin(2 * kPi * k * phase);
        }
        double level = std::min(1.0, t / 0.04);
        if (i >= lead + body) {
            const double into = static_cast<double>(i - lead - body) / fade;
            level = std::pow(10.0, -2.0 * into);
            breath = 0.6 * breath + 0.4 * uni(rng);
            v = v * level + 0.4 * into * breath;
        } else {
            v *= level;
        }
        x[static_cast<std::size_t>(i)] = 6000.0 * v;
    }
    return x;
}

// Checks every step from `from` s to `to` s after the onset (0.1 s into the
// sample): voiced ones within `tolerance` cents of hz, and at least
// `voiced_share` of them voiced.
void expect_follows(const FreqList& map, const std::function<double(double)>& hz, double from, double to,
                    double tolerance, double voiced_share, const std::string& what) {
    int steps = 0, voiced = 0;
    for (int i = 0; i < map.count; ++i) {
        const double t = i * map.step / kRate - 0.1;
        if (t < from || t > to) continue;
        ++steps;
        const double f = map.freqs[static_cast<std::size_t>(i)];
        if (f == 0.0) continue;
        ++voiced;
        EXPECT_LE(std::fabs(cents(f, hz(t))), tolerance) << what << ", step " << i << ": " << f << " Hz";
    }
    EXPECT_GE(voiced, voiced_share * steps) << what;
}

TEST(PitchTracker, OctaveTrapStaysAtTheTruePitch) {
    // Rich harmonics, 2 % jitter and a long breathy tail: the classic
    // analysis puts most of this a fifth to two octaves low.
    for (double f0 : {110.0, 233.0, 440.0}) {
        const auto hz = [f0](double) { return f0; };
        const std::optional<FreqList> map = track(sing(1.0, hz, 0.02, 0.6));
        ASSERT_TRUE(map) << f0;
        // The voiced part, and the tail wherever it is still called voiced.
        expect_follows(*map, hz, 0.05, 0.95, 50, 0.95, "vowel at " + std::to_string(f0));
        expect_follows(*map, hz, 1.0, 1.6, 50, 0, "tail at " + std::to_string(f0));
        EXPECT_LE(std::fabs(cents(map->freq_avg, f0)), 10) << f0;
    }
}

TEST(PitchTracker, GlideAndVibratoAreFollowedWithinTwentyCents) {
    const struct {
        const char* what;
        std::function<double(double)> hz;
    } rows[] = {
        {"octave glide up", [](double t) { return 150.0 * std::pow(2.0, t / 1.2); }},
        {"octave glide down", [](double t) { return 520.0 * std::pow(2.0, -t / 1.2); }},
        {"vibrato +-50 cents at 5.5 Hz", [](double t) { return 330.0 * std::pow(2.0, 50.0 / 1200 * std::sin(2 * kPi * 5.5 * t)); }},
    };
    for (const auto& row : rows) {
        const std::optional<FreqList> map = track(sing(1.2, row.hz));
        ASSERT_TRUE(map) << row.what;
        expect_follows(*map, row.hz, 0.05, 1.15, 20, 0.95, row.what);
    }
}

TEST(PitchTracker, SilenceBreathAndNoiseAreUnvoiced) {
    std::mt19937 rng(3);
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<double> silence(44100, 0.0), hiss(44100), breath(44100), quiet(44100);
    double lp = 0.0;
    for (std::size_t i = 0; i < hiss.size(); ++i) {
        hiss[i] = 3000.0 * gauss(rng);
        lp = 0.8 * lp + 0.2 * gauss(rng);
        breath[i] = 8000.0 * lp * std::sin(kPi * static_cast<double>(i) / 44100.0);  // swells and fades
        quiet[i] = 20.0 * gauss(rng);
    }
    for (const auto& [what, x] : {std::pair{"silence", silence}, std::pair{"hiss", hiss},
                                  std::pair{"breath", breath}, std::pair{"room noise", quiet}}) {
        const std::optional<FreqList> map = track(x);
        ASSERT_TRUE(map) << what;
        for (int i = 0; i < map->count; ++i) EXPECT_EQ(map->freqs[static_cast<std::size_t>(i)], 0.0) << what << " " << i;
        EXPECT_DOUBLE_EQ(map->freq_avg, 44100.0 / 768) << what;  // no voiced step: the classic fallback
    }
}

TEST(PitchTracker, RealSungSyllablesMatchTheirReference) {
    // Median over the voiced steps of praat's To Pitch (ac), 112.5 .. 450 Hz.
    const struct {
        const char* name;
        double hz;
    } rows[] = {{"a", 238.44}, {"ka", 237.47}, {"sa", 231.02}, {"ri", 223.42}};
    for (const auto& row : rows) {
        const std::string path = std::string(KELMOTRA_SOURCE_DIR) + "/data/neko/" + row.name + ".wav";
        const std::optional<RawWave> raw = wav_read_raw(path_from_utf8(path), 0, 0, 4096, nullptr);
        ASSERT_TRUE(raw) << path;
        const std::optional<FreqList> map = analyse_raw(*raw, nullptr);
        ASSERT_TRUE(map) << path;
        std::vector<double> voiced;
        for (int i = 0; i < map->count; ++i)
            if (map->freqs[static_cast<std::size_t>(i)] > 0) voiced.push_back(map->freqs[static_cast<std::size_t>(i)]);
        ASSERT_GE(voiced.size(), 40u) << row.name;
        std::nth_element(voiced.begin(), voiced.begin() + static_cast<std::ptrdiff_t>(voiced.size() / 2), voiced.end());
        EXPECT_LE(std::fabs(cents(voiced[voiced.size() / 2], row.hz)), 10) << row.name;
    }
}

TEST(PitchTracker, KeepsTheClassicLayoutAndPrintsOnlyItsSetUp) {
    // Step, count, sample rate and levels are the classic analysis's at every
    // rate; only the frequencies (and so the average) differ.
    for (double rate : {8000.0, 22050.0, 44100.0, 96000.0}) {
        std::vector<double> x = sing(0.5, [](double) { return 220.0; });
        std::FILE* progress = testsupport::temp_stream();
        const std::optional<FreqList> robust = track(x, rate, AnalysisMethod::Robust, progress);
        const std::optional<FreqList> classic = track(x, rate, AnalysisMethod::Classic);
        const std::string said = testsupport::stream_text(progress);
        std::fclose(progress);
        ASSERT_TRUE(robust && classic) << rate;
        EXPECT_EQ(robust->step, classic->step) << rate;
        EXPECT_EQ(robust->count, classic->count) << rate;
        EXPECT_EQ(robust->sample_rate, classic->sample_rate) << rate;
        EXPECT_EQ(robust->amps, classic->amps) << rate;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 10) << said;
        EXPECT_EQ(said.find('\r'), std::string::npos) << said;
        EXPECT_EQ(said.rfind("N=", 0), 0u) << said;
        EXPECT_NE(said.find("List Count=" + std::to_string(robust->count) + "\nfreq_avg="), std::string::npos) << said;
    }
}

TEST(PitchPath, NoStepPullsItsNeighboursAndUnvoicedGapsRememberThePitch) {
    // Every step offers the period (log2 8) and its double (log2 9); the
    // period is a little stronger, except where a row makes the double much
    // stronger or the step unvoiced.
    const PathCosts costs{1.7, 0.24};
    auto path_of = [&](const std::vector<int>& lure, const std::vector<int>& gap) {
        std::vector<PathStep> steps(30);
        for (PathStep& s : steps) {
            s.count = 2;
            s.octave[0] = 8.0, s.octave[1] = 9.0;
            s.strength[0] = 0.9, s.strength[1] = 0.8;
            s.unvoiced = 0.45;
        }
        for (int i : lure) steps[static_cast<std::size_t>(i)].strength[1] = 1.9;
        for (int i : gap) steps[static_cast<std::size_t>(i)].count = 0;
        std::vector<std::int32_t> choice(steps.size(), -2);
        choose_path(steps, costs, choice);
        return choice;
    };
    // One lure, or a few in a row, change nothing; a long stretch does.
    EXPECT_EQ(path_of({10}, {}), std::vector<std::int32_t>(30, 0));
    EXPECT_EQ(path_of({10, 11}, {}), std::vector<std::int32_t>(30, 0));
    std::vector<int> long_lure;
    for (int i = 15; i < 30; ++i) long_lure.push_back(i);
    EXPECT_EQ(path_of(long_lure, {})[20], 1);
    // Across an unvoiced gap the jump still costs: the lure after it fails.
    const std::vector<std::int32_t> gapped = path_of({14, 15}, {10, 11, 12, 13});
    EXPECT_EQ(gapped[11], -1);
    EXPECT_EQ(gapped[14], 0);

    for (double x : {1e-300, 0.001, 0.7071, 1.0, 1.5, 55.0, 801.5, 1e300})
        EXPECT_NEAR(path_log2(x), std::log2(x), 1e-13) << x;
}

}  // namespace
}  // namespace kelmotra
