// Elementary functions from IEEE double arithmetic alone.
//
// Every operation below is a plain double addition, subtraction,
// multiplication, division or square root (all correctly rounded by IEEE 754),
// a comparison, or an integer operation on the bit pattern. Nothing depends on
// the C library, on fused multiply-add or on extended precision, so a build
// with SSE2 arithmetic gives the same bits on every platform.
//
// Layout of each function:
//   sin, cos  reduction to [-pi/4, pi/4] (Cody-Waite with a four-part pi/2 up
//             to |x| < 1.6e6, an exact multi-word product with 2/pi beyond),
//             then a minimax polynomial on the reduced argument carried as a
//             double-double.
//   atan2     the quotient of the smaller by the larger magnitude as a
//             double-double, a table of atan at 81 breakpoints and a short
//             polynomial for the remaining small angle, then the octant.
//   hypot     exact squares (Dekker), square root, one Newton correction.
//   pow       log(x) as a double-double (129-entry table, exact reduced
//             argument, series), y*log(x) as a double-double, exp by a
//             128-entry table of 2^(i/128) and a series.
//
// The sin, cos and atan coefficients were fitted by Remez exchange in 240-bit
// arithmetic, rounding one coefficient at a time to double and refitting the
// rest; log and exp work on arguments small enough for plain Taylor terms.
// The tables hold double-double values rounded from 1400-bit arithmetic.
//
// Measured against long double references over dense sweeps: sin 0.74,
// cos 0.73, atan2 0.53, hypot 0.50 (0.75 where the result is subnormal),
// pow 0.51 units in the last place at most.
#include "audio/det_math.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace kelmotra {
namespace {

// ---------------------------------------------------------------------------
// Bits and exact arithmetic helpers
// ---------------------------------------------------------------------------

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

inline std::uint64_t bits_of(double x) { return std::bit_cast<std::uint64_t>(x); }
inline double from_bits(std::uint64_t b) { return std::bit_cast<double>(b); }

// 2^n for -1022 <= n <= 1023.
inline double pow2(int n) { return from_bits(static_cast<std::uint64_t>(n + 1023) << 52); }

// x * 2^n for any n that keeps the result finite or lets it overflow or
// underflow: the steps before the last are exact, so the result is rounded once.
inline double scale_by_pow2(double x, int n) {
    while (n > 1023) { x *= pow2(1023); n -= 1023; }
    while (n < -1022) { x *= pow2(-1022 + 100); n += 1022 - 100; }  // keep one step normal
    return x * pow2(n);
}

// A value carried as an unevaluated sum hi + lo with |lo| <= ulp(hi)/2.
struct DD {
    double hi;
    double lo;
};

// a + b exactly, for any a and b.
inline DD two_sum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    const double e = (a - (s - bb)) + (b - bb);
    return {s, e};
}

// a + b exactly, when |a| >= |b| (or a is zero).
inline DD fast_two_sum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// Splits a (|a| < 2^996) into two halves of at most 26 significant bits each.
inline DD split(double a) {
    const double t = 134217729.0 * a;  // 2^27 + 1
    const double hi = t - (t - a);
    return {hi, a - hi};
}

// a * b exactly (Dekker), barring overflow and underflow of the parts.
inline DD two_prod(double a, double b) {
    const double p = a * b;
    const DD as = split(a);
    const DD bs = split(b);
    const double e = ((as.hi * bs.hi - p) + as.hi * bs.lo + as.lo * bs.hi) + as.lo * bs.lo;
    return {p, e};
}

inline DD two_sqr(double a) {
    const double p = a * a;
    const DD as = split(a);
    const double e = ((as.hi * as.hi - p) + 2.0 * as.hi * as.lo) + as.lo * as.lo;
    return {p, e};
}

// Nearest integer of |x| < 2^51 as a double (ties to even), by the
// round-to-nearest of the addition.
inline double round_to_int(double x) {
    constexpr double kShift = 0x1.8p52;
    return (x + kShift) - kShift;
}

// ---------------------------------------------------------------------------
// sin and cos
// ---------------------------------------------------------------------------

// x = q * pi/2 + (y.hi + y.lo), |y| <= pi/4 (a hair more after rounding).
struct Reduced {
    int q;
    DD y;
};

constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
// pi/2 in pieces: the first three have 33 significant bits, so k * piece is
// exact for |k| < 2^20.
constexpr double kPio2_1 = 0x1.921fb54400000p+0;
constexpr double kPio2_2 = 0x1.0b4611a600000p-34;
constexpr double kPio2_3 = 0x1.3198a2e000000p-69;
constexpr double kPio2_4 = 0x1.b839a252049c1p-104;
constexpr DD kPio2 = {0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54};
constexpr DD kPi = {0x1.921fb54442d18p+1, 0x1.1a62633145c07p-53};
constexpr DD kPio4 = {0x1.921fb54442d18p-1, 0x1.1a62633145c07p-55};

// Arguments below this take the Cody-Waite path (k < 2^20).
constexpr double kMediumLimit = 1.6e6;

Reduced reduce_medium(double x) {
    const double k = round_to_int(x * kTwoOverPi);
    // Over |x| < 1.6e6 no double lies closer than 2^-60.5 to a multiple of
    // pi/2, and the four pieces carry pi/2 to 2^-160, so the remainder keeps
    // more than 60 good bits in the worst case.
    const double a = x - k * kPio2_1;  // exact
    const DD b = two_sum(a, -(k * kPio2_2));
    const DD c = two_sum(b.hi, -(k * kPio2_3));
    const double tail = (b.lo + c.lo) - k * kPio2_4;
    return {static_cast<int>(k), fast_two_sum(c.hi, tail)};
}

// Bits of 2/pi, 32 to a word, most significant first, preceded by 64 zero
// bits so that a window may start before the binary point. Bit p of the
// sequence has the weight 2^(63 - p).
constexpr std::uint32_t kTwoOverPiBits[] = {
    0x00000000, 0x00000000, 0xa2f9836e, 0x4e441529, 0xfc2757d1, 0xf534ddc0,
    0xdb629599, 0x3c439041, 0xfe5163ab, 0xdebbc561, 0xb7246e3a, 0x424dd2e0,
    0x06492eea, 0x09d1921c, 0xfe1deb1c, 0xb129a73e, 0xe88235f5, 0x2ebb4484,
    0xe99c7026, 0xb45f7e41, 0x3991d639, 0x835339f4, 0x9c845f8b, 0xbdf9283b,
    0x1ff897ff, 0xde05980f, 0xef2f118b, 0x5a0a6d1f, 0x6d367ecf, 0x27cb09b7,
    0x4f463f66, 0x9e5fea2d, 0x7527bac7, 0xebe5f17b, 0x3d0739f7, 0x8a5292ea,
    0x6bfb5fb1, 0x1f8d5d08, 0x56033046, 0xfc7b6bab
};

// Payne-Hanek reduction for |x| >= 2^20: exact integer product of the
// mantissa with a 192-bit window of 2/pi.
Reduced reduce_large(double x) {
    const std::uint64_t bx = bits_of(x);
    const int e = static_cast<int>((bx >> 52) & 0x7ff) - 1075;  // x = m * 2^e
    const std::uint64_t m = (bx & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);

    // Bits of 2/pi of weight 2^-j with j <= e - 2 add multiples of 4 to
    // x * 2/pi and are left out; the window starts at j0 = e - 1, bit
    // p0 = j0 + 63 of the table, and holds 192 bits.
    const int p0 = e - 1 + 63;
    const int w0 = p0 / 32;
    const int sh = p0 % 32;
    std::uint32_t win[6];  // most significant first
    for (int i = 0; i < 6; ++i) {
        std::uint32_t v = kTwoOverPiBits[w0 + i] << sh;
        if (sh != 0) v |= kTwoOverPiBits[w0 + i + 1] >> (32 - sh);
        win[i] = v;
    }
    // prod = m * window, least significant word first; x * 2/pi is
    // congruent to prod * 2^-190 modulo 4.
    const std::uint64_t mlo = m & 0xffffffffu;
    const std::uint64_t mhi = m >> 32;
    std::uint32_t prod[8] = {};
    for (int pass = 0; pass < 2; ++pass) {
        const std::uint64_t f = pass == 0 ? mlo : mhi;
        std::uint64_t carry = 0;
        for (int i = 0; i < 6; ++i) {
            const int at = i + pass;
            const std::uint64_t t = f * win[5 - i] + prod[at] + carry;
            prod[at] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        for (int at = 6 + pass; at < 8 && carry != 0; ++at) {
            const std::uint64_t t = std::uint64_t{prod[at]} + carry;
            prod[at] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
    }
    int q = static_cast<int>((prod[5] >> 30) & 3);
    prod[5] &= 0x3fffffffu;  // the fraction F: bits 0..189
    const bool upper_half = (prod[5] & 0x20000000u) != 0;
    if (upper_half) {
        // F >= 1/2: take the remainder as F - 1, of magnitude 2^190 - F.
        ++q;
        std::uint64_t borrow = 0;
        for (int i = 0; i < 6; ++i) {
            const std::uint64_t t = std::uint64_t{0} - prod[i] - borrow;
            prod[i] = static_cast<std::uint32_t>(t);
            borrow = (t >> 32) != 0 ? 1 : 0;
        }
        prod[5] &= 0x3fffffffu;
    }
    // The words as doubles (each exact), summed smallest first without loss.
    DD f = {0.0, 0.0};
    for (int i = 0; i < 6; ++i) {
        const double word = static_cast<double>(prod[i]) * pow2(32 * i - 190);
        const DD s = two_sum(f.hi, word);
        f = {s.hi, f.lo + s.lo};
    }
    f = fast_two_sum(f.hi, f.lo);
    // Remainder in radians: f * pi/2.
    DD r = two_prod(f.hi, kPio2.hi);
    r.lo += f.hi * kPio2.lo + f.lo * kPio2.hi;
    r = fast_two_sum(r.hi, r.lo);
    if (upper_half) r = {-r.hi, -r.lo};
    if (x < 0) {
        q = -q;
        r = {-r.hi, -r.lo};
    }
    return {q, r};
}

Reduced reduce(double x) {
    if (std::fabs(x) < kMediumLimit) return reduce_medium(x);
    return reduce_large(x);
}

// sin(y.hi + y.lo) for |y| <= pi/4:
// sin(y) = y + y^3 * S(y^2), and the tail adds y.lo * cos(y) ~ y.lo * (1 - y^2/2).
// Relative error of the polynomial: 2^-57.9.
inline double sin_kernel(DD y) {
    constexpr double S1 = -0x1.5555555555548p-3;
    constexpr double S2 = 0x1.111111110f730p-7;
    constexpr double S3 = -0x1.a01a019be9217p-13;
    constexpr double S4 = 0x1.71de35552b52cp-19;
    constexpr double S5 = -0x1.ae5e4b83e46f4p-26;
    constexpr double S6 = 0x1.5d8b559495e22p-33;
    const double z = y.hi * y.hi;
    const double v = z * y.hi;
    const double r = S2 + z * (S3 + z * (S4 + z * (S5 + z * S6)));
    return y.hi + ((v * S1 + (v * (z * r) - (0.5 * z) * y.lo)) + y.lo);
}

// cos(y.hi + y.lo) for |y| <= pi/4:
// cos(y) = 1 - y^2/2 + y^4 * C(y^2), and the tail subtracts y.lo * sin(y) ~ y.lo * y.
// The subtraction 1 - y^2/2 is done exactly (w plus its rounding error).
// Relative error of the polynomial: 2^-63.9.
inline double cos_kernel(DD y) {
    constexpr double C1 = 0x1.555555555554bp-5;
    constexpr double C2 = -0x1.6c16c16c15015p-10;
    constexpr double C3 = 0x1.a01a019c8f254p-16;
    constexpr double C4 = -0x1.27e4f7f19148bp-22;
    constexpr double C5 = 0x1.1ee9dbcefbddep-29;
    constexpr double C6 = -0x1.8fa684873ff4bp-37;
    const DD z = two_sqr(y.hi);
    const double hz = 0.5 * z.hi;
    const double w = 1.0 - hz;
    const double poly = z.hi * z.hi * (C1 + z.hi * (C2 + z.hi * (C3 + z.hi * (C4 + z.hi * (C5 + z.hi * C6)))));
    return w + ((((1.0 - w) - hz) - 0.5 * z.lo) + (poly - y.hi * y.lo));
}

// ---------------------------------------------------------------------------
// atan2
// ---------------------------------------------------------------------------

// atan(u) = u + u^3 * A(u^2) for |u| <= 1/32; relative error 2^-62.3.
inline double atan_tail(double u) {
    constexpr double A1 = -0x1.55555555554eep-2;
    constexpr double A2 = 0x1.99999997a29e0p-3;
    constexpr double A3 = -0x1.2492316146d30p-3;
    constexpr double A4 = 0x1.c639f2997da1ap-4;
    const double z = u * u;
    return u * z * (A1 + z * (A2 + z * (A3 + z * A4)));
}

// atan(c) as double-double at c = 2^e * (1 + (k + 1/2)/16), entry (e + 5) * 16 + k,
// e = -5..-1, k = 0..15; the last entry is c = 1 + 1/32 (reached by t = 1 alone).
constexpr DD kAtanTable[81] = {
    {0x1.07e89e3abee7ep-5, -0x1.487ba8ef8f523p-62},
    {0x1.17e41b2bdeb61p-5, -0x1.ec808e6941860p-61},
    {0x1.27df0c70b94dfp-5, 0x1.edc1fc47f3298p-60},
    {0x1.37d96a1875a50p-5, 0x1.14630cae354c7p-59},
    {0x1.47d32c33f3cb4p-5, 0x1.a00db0726717dp-59},
    {0x1.57cc4ad5e46d1p-5, 0x1.af5b692e5208cp-59},
    {0x1.67c4be12e0476p-5, 0x1.edbefc2789435p-61},
    {0x1.77bc7e017f8dbp-5, -0x1.1b2746d8fa6a3p-60},
    {0x1.87b382ba71414p-5, 0x1.438cb47badbd9p-60},
    {0x1.97a9c4589278dp-5, -0x1.3a5d9acededc3p-59},
    {0x1.a79f3af90597cp-5, 0x1.fc19bde1816d2p-61},
    {0x1.b793debb49750p-5, 0x1.aad654cd739d1p-61},
    {0x1.c787a7c1506fdp-5, 0x1.993ff6d7d0532p-64},
    {0x1.d77a8e2f9772cp-5, -0x1.f361e817d1ba4p-62},
    {0x1.e76c8a2d3ce3cp-5, -0x1.dd1a3cdadc8b8p-59},
    {0x1.f75d93e417809p-5, 0x1.91c5384f38a8dp-59},
    {0x1.07a2a58a0c16fp-4, 0x1.286a0aa8fbfd2p-58},
    {0x1.1790a88aca931p-4, 0x1.c57fd08281008p-58},
    {0x1.277c80c02ec4dp-4, 0x1.869be03c4d7f0p-58},
    {0x1.37660f1a6b5d8p-4, 0x1.00c2bea115ef0p-58},
    {0x1.474d34a4bbb9dp-4, -0x1.0d3965910af34p-62},
    {0x1.5731d286c4ecbp-4, -0x1.e6e754b5c9fd0p-59},
    {0x1.6713ca05f38b3p-4, 0x1.8844be8e0089bp-61},
    {0x1.76f2fc86d613dp-4, -0x1.0517b6267cdb9p-59},
    {0x1.86cf4b8e73cbfp-4, -0x1.dcdd915cf736bp-58},
    {0x1.96a898c39fefbp-4, -0x1.1cfa6eef407cep-58},
    {0x1.a67ec5f04910ap-4, 0x1.9eda51bd12082p-58},
    {0x1.b651b502c480ap-4, -0x1.c46fc87331ba0p-58},
    {0x1.c621480f15a6ap-4, -0x1.cfccaa3f66870p-60},
    {0x1.d5ed6150311dcp-4, 0x1.eb3fd6855286cp-59},
    {0x1.e5b5e3293b7cfp-4, 0x1.d4aae80ff2fd5p-59},
    {0x1.f57ab026c3a90p-4, -0x1.c26c3afc8b17ap-59},
    {0x1.068d584212b3ep-3, -0x1.9e2d283019bfdp-57},
    {0x1.1646541060850p-3, 0x1.6bcee8ae7ea92p-57},
    {0x1.25f6e171a535cp-3, 0x1.7c6d7bde1a310p-57},
    {0x1.359e8edeb99a4p-3, -0x1.a5fd74e4604c6p-57},
    {0x1.453cec6092a9ep-3, 0x1.1f653b3a5a78bp-57},
    {0x1.54d18ba11570ap-3, 0x1.18282f2884073p-57},
    {0x1.645bfffb3aa74p-3, -0x1.f536b677c2cb4p-60},
    {0x1.73dbde8a7d202p-3, -0x1.5ad0f6d4a665dp-58},
    {0x1.8350be398ebc8p-3, -0x1.5a91332b9c90dp-58},
    {0x1.92ba37d050272p-3, -0x1.0d3ded0ff4764p-57},
    {0x1.a217e601081a6p-3, -0x1.0def8a60af374p-57},
    {0x1.b1696574d780cp-3, -0x1.85ab8fc15a673p-58},
    {0x1.c0ae54d768467p-3, -0x1.04cdbf55f26dcp-57},
    {0x1.cfe654e1d5395p-3, 0x1.47b9a3f71eafbp-57},
    {0x1.df110864c9d9ep-3, -0x1.5818b53bf4781p-60},
    {0x1.ee2e1451d980dp-3, -0x1.9a7708c46ba91p-58},
    {0x1.025fa510665b6p-2, -0x1.672df6832fa48p-56},
    {0x1.1151a362431cap-2, -0x1.4dc8dc9077b9fp-56},
    {0x1.2025567e47c96p-2, -0x1.1832328f4290ep-57},
    {0x1.2ed987a823cfep-2, 0x1.b91258ea012cap-57},
    {0x1.3d6d129271134p-2, 0x1.137ca41cc958ap-56},
    {0x1.4bdee586890e7p-2, -0x1.e4dc77c22a757p-57},
    {0x1.5a2e0175e0f4ep-2, 0x1.13b7a8f82e457p-56},
    {0x1.685979f5fa6fep-2, -0x1.257814d1ada9cp-59},
    {0x1.7660752817502p-2, -0x1.dd11791cc7600p-59},
    {0x1.84422b8df95d7p-2, 0x1.d76a0299b41b6p-56},
    {0x1.91fde7cd0c662p-2, 0x1.1074188054b53p-56},
    {0x1.9f93066168002p-2, -0x1.c827047c9439ap-56},
    {0x1.ad00f5422058bp-2, 0x1.fc4c33891d2e8p-56},
    {0x1.ba473378624a5p-2, 0x1.519a1b46e4affp-56},
    {0x1.c76550aad71f9p-2, -0x1.74b8bff7043e4p-56},
    {0x1.d45aec9ec862bp-2, 0x1.89421163ef92dp-57},
    {0x1.e77eb7f175a34p-2, 0x1.0e53dc1bf3435p-56},
    {0x1.0039c73c1a40cp-1, -0x1.b32c949c9d593p-55},
    {0x1.0c6145b5b43dap-1, 0x1.974fa13b5404fp-58},
    {0x1.1835a88be7c13p-1, 0x1.c621cec00c301p-55},
    {0x1.23b71e2cc9e6ap-1, 0x1.c421c9f38224ep-57},
    {0x1.2ee628406cbcap-1, 0x1.c5d5e9ff0cf8dp-55},
    {0x1.39c391cd4171ap-1, -0x1.2304331d8bf46p-55},
    {0x1.445065b795b56p-1, -0x1.f76d0163f79c8p-56},
    {0x1.4e8de5bb6ec04p-1, 0x1.4a33dbeb3796cp-55},
    {0x1.587d81f732fbbp-1, -0x1.5e5c9d8c5a950p-56},
    {0x1.6220d115d7b8ep-1, -0x1.2b785350ee8c1p-57},
    {0x1.6b798920b3d99p-1, -0x1.a80386188c50ep-55},
    {0x1.748978fba8e0fp-1, 0x1.7b2a6165884a1p-59},
    {0x1.7d528289fa093p-1, 0x1.560821e2f3aa9p-55},
    {0x1.85d69576cc2c5p-1, 0x1.6b66e7fc8b8c3p-57},
    {0x1.8e17aa99cc05ep-1, -0x1.ec182ab042f61p-56},
    {0x1.9a000a935bd8ep-1, 0x1.59411df0dccefp-56}
};

// atan(t) for 0 <= t = t.hi + t.lo <= 1, as hi + lo (hi a double, lo a small tail).
inline DD atan_unit(DD t) {
    if (t.hi < 0x1p-5) return {t.hi, t.lo + atan_tail(t.hi)};
    const std::uint64_t b = bits_of(t.hi);
    const int e = static_cast<int>(b >> 52) - 1023;  // -5..0
    const int idx = (e + 5) * 16 + static_cast<int>((b >> 48) & 15);
    // The breakpoint: t.hi's top four fraction bits and a half step.
    const double c = from_bits((b & ~((std::uint64_t{1} << 48) - 1)) | (std::uint64_t{1} << 47));
    // atan(t) = atan(c) + atan(d), d = (t - c) / (1 + t c); t.hi - c is exact.
    const double d = ((t.hi - c) + t.lo) / (1.0 + t.hi * c);
    return {kAtanTable[idx].hi, kAtanTable[idx].lo + (d + atan_tail(d))};
}

// ---------------------------------------------------------------------------
// pow
// ---------------------------------------------------------------------------

// For mantissa index j (the fraction rounded to 7 bits): 1/c rounded to
// 10 significant bits, and -log of it as hi + lo with hi on the grid of
// 2^-42 (so that k * kLn2Hi + hi is exact). c = 1 + j/128 for j < 54; for
// j >= 54 the mantissa is halved and c = (1 + j/128) / 2.
struct LogEntry {
    double inv;
    double logc_hi;
    double logc_lo;
};
constexpr LogEntry kLogTable[129] = {
    {0x1.0000000000000p+0, 0x0.0p+0, 0x0.0p+0},
    {0x1.fc00000000000p-1, 0x1.0101575880000p-7, 0x1.bce251998b506p-44},
    {0x1.f800000000000p-1, 0x1.0205658930000p-6, 0x1.611d27c8e8417p-44},
    {0x1.f480000000000p-1, 0x1.74321d3d00000p-6, 0x1.b4a690fe94778p-48},
    {0x1.f080000000000p-1, 0x1.f7a9b16780000p-6, 0x1.42ad9271be7d7p-45},
    {0x1.ed00000000000p-1, 0x1.35c8bfaa10000p-5, 0x1.8357d5ef9eb35p-44},
    {0x1.e900000000000p-1, 0x1.788595a358000p-5, -0x1.08b0d083b3a4cp-46},
    {0x1.e580000000000p-1, 0x1.b35dd9b588000p-5, 0x1.d5674d6cf558ep-44},
    {0x1.e200000000000p-1, 0x1.eea31c0068000p-5, 0x1.c3dd83606d891p-44},
    {0x1.de80000000000p-1, 0x1.152b799bb4000p-4, -0x1.9bb2907030829p-47},
    {0x1.db00000000000p-1, 0x1.333d7f8184000p-4, -0x1.692b6a81b8848p-49},
    {0x1.d780000000000p-1, 0x1.5188742260000p-4, 0x1.30a1d96258b3ep-44},
    {0x1.d400000000000p-1, 0x1.700d30aeac000p-4, 0x1.c1e8da99ded32p-49},
    {0x1.d100000000000p-1, 0x1.8a6477a91c000p-4, 0x1.c28c0af9bd6dfp-44},
    {0x1.cd80000000000p-1, 0x1.a956d3ecac000p-4, 0x1.e63794c02c4afp-44},
    {0x1.ca80000000000p-1, 0x1.c40d6425a4000p-4, 0x1.cb1121d1930ddp-44},
    {0x1.c700000000000p-1, 0x1.e3707ee304000p-4, 0x1.0f684e6766abdp-45},
    {0x1.c400000000000p-1, 0x1.fe89139dbc000p-4, 0x1.56594d82f7a82p-44},
    {0x1.c100000000000p-1, 0x1.0ce7ecdccc000p-3, 0x1.4652dabff5447p-46},
    {0x1.be00000000000p-1, 0x1.1aa2b7e240000p-3, -0x1.1ac38dde3b366p-44},
    {0x1.bb00000000000p-1, 0x1.28753bc11a000p-3, 0x1.7494e359302e6p-44},
    {0x1.b800000000000p-1, 0x1.365fcb015a000p-3, -0x1.fd3a0afb9691bp-44},
    {0x1.b500000000000p-1, 0x1.4462b9dc9c000p-3, -0x1.84858a711b062p-44},
    {0x1.b200000000000p-1, 0x1.527e5e4a1c000p-3, -0x1.4e60b8d4b411dp-44},
    {0x1.af00000000000p-1, 0x1.60b3100b0a000p-3, -0x1.71456c988f814p-44},
    {0x1.ac80000000000p-1, 0x1.6c9d07d204000p-3, -0x1.c73fafd9b2dcap-50},
    {0x1.a980000000000p-1, 0x1.7b00916516000p-3, -0x1.ae75fcb067e57p-44},
    {0x1.a700000000000p-1, 0x1.871213750e000p-3, 0x1.328eb42f9af75p-44},
    {0x1.a400000000000p-1, 0x1.95a5adcf70000p-3, 0x1.7f22858a0ff6fp-47},
    {0x1.a180000000000p-1, 0x1.a1dfc40f1c000p-3, -0x1.01e0f004f3781p-44},
    {0x1.9f00000000000p-1, 0x1.ae2ca6f672000p-3, 0x1.7a8d5ae54f550p-44},
    {0x1.9c00000000000p-1, 0x1.bd087383be000p-3, -0x1.d4bc4595412b6p-45},
    {0x1.9980000000000p-1, 0x1.c97f8079d4000p-3, 0x1.3b161a8c6e6c5p-45},
    {0x1.9700000000000p-1, 0x1.d60a17f904000p-3, -0x1.5d6e06fc20d39p-44},
    {0x1.9480000000000p-1, 0x1.e2a877a6b2000p-3, 0x1.823817787081ap-44},
    {0x1.9200000000000p-1, 0x1.ef5ade4dd0000p-3, -0x1.a211565bb8e11p-51},
    {0x1.8f80000000000p-1, 0x1.fc218be620000p-3, 0x1.4bba46f1cf6a0p-44},
    {0x1.8d00000000000p-1, 0x1.047e60cde8000p-2, 0x1.dbdf10d397f3cp-45},
    {0x1.8b00000000000p-1, 0x1.09aa572e6c000p-2, 0x1.b50a1e1734342p-44},
    {0x1.8880000000000p-1, 0x1.102ac0a35d000p-2, -0x1.f1fbddfdfd686p-45},
    {0x1.8600000000000p-1, 0x1.16b5ccbad0000p-2, -0x1.23299042d74bfp-44},
    {0x1.8400000000000p-1, 0x1.1bf99635a7000p-2, -0x1.1ac89575c2125p-44},
    {0x1.8180000000000p-1, 0x1.22981fbef8000p-2, -0x1.a1421609580dap-44},
    {0x1.7f80000000000p-1, 0x1.27ebaf58d9000p-2, -0x1.b198800b4bda7p-45},
    {0x1.7d00000000000p-1, 0x1.2e9e2bce12000p-2, 0x1.4300c128d1dc2p-45},
    {0x1.7b00000000000p-1, 0x1.3401e12aed000p-2, -0x1.17c73556e291dp-44},
    {0x1.7880000000000p-1, 0x1.3ac8ca38e6000p-2, -0x1.d0befbc02be4ap-45},
    {0x1.7680000000000p-1, 0x1.403d086cea000p-2, 0x1.e6ef574487308p-44},
    {0x1.7480000000000p-1, 0x1.45b8c0a17e000p-2, -0x1.d9120e7d0a853p-47},
    {0x1.7280000000000p-1, 0x1.4b3c077268000p-2, -0x1.65b4681052b9fp-46},
    {0x1.7000000000000p-1, 0x1.522ae0738a000p-2, 0x1.ebe708164c759p-45},
    {0x1.6e00000000000p-1, 0x1.57bf753c8d000p-2, 0x1.fadedee5d40efp-46},
    {0x1.6c00000000000p-1, 0x1.5d5bddf596000p-2, -0x1.a0b2a08a465dcp-47},
    {0x1.6a00000000000p-1, 0x1.630030b3ab000p-2, -0x1.db623e731ae00p-45},
    {0x1.6800000000000p+0, -0x1.5d1bdbf581000p-2, 0x1.8d6bdc9c7c238p-44},
    {0x1.6600000000000p+0, -0x1.5767717456000p-2, 0x1.64ead9524d7cap-44},
    {0x1.6400000000000p+0, -0x1.51aad872e0000p-2, 0x1.f4bd8db0a7cc1p-44},
    {0x1.6200000000000p+0, -0x1.4be5f95778000p-2, 0x1.d7c92cd9ad824p-44},
    {0x1.6080000000000p+0, -0x1.478cd5959b000p-2, -0x1.ec89bf0c8d098p-45},
    {0x1.5e80000000000p+0, -0x1.41b941cce1000p-2, 0x1.0469013e43fc9p-44},
    {0x1.5c80000000000p+0, -0x1.3bdd24eb15000p-2, 0x1.257b4970e6ed9p-44},
    {0x1.5b00000000000p+0, -0x1.3772662bfe000p-2, 0x1.e9436ac53b023p-44},
    {0x1.5900000000000p+0, -0x1.31871c9544000p-2, -0x1.84fab94cecfd9p-46},
    {0x1.5700000000000p+0, -0x1.2b9303ab8a000p-2, 0x1.6db12d6bfb0a5p-45},
    {0x1.5580000000000p+0, -0x1.27161913f8000p-2, -0x1.4f4f1f61564b4p-44},
    {0x1.5380000000000p+0, -0x1.2112559861000p-2, -0x1.82e78ba2950c4p-44},
    {0x1.5200000000000p+0, -0x1.1c898c169a000p-2, 0x1.81410e5c62affp-44},
    {0x1.5000000000000p+0, -0x1.1675cababa000p-2, -0x1.8380e731f55c4p-44},
    {0x1.4e80000000000p+0, -0x1.11e0e2dada000p-2, 0x1.a47f88fcce5bap-45},
    {0x1.4c80000000000p+0, -0x1.0bbccdb0d2000p-2, -0x1.2f32ccc5dcdfbp-44},
    {0x1.4b00000000000p+0, -0x1.071b85fcd6000p-2, 0x1.bcb8ba3e01a11p-44},
    {0x1.4980000000000p+0, -0x1.0274dc16c2000p-2, -0x1.979e89cf835c2p-45},
    {0x1.4780000000000p+0, -0x1.f871b28956000p-3, 0x1.f75fd6a526efep-44},
    {0x1.4600000000000p+0, -0x1.ef0adcbdc6000p-3, 0x1.b26b79c86af24p-45},
    {0x1.4480000000000p+0, -0x1.e598ed5a88000p-3, 0x1.d134bcf1e98a1p-47},
    {0x1.4300000000000p+0, -0x1.dc1bca0abe000p-3, -0x1.8fac1a628ccc6p-44},
    {0x1.4180000000000p+0, -0x1.d293581b6c000p-3, 0x1.83270128aaa5fp-44},
    {0x1.3f80000000000p+0, -0x1.c5cba543ae000p-3, -0x1.0929decb454fcp-45},
    {0x1.3e00000000000p+0, -0x1.bc286742d8000p-3, -0x1.9ac53f39d121cp-44},
    {0x1.3c80000000000p+0, -0x1.b2797ee464000p-3, 0x1.be88a906d00a9p-44},
    {0x1.3b00000000000p+0, -0x1.a8becfc882000p-3, -0x1.e3185cf21b9cfp-44},
    {0x1.3980000000000p+0, -0x1.9ef83d276a000p-3, 0x1.730b7b3f9ce00p-45},
    {0x1.3800000000000p+0, -0x1.9525a9cf46000p-3, 0x1.297137d9f158fp-44},
    {0x1.3680000000000p+0, -0x1.8b46f82236000p-3, -0x1.2d9f2102dd7c9p-46},
    {0x1.3500000000000p+0, -0x1.815c0a1436000p-3, 0x1.02a52f9201ce8p-44},
    {0x1.3380000000000p+0, -0x1.7764c128f2000p-3, -0x1.274903479e3d1p-47},
    {0x1.3200000000000p+0, -0x1.6d60fe719e000p-3, 0x1.bc6e557134767p-44},
    {0x1.3100000000000p+0, -0x1.66acd4272a000p-3, -0x1.aa1bdbfc6c785p-44},
    {0x1.2f80000000000p+0, -0x1.5c94007598000p-3, 0x1.a8d948cd23322p-44},
    {0x1.2e00000000000p+0, -0x1.526e5e3a1c000p-3, 0x1.790ba37fc5238p-44},
    {0x1.2c80000000000p+0, -0x1.483bccce6e000p-3, -0x1.eea52723f6369p-46},
    {0x1.2b80000000000p+0, -0x1.41682bf728000p-3, 0x1.10047081f849dp-45},
    {0x1.2a00000000000p+0, -0x1.371fc201e8000p-3, -0x1.ee8779b2d8abcp-44},
    {0x1.2880000000000p+0, -0x1.2cca0f5f60000p-3, 0x1.b5ef191aff120p-44},
    {0x1.2700000000000p+0, -0x1.2266f190a6000p-3, 0x1.4d20ab840e7f6p-45},
    {0x1.2600000000000p+0, -0x1.1b72ad52f6000p-3, -0x1.e80a41811a396p-45},
    {0x1.2480000000000p+0, -0x1.10f8e42254000p-3, 0x1.93b3843396307p-45},
    {0x1.2380000000000p+0, -0x1.09f561ee72000p-3, 0x1.8f3057157d1a8p-45},
    {0x1.2200000000000p+0, -0x1.fec9131dc0000p-4, 0x1.54555d1ae6607p-44},
    {0x1.2080000000000p+0, -0x1.e98b549670000p-4, -0x1.4677489c50e97p-44},
    {0x1.1f80000000000p+0, -0x1.db5270187c000p-4, -0x1.9277856ae181fp-44},
    {0x1.1e00000000000p+0, -0x1.c5e548f5bc000p-4, -0x1.d0c57585fbe06p-46},
    {0x1.1d00000000000p+0, -0x1.b78c82bb10000p-4, 0x1.25ef7bc3987e7p-44},
    {0x1.1b80000000000p+0, -0x1.a1ef1d8060000p-4, -0x1.cd4176df97bcbp-44},
    {0x1.1a80000000000p+0, -0x1.9375e55594000p-4, -0x1.eddc37380c364p-44},
    {0x1.1980000000000p+0, -0x1.84ef898e84000p-4, 0x1.7d5cd246977c9p-44},
    {0x1.1800000000000p+0, -0x1.6f0d28ae58000p-4, 0x1.4b4641b664613p-44},
    {0x1.1700000000000p+0, -0x1.60658a9374000p-4, -0x1.0c3b1dee9c4f8p-44},
    {0x1.1580000000000p+0, -0x1.4a50d3aa1c000p-4, 0x1.f7fe1308973e2p-45},
    {0x1.1480000000000p+0, -0x1.3b87598b1c000p-4, 0x1.2241594aca313p-45},
    {0x1.1380000000000p+0, -0x1.2cb0283f5c000p-4, -0x1.e1ee2ca657021p-44},
    {0x1.1200000000000p+0, -0x1.16536eea38000p-4, 0x1.47c5e768fa309p-46},
    {0x1.1100000000000p+0, -0x1.0759835990000p-4, 0x1.b8ecfe4b59987p-44},
    {0x1.1000000000000p+0, -0x1.f0a30c0118000p-5, 0x1.d599e83368e91p-45},
    {0x1.0f00000000000p+0, -0x1.d276b8adb0000p-5, -0x1.6a423c78a64b0p-46},
    {0x1.0d80000000000p+0, -0x1.a4fe9ffa40000p-5, 0x1.6e584a0402925p-44},
    {0x1.0c80000000000p+0, -0x1.868a830840000p-5, 0x1.2623a134ac693p-46},
    {0x1.0b80000000000p+0, -0x1.67f94f0948000p-5, -0x1.ecc1f3e7e4ed7p-44},
    {0x1.0a80000000000p+0, -0x1.494acc34d8000p-5, -0x1.11c78a56fd247p-45},
    {0x1.0980000000000p+0, -0x1.2a7ec22150000p-5, 0x1.78ce77a9163fep-45},
    {0x1.0880000000000p+0, -0x1.0b94f7c198000p-5, 0x1.e89896f022783p-45},
    {0x1.0700000000000p+0, -0x1.b9fc027b00000p-6, 0x1.b9a010ae6922ap-44},
    {0x1.0600000000000p+0, -0x1.7b91b07d60000p-6, 0x1.3b955b602ace4p-44},
    {0x1.0500000000000p+0, -0x1.3cea443470000p-6, 0x1.6a2c432d6a40bp-44},
    {0x1.0400000000000p+0, -0x1.fc0a8b0fc0000p-7, -0x1.f1e7cf6d3a69cp-50},
    {0x1.0300000000000p+0, -0x1.7dc475f820000p-7, 0x1.eb1245b5da1f5p-44},
    {0x1.0200000000000p+0, -0x1.fe02a6b100000p-8, -0x1.9e23f0dda40e4p-46},
    {0x1.0100000000000p+0, -0x1.ff00aa2b00000p-9, -0x1.0bc04a086b56ap-45},
    {0x1.0000000000000p+0, 0x0.0p+0, 0x0.0p+0}
};

// 2^(i/128) as double-double.
constexpr DD kExp2Table[128] = {
    {0x1.0000000000000p+0, 0x0.0p+0},
    {0x1.0163da9fb3335p+0, 0x1.b61299ab8cdb7p-54},
    {0x1.02c9a3e778061p+0, -0x1.19083535b085dp-56},
    {0x1.04315e86e7f85p+0, -0x1.0a31c1977c96ep-54},
    {0x1.059b0d3158574p+0, 0x1.d73e2a475b465p-55},
    {0x1.0706b29ddf6dep+0, -0x1.c91dfe2b13c27p-55},
    {0x1.0874518759bc8p+0, 0x1.186be4bb284ffp-57},
    {0x1.09e3ecac6f383p+0, 0x1.1487818316136p-54},
    {0x1.0b5586cf9890fp+0, 0x1.8a62e4adc610bp-54},
    {0x1.0cc922b7247f7p+0, 0x1.01edc16e24f71p-54},
    {0x1.0e3ec32d3d1a2p+0, 0x1.03a1727c57b53p-59},
    {0x1.0fb66affed31bp+0, -0x1.b9bedc44ebd7bp-57},
    {0x1.11301d0125b51p+0, -0x1.6c51039449b3ap-54},
    {0x1.12abdc06c31ccp+0, -0x1.1b514b36ca5c7p-58},
    {0x1.1429aaea92de0p+0, -0x1.32fbf9af1369ep-54},
    {0x1.15a98c8a58e51p+0, 0x1.2406ab9eeab0ap-55},
    {0x1.172b83c7d517bp+0, -0x1.19041b9d78a76p-55},
    {0x1.18af9388c8deap+0, -0x1.11023d1970f6cp-54},
    {0x1.1a35beb6fcb75p+0, 0x1.e5b4c7b4968e4p-55},
    {0x1.1bbe084045cd4p+0, -0x1.95386352ef607p-54},
    {0x1.1d4873168b9aap+0, 0x1.e016e00a2643cp-54},
    {0x1.1ed5022fcd91dp+0, -0x1.1df98027bb78cp-54},
    {0x1.2063b88628cd6p+0, 0x1.dc775814a8495p-55},
    {0x1.21f49917ddc96p+0, 0x1.2a97e9494a5eep-55},
    {0x1.2387a6e756238p+0, 0x1.9b07eb6c70573p-54},
    {0x1.251ce4fb2a63fp+0, 0x1.ac155bef4f4a4p-55},
    {0x1.26b4565e27cddp+0, 0x1.2bd339940e9d9p-55},
    {0x1.284dfe1f56381p+0, -0x1.a4c3a8c3f0d7ep-54},
    {0x1.29e9df51fdee1p+0, 0x1.612e8afad1255p-55},
    {0x1.2b87fd0dad990p+0, -0x1.10adcd6381aa4p-59},
    {0x1.2d285a6e4030bp+0, 0x1.0024754db41d5p-54},
    {0x1.2ecafa93e2f56p+0, 0x1.1ca0f45d52383p-56},
    {0x1.306fe0a31b715p+0, 0x1.6f46ad23182e4p-55},
    {0x1.32170fc4cd831p+0, 0x1.a9ce78e18047cp-55},
    {0x1.33c08b26416ffp+0, 0x1.32721843659a6p-54},
    {0x1.356c55f929ff1p+0, -0x1.b5cee5c4e4628p-55},
    {0x1.371a7373aa9cbp+0, -0x1.63aeabf42eae2p-54},
    {0x1.38cae6d05d866p+0, -0x1.e958d3c9904bdp-54},
    {0x1.3a7db34e59ff7p+0, -0x1.5e436d661f5e3p-56},
    {0x1.3c32dc313a8e5p+0, -0x1.efff8375d29c3p-54},
    {0x1.3dea64c123422p+0, 0x1.ada0911f09ebcp-55},
    {0x1.3fa4504ac801cp+0, -0x1.7d023f956f9f3p-54},
    {0x1.4160a21f72e2ap+0, -0x1.ef3691c309278p-58},
    {0x1.431f5d950a897p+0, -0x1.1c7dde35f7999p-55},
    {0x1.44e086061892dp+0, 0x1.89b7a04ef80d0p-59},
    {0x1.46a41ed1d0057p+0, 0x1.c944bd1648a76p-54},
    {0x1.486a2b5c13cd0p+0, 0x1.3c1a3b69062f0p-56},
    {0x1.4a32af0d7d3dep+0, 0x1.9cb62f3d1be56p-54},
    {0x1.4bfdad5362a27p+0, 0x1.d4397afec42e2p-56},
    {0x1.4dcb299fddd0dp+0, 0x1.8ecdbbc6a7833p-54},
    {0x1.4f9b2769d2ca7p+0, -0x1.4b309d25957e3p-54},
    {0x1.516daa2cf6642p+0, -0x1.f768569bd93efp-55},
    {0x1.5342b569d4f82p+0, -0x1.07abe1db13cadp-55},
    {0x1.551a4ca5d920fp+0, -0x1.d689cefede59bp-55},
    {0x1.56f4736b527dap+0, 0x1.9bb2c011d93adp-54},
    {0x1.58d12d497c7fdp+0, 0x1.295e15b9a1de8p-55},
    {0x1.5ab07dd485429p+0, 0x1.6324c054647adp-54},
    {0x1.5c9268a5946b7p+0, 0x1.c4b1b816986a2p-60},
    {0x1.5e76f15ad2148p+0, 0x1.ba6f93080e65ep-54},
    {0x1.605e1b976dc09p+0, -0x1.3e2429b56de47p-54},
    {0x1.6247eb03a5585p+0, -0x1.383c17e40b497p-54},
    {0x1.6434634ccc320p+0, -0x1.c483c759d8933p-55},
    {0x1.6623882552225p+0, -0x1.bb60987591c34p-54},
    {0x1.68155d44ca973p+0, 0x1.038ae44f73e65p-57},
    {0x1.6a09e667f3bcdp+0, -0x1.bdd3413b26456p-54},
    {0x1.6c012750bdabfp+0, -0x1.2895667ff0b0dp-56},
    {0x1.6dfb23c651a2fp+0, -0x1.bbe3a683c88abp-57},
    {0x1.6ff7df9519484p+0, -0x1.83c0f25860ef6p-55},
    {0x1.71f75e8ec5f74p+0, -0x1.16e4786887a99p-55},
    {0x1.73f9a48a58174p+0, -0x1.0a8d96c65d53cp-54},
    {0x1.75feb564267c9p+0, -0x1.0245957316dd3p-54},
    {0x1.780694fde5d3fp+0, 0x1.866b80a02162dp-54},
    {0x1.7a11473eb0187p+0, -0x1.41577ee04992fp-55},
    {0x1.7c1ed0130c132p+0, 0x1.f124cd1164dd6p-54},
    {0x1.7e2f336cf4e62p+0, 0x1.05d02ba15797ep-56},
    {0x1.80427543e1a12p+0, -0x1.27c86626d972bp-54},
    {0x1.82589994cce13p+0, -0x1.d4c1dd41532d8p-54},
    {0x1.8471a4623c7adp+0, -0x1.8d684a341cdfbp-55},
    {0x1.868d99b4492edp+0, -0x1.fc6f89bd4f6bap-54},
    {0x1.88ac7d98a6699p+0, 0x1.994c2f37cb53ap-54},
    {0x1.8ace5422aa0dbp+0, 0x1.6e9f156864b27p-54},
    {0x1.8cf3216b5448cp+0, -0x1.0d55e32e9e3aap-56},
    {0x1.8f1ae99157736p+0, 0x1.5cc13a2e3976cp-55},
    {0x1.9145b0b91ffc6p+0, -0x1.dd6792e582524p-54},
    {0x1.93737b0cdc5e5p+0, -0x1.75fc781b57ebcp-57},
    {0x1.95a44cbc8520fp+0, -0x1.64b7c96a5f039p-56},
    {0x1.97d829fde4e50p+0, -0x1.d185b7c1b85d1p-54},
    {0x1.9a0f170ca07bap+0, -0x1.173bd91cee632p-54},
    {0x1.9c49182a3f090p+0, 0x1.c7c46b071f2bep-56},
    {0x1.9e86319e32323p+0, 0x1.824ca78e64c6ep-56},
    {0x1.a0c667b5de565p+0, -0x1.359495d1cd533p-54},
    {0x1.a309bec4a2d33p+0, 0x1.6305c7ddc36abp-54},
    {0x1.a5503b23e255dp+0, -0x1.d2f6edb8d41e1p-54},
    {0x1.a799e1330b358p+0, 0x1.bcb7ecac563c7p-54},
    {0x1.a9e6b5579fdbfp+0, 0x1.0fac90ef7fd31p-54},
    {0x1.ac36bbfd3f37ap+0, -0x1.f9234cae76cd0p-55},
    {0x1.ae89f995ad3adp+0, 0x1.7a1cd345dcc81p-54},
    {0x1.b0e07298db666p+0, -0x1.bdef54c80e425p-54},
    {0x1.b33a2b84f15fbp+0, -0x1.2805e3084d708p-57},
    {0x1.b59728de5593ap+0, -0x1.c71dfbbba6de3p-54},
    {0x1.b7f76f2fb5e47p+0, -0x1.5584f7e54ac3bp-56},
    {0x1.ba5b030a1064ap+0, -0x1.efcd30e54292ep-54},
    {0x1.bcc1e904bc1d2p+0, 0x1.23dd07a2d9e84p-55},
    {0x1.bf2c25bd71e09p+0, -0x1.efdca3f6b9c73p-54},
    {0x1.c199bdd85529cp+0, 0x1.11065895048ddp-55},
    {0x1.c40ab5fffd07ap+0, 0x1.b4537e083c60ap-54},
    {0x1.c67f12e57d14bp+0, 0x1.2884dff483cadp-54},
    {0x1.c8f6d9406e7b5p+0, 0x1.1acbc48805c44p-56},
    {0x1.cb720dcef9069p+0, 0x1.503cbd1e949dbp-56},
    {0x1.cdf0b555dc3fap+0, -0x1.dd83b53829d72p-55},
    {0x1.d072d4a07897cp+0, -0x1.cbc3743797a9cp-54},
    {0x1.d2f87080d89f2p+0, -0x1.d487b719d8578p-54},
    {0x1.d5818dcfba487p+0, 0x1.2ed02d75b3707p-55},
    {0x1.d80e316c98398p+0, -0x1.11ec18beddfe8p-54},
    {0x1.da9e603db3285p+0, 0x1.c2300696db532p-54},
    {0x1.dd321f301b460p+0, 0x1.2da5778f018c3p-54},
    {0x1.dfc97337b9b5fp+0, -0x1.1a5cd4f184b5cp-54},
    {0x1.e264614f5a129p+0, -0x1.7b627817a1496p-54},
    {0x1.e502ee78b3ff6p+0, 0x1.39e8980a9cc8fp-55},
    {0x1.e7a51fbc74c83p+0, 0x1.2d522ca0c8de2p-54},
    {0x1.ea4afa2a490dap+0, -0x1.e9c23179c2893p-54},
    {0x1.ecf482d8e67f1p+0, -0x1.c93f3b411ad8cp-54},
    {0x1.efa1bee615a27p+0, 0x1.dc7f486a4b6b0p-54},
    {0x1.f252b376bba97p+0, 0x1.3a1a5bf0d8e43p-54},
    {0x1.f50765b6e4540p+0, 0x1.9d3e12dd8a18bp-54},
    {0x1.f7bfdad9cbe14p+0, -0x1.dbb12d006350ap-54},
    {0x1.fa7c1819e90d8p+0, 0x1.74853f3a5931ep-55},
    {0x1.fd3c22b8f71f1p+0, 0x1.2eb74966579e7p-57}
};

constexpr double kLn2Hi = 0x1.62e42fefa3800p-1;  // 42 bits: k * kLn2Hi exact for |k| < 2^11
constexpr double kLn2Lo = 0x1.ef35793c76730p-45;
constexpr double kInvLn2x128 = 0x1.71547652b82fep+7;
constexpr double kLn2by128Hi = 0x1.62e42fef80000p-8;  // 34 bits: k * hi exact for |k| < 2^19
constexpr double kLn2by128Lo = 0x1.1cf79abc9e3b4p-43;

// log(x) for finite x > 0 as double-double, relative error below 2^-68.
DD log_dd(double x) {
    int k = 0;
    if (x < 0x1p-1022) {
        x *= 0x1p54;
        k = -54;
    }
    const std::uint64_t bx = bits_of(x);
    k += static_cast<int>(bx >> 52) - 1023;
    const std::uint64_t frac = bx & ((std::uint64_t{1} << 52) - 1);
    const int j = static_cast<int>((frac + (std::uint64_t{1} << 44)) >> 45);  // 0..128
    // Mantissas from sqrt(2) up are halved (without a branch: the test is
    // unpredictable), so that z lies in [0.70, 1.42).
    const bool upper = j >= 54;
    const double z = from_bits(frac | (std::uint64_t{1023} << 52)) * (upper ? 0.5 : 1.0);
    k += upper ? 1 : 0;
    const LogEntry& ent = kLogTable[j];
    // r = z * inv - 1 exactly: z splits into 43 + 10 significant bits, each
    // part times the 10-bit inv is exact, and zh * inv lies within 1/2 of 1.
    const double zh = from_bits(bits_of(z) & ~std::uint64_t{0x3ff});
    const double zl = z - zh;
    // Both parts are multiples of 2^-62; when the second is the larger, their
    // sum is below 2^-40 and exact, so the fast form is exact throughout.
    const DD r = fast_two_sum(zh * ent.inv - 1.0, zl * ent.inv);  // |r| < 0.0043

    // log(1 + r) = r - r^2/2 + r^3 * (1/3 - r/4 + r^2/5 - ... + r^6/9);
    // the next term is below 2^-71 relative.
    // The series is evaluated in Estrin's form to keep the dependency chain short.
    const DD r2 = two_sqr(r.hi);
    const double rh = r.hi;
    const double rr = r2.hi;
    const double r4 = rr * rr;
    const double series =
        (rr * rh) * (((1.0 / 3 - 0.25 * rh) + rr * (0.2 - (1.0 / 6) * rh)) +
                     r4 * ((1.0 / 7 - 0.125 * rh) + rr * (1.0 / 9)));
    const double tail = ((r.lo - 0.5 * r2.lo) - rh * r.lo) + series;

    // k log 2 + log c + r - r^2/2 + tail. The first sum is exact (both terms on
    // the 2^-42 grid); after adding r the partial sum is at least 2^-8 or is r
    // itself, so it dominates r^2/2.
    const double kd = static_cast<double>(k);
    const double t = kd * kLn2Hi + ent.logc_hi;
    const DD u = two_sum(t, rh);
    const DD v = fast_two_sum(u.hi, -0.5 * r2.hi);
    const double lo = ((u.lo + v.lo) + tail) + (kd * kLn2Lo + ent.logc_lo);
    return fast_two_sum(v.hi, lo);
}

// exp(w.hi + w.lo) for -745.2 <= w.hi <= 709.8 (w.lo tiny), relative error
// about 2^-60 before the final rounding.
double exp_dd(DD w) {
    const double kd = round_to_int(w.hi * kInvLn2x128);
    const int k = static_cast<int>(kd);
    // |r| <= ln2/256 (plus rounding); w.hi - kd * hi is exact.
    const double r = (w.hi - kd * kLn2by128Hi) + (w.lo - kd * kLn2by128Lo);
    // exp(r) - 1, Taylor to r^5: the next term is below 2^-60 relative.
    const double rr = r * r;
    const double p = r + rr * ((0.5 + (1.0 / 6) * r) + rr * (1.0 / 24 + (1.0 / 120) * r));
    const DD& t = kExp2Table[k & 127];
    const double v = t.hi + (t.lo + t.hi * p);
    const int m = k >> 7;  // floor(k / 128)
    if (m < -1021 || m > 1022) return scale_by_pow2(v, m);
    return v * pow2(m);
}

bool is_integer(double y) { return std::floor(y) == y; }
bool is_odd_integer(double y) {
    if (!is_integer(y) || std::fabs(y) >= 0x1p53) return false;
    const double h = 0.5 * y;
    return std::floor(h) != h;
}

// pow for the cases other than finite x > 0 with finite y, following C99.
double pow_special(double x, double y) {
    if (std::isnan(x) || std::isnan(y)) return x + y;
    const bool odd = is_odd_integer(y);
    if (std::isinf(y)) {
        const double ax = std::fabs(x);
        if (ax == 1.0) return 1.0;
        return ((ax < 1.0) == (y < 0)) ? kInf : 0.0;
    }
    if (x == 0.0) {
        if (y > 0) return odd ? x : 0.0;
        return odd ? std::copysign(kInf, x) : kInf;
    }
    if (std::isinf(x)) {
        if (x > 0) return y > 0 ? kInf : 0.0;
        if (y > 0) return odd ? -kInf : kInf;
        return odd ? -0.0 : 0.0;
    }
    // Finite x < 0: defined for integer y only.
    if (!is_integer(y)) return kNaN;
    const double v = det_pow(-x, y);
    return odd ? -v : v;
}

}  // namespace

// ---------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------

double det_sin(double x) {
    const double ax = std::fabs(x);
    if (ax <= kPio4.hi) {
        if (ax < 0x1p-27) return x;  // sin x = x (1 - x^2/6) rounds to x
        return sin_kernel({x, 0.0});
    }
    if (!(ax < kInf)) return x - x;  // NaN for infinities and NaN
    const Reduced red = reduce(x);
    switch (red.q & 3) {
        case 0: return sin_kernel(red.y);
        case 1: return cos_kernel(red.y);
        case 2: return -sin_kernel(red.y);
        default: return -cos_kernel(red.y);
    }
}

double det_cos(double x) {
    const double ax = std::fabs(x);
    if (ax <= kPio4.hi) {
        if (ax < 0x1p-27) return 1.0;  // cos x = 1 - x^2/2 rounds to 1
        return cos_kernel({x, 0.0});
    }
    if (!(ax < kInf)) return x - x;
    const Reduced red = reduce(x);
    switch (red.q & 3) {
        case 0: return cos_kernel(red.y);
        case 1: return -sin_kernel(red.y);
        case 2: return -cos_kernel(red.y);
        default: return sin_kernel(red.y);
    }
}

double det_atan2(double y, double x) {
    if (std::isnan(x) || std::isnan(y)) return x + y;
    const bool yneg = std::signbit(y);
    const bool xneg = std::signbit(x);
    double ax = std::fabs(x);
    double ay = std::fabs(y);
    auto with_sign = [yneg](double v) { return yneg ? -v : v; };

    if (std::isinf(ax) || std::isinf(ay)) {
        if (std::isinf(ax) && std::isinf(ay)) {
            return with_sign(xneg ? 3.0 * kPio4.hi : kPio4.hi);  // 3 * pio4 rounds correctly
        }
        if (std::isinf(ay)) return with_sign(kPio2.hi);
        return with_sign(xneg ? kPi.hi : 0.0);
    }
    if (ay == 0.0) return with_sign(xneg ? kPi.hi : 0.0);
    if (ax == 0.0) return with_sign(kPio2.hi);

    // theta = atan(num / den) in [0, pi/4]; the angle is then
    //   theta, pi - theta, pi/2 - theta or pi/2 + theta.
    const bool swap = ay > ax;
    double num = swap ? ax : ay;
    double den = swap ? ay : ax;
    DD base = {0.0, 0.0};
    double sign = 1.0;
    if (swap) {
        base = kPio2;
        sign = xneg ? 1.0 : -1.0;
    } else if (xneg) {
        base = kPi;
        sign = -1.0;
    }

    DD theta;
    if (num < den * 0x1p-30) {
        // atan(t) = t (1 - t^2/3) rounds to t; the division is correctly rounded
        // and underflows gracefully.
        theta = {num / den, 0.0};
    } else {
        // Bring den into [2^-474, 2^500] so that the exact product below
        // neither overflows nor loses its low part.
        if (den > 0x1p500) {
            num *= 0x1p-600;
            den *= 0x1p-600;
        } else if (den < 0x1p-500) {
            num *= 0x1p600;
            den *= 0x1p600;
        }
        // The quotient as double-double: q + (num - q * den) / den.
        const double q = num / den;
        const DD p = two_prod(q, den);
        const double ql = ((num - p.hi) - p.lo) / den;
        theta = atan_unit({q, ql});
    }
    if (base.hi == 0.0) return with_sign(theta.hi + theta.lo);
    const DD h = two_sum(base.hi, sign * theta.hi);
    return with_sign(h.hi + ((h.lo + base.lo) + sign * theta.lo));
}

double det_hypot(double x, double y) {
    const double fx = std::fabs(x);
    const double fy = std::fabs(y);
    // Ordered without a branch: the comparison is unpredictable on real data.
    double ax = fx < fy ? fy : fx;
    double ay = fx < fy ? fx : fy;
    if (!(ax < kInf)) {
        if (std::isinf(fx) || std::isinf(fy)) return kInf;  // even with a NaN
        return fx + fy;                                     // NaN
    }
    if (ay == 0.0) return ax;
    if (ay < ax * 0x1p-54) return ax + ay;  // sqrt(1 + (ay/ax)^2) rounds to 1

    // Keep the squares and their exact low parts inside the normal range.
    double scale = 1.0;
    if (ax > 0x1p300) {
        ax *= 0x1p-600;
        ay *= 0x1p-600;
        scale = 0x1p600;
    } else if (ay < 0x1p-300) {
        ax *= 0x1p600;
        ay *= 0x1p600;
        scale = 0x1p-600;
    }
    // h = sqrt(s) for s = ax^2 + ay^2 rounded, then one Newton step with the
    // residual ax^2 + ay^2 - h^2 computed from exact squares: s.hi - h2.hi is
    // exact since h^2 lies within a few ulps of s.hi.
    const DD a2 = two_sqr(ax);
    const DD b2 = two_sqr(ay);
    const DD s = fast_two_sum(a2.hi, b2.hi);
    const double h = std::sqrt(s.hi);
    const DD h2 = two_sqr(h);
    const double residual = ((s.hi - h2.hi) - h2.lo) + (s.lo + (a2.lo + b2.lo));
    return (h + residual / (2.0 * h)) * scale;
}

double det_pow(double x, double y) {
    if (y == 0.0 || x == 1.0) return 1.0;  // even for a NaN in the other argument (C99)
    if (!(x > 0.0) || !(x < kInf) || !(std::fabs(y) < kInf)) return pow_special(x, y);

    const DD lg = log_dd(x);
    const double wh = y * lg.hi;
    if (wh > 709.79) return kInf;  // beyond the largest double
    if (wh < -745.2) return 0.0;   // below half the smallest subnormal
    // Here |y| < 2^63 (|log x| >= 2^-53 for x != 1), so the split is safe.
    DD w = two_prod(y, lg.hi);
    w.lo += y * lg.lo;
    return exp_dd(fast_two_sum(w.hi, w.lo));
}

}  // namespace kelmotra
