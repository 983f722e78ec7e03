// WAV writer: the header, the conversion of every depth, writing to files and
// to the standard output stream, and round trips through the reader.
#include "audio/wav_writer.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "audio/wav_reader.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using kelmotra::path_from_ascii;
using kelmotra::path_from_utf8;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t u32_at(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint16_t u16_at(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::string tag_at(const Bytes& b, std::size_t at) {
    return std::string(reinterpret_cast<const char*>(b.data() + at), 4);
}

Bytes le_bytes(std::uint64_t v, int n) {
    Bytes b;
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return b;
}

Bytes f32_bytes(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, 4);
    return le_bytes(u, 4);
}

Bytes f64_bytes(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, 8);
    return le_bytes(u, 8);
}

Bytes encode(const std::vector<double>& values, std::int32_t bits, std::int32_t channels = 1,
             std::int32_t rate = 44100, std::int16_t format = 1) {
    auto b = kelmotra::wav_encode(values.data(), static_cast<std::int32_t>(values.size()) / channels, bits,
                                  channels, rate, format);
    return b ? *b : Bytes{};
}

// The names in a folder, to see that nothing was left behind.
std::vector<std::string> folder_names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs fn with the standard output stream sent to a temporary file and gives
// back what was written to it.
template <typename F>
Bytes capture_stdout(F fn) {
    std::fflush(stdout);
    std::FILE* tmp = testsupport::temp_stream();
    const int saved = ::dup(1);
    ::dup2(::fileno(tmp), 1);
    fn();
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    std::rewind(tmp);
    Bytes out;
    int c;
    while ((c = std::fgetc(tmp)) != EOF) out.push_back(static_cast<std::uint8_t>(c));
    std::fclose(tmp);
    return out;
}

// ---------------------------------------------------------------------------
// Header

TEST(WavWriter, HeaderFieldsForEachDepthAndLayout) {
    struct Case {
        std::int32_t bits, channels, rate;
        std::int16_t format;
        std::int32_t count;
        std::uint16_t tag, align;
        std::uint32_t byte_rate;
    };
    const Case cases[] = {
        {16, 1, 44100, 1, 10, 1, 2, 88200},  // the driver's call
        {16, 1, 44100, 0, 10, 1, 2, 88200},
        {8, 1, 8000, 1, 7, 1, 1, 8000},
        {24, 2, 48000, 1, 5, 1, 6, 288000},
        {32, 1, 96000, 1, 3, 1, 4, 384000},
        {32, 2, 22050, 3, 3, 3, 8, 176400},
        {64, 1, 44100, 3, 2, 3, 8, 352800},
        {64, 3, 11025, 1, 2, 3, 24, 264600},  // doubles are float samples whatever was asked
        {16, 1, 44100, 3, 4, 1, 2, 88200},    // 16-bit samples are integers whatever was asked
        {8, 1, 44100, 3, 4, 1, 1, 44100},
        {24, 1, 44100, 3, 4, 1, 3, 132300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.channels << " ch, format " << c.format);
        std::vector<double> values(static_cast<std::size_t>(c.count * c.channels), 0.0);
        const Bytes b = encode(values, c.bits, c.channels, c.rate, c.format);
        const std::uint32_t data = static_cast<std::uint32_t>(c.count * c.channels * c.bits / 8);
        ASSERT_EQ(b.size(), 44u + data);
        EXPECT_EQ(tag_at(b, 0), "RIFF");
        EXPECT_EQ(u32_at(b, 4), data + 36);
        EXPECT_EQ(tag_at(b, 8), "WAVE");
        EXPECT_EQ(tag_at(b, 12), "fmt ");
        EXPECT_EQ(u32_at(b, 16), 16u);
        EXPECT_EQ(u16_at(b, 20), c.tag);
        EXPECT_EQ(u16_at(b, 22), c.channels);
        EXPECT_EQ(u32_at(b, 24), static_cast<std::uint32_t>(c.rate));
        EXPECT_EQ(u32_at(b, 28), c.byte_rate);
        EXPECT_EQ(u16_at(b, 32), c.align);
        EXPECT_EQ(u16_at(b, 34), c.bits);
        EXPECT_EQ(tag_at(b, 36), "data");
        EXPECT_EQ(u32_at(b, 40), data);
    }
}

TEST(WavWriter, NoSamplesGiveAFortyFourByteFile) {
    for (std::int32_t count : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
        SCOPED_TRACE(count);
        auto b = kelmotra::wav_encode(nullptr, count, 16, 1, 44100, 1);
        ASSERT_TRUE(b.has_value());
        ASSERT_EQ(b->size(), 44u);
        EXPECT_EQ(u32_at(*b, 4), 36u);
        EXPECT_EQ(u32_at(*b, 40), 0u);
    }
    const std::string dir = testsupport::scratch_dir("wav_writer_empty");
    const std::string path = dir + "/empty.wav";
    EXPECT_EQ(kelmotra::wav_write(path_from_utf8(path), nullptr, 0, 16, 1, 44100, 1), 44);
    const Bytes file = testsupport::read_bytes(path);
    ASSERT_EQ(file.size(), 44u);
    EXPECT_EQ(u32_at(file, 4), 36u);
    EXPECT_EQ(u32_at(file, 40), 0u);
}

TEST(WavWriter, RefusesDepthsAndChannelCountsItCannotWrite) {
    const std::string dir = testsupport::scratch_dir("wav_writer_refuse");
    const double v[4] = {1, 2, 3, 4};
    struct Case {
        std::int32_t bits, channels;
    };
    const Case cases[] = {{0, 1}, {4, 1}, {12, 1}, {20, 1}, {40, 1}, {48, 1}, {128, 1}, {-16, 1},
                          {16, 0}, {16, -1}, {16, 70000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.channels << " ch");
        EXPECT_FALSE(kelmotra::wav_encode(v, 2, c.bits, c.channels, 44100, 1).has_value());
        EXPECT_EQ(kelmotra::wav_write(path_from_utf8(dir + "/x.wav"), v, 2, c.bits, c.channels, 44100, 1), -1);
    }
    EXPECT_TRUE(folder_names(dir).empty());
}

TEST(WavWriter, RefusesFilesTooLargeForTheHeaderSizes) {
    // The 32-bit size fields cannot describe 4 GiB of samples; the values are
    // not even looked at.
    EXPECT_FALSE(kelmotra::wav_encode(nullptr, 0x40000000, 32, 1, 44100, 1).has_value());
    EXPECT_FALSE(kelmotra::wav_encode(nullptr, 0x7FFFFFFF, 16, 2, 44100, 1).has_value());
    EXPECT_FALSE(kelmotra::wav_encode(nullptr, 0x10000000, 8, 16, 44100, 1).has_value());
    const std::string dir = testsupport::scratch_dir("wav_writer_too_large");
    EXPECT_EQ(kelmotra::wav_write(path_from_utf8(dir + "/big.wav"), nullptr, 0x7FFFFFFF, 64, 1, 44100, 3), -1);
    EXPECT_TRUE(folder_names(dir).empty());
}

// ---------------------------------------------------------------------------
// Conversion

TEST(WavWriter, ConvertsEachDepthByTheTable) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        std::int32_t bits;
        std::int16_t format;
        double v;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {16, 1, 40000.0, {0xFF, 0x7F}},
        {16, 1, -40000.0, {0x00, 0x80}},
        {16, 1, 1.9, {0x01, 0x00}},
        {16, 1, -1.9, {0xFF, 0xFF}},
        {16, 1, 32767.9, {0xFF, 0x7F}},
        {16, 1, -32768.9, {0x00, 0x80}},
        {16, 1, -0.5, {0x00, 0x00}},
        {16, 1, inf, {0xFF, 0x7F}},
        {16, 1, -inf, {0x00, 0x80}},
        {16, 1, nan, {0x00, 0x00}},
        {16, 3, 1.9, {0x01, 0x00}},
        {8, 1, 0.0, {128}},
        {8, 1, 32767.0, {255}},
        {8, 1, -32768.0, {0}},
        {8, 1, 256.0, {129}},
        {8, 1, -129.0, {127}},
        {8, 1, 1e9, {255}},
        {8, 1, -1e9, {0}},
        {8, 1, nan, {128}},  // silence, not the most negative value
        {24, 1, 1.0, {0x00, 0x01, 0x00}},
        {24, 1, -1.0, {0x00, 0xFF, 0xFF}},
        {24, 1, 40000.0, {0xFF, 0xFF, 0x7F}},
        {24, 1, -40000.0, {0x00, 0x00, 0x80}},
        {24, 1, 0.001, {0x00, 0x00, 0x00}},
        {24, 1, -0.001, {0x00, 0x00, 0x00}},
        {24, 1, 1.0 / 256.0 * 3.9, {0x03, 0x00, 0x00}},
        {24, 1, nan, {0x00, 0x00, 0x00}},
        {32, 1, 1.0, {0x00, 0x00, 0x01, 0x00}},
        {32, 1, -1.0, {0x00, 0x00, 0xFF, 0xFF}},
        {32, 1, 0.5, {0x00, 0x80, 0x00, 0x00}},
        {32, 1, 40000.0, {0xFF, 0xFF, 0xFF, 0x7F}},
        {32, 1, -40000.0, {0x00, 0x00, 0x00, 0x80}},
        {32, 1, nan, {0x00, 0x00, 0x00, 0x00}},
        {32, 3, 32767.5, f32_bytes(1.0f)},
        {32, 3, -32767.5, f32_bytes(-1.0f)},
        {32, 3, 0.0, f32_bytes(0.0f)},
        {32, 3, 1.0, f32_bytes(static_cast<float>(1.0 / 32767.5))},
        {32, 3, 65535.0, f32_bytes(2.0f)},  // float samples are not clamped
        {32, 3, nan, f32_bytes(0.0f)},
        {64, 1, 32767.5, f64_bytes(1.0)},
        {64, 3, -16383.75, f64_bytes(-0.5)},
        {64, 3, 1.0, f64_bytes(1.0 / 32767.5)},
        {64, 3, nan, f64_bytes(0.0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, format " << c.format << ", value " << c.v);
        // Three samples: a pair goes through the two-at-a-time path, the last alone.
        const Bytes b = encode({c.v, c.v, c.v}, c.bits, 1, 44100, c.format);
        Bytes want;
        for (int i = 0; i < 3; ++i) want.insert(want.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(Bytes(b.begin() + 44, b.end()), want);
    }
}

TEST(WavWriter, WritesEveryValueOfEveryChannelInOrder) {
    for (std::int32_t ch : {1, 2, 3}) {
        SCOPED_TRACE(ch);
        std::vector<double> values;
        for (int i = 0; i < 4 * ch; ++i) values.push_back(100.0 * i - 700.0);
        const Bytes b = encode(values, 16, ch);
        ASSERT_EQ(b.size(), 44u + values.size() * 2);
        EXPECT_EQ(u32_at(b, 40), values.size() * 2);
        for (std::size_t i = 0; i < values.size(); ++i)
            EXPECT_EQ(static_cast<std::int16_t>(u16_at(b, 44 + 2 * i)), values[i]) << i;
    }
}

// ---------------------------------------------------------------------------
// Round trips

TEST(WavWriter, ReaderGivesBackWhatTheWriterWrote) {
    struct Case {
        std::int32_t bits;
        std::int16_t format;
        double tolerance;  // largest difference allowed, on the 16-bit scale
    };
    const Case cases[] = {
        {16, 1, 0.0}, {24, 1, 0.0}, {32, 1, 0.0}, {32, 3, 32767.5 * 1e-7}, {64, 3, 1e-9}, {64, 1, 1e-9},
    };
    const std::string dir = testsupport::scratch_dir("wav_writer_round_trip");
    for (const Case& c : cases) {
        for (std::int32_t ch : {1, 2, 3}) {
            SCOPED_TRACE(testing::Message() << c.bits << " bits, format " << c.format << ", " << ch << " ch");
            // Values every depth holds exactly: whole numbers and steps of 1/256.
            std::vector<double> values;
            for (int i = 0; i < 300 * ch; ++i) values.push_back(std::round(32767.0 * std::sin(i * 0.05)));
            values[1] = c.bits == 16 ? 12.0 : 12.25;
            values[2] = -32768.0;
            values[3] = 32767.0;
            const std::string path = dir + "/rt.wav";
            const std::int32_t count = static_cast<std::int32_t>(values.size()) / ch;
            const std::int64_t n = kelmotra::wav_write(path_from_utf8(path), values.data(), count, c.bits, ch,
                                                       32000, c.format);
            ASSERT_EQ(n, 44 + static_cast<std::int64_t>(values.size()) * (c.bits / 8));
            ASSERT_EQ(static_cast<std::int64_t>(fs::file_size(path)), n);
            auto w = kelmotra::wav_read(path_from_utf8(path), stderr);
            ASSERT_TRUE(w.has_value());
            EXPECT_EQ(w->frames, count);
            EXPECT_EQ(w->format.channels, ch);
            EXPECT_EQ(w->format.sample_rate, 32000u);
            EXPECT_EQ(w->format.bits_per_sample, c.bits);
            ASSERT_EQ(w->samples.size(), (static_cast<std::size_t>(count) + 2048) * static_cast<std::size_t>(ch));
            for (std::size_t i = 0; i < values.size(); ++i)
                ASSERT_NEAR(w->samples[i], values[i], c.tolerance) << i;

            auto r = kelmotra::wav_read_raw(path_from_utf8(path), 0, 0, 0, stderr);
            ASSERT_TRUE(r.has_value());
            EXPECT_EQ(r->byte_count, n - 44);
        }
    }
}

TEST(WavWriter, EightBitRoundTripStaysWithinOneStep) {
    // Reading gives (b - 127.5) * 256 and writing adds 128.5 steps before it
    // truncates, so a value comes back at most one step of 256 above itself.
    std::vector<double> values;
    for (double v = -32768.0; v <= 32767.0; v += 97.3) values.push_back(v);
    const Bytes b = encode(values, 8);
    auto w = kelmotra::wav_parse(b.data(), b.size(), 0, nullptr);
    ASSERT_TRUE(w.has_value());
    ASSERT_EQ(w->samples.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double back = w->samples[i];
        if (values[i] >= 126.5 * 256.0) {
            EXPECT_EQ(back, 32640.0);  // the top step clamps
            continue;
        }
        EXPECT_GT(back, values[i]) << i;
        EXPECT_LE(back, values[i] + 256.0) << i;
    }
    // Decoded bytes written again give their own byte, one step up.
    const Bytes again = encode({-32640.0, 128.0, 32640.0}, 8);
    EXPECT_EQ(Bytes(again.begin() + 44, again.end()), (Bytes{1, 129, 255}));
}

// ---------------------------------------------------------------------------
// Files and the standard output stream

TEST(WavWriterFiles, WritesTheEncodedBytesAndLeavesNoTemporaryFile) {
    const std::string dir = testsupport::scratch_dir("wav_writer_file");
    const std::vector<double> values = {0.0, 1000.0, -1000.0, 32767.0};
    const Bytes expected = encode(values, 16);
    const std::string path = dir + "/out.wav";
    EXPECT_EQ(kelmotra::wav_write(path_from_utf8(path), values.data(), 4, 16, 1, 44100, 1), 52);
    EXPECT_EQ(testsupport::read_bytes(path), expected);
    EXPECT_EQ(folder_names(dir), std::vector<std::string>{"out.wav"});

    // Replacing a longer file leaves only the new bytes.
    testsupport::write_bytes(path, Bytes(5000, 0x33));
    EXPECT_EQ(kelmotra::wav_write(path_from_utf8(path), values.data(), 4, 16, 1, 44100, 1), 52);
    EXPECT_EQ(testsupport::read_bytes(path), expected);
    EXPECT_EQ(folder_names(dir), std::vector<std::string>{"out.wav"});
}

TEST(WavWriterFiles, FailingWritesLeaveEverythingAsItWas) {
    const std::string dir = testsupport::scratch_dir("wav_writer_fail");
    const Bytes old(100, 0x42);
    testsupport::write_bytes(dir + "/out.wav", old);
    fs::create_directories(dir + "/folder");
    testsupport::write_bytes(dir + "/folder/inside", Bytes{1});
    const double v[2] = {1.0, 2.0};
    const std::vector<std::string> paths = {
        dir + "/missing/out.wav",         // no such folder
        dir + "/missing/../out.wav",      // the existing file, through a folder that is not there
        dir + "/out.wav/child.wav",       // a file where a folder should be
        dir + "/folder",                  // a folder where the file should be
        dir + "/",                        // no file name at all
    };
    for (const std::string& p : paths) {
        SCOPED_TRACE(p);
        EXPECT_EQ(kelmotra::wav_write(path_from_utf8(p), v, 2, 16, 1, 44100, 1), -1);
    }
    EXPECT_EQ(testsupport::read_bytes(dir + "/out.wav"), old);
    EXPECT_EQ(folder_names(dir), (std::vector<std::string>{"folder", "out.wav"}));
    EXPECT_EQ(folder_names(dir + "/folder"), std::vector<std::string>{"inside"});
}

TEST(WavWriterFiles, ReadOnlyFolderKeepsTheOldFile) {
#ifdef _WIN32
    GTEST_SKIP() << "folder permissions do not stop writes on Windows";
#else
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into any folder";
#endif
    const std::string dir = testsupport::scratch_dir("wav_writer_readonly");
    const Bytes old(100, 0x42);
    testsupport::write_bytes(dir + "/out.wav", old);
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    const double v[2] = {1.0, 2.0};
    EXPECT_EQ(kelmotra::wav_write(path_from_utf8(dir + "/out.wav"), v, 2, 16, 1, 44100, 1), -1);
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(testsupport::read_bytes(dir + "/out.wav"), old);
    EXPECT_EQ(folder_names(dir), std::vector<std::string>{"out.wav"});
}

TEST(WavWriterFiles, LongFileNamesCanBeWritten) {
    // A name close to the file system's limit leaves no room for a suffix on
    // the temporary file.
    const std::string dir = testsupport::scratch_dir("wav_writer_long");
    const std::string name = std::string(247, 'n') + ".wav";
    const double v[2] = {1.0, 2.0};
    EXPECT_EQ(kelmotra::wav_write(path_from_utf8(dir + "/" + name), v, 2, 16, 1, 44100, 1), 48);
    EXPECT_EQ(folder_names(dir), std::vector<std::string>{name});
}

TEST(WavWriterFiles, KanaFileNameIsWrittenAndRead) {
    const std::string dir = testsupport::scratch_dir("wav_writer_kana");
    const std::string name = "\xE3\x81\x82.wav";  // あ.wav
    const std::vector<double> values = {5.0, -5.0, 300.0};
    EXPECT_EQ(kelmotra::wav_write(path_from_utf8(dir + "/" + name), values.data(), 3, 16, 1, 44100, 1), 50);
    EXPECT_EQ(folder_names(dir), std::vector<std::string>{name});
    auto w = kelmotra::wav_read(path_from_utf8(dir + "/" + name), stderr);
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->frames, 3);
    EXPECT_EQ(w->samples[2], 300.0);
}

TEST(WavWriterFiles, DashWritesTheWholeFileToStandardOutput) {
    const std::string dir = testsupport::scratch_dir("wav_writer_stdout");
    const std::vector<double> values = {0.0, 1.9, -1.9, 40000.0, -40000.0};
    std::int64_t n = 0;
    const Bytes out = capture_stdout(
        [&] { n = kelmotra::wav_write(path_from_ascii("-"), values.data(), 5, 16, 1, 44100, 1); });
    EXPECT_EQ(n, 54);
    EXPECT_EQ(out, encode(values, 16));

    const Bytes empty = capture_stdout([&] { n = kelmotra::wav_write(path_from_ascii("-"), nullptr, 0, 24, 1, 8000, 1); });
    EXPECT_EQ(n, 44);
    EXPECT_EQ(empty, encode({}, 24, 1, 8000));

    // Only the bare "-" means the stream: a file named "-" in a folder is a file.
    const Bytes nothing = capture_stdout(
        [&] { n = kelmotra::wav_write(path_from_utf8(dir + "/-"), values.data(), 5, 16, 1, 44100, 1); });
    EXPECT_EQ(n, 54);
    EXPECT_TRUE(nothing.empty());
    EXPECT_EQ(testsupport::read_bytes(dir + "/-"), encode(values, 16));
}

}  // namespace
