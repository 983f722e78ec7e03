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

}  // namespace
}  // namespace kelmotra
