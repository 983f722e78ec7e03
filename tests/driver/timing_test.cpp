// The timing plan of a note: the three segments, their speeds in each case,
// the input position of every output sample, and the diagnostic lines.
#include "driver/timing.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <string>

namespace kelmotra {
namespace {

using testsupport::stream_text;

// Plans quietly (verbose off) unless a log is asked for.
TimingPlan plan(ResamplerArgs args, std::uint32_t rate, std::int32_t ssize, std::string* log = nullptr) {
    if (!log) {
        args.verbose = false;
        return plan_timing(args, rate, ssize, nullptr);
    }
    std::FILE* f = testsupport::temp_stream();
    EXPECT_NE(f, nullptr);
    const TimingPlan p = plan_timing(args, rate, ssize, f);
    *log = stream_text(f);
    std::fclose(f);
    return p;
}

ResamplerArgs note(double offset_ms, std::int32_t outlen, double fix1_ms = 0.0, double fix2_ms = 0.0,
                   double cutoff_ms = 0.0) {
    ResamplerArgs a;
    a.offset_ms = offset_ms;
    a.outlen = outlen;
    a.fix1_ms = fix1_ms;
    a.fix2_ms = fix2_ms;
    a.cutoff_ms = cutoff_ms;
    return a;
}

// The position is continuous where one segment hands over to the next (a
// trailing segment of length 0 is no segment: Case A stops where it stops).
void expect_continuous(const TimingPlan& p) {
    const double joins[] = {p.len0, p.len2 > 0 ? p.outlen - p.len2 : 0.0};
    for (double ap : joins) {
        if (!(ap > 1.0)) continue;
        const double before = source_position(p, ap - 1e-6);
        const double after = source_position(p, ap);
        EXPECT_NEAR(before, after, 1e-3) << "at output sample " << ap;
    }
}

TEST(TimingPlan, CaseAUsesTheInputAtNaturalSpeedWhenItSuffices) {
    const TimingPlan p = plan(note(100.0, 44100), 44100, 100000);
    EXPECT_EQ(p.ssize, 100000);
    EXPECT_DOUBLE_EQ(p.rate_ratio, 1.0);
    EXPECT_DOUBLE_EQ(p.offl, 4410.0);
    EXPECT_DOUBLE_EQ(p.endp, 100000.0);
    EXPECT_EQ(p.outlen, 44100);
    EXPECT_EQ(p.len0, 0.0);
    EXPECT_EQ(p.len2, 0.0);
    EXPECT_DOUBLE_EQ(p.len1, 44100.0);
    EXPECT_DOUBLE_EQ(p.dif0, 1.0);
    EXPECT_DOUBLE_EQ(p.dif1, 1.0);
    EXPECT_DOUBLE_EQ(p.dif2, 1.0);
    // The note uses the first outlen input frames after the offset.
    EXPECT_DOUBLE_EQ(source_position(p, 0), 4410.0);
    EXPECT_DOUBLE_EQ(source_position(p, 256 * 100), 4410.0 + 25600.0);
    EXPECT_DOUBLE_EQ(source_position(p, 44099), 4410.0 + 44099.0);
}

TEST(TimingPlan, CaseASlowsTheMiddleToEndAtTheRegionEnd) {
    const TimingPlan p = plan(note(0.0, 44100), 44100, 30000);
    EXPECT_DOUBLE_EQ(p.dif1, 30000.0 / 44100.0);
    EXPECT_LT(p.dif1, p.rate_ratio);
    const double last_hop = 256.0 * std::floor((44100 - 1) / 256.0);
    const double pos = source_position(p, last_hop);
    EXPECT_LT(pos, p.endp);
    EXPECT_GT(pos, p.endp - 256.0);
    EXPECT_DOUBLE_EQ(source_position(p, 44100), 30000.0);

    // With a leading fixed segment the middle gets what the segment leaves.
    ResamplerArgs a = note(100.0, 44100, 100.0);
    const TimingPlan q = plan(a, 44100, 30000);
    EXPECT_DOUBLE_EQ(q.len0, 4410.0);
    EXPECT_DOUBLE_EQ(q.len1, 44100.0 - 4410.0);
    EXPECT_DOUBLE_EQ(q.dif1, (30000.0 - 4410.0 - 4410.0) / (44100.0 - 4410.0));
    EXPECT_DOUBLE_EQ(source_position(q, 44100), 30000.0);
    expect_continuous(q);
}

TEST(TimingPlan, CaseALeadingSegmentRunsAtTheVelocity) {
    struct Case {
        double vel1;
        double len0;
    };
    // Velocity 200 halves the consonant's output length, velocity 0 doubles it.
    const Case cases[] = {{velocity_factor(100), 4410.0}, {velocity_factor(200), 2205.0}, {velocity_factor(0), 8820.0}};
    for (const auto& c : cases) {
        ResamplerArgs a = note(100.0, 44100, 100.0);
        a.vel1 = c.vel1;
        const TimingPlan p = plan(a, 44100, 100000);
        EXPECT_NEAR(p.len0, c.len0, 1e-9) << c.vel1;
        EXPECT_DOUBLE_EQ(p.dif0, c.vel1) << c.vel1;
        EXPECT_NEAR(p.len1, 44100.0 - c.len0, 1e-9) << c.vel1;
        EXPECT_NEAR(source_position(p, 1000), 4410.0 + 1000.0 * c.vel1, 1e-9) << c.vel1;
        EXPECT_NEAR(source_position(p, c.len0), 4410.0 + 4410.0, 1e-9) << c.vel1;
        expect_continuous(p);
    }
}

TEST(TimingPlan, InputAt22050Hz) {
    const TimingPlan p = plan(note(100.0, 44100, 100.0), 22050, 50000);
    EXPECT_DOUBLE_EQ(p.rate_ratio, 0.5);
    EXPECT_DOUBLE_EQ(p.offl, 2205.0);
    EXPECT_DOUBLE_EQ(p.fix1, 2205.0);
    EXPECT_DOUBLE_EQ(p.len0, 4410.0);
    EXPECT_DOUBLE_EQ(p.dif0, 0.5);
    EXPECT_DOUBLE_EQ(p.dif1, 0.5);
    EXPECT_DOUBLE_EQ(p.dif2, 0.5);
    EXPECT_DOUBLE_EQ(source_position(p, 4410), 2205.0 + 2205.0);
    EXPECT_DOUBLE_EQ(source_position(p, 10000), 4410.0 + (10000.0 - 4410.0) * 0.5);

    // Case A slowed and Case B at half rate: both count the middle's input as
    // len1 * 0.5 frames.
    const TimingPlan slow = plan(note(0.0, 44100), 22050, 10000);
    EXPECT_DOUBLE_EQ(slow.dif1, 10000.0 / 44100.0);
    EXPECT_DOUBLE_EQ(source_position(slow, 44100), 10000.0);
    const TimingPlan b = plan(note(0.0, 44100, 0.0, 100.0), 22050, 50000);
    EXPECT_DOUBLE_EQ(b.len2, 4410.0);
    EXPECT_DOUBLE_EQ(b.offl, 50000.0 - 2205.0 - (44100.0 - 4410.0) * 0.5);
    EXPECT_DOUBLE_EQ(b.dif1, 0.5);
    EXPECT_DOUBLE_EQ(source_position(b, 44100), 50000.0);

    // A cutoff counts in input frames as well.
    const TimingPlan q = plan(note(0.0, 0, 0.0, 0.0, 1000.0), 22050, 50000);
    EXPECT_DOUBLE_EQ(q.endp, 50000.0 - 22050.0);
    EXPECT_EQ(q.outlen, 50000);
}

TEST(TimingPlan, NoLengthMeansTheInputLength) {
    const TimingPlan p = plan(note(0.0, 0), 44100, 12345);
    EXPECT_EQ(p.outlen, 12345);
    EXPECT_DOUBLE_EQ(p.len1, 12345.0);
}

TEST(TimingPlan, NegativeCutoffIsALengthFromTheOffset) {
    const TimingPlan p = plan(note(100.0, 44100, 0.0, 0.0, -500.0), 44100, 100000);
    EXPECT_DOUBLE_EQ(p.endp, 26460.0);
    // A positive one counts back from the end of the sample.
    const TimingPlan q = plan(note(100.0, 44100, 0.0, 0.0, 500.0), 44100, 100000);
    EXPECT_DOUBLE_EQ(q.endp, 100000.0 - 22050.0);
    // Zero is the end of the sample.
    EXPECT_DOUBLE_EQ(plan(note(100.0, 44100, 0.0, 0.0, 0.0), 44100, 100000).endp, 100000.0);
}

TEST(TimingPlan, CaseBIsAnchoredAtTheEndAndPrintsTheOffsetArgument) {
    std::string log;
    const TimingPlan p = plan(note(100.0, 44100, 0.0, 100.0), 44100, 100000, &log);
    EXPECT_EQ(log,
              "ssize=100000\n"
              "offl=4410.000\n"
              "fix1=0.000\tvel1=1.000\n"
              "fix2=4410.000\tvel2=1.000\n"
              "endp=100000.000\n"
              "outlen=44100\n"
              "len0=0.000\n"
              "len1=39690.000\n"
              "len2=4410.000\n"
              "dif0=1.000\n"
              "dif1=1.000\n"
              "dif2=1.000\n");
    // The plan itself starts where the region has to start to end at endp.
    EXPECT_DOUBLE_EQ(p.offl, 100000.0 - 4410.0 - 39690.0);
    EXPECT_DOUBLE_EQ(source_position(p, 0), 55900.0);
    EXPECT_DOUBLE_EQ(source_position(p, 39690), 95590.0);
    EXPECT_DOUBLE_EQ(source_position(p, 44100), 100000.0);
    expect_continuous(p);

    // The offset argument has no effect.
    const TimingPlan q = plan(note(900.0, 44100, 0.0, 100.0), 44100, 100000);
    EXPECT_DOUBLE_EQ(q.offl, p.offl);

    // The trailing segment runs at its velocity.
    ResamplerArgs a = note(100.0, 44100, 0.0, 100.0);
    a.vel2 = velocity_factor(200);
    const TimingPlan r = plan(a, 44100, 100000);
    EXPECT_DOUBLE_EQ(r.len2, 2205.0);
    EXPECT_DOUBLE_EQ(r.dif2, 2.0);
    EXPECT_DOUBLE_EQ(r.offl, 100000.0 - 4410.0 - (44100.0 - 2205.0));
    EXPECT_DOUBLE_EQ(source_position(r, 44100), 100000.0);

    // A note shorter than the trailing region: the region starts at endp - fix2.
    const TimingPlan s = plan(note(100.0, 1000, 0.0, 100.0), 44100, 100000);
    EXPECT_LT(s.len1, 0.0);
    EXPECT_DOUBLE_EQ(s.offl, 95590.0);
}

TEST(TimingPlan, CaseCScalesTheFixedSegmentsToKeep256ForTheMiddle) {
    // outlen 10000 with two fixed segments of 6000 output samples each.
    ResamplerArgs a = note(0.0, 10000, 100.0, 100.0);
    a.vel1 = 4410.0 / 6000.0;
    a.vel2 = 4410.0 / 6000.0;
    const TimingPlan p = plan(a, 44100, 100000);
    EXPECT_NEAR(p.len0, 6000.0 * 9744.0 / 12000.0, 1e-9);
    EXPECT_NEAR(p.len0, 4872.0, 1e-9);
    EXPECT_NEAR(p.len2, 4872.0, 1e-9);
    EXPECT_DOUBLE_EQ(p.len1, 256.0);
    EXPECT_NEAR(p.dif0, 4410.0 / 4872.0, 1e-12);
    EXPECT_NEAR(p.dif2, 4410.0 / 4872.0, 1e-12);
    EXPECT_DOUBLE_EQ(p.dif1, (100000.0 - 4410.0 - 4410.0) / 256.0);
    // The fixed regions map exactly onto their input, the middle onto the rest.
    EXPECT_NEAR(source_position(p, p.len0), 4410.0, 1e-6);
    EXPECT_NEAR(source_position(p, p.outlen - p.len2), 100000.0 - 4410.0, 1e-6);
    EXPECT_NEAR(source_position(p, p.outlen), 100000.0, 1e-6);
    expect_continuous(p);
}

TEST(TimingPlan, CaseCWithRoomLeavesTheSegmentsAlone) {
    std::string log;
    const TimingPlan p = plan(note(100.0, 44100, 100.0, 200.0, 100.0), 44100, 100000, &log);
    EXPECT_DOUBLE_EQ(p.len0, 4410.0);
    EXPECT_DOUBLE_EQ(p.len2, 8820.0);
    EXPECT_DOUBLE_EQ(p.len1, 44100.0 - 13230.0);
    EXPECT_DOUBLE_EQ(p.endp, 100000.0 - 4410.0);
    EXPECT_DOUBLE_EQ(p.dif0, 1.0);
    EXPECT_DOUBLE_EQ(p.dif2, 1.0);
    EXPECT_DOUBLE_EQ(p.dif1, (95590.0 - 4410.0 - 4410.0 - 8820.0) / 30870.0);
    EXPECT_NEAR(source_position(p, 44100), p.endp, 1e-6);
    expect_continuous(p);
    EXPECT_EQ(log,
              "ssize=100000\n"
              "offl=4410.000\n"
              "fix1=4410.000\tvel1=1.000\n"
              "fix2=8820.000\tvel2=1.000\n"
              "endp=95590.000\n"
              "outlen=44100\n"
              "len0=4410.000\n"
              "len1=30870.000\n"
              "len2=8820.000\n"
              "dif0=1.000\n"
              "dif1=2.525\n"
              "dif2=1.000\n");
}

TEST(TimingPlan, DiagnosticsOnlyWhenVerbose) {
    ResamplerArgs a = note(0.0, 1000);
    a.verbose = false;
    std::FILE* f = testsupport::temp_stream();
    ASSERT_NE(f, nullptr);
    plan_timing(a, 44100, 5000, f);
    EXPECT_EQ(stream_text(f), "");
    std::fclose(f);
    // No stream: nothing printed, no harm.
    a.verbose = true;
    EXPECT_EQ(plan_timing(a, 44100, 5000, nullptr).outlen, 1000);
}

TEST(TimingPlan, DegenerateValuesPrintTheSameEverywhere) {
    // A zero velocity makes 0/0 and x/0 of the segment lengths.
    ResamplerArgs a = note(0.0, 1000);
    a.vel1 = 0.0;
    std::string log;
    plan(a, 44100, 5000, &log);
    EXPECT_NE(log.find("\nlen0=nan\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\nlen1=nan\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("-nan"), std::string::npos) << log;

    a = note(0.0, 1000, 100.0);
    a.vel1 = 0.0;
    plan(a, 44100, 5000, &log);
    EXPECT_NE(log.find("\nlen0=inf\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\nlen1=-inf\n"), std::string::npos) << log;
}

// Runs body under the German locale (decimal comma), restoring "C" after.
class TimingGermanLocale : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(TimingGermanLocale, DiagnosticsUseTheLocaleSeparator) {
    std::string log;
    plan(note(100.0, 44100), 44100, 100000, &log);
    EXPECT_NE(log.find("offl=4410,000\n"), std::string::npos) << log;
    EXPECT_NE(log.find("fix1=0,000\tvel1=1,000\n"), std::string::npos) << log;
    EXPECT_NE(log.find("outlen=44100\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace kelmotra
