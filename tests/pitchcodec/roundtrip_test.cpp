// Round trips through every extended form: random smooth and jumpy curves,
// every mode and order, and the long flat curves that need split run tokens.
// Also arbitrary texts through every decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "pitchcodec/bend_layers.h"
#include "pitchcodec/codec_test_util.h"

using namespace kelmotra;
using namespace codectest;

namespace {

// A pitch-like curve: a slow drift with vibrato, held notes and a few steps.
PitchBend smooth_curve(std::mt19937& rng, std::size_t n) {
    PitchBend c;
    double level = static_cast<double>(static_cast<int>(rng() % 400) - 200);
    double depth = static_cast<double>(rng() % 60), rate = 0.05 + (rng() % 100) * 0.002;
    for (std::size_t i = 0; i < n; ++i) {
        if (rng() % 200 == 0) level += static_cast<double>(static_cast<int>(rng() % 600) - 300);
        if (rng() % 50 == 0) level *= 0.9;
        bool held = (i / 64) % 3 == 0;
        double v = level + (held ? 0.0 : depth * std::sin(rate * static_cast<double>(i)));
        c.values.push_back(static_cast<std::int16_t>(std::lround(std::clamp(v, -2048.0, 2047.0))));
    }
    return c;
}

PitchBend jumpy_curve(std::mt19937& rng, std::size_t n, int lo, int hi) {
    PitchBend c;
    for (std::size_t i = 0; i < n; ++i) {
        c.values.push_back(static_cast<std::int16_t>(lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1))));
    }
    return c;
}

bool differences_within(const PitchBend& c, int order, int lo, int hi) {
    for (std::size_t j = 0; j < c.values.size(); ++j) {
        int d = static_cast<std::int16_t>(benddiff(c.values, j, order));
        if (d < lo || d > hi) return false;
    }
    return true;
}

void expect_round_trip(const PitchBend& c, int mode, int order, const char* kind) {
    std::optional<std::u16string> text = encpitchx(c, order, mode, nullptr);
    ASSERT_TRUE(text) << kind << " mode " << mode << " order " << order;
    ASSERT_EQ(decpitchx(*text, order, mode, nullptr).values, c.values)
        << kind << " mode " << mode << " order " << order << " text " << a(*text);
}

}  // namespace

TEST(RoundTrip, EveryModeAndOrder) {
    std::mt19937 rng(11);
    int checked_enc_cmp = 0;
    for (int trial = 0; trial < 60; ++trial) {
        std::size_t n = 1 + rng() % 2500;
        const PitchBend curves[] = {smooth_curve(rng, n), jumpy_curve(rng, n, -2048, 2047), jumpy_curve(rng, n, -300, 300)};
        for (const PitchBend& c : curves) {
            for (int order = 0; order <= 4; ++order) {
                // hff carries any 16-bit difference; enc and cmp -2048..2047.
                expect_round_trip(c, kBendModeHff, order, "any");
                if (!differences_within(c, order, -2048, 2047)) continue;
                ++checked_enc_cmp;
                for (int mode : {kBendModeOther, kBendModeEnc, kBendModeCmp}) expect_round_trip(c, mode, order, "within");
            }
        }
    }
    EXPECT_GT(checked_enc_cmp, 300);  // the condition must not skip everything
}

TEST(RoundTrip, HffTakesTheWholeSixteenBitRange) {
    std::mt19937 rng(5);
    for (int order = 0; order <= 3; ++order) {
        expect_round_trip(jumpy_curve(rng, 3000, -32768, 32767), kBendModeHff, order, "full range");
    }
    // Many distinct differences: a big tree and long codes.
    expect_round_trip(jumpy_curve(rng, 32767, -32768, 32767), kBendModeHff, 3, "all distinct");
}

TEST(RoundTrip, DifferencesBeyondTheRangeAreClamped) {
    PitchBend c = curve({0, 3000, 0});
    for (int mode : {kBendModeEnc, kBendModeCmp}) {
        EXPECT_EQ(decpitchx(*encpitchx(c, 0, mode, nullptr), 0, mode, nullptr).values, vals({0, 2047, 0}));
    }
}

TEST(RoundTrip, LongFlatCurvesComeBackWhole) {
    for (std::size_t n : {2114u, 2115u, 4229u, 10000u, 32767u}) {
        for (int value : {0, 1, -50}) {
            PitchBend flat{std::vector<std::int16_t>(n, static_cast<std::int16_t>(value))};
            for (int mode = 0; mode <= 3; ++mode) {
                for (int order = 0; order <= 4; ++order) expect_round_trip(flat, mode, order, "flat");
            }
        }
    }
}

TEST(RoundTrip, TextsStayShortForFlatCurves) {
    PitchBend flat{std::vector<std::int16_t>(32767, 0)};
    for (int mode = 0; mode <= 3; ++mode) {
        EXPECT_LT(encpitchx(flat, 1, mode, nullptr)->size(), 400u) << mode;
    }
}

TEST(RoundTrip, EncodersUseTheFirstValuesOfOverlongCurves) {
    std::mt19937 rng(9);
    PitchBend c = jumpy_curve(rng, 40000, -100, 100);
    PitchBend first{std::vector<std::int16_t>(c.values.begin(), c.values.begin() + 32767)};
    EXPECT_EQ(decpitch64(*encpitch64(c)).values, first.values);
    for (int mode = 0; mode <= 3; ++mode) {
        EXPECT_EQ(decpitchx(*encpitchx(c, 1, mode, nullptr), 1, mode, nullptr).values, first.values) << mode;
    }
}

TEST(ArbitraryTexts, EveryDecoderStaysBounded) {
    // Digits, every escape character and a few strangers, in random order:
    // decoding must end, stay within the value limit and never read outside
    // the text (run under the sanitizers to see the last point).
    const std::u16string alphabet = std::u16string(kBase64Digits) + u"[]{}$#!@'=*-  \u00e9\uffff";
    std::mt19937 rng(13);
    for (int trial = 0; trial < 2000; ++trial) {
        std::u16string text;
        std::size_t n = rng() % 200;
        for (std::size_t i = 0; i < n; ++i) {
            // Bias towards escapes so that nested references and runs occur.
            std::size_t k = rng() % 3 == 0 ? 64 + rng() % (alphabet.size() - 64) : rng() % alphabet.size();
            text += alphabet[k];
        }
        ASSERT_LE(decpitch64(text).values.size(), kMaxBendValues);
        for (int mode = 0; mode <= 3; ++mode) {
            for (int order : {-1, 0, 2, 3, 99}) {
                ASSERT_LE(decpitchx(text, order, mode, nullptr).values.size(), kMaxBendValues) << a(text);
            }
        }
    }
}
