// The "enc" and "cmp" coders.
#include <gtest/gtest.h>

#include <algorithm>

#include "pitchcodec/bend_layers.h"
#include "pitchcodec/cmp_coder.h"
#include "pitchcodec/codec_test_util.h"
#include "pitchcodec/enc_coder.h"

using namespace kelmotra;
using namespace codectest;

TEST(EncCoder, TokensBothWays) {
    struct Case { int d; const char* token; };
    const Case cases[] = {
        {0, "A"},     {5, "F"},     {-10, "2"},    {31, "f"},      {-32, "g"},     {32, "!A"},
        {63, "!f"},   {-33, "!/"},  {-64, "!g"},   {64, "@AA"},    {-65, "@//"},   {100, "@kA"},
        {-100, "@c/"}, {2047, "@/e"}, {-2048, "@Ah"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(a(pitchtoken(c.d)), c.token) << c.d;
        EXPECT_EQ(decpitch(u(c.token), 0).values, vals({c.d})) << c.token;
    }
    EXPECT_EQ(a(pitchtoken(5000)), "@/e");  // clamped
    EXPECT_EQ(a(pitchtoken(-5000)), "@Ah");
    // The reader also takes the "@" codes the writer never uses (2111, -2112).
    EXPECT_EQ(decpitch(u("@/f"), 0).values, vals({2111}));
    EXPECT_EQ(decpitch(u("@Ag"), 0).values, vals({-2112}));
}

TEST(EncCoder, EncodesExamples) {
    struct Case { std::vector<std::int16_t> values; int order; const char* coded; const char* full; };
    const Case cases[] = {
        {vals({0, 0, 0, 5, 5, 100}), 0, "$AFF@kA", "$AFF@kA"},
        {vals({100, 100, 100, 90}), 1, "@kAAA2", "@k$A2"},
        {vals({2047, -2048, 40, -40}), 0, "@/e@Ah!I!4", "@/e@Ah!I!4"},
    };
    for (const Case& c : cases) {
        PitchBend b{c.values};
        EXPECT_EQ(a(*encpitch(b, c.order, nullptr)), c.coded);
        EXPECT_EQ(a(*encpitchx(b, c.order, kBendModeEnc, nullptr)), c.full);
        EXPECT_EQ(decpitchx(u(c.full), c.order, kBendModeEnc, nullptr).values, c.values) << c.full;
    }
}

TEST(EncCoder, RefusesOrderFiveAndEmptyCurves) {
    PitchBend b = curve({1, 4, 9, 16, 20});
    std::string message = captured([&](std::FILE* f) { EXPECT_FALSE(encpitch(b, 5, f)); });
    EXPECT_EQ(message, "encpitch: Argument 2 ist anomal.\n");
    EXPECT_FALSE(encpitchx(b, 7, kBendModeOther, nullptr));
    EXPECT_EQ(*encpitch(b, 4, nullptr), *encpitch(b, 3, nullptr));
    EXPECT_EQ(captured([](std::FILE* f) { EXPECT_FALSE(encpitch(PitchBend{}, 0, f)); }), "");
}

TEST(EncCoder, DecoderStopsAtMalformedTokens) {
    struct Case { const char* text; std::vector<std::int16_t> diffs; };
    const Case cases[] = {
        {"@=B", vals({1})},   {"B!", vals({1})},   {"B@", vals({1})},  {"B@B", vals({1})},
        {"B$", vals({1})},    {"B#A", vals({1})},  {"B$=C", vals({1})}, {"B=C", vals({1, 2})},
        {"B[C", vals({1, 2})}, {"", vals({})},
    };
    for (const Case& c : cases) EXPECT_EQ(decpitch(u(c.text), 0).values, c.diffs) << c.text;
    EXPECT_EQ(decpitch(u("#//"), 0).values.size(), 4162u);
    EXPECT_EQ(decpitch(u("#//#//#//#//#//#//#//#//#//"), 0).values.size(), kMaxBendValues);
}

TEST(EncCoder, LongZeroRunsComeBackWhole) {
    for (std::size_t n : {2114u, 2115u, 2116u, 2117u, 4228u, 4295u, 5000u, 32767u}) {
        PitchBend flat{std::vector<std::int16_t>(n, 0)};
        std::u16string text = *encpitch(flat, 0, nullptr);
        EXPECT_EQ(decpitch(text, 0).values.size(), n) << a(text);
        PitchBend ramp = flat;
        ramp.values.insert(ramp.values.begin(), 7);  // a step then a long plateau (order 1)
        ramp.values.resize(std::min(ramp.values.size(), kMaxBendValues));
        EXPECT_EQ(decpitchx(*encpitchx(ramp, 1, kBendModeEnc, nullptr), 1, kBendModeEnc, nullptr).values,
                  ramp.values) << n;
    }
    EXPECT_EQ(a(*encpitch(PitchBend{std::vector<std::int16_t>(5000, 0)}, 0, nullptr)), "#/f#/f#BL");
}

TEST(CmpCoder, TokensBothWays) {
    struct Case { int d; const char* token; };
    const Case cases[] = {
        {3, "'D"}, {10, "'K"}, {-4, "'8"}, {31, "'f"}, {-32, "'g"}, {40, "!I"}, {-40, "!4"},
        {100, "@kA"}, {-2048, "@Ah"}, {2047, "@/e"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(a(cmptoken(c.d)), c.token) << c.d;
        EXPECT_EQ(deccmp(u(c.token), 0).values, vals({c.d})) << c.token;
    }
    // Taken as a 16-bit value first, then clamped.
    EXPECT_EQ(a(cmptoken(65536 + 3)), "'D");
    EXPECT_EQ(a(cmptoken(70000)), "@/e");
}

TEST(CmpCoder, EncodesExamples) {
    struct Case { std::vector<std::int16_t> values; int order; const char* full; };
    const Case cases[] = {
        {vals({0, 1, 2, 3, 4, 5, 6, 7}), 1, "BJJJ"},
        {vals({3, 10, -4}), 0, "'D'K'8"},
        {std::vector<std::int16_t>(20, 0), 0, "$H"},
        {std::vector<std::int16_t>(21, 0), 0, "$H'A"},
        {vals({5, 6, 7, 100, 101}), 1, "'FJ@dA'B"},
        {vals({-1, -4}), 0, "8"},
    };
    for (const Case& c : cases) {
        PitchBend b{c.values};
        EXPECT_EQ(a(*encpitchx(b, c.order, kBendModeCmp, nullptr)), c.full);
        EXPECT_EQ(decpitchx(u(c.full), c.order, kBendModeCmp, nullptr).values, c.values) << c.full;
    }
    EXPECT_EQ(a(*enccmp(curve({0, 1, 2, 3, 4, 5, 6, 7}), 1)), "BJJJ");
    EXPECT_FALSE(enccmp(PitchBend{}, 0));
}

TEST(CmpCoder, DecoderStopsAtTheFirstUnreadableCharacter) {
    struct Case { const char* text; std::vector<std::int16_t> diffs; };
    const Case cases[] = {
        {"B'", vals({0, 1})},  {"B!", vals({0, 1})},  {"B@A", vals({0, 1})}, {"B'=", vals({0, 1})},
        {"B$BB", vals({0, 1})}, {"B#AB", vals({0, 1})}, {"B[AAB", vals({0, 1})}, {"B=B", vals({0, 1})},
        {"'DB", vals({3, 0, 1})},
    };
    for (const Case& c : cases) EXPECT_EQ(deccmp(u(c.text), 0).values, c.diffs) << c.text;
    // A digit carries two differences; the cap can split it.
    EXPECT_EQ(deccmp(std::u16string(16384, u'A'), 0).values.size(), kMaxBendValues);
}
