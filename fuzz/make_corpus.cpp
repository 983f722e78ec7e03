// Writes the seed corpora of the fuzz targets: a few small, valid (or nearly
// valid) inputs per target, made from scratch.
//
//   fuzz_make_corpus DIR      # writes DIR/<target>/<seed>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr double kPi = 3.14159265358979323846;

void put16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void put64(Bytes& b, std::uint64_t v) {
    put32(b, static_cast<std::uint32_t>(v));
    put32(b, static_cast<std::uint32_t>(v >> 32));
}

void putf64(Bytes& b, double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, 8);
    put64(b, u);
}

void puttext(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

// A harmonic tone at f0 Hz, in [-1, 1].
double tone(std::size_t n, double f0, double rate) {
    double v = 0;
    for (int k = 1; k <= 4; ++k) v += std::sin(2 * kPi * k * f0 * static_cast<double>(n) / rate) / (2 * k);
    return v;
}

// The stored bytes of `frames` frames of a tone in the given format.
Bytes samples(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits, std::uint32_t rate,
              std::size_t frames, double f0) {
    Bytes d;
    for (std::size_t n = 0; n < frames; ++n) {
        const double x = tone(n, f0, rate);
        for (std::uint16_t c = 0; c < channels; ++c) {
            if (tag == 3 && bits == 32) {
                float f = static_cast<float>(x);
                std::uint32_t u;
                std::memcpy(&u, &f, 4);
                put32(d, u);
            } else if (tag == 3 && bits == 64) {
                putf64(d, x);
            } else if (bits == 8) {
                d.push_back(static_cast<std::uint8_t>(128 + std::lround(x * 120)));
            } else {
                const auto v = static_cast<std::int64_t>(std::lround(x * 30000.0)) << (bits - 16);
                for (int i = 0; i < bits / 8; ++i) d.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i)));
            }
        }
    }
    return d;
}

struct WavShape {
    std::uint16_t tag = 1;
    std::uint16_t channels = 1;
    std::uint16_t bits = 16;
    std::uint32_t rate = 44100;
    std::size_t frames = 64;
    double f0 = 220.0;
    bool extensible = false;
    bool extra_chunk = false;  // a LIST chunk of odd size before "fmt "
};

Bytes wav(const WavShape& s) {
    const Bytes data = samples(s.tag, s.channels, s.bits, s.rate, s.frames, s.f0);
    Bytes fmt;
    const std::uint16_t align = static_cast<std::uint16_t>(s.channels * (s.bits / 8));
    put16(fmt, s.extensible ? 0xFFFE : s.tag);
    put16(fmt, s.channels);
    put32(fmt, s.rate);
    put32(fmt, s.rate * align);
    put16(fmt, align);
    put16(fmt, s.bits);
    if (s.extensible) {
        put16(fmt, 22);          // extension size
        put16(fmt, s.bits);      // valid bits
        put32(fmt, 4);           // channel mask
        put16(fmt, s.tag);       // sub-format GUID, its first two bytes the tag
        const std::uint8_t guid_tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        fmt.insert(fmt.end(), guid_tail, guid_tail + 14);
    }
    Bytes body;
    puttext(body, "WAVE");
    if (s.extra_chunk) {
        puttext(body, "LIST");
        put32(body, 5);
        puttext(body, "INFOx");
        body.push_back(0);  // pad byte of the odd-sized chunk
    }
    puttext(body, "fmt ");
    put32(body, static_cast<std::uint32_t>(fmt.size()));
    body.insert(body.end(), fmt.begin(), fmt.end());
    puttext(body, "data");
    put32(body, static_cast<std::uint32_t>(data.size()));
    body.insert(body.end(), data.begin(), data.end());
    Bytes out;
    puttext(out, "RIFF");
    put32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// An FRQ file of `count` entries, every `step` samples, all at f0 (0 for
// unvoiced entries at the given indices).
Bytes frq(std::int32_t step, std::int32_t count, double f0, std::uint32_t rate,
          const std::vector<int>& unvoiced = {}) {
    Bytes b;
    puttext(b, "FREQ0003");
    put32(b, static_cast<std::uint32_t>(step));
    putf64(b, f0);
    put32(b, rate);
    for (int i = 0; i < 12; ++i) b.push_back(0);
    put32(b, static_cast<std::uint32_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        bool silent = false;
        for (int u : unvoiced) silent = silent || u == i;
        putf64(b, silent ? 0.0 : f0 * (1.0 + 0.01 * std::sin(i)));
        putf64(b, silent ? 0.0 : 3000.0);
    }
    return b;
}

// NUL-separated arguments.
Bytes args_block(const std::vector<std::string>& args) {
    Bytes b;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i) b.push_back(0);
        puttext(b, args[i]);
    }
    return b;
}

void write(const fs::path& dir, const std::string& name, const Bytes& bytes) {
    fs::create_directories(dir);
    std::ofstream f(dir / name, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

// The whole-run layout: u16 argument bytes, u16 FRQ bytes (0xFFFF: none),
// arguments, FRQ file, WAV file.
Bytes run_input(const std::vector<std::string>& args, const Bytes* frq_file, const Bytes& wav_file) {
    const Bytes a = args_block(args);
    Bytes b;
    put16(b, static_cast<std::uint32_t>(a.size()));
    put16(b, frq_file ? static_cast<std::uint32_t>(frq_file->size()) : 0xFFFFu);
    b.insert(b.end(), a.begin(), a.end());
    if (frq_file) b.insert(b.end(), frq_file->begin(), frq_file->end());
    b.insert(b.end(), wav_file.begin(), wav_file.end());
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_corpus DIR\n");
        return 2;
    }
    const fs::path root = argv[1];

    // WAV files in every supported form, all short.
    WavShape s16;
    WavShape u8{1, 2, 8, 22050, 48, 330.0, false, true};
    WavShape s24{1, 1, 24, 48000, 40, 220.0, true, false};
    WavShape s32{1, 1, 32, 44100, 32, 440.0, false, false};
    WavShape f32{3, 2, 32, 44100, 32, 220.0, true, false};
    WavShape f64{3, 1, 64, 8000, 24, 200.0, false, true};
    const std::vector<std::pair<std::string, WavShape>> wavs = {
        {"s16_mono", s16}, {"u8_stereo_list", u8}, {"s24_ext", s24},
        {"s32", s32},      {"f32_ext_stereo", f32}, {"f64_list", f64}};
    for (const auto& [name, shape] : wavs) write(root / "wav_parse", name + ".wav", wav(shape));

    // The raw form: a window (start, length, pad) in front of the file.
    const struct {
        const char* name;
        std::int32_t start, length, pad;
        const char* wav_name;
    } windows[] = {{"whole_s16", 0, 0, 0, "s16_mono"},
                   {"lead_in_u8", -16, 40, 8, "u8_stereo_list"},
                   {"middle_s24", 8, 16, 4, "s24_ext"},
                   {"past_end_f32", 100, 10, 2, "f32_ext_stereo"}};
    for (const auto& w : windows) {
        Bytes b;
        put32(b, static_cast<std::uint32_t>(w.start));
        put32(b, static_cast<std::uint32_t>(w.length));
        put32(b, static_cast<std::uint32_t>(w.pad));
        for (const auto& [name, shape] : wavs)
            if (name == w.wav_name) b = concat(b, wav(shape));
        write(root / "wav_parse_raw", std::string(w.name) + ".bin", b);
    }

    // FRQ files.
    write(root / "frq_parse", "steady.frq", frq(256, 6, 220.0, 44100));
    write(root / "frq_parse", "unvoiced_edges.frq", frq(128, 5, 180.0, 22050, {0, 4}));
    write(root / "frq_parse", "one_entry.frq", frq(441, 1, 440.0, 44100));

    // Command lines; the first byte picks the decimal separator (odd: ',').
    const std::vector<std::pair<std::string, std::vector<std::string>>> lines = {
        {"plain", {"in.wav", "out.wav", "A4", "100", "", "0", "500", "0", "0", "100", "0"}},
        {"flags_bend", {"in.wav", "-", "C#4+25", "150/80", "g-20Nt10P50i300v120Gn", "12.5", "250",
                        "40/30", "-200", "80", "30", "!120", "AA#3#BkBk//"}},
        {"comma_numbers", {"in.wav", "out.wav", "261,6", "100,5", "g5,5", "1,5", "100,25", "20,5",
                           "3,5", "100", "0", "!96,5", "Bk#10#AA"}},
        {"extended_tempo", {"in.wav", "out.wav", "Db3", "100", "", "0", "100", "0", "0", "100", "0",
                            "!140*hff2", "ABCD"}}};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Bytes b{static_cast<std::uint8_t>(i)};
        b = concat(b, args_block(lines[i].second));
        write(root / "parse_args", lines[i].first + ".args", b);
    }

    // Bend texts: the form byte, the order byte, then the text (a fuzzed
    // tempo text first, up to a NUL, when the form byte is 4 or more).
    const struct {
        const char* name;
        std::uint8_t form, order;
        std::string text;
    } bends[] = {{"standard_runs", 0, 5, "AABk#3#//AA"},
                 {"enc_order1", 1, 1, "@kAAA2"},
                 {"enc_runs_refs", 1, 0, "$AFF@kA[AE"},
                 {"cmp_order1", 2, 1, "'FJ@dA'B"},
                 {"hff_order1", 3, 1, "nCbQaHIF"},
                 {"fuzzed_tempo", 4, 0, std::string("!96*hff2") + '\0' + "nCbQaHIF"}};
    for (const auto& bend : bends) {
        Bytes b{bend.form, bend.order};
        puttext(b, bend.text);
        write(root / "readbend", std::string(bend.name) + ".txt", b);
    }

    // Whole runs: a short low-rate sample so that each run stays quick.
    WavShape run_wav{1, 1, 16, 11025, 600, 220.0, false, false};
    const Bytes voice = wav(run_wav);
    const Bytes list = frq(64, 10, 220.0, 11025, {9});
    write(root / "run", "with_frq.bin",
          run_input({"A4", "100", "", "0", "40", "10", "0", "100", "0"}, &list, voice));
    write(root / "run", "analysed.bin",
          run_input({"E3", "120/90", "g10t5", "5", "30", "5/5", "-40", "100", "50"}, nullptr, voice));
    write(root / "run", "bend.bin",
          run_input({"C5", "100", "P0", "0", "20", "0", "0", "150", "0", "!200", "AA#2#Bk//AA"}, &list,
                    voice));
    WavShape float_wav{3, 2, 32, 22050, 300, 150.0, true, false};
    write(root / "run", "float_stereo.bin",
          run_input({"A3", "100", "N", "0", "25", "0", "0", "100", "0"}, nullptr, wav(float_wav)));
    return 0;
}
