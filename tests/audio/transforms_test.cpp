#include "audio/transforms.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "audio/det_math.h"
#include "audio/packed_rdft.h"

namespace kelmotra {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Direct evaluation of the forward layout: C(k) at k, S(k) at n - k.
std::vector<double> naive_forward(const std::vector<double>& x) {
    const auto n = static_cast<std::int32_t>(x.size());
    std::vector<double> y(x.size(), 0.0);
    for (std::int32_t k = 0; k <= n / 2; ++k) {
        long double c = 0, s = 0;
        for (std::int32_t t = 0; t < n; ++t) {
            long double a = 2.0L * kPi * ((static_cast<long>(k) * t) % n) / n;
            c += x[t] * std::cos(a);
            s += x[t] * std::sin(a);
        }
        y[k] = static_cast<double>(c);
        if (k >= 1 && k < n / 2) y[n - k] = static_cast<double>(s);
    }
    return y;
}

std::vector<double> naive_inverse(const std::vector<double>& y) {
    const auto n = static_cast<std::int32_t>(y.size());
    std::vector<double> x(y.size(), 0.0);
    for (std::int32_t t = 0; t < n; ++t) {
        long double v = y[0] / 2.0L + y[n / 2] / 2.0L * (t % 2 ? -1 : 1);
        for (std::int32_t k = 1; k < n / 2; ++k) {
            long double a = 2.0L * kPi * ((static_cast<long>(k) * t) % n) / n;
            v += y[k] * std::cos(a) + y[n - k] * std::sin(a);
        }
        x[t] = static_cast<double>(v);
    }
    return x;
}

// A reproducible test signal with energy in every bin.
std::vector<double> test_signal(std::int32_t n) {
    std::vector<double> x(static_cast<std::size_t>(n));
    std::uint32_t state = 12345;
    for (auto& v : x) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<double>(state >> 8) / 8388608.0 - 1.0;
    }
    return x;
}

TEST(Tables, TwiddleAndHannValues) {
    const Tables t = build_tables();
    ASSERT_EQ(t.n, 1024);
    ASSERT_EQ(t.twiddle.size(), 2048u);
    ASSERT_EQ(t.hann.size(), 1024u);
    EXPECT_EQ(t.twiddle[0], 1.0);
    EXPECT_EQ(t.twiddle[1], 0.0);
    EXPECT_NEAR(t.twiddle[2 * 256], 0.0, 1e-15);
    EXPECT_EQ(t.twiddle[2 * 256 + 1], 1.0);
    EXPECT_EQ(t.twiddle[2 * 100], det_cos(6.283185307179586 * 100 / 1024));
    EXPECT_EQ(t.twiddle[2 * 100 + 1], det_sin(6.283185307179586 * 100 / 1024));
    EXPECT_EQ(t.hann[0], 0.0);
    EXPECT_EQ(t.hann[512], 1.0);
    EXPECT_NEAR(t.hann[256], 0.5, 1e-15);
    // Periodic window: symmetric about 512, hann[i] = hann[1024 - i].
    for (int i = 1; i < 512; ++i) EXPECT_NEAR(t.hann[i], t.hann[1024 - i], 1e-15) << i;
}

TEST(RdftForward, UnitImpulseGivesFlatCosineSpectrum) {
    const Tables t = build_tables();
    std::vector<double> x(1024, 0.0);
    x[0] = 1.0;
    rdft_forward(1024, x.data(), t.twiddle.data());
    for (int k = 0; k <= 512; ++k) EXPECT_EQ(x[k], 1.0) << k;
    for (int k = 1; k < 512; ++k) EXPECT_EQ(x[1024 - k], 0.0) << k;
}

TEST(RdftForward, PureCosineAndSineLandInOneBin) {
    const Tables t = build_tables();
    for (bool sine : {false, true}) {
        std::vector<double> x(1024);
        for (int n = 0; n < 1024; ++n) {
            double a = 2 * kPi * 3 * n / 1024;
            x[n] = sine ? std::sin(a) : std::cos(a);
        }
        rdft_forward(1024, x.data(), t.twiddle.data());
        for (int i = 0; i < 1024; ++i) {
            double want = 0.0;
            if (!sine && i == 3) want = 512.0;
            if (sine && i == 1024 - 3) want = 512.0;
            EXPECT_NEAR(x[i], want, 1e-10) << (sine ? "sin " : "cos ") << i;
        }
    }
}

TEST(RdftInverse, SingleCoefficientIdentities) {
    const Tables t = build_tables();
    struct Case {
        int index;
        const char* what;
    };
    for (Case c : {Case{0, "y[0]"}, Case{512, "y[512]"}, Case{1024 - 5, "y[N-5]"},
                   Case{1024 - 1, "y[N-1]"}, Case{7, "y[7]"}}) {
        std::vector<double> y(1024, 0.0);
        y[c.index] = 1.0;
        rdft_inverse(1024, y.data(), t.twiddle.data());
        for (int n = 0; n < 1024; ++n) {
            double want;
            if (c.index == 0) {
                want = 0.5;
            } else if (c.index == 512) {
                want = n % 2 ? -0.5 : 0.5;
            } else if (c.index > 512) {
                want = std::sin(2 * kPi * (1024 - c.index) * n / 1024);
            } else {
                want = std::cos(2 * kPi * c.index * n / 1024);
            }
            ASSERT_NEAR(y[n], want, 1e-12) << c.what << " n=" << n;
        }
    }
}

// Every power-of-two size against the direct sums, both directions, and the
// round trip giving n/2 times the input.
TEST(Rdft, MatchesDirectSumsForEverySize) {
    for (std::int32_t n = 2; n <= 1024; n *= 2) {
        const Tables t = build_tables(n);
        const std::vector<double> x = test_signal(n);
        std::vector<double> y = x;
        rdft_forward(n, y.data(), t.twiddle.data());
        const std::vector<double> want = naive_forward(x);
        const double tol = 1e-12 * n;
        for (std::int32_t i = 0; i < n; ++i) ASSERT_NEAR(y[i], want[i], tol) << "n=" << n << " i=" << i;

        std::vector<double> z = want;
        rdft_inverse(n, z.data(), t.twiddle.data());
        const std::vector<double> back = naive_inverse(want);
        for (std::int32_t i = 0; i < n; ++i) {
            ASSERT_NEAR(z[i], back[i], tol) << "n=" << n << " i=" << i;
            ASSERT_NEAR(z[i], x[i] * (n / 2), tol) << "n=" << n << " i=" << i;
        }
    }
}

// The packed transforms and the radix-2 ones agree to rounding at every size
// both serve; past the packed sizes the radix-2 one keeps the round trip.
TEST(Rdft, PackedAndRadix2AgreeAtEverySize) {
    for (std::int32_t n = 16; n <= 8192; n *= 2) {
        const Tables t = build_tables(n);
        const std::vector<double> x = test_signal(n);
        std::vector<double> a = x, b = x;
        rdft_forward(n, a.data(), t.twiddle.data());
        rdft_forward_radix2(n, b.data(), t.twiddle.data());
        const double tol = 1e-13 * n;
        for (std::int32_t i = 0; i < n; ++i) ASSERT_NEAR(a[i], b[i], tol) << n << " " << i;
        rdft_inverse(n, a.data(), t.twiddle.data());
        rdft_inverse_radix2(n, b.data(), t.twiddle.data());
        for (std::int32_t i = 0; i < n; ++i) {
            ASSERT_NEAR(a[i], b[i], tol) << n << " " << i;
            ASSERT_NEAR(a[i], x[i] * (n / 2), tol) << n << " " << i;
        }
    }
}

// The frame size's transforms run their own code with every count fixed;
// notes keep their bytes only if its numbers stay those of earlier builds,
// bit for bit, on every edition.
TEST(Rdft, FrameSizeKeepsItsBits) {
    const Tables t = build_tables();
    std::vector<double> x = test_signal(1024);
    std::uint64_t h = 14695981039346656037ull;  // FNV-1a over the doubles' bits
    auto mix = [&h](const std::vector<double>& y) {
        for (double v : y) h = (h ^ std::bit_cast<std::uint64_t>(v)) * 1099511628211ull;
    };
    rdft_forward(1024, x.data(), t.twiddle.data());
    mix(x);
    rdft_inverse(1024, x.data(), t.twiddle.data());
    mix(x);
    EXPECT_EQ(h, 0x4646aea49e9aefc8ull);
}

// Signed zeros, subnormals and sums that overflow keep their bits through
// the frame size's transforms too (NaNs, whose payload the compiler may
// pick, count as one value): a shortcut past a twiddle of 1 or 0, or another
// order of operations, shows here. Each case hashes forward(x) and inverse(x).
TEST(Rdft, FrameSizeKeepsSpecialValues) {
    const Tables t = build_tables();
    const struct {
        const char* what;
        std::uint64_t hash;
        double (*value)(std::int32_t i);
    } cases[] = {
        {"negative zeros", 0x28c31cf8df2ec325ull, [](std::int32_t) { return -0.0; }},
        {"subnormals", 0xf85446759221dfb2ull,
         [](std::int32_t i) { return (i % 3 - 1) * 4.9e-324 * (i % 7); }},
        {"overflowing sums", 0x749e98fcb89e13deull,
         [](std::int32_t i) { return (i % 5 == 0 ? -1.7e306 : 0.9e306) * ((i / 3) % 2 ? 1 : -0.75); }},
        {"mixed", 0x2cb444efde73fd99ull, [](std::int32_t i) {
             constexpr double mix[] = {-0.0, 0.0, 4.9e-324, -2.2e-310, 1.0, -3.5, 1e-300, -0.0};
             return mix[(i * 7 + i / 5) % 8];
         }},
    };
    // Scratch on the stack or the caller's: the same bits.
    std::vector<double> work(2 * 1024);
    for (double* w : {static_cast<double*>(nullptr), work.data()}) {
        for (const auto& c : cases) {
            std::uint64_t h = 14695981039346656037ull;
            for (auto transform : {rdft_forward, rdft_inverse}) {
                std::vector<double> x(1024);
                for (std::int32_t i = 0; i < 1024; ++i) x[i] = c.value(i);
                transform(1024, x.data(), t.twiddle.data(), w);
                for (double v : x) h = (h ^ (v != v ? 1 : std::bit_cast<std::uint64_t>(v))) * 1099511628211ull;
            }
            EXPECT_EQ(h, c.hash) << c.what << (w ? " (caller's scratch)" : "");
        }
    }
}

// Where the frame size runs four lanes wide, its results are those of the
// two-lane code bit for bit, both directions, on frames of every kind of
// double (NaNs, whose payload may differ, compare as NaN).
TEST(Rdft, FrameSizeFourLanesGiveTheTwoLaneBits) {
    if (!packed_rdft_four_lanes()) GTEST_SKIP() << "no four-lane code on this CPU or build";
    const Tables t = build_tables();
    std::uint64_t state = 0x9e3779b97f4a7c15ull;
    auto bits = [&state] { return state = state * 6364136223846793005ull + 1442695040888963407ull; };
    const double pick[] = {0.0, -0.0, 4.9e-324, -2.2e-310, 1.7e308, -0.9e306, 1.0, -3.5};
    std::vector<double> work(2 * 1024);
    for (std::int32_t frame = 0; frame < 64; ++frame) {
        std::vector<double> x(1024);
        for (double& v : x) {
            const std::uint64_t r = bits();
            // Random bit patterns, special values, zeros of both signs with
            // a few ones among them, or audio-like numbers.
            const std::int32_t kind = frame % 4;
            const bool one = static_cast<std::int32_t>((r >> 40) % 64) < frame % 8;
            v = kind == 0   ? std::bit_cast<double>(r)
                : kind == 1 ? pick[(r >> 33) % 8] * (frame % 8 == 1 ? 1.0 : 1e-3)
                : kind == 2 ? pick[(r >> 33) % 2 + (one ? 6 : 0)]
                            : static_cast<double>(static_cast<std::int64_t>(r) >> 40);
        }
        for (bool forward : {true, false}) {
            for (double* w : {static_cast<double*>(nullptr), work.data()}) {
                std::vector<double> a = x, b = x;
                auto run = forward ? packed_rdft_forward : packed_rdft_inverse;
                run(1024, a.data(), t.twiddle.data(), w, PackedLanes::widest);
                run(1024, b.data(), t.twiddle.data(), w, PackedLanes::two);
                for (std::int32_t i = 0; i < 1024; ++i) {
                    if (a[i] != a[i] && b[i] != b[i]) continue;
                    ASSERT_EQ(std::bit_cast<std::uint64_t>(a[i]), std::bit_cast<std::uint64_t>(b[i]))
                        << "frame " << frame << (forward ? " forward" : " inverse") << " i=" << i;
                }
            }
        }
    }
}

TEST(Rdft, RoundTripScalesBy512) {
    const Tables t = build_tables();
    const std::vector<double> x = test_signal(1024);
    std::vector<double> y = x;
    for (double& v : y) v *= 32768.0;
    rdft_forward(1024, y.data(), t.twiddle.data());
    rdft_inverse(1024, y.data(), t.twiddle.data());
    for (int i = 0; i < 1024; ++i) ASSERT_NEAR(y[i], 512.0 * 32768.0 * x[i], 1e-6) << i;
}

// The table-driven sine and cosine stay within two units in the last place
// (relative to 1) of the elementary functions over the whole phase range.
TEST(TableSincos, AgreesWithElementaryFunctions) {
    const Tables t = build_tables();
    const double ulp1 = std::ldexp(1.0, -52);
    double worst = 0;
    const int steps = 200000;
    for (int i = 0; i <= steps; ++i) {
        const double u = -0.5 + static_cast<double>(i) / steps;  // cycles
        const double theta = 2 * u * 3.14159265358979;
        double c, s;
        table_sincos(t, theta, c, s);
        worst = std::max(worst, std::fabs(c - det_cos(theta)));
        worst = std::max(worst, std::fabs(s - det_sin(theta)));
    }
    EXPECT_LE(worst, 2 * ulp1);
    double c, s;
    table_sincos(t, 0.0, c, s);
    EXPECT_EQ(c, 1.0);
    EXPECT_EQ(s, 0.0);
    // Non-finite input gives garbage but returns.
    table_sincos(t, std::nan(""), c, s);
    table_sincos(t, 1e300, c, s);
}

// The table-driven atan2 stays within two units in the last place of the
// elementary function, over all quadrants and magnitudes, and hands the
// special values (signed zeros, infinities, NaN) to it unchanged.
TEST(TableAtan2, AgreesWithElementaryFunction) {
    const Tables t = build_tables();
    std::uint32_t state = 99;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 8388608.0 - 1.0;  // [-1, 1)
    };
    double worst_ulps = 0;
    for (int i = 0; i < 400000; ++i) {
        const double y = next() * std::ldexp(1.0, static_cast<int>(next() * 40));
        double x = next() * std::ldexp(1.0, static_cast<int>(next() * 40));
        if (i % 4 == 0) x = y * (1 + next() * 1e-3);  // near the diagonals
        const double want = det_atan2(y, x);
        const double ulp = std::nextafter(std::fabs(want), 4.0) - std::fabs(want);
        worst_ulps = std::max(worst_ulps, std::fabs(table_atan2(t, y, x) - want) / ulp);
    }
    EXPECT_LE(worst_ulps, 2.0);

    const double inf = std::numeric_limits<double>::infinity();
    const double specials[] = {0.0, -0.0, 1.0, -1.0, inf, -inf, 1e-310, -1e308};
    for (double y : specials) {
        for (double x : specials) {
            const bool ordinary = std::isfinite(x) && std::isfinite(y) && x != 0 && y != 0;
            if (ordinary) continue;  // the table path, covered above
            const double got = table_atan2(t, y, x);
            const double want = det_atan2(y, x);
            EXPECT_EQ(std::signbit(got), std::signbit(want)) << y << " " << x;
            EXPECT_EQ(got, want) << y << " " << x;
        }
    }
    EXPECT_TRUE(std::isnan(table_atan2(t, std::nan(""), 1.0)));
    // Exact axes and diagonals.
    EXPECT_EQ(table_atan2(t, 1.0, 1.0), det_atan2(1.0, 1.0));
    EXPECT_EQ(table_atan2(t, -3.0, -3.0), det_atan2(-3.0, -3.0));
    EXPECT_EQ(table_atan2(t, 5.0, 0.0), det_atan2(5.0, 0.0));
}

}  // namespace
}  // namespace kelmotra
