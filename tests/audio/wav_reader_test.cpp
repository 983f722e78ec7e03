// WAV reader: decoding of every depth, the chunk walk over the layouts met in
// real files, refusal of contradictory formats, damaged sizes and truncated
// files, and the raw reader's window.
#include "audio/wav_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using kelmotra::path_from_utf8;
using kelmotra::RawWave;
using kelmotra::WaveData;
using kelmotra::WaveFormat;
using Bytes = std::vector<std::uint8_t>;
using testsupport::put_f32;
using testsupport::put_f64;
using testsupport::put_tag;
using testsupport::put_u16;
using testsupport::put_u32;

constexpr int kPad = 2048;

// An error stream whose text can be read back.
struct ErrText {
    std::FILE* f = testsupport::temp_stream();
    ErrText() = default;
    ErrText(const ErrText&) = delete;
    ErrText& operator=(const ErrText&) = delete;
    ~ErrText() {
        if (f) std::fclose(f);
    }
    std::string text() const {
        std::fflush(f);
        std::rewind(f);
        std::string s;
        int c;
        while ((c = std::fgetc(f)) != EOF) s.push_back(static_cast<char>(c));
        return s;
    }
};

// One chunk: id, size and body; size_override replaces the declared size.
Bytes chunk(const char* id, const Bytes& body, std::int64_t size_override = -1) {
    Bytes b;
    put_tag(b, id);
    put_u32(b, static_cast<std::uint32_t>(size_override >= 0 ? size_override
                                                             : static_cast<std::int64_t>(body.size())));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// A RIFF/WAVE file of the given chunks, laid one after the other as given.
Bytes riff(const std::vector<Bytes>& chunks) {
    Bytes body;
    put_tag(body, "WAVE");
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes b;
    put_tag(b, "RIFF");
    put_u32(b, static_cast<std::uint32_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

// The 16 bytes of a "fmt " body with every field given.
Bytes fmt_body(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t align,
               std::uint16_t bits) {
    Bytes b;
    put_u16(b, tag);
    put_u16(b, channels);
    put_u32(b, rate);
    put_u32(b, rate * align);
    put_u16(b, align);
    put_u16(b, bits);
    return b;
}

Bytes fmt(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits, std::uint32_t rate = 44100) {
    return chunk("fmt ", fmt_body(tag, channels, rate, static_cast<std::uint16_t>(channels * (bits / 8)), bits));
}

// A WAVE_FORMAT_EXTENSIBLE "fmt " chunk (40 bytes) whose sub-format GUID
// starts with sub_tag.
Bytes fmt_extensible(std::uint16_t sub_tag, std::uint16_t channels, std::uint16_t bits) {
    Bytes b = fmt_body(0xFFFE, channels, 48000, static_cast<std::uint16_t>(channels * (bits / 8)), bits);
    put_u16(b, 22);    // size of the extension
    put_u16(b, bits);  // valid bits
    put_u32(b, channels == 2 ? 3u : 4u);  // speaker mask
    put_u16(b, sub_tag);
    const std::uint8_t rest[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                   0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    b.insert(b.end(), rest, rest + 14);
    return chunk("fmt ", b);
}

Bytes seq16(int n, int from = 0) {
    Bytes b;
    for (int i = 0; i < n; ++i) put_u16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(from + i)));
    return b;
}

std::optional<WaveData> parse(const Bytes& file, std::FILE* err = nullptr, int pad = kPad) {
    return kelmotra::wav_parse(file.data(), file.size(), pad, err);
}

std::optional<RawWave> parse_raw(const Bytes& file, std::int32_t start = 0, std::int32_t length = 0,
                                 std::int32_t pad = 0, std::FILE* err = nullptr) {
    return kelmotra::wav_parse_raw(file.data(), file.size(), start, length, pad, err);
}

// The invariants every decoded result keeps, whatever the file.
void expect_consistent(const WaveData& w, int pad) {
    ASSERT_GT(w.frames, 0);
    ASSERT_GE(w.format.channels, 1);
    ASSERT_EQ(w.samples.size(),
              (static_cast<std::size_t>(w.frames) + static_cast<std::size_t>(pad)) * w.format.channels);
    for (std::size_t i = static_cast<std::size_t>(w.frames) * w.format.channels; i < w.samples.size(); ++i)
        ASSERT_EQ(w.samples[i], 0.0) << "pad value " << i;
}

// ---------------------------------------------------------------------------
// Decoding

struct DepthCase {
    const char* name;
    std::uint16_t tag;
    std::uint16_t bits;
    Bytes data;
    std::vector<double> expected;
};

std::vector<DepthCase> depth_cases() {
    std::vector<DepthCase> cases;
    cases.push_back({"8-bit unsigned", 1, 8, {0, 128, 255, 127, 1}, {-32640.0, 128.0, 32640.0, -128.0, -32384.0}});
    {
        Bytes d;
        for (int v : {0, 1, -1, 32767, -32768, 12345}) put_u16(d, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
        cases.push_back({"16-bit", 1, 16, d, {0, 1, -1, 32767, -32768, 12345}});
        cases.push_back({"16-bit tagged float decodes as integer", 3, 16, d, {0, 1, -1, 32767, -32768, 12345}});
    }
    cases.push_back({"24-bit",
                     1,
                     24,
                     {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00},
                     {-32768.0, 32767.99609375, 1.0, -0.00390625, 0.00390625}});
    {
        Bytes d;
        for (std::uint32_t v : {0x80000000u, 0x7FFFFFFFu, 0x00010000u, 0xFFFF0000u, 0x00008000u}) put_u32(d, v);
        cases.push_back({"32-bit integer", 1, 32, d, {-32768.0, 2147483647.0 / 65536.0, 1.0, -1.0, 0.5}});
    }
    {
        Bytes d;
        for (float v : {1.0f, -1.0f, 0.5f, 0.0f}) put_f32(d, v);
        cases.push_back({"32-bit float", 3, 32, d, {32767.5, -32767.5, 16383.75, 0.0}});
        // Any tag but integer PCM means float at 32 bits.
        cases.push_back({"32-bit tag 0 is float", 0, 32, d, {32767.5, -32767.5, 16383.75, 0.0}});
    }
    {
        Bytes d;
        for (double v : {1.0, -0.25, 2.0}) put_f64(d, v);
        cases.push_back({"64-bit float", 3, 64, d, {32767.5, -8191.875, 65535.0}});
        cases.push_back({"64-bit ignores an integer tag", 1, 64, d, {32767.5, -8191.875, 65535.0}});
    }
    // Values no recording holds: NaN and infinities read as silence, and
    // scaling never turns a finite value infinite.
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double big = std::numeric_limits<double>::max();
    {
        Bytes d;
        for (float v : {static_cast<float>(nan), static_cast<float>(inf), static_cast<float>(-inf),
                        std::numeric_limits<float>::max()})
            put_f32(d, v);
        cases.push_back({"32-bit float non-finite", 3, 32, d,
                         {0.0, 0.0, 0.0, static_cast<double>(std::numeric_limits<float>::max()) * 32767.5}});
    }
    {
        Bytes d;
        for (double v : {nan, inf, -inf, big, -big, 4.9e-324}) put_f64(d, v);
        cases.push_back({"64-bit float non-finite", 3, 64, d, {0.0, 0.0, 0.0, big, -big, 4.9e-324 * 32767.5}});
    }
    return cases;
}

TEST(WavReader, DecodesEveryDepthOnTheSixteenBitScale) {
    for (const DepthCase& c : depth_cases()) {
        SCOPED_TRACE(c.name);
        const Bytes file = riff({fmt(c.tag, 1, c.bits, 22050), chunk("data", c.data)});
        ErrText err;
        auto w = parse(file, err.f);
        ASSERT_TRUE(w.has_value());
        EXPECT_EQ(err.text(), "");
        EXPECT_EQ(w->frames, static_cast<std::int32_t>(c.expected.size()));
        expect_consistent(*w, kPad);
        for (std::size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(w->samples[i], c.expected[i]) << "sample " << i;
        EXPECT_EQ(w->format.bits_per_sample, c.bits);
        EXPECT_EQ(w->format.format_tag, c.tag);
        EXPECT_EQ(w->format.channels, 1);
        EXPECT_EQ(w->format.sample_rate, 22050u);
        EXPECT_EQ(w->format.block_align, c.bits / 8);
        EXPECT_EQ(w->format.chunk_id, 0x20746D66u);  // "fmt " read little-endian
        EXPECT_EQ(w->format.chunk_size, 16);

        // The raw reader hands back the same bytes undecoded.
        auto r = parse_raw(file);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->byte_count, static_cast<std::int32_t>(c.data.size()));
        EXPECT_EQ(r->bytes, c.data);
        EXPECT_EQ(r->format.bits_per_sample, c.bits);
    }
}

TEST(WavReader, ExtensibleHeaderTakesTheTagFromTheSubFormat) {
    Bytes ints;
    put_u32(ints, 0x00010000u);
    put_u32(ints, 0xFFFE0000u);
    auto w = parse(riff({fmt_extensible(1, 2, 32), chunk("data", ints)}));
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->format.format_tag, 1);
    EXPECT_EQ(w->format.chunk_size, 40);
    EXPECT_EQ(w->frames, 1);
    EXPECT_EQ(w->samples[0], 1.0);  // an integer, not the float bit pattern 0x00010000
    EXPECT_EQ(w->samples[1], -2.0);

    Bytes floats;
    put_f32(floats, 0.5f);
    w = parse(riff({fmt_extensible(3, 1, 32), chunk("data", floats)}));
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->format.format_tag, 3);
    EXPECT_EQ(w->samples[0], 16383.75);

    w = parse(riff({fmt_extensible(1, 2, 24), chunk("data", {0x00, 0x01, 0x00, 0x00, 0xFF, 0xFF})}));
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->samples[0], 1.0);
    EXPECT_EQ(w->samples[1], -1.0);

    auto r = parse_raw(riff({fmt_extensible(1, 2, 32), chunk("data", ints)}));
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->format.format_tag, 1);
}

TEST(WavReader, ChannelsAreInterleavedFrameAfterFrame) {
    for (std::uint16_t ch : {1, 2, 3, 7}) {
        SCOPED_TRACE(ch);
        const int frames = 5;
        // Channel c of frame n holds 100 n + c.
        Bytes d;
        for (int n = 0; n < frames; ++n)
            for (int c = 0; c < ch; ++c) put_u16(d, static_cast<std::uint16_t>(100 * n + c));
        auto w = parse(riff({fmt(1, ch, 16), chunk("data", d)}));
        ASSERT_TRUE(w.has_value());
        EXPECT_EQ(w->frames, frames);
        EXPECT_EQ(w->format.channels, ch);
        expect_consistent(*w, kPad);
        for (int n = 0; n < frames; ++n)
            for (int c = 0; c < ch; ++c)
                EXPECT_EQ(w->samples[static_cast<std::size_t>(n * ch + c)], 100.0 * n + c);
    }
}

TEST(WavReader, HonoursThePaddingAskedFor) {
    const Bytes file = riff({fmt(1, 2, 16), chunk("data", seq16(6, 1))});
    for (int pad : {0, 1, 2048}) {
        auto w = parse(file, nullptr, pad);
        ASSERT_TRUE(w.has_value());
        EXPECT_EQ(w->frames, 3);
        expect_consistent(*w, pad);
        EXPECT_EQ(w->samples[5], 6.0);
    }
    auto w = parse(file, nullptr, -5);  // a negative count pads nothing
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->samples.size(), 6u);
}

// ---------------------------------------------------------------------------
// Chunk layouts

struct LayoutCase {
    const char* name;
    Bytes file;
    std::int32_t frames;       // whole frames expected
    std::vector<double> head;  // the first decoded values
    std::int32_t byte_count;   // what the raw reader reports
};

std::vector<LayoutCase> layout_cases() {
    std::vector<LayoutCase> cases;
    const Bytes data = seq16(4, 10);
    Bytes fmt18 = fmt_body(1, 1, 44100, 2, 16);
    fmt18.push_back(0);
    fmt18.push_back(0);
    cases.push_back({"fmt chunk of 18 bytes", riff({chunk("fmt ", fmt18), chunk("data", data)}), 4, {10, 11, 12, 13}, 8});

    Bytes list_body;
    put_tag(list_body, "INFO");
    put_tag(list_body, "INAM");
    put_u32(list_body, 4);
    put_tag(list_body, "abc");
    cases.push_back({"LIST chunk between fmt and data",
                     riff({fmt(1, 1, 16), chunk("LIST", list_body), chunk("data", data)}), 4, {10, 11, 12, 13}, 8});
    cases.push_back({"unknown chunk before fmt",
                     riff({chunk("JUNK", Bytes(28, 0xAA)), fmt(1, 1, 16), chunk("data", data)}), 4, {10, 11, 12, 13}, 8});

    Bytes odd_padded = chunk("note", {'x', 'y', 'z'});
    odd_padded.push_back(0);  // the RIFF pad byte
    cases.push_back({"odd-size chunk with its pad byte",
                     riff({fmt(1, 1, 16), odd_padded, chunk("data", data)}), 4, {10, 11, 12, 13}, 8});
    cases.push_back({"odd-size chunk without a pad byte",
                     riff({fmt(1, 1, 16), chunk("note", {'x', 'y', 'z'}), chunk("data", data)}), 4, {10, 11, 12, 13}, 8});
    Bytes odd_fmt = fmt_body(1, 1, 44100, 2, 16);
    odd_fmt.push_back(0x55);
    Bytes odd_fmt_chunk = chunk("fmt ", odd_fmt);
    odd_fmt_chunk.push_back(0);
    cases.push_back({"odd-size fmt chunk with its pad byte",
                     riff({odd_fmt_chunk, chunk("data", data)}), 4, {10, 11, 12, 13}, 8});
    cases.push_back({"empty chunk between fmt and data",
                     riff({fmt(1, 1, 16), chunk("fact", {}), chunk("data", data)}), 4, {10, 11, 12, 13}, 8});

    Bytes eight = {0, 255};
    cases.push_back({"a later fmt chunk replaces an earlier one",
                     riff({fmt(1, 1, 8), fmt(1, 2, 16), chunk("data", data)}), 2, {10, 11, 12, 13}, 8});
    cases.push_back({"fmt chunks after the data chunk play no part",
                     riff({fmt(1, 1, 16), chunk("data", data), fmt(1, 1, 8)}), 4, {10, 11, 12, 13}, 8});

    Bytes ragged = seq16(7, 10);
    ragged.push_back(0x7F);  // 15 bytes of stereo 16-bit: three whole frames and a bit
    cases.push_back({"data size not a multiple of block align",
                     riff({fmt(1, 2, 16), chunk("data", ragged)}), 3, {10, 11, 12, 13, 14, 15}, 15});

    Bytes trailing = riff({fmt(1, 1, 16), chunk("data", data), chunk("LIST", list_body)});
    cases.push_back({"chunks after the data chunk", trailing, 4, {10, 11, 12, 13}, 8});
    return cases;
}

TEST(WavReader, WalksTheChunkLayoutsOfRealFiles) {
    for (const LayoutCase& c : layout_cases()) {
        SCOPED_TRACE(c.name);
        ErrText err;
        auto w = parse(c.file, err.f);
        ASSERT_TRUE(w.has_value());
        EXPECT_EQ(err.text(), "");
        EXPECT_EQ(w->frames, c.frames);
        expect_consistent(*w, kPad);
        for (std::size_t i = 0; i < c.head.size(); ++i) EXPECT_EQ(w->samples[i], c.head[i]) << "sample " << i;

        auto r = parse_raw(c.file, 0, 0, 0, err.f);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->byte_count, c.byte_count);
        ASSERT_EQ(r->bytes.size(), static_cast<std::size_t>(c.byte_count));
        EXPECT_EQ(r->bytes[0], 10);
        EXPECT_EQ(r->format.channels, w->format.channels);
        EXPECT_EQ(err.text(), "");
    }
}

TEST(WavReader, EmptyDataChunkGivesNothingToDecode) {
    const Bytes file = riff({fmt(1, 1, 16), chunk("data", {})});
    ErrText err;
    EXPECT_FALSE(parse(file, err.f).has_value());
    // The raw reader reports the empty chunk: no data bytes, only the padding.
    auto r = parse_raw(file, 0, 0, 4, err.f);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->byte_count, 0);
    EXPECT_EQ(r->bytes, Bytes(8, 0));
    EXPECT_EQ(err.text(), "");

    // Less than one whole frame is as empty as no bytes at all.
    EXPECT_FALSE(parse(riff({fmt(1, 2, 16), chunk("data", {1, 2, 3})})).has_value());
}

TEST(WavReader, FileWithoutDataChunkGivesNothingQuietly) {
    for (const Bytes& file : {riff({}), riff({fmt(1, 1, 16)}), riff({fmt(1, 1, 16), chunk("LIST", Bytes(6, 1))})}) {
        ErrText err;
        EXPECT_FALSE(parse(file, err.f).has_value());
        EXPECT_FALSE(parse_raw(file, 0, 0, 0, err.f).has_value());
        EXPECT_EQ(err.text(), "");
    }
}

// ---------------------------------------------------------------------------
// Refusals

TEST(WavReader, NotRiffWaveIsAFormatErrorWithEachReadersOwnWords) {
    struct Case {
        const char* name;
        Bytes file;
        const char* decode_msg;
        const char* raw_msg;
    };
    Bytes rifx = riff({fmt(1, 1, 16), chunk("data", seq16(2))});
    std::memcpy(rifx.data(), "RIFX", 4);
    Bytes avi = riff({fmt(1, 1, 16), chunk("data", seq16(2))});
    std::memcpy(avi.data() + 8, "AVI ", 4);
    const std::vector<Case> cases = {
        {"other id", rifx, "file format error(2).\n", "file format error.\n"},
        {"text file", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'}, "file format error(2).\n",
         "file format error.\n"},
        {"empty file", Bytes{}, "file format error(2).\n", "file format error.\n"},
        {"other form type", avi, "file format error(2).\n", "file format error(2).\n"},
        {"RIFF header cut short", Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A'}, "file format error(2).\n",
         "file format error(2).\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ErrText decode_err, raw_err;
        EXPECT_FALSE(parse(c.file, decode_err.f).has_value());
        EXPECT_FALSE(parse_raw(c.file, 0, 0, 16, raw_err.f).has_value());
        EXPECT_EQ(decode_err.text(), c.decode_msg);
        EXPECT_EQ(raw_err.text(), c.raw_msg);
    }
}

TEST(WavReader, RefusesUnsupportedOrContradictoryFormats) {
    struct Case {
        const char* name;
        Bytes file;
    };
    const Bytes data = seq16(8);
    std::vector<Case> cases;
    for (std::uint16_t bits : {0, 4, 12, 20, 40, 48, 128})
        cases.push_back({"unsupported bit depth", riff({chunk("fmt ", fmt_body(1, 1, 44100, 2, bits)), chunk("data", data)})});
    cases.push_back({"data before fmt", riff({chunk("data", data), fmt(1, 1, 16)})});
    cases.push_back({"data and no fmt at all", riff({chunk("data", data)})});
    {
        Bytes short_fmt = fmt_body(1, 1, 44100, 2, 16);
        short_fmt.resize(14);
        cases.push_back({"fmt declared 14 bytes", riff({chunk("fmt ", short_fmt), chunk("data", data)})});
        cases.push_back({"fmt declared 0 bytes", riff({chunk("fmt ", {}), chunk("data", data)})});
    }
    cases.push_back({"no channels", riff({chunk("fmt ", fmt_body(1, 0, 44100, 2, 16)), chunk("data", data)})});
    cases.push_back({"1025 channels", riff({chunk("fmt ", fmt_body(1, 1025, 44100, 2050, 16)), chunk("data", data)})});
    cases.push_back({"block align 0", riff({chunk("fmt ", fmt_body(1, 1, 44100, 0, 16)), chunk("data", data)})});
    cases.push_back({"block align too small", riff({chunk("fmt ", fmt_body(1, 2, 44100, 2, 16)), chunk("data", data)})});
    cases.push_back({"block align too large", riff({chunk("fmt ", fmt_body(1, 1, 44100, 3, 16)), chunk("data", data)})});
    cases.push_back({"8-bit block align of 16-bit", riff({chunk("fmt ", fmt_body(1, 1, 44100, 2, 8)), chunk("data", data)})});
    cases.push_back({"a valid fmt replaced by a broken one",
                     riff({fmt(1, 1, 16), chunk("fmt ", fmt_body(1, 1, 44100, 2, 12)), chunk("data", data)})});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ErrText decode_err, raw_err;
        EXPECT_FALSE(parse(c.file, decode_err.f).has_value());
        EXPECT_FALSE(parse_raw(c.file, 0, 0, 4096, raw_err.f).has_value());
        for (const std::string& msg : {decode_err.text(), raw_err.text()}) {
            EXPECT_EQ(msg.rfind("file format error(3): ", 0), 0u) << msg;
            ASSERT_FALSE(msg.empty());
            EXPECT_EQ(msg.back(), '\n');
            EXPECT_EQ(msg.find('\n'), msg.size() - 1) << "one line: " << msg;
        }
    }
}

TEST(WavReader, AcceptsUpToTheChannelLimit) {
    const std::uint16_t ch = kelmotra::kMaxChannels;
    auto w = parse(riff({fmt(1, ch, 8), chunk("data", Bytes(2 * ch, 128))}));
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->frames, 2);
    expect_consistent(*w, kPad);
    EXPECT_EQ(w->samples[2 * ch - 1], 128.0);
}

TEST(WavReader, NullErrorStreamStaysQuiet) {
    EXPECT_FALSE(parse(Bytes{'x'}, nullptr).has_value());
    EXPECT_FALSE(parse_raw(Bytes{'x'}, 0, 0, 0, nullptr).has_value());
    EXPECT_FALSE(parse(riff({chunk("data", seq16(2))}), nullptr).has_value());
}

// ---------------------------------------------------------------------------
// Damaged sizes

TEST(WavReader, DataChunkCutShortReadsZerosForTheMissingSamples) {
    Bytes file = riff({fmt(1, 2, 16), chunk("data", seq16(10, 1), 400)});  // 100 frames declared, 5 present
    auto w = parse(file);
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->frames, 100);
    expect_consistent(*w, kPad);
    for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(w->samples[i], static_cast<double>(i + 1));
    for (std::size_t i = 10; i < 200; ++i) ASSERT_EQ(w->samples[i], 0.0);

    // A sample cut in half is not decoded from half its bytes.
    file.push_back(0x40);
    w = parse(file);
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->samples[10], 0.0);

    // The raw reader hands over only the bytes really in the file, then the
    // padding.
    auto r = parse_raw(file, 0, 0, 2);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->byte_count, 21);
    ASSERT_EQ(r->bytes.size(), 29u);
    EXPECT_EQ(r->bytes[0], 1);
    EXPECT_EQ(r->bytes[20], 0x40);
    for (std::size_t i = 21; i < r->bytes.size(); ++i) ASSERT_EQ(r->bytes[i], 0) << i;
}

TEST(WavReader, OnlyAMebibyteMissingIsBelieved) {
    const std::uint32_t present = 64;
    const std::uint32_t mib = 1u << 20;
    struct Case {
        std::uint32_t declared;
        std::int32_t frames;
    };
    const Case cases[] = {
        {present + mib, static_cast<std::int32_t>((present + mib) / 2)},  // exactly 1 MiB missing
        {present + mib + 2, static_cast<std::int32_t>(present / 2)},      // more: only what is there
        {0x7FFFFFFFu, static_cast<std::int32_t>(present / 2)},
        {0xFFFFFFFEu, static_cast<std::int32_t>(present / 2)},
        {0xFFFFFFFFu, static_cast<std::int32_t>(present / 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.declared);
        const Bytes file = riff({fmt(1, 1, 16), chunk("data", seq16(present / 2, 1), c.declared)});
        auto w = parse(file);
        ASSERT_TRUE(w.has_value());
        EXPECT_EQ(w->frames, c.frames);
        expect_consistent(*w, kPad);
        EXPECT_EQ(w->samples[31], 32.0);

        auto r = parse_raw(file, 0, 0, 4096);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->byte_count, static_cast<std::int32_t>(present));
        ASSERT_EQ(r->bytes.size(), present + 8192u);
        EXPECT_EQ(r->bytes[62], 32);
    }
}

TEST(WavReader, OpenEndedDataChunkRunsToTheEndOfTheFile) {
    // A writer that could not seek back left the size at 0xFFFFFFFF; 101
    // bytes follow, the last of them half a sample.
    Bytes data = seq16(50, -25);
    data.push_back(0x12);
    const Bytes file = riff({fmt(1, 1, 16), chunk("data", data, 0xFFFFFFFF)});
    auto w = parse(file);
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->frames, 50);
    expect_consistent(*w, kPad);
    EXPECT_EQ(w->samples[0], -25.0);
    EXPECT_EQ(w->samples[49], 24.0);

    auto r = parse_raw(file, 0, 0, 3);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->byte_count, 101);
    ASSERT_EQ(r->bytes.size(), 107u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), r->bytes.begin()));
    EXPECT_EQ(r->bytes[101], 0);

    // Nothing after the header: no frame to decode, an empty chunk raw.
    const Bytes bare = riff({fmt(1, 1, 16), chunk("data", {}, 0xFFFFFFFF)});
    EXPECT_FALSE(parse(bare).has_value());
    r = parse_raw(bare, 0, 0, 1);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->byte_count, 0);
    EXPECT_EQ(r->bytes.size(), 2u);
}

TEST(WavReader, HugeChunkSizesBeforeTheDataEndTheWalk) {
    // An unknown chunk or a fmt chunk claiming more than the file holds.
    for (std::uint32_t size : {0x7FFFFFF0u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(size);
        Bytes junk_first = riff({fmt(1, 1, 16), chunk("JUNK", Bytes(4, 0), size), chunk("data", seq16(4))});
        EXPECT_FALSE(parse(junk_first).has_value());
        EXPECT_FALSE(parse_raw(junk_first, 0, 0, 16).has_value());
        Bytes fmt_big = fmt_body(1, 1, 44100, 2, 16);
        Bytes big = riff({chunk("fmt ", fmt_big, size), chunk("data", seq16(4))});
        EXPECT_FALSE(parse(big).has_value());
        EXPECT_FALSE(parse_raw(big, 0, 0, 16).has_value());
    }
}

// ---------------------------------------------------------------------------
// Raw window

TEST(WavReaderRaw, WindowsOfTheDataChunk) {
    // 200 frames of 16-bit mono: data byte k is k & 0xFF, so positions show.
    Bytes data(400);
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<std::uint8_t>(k);
    Bytes list_body(10, 0xEE);  // bytes after the chunk that must never show up
    const Bytes file = riff({fmt(1, 1, 16), chunk("data", data), chunk("LIST", list_body)});

    struct Case {
        const char* name;
        std::int32_t start, length, pad;
        std::size_t size;       // buffer bytes
        std::size_t at;         // where the data bytes start in the buffer
        std::size_t from, n;    // data bytes [from, from + n) copied there
    };
    const Case cases[] = {
        {"whole chunk", 0, 0, 0, 400, 0, 0, 400},
        {"whole chunk with padding", 0, 0, 4096, 400 + 8192, 0, 0, 400},
        {"leading zeros", -10, 100, 5, 200 + 10, 20, 0, 180},
        {"window inside", 10, 20, 1, 40 + 2, 0, 20, 40},
        {"window over the end", 190, 20, 2, 40 + 4, 0, 380, 20},
        {"window past the end", 500, 10, 2, 20 + 4, 0, 0, 0},
        {"zeros only", -5, 3, 1, 6 + 2, 0, 0, 0},
        {"zeros reaching exactly to the data", -3, 3, 0, 6, 0, 0, 0},
        {"start with whole chunk length", 150, 0, 0, 400, 0, 300, 100},
        {"negative length means the whole chunk", 0, -7, 0, 400, 0, 0, 400},
        {"negative padding is none", 0, 4, -3, 8, 0, 0, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ErrText err;
        auto r = parse_raw(file, c.start, c.length, c.pad, err.f);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(err.text(), "");
        EXPECT_EQ(r->byte_count, 400);
        ASSERT_EQ(r->bytes.size(), c.size);
        Bytes expected(c.size, 0);
        std::copy(data.begin() + static_cast<std::ptrdiff_t>(c.from),
                  data.begin() + static_cast<std::ptrdiff_t>(c.from + c.n),
                  expected.begin() + static_cast<std::ptrdiff_t>(c.at));
        EXPECT_EQ(r->bytes, expected);
    }
}

TEST(WavReaderRaw, WindowCountsWholeFrames) {
    // 24-bit stereo: 6 bytes a frame.
    Bytes data(60);
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<std::uint8_t>(k + 1);
    const Bytes file = riff({fmt(1, 2, 24), chunk("data", data)});
    auto r = parse_raw(file, -1, 3, 2);
    ASSERT_TRUE(r.has_value());
    ASSERT_EQ(r->bytes.size(), 18u + 12u);
    Bytes expected(30, 0);
    std::copy(data.begin(), data.begin() + 12, expected.begin() + 6);
    EXPECT_EQ(r->bytes, expected);
    EXPECT_EQ(r->format.block_align, 6);
}

TEST(WavReaderRaw, AbsurdWindowsGiveNothingRatherThanGigabytes) {
    const Bytes file = riff({fmt(1, 8, 64), chunk("data", Bytes(64 * 4, 1))});
    const std::int32_t big = std::numeric_limits<std::int32_t>::max();
    const std::int32_t low = std::numeric_limits<std::int32_t>::min();
    EXPECT_FALSE(parse_raw(file, 0, big, 0).has_value());
    EXPECT_FALSE(parse_raw(file, 0, 0, big).has_value());
    EXPECT_FALSE(parse_raw(file, low, big, big).has_value());
    // A far start with a small window is fine: it reads nothing.
    for (std::int32_t start : {big, low}) {
        auto r = parse_raw(file, start, 1, 1);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->bytes, Bytes(128, 0));
    }
}

// ---------------------------------------------------------------------------
// Damaged files

// A small file with every kind of chunk: an 18-byte fmt, an odd-size chunk
// with its pad byte, a LIST chunk and stereo 16-bit data.
Bytes small_valid_file() {
    Bytes fmt18 = fmt_body(1, 2, 8000, 4, 16);
    fmt18.push_back(0);
    fmt18.push_back(0);
    Bytes odd = chunk("note", {'a', 'b', 'c'});
    odd.push_back(0);
    return riff({chunk("fmt ", fmt18), odd, chunk("LIST", Bytes(6, 'z')), chunk("data", seq16(12, -6))});
}

TEST(WavReader, FileCutAtAnyByteNeverCrashes) {
    const Bytes whole = small_valid_file();
    const std::size_t data_body = whole.size() - 24;  // 12 samples of 2 bytes
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        ErrText err;
        auto w = parse(part, err.f);
        auto r = parse_raw(part, 0, 0, 4096, err.f);
        if (cut < data_body) {
            // No whole data chunk header yet.
            EXPECT_FALSE(w.has_value());
            EXPECT_FALSE(r.has_value());
            continue;
        }
        // The header of the data chunk is there: the declared six frames, with
        // zeros where the file ends.
        ASSERT_TRUE(w.has_value());
        EXPECT_EQ(w->frames, 6);
        expect_consistent(*w, kPad);
        const std::size_t whole_samples = (cut - data_body) / 2;
        for (std::size_t i = 0; i < 12; ++i)
            EXPECT_EQ(w->samples[i], i < whole_samples ? static_cast<double>(i) - 6.0 : 0.0) << i;
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->byte_count, static_cast<std::int32_t>(cut - data_body));
        EXPECT_EQ(r->bytes.size(), (cut - data_body) + 4096u * 4u);
        EXPECT_TRUE(std::equal(whole.begin() + static_cast<std::ptrdiff_t>(data_body), whole.begin() + static_cast<std::ptrdiff_t>(cut),
                               r->bytes.begin()));
    }
}

TEST(WavReader, DamagedHeadersNeverCrash) {
    // Random bytes written over the header of valid files: the reader gives
    // nothing or a result that keeps its invariants.
    std::mt19937 rng(20240607);
    std::vector<Bytes> seeds = {small_valid_file(), riff({fmt_extensible(3, 2, 32), chunk("data", Bytes(32, 7))}),
                                riff({fmt(1, 3, 24), chunk("data", Bytes(27, 9))})};
    int decoded = 0;
    for (int iter = 0; iter < 20000; ++iter) {
        Bytes f = seeds[static_cast<std::size_t>(iter) % seeds.size()];
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            std::size_t at = rng() % std::min<std::size_t>(f.size(), 64);
            switch (rng() % 4) {
                case 0: f[at] = static_cast<std::uint8_t>(rng()); break;
                case 1: f[at] = 0xFF; break;
                case 2: f[at] = 0; break;
                default: f.resize(at + 1); break;
            }
        }
        auto w = parse(f);
        if (w) {
            ++decoded;
            expect_consistent(*w, kPad);
            ASSERT_LE(w->samples.size(), (f.size() + (1u << 20)) * 8 + 2048u * 1024u);
        }
        auto r = parse_raw(f, static_cast<std::int32_t>(rng() % 21) - 10, static_cast<std::int32_t>(rng() % 30), 16);
        if (r) {
            ASSERT_GE(r->byte_count, 0);
            ASSERT_GE(r->bytes.size(), 16u * r->format.block_align);
        }
    }
    EXPECT_GT(decoded, 0);
}

// ---------------------------------------------------------------------------
// Reading from files

TEST(WavReaderFiles, ReadsFromAPath) {
    const std::string dir = testsupport::scratch_dir("wav_reader_files");
    const std::string path = dir + "/voice.wav";
    testsupport::write_bytes(path, small_valid_file());
    ErrText err;
    auto w = kelmotra::wav_read(path_from_utf8(path), err.f);
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->frames, 6);
    EXPECT_EQ(w->format.sample_rate, 8000u);
    expect_consistent(*w, kPad);
    auto r = kelmotra::wav_read_raw(path_from_utf8(path), 0, 0, 4096, err.f);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->byte_count, 24);
    EXPECT_EQ(r->bytes.size(), 24u + 4 * 4096u);
    EXPECT_EQ(err.text(), "");

    // The default padding is the driver's 2048 frames.
    w = kelmotra::wav_read(path_from_utf8(path), err.f);
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->samples.size(), (6u + 2048u) * 2u);
}

TEST(WavReaderFiles, MissingFilesAndFoldersGiveNothingQuietly) {
    const std::string dir = testsupport::scratch_dir("wav_reader_missing");
    for (const std::string& path : {dir + "/absent.wav", dir + "/no/such/folder.wav", dir, std::string()}) {
        SCOPED_TRACE(path);
        ErrText err;
        EXPECT_FALSE(kelmotra::wav_read(path_from_utf8(path), err.f).has_value());
        EXPECT_FALSE(kelmotra::wav_read_raw(path_from_utf8(path), 0, 0, 0, err.f).has_value());
        EXPECT_EQ(err.text(), "");
    }
}

TEST(WavReaderFiles, FormatErrorsFromFilesUseTheExactMessages) {
    const std::string dir = testsupport::scratch_dir("wav_reader_errors");
    const std::string path = dir + "/text.wav";
    testsupport::write_bytes(path, Bytes{'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e', '!', '\n'});
    ErrText decode_err, raw_err;
    EXPECT_FALSE(kelmotra::wav_read(path_from_utf8(path), decode_err.f).has_value());
    EXPECT_FALSE(kelmotra::wav_read_raw(path_from_utf8(path), 0, 0, 4096, raw_err.f).has_value());
    EXPECT_EQ(decode_err.text(), "file format error(2).\n");
    EXPECT_EQ(raw_err.text(), "file format error.\n");
}

}  // namespace
