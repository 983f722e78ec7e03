// End to end: a note follows its pitch-bend curve. The bundled sung vowel
// (220 Hz, with a frequency map written beside it) is rendered with a curve
// that rises by 100 cents halfway through, and the pitch of the output is
// measured on both sides of the rise.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/platform.h"
#include "freqmap/freqlist.h"
#include "freqmap/frq_file.h"
#include "pitchcodec/bend_layers.h"
#include "support/test_support.h"

namespace {

std::string prepare(const std::string& name) {
    const std::string dir = testsupport::scratch_dir(name);
    const std::string wav = dir + "/in.wav";
    const std::vector<std::uint8_t> bytes = testsupport::read_bytes(testsupport::voice_sample());
    testsupport::write_bytes(wav, bytes);
    kelmotra::FreqList list;
    list.step = 256;
    list.sample_rate = 44100;
    list.count = static_cast<std::int32_t>((bytes.size() - 44) / 2 / 256);
    list.freq_avg = 220.0;
    list.freqs.assign(static_cast<std::size_t>(list.count) + 1, 220.0);
    list.amps.assign(static_cast<std::size_t>(list.count) + 1, 3000.0);
    EXPECT_EQ(kelmotra::frq_save(kelmotra::path_from_utf8(wav), &list, nullptr), 1);
    return dir;
}

std::vector<double> render(const std::string& dir, const std::string& tempo, const std::string& bend,
                           const std::string& pitch = "E4", const std::string& flags = "n",
                           const std::string& length_ms = "1200") {
    const std::string out = dir + "/out.wav";
    std::vector<std::string> args = {dir + "/in.wav", out, pitch, "100", flags, "100", length_ms,
                                     "0", "0", "100", "0"};
    if (!tempo.empty()) args.push_back(tempo);
    if (!bend.empty()) args.push_back(bend);
    const testsupport::RunResult r = testsupport::run_program(testsupport::kelmotra_exe(), args);
    EXPECT_EQ(r.status, 0) << r.err;
    return testsupport::wav16_samples(testsupport::read_bytes(out));
}

double cents_at(const std::vector<double>& x, std::size_t from, double ref) {
    const double f = testsupport::estimate_pitch(x, from, 4096, 44100, 60, 1000);
    EXPECT_GT(f, 0.0) << "no pitch at " << from;
    return f > 0 ? 1200.0 * std::log2(f / ref) : 1e9;
}

constexpr double kE4 = 329.6275569128699;

}  // namespace

TEST(BendE2e, FollowsACurveThatRisesBy100CentsHalfway) {
    const std::string dir = prepare("bend_rise");
    // Tempo 120: one value per 230 output samples; 1.2 s holds 230 values:
    // 115 at 0 cents, then 115 at +100 cents.
    const std::vector<double> x = render(dir, "!120", "AA#114#Bk#114#");
    ASSERT_EQ(x.size(), 52920u);
    for (std::size_t from : {6000u, 12000u, 19000u})
        EXPECT_NEAR(cents_at(x, from, kE4), 0.0, 15.0) << "before the rise, at " << from;
    for (std::size_t from : {32000u, 38000u, 44000u})
        EXPECT_NEAR(cents_at(x, from, kE4), 100.0, 15.0) << "after the rise, at " << from;
}

TEST(BendE2e, ExtendedFormsGiveTheSameNoteAsTheStandardForm) {
    const std::string dir = prepare("bend_forms");
    // A smooth curve: a slow rise with a little vibrato on top.
    kelmotra::PitchBend curve;
    for (int i = 0; i < 230; ++i)
        curve.values.push_back(static_cast<std::int16_t>(i / 2 + std::lround(20 * std::sin(i * 0.3))));
    // The standard form of the curve, pair by pair.
    std::string base64;
    {
        for (std::int16_t v : curve.values) {
            const int u = v & 0xFFF;
            const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
            base64.push_back(digits[u >> 6]);
            base64.push_back(digits[u & 63]);
        }
    }
    const std::vector<double> reference = render(dir, "!120", base64);
    ASSERT_EQ(reference.size(), 52920u);
    const char* tags[] = {"enc", "enc", "cmp", "hff"};
    for (int mode = 0; mode <= 3; ++mode) {
        for (int order = 0; order <= 3; ++order) {
            const auto text = kelmotra::encpitchx(curve, order, mode, nullptr);
            ASSERT_TRUE(text.has_value());
            const std::string ascii(text->begin(), text->end());
            const std::string tempo = std::string("!120*") + (mode == 0 ? "xyz" : tags[mode]) + std::to_string(order);
            EXPECT_EQ(render(dir, tempo, ascii), reference) << tempo << " " << ascii;
        }
    }
}

TEST(BendE2e, ACurveThatDecodesToNothingLeavesThePlainPitch) {
    const std::string dir = prepare("bend_empty");
    const std::vector<double> plain = render(dir, "", "");
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(render(dir, "!120", "#0#"), plain);
    EXPECT_EQ(render(dir, "!120*hff", "A"), plain);
}

TEST(BendE2e, OnlyTwelveArgumentsMeansNoBend) {
    const std::string dir = prepare("bend_twelve");
    const std::vector<double> plain = render(dir, "", "");
    // A tempo with an extended-form selector but no bend argument.
    const std::vector<double> twelve = render(dir, "!120*hff2", "");
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(twelve, plain);
    EXPECT_NEAR(cents_at(twelve, 20000, kE4), 0.0, 15.0);
}

TEST(BendE2e, TransposeFlagShiftsTheWholeCurve) {
    const std::string dir = prepare("bend_transpose");
    const std::vector<double> x = render(dir, "!120", "AA#114#Bk#114#", "E4", "nt50");
    ASSERT_EQ(x.size(), 52920u);
    EXPECT_NEAR(cents_at(x, 12000, kE4), 50.0, 15.0);
    EXPECT_NEAR(cents_at(x, 38000, kE4), 150.0, 15.0);
}

TEST(BendE2e, DecimalTempoKeepsALateStepOnTheHostsBeat) {
    const std::string dir = prepare("bend_decimal_tempo");
    // A 100-cent step after 592 bend values: 4.000 s into the note at 92.5 BPM.
    const std::string bend = "AA#591#Bk#200#";
    // The output sample where the pitch first stands above +50 cents.
    auto step_at = [](const std::vector<double>& x) {
        for (std::size_t from = 3.8 * 44100; from + 1024 < x.size(); from += 32) {
            const double f = testsupport::estimate_pitch(x, from, 1024, 44100, 60, 1000);
            if (f > 0 && 1200.0 * std::log2(f / kE4) > 50.0) return static_cast<double>(from + 512);
        }
        return 1e9;
    };
    const double decimal = step_at(render(dir, "!92.5", bend, "E4", "n", "4500"));
    const double whole = step_at(render(dir, "!92", bend, "E4", "n", "4500"));
    // Within 10 ms (the frame's spread included); read as 92 it came 27 ms late.
    EXPECT_NEAR(decimal, 4.0 * 44100, 0.01 * 44100);
    // 92 BPM spaces the values 300 samples apart instead of 298.
    EXPECT_NEAR(whole - decimal, 592 * 2, 256);
}
