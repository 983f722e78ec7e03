#include "freqmap/pitch_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/det_math.h"
#include "freqmap/analysis.h"
#include "freqmap/frq_file.h"
#include "support/test_support.h"

namespace kelmotra {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Integer samples on the 16-bit scale coded as stored data. Every coding
// holds them exactly, so all codings describe the same signal.
std::vector<std::uint8_t> encode(const std::vector<double>& s16, SampleCoding coding, int channels = 1,
                                 int pad_frames = 4096) {
    std::vector<std::uint8_t> out;
    auto put = [&](std::uint32_t v, int bytes) {
        for (int b = 0; b < bytes; ++b) out.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
    };
    for (double v : s16) {
        const auto s = static_cast<std::int32_t>(v);
        for (int c = 0; c < channels; ++c) {
            // Other channels hold a loud unrelated signal that must be ignored.
            const std::int32_t val = c == 0 ? s : ((static_cast<std::int32_t>(out.size()) * 7919) % 60000) - 30000;
            switch (coding) {
                case SampleCoding::U8: put(static_cast<std::uint32_t>(val / 256 + 128), 1); break;
                case SampleCoding::S16: put(static_cast<std::uint32_t>(val), 2); break;
                case SampleCoding::S24: put(static_cast<std::uint32_t>(val * 256), 3); break;
                case SampleCoding::S32: put(static_cast<std::uint32_t>(val) << 16, 4); break;
                case SampleCoding::F32: {
                    const float f = static_cast<float>(val / 32768.0);
                    std::uint32_t u;
                    std::memcpy(&u, &f, 4);
                    put(u, 4);
                    break;
                }
            }
        }
    }
    out.resize(out.size() + static_cast<std::size_t>(pad_frames * channels * coding_bytes(coding)), 0);
    return out;
}

// A sung-vowel-like tone: harmonics of f0 shaped by three formant peaks.
// The frequency switches from f1 to f2 halfway. Rounded to whole numbers.
std::vector<double> vowel(double rate, double seconds, double f1, double f2, double level = 20000) {
    const int n = static_cast<int>(rate * seconds);
    std::vector<double> x(static_cast<std::size_t>(n));
    double phase = 0, peak = 0;
    for (int i = 0; i < n; ++i) {
        const double f0 = i < n / 2 ? f1 : f2;
        phase += 2 * kPi * f0 / rate;
        double v = 0;
        for (int k = 1; k * f0 < 0.475 * rate; ++k) {
            const double f = k * f0;
            const double g = 1 / (1 + std::pow((f - 750) / 120, 2)) + 0.6 / (1 + std::pow((f - 1200) / 150, 2)) +
                             0.3 / (1 + std::pow((f - 2600) / 200, 2)) + 0.05;
            v += g * std::sin(k * phase);
        }
        x[static_cast<std::size_t>(i)] = v;
        peak = std::max(peak, std::fabs(v));
    }
    for (double& v : x) v = std::round(v / peak * level);
    return x;
}

std::vector<double> sine(double rate, double seconds, double f, double level) {
    std::vector<double> x(static_cast<std::size_t>(rate * seconds));
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = std::round(level * std::sin(2 * kPi * f * i / rate));
    return x;
}

struct Analysis {
    std::optional<FreqList> list;
    std::string progress;
};

Analysis analyse(const std::vector<double>& s16, std::int32_t rate, SampleCoding coding = SampleCoding::S16,
            int channels = 1) {
    const std::vector<std::uint8_t> data = encode(s16, coding, channels);
    const int bytes = coding_bytes(coding);
    const auto D = static_cast<std::int32_t>(s16.size()) * channels * bytes;
    const AnalysisWindow win = analysis_window(static_cast<std::uint32_t>(rate));
    std::FILE* f = testsupport::temp_stream();
    Analysis run;
    run.list = analysePitch(data.data(), data.size(), D, bytes * 8, channels, channels * bytes, rate, win.N,
                            win.Step, 0, 0, coding == SampleCoding::F32 ? 3 : 1, f);
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) run.progress.push_back(static_cast<char>(c));
    std::fclose(f);
    return run;
}

TEST(AnalysisWindow, FollowsTheRateTable) {
    const struct { std::uint32_t rate; std::int32_t N, Step; } rows[] = {
        {8000, 512, 64},    {14999, 512, 64},   {15000, 720, 128},  {22050, 720, 128},
        {29999, 720, 128},  {30000, 1024, 256}, {44100, 1024, 256}, {59999, 1024, 256},
        {60000, 2048, 512}, {96000, 2048, 512}, {0xFFFFFFFFu, 2048, 512},
    };
    for (const auto& r : rows) {
        const AnalysisWindow w = analysis_window(r.rate);
        EXPECT_EQ(w.N, r.N) << r.rate;
        EXPECT_EQ(w.Step, r.Step) << r.rate;
    }
}

// One second of silence: header lines, band lines, sizes, and the fallback
// average R/maxLag since no step is voiced.
TEST(AnalysePitch, SilencePrintsItsParametersAndFallsBackToTheLowestFrequency) {
    const struct { std::int32_t rate; const char* head; std::int32_t count; const char* avg; } rows[] = {
        {44100,
         "N=1024 Step=256\nData Size=88200\nChannels=1\nBlock Align=2\nSamples per Sec=44100\n"
         "List Size=172\nFrequenz auf    57.421875Hz 768\nFrequenz bis zu 882.000000Hz 50\n",
         171, "\nfreq_avg=57.421875\n"},
        {22050,
         "N=720 Step=128\nData Size=44100\nChannels=1\nBlock Align=2\nSamples per Sec=22050\n"
         "List Size=172\nFrequenz auf    55.125000Hz 400\nFrequenz bis zu 882.000000Hz 25\n",
         170, "\nfreq_avg=55.125000\n"},
        {96000,
         "N=2048 Step=512\nData Size=192000\nChannels=1\nBlock Align=2\nSamples per Sec=96000\n"
         "List Size=187\nFrequenz auf    62.500000Hz 1536\nFrequenz bis zu 880.733945Hz 109\n",
         186, "\nfreq_avg=62.500000\n"},
    };
    for (const auto& r : rows) {
        const Analysis run = analyse(std::vector<double>(static_cast<std::size_t>(r.rate), 0.0), r.rate);
        ASSERT_TRUE(run.list) << r.rate;
        const FreqList& l = *run.list;
        EXPECT_EQ(run.progress.rfind(r.head, 0), 0u) << run.progress.substr(0, 300);
        EXPECT_NE(run.progress.find("pass 1 0\t0\t\rpass 1 1\t0\t\r"), std::string::npos);
        EXPECT_NE(run.progress.find("List Count=" + std::to_string(r.count) + "\npass 2 0\t0.000000\t0\r"),
                  std::string::npos);
        EXPECT_EQ(run.progress.size() - run.progress.rfind(r.avg), std::string(r.avg).size());
        EXPECT_EQ(l.count, r.count);
        EXPECT_EQ(l.step, analysis_window(static_cast<std::uint32_t>(r.rate)).Step);
        EXPECT_EQ(l.sample_rate, r.rate);
        ASSERT_EQ(l.freqs.size(), static_cast<std::size_t>(r.count) + 1);
        ASSERT_EQ(l.amps.size(), static_cast<std::size_t>(r.count) + 1);
        for (std::int32_t i = 0; i <= r.count; ++i) {
            EXPECT_EQ(l.freqs[static_cast<std::size_t>(i)], 0.0);
            EXPECT_EQ(l.amps[static_cast<std::size_t>(i)], 0.0);
        }
        EXPECT_TRUE(freqlist_valid(l));
    }
}

TEST(AnalysePitch, ShortSampleAt8000HzHasElevenStepsAndNoLevelBeforeTheWindowFits) {
    const Analysis run = analyse(vowel(8000, 900 / 8000.0, 151, 151), 8000);
    ASSERT_TRUE(run.list);
    EXPECT_NE(run.progress.find("Data Size=1800\n"), std::string::npos);
    EXPECT_NE(run.progress.find("List Size=14\n"), std::string::npos);
    EXPECT_NE(run.progress.find("List Count=11\n"), std::string::npos);
    EXPECT_EQ(run.list->count, 11);
    EXPECT_EQ(run.list->amps[0], 0.0);
    EXPECT_EQ(run.list->amps[1], 0.0);
    EXPECT_GT(run.list->amps[2], 1000.0);
    EXPECT_EQ(run.list->amps[11], run.list->amps[10]);
    EXPECT_EQ(run.list->freqs[11], run.list->freqs[10]);
}

TEST(AnalysePitch, DataNoLongerThanTheWindowGivesNoList) {
    for (std::size_t frames : {0u, 100u, 512u}) {  // 1024 bytes = N at 44100 Hz
        const Analysis run = analyse(std::vector<double>(frames, 1000.0), 44100);
        EXPECT_FALSE(run.list) << frames;
        EXPECT_NE(run.progress.find("List Count=0\n"), std::string::npos);
        EXPECT_NE(run.progress.find("\nfreq_avg=57.421875\n"), std::string::npos);
        EXPECT_EQ(run.progress.find("pass 1"), std::string::npos);
    }
}

TEST(AnalysePitch, PlainSineIsUnvoicedBecauseItsPeriodIsTheFirstMinimum) {
    const std::vector<double> x = sine(44100, 0.5, 440, 12000);
    const std::vector<std::uint8_t> data = encode(x, SampleCoding::S16);
    const auto D = static_cast<std::int32_t>(x.size() * 2);
    auto setup = pitch_setup(data.data(), data.size(), D, 16, 1, 2, 44100, 1024, 256, 0, 0, 1);
    ASSERT_TRUE(setup);
    PitchWork work = pitch_work(*setup);
    const StepLag step = pitch_pass1_step(*setup, work, 20);
    ASSERT_GE(work.candidate_count, 3);
    EXPECT_EQ(work.candidates[0], 100);
    EXPECT_EQ(work.candidates[1], 200);
    EXPECT_EQ(work.candidates[2], 301);
    EXPECT_EQ(step.lag, 100);
    EXPECT_EQ(step.voiced, 0);

    const Analysis run = analyse(x, 44100);
    ASSERT_TRUE(run.list);
    for (double f : run.list->freqs) EXPECT_EQ(f, 0.0);
    EXPECT_EQ(run.list->freq_avg, 44100.0 / 768);
}

TEST(AnalysePitch, ExactRepetitionPicksTheLongestMultipleOfThePeriod) {
    // Period 100 frames, several harmonics: d is exactly 0 at 100, 200, ... 700.
    std::vector<double> x(22050);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double p = 2 * kPi * static_cast<double>(i % 100) / 100;
        x[i] = std::round(8000 * std::sin(p) + 5000 * std::sin(3 * p + 1) + 3000 * std::sin(7 * p + 2));
    }
    const std::vector<std::uint8_t> data = encode(x, SampleCoding::S16);
    auto setup = pitch_setup(data.data(), data.size(), static_cast<std::int32_t>(x.size() * 2), 16, 1, 2, 44100,
                             1024, 256, 0, 0, 1);
    ASSERT_TRUE(setup);
    PitchWork work = pitch_work(*setup);
    const StepLag step = pitch_pass1_step(*setup, work, 10);
    EXPECT_EQ(work.diff[100], 0.0);
    EXPECT_EQ(work.diff[700], 0.0);
    EXPECT_EQ(step.lag, 700);
    EXPECT_EQ(step.voiced, 1);
}

// The continuity examples, one row each: lags and voicing of a few steps
// before and after the correction of the last step.
TEST(ContinuityCorrect, RepairsOctaveTypeErrors) {
    const struct {
        const char* what;
        std::vector<std::int32_t> lag, voiced, lag_after, voiced_after;
    } rows[] = {
        {"doubling backward", {100, 201}, {1, 1}, {200, 201}, {1, 1}},
        {"doubling forward", {200, 99}, {1, 1}, {200, 198}, {1, 1}},
        {"relabelling", {150, 160}, {0, 1}, {150, 160}, {1, 1}},
        {"forward relabel of the current step", {150, 160}, {1, 0}, {150, 160}, {1, 1}},
        {"no ratio applies", {100, 170}, {1, 1}, {100, 170}, {1, 1}},
        {"both unvoiced", {100, 100}, {0, 0}, {100, 100}, {0, 0}},
        {"fifth pulled down", {40, 27}, {1, 1}, {40, 40}, {1, 1}},
        {"propagation by four", {50, 100, 201}, {1, 1, 1}, {200, 200, 201}, {1, 1, 1}},
        {"propagation relabels", {210, 100, 201}, {0, 1, 1}, {210, 200, 201}, {1, 1, 1}},
        {"propagation stops", {300, 100, 201}, {1, 1, 1}, {300, 200, 201}, {1, 1, 1}},
        {"propagation stops at a gap", {100, 0, 100, 201}, {1, 0, 1, 1}, {100, 0, 200, 201}, {1, 0, 1, 1}},
    };
    for (const auto& r : rows) {
        std::vector<std::int32_t> lag = r.lag, voiced = r.voiced;
        continuity_correct(lag, voiced, lag.size() - 1);
        EXPECT_EQ(lag, r.lag_after) << r.what;
        EXPECT_EQ(voiced, r.voiced_after) << r.what;
    }
}

TEST(ContinuityCorrect, MatchIsStrictOnBothSides) {
    EXPECT_TRUE(lag_matches(200, 201));   // 178 < 200 < 226
    EXPECT_FALSE(lag_matches(178, 201));
    EXPECT_FALSE(lag_matches(226, 201));
    EXPECT_TRUE(lag_matches(179, 201));
    EXPECT_FALSE(lag_matches(0, 0));
}

TEST(AnalysePitch, OctaveAndFifthJumpsStayOnTheLowerPitch) {
    const struct { double f1, f2, expect; } rows[] = {
        {151, 302, 151},     // up an octave: the shorter lags are doubled
        {302, 151, 151},     // down an octave: the backward propagation doubles the steps before
        {201, 301.5, 201},   // up a fifth: pulled down by 3/2
    };
    for (const auto& r : rows) {
        const Analysis run = analyse(vowel(8000, 1.0, r.f1, r.f2), 8000);
        ASSERT_TRUE(run.list);
        const FreqList& l = *run.list;
        const int jump = l.count / 2;
        for (int i = 0; i < l.count; ++i) {
            if (std::abs(i - jump) <= 3) continue;
            EXPECT_NEAR(l.freqs[static_cast<std::size_t>(i)], r.expect, r.expect * 0.02)
                << r.f1 << " -> " << r.f2 << " step " << i;
        }
    }
}

// Every coding of the same integer signal gives the same list, bit for bit:
// 32-bit integer PCM is read on the 16-bit scale as value / 65536, 32-bit
// float as value * 32768; other channels are ignored.
TEST(AnalysePitch, AllCodingsOfOneSignalAgree) {
    const std::vector<double> x = vowel(22050, 0.4, 185, 185);
    const Analysis ref = analyse(x, 22050);
    ASSERT_TRUE(ref.list);
    EXPECT_NEAR(ref.list->freq_avg, 185.0, 1.85);
    const struct { SampleCoding coding; int channels; } rows[] = {
        {SampleCoding::S16, 2}, {SampleCoding::S24, 1}, {SampleCoding::S24, 3},
        {SampleCoding::S32, 1}, {SampleCoding::F32, 1}, {SampleCoding::F32, 2},
    };
    for (const auto& r : rows) {
        const Analysis run = analyse(x, 22050, r.coding, r.channels);
        ASSERT_TRUE(run.list);
        // Steps run while their byte offset lies N bytes before the end, so
        // wider frames get a few more steps at the end.
        ASSERT_GE(run.list->count, ref.list->count);
        const auto n = static_cast<std::ptrdiff_t>(ref.list->count);
        EXPECT_TRUE(std::equal(ref.list->freqs.begin(), ref.list->freqs.begin() + n, run.list->freqs.begin()))
            << static_cast<int>(r.coding) << "/" << r.channels;
        EXPECT_TRUE(std::equal(ref.list->amps.begin(), ref.list->amps.begin() + n, run.list->amps.begin()))
            << static_cast<int>(r.coding) << "/" << r.channels;
        EXPECT_NEAR(run.list->freq_avg, ref.list->freq_avg, 0.05);
    }
    // 8-bit data has a coarser signal but the same pitch.
    const Analysis u8 = analyse(x, 22050, SampleCoding::U8);
    ASSERT_TRUE(u8.list);
    EXPECT_NEAR(u8.list->freq_avg, 185.0, 1.85);
}

TEST(AnalysePitch, RefusesArgumentsItCannotServe) {
    const std::vector<std::uint8_t> data(40000, 0);
    const std::size_t size = data.size();
    const struct {
        const char* what;
        std::size_t size;
        std::int32_t D, B, Ch, A, R, N, Step;
        std::uint16_t tag;
    } rows[] = {
        {"64-bit float", size, 32000, 64, 1, 8, 44100, 1024, 256, 3},
        {"12-bit", size, 32000, 12, 1, 2, 44100, 1024, 256, 1},
        {"no channels", size, 32000, 16, 0, 2, 44100, 1024, 256, 1},
        {"block align 0", size, 32000, 16, 1, 0, 44100, 1024, 256, 1},
        {"block align not channels * bytes", size, 32000, 16, 2, 2, 44100, 1024, 256, 1},
        {"more data than buffer", 30000, 32000, 16, 1, 2, 44100, 1024, 256, 1},
        {"negative data size", size, -2, 16, 1, 2, 44100, 1024, 256, 1},
        {"rate 0", size, 32000, 16, 1, 2, 0, 1024, 256, 1},
        {"rate below the band", size, 32000, 16, 1, 2, 50, 1024, 256, 1},
        {"window too long", size, 32000, 16, 1, 2, 44100, 4096, 256, 1},
        {"window not a multiple of 8", size, 32000, 16, 1, 2, 44100, 1020, 256, 1},
        {"step 0", size, 32000, 16, 1, 2, 44100, 1024, 0, 1},
    };
    for (const auto& r : rows) {
        std::FILE* f = testsupport::temp_stream();
        EXPECT_FALSE(analysePitch(data.data(), r.size, r.D, r.B, r.Ch, r.A, r.R, r.N, r.Step, 0, 0, r.tag, f))
            << r.what;
        EXPECT_EQ(std::ftell(f), 0L) << r.what;
        std::fclose(f);
    }
    EXPECT_FALSE(analysePitch(nullptr, 0, 0, 16, 1, 2, 44100, 1024, 256, 0, 0, 1, nullptr));
}

TEST(AnalysePitch, BandLimitsDefaultSwapAndShapeTheLagRange) {
    const std::vector<std::uint8_t> data(20000, 0);
    auto a = pitch_setup(data.data(), data.size(), 10000, 16, 1, 2, 44100, 1024, 256, 100, 400, 1);
    auto b = pitch_setup(data.data(), data.size(), 10000, 16, 1, 2, 44100, 1024, 256, 400, 100, 1);
    auto c = pitch_setup(data.data(), data.size(), 10000, 16, 1, 2, 44100, 1024, 256, -5, 0, 1);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->minLag, 110);
    EXPECT_EQ(a->maxLag, 441);
    EXPECT_EQ(b->minLag, a->minLag);
    EXPECT_EQ(b->maxLag, a->maxLag);
    EXPECT_EQ(c->minLag, 50);
    EXPECT_EQ(c->maxLag, 768);
}

// wav_read_raw reports the bytes really present; a header that claims far
// more data costs nothing.
TEST(AnalysePitch, OversizedDataHeaderOnlyAnalysesThePresentBytes) {
    std::vector<double> x = vowel(44100, 0.2, 200, 200);
    std::vector<std::uint8_t> file = testsupport::wav16_mono(44100, x);
    file[40] = 0xF0;  // data chunk size: 0x7FFFFFF0 bytes
    file[41] = 0xFF;
    file[42] = 0xFF;
    file[43] = 0x7F;
    const std::optional<RawWave> raw = wav_parse_raw(file.data(), file.size(), 0, 0, 4096, nullptr);
    ASSERT_TRUE(raw);
    const std::optional<FreqList> list = analyse_raw(*raw, nullptr);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->count, static_cast<std::int32_t>((x.size() * 2 - 1024 - 1) / 512 + 1));
}

TEST(AnalysePitch, FramesPastTheDataReadAsSilenceWithoutPadding) {
    const std::vector<double> x = vowel(22050, 0.3, 200, 200);
    std::vector<std::uint8_t> padded = encode(x, SampleCoding::S16);
    std::vector<std::uint8_t> bare(padded.begin(), padded.begin() + static_cast<std::ptrdiff_t>(x.size() * 2));
    const auto D = static_cast<std::int32_t>(bare.size());
    const auto a = analysePitch(padded.data(), padded.size(), D, 16, 1, 2, 22050, 720, 128, 0, 0, 1, nullptr);
    const auto b = analysePitch(bare.data(), bare.size(), D, 16, 1, 2, 22050, 720, 128, 0, 0, 1, nullptr);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->freqs, b->freqs);
    EXPECT_EQ(a->amps, b->amps);
}

TEST(PitchAmplitude, IsTheWindowedRmsLevel) {
    const std::vector<double> x = sine(44100, 0.3, 1000, 10000);
    const std::vector<std::uint8_t> data = encode(x, SampleCoding::S16);
    auto setup = pitch_setup(data.data(), data.size(), static_cast<std::int32_t>(x.size() * 2), 16, 1, 2, 44100,
                             1024, 256, 0, 0, 1);
    ASSERT_TRUE(setup);
    const PitchWork work = pitch_work(*setup);
    EXPECT_EQ(pitch_amplitude(*setup, work, 0), 0.0);
    EXPECT_NEAR(pitch_amplitude(*setup, work, 10), 10000 / std::sqrt(2.0), 30.0);
}

// The difference function runs several lags side by side; each value must be
// the plain sum in increasing k.
TEST(PitchPass1, DifferenceValuesEqualThePlainSums) {
    const std::vector<double> x = vowel(44100, 0.2, 210, 210);
    const std::vector<std::uint8_t> data = encode(x, SampleCoding::S16);
    for (std::int32_t fHi : {880, 900}) {  // even (50) and odd (49) shortest lag
        auto setup = pitch_setup(data.data(), data.size(), static_cast<std::int32_t>(x.size() * 2), 16, 1, 2,
                                 44100, 1024, 256, 57, fHi, 1);
        ASSERT_TRUE(setup);
        PitchWork work = pitch_work(*setup);
        const bool wide = work.wide_lanes;
        for (bool use_wide : {false, wide}) {
            work.wide_lanes = use_wide;
            pitch_pass1_step(*setup, work, 12);
            const std::int32_t N = setup->N, K = setup->K;
            for (std::int32_t m = setup->minLag; m <= setup->maxLag; ++m) {
                const std::int32_t s = N / 4 + N / 8 - m / 2;
                double acc = 0.0;
                for (std::int32_t k = 0; k < K; ++k) {
                    const double e = work.frame[static_cast<std::size_t>(s + k)] -
                                     work.frame[static_cast<std::size_t>(s + k + m)];
                    acc += e * e * work.w2[static_cast<std::size_t>(2 * k)];
                }
                ASSERT_EQ(work.diff[static_cast<std::size_t>(m)], acc) << "lag " << m << " wide " << use_wide;
            }
        }
    }
}

// The scores' spectral sums come from per-lag tables; they must stay within
// rounding of direct evaluation, and equal it where no turn wraps around.
TEST(PitchPass1, SpectralSumsMatchDirectEvaluation) {
    const std::vector<double> x = vowel(44100, 0.2, 210, 210);
    const std::vector<std::uint8_t> data = encode(x, SampleCoding::S16);
    auto setup = pitch_setup(data.data(), data.size(), static_cast<std::int32_t>(x.size() * 2), 16, 1, 2, 44100,
                             1024, 256, 0, 0, 1);
    ASSERT_TRUE(setup);
    PitchWork work = pitch_work(*setup);
    pitch_pass1_step(*setup, work, 12);
    const double twopi = 6.28318530717958;
    for (std::int32_t m : {51, 64, 99, 210, 211, 420, 767}) {
        double re = 0, im = 0, mag = 0;
        for (std::int32_t j = 0; j < setup->N; ++j) {
            const double y = work.windowed[static_cast<std::size_t>(j)];
            re += y * det_cos(twopi * j / m);
            im += y * det_sin(twopi * j / m);
            mag += std::fabs(y);
        }
        const SpectralSums sums = candidate_sums(*setup, work, m);
        EXPECT_NEAR(sums.re, re, mag * 1e-15) << m;
        EXPECT_NEAR(sums.im, im, mag * 1e-15) << m;
    }
    // Only the first half turn holds signal: identical bits.
    const std::int32_t m = 300;
    for (std::int32_t j = m / 2 + 1; j < setup->N; ++j) work.windowed[static_cast<std::size_t>(j)] = 0.0;
    double re = 0, im = 0;
    for (std::int32_t j = 0; j < setup->N; ++j) {
        re += work.windowed[static_cast<std::size_t>(j)] * det_cos(twopi * j / m);
        im += work.windowed[static_cast<std::size_t>(j)] * det_sin(twopi * j / m);
    }
    const SpectralSums sums = candidate_sums(*setup, work, m);
    EXPECT_EQ(sums.re, re);
    EXPECT_EQ(sums.im, im);
}

// The refinement reads a preloaded stretch with one kernel per trial; it must
// reach the same period as the search over the generic readers, for every
// coding, at the start, in the middle and at the end of the data.
TEST(PitchRefine, EqualsTheSearchOverTheGenericReaders) {
    const std::vector<double> x = vowel(22050, 0.25, 190, 190);
    for (SampleCoding coding : {SampleCoding::U8, SampleCoding::S16, SampleCoding::S24, SampleCoding::S32,
                                SampleCoding::F32}) {
        const std::vector<std::uint8_t> data = encode(x, coding, 2);
        const int w = coding_bytes(coding);
        auto setup = pitch_setup(data.data(), data.size(), static_cast<std::int32_t>(x.size()) * 2 * w, w * 8, 2,
                                 2 * w, 22050, 720, 128, 0, 0, coding == SampleCoding::F32 ? 3 : 1);
        ASSERT_TRUE(setup);
        PitchWork work = pitch_work(*setup);
        for (std::int32_t i : {0, 1, 20, setup->list_count - 1}) {
            const std::int32_t lag = 116;  // about 190 Hz
            // The same search, on refine_cost_direct.
            double S = lag, V = 1.0, best = 1e30;
            bool first = true;
            while (V > lag / 80000.0) {
                double pick = S;
                for (double t : {S - V, S, S + V}) {
                    if (t == S && !first) continue;
                    const double c = refine_cost_direct(*setup, work, i, t);
                    if (c < best) {
                        best = c;
                        pick = t;
                    }
                }
                first = false;
                if (pick != S) {
                    S = pick;
                    if (std::fabs(lag - S) > 1) {
                        S = lag;
                        break;
                    }
                }
                V /= 2;
            }
            EXPECT_EQ(pitch_refine(*setup, work, i, lag), S) << static_cast<int>(coding) << " step " << i;
        }
    }
}

TEST(AnalyseWave, BundledVoiceSampleIsFoundAt220Hz) {
    const std::string dir = testsupport::scratch_dir("analysis_voice");
    const std::string wav = dir + "/voice.wav";
    testsupport::write_bytes(wav, testsupport::read_bytes(testsupport::voice_sample()));
    std::FILE* progress = testsupport::temp_stream();
    const std::optional<FreqList> list =
        analyseWave(path_from_utf8(wav), progress, nullptr, AnalysisOptions{AnalysisMethod::Classic});
    std::fclose(progress);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->sample_rate, 44100);
    EXPECT_EQ(list->step, 256);
    EXPECT_NEAR(list->freq_avg, 220.0, 2.2);
    // After the consonant and the onset (0.12 s) every step is voiced at 220 Hz.
    const int from = static_cast<int>(0.12 * 44100 / 256);
    int voiced = 0;
    for (int i = from; i < list->count; ++i) {
        const double f = list->freqs[static_cast<std::size_t>(i)];
        if (f == 0.0) continue;
        ++voiced;
        EXPECT_NEAR(f, 220.0, 2.2) << "step " << i;
    }
    EXPECT_GE(voiced, (list->count - from) * 9 / 10);

    ASSERT_TRUE(testsupport::file_exists(dir + "/voice_wav.frq"));
    const std::optional<FreqList> saved = frq_load(path_from_utf8(wav), nullptr);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->count, list->count);
    EXPECT_EQ(saved->freq_avg, list->freq_avg);
    EXPECT_EQ(saved->freqs, list->freqs);
}

TEST(AnalyseWave, NothingUsableWritesNoFrqFile) {
    const std::string dir = testsupport::scratch_dir("analysis_refused");
    const struct { const char* name; std::vector<std::uint8_t> file; } rows[] = {
        {"short.wav", testsupport::wav16_mono(44100, std::vector<double>(400, 1000.0))},
        {"double.wav", testsupport::wav_file(3, 1, 44100, 64, std::vector<std::uint8_t>(80000, 0))},
        {"text.wav", {'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e', 'f', 'i', 'l', 'e'}},
    };
    for (const auto& r : rows) {
        const std::string wav = dir + "/" + r.name;
        testsupport::write_bytes(wav, r.file);
        std::FILE* progress = testsupport::temp_stream();
        EXPECT_FALSE(analyseWave(path_from_utf8(wav), progress, nullptr)) << r.name;
        std::fclose(progress);
        std::string frq = wav;
        frq.replace(frq.size() - 4, 1, "_");
        EXPECT_FALSE(testsupport::file_exists(frq + ".frq")) << r.name;
    }
    EXPECT_FALSE(analyseWave(path_from_utf8(dir + "/missing.wav"), nullptr, nullptr));
}

}  // namespace
}  // namespace kelmotra
