// Flag B end to end: synthetic vowels of known periodicity, stretched 4x by
// the kelmotra executable, keep their harmonics-to-noise ratio with B100.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "audio/platform.h"
#include "freqmap/frq_file.h"
#include "support/test_support.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kPeriod = 210;  // input period, samples (210 Hz)

// One second of a vowel at 210 Hz (harmonics falling 6 dB an octave up to
// 8 kHz) plus white noise hnr_db below it, with a map of its true pitch.
std::string prepare(const std::string& name, double hnr_db) {
    std::vector<double> voiced(44100), noise(44100);
    double pv = 0, pn = 0;
    std::uint32_t state = 7;
    for (std::size_t i = 0; i < voiced.size(); ++i) {
        for (int n = 1; n * 210 < 8000; ++n)
            voiced[i] += std::sin(2 * kPi * n * static_cast<double>(i) / kPeriod + n) / n;
        state = state * 1664525u + 1013904223u;
        noise[i] = static_cast<double>(state >> 8) / 8388608.0 - 1.0;
        pv += voiced[i] * voiced[i];
        pn += noise[i] * noise[i];
    }
    const double g = std::sqrt(pv / pn * std::pow(10.0, -hnr_db / 10));
    for (std::size_t i = 0; i < voiced.size(); ++i) voiced[i] = 3000 * (voiced[i] + g * noise[i]);
    const std::string dir = testsupport::scratch_dir(name);
    testsupport::write_bytes(dir + "/in.wav", testsupport::wav16_mono(44100, voiced));
    kelmotra::FreqList list;
    list.step = 256;
    list.sample_rate = 44100;
    list.count = 44100 / 256 + 1;
    list.freq_avg = 210.0;
    list.freqs.assign(static_cast<std::size_t>(list.count) + 1, 210.0);
    list.amps.assign(static_cast<std::size_t>(list.count) + 1, 3000.0);
    EXPECT_EQ(kelmotra::frq_save(kelmotra::path_from_utf8(dir + "/in.wav"), &list, nullptr), 1);
    return dir;
}

// The note's bytes: pitch in Hz, length in ms, flags.
std::vector<std::uint8_t> render(const std::string& dir, const std::string& pitch,
                                 const std::string& length, const std::string& flags) {
    const testsupport::RunResult r = testsupport::run_program(
        testsupport::kelmotra_exe(),
        {dir + "/in.wav", dir + "/out.wav", pitch, "100", flags, "0", length, "0", "0", "100", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    return testsupport::read_bytes(dir + "/out.wav");
}

// Harmonics-to-noise ratio (dB) of x[from, to) from its normalised
// autocorrelation r at the period: 10 log10(r / (1 - r)).
double hnr(const std::vector<double>& x, std::size_t from, std::size_t to, std::size_t period) {
    double xy = 0, xx = 0, yy = 0;
    for (std::size_t i = from; i < to; ++i) {
        xy += x[i] * x[i + period];
        xx += x[i] * x[i];
        yy += x[i + period] * x[i + period];
    }
    const double r = xy / std::sqrt(xx * yy);
    return 10 * std::log10(r / (1 - r));
}

TEST(BreathFlag, OffAndClampedValuesGiveTheSameBytes) {
    const std::string dir = prepare("breath_flag_values", 10);
    const std::vector<std::uint8_t> plain = render(dir, "245", "4000", "");
    const std::vector<std::uint8_t> full = render(dir, "245", "4000", "B100");
    ASSERT_GT(plain.size(), 44u);
    EXPECT_NE(full, plain);
    for (const char* off : {"B0", "B-20", "Bx"}) EXPECT_EQ(render(dir, "245", "4000", off), plain) << off;
    EXPECT_EQ(render(dir, "245", "4000", "B250"), full);
    EXPECT_EQ(render(dir, "245", "4000", "B100"), full);  // the same note twice: the same bytes
}

// Stretched 4x, the plain note turns the noise into a buzz; B100 keeps the
// input's ratio, at the input's pitch and shifted (245 Hz: period 180).
TEST(BreathFlag, StretchedNoisyVowelKeepsItsHarmonicsToNoiseRatio) {
    const std::string dir = prepare("breath_flag_noisy", 10);
    const std::vector<double> in = testsupport::wav16_samples(testsupport::read_bytes(dir + "/in.wav"));
    const double hnr_in = hnr(in, 2000, 40000, kPeriod);
    for (const auto& [pitch, period] : {std::pair{"210", 210}, std::pair{"245", 180}}) {
        const auto plain = testsupport::wav16_samples(render(dir, pitch, "4000", ""));
        const auto breath = testsupport::wav16_samples(render(dir, pitch, "4000", "B100"));
        EXPECT_GT(hnr(plain, 20000, 160000, period), hnr_in + 6) << pitch;
        EXPECT_NEAR(hnr(breath, 20000, 160000, period), hnr_in, 3.0) << pitch;
    }
}

// No noise is invented: a pure harmonic vowel stays as periodic with B100.
TEST(BreathFlag, PureHarmonicVowelStaysPeriodic) {
    const std::string dir = prepare("breath_flag_pure", 200);
    for (const auto& [pitch, period] : {std::pair{"210", 210}, std::pair{"245", 180}}) {
        const auto plain = testsupport::wav16_samples(render(dir, pitch, "4000", ""));
        const auto breath = testsupport::wav16_samples(render(dir, pitch, "4000", "B100"));
        const double floor = std::min(hnr(plain, 20000, 160000, period) - 3, 35.0);
        EXPECT_GT(hnr(breath, 20000, 160000, period), floor) << pitch;
    }
}

}  // namespace
