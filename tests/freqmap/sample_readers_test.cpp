#include "freqmap/sample_readers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace kelmotra {
namespace {

std::vector<std::uint8_t> s16_bytes(const std::vector<int>& values, int channels = 1) {
    std::vector<std::uint8_t> out;
    for (int v : values)
        for (int c = 0; c < channels; ++c) {
            const int s = c == 0 ? v : -v - 1234;  // other channels must never count
            out.push_back(static_cast<std::uint8_t>(s & 0xFF));
            out.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
        }
    return out;
}

TEST(SincSeries, AgreesWithSinOverTOverTheKernelRange) {
    EXPECT_EQ(sincSeries(0.0), 1.0);
    for (double t = -6.3; t <= 6.3; t += 0.0137) {
        if (t == 0.0) continue;
        EXPECT_NEAR(sincSeries(t), std::sin(t) / t, 2e-15) << t;
        EXPECT_EQ(sincSeries(t), sincSeries(-t)) << t;
    }
    // Both sides of the switch to the longer series, and the kernel's ends.
    for (double t : {kKernelPi, std::nextafter(kKernelPi, 4.0), 1.5 * kKernelPi, 2 * kKernelPi})
        EXPECT_NEAR(sincSeries(t), std::sin(t) / t, 2e-15) << t;
}

TEST(SincKernelWeight, VanishesAtTheNeighboursAndTheSpanEnds) {
    EXPECT_EQ(sincKernelWeight(0.0, 1.0), 1.0);
    EXPECT_NEAR(sincKernelWeight(1.0, 1.0), 0.0, 1e-14);
    EXPECT_NEAR(sincKernelWeight(-1.0, 1.0), 0.0, 1e-14);
    EXPECT_NEAR(sincKernelWeight(2.0, 1.0), 0.0, 1e-16);
    EXPECT_NEAR(sincKernelWeight(-1.5, 1.0), -0.0814, 5e-4);
    EXPECT_EQ(sincKernelWeight(0.5, 2.0), sincKernelWeight(0.25, 1.0));
}

TEST(SincKernel1, SpansFourOrFiveFramesAndSharesWeightsAcrossWholeShifts) {
    const auto a = sincKernel1(10.25);
    const auto b = sincKernel1(13.25);
    const auto c = sincKernel1(7.0);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->first, 9);
    EXPECT_EQ(a->count, 4);
    EXPECT_EQ(b->first, 12);
    EXPECT_EQ(c->first, 5);
    EXPECT_EQ(c->count, 5);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(a->weight[i], b->weight[i]);
    EXPECT_EQ(a->weight_sum, b->weight_sum);
    EXPECT_FALSE(sincKernel1(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(sincKernel1(1e300));
}

TEST(Interpolate, WholePositionsReturnTheStoredFrame) {
    std::vector<int> v;
    for (int j = 0; j < 40; ++j) v.push_back((j * 7919) % 20001 - 10000);
    for (int channels : {1, 3}) {
        const std::vector<std::uint8_t> d = s16_bytes(v, channels);
        for (int j = 2; j < 38; ++j)
            EXPECT_NEAR(interpolateS16(j, d.data(), 40, 1.0, channels), v[static_cast<std::size_t>(j)], 1e-9)
                << j << " channels " << channels;
    }
}

TEST(Interpolate, EachFormatConvertsToThe16BitScale) {
    // One frame of interest at index 3 among zeros (silence of each format).
    const float one = 1.0f;
    std::uint8_t f32[8 * 4] = {};
    std::memcpy(f32 + 3 * 4, &one, 4);
    std::uint8_t s24[8 * 3] = {};
    s24[3 * 3 + 2] = 0x80;  // 00 00 80: -8388608
    std::uint8_t s32[8 * 4] = {};
    const std::int32_t big = 1000 * 65536;
    std::memcpy(s32 + 3 * 4, &big, 4);
    EXPECT_NEAR(interpolateF32(3.0, f32, 8, 1.0, 1), 32768.0, 1e-9);
    EXPECT_NEAR(interpolateS24(3.0, s24, 8, 1.0, 1), -32768.0, 1e-9);
    EXPECT_NEAR(interpolateS32(3.0, s32, 8, 1.0, 1), 1000.0, 1e-9);

    // 8-bit: 128 stands for 128 on the 16-bit scale. Frames before 0 count
    // as raw 0 (-32640), so readings near the start are far off.
    const std::vector<std::uint8_t> u8(20, 128);
    for (double x : {2.0, 2.5, 7.3, 15.0}) EXPECT_NEAR(interpolateU8(x, u8.data(), 20, 1.0, 1), 128.0, 1e-9) << x;
    EXPECT_GT(std::fabs(interpolateU8(0.5, u8.data(), 20, 1.0, 1) - 128.0), 1000.0);
}

TEST(Interpolate, MissingFramesKeepTheirWeight) {
    const std::vector<int> v = {1000, 2000, 3000, 4000, 5000, 6000};
    const std::vector<std::uint8_t> d = s16_bytes(v);
    // At 0.5 frame -1 lies in the span: its weight counts, its value does not.
    double num = 0, den = 0;
    for (int j = -1; j <= 2; ++j) {
        const double w = sincKernelWeight(j - 0.5, 1.0);
        den += w;
        if (j >= 0) num += w * v[static_cast<std::size_t>(j)];
    }
    EXPECT_EQ(interpolateS16(0.5, d.data(), 6, 1.0, 1), num / den);

    // Past the end the readings fade out, never reading beyond `frames` (the
    // buffer holds exactly six frames).
    EXPECT_NEAR(interpolateS16(5.0, d.data(), 6, 1.0, 1), 6000.0, 1e-9);
    const double fading[] = {interpolateS16(5.5, d.data(), 6, 1.0, 1), interpolateS16(6.0, d.data(), 6, 1.0, 1),
                             interpolateS16(6.5, d.data(), 6, 1.0, 1)};
    EXPECT_GT(fading[0], 3000.0);
    EXPECT_LT(std::fabs(fading[1]), 1e-9);
    EXPECT_LT(std::fabs(fading[2]), 600.0);
    EXPECT_EQ(interpolateS16(7.5, d.data(), 6, 1.0, 1), 0.0);
    EXPECT_EQ(interpolateS16(-2.5, d.data(), 6, 1.0, 1), 0.0);
    // A shorter frame count hides the frames after it.
    EXPECT_EQ(interpolateS16(4.5, d.data(), 3, 1.0, 1), interpolateS16(4.5, s16_bytes({1000, 2000, 3000}).data(), 3, 1.0, 1));
}

TEST(Interpolate, UnusableArgumentsReadAsNoFrame) {
    const std::vector<std::uint8_t> d = s16_bytes({500, 500, 500, 500});
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(interpolateS16(nan, d.data(), 4, 1.0, 1), 0.0);
    EXPECT_EQ(interpolateS16(inf, d.data(), 4, 1.0, 1), 0.0);
    EXPECT_EQ(interpolateS16(-1e300, d.data(), 4, 1.0, 1), 0.0);
    EXPECT_EQ(interpolateS16(1.0, d.data(), 4, 0.0, 1), 0.0);
    EXPECT_EQ(interpolateS16(1.0, d.data(), 4, nan, 1), 0.0);
    EXPECT_EQ(interpolateS16(1.0, d.data(), 4, 1.0, 0), 0.0);
    EXPECT_EQ(interpolateS16(1.0, nullptr, 0, 1.0, 1), 0.0);
    EXPECT_EQ(interpolateU8(1.0, nullptr, 0, 1.0, 1), -32640.0);
    // A wider kernel reads the same constant.
    EXPECT_NEAR(interpolateS16(10.0, s16_bytes(std::vector<int>(30, 500)).data(), 30, 3.0, 1), 500.0, 1e-9);
}

TEST(Interpolate, NonFiniteFloatSamplesReadAsSilence) {
    std::vector<std::uint8_t> d(6 * 4, 0);
    const float vals[6] = {0.5f, 0.5f, std::numeric_limits<float>::quiet_NaN(), 0.5f,
                           std::numeric_limits<float>::infinity(), 0.5f};
    std::memcpy(d.data(), vals, sizeof vals);
    EXPECT_EQ(raw_sample(SampleCoding::F32, d.data() + 8), 0.0);
    EXPECT_EQ(raw_sample(SampleCoding::F32, d.data() + 16), 0.0);
    EXPECT_TRUE(std::isfinite(interpolateF32(2.5, d.data(), 6, 1.0, 1)));
}

TEST(SampleCoding, FollowsDepthAndFormatTag) {
    const struct { std::int32_t bits; std::uint16_t tag; std::optional<SampleCoding> coding; } rows[] = {
        {8, 1, SampleCoding::U8},   {16, 1, SampleCoding::S16}, {24, 1, SampleCoding::S24},
        {32, 1, SampleCoding::S32}, {32, 3, SampleCoding::F32}, {32, 0, SampleCoding::F32},
        {64, 3, std::nullopt},      {12, 1, std::nullopt},      {0, 1, std::nullopt},
    };
    for (const auto& r : rows) EXPECT_EQ(sample_coding(r.bits, r.tag), r.coding) << r.bits << "/" << r.tag;
    const std::uint8_t bytes[4] = {0x00, 0x00, 0xFF, 0xFF};  // int32 -65536, int16 0, then -1
    EXPECT_EQ(raw_to_scale(SampleCoding::S32, raw_sample(SampleCoding::S32, bytes)), -1.0);
    EXPECT_EQ(raw_to_scale(SampleCoding::S16, raw_sample(SampleCoding::S16, bytes + 2)), -1.0);
    EXPECT_EQ(raw_to_scale(SampleCoding::U8, raw_sample(SampleCoding::U8, bytes + 2)), 32640.0);
    EXPECT_EQ(raw_to_scale(SampleCoding::U8, raw_sample(SampleCoding::U8, bytes)), -32640.0);
}

}  // namespace
}  // namespace kelmotra
