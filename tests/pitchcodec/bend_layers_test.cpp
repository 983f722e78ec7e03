// Differencing, the filler-run and back-reference layers, form selection,
// readbend and the list functions.
#include <gtest/gtest.h>

#include <random>

#include "pitchcodec/bend_layers.h"
#include "pitchcodec/codec_test_util.h"

using namespace kelmotra;
using namespace codectest;

namespace {

std::vector<std::int32_t> diffs_of(const std::vector<std::int16_t>& v, int order) {
    std::vector<std::int32_t> d;
    for (std::size_t j = 0; j < v.size(); ++j) d.push_back(benddiff(v, j, order));
    return d;
}

std::vector<std::int16_t> rebuilt(const std::vector<std::int32_t>& d, int order) {
    std::vector<std::int16_t> v;
    for (std::int32_t x : d) bendrebuild(v, x, order);
    return v;
}

}  // namespace

TEST(BendOrder, DifferencesByOrder) {
    using D = std::vector<std::int32_t>;
    EXPECT_EQ(diffs_of(vals({10, 12, 15}), 1), (D{10, 2, 3}));
    EXPECT_EQ(diffs_of(vals({10, 12, 15}), 2), (D{10, 2, 1}));
    EXPECT_EQ(diffs_of(vals({1, 4, 9, 16, 25}), 3), (D{1, 3, 2, 0, 0}));
    // Orders above 3 act as 3, negative ones as 0.
    EXPECT_EQ(diffs_of(vals({1, 4, 9, 16, 25}), 9), diffs_of(vals({1, 4, 9, 16, 25}), 3));
    EXPECT_EQ(diffs_of(vals({1, 4, 9}), -2), (D{1, 4, 9}));
}

TEST(BendOrder, RebuildInvertsEvenBeyondSixteenBits) {
    auto wild = vals({32767, -32768, 32767, -32768, 0, 12345});
    for (int order = -1; order <= 5; ++order) {
        auto d = diffs_of(wild, order);
        EXPECT_EQ(rebuilt(d, order), wild) << order;
        // The coders carry differences as 16-bit values; modulo 2^16 is enough.
        std::vector<std::int32_t> d16;
        for (std::int32_t x : d) d16.push_back(static_cast<std::int16_t>(x));
        EXPECT_EQ(rebuilt(d16, order), wild) << order;
    }
}

TEST(RefLayer, WritesReferences) {
    struct Case { std::string text; const char* coded; };
    const Case cases[] = {
        {"ABCABCABCABC", "ABC[CF"},
        {std::string(200, 'X'), "X{A/{AA"},
        {"ABCDABCDxABCD", "ABCD[DAx[EA"},  // equal lengths: the nearer copy wins
        {"ABCABC", "ABCABC"},              // matches shorter than 4 stay literal
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(a(encref(u(c.text))), c.coded) << c.text;
        EXPECT_EQ(a(decref(u(c.coded))), c.text) << c.coded;
    }
    // Distances beyond 64 use "]"; the longest match wins over the nearest.
    std::string far = a(kBase64Digits) + "!" + a(kBase64Digits).substr(0, 10);
    EXPECT_EQ(a(encref(u(far))), a(kBase64Digits) + "!]AG");
    EXPECT_EQ(a(decref(u(a(kBase64Digits) + "!]AG"))), far);
}

TEST(RefLayer, MalformedReferencesEndReading) {
    struct Case { const char* text; std::string decoded; };
    const Case cases[] = {
        {"AB[", "AB"},   {"AB[A", "AB"},      {"AB[=AC", "AB"}, {"AB[AAC", "ABBBBBC"},
        {"A[BA", "A"},   {"[AAB", ""},        {"AB]AA", "AB"},  {"ABC}AAD", "ABC"},
        {"AB{AA", std::string("A") + std::string(69, 'B')},  // overlapping copy
    };
    for (const Case& c : cases) EXPECT_EQ(a(decref(u(c.text))), c.decoded) << c.text;
}

TEST(RefLayer, OutputIsBounded) {
    std::u16string bomb = u"A";
    for (int i = 0; i < 9000; ++i) bomb += u"{A/";
    std::u16string out = decref(bomb);
    EXPECT_EQ(out.size(), kMaxLayerText);
    EXPECT_EQ(out.find_first_not_of(u'A'), std::u16string::npos);
}

TEST(RefLayer, RandomTextsRoundTrip) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 300; ++trial) {
        // Small alphabets and copied stretches make many matches, far and near.
        std::string text;
        std::size_t n = rng() % 3000;
        int alphabet = 2 + static_cast<int>(rng() % 6);
        while (text.size() < n) {
            if (text.size() > 10 && rng() % 3 == 0) {
                std::size_t from = text.size() - 1 - rng() % std::min<std::size_t>(text.size(), 200);
                std::size_t len = rng() % 300;
                for (std::size_t k = 0; k < len; ++k) text += text[from + k];
            } else {
                text += static_cast<char>('A' + rng() % alphabet);
            }
        }
        ASSERT_EQ(a(decref(encref(u(text)))), text) << "trial " << trial;
    }
}

TEST(RunLayer, WritesRuns) {
    struct Case { std::size_t run; const char* token; };
    const Case cases[] = {
        {0, ""},       {1, "A"},       {2, "AA"},      {3, "$A"},          {66, "$/"},
        {67, "#AA"},   {131, "#AB"},   {2114, "#/f"},  {2115, "#/fA"},     {2117, "#/f$A"},
        {2 * 2114 + 67, "#/f#/f#AA"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(a(runtoken(c.run)), c.token) << c.run;
        std::string text = "B" + std::string(c.run, 'A') + "B";
        EXPECT_EQ(a(encrun(u(text))), "B" + std::string(c.token) + "B") << c.run;
        EXPECT_EQ(a(decrun(encrun(u(text)))), text) << c.run;
    }
    EXPECT_EQ(a(encrun(u("BAAAAB"))), "B$BB");
    EXPECT_EQ(a(decrun(u("B$BB"))), "BAAAAB");
    EXPECT_EQ(a(decrun(u("#AB"))), std::string(131, 'A'));
    EXPECT_EQ(decrun(u("#//")).size(), 4162u);  // the reader takes the full field range
}

TEST(RunLayer, MalformedRunsEndReading) {
    struct Case { const char* text; const char* decoded; };
    const Case cases[] = {{"B$=AA", "B"}, {"B$", "B"}, {"X#A", "X"}, {"X#A=Y", "X"}, {"[x]", "[x]"}};
    for (const Case& c : cases) EXPECT_EQ(a(decrun(u(c.text))), c.decoded) << c.text;
}

TEST(RunLayer, OutputIsBounded) {
    std::u16string bomb;
    for (int i = 0; i < 300; ++i) bomb += u"#//";
    EXPECT_EQ(decrun(bomb).size(), kMaxLayerText);
    // The two layers together: a short text cannot build more than the bound.
    EXPECT_EQ(decrun(decref(u"#//{C/{C/{C/{C/{C/{C/{C/{C/{C/{C/")).size(), kMaxLayerText);
}

TEST(BendForm, SelectedFromTheTempoText) {
    struct Case { const char* tempo; bool extended; int mode; int order; };
    const Case cases[] = {
        {"!120*hff2", true, 3, 2},       {"!120*cmp", true, 2, 0},     {"!120*ENC1", true, 0, 1},
        {"!120", false, 0, 0},           {"!120*enc", true, 1, 0},     {"!120*hf", true, 0, 0},
        {"!120*", true, 0, 0},           {"*hff 7", true, 3, 7},       {"*cmp-1", true, 2, -1},
        {"*xyz12", true, 0, 12},         {"!1*hff2*cmp1", true, 3, 2}, {"*enc99999999999", true, 1, 2147483647},
    };
    for (const Case& c : cases) {
        BendForm f = selectbend(u(c.tempo));
        EXPECT_EQ(f.extended, c.extended) << c.tempo;
        EXPECT_EQ(f.mode, c.mode) << c.tempo;
        EXPECT_EQ(f.order, c.order) << c.tempo;
    }
}

TEST(ReadBend, DecodesWithTheSelectedForm) {
    std::int16_t tempo = -1;
    auto b = readbend(u"!120", u"AA#3#Bk", nullptr, &tempo);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->values, vals({0, 0, 0, 0, 100}));
    EXPECT_EQ(tempo, 120);
    b = readbend(u"!96*enc", u"$AFF@kA", nullptr);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->values, vals({0, 0, 0, 5, 5, 100}));
    b = readbend(u"!120*hff1", u"nCbQaHIF", nullptr);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->values, vals({100, 100, 100, 90}));
    b = readbend(u"!120*cmp1", u"BJJJ", nullptr);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->values, vals({0, 1, 2, 3, 4, 5, 6, 7}));
    // No value at all is no bend, in every form.
    EXPECT_FALSE(readbend(u"!120", u"", nullptr));
    EXPECT_FALSE(readbend(u"!120*enc", u"", nullptr));
    EXPECT_FALSE(readbend(u"!120*hff0", u"D", nullptr));
    EXPECT_FALSE(readbend(u"!120*cmp", u"=", nullptr));
}

TEST(ReadBend, TempoFromTheSecondCharacter) {
    struct Case { const char* text; std::int16_t tempo; };
    const Case cases[] = {
        {"!120*hff2", 120}, {"!120.9", 120},  {"!-5", -5},        {"!1e9", 32767}, {"!1e999", 32767},
        {"!-1e999", -32768}, {"!nan", 0},     {"!", 0},           {"", 0},         {"!abc", 0},
        {"120", 20},        {"!65535.5", 32767},
    };
    for (const Case& c : cases) {
        std::int16_t tempo = -99;
        readbend(u(c.text), u"AA", nullptr, &tempo);
        EXPECT_EQ(tempo, c.tempo) << c.text;
    }
}

TEST(PitchList, EncodesAndDecodesLists) {
    std::vector<char16_t> buf(20, u'x');
    EXPECT_EQ(encpitchlist(u"0 0 0 5 5 100", buf, 0, kBendModeEnc, nullptr), 7u);
    EXPECT_EQ(a(buf.data()), "$AFF@kA");
    // Halves round upwards; numbers end at the first non-number.
    EXPECT_EQ(parsepitchlist(u" 0.5 -0.5 1.49 -1.5 2e1 x 7").values, vals({1, 0, 1, -1, 20}));
    EXPECT_EQ(parsepitchlist(u"1e9 -1e9").values, vals({32767, -32768}));
    // A short buffer gets the start of the text and no terminator; the
    // length is still the full one.
    std::vector<char16_t> small(3, u'x');
    EXPECT_EQ(encpitchlist(u"0 0 0 5 5 100", small, 0, kBendModeEnc, nullptr), 7u);
    EXPECT_EQ(std::u16string(small.begin(), small.end()), u"$AF");
    EXPECT_EQ(encpitchlist(u"0 0 0 5 5 100", {}, 0, kBendModeEnc, nullptr), 7u);
    EXPECT_EQ(encpitchlist(u"", buf, 0, kBendModeEnc, nullptr), 0u);
    EXPECT_EQ(buf[0], u'\0');

    std::vector<char16_t> out(40, u'x');
    EXPECT_EQ(decpitchlist(u"$AFF@kA", out, 0, kBendModeOther, nullptr), 13u);
    EXPECT_EQ(a(out.data()), "0 0 0 5 5 100");
    EXPECT_EQ(decpitchlist(u"nCbQaHIF", out, 1, kBendModeHff, nullptr), 14u);
    EXPECT_EQ(a(out.data()), "100 100 100 90");
}
