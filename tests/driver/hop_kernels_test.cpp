#include "driver/hop_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "driver/pitch_shift.h"
#include "driver/resynth.h"

namespace kelmotra {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The same number: equal with the same sign, or both NaN.
bool same(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
}

// Values for a bin: ordinary ones mostly, and every kind the fast paths hand
// on to the plain formulas, falling on both lanes of a pair.
double bin_value(int k, int salt) {
    static const double odd[] = {0.0, -0.0, kInf, -kInf, kNaN, 1e308, -3e-320, 5e15};
    const int pick = (k * 7 + salt * 3) % 23;
    if (pick < 8) return odd[pick];
    return std::sin(k * 0.731 + salt) * (1 + k % 13) * 1000.0;
}

// Two bins at a time must give exactly the per-bin formulas, for every bin
// and every kind of value.
TEST(HopKernels, AnalyseBinsMatchesThePerBinFormula) {
    const Tables tables = build_tables();
    std::vector<double> frame(kFrameSize), prev(kFrameSize), mag(kFrameSize), dphase(kFrameSize);
    for (int k = 0; k < kFrameSize; ++k) {
        frame[k] = bin_value(k, 1);
        prev[k] = k % 5 == 0 ? 2e9 : std::fmod(k * 0.377, 1.0) - 0.5;  // some out of the fast range
    }
    std::vector<double> want_prev = prev;
    analyse_bins(tables, frame.data(), prev.data(), mag.data(), dphase.data());
    for (int k = 1; k < 512; ++k) {
        const double c = frame[k], s = frame[kFrameSize - k];
        const double phi = table_atan2(tables, s, c) * 0.5 / kPhasePi;
        ASSERT_TRUE(same(dphase[k], wrap_cycles(phi - want_prev[k]))) << k;
        ASSERT_TRUE(same(prev[k], phi)) << k;
        ASSERT_TRUE(same(mag[k], std::sqrt(s * s + c * c))) << k;
    }
    EXPECT_TRUE(same(mag[0], std::fabs(frame[0])));
    EXPECT_TRUE(same(mag[512], std::fabs(frame[512])));
    EXPECT_EQ(dphase[0], 0.0);
    EXPECT_EQ(dphase[512], 0.0);
}

TEST(HopKernels, SynthesiseBinsMatchesThePerBinFormula) {
    const Tables tables = build_tables();
    std::vector<double> newmag(513), newdph(513), phase(kFrameSize), syn(kFrameSize, -1.0);
    for (int k = 0; k <= 512; ++k) {
        newmag[k] = k % 3 == 0 || k % 8 < 2 ? 0.0 : bin_value(k, 2);  // lone and paired zeros
        newdph[k] = k % 11 == 0 ? bin_value(k, 3) : std::fmod(k * 0.613, 1.0) - 0.5;
        phase[k] = std::fmod(k * 0.29, 1.0) - 0.5;
    }
    const std::vector<double> start = phase;
    synthesise_bins(tables, newmag.data(), newdph.data(), phase.data(), syn.data());
    for (int k = 1; k < 512; ++k) {
        const double ph = wrap_cycles(start[k] + newdph[k]);
        ASSERT_TRUE(same(phase[k], ph)) << k;
        double c = 0.0, s = 0.0;
        if (newmag[k] != 0.0) {
            table_sincos(tables, 2 * ph * kPhasePi, c, s);
            c *= newmag[k];
            s *= newmag[k];
        }
        ASSERT_TRUE(same(syn[k], c)) << k;
        ASSERT_TRUE(same(syn[kFrameSize - k], s)) << k;
    }
    EXPECT_TRUE(same(syn[0], newmag[0]));
    EXPECT_TRUE(same(syn[512], newmag[512]));
}

// Four lanes (where the CPU has AVX) and two lanes give the same bits, for
// every kernel, every kind of value (subnormals too), and counts and starts
// that leave groups of four unfinished.
TEST(HopKernels, FourLanesGiveTheBitsOfTwoLanes) {
    if (!packed_rdft_four_lanes()) GTEST_SKIP() << "no four-lane kernels here";
    const Tables tables = build_tables();
    using Vec = std::vector<double>;
    for (int salt = 0; salt < 6; ++salt) {
        Vec x(kFrameSize), y(kFrameSize), z(kFrameSize);
        for (int k = 0; k < kFrameSize; ++k) {
            x[k] = bin_value(k, salt) * (salt == 5 ? 1e-310 : 1.0);
            y[k] = k % (salt + 3) == 0 || k % 16 < 5 ? 0.0 : bin_value(k + 5, salt + 1);
            z[k] = k % 9 == salt ? 3e9 : std::fmod(k * 0.377 + salt, 1.0) - 0.5;
        }
        const std::int32_t upto = 2 + salt * 101 % 511, from = 1 + salt, to = 512 - salt * 3;
        const std::int64_t count = 1 + salt * 205 % kFrameSize;
        const char* names[] = {"prev",   "mag",     "dphase", "prev upto", "dphase upto", "phi",
                               "window", "out_phase", "syn",  "overlap"};
        Vec out[2][10];
        for (int two = 0; two < 2; ++two) {
            const PackedLanes lanes = two ? PackedLanes::two : PackedLanes::widest;
            Vec* o = out[two];
            for (int i = 0; i < 10; ++i) o[i] = i == 0 || i == 3 || i == 7 ? z : Vec(kFrameSize, -7.0);
            analyse_bins(tables, x.data(), o[0].data(), o[1].data(), o[2].data(), lanes);
            advance_phases(tables, x.data(), upto, o[3].data(), o[4].data(), lanes);
            spectrum_phases(tables, x.data(), from, to, o[5].data(), lanes);
            window_run(o[6].data(), x.data(), y.data(), count, lanes);
            synthesise_bins(tables, salt % 2 ? x.data() : y.data(), z.data(), o[7].data(),
                            o[8].data(), lanes);
            overlap_add_frame(o[9].data(), y.data(), x.data(), 0.5 + salt, lanes);
        }
        for (int i = 0; i < 10; ++i)
            for (int k = 0; k < kFrameSize; ++k)
                ASSERT_TRUE(same(out[0][i][k], out[1][i][k])) << names[i] << " " << salt << " " << k;
    }
}

}  // namespace
}  // namespace kelmotra
