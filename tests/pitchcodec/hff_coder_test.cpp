// The "hff" Huffman coder: its bit helpers, its texts, and how it reads
// broken texts.
#include <gtest/gtest.h>

#include <random>

#include "pitchcodec/base64_bend.h"
#include "pitchcodec/bend_layers.h"
#include "pitchcodec/codec_test_util.h"
#include "pitchcodec/hff_coder.h"
#include "pitchcodec/selection_sort.h"

using namespace kelmotra;
using namespace codectest;

namespace {

// Packs a hand-made bit sequence the way the coder's texts end: six bits a
// digit, then the trailer that says how many bits to drop.
std::u16string packed(const std::string& bits) {
    std::string b = bits;
    std::size_t filler = (6 - b.size() % 6) % 6;
    b.append(filler, '0');
    std::u16string text;
    for (std::size_t i = 0; i < b.size(); i += 6) text += base64digit(static_cast<int>(valueof(b.substr(i), 6)));
    if (filler >= 3) text.back() = base64digit(digitval(text.back()) + static_cast<int>(filler) - 3);
    else text += base64digit(static_cast<int>(filler) + 3);
    return text;
}

// A table entry in bits: value (zigzag, order 3) and length step (order 0).
std::string entry(int value, int length_step) {
    std::uint64_t z = value >= 0 ? 2u * static_cast<unsigned>(value) : 2u * static_cast<unsigned>(-value) - 1;
    return writegolomb(z, 3) + writegolomb(static_cast<std::uint64_t>(length_step), 0);
}

struct Decoded {
    std::vector<std::int16_t> values;
    std::string message;
};

Decoded decode(const std::u16string& text, int order = 0) {
    Decoded d;
    d.message = captured([&](std::FILE* f) { d.values = dechff(text, order, f).values; });
    return d;
}

}  // namespace

TEST(HffBits, GolombCodes) {
    struct Case { std::uint64_t value; int k; const char* bits; };
    const Case cases[] = {
        {0, 0, "1"}, {1, 0, "010"}, {2, 0, "011"}, {3, 0, "00100"}, {0, 3, "1000"}, {19, 3, "011011"},
        {3, 4, "10011"}, {200, 3, "000011010000"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(writegolomb(c.value, c.k), c.bits) << c.value;
        GolombRead r = readgolomb(std::string(c.bits) + "1", 0, c.k);
        EXPECT_EQ(r.value, c.value) << c.bits;
        EXPECT_EQ(r.next, std::string(c.bits).size()) << c.bits;
    }
}

TEST(HffBits, GolombReadsAtTheEnd) {
    // A zero prefix that runs to the end reads as 0 and ends at the end.
    EXPECT_EQ(readgolomb("000", 0, 0).value, 0u);
    EXPECT_EQ(readgolomb("000", 0, 0).next, 3u);
    EXPECT_EQ(readgolomb("", 0, 4).next, 0u);
    EXPECT_EQ(readgolomb("1", 5, 0).next, 1u);
    // Missing bits of the body count as 0.
    GolombRead r = readgolomb("0001", 0, 0);
    EXPECT_EQ(r.value, 7u);
    EXPECT_EQ(r.next, 4u);
    // Too long for 64 bits: saturated, never wrapped.
    EXPECT_EQ(readgolomb(std::string(70, '0') + "1" + std::string(70, '0'), 0, 0).value, UINT64_MAX);
    EXPECT_EQ(readgolomb(std::string(63, '0') + "1" + std::string(63, '1'), 0, 0).value, UINT64_MAX - 1);
}

TEST(HffBits, BitsOfAndValueOf) {
    EXPECT_EQ(bitsof(5, 4), "0101");
    EXPECT_EQ(bitsof(5, 0), "");
    EXPECT_EQ(bitsof(6, 2), "10");  // only the low n bits
    EXPECT_EQ(bitsof(1, 70), std::string(69, '0') + "1");
    EXPECT_EQ(valueof("101", 5), 20u);  // missing bits count as 0
    EXPECT_EQ(valueof("0101", 4), 5u);
}

TEST(HffCoder, EncodesExamples) {
    EXPECT_EQ(a(*enchff(curve({0, 0, 0, 1}), 0, nullptr)), "lCqI");
    EXPECT_EQ(a(*encpitchx(curve({0, 0, 0, 1}), 0, kBendModeHff, nullptr)), "lCqI");
    EXPECT_EQ(a(*enchff(curve({100, 100, 100, 90}), 1, nullptr)), "nCbQaHIF");
    EXPECT_EQ(decode(u("lCqI")).values, vals({0, 0, 0, 1}));
    EXPECT_EQ(decode(u("nCbQaHIF"), 1).values, vals({100, 100, 100, 90}));
    EXPECT_FALSE(enchff(PitchBend{}, 0, nullptr));
}

TEST(HffCoder, SingleDifferenceCurvesCarryTheirCount) {
    // One distinct difference: a one-bit code, one data bit per value. The
    // table takes 12 bits, so 4, 5 and 6 values leave 2, 1 and 0 filler bits
    // and end in the extra digit F, E and D; 3 values fill the last digit.
    struct Case { std::size_t n; char last; };
    for (Case c : {Case{3, 'A'}, {4, 'F'}, {5, 'E'}, {6, 'D'}}) {
        PitchBend zeros{std::vector<std::int16_t>(c.n, 0)};
        std::u16string text = *enchff(zeros, 0, nullptr);
        EXPECT_EQ(static_cast<char>(text.back()), c.last) << c.n;
        EXPECT_EQ(decode(text).values, zeros.values) << c.n;
    }
    for (const PitchBend& b : {curve({-7}), curve({3, 6, 9, 12, 15}), PitchBend{std::vector<std::int16_t>(32767, 5)}}) {
        for (int order : {0, 1}) {
            EXPECT_EQ(decpitchx(*encpitchx(b, order, kBendModeHff, nullptr), order, kBendModeHff, nullptr).values,
                      b.values);
        }
    }
}

TEST(HffCoder, ShortOrInconsistentTextsGiveNoValues) {
    const std::string header1 = writegolomb(1, 4);
    struct Case { const char* what; std::u16string text; };
    const Case cases[] = {
        {"empty text", u""},
        {"drop larger than the bits", u"H"},                 // p = 7: drop 10 of 6 bits
        {"non-digit counts as ones", u"="},
        {"nothing but the trailer", u"D"},
        {"header count beyond the bits", packed(std::string(6, '0') + "1" + std::string(11, '1'))},
        {"header too long for 64 bits", packed(std::string(70, '0') + "1" + std::string(74, '1'))},
        {"prefix runs to the end", packed("000000")},
        {"table uses up the bits", packed(header1 + entry(5, 1))},
        {"table cut short", packed(writegolomb(3, 4) + entry(5, 1))},
    };
    for (const Case& c : cases) {
        Decoded d = decode(c.text);
        EXPECT_TRUE(d.values.empty()) << c.what;
        EXPECT_EQ(d.message, "") << c.what;
    }
}

TEST(HffCoder, DataThatMatchesNoCodeEndsDecoding) {
    const std::string kaputt = "[Huffman-Code ist kaputt!]";
    // Two entries of length 2 (codes 00 and 01), data 00 01 then a lone 1.
    std::string two = writegolomb(2, 4) + entry(4, 2) + entry(-3, 0);
    Decoded d = decode(packed(two + "00" + "01" + "1"));
    EXPECT_EQ(d.values, vals({4, -3}));
    EXPECT_EQ(d.message, kaputt);
    // Data 1x matches neither code.
    d = decode(packed(two + "00" + "10"));
    EXPECT_EQ(d.values, vals({4}));
    EXPECT_EQ(d.message, kaputt);
    // A lone entry of length 0 never matches, so it cannot loop forever.
    d = decode(packed(writegolomb(1, 4) + entry(9, 0) + "0101"));
    EXPECT_TRUE(d.values.empty());
    EXPECT_EQ(d.message, kaputt);
    // A code far too long to ever match.
    d = decode(packed(writegolomb(1, 4) + entry(9, 1000) + "0101"));
    EXPECT_TRUE(d.values.empty());
    EXPECT_EQ(d.message, kaputt);
    // No table at all but data bits.
    d = decode(packed(writegolomb(0, 4) + "1"));
    EXPECT_TRUE(d.values.empty());
    EXPECT_EQ(d.message, kaputt);
    // Without a stream the message is simply not printed.
    EXPECT_EQ(dechff(packed(two + "00" + "1"), 0, nullptr).values, vals({4}));
}

TEST(HffCoder, TablesAreReadAsAssigned) {
    // A length-0 entry is skipped but still takes a code number: the next
    // entry (length 1) gets code number 1 shifted left, i.e. "0".
    EXPECT_EQ(decode(packed(writegolomb(2, 4) + entry(5, 0) + entry(7, 1) + "00")).values, vals({7, 7}));
    // Three codes of length 1 are 0, 1 and 0 again: the first entry wins.
    std::string three = writegolomb(3, 4) + entry(1, 1) + entry(2, 0) + entry(3, 0);
    EXPECT_EQ(decode(packed(three + "0" + "1" + "0")).values, vals({1, 2, 1}));
    // Lengths 1, 3, 3: codes 0, 100, 101; 11x matches nothing.
    std::string mixed = writegolomb(3, 4) + entry(-1, 1) + entry(20, 2) + entry(30, 0);
    Decoded d = decode(packed(mixed + "0" + "101" + "100" + "0" + "110"));
    EXPECT_EQ(d.values, vals({-1, 30, 20, -1}));
    EXPECT_EQ(d.message, "[Huffman-Code ist kaputt!]");
}

TEST(HffCoder, DecodingStopsAtTheValueLimit) {
    std::string bits = writegolomb(1, 4) + entry(2, 1) + std::string(40000, '0');
    Decoded d = decode(packed(bits));
    EXPECT_EQ(d.values.size(), kMaxBendValues);
    EXPECT_EQ(d.message, "");
}

TEST(HffCoder, SelectionSortMatchesThePlainOne) {
    // The table order depends on how selection sort leaves equal keys, so the
    // fast sort must agree with the plain one exactly.
    std::mt19937 rng(3);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<std::pair<int, int>> items(rng() % 200);  // key, identity
        for (std::size_t i = 0; i < items.size(); ++i) items[i] = {static_cast<int>(rng() % 6), static_cast<int>(i)};
        auto plain = items;
        for (std::size_t i = 0; i + 1 < plain.size(); ++i) {
            std::size_t best = i;
            for (std::size_t j = i + 1; j < plain.size(); ++j) {
                if (plain[j].first > plain[best].first) best = j;
            }
            if (best != i) std::swap(plain[i], plain[best]);
        }
        selectionsort(items, [](const auto& x, const auto& y) { return x.first > y.first; });
        ASSERT_EQ(items, plain) << "trial " << trial;
    }
}
