// The frequency list lookup: interpolation between entries, the fallback for
// entries without usable pitch, and positions outside the list.
#include "freqmap/freqlist.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace kelmotra {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A list of the given entries with the repeated last entry appended.
FreqList make_list(std::vector<double> freqs, std::int32_t step, double avg) {
    FreqList list;
    list.step = step;
    list.sample_rate = 44100;
    list.count = static_cast<std::int32_t>(freqs.size());
    list.freq_avg = avg;
    freqs.push_back(freqs.back());
    list.freqs = freqs;
    list.amps.assign(freqs.size(), 1000.0);
    return list;
}

// The lookup as the resynthesis loop calls it.
double at(const FreqList& list, double position) { return freqlist_at(list, position, 16.0, 55.0, -1.0); }

struct PositionCase {
    double position;
    double expected;
};

TEST(FreqListAt, InterpolatesAndHoldsTheEnds) {
    const FreqList list = make_list({100.0, 200.0, 300.0, 400.0}, 256, 150.0);
    const PositionCase cases[] = {
        {0.0, 100.0},      {128.0, 150.0},     {256.0, 200.0},    {64.0, 125.0},
        {640.0, 350.0},    {768.0, 400.0},     // the last entry, (count - 1) * step
        {900.0, 400.0},    {1e6, 400.0},       {1e300, 400.0},    {kInf, 400.0},
        {-0.5, 100.0},     {-256.0, 100.0},    {-1e300, 100.0},   {-kInf, 100.0},
        {kNaN, 100.0},     {-0.0, 100.0},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(at(list, c.position), c.expected) << "position " << c.position;
}

TEST(FreqListAt, PositionsBeyondTheIntegerRangeReadTheLastEntry) {
    // Positions whose entry index would not fit an int: no overflow, the last
    // entry (with step 1 the index is the position itself).
    const FreqList list = make_list({120.0, 180.0}, 1, 150.0);
    const double positions[] = {1073741823.5, 1073741824.0, 2147483647.5, 2147483648.0,
                                4294967296.0 + 0.5, 9.2e18, 1e19};
    for (double p : positions) EXPECT_DOUBLE_EQ(at(list, p), 180.0) << "position " << p;
}

TEST(FreqListAt, EntriesWithoutPitchTakeTheFallback) {
    struct Case {
        std::vector<double> freqs;
        double position;
        double fallback;
        double expected;
    };
    const Case cases[] = {
        // An unvoiced entry (0) next to a voiced one: the average fills in.
        {{0.0, 200.0, 200.0}, 128.0, -1.0, 175.0},
        // Exactly 55 on both sides: the average whatever the fraction.
        {{55.0, 55.0}, 0.0, -1.0, 150.0},
        {{55.0, 55.0}, 77.0, -1.0, 150.0},
        {{55.0, 55.0}, 255.0, -1.0, 150.0},
        {{55.0, 55.0}, 9999.0, -1.0, 150.0},
        // The floor is inclusive, the excluded value exact.
        {{16.0, 16.0}, 0.0, -1.0, 150.0},
        {{16.5, 16.5}, 0.0, -1.0, 16.5},
        {{55.000001, 55.000001}, 0.0, -1.0, 55.000001},
        {{-20.0, -20.0}, 0.0, -1.0, 150.0},
        // The test applies to the first entry before a negative position.
        {{0.0, 200.0}, -300.0, -1.0, 150.0},
        // The last entry is tested as well past the end.
        {{200.0, 10.0}, 5000.0, -1.0, 150.0},
        // An explicit fallback is used instead of the average; 0 is not
        // negative, so it stands for itself.
        {{0.0, 200.0}, 128.0, 100.0, 150.0},
        {{0.0, 200.0}, 0.0, 0.0, 0.0},
        // Each neighbour is replaced on its own.
        {{300.0, 55.0}, 64.0, -1.0, 0.75 * 300.0 + 0.25 * 150.0},
    };
    for (const auto& c : cases) {
        const FreqList list = make_list(c.freqs, 256, 150.0);
        EXPECT_DOUBLE_EQ(freqlist_at(list, c.position, 16.0, 55.0, c.fallback), c.expected)
            << "first entry " << c.freqs[0] << ", position " << c.position;
    }
}

TEST(FreqListAt, OtherFloorsAndExcludedValues) {
    const FreqList list = make_list({80.0, 100.0}, 100, 90.0);
    EXPECT_DOUBLE_EQ(freqlist_at(list, 0.0, 80.0, 55.0, -1.0), 90.0);   // 80 <= floor 80
    EXPECT_DOUBLE_EQ(freqlist_at(list, 0.0, 79.0, 80.0, -1.0), 90.0);   // 80 excluded
    EXPECT_DOUBLE_EQ(freqlist_at(list, 0.0, 79.0, 55.0, -1.0), 80.0);
    EXPECT_DOUBLE_EQ(freqlist_at(list, 50.0, 0.0, 0.0, -1.0), 90.0);
}

TEST(FreqListAt, SingleEntryList) {
    const FreqList list = make_list({123.0}, 256, 150.0);
    for (double p : {-1.0, 0.0, 100.0, 256.0, 1e9, kNaN}) EXPECT_DOUBLE_EQ(at(list, p), 123.0) << p;
}

TEST(FreqListAt, BareArrayUsesTheFallbackUnchanged) {
    const std::vector<double> freqs = {0.0, 200.0, 200.0};
    // A negative fallback has no list average to stand for.
    EXPECT_DOUBLE_EQ(freqlist_at(freqs.data(), 2, 256, 0.0, 16.0, 55.0, -1.0), -1.0);
    EXPECT_DOUBLE_EQ(freqlist_at(freqs.data(), 2, 256, 128.0, 16.0, 55.0, -100.0), 50.0);
    EXPECT_DOUBLE_EQ(freqlist_at(freqs.data(), 2, 256, 128.0, 16.0, 55.0, 100.0), 150.0);
    EXPECT_DOUBLE_EQ(freqlist_at(freqs.data(), 2, 256, 512.0, 16.0, 55.0, 100.0), 200.0);
    EXPECT_DOUBLE_EQ(freqlist_at(freqs.data(), 2, 256, kNaN, 16.0, 55.0, 100.0), 100.0);
    EXPECT_DOUBLE_EQ(freqlist_at(freqs.data(), 2, 256, kInf, 16.0, 55.0, 100.0), 200.0);
}

TEST(FreqListAt, MatchesTheListForm) {
    const FreqList list = make_list({110.0, 0.0, 55.0, 330.0, 220.0}, 200, 175.0);
    for (double p = -100.0; p < 1200.0; p += 37.5)
        EXPECT_DOUBLE_EQ(at(list, p), freqlist_at(list.freqs.data(), list.count, list.step, p, 16.0, 55.0, 175.0))
            << p;
}

TEST(FreqListValid, NeedsStepCountAndBothArrays) {
    const FreqList good = make_list({100.0, 200.0}, 256, 150.0);
    EXPECT_TRUE(freqlist_valid(good));

    FreqList l = good;
    l.step = 0;
    EXPECT_FALSE(freqlist_valid(l));
    l = good;
    l.step = -256;
    EXPECT_FALSE(freqlist_valid(l));
    l = good;
    l.count = 0;
    EXPECT_FALSE(freqlist_valid(l));
    l = good;
    l.count = -1;
    EXPECT_FALSE(freqlist_valid(l));
    l = good;
    l.freqs.pop_back();  // without the repeated last entry
    EXPECT_FALSE(freqlist_valid(l));
    l = good;
    l.amps.pop_back();
    EXPECT_FALSE(freqlist_valid(l));
    l = good;
    l.count = 3;  // more entries than the arrays hold
    EXPECT_FALSE(freqlist_valid(l));
    EXPECT_FALSE(freqlist_valid(FreqList{}));
}

}  // namespace
}  // namespace kelmotra
