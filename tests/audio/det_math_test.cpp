// Accuracy and reproducibility of the deterministic elementary functions.
//
// Accuracy is measured in units in the last place of the double result
// against long double references (64-bit significands, 11 more bits than the
// result) over dense sweeps of the arguments the renderer produces; every
// function must stay below one ulp. Those references hold only in the native
// Linux build: in a Windows process the x87 unit rounds long double to 53 bits
// and the C library's long double functions are other ones. Every other build
// instead reproduces, bit for bit, the table of arguments and results that the
// native build writes (make_det_math_table); the digest test pins a further
// set of exact bits in every build.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "audio/det_math.h"
#include "audio/det_math_sweeps.h"

namespace kelmotra {
namespace dettest {
// Test names and messages show the function's name.
void PrintTo(const DetFunction& f, std::ostream* os) { *os << f.name; }
}  // namespace dettest

namespace {

using dettest::DetFunction;
using dettest::Lcg;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kMinSub = std::numeric_limits<double>::denorm_min();

#ifndef KELMOTRA_LONG_DOUBLE_REFERENCES
#define KELMOTRA_LONG_DOUBLE_REFERENCES 0
#endif

// Whether long double references can be trusted: only in the native Linux
// build, and only while the x87 unit really keeps 64-bit significands.
bool long_double_references() {
    volatile long double one = 1;
    return KELMOTRA_LONG_DOUBLE_REFERENCES && one + 0x1p-63L != one;
}

// Error of got against ref in units of the last place of a double of ref's size.
double ulp_error(double got, long double ref) {
    if (std::isnan(got) || std::isinf(got)) return std::isinf(got) && got == ref ? 0.0 : 1e9;
    const long double a = std::fabs(ref);
    long double ulp = 0x1p-1074L;
    if (a >= 0x1p-1022L) {
        int e = 0;
        std::frexp(a, &e);
        ulp = std::ldexp(1.0L, e - 53);
    }
    return static_cast<double>(std::fabs(static_cast<long double>(got) - ref) / ulp);
}

// Largest error seen, with the argument that produced it.
struct MaxError {
    const char* name;
    double worst = 0;
    double at_x = 0;
    double at_y = 0;
    void add(double err, double x, double y = 0) {
        if (err > worst) {
            worst = err;
            at_x = x;
            at_y = y;
        }
    }
    void report() const {
        std::printf("[ max ulp  ] %-9s %.4f at (%a, %a)\n", name, worst, at_x, at_y);
    }
};

class DetMathAccuracy : public ::testing::TestWithParam<DetFunction> {};

TEST_P(DetMathAccuracy, BelowOneUlpOverDenseSweeps) {
    if (!long_double_references())
        GTEST_SKIP() << "long double references only in the native Linux build; "
                        "DetMath.ReproducesTheNativeBuildsTableBitForBit covers this build";
    const DetFunction& f = GetParam();
    MaxError m{f.name};
    f.sweep([&](double x, double y) { m.add(ulp_error(f.eval(x, y), f.reference(x, y)), x, y); });
    m.report();
    EXPECT_LT(m.worst, 1.0);
}

// The functions with an ulp bound (the others only have their bits pinned).
std::vector<DetFunction> bounded_functions() {
    std::vector<DetFunction> v;
    for (const DetFunction& f : dettest::det_functions())
        if (f.reference) v.push_back(f);
    return v;
}

INSTANTIATE_TEST_SUITE_P(Functions, DetMathAccuracy, ::testing::ValuesIn(bounded_functions()),
                         [](const auto& info) { return std::string(info.param.name); });

// Error of got against the exact value hi + lo in units of the last place of
// hi, in double arithmetic alone (got - hi is exact for any close result).
double double_double_ulp_error(double got, double hi, double lo) {
    return std::fabs((got - hi) - lo) / std::ldexp(1.0, std::ilogb(hi) - 52);
}

TEST(DetSinCos, LargeArgumentsStayBelowOneUlp) {
    // Exact values (as double-double) from 2000-bit arithmetic. The argument
    // 0x1.6ac5b262ca1ffp+849 is the double closest to a multiple of pi/2.
    struct Case {
        double x, sin_hi, sin_lo, cos_hi, cos_lo;
    };
    const Case cases[] = {
        {0x1.e848000000000p+19, -0x1.6664b2568d867p-2, -0x1.264732d26e9b9p-56, 0x1.df9df9906d32cp-1, 0x1.abb226a0c6680p-55},
        {0x1.86a0000000000p+20, -0x1.153286220550fp-1, -0x1.a38629db3ed88p-56, 0x1.ae78ad815d7c4p-1, -0x1.6525f9b856311p-56},
        {0x1.9f0a000000000p+20, 0x1.2468b4fe40abcp-1, 0x1.acc27ebdf6abep-56, -0x1.a44969d28fe08p-1, 0x1.297ce1058363bp-58},
        {0x1.312d000000000p+23, 0x1.aea414a8a3352p-2, -0x1.d44964a4e71dap-57, -0x1.d085be7a8f4a1p-1, 0x1.ac52bbd303eadp-55},
        {0x1.2a05f20000000p+33, -0x1.f334c7896a4e3p-2, -0x1.332cd01b7d484p-56, 0x1.bf098901c931ap-1, -0x1.f366020f3b0f5p-55},
        {0x1.c6bf526340000p+49, 0x1.b76f88136cebap-1, -0x1.b5acbdcf56c2ap-56, -0x1.06c154609d33fp-1, 0x1.ea7fabcd955c1p-55},
        {0x1.0000000000000p+60, -0x1.a94adab06665cp-1, -0x1.4031e5f71e2bbp-56, -0x1.1d146047d6947p-1, -0x1.bdba6cc761d14p-56},
        {0x1.0f0cf064dd592p+73, -0x1.b453ab76bf397p-1, -0x1.f453790772648p-58, 0x1.0be2cef01c8f4p-1, -0x1.b2d1bc8018c4fp-55},
        {0x1.249ad2594c37dp+332, -0x1.85c5e5b929359p-2, 0x1.d798cb7be01afp-57, 0x1.d9757496841f5p-1, 0x1.33eb4677577a7p-56},
        {0x1.7e43c8800759cp+996, -0x1.a2c16b010e385p-1, -0x1.b900a1f54ecd2p-55, -0x1.2699022adc4c1p-1, 0x1.edd5594b5c574p-56},
        {0x1.6ac5b262ca1ffp+849, 0x1.0000000000000p+0, -0x1.2b089ea1e692bp-123, -0x1.14ae72e6ba22fp-61, 0x1.73eef1477d90ep-118},
        {0x1.fffffffffffffp+1023, 0x1.452fc98b34e97p-8, -0x1.27bb193d960dfp-62, -0x1.fffe62ecfab75p-1, -0x1.e038d934070f1p-56},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.x);
        EXPECT_LT(double_double_ulp_error(det_sin(t.x), t.sin_hi, t.sin_lo), 1.0);
        EXPECT_LT(double_double_ulp_error(det_cos(t.x), t.cos_hi, t.cos_lo), 1.0);
        EXPECT_LT(double_double_ulp_error(det_sin(-t.x), -t.sin_hi, -t.sin_lo), 1.0);
        EXPECT_EQ(det_cos(-t.x), det_cos(t.x));
    }
}

TEST(DetSinCos, SymmetryAndSpecialValues) {
    Lcg g{7};
    for (int i = 0; i < 20000; ++i) {
        const double x = g.range(0, 3e6);
        ASSERT_EQ(det_sin(-x), -det_sin(x)) << x;
        ASSERT_EQ(det_cos(-x), det_cos(x)) << x;
    }
    EXPECT_TRUE(std::signbit(det_sin(-0.0)));
    EXPECT_EQ(det_sin(0.0), 0.0);
    EXPECT_EQ(det_cos(-0.0), 1.0);
    EXPECT_EQ(det_sin(1e-300), 1e-300);
    EXPECT_EQ(det_sin(kMinSub), kMinSub);
    EXPECT_EQ(det_cos(1e-10), 1.0);
    for (double v : {kInf, -kInf, kNaN}) {
        EXPECT_TRUE(std::isnan(det_sin(v))) << v;
        EXPECT_TRUE(std::isnan(det_cos(v))) << v;
    }
}

TEST(DetAtan2, SpecialValues) {
    const double pi = 3.141592653589793, pio2 = 1.5707963267948966, pio4 = 0.7853981633974483;
    struct Case {
        double y, x, want;
    };
    const Case cases[] = {
        {0.0, 1.0, 0.0},       {-0.0, 1.0, -0.0},      {0.0, -1.0, pi},        {-0.0, -1.0, -pi},
        {0.0, 0.0, 0.0},       {-0.0, 0.0, -0.0},      {0.0, -0.0, pi},        {-0.0, -0.0, -pi},
        {1.0, 0.0, pio2},      {-1.0, -0.0, -pio2},    {kInf, 5.0, pio2},      {-kInf, -5.0, -pio2},
        {kInf, kInf, pio4},    {-kInf, kInf, -pio4},   {kInf, -kInf, 3 * pio4}, {-kInf, -kInf, -3 * pio4},
        {5.0, kInf, 0.0},      {-5.0, kInf, -0.0},     {5.0, -kInf, pi},       {-5.0, -kInf, -pi},
        {1.0, 1.0, pio4},      {-2.0, -2.0, -3 * pio4}, {kMax, kMinSub, pio2},  {kMinSub, kMax, 0.0},
    };
    for (const Case& t : cases) {
        const double got = det_atan2(t.y, t.x);
        EXPECT_EQ(got, t.want) << t.y << ", " << t.x;
        EXPECT_EQ(std::signbit(got), std::signbit(t.want)) << t.y << ", " << t.x;
    }
    EXPECT_EQ(det_atan2(1e-300, 1e10), 1e-300 / 1e10);  // the quotient itself, gradual underflow
    EXPECT_TRUE(std::isnan(det_atan2(kNaN, 1.0)));
    EXPECT_TRUE(std::isnan(det_atan2(1.0, kNaN)));
}

TEST(DetHypot, ExactCasesAndSpecialValues) {
    for (int e : {-1060, -600, -20, 0, 20, 600, 1000}) {
        EXPECT_EQ(det_hypot(std::ldexp(3.0, e), std::ldexp(4.0, e)), std::ldexp(5.0, e)) << e;
        EXPECT_EQ(det_hypot(std::ldexp(-20.0, e), std::ldexp(21.0, e)), std::ldexp(29.0, e)) << e;
    }
    EXPECT_EQ(det_hypot(5.0, -12.0), 13.0);
    EXPECT_EQ(det_hypot(kMax, 0.0), kMax);
    EXPECT_EQ(det_hypot(kMax, 1.0), kMax);
    EXPECT_EQ(det_hypot(kMax, kMax), kInf);
    EXPECT_EQ(det_hypot(kMinSub, 0.0), kMinSub);
    EXPECT_EQ(det_hypot(-0.0, 0.0), 0.0);
    EXPECT_FALSE(std::signbit(det_hypot(-0.0, -0.0)));
    EXPECT_EQ(det_hypot(kInf, kNaN), kInf);
    EXPECT_EQ(det_hypot(kNaN, -kInf), kInf);
    EXPECT_TRUE(std::isnan(det_hypot(kNaN, 1.0)));
}

TEST(DetPow, ExactPowersAreExact) {
    // Whenever the true power is a double, the result must be that double:
    // base = odd * 2^e, and odd^k is exact while it stays below 2^53.
    struct Base {
        std::uint64_t odd;
        int exp2;
    };
    for (Base b : {Base{1, 1}, Base{3, 0}, Base{5, 0}, Base{5, 1}, Base{3, -1}, Base{1, -1}, Base{1, -2},
                   Base{7, 0}}) {
        const double base = std::ldexp(static_cast<double>(b.odd), b.exp2);
        std::uint64_t odd_power = 1;
        for (int k = 0; k <= 40 && odd_power < (std::uint64_t{1} << 53); ++k, odd_power *= b.odd) {
            const double want = std::ldexp(static_cast<double>(odd_power), b.exp2 * k);
            EXPECT_EQ(det_pow(base, k), want) << base << "^" << k;
            EXPECT_EQ(det_pow(-base, k), (k % 2 ? -want : want)) << -base << "^" << k;
        }
    }
    EXPECT_EQ(det_pow(4.0, 0.5), 2.0);
    EXPECT_EQ(det_pow(2.0, -1074.0), kMinSub);
    EXPECT_EQ(det_pow(2.0, 1023.0), 0x1p1023);
    EXPECT_EQ(det_pow(0x1p-1074, 0.5), 0x1p-537);
    EXPECT_EQ(det_pow(8.0, 1.0 / 3.0), 2.0);
}

TEST(DetPow, SpecialValues) {
    struct Case {
        double x, y, want;
    };
    const Case cases[] = {
        {0.0, 2.0, 0.0},      {0.0, 0.5, 0.0},       {-0.0, 3.0, -0.0},     {-0.0, 2.0, 0.0},
        {0.0, -1.0, kInf},    {-0.0, -3.0, -kInf},   {-0.0, -2.0, kInf},    {5.0, 0.0, 1.0},
        {kNaN, 0.0, 1.0},     {1.0, kNaN, 1.0},      {1.0, kInf, 1.0},      {-1.0, kInf, 1.0},
        {0.5, kInf, 0.0},     {0.5, -kInf, kInf},    {2.0, kInf, kInf},     {2.0, -kInf, 0.0},
        {kInf, 0.5, kInf},    {kInf, -0.5, 0.0},     {-kInf, 3.0, -kInf},   {-kInf, 2.0, kInf},
        {-kInf, -3.0, -0.0},  {-8.0, 3.0, -512.0},   {10.0, 400.0, kInf},   {10.0, -400.0, 0.0},
        {0x1p-1074, 2.0, 0.0}, {kMax, 2.0, kInf},
    };
    for (const Case& t : cases) {
        const double got = det_pow(t.x, t.y);
        EXPECT_EQ(got, t.want) << t.x << " ^ " << t.y;
        EXPECT_EQ(std::signbit(got), std::signbit(t.want)) << t.x << " ^ " << t.y;
    }
    EXPECT_TRUE(std::isnan(det_pow(kNaN, 1.0)));
    EXPECT_TRUE(std::isnan(det_pow(2.0, kNaN)));
    EXPECT_TRUE(std::isnan(det_pow(-2.0, 0.5)));
}

// FNV-1a over the bit patterns of many results.
struct Digest {
    std::uint64_t h = 0xcbf29ce484222325u;
    void add(double v) {
        std::uint64_t b = std::bit_cast<std::uint64_t>(v);
        for (int i = 0; i < 8; ++i) {
            h ^= (b >> (8 * i)) & 0xff;
            h *= 0x100000001b3u;
        }
    }
};

// The exact bits of each function over a fixed argument set. These values
// come from the Linux build; the Windows editions must reproduce them, and any
// change to the functions must be deliberate enough to update them.
TEST(DetMath, ResultsAreBitIdenticalToTheReferenceBuild) {
    Digest s, c, a, h, p;
    Lcg g{2024};
    for (int i = 0; i < 50000; ++i) {
        const double x = i % 2 ? g.range(-4, 4) : g.range(-2e4, 2e4);
        s.add(det_sin(x));
        c.add(det_cos(x));
        const double u = std::ldexp(g.range(-1, 1), g.below(80) - 40);
        const double v = std::ldexp(g.range(-1, 1), g.below(80) - 40);
        a.add(det_atan2(u, v));
        h.add(det_hypot(u, v));
        p.add(det_pow(std::fabs(u), g.range(-10, 10)));
        p.add(det_pow(2.0, g.range(-4, 4)));
    }
    for (double x : {1e7, 1e22, 0x1.6ac5b262ca1ffp+849}) {
        s.add(det_sin(x));
        c.add(det_cos(x));
    }
    EXPECT_EQ(s.h, 0xfc6ed8151c74d922u) << std::hex << s.h;
    EXPECT_EQ(c.h, 0xab3590777bbf90ccu) << std::hex << c.h;
    EXPECT_EQ(a.h, 0x2ed3fca49adfc2e7u) << std::hex << a.h;
    EXPECT_EQ(h.h, 0x8db454fb20f20945u) << std::hex << h.h;
    EXPECT_EQ(p.h, 0x8347e92e81e85218u) << std::hex << p.h;
}

// The table that the native Linux build writes (make_det_math_table: one line
// "name x y result" per call, the doubles' bit patterns in hex, and a last
// line "end <count>"), recomputed here. NaN results match any NaN.
TEST(DetMath, ReproducesTheNativeBuildsTableBitForBit) {
    const char* path = std::getenv("KELMOTRA_DET_MATH_TABLE");
    if (!path || !*path) {
        if (long_double_references()) GTEST_SKIP() << "this build writes the table (det_math_reference.txt)";
        FAIL() << "KELMOTRA_DET_MATH_TABLE must name det_math_reference.txt of a native Linux build of the same sources";
    }
    std::ifstream in(path);
    ASSERT_TRUE(in) << "cannot read " << path;
    const auto functions = dettest::det_functions();
    std::map<std::string, std::pair<long, long>> counts;  // rows, rows that differ
    std::string name;
    std::uint64_t x, y, want;
    long rows = 0, declared = -1;
    while (in >> name && name != "end" && in >> std::hex >> x >> y >> want >> std::dec) {
        ++rows;
        const auto f = std::find_if(functions.begin(), functions.end(), [&](const auto& d) { return name == d.name; });
        ASSERT_TRUE(f != functions.end()) << "the table names a function this build does not have: " << name;
        const double got = f->eval(std::bit_cast<double>(x), std::bit_cast<double>(y));
        const double wanted = std::bit_cast<double>(want);
        auto& [n, differ] = counts[name];
        ++n;
        if (std::bit_cast<std::uint64_t>(got) == want || (std::isnan(got) && std::isnan(wanted))) continue;
        if (++differ <= 3)
            ADD_FAILURE() << name << std::hexfloat << "(" << std::bit_cast<double>(x) << ", "
                          << std::bit_cast<double>(y) << ") = " << got << ", the table says " << wanted;
    }
    if (name == "end") in >> declared;
    ASSERT_EQ(declared, rows) << path << " is cut short or malformed after row " << rows;
    for (const DetFunction& d : functions) {
        const auto [n, differ] = counts[d.name];
        std::printf("[ table    ] %-9s %ld rows, %ld differ\n", d.name, n, differ);
        EXPECT_GE(n, 10000) << d.name << ": the table comes from other sources; regenerate it";
        EXPECT_EQ(differ, 0) << d.name;
    }
}

}  // namespace
}  // namespace kelmotra
