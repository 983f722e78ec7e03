// Damaged and absurd input, run through the kelmotra executable: every run
// must end cleanly, either with status 0 and a well-formed note or with
// status 1 and a message on the error stream, never by a signal or a
// sanitizer report. Also the degenerate values the engine must survive
// (pitch 0, a pitch ratio with a zero or negative denominator, an infinite
// formant factor, NaN and infinite numbers in the FRQ file and the samples).
//
// Every case reuses one tiny sample (600 frames at 11025 Hz) and renders a
// 20 ms note, so the many runs stay quick.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "audio/platform.h"
#include "audio/wav_reader.h"
#include "freqmap/freqlist.h"
#include "freqmap/frq_file.h"
#include "freqmap/analysis.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

constexpr std::uint32_t kRate = 11025;
constexpr std::size_t kFrames = 600;
constexpr std::size_t kNoteSamples = 882;  // 20 ms at 44100 Hz: ceil(20 * 44.1)

// Byte offsets in the tiny sample's file (see tiny_wav).
constexpr std::size_t kRiffSize = 4;
constexpr std::size_t kListSize = 16;
constexpr std::size_t kFmtSize = 30;
constexpr std::size_t kTag = 34;
constexpr std::size_t kChannels = 36;
constexpr std::size_t kSampleRate = 38;
constexpr std::size_t kBlockAlign = 46;
constexpr std::size_t kBits = 48;
constexpr std::size_t kDataSize = 54;
constexpr std::size_t kDataStart = 58;

// FRQ header fields.
constexpr std::size_t kFrqStep = 8;
constexpr std::size_t kFrqAvg = 12;
constexpr std::size_t kFrqCount = 36;

// Sanitizer findings must show as a signal, not as an ordinary status 1.
const std::vector<std::string> kEnv = {
    "LC_ALL=C", "ASAN_OPTIONS=abort_on_error=1",
    "UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1"};

void patch16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void patch32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

void patch_f64(Bytes& b, std::size_t at, double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, 8);
    for (int i = 0; i < 8; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u >> (8 * i));
}

// The tiny sample: RIFF, WAVE, a LIST chunk of odd size (with its pad byte)
// before "fmt ", a 16-byte "fmt " chunk (16-bit mono at 11025 Hz) and 600
// frames of a 220 Hz harmonic tone (or as many frames as asked for).
Bytes tiny_wav(std::size_t frames = kFrames) {
    Bytes b;
    testsupport::put_tag(b, "RIFF");
    testsupport::put_u32(b, 0);  // set below
    testsupport::put_tag(b, "WAVE");
    testsupport::put_tag(b, "LIST");
    testsupport::put_u32(b, 5);
    testsupport::put_tag(b, "INFO");
    b.push_back('x');
    b.push_back(0);
    const Bytes fmt = testsupport::fmt_chunk(1, 1, kRate, 16);
    b.insert(b.end(), fmt.begin(), fmt.end());
    testsupport::put_tag(b, "data");
    testsupport::put_u32(b, static_cast<std::uint32_t>(2 * frames));
    for (std::size_t n = 0; n < frames; ++n) {
        double v = 0;
        for (int k = 1; k <= 6; ++k) v += std::sin(2 * M_PI * k * 220.0 * static_cast<double>(n) / kRate) / k;
        testsupport::put_u16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(8000 * v))));
    }
    patch32(b, kRiffSize, static_cast<std::uint32_t>(b.size() - 8));
    return b;
}

// A frequency map that fits the tiny sample: 9 entries every 64 frames.
kelmotra::FreqList tiny_list(double freq = 220.0, double avg = 220.0) {
    kelmotra::FreqList list;
    list.step = 64;
    list.sample_rate = kRate;
    list.count = 9;
    list.freq_avg = avg;
    list.freqs.assign(10, freq);
    list.amps.assign(10, 3000.0);
    return list;
}

Bytes tiny_frq(double freq = 220.0, double avg = 220.0) {
    return kelmotra::frq_serialize(tiny_list(freq, avg));
}

// A 32- or 64-bit float mono sample at 11025 Hz holding `values` (repeated to
// kFrames frames).
Bytes float_wav(int bits, const std::vector<double>& values) {
    Bytes data;
    for (std::size_t n = 0; n < kFrames; ++n) {
        double v = values[n % values.size()];
        if (bits == 32) {
            // Doubles beyond the float range become the largest float.
            if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max())
                v = std::copysign(static_cast<double>(std::numeric_limits<float>::max()), v);
            testsupport::put_f32(data, static_cast<float>(v));
        }
        else
            testsupport::put_f64(data, v);
    }
    return testsupport::wav_file(3, 1, kRate, static_cast<std::uint16_t>(bits), data);
}

// One scratch folder holding in.wav, its FRQ file in_wav.frq and out.wav.
struct Scene {
    std::string dir, wav, frq, out;
};

Scene scene(const std::string& name) {
    Scene s;
    s.dir = testsupport::scratch_dir(name);
    s.wav = s.dir + "/in.wav";
    s.frq = s.dir + "/in_wav.frq";
    s.out = s.dir + "/out.wav";
    return s;
}

// Arguments 3..13 of a 20 ms note; changes are given by argument number.
struct Change {
    int arg;
    std::string text;
};

std::vector<std::string> note(const Scene& s, const std::vector<Change>& changes = {}) {
    std::vector<std::string> a = {s.wav, s.out, "A4", "100", "", "0", "20", "0", "0", "100", "0"};
    for (const Change& c : changes) {
        if (static_cast<std::size_t>(c.arg) > a.size()) a.resize(static_cast<std::size_t>(c.arg));
        a[static_cast<std::size_t>(c.arg) - 1] = c.text;
    }
    return a;
}

// Writes the input files (no FRQ file when frq is nullptr), runs the note
// and returns the result.
testsupport::RunResult run_case(const Scene& s, const Bytes& wav, const Bytes* frq,
                                const std::vector<Change>& changes = {}) {
    std::error_code ec;
    fs::remove(s.out, ec);
    fs::remove(s.frq, ec);
    testsupport::write_bytes(s.wav, wav);
    if (frq) testsupport::write_bytes(s.frq, *frq);
    return testsupport::run_program(testsupport::kelmotra_exe(), note(s, changes), kEnv);
}

bool mentions_sanitizer(const std::string& err) {
    return err.find("runtime error") != std::string::npos || err.find("Sanitizer") != std::string::npos;
}

std::uint32_t get32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// Checks that the run ended cleanly: status 0 with a 16-bit mono 44100 Hz WAV
// of `samples` samples (when samples > 0; any length otherwise), or status 1
// with a message on the error stream and no output file. Returns the output
// samples of a successful run (empty otherwise).
std::vector<double> expect_clean_end(const testsupport::RunResult& r, const Scene& s,
                                     const std::string& what, std::size_t samples = kNoteSamples) {
    EXPECT_EQ(r.signal, 0) << what << "\n" << r.err;
    EXPECT_FALSE(mentions_sanitizer(r.err)) << what << "\n" << r.err;
    if (r.status == 1) {
        EXPECT_FALSE(r.err.empty()) << what << ": status 1 without a message";
        EXPECT_FALSE(testsupport::file_exists(s.out)) << what << ": a failed run left its output";
        return {};
    }
    EXPECT_EQ(r.status, 0) << what << "\n" << r.err;
    if (r.status != 0) return {};
    const Bytes out = testsupport::read_bytes(s.out);
    EXPECT_GE(out.size(), 44u) << what;
    if (out.size() < 44) return {};
    EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "RIFF") << what;
    EXPECT_EQ(std::string(out.begin() + 8, out.begin() + 16), "WAVEfmt ") << what;
    EXPECT_EQ(out[20] | (out[21] << 8), 1) << what;   // integer PCM
    EXPECT_EQ(out[22] | (out[23] << 8), 1) << what;   // mono
    EXPECT_EQ(get32(out, 24), 44100u) << what;
    EXPECT_EQ(out[34] | (out[35] << 8), 16) << what;  // 16 bits
    EXPECT_EQ(get32(out, 40), out.size() - 44) << what;
    if (samples > 0) {
        EXPECT_EQ(out.size(), 44 + 2 * samples) << what;
    }
    return testsupport::wav16_samples(out);
}

bool silent(const std::vector<double>& x) {
    for (double v : x)
        if (v != 0.0) return false;
    return true;
}

}  // namespace

// The tiny sample itself renders, with its FRQ file and by analysis, so the
// damaged variants below start from a file that works.
TEST(Hardening, TinySampleRendersWithAndWithoutItsFrqFile) {
    const Scene s = scene("hard_tiny");
    const Bytes frq = tiny_frq();
    auto with = expect_clean_end(run_case(s, tiny_wav(), &frq), s, "with FRQ file");
    EXPECT_FALSE(silent(with));
    auto r = run_case(s, tiny_wav(), nullptr);
    EXPECT_EQ(r.status, 0) << r.err;
    auto analysed = expect_clean_end(r, s, "analysed");
    EXPECT_FALSE(silent(analysed));
    EXPECT_TRUE(testsupport::file_exists(s.frq));
}

TEST(Hardening, WavTruncatedAtEveryHeaderOffset) {
    const Scene s = scene("hard_trunc_wav");
    const Bytes full = tiny_wav();
    const Bytes frq = tiny_frq();
    // Every offset through the headers and the first samples, then a stride
    // through the data.
    std::vector<std::size_t> cuts;
    for (std::size_t n = 0; n <= kDataStart + 8; ++n) cuts.push_back(n);
    for (std::size_t n = kDataStart + 9; n < full.size(); n += 97) cuts.push_back(n);
    cuts.push_back(full.size() - 1);
    for (std::size_t n : cuts) {
        const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        expect_clean_end(run_case(s, cut, &frq), s, "cut at " + std::to_string(n) + " with FRQ", 0);
        // The analysis path reads the same damaged file again (raw form).
        if (n % 5 == 0 || n >= kDataStart)
            expect_clean_end(run_case(s, cut, nullptr), s, "cut at " + std::to_string(n) + ", analysed", 0);
    }
}

TEST(Hardening, WavChunkSizesOfZeroOneOddAndHuge) {
    const Scene s = scene("hard_chunk_sizes");
    const Bytes frq = tiny_frq();
    const std::pair<const char*, std::size_t> fields[] = {
        {"RIFF", kRiffSize}, {"LIST", kListSize}, {"fmt ", kFmtSize}, {"data", kDataSize}};
    // 1201: odd, and one byte more than the data chunk holds.
    const std::uint32_t sizes[] = {0, 1, 7, 1201, 0x80000000u, 0xFFFFFFFFu};
    for (const auto& [chunk, at] : fields) {
        for (std::uint32_t size : sizes) {
            Bytes wav = tiny_wav();
            patch32(wav, at, size);
            const std::string what = std::string(chunk) + " size " + std::to_string(size);
            expect_clean_end(run_case(s, wav, &frq), s, what + " with FRQ", 0);
            expect_clean_end(run_case(s, wav, nullptr), s, what + ", analysed", 0);
        }
    }
}

TEST(Hardening, WavFormatFieldsOutOfRange) {
    const Scene s = scene("hard_format_fields");
    const Bytes frq = tiny_frq();
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
    };
    const std::vector<Case> cases = {
        {"0 channels", [](Bytes& b) { patch16(b, kChannels, 0); }},
        {"0 channels, align 0", [](Bytes& b) { patch16(b, kChannels, 0); patch16(b, kBlockAlign, 0); }},
        {"2 channels, mono align", [](Bytes& b) { patch16(b, kChannels, 2); }},
        {"2 channels, matching align", [](Bytes& b) { patch16(b, kChannels, 2); patch16(b, kBlockAlign, 4); }},
        {"600 channels (one frame)", [](Bytes& b) { patch16(b, kChannels, 600); patch16(b, kBlockAlign, 1200); }},
        {"1024 channels", [](Bytes& b) { patch16(b, kChannels, 1024); patch16(b, kBlockAlign, 2048); }},
        {"1025 channels", [](Bytes& b) { patch16(b, kChannels, 1025); patch16(b, kBlockAlign, 2050); }},
        {"65535 channels", [](Bytes& b) { patch16(b, kChannels, 65535); patch16(b, kBlockAlign, 65534); }},
        {"32768 channels, align wraps to 0", [](Bytes& b) { patch16(b, kChannels, 32768); patch16(b, kBlockAlign, 0); }},
        {"rate 0", [](Bytes& b) { patch32(b, kSampleRate, 0); }},
        {"rate 1", [](Bytes& b) { patch32(b, kSampleRate, 1); }},
        {"rate 7", [](Bytes& b) { patch32(b, kSampleRate, 7); }},
        // R / 880 (the shortest lag, odd here) beyond 3N/4 (the longest).
        {"rate 1411201", [](Bytes& b) { patch32(b, kSampleRate, 1411201); }},
        {"rate 86715153", [](Bytes& b) { patch32(b, kSampleRate, 86715153); }},
        {"rate 2147483647", [](Bytes& b) { patch32(b, kSampleRate, 0x7FFFFFFFu); }},
        {"rate 2147483648", [](Bytes& b) { patch32(b, kSampleRate, 0x80000000u); }},
        {"rate 4294967295", [](Bytes& b) { patch32(b, kSampleRate, 0xFFFFFFFFu); }},
        {"0 bits", [](Bytes& b) { patch16(b, kBits, 0); }},
        {"1 bit", [](Bytes& b) { patch16(b, kBits, 1); }},
        {"12 bits", [](Bytes& b) { patch16(b, kBits, 12); }},
        {"8 bits, 16-bit align", [](Bytes& b) { patch16(b, kBits, 8); }},
        {"8 bits", [](Bytes& b) { patch16(b, kBits, 8); patch16(b, kBlockAlign, 1); }},
        {"24 bits", [](Bytes& b) { patch16(b, kBits, 24); patch16(b, kBlockAlign, 3); }},
        {"32-bit integers", [](Bytes& b) { patch16(b, kBits, 32); patch16(b, kBlockAlign, 4); }},
        {"32-bit floats", [](Bytes& b) { patch16(b, kTag, 3); patch16(b, kBits, 32); patch16(b, kBlockAlign, 4); }},
        {"64-bit integers", [](Bytes& b) { patch16(b, kBits, 64); patch16(b, kBlockAlign, 8); }},
        {"64-bit floats", [](Bytes& b) { patch16(b, kTag, 3); patch16(b, kBits, 64); patch16(b, kBlockAlign, 8); }},
        {"48 bits", [](Bytes& b) { patch16(b, kBits, 48); patch16(b, kBlockAlign, 6); }},
        {"65535 bits", [](Bytes& b) { patch16(b, kBits, 65535); patch16(b, kBlockAlign, 8191); }},
        {"tag 0", [](Bytes& b) { patch16(b, kTag, 0); }},
        {"tag 2", [](Bytes& b) { patch16(b, kTag, 2); }},
        {"extensible tag, no extension", [](Bytes& b) { patch16(b, kTag, 0xFFFE); }},
        {"rate 0, 0 channels, 0 bits", [](Bytes& b) {
             patch32(b, kSampleRate, 0); patch16(b, kChannels, 0); patch16(b, kBits, 0); }},
    };
    for (const Case& c : cases) {
        Bytes wav = tiny_wav();
        c.damage(wav);
        expect_clean_end(run_case(s, wav, &frq), s, std::string(c.what) + " with FRQ", 0);
        expect_clean_end(run_case(s, wav, nullptr), s, std::string(c.what) + ", analysed", 0);
    }
}

TEST(Hardening, FrqTruncatedAtEveryOffset) {
    const Scene s = scene("hard_trunc_frq");
    const Bytes wav = tiny_wav();
    // A two-entry map keeps the number of runs down.
    kelmotra::FreqList list = tiny_list();
    list.count = 2;
    list.freqs.resize(3);
    list.amps.resize(3);
    const Bytes full = kelmotra::frq_serialize(list);
    ASSERT_EQ(full.size(), 72u);
    for (std::size_t n = 0; n < full.size(); ++n) {
        const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        auto r = run_case(s, wav, &cut);
        // A damaged map is replaced by a fresh analysis, so the note renders.
        EXPECT_EQ(r.status, 0) << "FRQ cut at " << n << "\n" << r.err;
        expect_clean_end(r, s, "FRQ cut at " + std::to_string(n));
    }
}

TEST(Hardening, FrqFieldsOutOfRange) {
    const Scene s = scene("hard_frq_fields");
    const Bytes wav = tiny_wav();
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
    };
    auto entry = [](std::size_t i) { return kelmotra::kFrqHeaderBytes + kelmotra::kFrqEntryBytes * i; };
    auto all_freqs = [entry](double v) {
        return [entry, v](Bytes& b) { for (std::size_t i = 0; i < 9; ++i) patch_f64(b, entry(i), v); };
    };
    auto all_amps = [entry](double v) {
        return [entry, v](Bytes& b) { for (std::size_t i = 0; i < 9; ++i) patch_f64(b, entry(i) + 8, v); };
    };
    const std::vector<Case> cases = {
        {"count 0", [](Bytes& b) { patch32(b, kFrqCount, 0); }},
        {"count -1", [](Bytes& b) { patch32(b, kFrqCount, 0xFFFFFFFFu); }},
        {"count 10 (one past the file)", [](Bytes& b) { patch32(b, kFrqCount, 10); }},
        {"count 2^31-1", [](Bytes& b) { patch32(b, kFrqCount, 0x7FFFFFFFu); }},
        {"count -2^31", [](Bytes& b) { patch32(b, kFrqCount, 0x80000000u); }},
        {"count 1", [](Bytes& b) { patch32(b, kFrqCount, 1); }},
        {"step 0", [](Bytes& b) { patch32(b, kFrqStep, 0); }},
        {"step -64", [](Bytes& b) { patch32(b, kFrqStep, static_cast<std::uint32_t>(-64)); }},
        {"step 1", [](Bytes& b) { patch32(b, kFrqStep, 1); }},
        {"step 2^31-1", [](Bytes& b) { patch32(b, kFrqStep, 0x7FFFFFFFu); }},
        {"average NaN", [](Bytes& b) { patch_f64(b, kFrqAvg, kNaN); }},
        {"average inf", [](Bytes& b) { patch_f64(b, kFrqAvg, kInf); }},
        {"average 0", [](Bytes& b) { patch_f64(b, kFrqAvg, 0.0); }},
        {"average -220", [](Bytes& b) { patch_f64(b, kFrqAvg, -220.0); }},
        {"average 1e308", [](Bytes& b) { patch_f64(b, kFrqAvg, 1e308); }},
        {"average 1e-310", [](Bytes& b) { patch_f64(b, kFrqAvg, 1e-310); }},
        {"entries NaN", all_freqs(kNaN)},
        {"entries inf", all_freqs(kInf)},
        {"entries -inf", all_freqs(-kInf)},
        {"entries 0", all_freqs(0.0)},
        {"entries -220", all_freqs(-220.0)},
        {"entries 1e308", all_freqs(1e308)},
        {"entries 1e-310", all_freqs(1e-310)},
        {"entries 16.5 (just above the floor)", all_freqs(16.5)},
        {"entries 0, average 0", [all_freqs](Bytes& b) { all_freqs(0.0)(b); patch_f64(b, kFrqAvg, 0.0); }},
        {"entries NaN, average 0", [all_freqs](Bytes& b) { all_freqs(kNaN)(b); patch_f64(b, kFrqAvg, 0.0); }},
        {"levels NaN", all_amps(kNaN)},
        {"levels -inf", all_amps(-kInf)},
        {"one entry NaN among good ones", [entry](Bytes& b) { patch_f64(b, entry(4), kNaN); }},
        {"magic FREQ0009", [](Bytes& b) { b[7] = '9'; }},
        {"magic FREQ000x", [](Bytes& b) { b[7] = 'x'; }},
    };
    for (const Case& c : cases) {
        Bytes frq = tiny_frq();
        c.damage(frq);
        // The sample is sound: a map that cannot be used is analysed anew,
        // one with absurd values renders (silence where it has no pitch).
        auto r = run_case(s, wav, &frq);
        EXPECT_EQ(r.status, 0) << c.what << "\n" << r.err;
        expect_clean_end(r, s, c.what);
    }
}

TEST(Hardening, BendTextsEndingInEveryEscapeCharacter) {
    const Scene s = scene("hard_bend_escapes");
    const Bytes wav = tiny_wav();
    const Bytes frq = tiny_frq();
    const char* tempos[] = {"!120", "!120*enc", "!120*cmp", "!120*hff"};
    const char* escapes[] = {"#", "$", "!", "@", "'", "[", "]", "{", "}"};
    for (const char* tempo : tempos) {
        for (const char* esc : escapes) {
            for (const std::string& prefix : {std::string(), std::string("AABk")}) {
                const std::string bend = prefix + esc;
                expect_clean_end(run_case(s, wav, &frq, {{12, tempo}, {13, bend}}), s,
                                 std::string("tempo ") + tempo + ", bend \"" + bend + "\"");
            }
        }
    }
}

// The engine's own degenerate values: pitch ratios and harmonic spacings
// that are not finite and positive must give silent hops, never an integer
// conversion of a NaN or an infinity.
TEST(Hardening, DegeneratePitchAndModulationRenderSilenceOrSound) {
    const Scene s = scene("hard_degenerate");
    const Bytes wav = tiny_wav();
    const Bytes frq = tiny_frq();
    const Bytes frq_avg0 = tiny_frq(220.0, 0.0);
    const Bytes frq_avg100 = tiny_frq(220.0, 100.0);
    enum Expect { Silent, Sound, Either };
    struct Case {
        const char* what;
        const Bytes* frq;
        std::vector<Change> changes;
        Expect expect;
    };
    const std::vector<Case> cases = {
        {"pitch a4 (not a note name: 0 Hz)", &frq, {{3, "a4"}}, Silent},
        {"pitch 0", &frq, {{3, "0"}}, Silent},
        {"pitch -440", &frq, {{3, "-440"}}, Silent},
        {"pitch 1e-300", &frq, {{3, "1e-300"}}, Either},
        {"pitch 1e300", &frq, {{3, "1e300"}}, Either},
        {"pitch G99999999 (infinite)", &frq, {{3, "G99999999"}}, Silent},
        {"pitch C-99999999 (0 Hz)", &frq, {{3, "C-99999999"}}, Silent},
        {"modulation 100, average 0 (denominator 0)", &frq_avg0, {{11, "100"}}, Silent},
        {"modulation 200, average 100 (denominator < 0)", &frq_avg100, {{11, "200"}}, Silent},
        {"modulation 200, average 220", &frq, {{11, "200"}}, Sound},
        {"modulation 1e308", &frq, {{11, "1e308"}}, Either},
        {"modulation -1e308", &frq, {{11, "-1e308"}}, Either},
        {"g99999 (infinite formant factor)", &frq, {{5, "g99999"}}, Either},
        {"g-99999 (formant factor 0)", &frq, {{5, "g-99999"}}, Either},
        {"g99999N", &frq, {{5, "g99999N"}}, Either},
        {"t-200 on pitch 0", &frq, {{3, "0"}, {5, "t-200"}}, Silent},
        {"P99999", &frq, {{5, "P99999"}}, Sound},
        {"P-99999", &frq, {{5, "P-99999"}}, Sound},
        {"velocity 1e300", &frq, {{4, "1e300"}, {8, "10"}}, Either},
        {"velocity -1e300", &frq, {{4, "-1e300"}, {8, "10"}}, Either},
        {"consonant 1e300/1e300", &frq, {{8, "1e300/1e300"}}, Either},
        {"consonant 10/10, velocity 0/0", &frq, {{4, "0/0"}, {8, "10/10"}}, Either},
        {"offset 1e300", &frq, {{6, "1e300"}}, Silent},
        {"offset -1e300", &frq, {{6, "-1e300"}}, Silent},
        {"cutoff 1e300", &frq, {{9, "1e300"}}, Either},
        {"cutoff -1e300", &frq, {{9, "-1e300"}}, Either},
        {"volume 0", &frq, {{10, "0"}}, Silent},
        {"volume 1e300 (held at 200 %)", &frq, {{10, "1e300"}}, Sound},
        {"bend of extreme cents on pitch 1e300", &frq, {{3, "1e300"}, {12, "!120"}, {13, "gAgAgA"}}, Either},
        {"tempo !0", &frq, {{12, "!0"}, {13, "AABk"}}, Sound},
        {"tempo !-32768", &frq, {{12, "!-32768"}, {13, "AABk"}}, Sound},
        {"tempo !1e300", &frq, {{12, "!1e300"}, {13, "AABk"}}, Sound},
    };
    for (const Case& c : cases) {
        auto r = run_case(s, wav, c.frq, c.changes);
        EXPECT_EQ(r.status, 0) << c.what << "\n" << r.err;
        auto out = expect_clean_end(r, s, c.what);
        if (r.status != 0) continue;
        if (c.expect == Silent) {
            EXPECT_TRUE(silent(out)) << c.what;
        } else if (c.expect == Sound) {
            EXPECT_FALSE(silent(out)) << c.what;
        }
    }
}

// Sample rates so high that the shortest lag of the band (R / 880) lies
// beyond the longest the window allows: there is no lag to try, and the
// analysis must not touch a lag outside its arrays (AddressSanitizer in the
// sanitizer build; the shortest lag of 1411201 Hz is odd, of 1411202 Hz
// even). The sample is long enough for a few steps of the 2048-sample window.
TEST(Hardening, AnalysisAtRatesWithoutAnyLag) {
    const Scene s = scene("hard_rates_without_lags");
    const Bytes wav = tiny_wav(6000);
    for (std::uint32_t rate : {1411201u, 1411202u, 86715153u, 2147483647u}) {
        Bytes b = wav;
        patch32(b, kSampleRate, rate);
        const auto raw = kelmotra::wav_parse_raw(b.data(), b.size(), 0, 0, 4096, nullptr);
        ASSERT_TRUE(raw) << rate;
        const auto list = kelmotra::analyse_raw(*raw, nullptr);
        ASSERT_TRUE(list) << rate;
        EXPECT_TRUE(kelmotra::freqlist_valid(*list)) << rate;
        EXPECT_GT(list->count, 0) << rate;
        EXPECT_TRUE(std::isfinite(list->freq_avg)) << rate;
        expect_clean_end(run_case(s, b, nullptr), s, "rate " + std::to_string(rate) + ", analysed", 0);
    }
}

// A float sample whose values are NaN or infinite: those samples read as 0.
TEST(Hardening, NonFiniteFloatSamplesReadAsZero) {
    for (int bits : {32, 64}) {
        const Bytes wav = float_wav(bits, {kNaN, kInf, -kInf, 0.25, -kNaN});
        const auto w = kelmotra::wav_parse(wav.data(), wav.size(), 16, nullptr);
        ASSERT_TRUE(w) << bits;
        ASSERT_EQ(w->samples.size(), kFrames + 16);
        for (std::size_t n = 0; n < 10; ++n) {
            const double v = w->samples[n];
            if (n % 5 == 3)
                EXPECT_EQ(v, static_cast<double>(static_cast<float>(0.25)) * 32767.5) << bits << " bits, frame " << n;
            else
                EXPECT_EQ(v, 0.0) << bits << " bits, frame " << n;
        }
    }
    // Finite doubles too large for the 16-bit scale must not turn infinite.
    const Bytes huge = float_wav(64, {std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()});
    const auto w = kelmotra::wav_parse(huge.data(), huge.size(), 0, nullptr);
    ASSERT_TRUE(w);
    for (double v : w->samples) EXPECT_TRUE(std::isfinite(v)) << v;
}

TEST(Hardening, NonFiniteFloatSamplesRenderCleanly) {
    const Scene s = scene("hard_nonfinite_samples");
    const Bytes frq = tiny_frq();
    const std::vector<std::pair<const char*, std::vector<double>>> inputs = {
        {"all NaN", {kNaN}},
        {"all +inf", {kInf}},
        {"alternating -inf, 0.5", {-kInf, 0.5}},
        {"largest doubles", {std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()}},
        {"subnormals", {4.9e-324, -4.9e-324}},
    };
    for (int bits : {32, 64}) {
        for (const auto& [what, values] : inputs) {
            const Bytes wav = float_wav(bits, values);
            const std::string label = std::string(what) + ", " + std::to_string(bits) + "-bit";
            auto r = run_case(s, wav, &frq);
            EXPECT_EQ(r.status, 0) << label << "\n" << r.err;
            auto out = expect_clean_end(r, s, label + " with FRQ");
            // Nothing but non-finite samples: nothing to hear.
            if (values.size() == 1 && r.status == 0) {
                EXPECT_TRUE(silent(out)) << label;
            }
            // And the analysis reads the same samples from the raw bytes.
            expect_clean_end(run_case(s, wav, nullptr), s, label + ", analysed");
        }
    }
}
