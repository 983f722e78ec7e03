// The deterministic elementary functions as the tests see them (det_math's
// and the pitch tracker's logarithm): for each, its dense argument sweep (the
// arguments the program produces, plus zeros, subnormals, huge and tiny
// magnitudes) and its long double reference.
//
// Two users: the accuracy tests of the native Linux build (ulp error against
// the reference over the sweep), and make_det_math_table, which writes the
// sweeps' arguments with the results of that build, so that every other
// edition can prove it computes the same bits. A new function needs one
// sweep, one line in det_functions() and, where it is held to one ulp, a
// reference.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>

#include "audio/det_math.h"
#include "freqmap/pitch_path.h"

namespace kelmotra::dettest {

// Deterministic argument source (the standard distributions differ between
// libraries).
struct Lcg {
    std::uint64_t s;
    std::uint64_t next() {
        s = s * 6364136223846793005u + 1442695040888963407u;
        return s;
    }
    double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }  // [0, 1)
    double range(double lo, double hi) { return lo + (hi - lo) * unit(); }
    int below(int n) { return static_cast<int>((next() >> 33) % static_cast<std::uint64_t>(n)); }
};

// Receives one argument pair; one-argument functions ignore y.
using Visit = std::function<void(double x, double y)>;

constexpr double kTwoPi = 6.283185307179586;

inline void sincos_sweep(const Visit& visit) {
    // Transform tables: 2 pi k / N.
    for (int n : {64, 256, 1024, 2048, 4096}) {
        for (int k = 0; k < n; ++k) visit(kTwoPi * k / n, 0);
    }
    // Phases in [-pi, pi], and the program's own pi.
    constexpr int kSteps = 600000;
    for (int i = 0; i <= kSteps; ++i) visit(-3.14159265358979 + 6.28318530717958 * i / kSteps, 0);
    // Stretch angles 2 pi j / m, j < 2048.
    for (int m : {3, 7, 100, 441, 1000, 2049}) {
        for (int j = 0; j < 2048; ++j) visit(kTwoPi * j / m, 0);
    }
    // Anything up to 2e4 radians, both signs.
    Lcg g{42};
    for (int i = 0; i < 300000; ++i) visit(g.range(-2e4, 2e4), 0);
    // Near multiples of pi/2 the remainder after reduction is tiny; a
    // reduction with a short pi/2 loses all of its bits there.
    for (int k = 1; k < 20000; k += 7) {
        double x = static_cast<double>(k) * 1.5707963267948966;
        for (int step = 0; step < 8; ++step) x = std::nextafter(x, 0.0);
        for (int step = 0; step < 16; ++step, x = std::nextafter(x, std::numeric_limits<double>::infinity()))
            visit(x, 0);
    }
}

inline void atan2_sweep(const Visit& visit) {  // visit(y, x)
    // Spectrum bins: the unit circle at many radii.
    for (int i = 0; i < 200000; ++i) {
        const double t = -3.14159265358979 + 6.28318530717958 * i / 200000;
        const double r = std::ldexp(1.0, (i % 61) - 30);
        visit(r * std::sin(t), r * std::cos(t));
    }
    // Independent magnitudes over a wide exponent range, all sign pairs.
    Lcg g{3};
    for (int i = 0; i < 300000; ++i) {
        const double y = std::ldexp(g.range(-1, 1), g.below(200) - 100);
        visit(y, std::ldexp(g.range(-1, 1), g.below(200) - 100));
    }
    // Ratios across the table boundaries, near 1 and near 1/32.
    for (int i = 0; i < 100000; ++i) {
        const double x = g.range(0.5, 2);
        visit(x * g.range(0.96, 1.04), x);
        visit(x * g.range(0.029, 0.034), -x);
    }
    // Huge and subnormal operands.
    for (int i = 0; i < 20000; ++i) {
        const double y = std::ldexp(g.range(0.5, 1), 1000 + g.below(24));
        visit(y, std::ldexp(g.range(0.5, 1), 1000 + g.below(24)));
        const double ys = std::ldexp(g.range(0, 1), -1030 - g.below(40));
        visit(ys, std::ldexp(g.range(0, 1), -1030 - g.below(40)));
    }
}

inline void hypot_sweep(const Visit& visit) {
    Lcg g{11};
    for (int i = 0; i < 300000; ++i) {
        const double a = std::ldexp(g.range(-1, 1), g.below(200) - 100);
        visit(a, std::ldexp(g.range(-1, 1), g.below(200) - 100));
        const double x = g.range(-1e5, 1e5);
        visit(x, x * g.range(-1.01, 1.01));
    }
    for (int i = 0; i < 50000; ++i) {
        const double big = std::ldexp(g.range(0.5, 1), 1023 - g.below(30));
        visit(big, std::ldexp(g.range(0.5, 1), 1023 - g.below(30)));
        const double sub = std::ldexp(g.range(0, 1), -1022 - g.below(52));
        visit(sub, std::ldexp(g.range(0, 1), -1022 - g.below(52)));
        const double any = std::ldexp(g.range(0.5, 1), g.below(2000) - 1000);
        visit(any, std::ldexp(g.range(0.5, 1), g.below(2000) - 1000));
    }
}

inline void pow_sweep(const Visit& visit) {  // positive bases
    // Pitch ratios 2^(cents/1200) and their inverses.
    for (int c = -4800; c <= 4800; ++c) visit(2.0, c / 1200.0);
    Lcg g{5};
    for (int i = 0; i < 200000; ++i) {
        // Any base, with y such that |y log2 x| < 1000.
        const double x = std::ldexp(g.range(0.5, 1), g.below(400) - 200);
        const double l2 = std::log2(x);
        visit(x, l2 == 0 ? g.range(-1000, 1000) : g.range(-1000, 1000) / l2);
        // Levels and moderate exponents.
        const double level = g.range(1e-6, 1e6);
        visit(level, g.range(-8, 8));
        // Bases next to 1 with large exponents: the logarithm must be exact there.
        const double near1 = 1.0 + (g.below(2) ? 1 : -1) * std::ldexp(g.range(0, 1), -g.below(50) - 3);
        const double ln = std::log(near1);
        const double y = g.range(-650, 650);
        if (ln != 0) visit(near1, y / ln);
    }
    // Subnormal bases.
    for (int i = 0; i < 5000; ++i) {
        const double x = std::ldexp(g.range(0, 1), -1022 - g.below(50));
        visit(x, g.range(-0.9, 0.9));
    }
}

inline void log2_sweep(const Visit& visit) {
    // Candidate periods of the pitch tracker, in samples.
    for (int i = 0; i <= 200000; ++i) visit(2.0 + 4094.0 * i / 200000, 0);
    // Any positive double.
    Lcg g{13};
    for (int i = 0; i < 50000; ++i) visit(std::ldexp(g.range(0.5, 1), g.below(2098) - 1074), 0);
}

// sin and cos in long double with a reduction by pi/2 of our own: the x87
// sine of some C libraries reduces with a short pi and is wrong near multiples
// of pi for large arguments. Valid for |x| < 2^20.
inline long double ref_sincos(double x, bool cosine) {
    constexpr long double kLp1 = 0xc90fdaa200000000p-63L;  // pi/2 in 32 + 32 + 64 bits
    constexpr long double kLp2 = 0x85a308d300000000p-97L;
    constexpr long double kLp3 = 0x98cc51701b839a25p-132L;
    constexpr long double kInvPio2 = 0.636619772367581343075535053490057448L;
    const long double n = std::nearbyint(static_cast<long double>(x) * kInvPio2);
    const long double r = ((x - n * kLp1) - n * kLp2) - n * kLp3;
    const int q = (static_cast<int>(std::fmod(n, 4.0L)) + 4 + (cosine ? 1 : 0)) & 3;
    switch (q) {
        case 0: return std::sin(r);
        case 1: return std::cos(r);
        case 2: return -std::sin(r);
        default: return -std::cos(r);
    }
}

struct DetFunction {
    const char* name;                            // its name in the reference table
    int arguments;                               // 1 or 2
    double (*eval)(double x, double y);          // the function under test
    long double (*reference)(double x, double y);  // null: no ulp bound, the table only
    void (*sweep)(const Visit& visit);
};

inline std::span<const DetFunction> det_functions() {
    static const DetFunction functions[] = {
        {"sin", 1, [](double x, double) { return det_sin(x); },
         [](double x, double) { return ref_sincos(x, false); }, sincos_sweep},
        {"cos", 1, [](double x, double) { return det_cos(x); },
         [](double x, double) { return ref_sincos(x, true); }, sincos_sweep},
        {"atan2", 2, det_atan2,
         [](double y, double x) { return std::atan2(static_cast<long double>(y), static_cast<long double>(x)); },
         atan2_sweep},
        {"hypot", 2, det_hypot,  // long double has the range to square any double
         [](double x, double y) { return std::sqrt(static_cast<long double>(x) * x + static_cast<long double>(y) * y); },
         hypot_sweep},
        {"pow", 2, det_pow,
         [](double x, double y) { return std::pow(static_cast<long double>(x), static_cast<long double>(y)); },
         pow_sweep},
        {"path_log2", 1, [](double x, double) { return path_log2(x); }, nullptr, log2_sweep},
    };
    return functions;
}

// Arguments every function's table also holds, in all pairs: signed zeros,
// subnormals, the normal range's ends, values near 1, multiples of pi/2,
// huge integers, infinities and NaN.
inline std::span<const double> edge_arguments() {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    static const double edges[] = {
        0.0,     -0.0,   0x1p-1074, -0x1p-1074, 0x0.fffffffffffffp-1022, 0x1p-1022, -0x1p-1022, 1e-300,
        1e-20,   0.5,    1.0 - 0x1p-53, 1.0,    -1.0,  1.0 + 0x1p-52, 1.5707963267948966, 2.0,
        -2.0,    3.141592653589793, 3.0,  7.5, 100.0, 1e7, 1e22, 0x1.6ac5b262ca1ffp+849,
        1e300,   0x1.fffffffffffffp+1023, -0x1.fffffffffffffp+1023, kInf, -kInf,
        std::numeric_limits<double>::quiet_NaN(),
    };
    return edges;
}

}  // namespace kelmotra::dettest
