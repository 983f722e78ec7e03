#include "driver/pitch_shift.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace kelmotra {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A magnitude array whose upper half (the envelope's place) is poisoned, so
// any read of it by the envelope sums shows up as NaN.
std::vector<double> poisoned_mag() {
    std::vector<double> mag(1024, kNaN);
    for (int k = 0; k < 512; ++k) mag[k] = 0.0;
    return mag;
}

double env(const std::vector<double>& mag, int j) { return mag[1024 - j]; }

// Distinct, recognisable magnitudes and phase advances for every bin.
void fill_bins(std::vector<double>& mag, std::vector<double>& dphase) {
    for (int k = 0; k <= 512; ++k) {
        mag[k] = 1000.0 + k;
        dphase[k] = std::fmod(k * 0.137, 1.0) - 0.5;
    }
}

// The inline rounding must be std::floor(x + 0.5) exactly, including the
// halves, the 2^31 boundary, huge values and non-numbers.
TEST(FloorPlusHalf, SameAsTheLibrary) {
    const double inf = std::numeric_limits<double>::infinity();
    const double edge = 2147483648.0;
    const double cases[] = {0.0, -0.0, 0.5, -0.5, 1.5, -1.5, 2.4999999999999996, -2.5000000000000004,
                            0.49999999999999994, -0.49999999999999994, 1e-300, -1e-300, 123456.5,
                            edge - 0.5, edge - 1.5, -edge - 0.5, -edge + 0.5, edge, -edge, 1e17,
                            -1e17, 4503599627370495.5, inf, -inf};
    for (double x : cases) EXPECT_EQ(floor_plus_half(x), std::floor(x + 0.5)) << x;
    EXPECT_TRUE(std::isnan(floor_plus_half(kNaN)));
    std::uint32_t state = 3;
    for (int i = 0; i < 100000; ++i) {
        state = state * 1664525u + 1013904223u;
        const double x = (static_cast<double>(state) / 4294967296.0 - 0.5) * 2000.0;
        ASSERT_EQ(floor_plus_half(x), std::floor(x + 0.5)) << x;
        const double w = wrap_cycles(x);
        ASSERT_GE(w, -0.5) << x;
        ASSERT_LT(w, 0.5) << x;
    }
}

TEST(EnvelopeKernel, ShapeOnTheUsedRange) {
    EXPECT_EQ(envelope_kernel(0.0), 1.0);
    EXPECT_EQ(envelope_kernel(1.0), 0.0);
    EXPECT_EQ(envelope_kernel(-1.0), 0.0);
    EXPECT_DOUBLE_EQ(envelope_kernel(0.5), 11.25 / 20.25);
    for (double x = -1.0; x <= 1.0; x += 1.0 / 64) {
        EXPECT_GE(envelope_kernel(x), 0.0) << x;
        EXPECT_LE(envelope_kernel(x), 1.0) << x;
        EXPECT_EQ(envelope_kernel(x), envelope_kernel(-x)) << x;
    }
}

TEST(SpectralEnvelope, SpikeSpreadsOverOneSpacingOnEachSide) {
    std::vector<double> mag = poisoned_mag();
    EnvelopeWork ew = make_envelope_work();
    mag[20] = 8.0;
    spectral_envelope(mag.data(), 4.0, ew);
    for (int j = 1; j <= 512; ++j) {
        const double d = 20 - j;
        const double want = std::fabs(d) <= 4 ? envelope_kernel(d / 4.0) * 8.0 / 4.0 : 0.0;
        EXPECT_DOUBLE_EQ(env(mag, j), want) << j;
    }
}

TEST(SpectralEnvelope, MirrorsAtBinZero) {
    std::vector<double> mag = poisoned_mag();
    EnvelopeWork ew = make_envelope_work();
    mag[2] = 1.0;
    spectral_envelope(mag.data(), 4.0, ew);
    // env(1): m = 1 reads bin 2 directly, m = -3 reads bin -2 mirrored to 2.
    EXPECT_DOUBLE_EQ(env(mag, 1), (envelope_kernel(0.25) + envelope_kernel(-0.75)) / 4.0);
    // env(3): m = -1 reads bin 2; m = -5 is outside the kernel.
    EXPECT_DOUBLE_EQ(env(mag, 3), envelope_kernel(0.25) / 4.0);
}

TEST(SpectralEnvelope, FlatSpectrumIsFlatExceptWhereTermsLeaveTheTop) {
    std::vector<double> mag = poisoned_mag();
    EnvelopeWork ew = make_envelope_work();
    for (int k = 0; k < 512; ++k) mag[k] = 3.0;
    const double L = 5.5;
    spectral_envelope(mag.data(), L, ew);
    const double flat = env(mag, 100);
    double ksum = 0;
    for (int m = -5; m <= 5; ++m) ksum += envelope_kernel(m / L);
    EXPECT_NEAR(flat, 3.0 * ksum / L, 1e-12);
    for (int j = 1; j <= 506; ++j) EXPECT_NEAR(env(mag, j), flat, 1e-12) << j;
    for (int j = 507; j <= 512; ++j) EXPECT_LT(env(mag, j), flat) << j;
}

TEST(SpectralEnvelope, SpacingBelowOneBin) {
    std::vector<double> mag = poisoned_mag();
    EnvelopeWork ew = make_envelope_work();
    for (int k = 0; k < 512; ++k) mag[k] = k * 0.5;
    spectral_envelope(mag.data(), 0.8, ew);
    for (int j = 1; j <= 511; ++j) EXPECT_DOUBLE_EQ(env(mag, j), mag[j] / 0.8) << j;
    EXPECT_EQ(env(mag, 512), 0.0);
}

// Spacings wider than the half frame (absurd pitches) must still read only
// the magnitudes, never the envelope being written.
TEST(SpectralEnvelope, WideKernelsReadOnlyMagnitudes) {
    for (double L : {300.0, 700.0, 5000.0, 1e300}) {
        std::vector<double> mag = poisoned_mag();
        EnvelopeWork ew = make_envelope_work();
        for (int k = 0; k < 512; ++k) mag[k] = 1.0;
        spectral_envelope(mag.data(), L, ew);
        for (int j = 1; j <= 512; ++j) ASSERT_TRUE(std::isfinite(env(mag, j))) << L << " " << j;
    }
}

// Where single bins go, with the envelope correction off.
TEST(ShiftSpectrum, MovesBinsByTheirHarmonic) {
    struct Case {
        double L, h;
        int from, to;
        double shift;  // bins the harmonic moves, s
    };
    const Case cases[] = {
        {5.0, 2.0, 10, 20, 10.0},  // harmonic 2 an octave up
        {5.0, 2.0, 12, 22, 10.0},  // also harmonic 2: the same shift
        {5.0, 2.0, 13, 28, 15.0},  // harmonic 3 moves by 15
        {8.0, 0.5, 16, 8, -8.0},   // output bin 8 belongs to harmonic 2 and takes bin 16
        {8.0, 0.5, 17, 9, -8.0},
        {10.0, 1.5, 3, 3, 0.0},    // below L / 2: harmonic 0, not moved
        {10.0, 0.75, 3, 3, 0.0},   // down: harmonic 0 ends below h * L / 2 = 3.75
        {10.0, 0.75, 7, 4, -2.5},  // output bin 4 already belongs to harmonic 1
    };
    for (const Case& c : cases) {
        std::vector<double> mag(1024), dphase(513), newmag(513), newdph(513);
        fill_bins(mag, dphase);
        shift_spectrum(mag.data(), dphase.data(), c.L, c.h, 1.0, true, newmag.data(),
                       newdph.data());
        EXPECT_EQ(newmag[c.to], mag[c.from]) << c.L << " " << c.h << " " << c.from;
        EXPECT_DOUBLE_EQ(newdph[c.to], wrap_cycles(dphase[c.from] - c.shift * 0.25))
            << c.L << " " << c.h << " " << c.from;
        EXPECT_EQ(newmag[0], 0.0);
        EXPECT_EQ(newmag[512], 0.0);
        EXPECT_EQ(newdph[0], 0.0);
        EXPECT_EQ(newdph[512], 0.0);
    }
}

TEST(ShiftSpectrum, UpwardLeavesHolesAndDropsWhatPassesTheTop) {
    std::vector<double> mag(1024), dphase(513), newmag(513), newdph(513);
    fill_bins(mag, dphase);
    shift_spectrum(mag.data(), dphase.data(), 5.0, 2.0, 1.0, true, newmag.data(), newdph.data());
    // Bins 8..12 (harmonic 2) land on 18..22; 13..17 (harmonic 3) on 28..32;
    // so 23..27 receive nothing.
    for (int t = 23; t <= 27; ++t) EXPECT_EQ(newmag[t], 0.0) << t;
    // Input bin 256 (harmonic 51) would land on 511; bin 258 on 513, dropped.
    EXPECT_EQ(newmag[511], mag[256]);
    int filled = 0;
    for (int t = 1; t <= 511; ++t) filled += newmag[t] != 0.0;
    EXPECT_LT(filled, 300);
}

TEST(ShiftSpectrum, DownwardSilencesBinsWhoseSourceIsPastTheTop) {
    std::vector<double> mag(1024), dphase(513), newmag(513), newdph(513);
    fill_bins(mag, dphase);
    shift_spectrum(mag.data(), dphase.data(), 8.0, 0.5, 1.0, true, newmag.data(), newdph.data());
    EXPECT_EQ(newmag[252], mag[504]);  // harmonic 63 from bin 504
    for (int t = 258; t <= 511; ++t) EXPECT_EQ(newmag[t], 0.0) << t;
}

TEST(ShiftSpectrum, UnshiftedCopiesEverythingWithoutFactors) {
    std::vector<double> mag(1024), dphase(513), newmag(513), newdph(513);
    fill_bins(mag, dphase);
    EnvelopeWork ew = make_envelope_work();
    spectral_envelope(mag.data(), 4.5, ew);
    for (double gf : {1.0, 3.0}) {
        shift_spectrum(mag.data(), dphase.data(), 4.5, 1.0, gf, false, newmag.data(),
                       newdph.data());
        for (int k = 0; k <= 512; ++k) {
            EXPECT_EQ(newmag[k], mag[k]) << k;  // bin 512 carries env(512)
            EXPECT_EQ(newdph[k], dphase[k]) << k;
        }
    }
}

// A spectrum of harmonics every 10 bins under a single formant peak at bin 60.
std::vector<double> formant_spectrum() {
    std::vector<double> mag(1024, 0.0);
    for (int m = 1; m * 10 < 512; ++m) {
        const double f = m * 10.0;
        mag[m * 10] = 100.0 + 5000.0 * std::exp(-(f - 60) * (f - 60) / 200.0);
    }
    return mag;
}

TEST(ShiftSpectrum, EnvelopeFactorFollowsTheFormant) {
    std::vector<double> mag = formant_spectrum();
    std::vector<double> dphase(513, 0.0), newmag(513), newdph(513);
    EnvelopeWork ew = make_envelope_work();
    spectral_envelope(mag.data(), 10.0, ew);
    shift_spectrum(mag.data(), dphase.data(), 10.0, 1.2, 1.0, false, newmag.data(), newdph.data());
    // Harmonic 5 (bin 50) moves onto the peak at 60 and grows; harmonic 6
    // (bin 60) moves off it to 72 and shrinks.
    EXPECT_GT(newmag[60], mag[50] * 1.5);
    EXPECT_LT(newmag[72], mag[60] * 0.7);
    // Exactly the envelope ratio env(dst) / env(src).
    EXPECT_DOUBLE_EQ(newmag[60], env(mag, 60) / env(mag, 50) * mag[50]);
    EXPECT_DOUBLE_EQ(newmag[72], env(mag, 72) / env(mag, 60) * mag[60]);

    // With N the harmonics keep their input magnitudes.
    shift_spectrum(mag.data(), dphase.data(), 10.0, 1.2, 1.0, true, newmag.data(), newdph.data());
    EXPECT_EQ(newmag[60], mag[50]);
    EXPECT_EQ(newmag[72], mag[60]);

    // A lookup factor moves where the envelope is read: with gf = 50/60 the
    // harmonic going to 60 reads env(50), its own, so it keeps its size.
    shift_spectrum(mag.data(), dphase.data(), 10.0, 1.2, 50.0 / 60.0, false, newmag.data(),
                   newdph.data());
    EXPECT_DOUBLE_EQ(newmag[60], mag[50]);
}

TEST(ShiftSpectrum, DownwardUsesTheSameFactors) {
    std::vector<double> mag = formant_spectrum();
    std::vector<double> dphase(513, 0.0), newmag(513), newdph(513);
    EnvelopeWork ew = make_envelope_work();
    spectral_envelope(mag.data(), 10.0, ew);
    shift_spectrum(mag.data(), dphase.data(), 10.0, 0.8, 1.0, false, newmag.data(), newdph.data());
    // Harmonic 6 (bin 60) moves down to 48 and takes env(48) / env(60).
    EXPECT_DOUBLE_EQ(newmag[48], env(mag, 48) / env(mag, 60) * mag[60]);
    EXPECT_LT(newmag[48], mag[60]);
}

// Pitch ratios that are not numbers, or absurdly large or small, never index
// outside the arrays.
TEST(ShiftSpectrum, ExtremeRatiosStayInBounds) {
    std::vector<double> mag(1024), dphase(513), newmag(513), newdph(513);
    fill_bins(mag, dphase);
    EnvelopeWork ew = make_envelope_work();
    spectral_envelope(mag.data(), 5.0, ew);
    shift_spectrum(mag.data(), dphase.data(), 5.0, kNaN, 1.0, false, newmag.data(), newdph.data());
    for (int k = 0; k <= 512; ++k) EXPECT_EQ(newmag[k], 0.0);
    for (double h : {1e300, 1e-300, 1.0 + 1e-15, 1.0 - 1e-15}) {
        for (double gf : {1.0, 1e300, 0.0}) {
            shift_spectrum(mag.data(), dphase.data(), 5.0, h, gf, false, newmag.data(),
                           newdph.data());
            for (int k = 0; k <= 512; ++k) {
                ASSERT_TRUE(std::isfinite(newmag[k])) << h << " " << k;
                ASSERT_TRUE(std::isfinite(newdph[k])) << h << " " << k;
            }
        }
    }
    // A huge ratio keeps only harmonic 0 (bins 1 and 2 with L = 5) in place.
    shift_spectrum(mag.data(), dphase.data(), 5.0, 1e300, 1.0, false, newmag.data(), newdph.data());
    EXPECT_EQ(newmag[1], mag[1]);
    EXPECT_EQ(newmag[2], mag[2]);
    EXPECT_EQ(newmag[3], 0.0);
}

// The hop loop computes only the envelope values the shift reads; that must
// give exactly what the whole envelope gives, in every case of the shift.
TEST(ShiftSpectrumOnDemand, SameNumbersAsTheWholeEnvelope) {
    std::uint32_t state = 7;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 16777216.0;  // [0, 1)
    };
    std::vector<double> base(1024, 0.0), dphase(513);
    for (int k = 0; k < 512; ++k) base[k] = 1000.0 * next() * next() + (k % 11 == 0 ? 5000 : 0);
    base[37] = 0.0;  // a silent bin, so some env(src) can be 0
    for (int k = 0; k <= 512; ++k) dphase[k] = next() - 0.5;
    struct Case {
        double L, h, gf;
        bool no_envelope;
    };
    const Case cases[] = {
        {5.1, 2.0, 1.0, false},  {5.1, 0.5, 1.0, false}, {5.1, 1.0, 1.0, false},
        {4.69, 1.37, 0.8, false}, {4.69, 0.81, 1.3, false}, {0.8, 1.5, 1.0, false},
        {0.8, 0.7, 1.0, false},  {37.2, 1.1, 1.0, false}, {37.2, 0.3, 2.0, false},
        {700.0, 1.2, 1.0, false}, {11.0, 1.25, 1.0, true}, {2.0, 3.0, 0.5, false},
        {5.0, 1e300, 1.0, false}, {5.0, 1e-300, 1e300, false}, {1e-300, 2.0, 1.0, false},
        {3.3, 1.0 + 1e-15, 0.0, false}, {3.3, 1.0 - 1e-15, 1.0, false},
    };
    for (const Case& c : cases) {
        std::vector<double> whole = base;
        EnvelopeWork ew = make_envelope_work();
        spectral_envelope(whole.data(), c.L, ew);
        std::vector<double> m1(513), d1(513), m2(513), d2(513);
        shift_spectrum(whole.data(), dphase.data(), c.L, c.h, c.gf, c.no_envelope, m1.data(),
                       d1.data());
        std::vector<double> lower = base;
        for (int k = 512; k < 1024; ++k) lower[k] = kNaN;  // never read
        std::vector<double> read = dphase;  // nor are the advances the hop loop leaves out
        for (int k = shift_phase_bins(c.L, c.h); k < 512; ++k) read[k] = kNaN;
        shift_spectrum_on_demand(lower.data(), read.data(), c.L, c.h, c.gf, c.no_envelope,
                                 AdvanceCorrection{}, ew, m2.data(), d2.data());
        for (int k = 0; k <= 512; ++k) {
            ASSERT_EQ(m1[k], m2[k]) << c.L << " " << c.h << " bin " << k;
            ASSERT_EQ(d1[k], d2[k]) << c.L << " " << c.h << " bin " << k;
        }
        // And each single value equals the stored one.
        const std::int32_t R = envelope_kernel_table(c.L, ew.kernel.data());
        for (int j = 1; j <= 512; ++j)
            ASSERT_EQ(envelope_at(base.data(), j, c.L, ew.kernel.data(), R), env(whole, j)) << j;
    }
}

// Four lanes at a time (where this CPU and build run them) must give the
// bits of two at a time, corrected or not, and stop or fall back as they do.
TEST(ShiftSpectrumOnDemand, FourLanesGiveTheBitsOfTwo) {
    if (!packed_rdft_four_lanes()) GTEST_SKIP() << "no four-lane code on this CPU or build";
    std::vector<double> mag(1024, 0.0), dphase(513), m4(513), d4(513), m2(513), d2(513);
    fill_bins(mag, dphase);
    mag[40] = 0.0;
    dphase[9] = 3e9;  // a wrap out of the integer range
    dphase[300] = kNaN;
    EnvelopeWork ew = make_envelope_work();
    for (double L : {0.8, 3.3, 4.69, 5.11, 37.2, 700.0, 1e-300, 1e300, kNaN})
        for (double h : {1.0 + 1e-15, 1.06, 1.37, 2.0, 6.0, 1e300, 0.5, 0.93, kNaN})
            for (double gap : {0.0, 3.0, 37.7, -250.3, 1e12})
                for (bool no_env : {false, true}) {
                    const AdvanceCorrection corr{gap != 0.0, gap};
                    shift_spectrum_on_demand(mag.data(), dphase.data(), L, h, 1.3, no_env, corr,
                                             ew, m4.data(), d4.data());
                    shift_spectrum_on_demand(mag.data(), dphase.data(), L, h, 1.3, no_env, corr,
                                             ew, m2.data(), d2.data(), PackedLanes::two);
                    for (int k = 0; k <= 512; ++k) {
                        ASSERT_EQ(std::memcmp(&m4[k], &m2[k], 8), 0) << L << " " << h << " " << k;
                        ASSERT_EQ(std::memcmp(&d4[k], &d2[k], 8), 0) << L << " " << h << " " << k;
                    }
                }
}

}  // namespace
}  // namespace kelmotra
