// The standard base64 bend form and the number readers behind it.
#include <gtest/gtest.h>

#include <random>

#include "pitchcodec/base64_bend.h"
#include "pitchcodec/bend_numbers.h"
#include "pitchcodec/codec_test_util.h"

using namespace kelmotra;
using namespace codectest;

TEST(Base64Bend, PairsBothWays) {
    struct Case { int value; const char* pair; };
    for (Case c : {Case{0, "AA"}, {1, "AB"}, {64, "BA"}, {100, "Bk"}, {-1, "//"}, {-100, "+c"},
                   {2047, "f/"}, {-2048, "gA"}}) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(a(pitchpair(c.value)), c.pair);
        EXPECT_EQ(decpitch64(u(c.pair)).values, vals({c.value}));
    }
    // Only the low 12 bits are written.
    EXPECT_EQ(a(pitchpair(4096 + 5)), "AF");
    EXPECT_EQ(a(pitchpair(-2049)), "f/");
}

TEST(Base64Bend, DigitValues) {
    EXPECT_EQ(digitval(u'A'), 0);
    EXPECT_EQ(digitval(u'z'), 51);
    EXPECT_EQ(digitval(u'0'), 52);
    EXPECT_EQ(digitval(u'+'), 62);
    EXPECT_EQ(digitval(u'/'), 63);
    for (char16_t c : std::u16string(u"=#$@![]{}' -\u00C4")) EXPECT_EQ(digitval(c), -1) << int(c);
    for (int v = 0; v < 64; ++v) EXPECT_EQ(digitval(base64digit(v)), v);
}

TEST(Base64Bend, DecodesTexts) {
    struct Case { const char* text; std::vector<std::int16_t> values; };
    const Case cases[] = {
        {"AA#3#Bk", vals({0, 0, 0, 0, 100})},
        {"#4#", vals({0, 0, 0, 0})},                 // a run at the start repeats 0
        {"ABC", vals({1, 128})},                      // missing last digit counts as 0
        {"A=", vals({0})},                            // non-digit counts as 0
        {"A#AB", vals({0, 1})},                       // "#" inside a pair is a digit 0
        {"#0#AB", vals({1})},
        {"AB#-3#AC", vals({1, 2})},                   // negative count repeats nothing
        {"AB#2xAC", vals({1, 1, 1, 2})},              // any closing character is skipped
        {"AB# +2#", vals({1, 1, 1})},                 // blanks and sign as wcstol reads them
        {"AB#ZAC", vals({1, 2})},                     // no digits: "#" and the next character go
        {"AB#", vals({1})},
        {"", vals({})},
        {"#", vals({})},
    };
    for (const Case& c : cases) EXPECT_EQ(decpitch64(u(c.text)).values, c.values) << c.text;
}

TEST(Base64Bend, EncodesCurves) {
    EXPECT_EQ(a(*encpitch64(curve({0, 0, 0, 0, 100}))), "AA#3#Bk");
    EXPECT_EQ(a(*encpitch64(curve({7, 7}))), "AHAH");
    EXPECT_EQ(a(*encpitch64(curve({5, 5, 5}))), "AF#2#");
    EXPECT_EQ(a(*encpitch64(curve({1, 2, 2, 2, 3, 3}))), "ABAC#2#ADAD");
    EXPECT_FALSE(encpitch64(PitchBend{}).has_value());
    // Outside -2048..2047 a value comes back modulo 4096.
    EXPECT_EQ(decpitch64(*encpitch64(curve({3000}))).values, vals({3000 - 4096}));
}

TEST(Base64Bend, RunCountsNeverExceedTheLimit) {
    for (const char* text : {"AB#2000000000#", "AB#99999999999999999999999#", "AB#32766#AC",
                             "AB#30000#AC#30000#AD#30000#"}) {
        PitchBend b = decpitch64(u(text));
        ASSERT_EQ(b.values.size(), kMaxBendValues) << text;
        EXPECT_EQ(b.values.back(), b.values[32766]);
    }
    // Exactly at the limit the last pair still fits; beyond it values are dropped.
    EXPECT_EQ(decpitch64(u("AB#32765#AC")).values.back(), 2);
    EXPECT_EQ(decpitch64(u("AB#32766#AC")).values.back(), 1);
    std::u16string many;
    for (int i = 0; i < 40000; ++i) many += u"AB";
    EXPECT_EQ(decpitch64(many).values.size(), kMaxBendValues);
}

TEST(Base64Bend, RandomCurvesRoundTrip) {
    std::mt19937 rng(1);
    for (int trial = 0; trial < 200; ++trial) {
        PitchBend c;
        std::size_t n = 1 + rng() % 3000;
        while (c.values.size() < n) {
            auto v = static_cast<std::int16_t>(static_cast<int>(rng() % 4096) - 2048);
            std::size_t repeat = rng() % 4 == 0 ? rng() % 50 : 1;  // runs of 1..49 and singles
            for (std::size_t k = 0; k < repeat && c.values.size() < n; ++k) c.values.push_back(v);
        }
        ASSERT_EQ(decpitch64(*encpitch64(c)).values, c.values) << "trial " << trial;
    }
}

TEST(BendNumbers, ReadLongLikeWcstol) {
    struct Case { const char* text; std::size_t pos; std::int64_t value; std::size_t end; };
    const Case cases[] = {
        {"12x", 0, 12, 2},       {"  -7", 0, -7, 4},  {"+3", 0, 3, 2},  {"x", 0, 0, 0},
        {"-", 0, 0, 0},          {"", 0, 0, 0},       {"ab", 5, 0, 5},  {"*hff12", 4, 12, 6},
        {"99999999999999999999", 0, 2147483647, 20}, {"-99999999999999999999", 0, -2147483648LL, 21},
    };
    for (const Case& c : cases) {
        TextNumber n = readlong(u(c.text), c.pos);
        EXPECT_EQ(n.value, c.value) << c.text;
        EXPECT_EQ(n.end, c.end) << c.text;
    }
}

TEST(BendNumbers, ReadDoubleAndSaturate) {
    struct Case { const char* text; double value; std::size_t end; };
    const Case cases[] = {
        {"120*hff2", 120, 3}, {" -2.5e1x", -25, 7}, {"1e", 1, 1},   {".5", 0.5, 2},
        {"abc", 0, 0},        {"--1", 0, 0},        {"+-1", 0, 0},  {"1,5", 1, 1},
        {"1e-400", 0, 6},     {"0.0000000000000000000000000000001e-300", 0, 38},
    };
    for (const Case& c : cases) {
        TextDouble d = readdouble(u(c.text), 0);
        EXPECT_EQ(d.value, c.value) << c.text;
        EXPECT_EQ(d.end, c.end) << c.text;
    }
    EXPECT_TRUE(std::isinf(readdouble(u("1e999"), 0).value));
    EXPECT_TRUE(std::isinf(readdouble(u("1000000000000000000000000000000e300"), 0).value));
    EXPECT_EQ(saturate16(readdouble(u("-1e999"), 0).value), -32768);
    EXPECT_EQ(saturate16(readdouble(u("inf"), 0).value), 32767);
    EXPECT_EQ(saturate16(readdouble(u("nan"), 0).value), 0);
    EXPECT_EQ(saturate16(119.9), 119);
    EXPECT_EQ(saturate16(-5.7), -5);
    EXPECT_EQ(saturate16(70000), 32767);
}
