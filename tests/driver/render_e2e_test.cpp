// End to end: the kelmotra executable renders the bundled sung vowel (220 Hz)
// from a frequency map written beside it, and the notes it writes are
// measured.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/platform.h"
#include "freqmap/freqlist.h"
#include "freqmap/frq_file.h"
#include "support/test_support.h"

namespace {

constexpr double kVoiceHz = 220.0;

// A scratch folder holding the sample as in.wav and its FRQ file: every entry
// says entry_hz, the header's average says avg_hz.
std::string prepare(const std::string& name, double entry_hz, double avg_hz) {
    const std::string dir = testsupport::scratch_dir(name);
    const std::string wav = dir + "/in.wav";
    const std::vector<std::uint8_t> bytes = testsupport::read_bytes(testsupport::voice_sample());
    EXPECT_GT(bytes.size(), 44u);
    testsupport::write_bytes(wav, bytes);
    const auto frames = static_cast<std::int32_t>((bytes.size() - 44) / 2);
    kelmotra::FreqList list;
    list.step = 256;
    list.sample_rate = 44100;
    list.count = frames / 256;
    list.freq_avg = avg_hz;
    list.freqs.assign(static_cast<std::size_t>(list.count) + 1, entry_hz);
    list.amps.assign(static_cast<std::size_t>(list.count) + 1, 3000.0);
    EXPECT_EQ(kelmotra::frq_save(kelmotra::path_from_utf8(wav), &list, nullptr), 1);
    return dir;
}

struct Note {
    std::string pitch = "A3";
    std::string length_ms = "1000";
    std::string modulation = "0";
    std::string flags = "";
};

// Renders a note and returns the output file's bytes (empty on failure).
std::vector<std::uint8_t> render(const std::string& dir, const Note& n) {
    const std::string out = dir + "/out.wav";
    const testsupport::RunResult r = testsupport::run_program(
        testsupport::kelmotra_exe(), {dir + "/in.wav", out, n.pitch, "100", n.flags, "0",
                                      n.length_ms, "0", "0", "100", n.modulation});
    EXPECT_EQ(r.status, 0) << r.err;
    if (r.status != 0 || !testsupport::file_exists(out)) return {};
    return testsupport::read_bytes(out);
}

double cents(double f, double ref) { return 1200.0 * std::log2(f / ref); }

// Pitch of the steady part of a rendered note (the vowel, after the
// consonant and the fade-in, before the end), in four windows; returns the
// one furthest from ref, in cents.
double worst_cents(const std::vector<double>& x, double ref) {
    double worst = 0;
    for (std::size_t from : {8000u, 16000u, 24000u, 32000u}) {
        const double f = testsupport::estimate_pitch(x, from, 4096, 44100, 60, 1000);
        EXPECT_GT(f, 0.0) << "no pitch at " << from;
        if (f <= 0) return 1e9;
        const double c = cents(f, ref);
        if (std::fabs(c) > std::fabs(worst)) worst = c;
    }
    return worst;
}

TEST(RenderE2e, LandsOnTheTargetFromAnOctaveBelowToAnOctaveAbove) {
    const std::string dir = prepare("e2e_targets", kVoiceHz, kVoiceHz);
    struct Case {
        const char* pitch;
        double hz;
    };
    for (Case c : {Case{"A2", 110.0}, Case{"D3", 146.832}, Case{"G3", 195.998}, Case{"A3", 220.0},
                   Case{"C#4", 277.183}, Case{"E4", 329.628}, Case{"A4", 440.0}, Case{"250", 250.0}}) {
        Note n;
        n.pitch = c.pitch;
        const std::vector<std::uint8_t> file = render(dir, n);
        const std::vector<double> x = testsupport::wav16_samples(file);
        ASSERT_EQ(x.size(), 44100u) << c.pitch;
        EXPECT_NEAR(worst_cents(x, c.hz), 0.0, 15.0) << c.pitch;
    }
}

// A stretched note (longer than the sample) keeps its pitch too.
TEST(RenderE2e, StretchedNoteKeepsThePitch) {
    const std::string dir = prepare("e2e_stretch", kVoiceHz, kVoiceHz);
    Note n;
    n.pitch = "E4";
    n.length_ms = "2500";
    const std::vector<double> x = testsupport::wav16_samples(render(dir, n));
    ASSERT_EQ(x.size(), 110250u);
    EXPECT_NEAR(worst_cents(x, 329.628), 0.0, 15.0);
    const double late = testsupport::estimate_pitch(x, 80000, 4096, 44100, 60, 1000);
    EXPECT_NEAR(cents(late, 329.628), 0.0, 15.0);
}

TEST(RenderE2e, OutputHoldsExactlyTheRequestedSamples) {
    const std::string dir = prepare("e2e_length", kVoiceHz, kVoiceHz);
    struct Case {
        const char* ms;
        std::size_t samples;
    };
    // ceil(ms * 44.1); 0 means as long as the input (1.6 s).
    for (Case c : {Case{"1000", 44100}, Case{"12.3", 543}, Case{"5", 221}, Case{"2000", 88200},
                   Case{"0", 70560}, Case{"333.3", 14699}}) {
        Note n;
        n.length_ms = c.ms;
        const std::vector<std::uint8_t> file = render(dir, n);
        ASSERT_EQ(file.size(), 44 + 2 * c.samples) << c.ms;
        const std::uint32_t data_bytes = file[40] | (file[41] << 8) | (file[42] << 16) |
                                         (static_cast<std::uint32_t>(file[43]) << 24);
        EXPECT_EQ(data_bytes, 2 * c.samples) << c.ms;
    }
    // Shorter than one hop: silence of the requested length.
    Note n;
    n.length_ms = "5";
    const std::vector<double> x = testsupport::wav16_samples(render(dir, n));
    for (double v : x) ASSERT_EQ(v, 0.0);
}

// A sample that moves: a harmonic tone at 200 Hz for its first half and
// 240 Hz for its second (average 220), with an exact map. Modulation 0
// renders both halves at the target; 100 keeps the movement around the
// target (the average lands on it); 50 keeps half of it, dividing by the mean
// of the map's value and the average.
TEST(RenderE2e, ModulationKeepsThatShareOfTheSourceMovement) {
    const std::string dir = testsupport::scratch_dir("e2e_modulation");
    const std::string wav = dir + "/in.wav";
    const std::size_t frames = 70560, half = frames / 2;
    std::vector<double> x(frames);
    double phase = 0;  // cycles, continuous across the step
    for (std::size_t i = 0; i < frames; ++i) {
        double v = 0;
        for (int k = 1; k <= 20; ++k) v += std::sin(2 * 3.141592653589793 * k * phase) / k;
        x[i] = 4000 * v;
        phase += (i < half ? 200.0 : 240.0) / 44100;
        phase -= std::floor(phase);
    }
    testsupport::write_bytes(wav, testsupport::wav16_mono(44100, x));
    kelmotra::FreqList list;
    list.step = 256;
    list.sample_rate = 44100;
    list.count = static_cast<std::int32_t>(frames / 256);
    list.freq_avg = 220.0;
    for (std::int32_t i = 0; i <= list.count; ++i) {
        list.freqs.push_back(i * 256.0 < half ? 200.0 : 240.0);
        list.amps.push_back(3000.0);
    }
    ASSERT_EQ(kelmotra::frq_save(kelmotra::path_from_utf8(wav), &list, nullptr), 1);

    const double target = 261.626;  // C4
    struct Case {
        const char* modulation;
        double first, second;  // expected offsets from the target, cents
    };
    for (Case c : {Case{"0", 0.0, 0.0}, Case{"100", cents(200, 220), cents(240, 220)},
                   Case{"50", cents(200, 210), cents(240, 230)}}) {
        Note n;
        n.pitch = "C4";
        n.length_ms = "0";  // the whole sample
        n.modulation = c.modulation;
        const std::vector<double> y = testsupport::wav16_samples(render(dir, n));
        ASSERT_EQ(y.size(), frames);
        for (std::size_t from : {6000u, 16000u, 26000u}) {
            const double f = testsupport::estimate_pitch(y, from, 4096, 44100, 60, 1000);
            EXPECT_NEAR(cents(f, target), c.first, 15.0) << c.modulation << " at " << from;
        }
        for (std::size_t from : {42000u, 52000u, 62000u}) {
            const double f = testsupport::estimate_pitch(y, from, 4096, 44100, 60, 1000);
            EXPECT_NEAR(cents(f, target), c.second, 15.0) << c.modulation << " at " << from;
        }
    }
}

// With a map that agrees with the sample, modulation makes no difference.
TEST(RenderE2e, ModulationIsMootForASteadySource) {
    const std::string dir = prepare("e2e_modulation_steady", kVoiceHz, kVoiceHz);
    Note a, b;
    a.pitch = b.pitch = "F3";
    a.modulation = "0";
    b.modulation = "100";
    EXPECT_EQ(render(dir, a), render(dir, b));
}

}  // namespace
