// kelmotra-frq, run as a program: folders of samples get exactly the FRQ files
// kelmotra would write, up-to-date maps are skipped, damaged files fail alone,
// and show/plot read maps (or analyse in memory) without writing anything.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/platform.h"
#include "audio/wav_reader.h"
#include "audio/wav_writer.h"
#include "freqmap/frq_file.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

testsupport::RunResult frq_tool(const std::vector<std::string>& args,
                                const std::vector<std::string>& env = {}) {
    return run_program(tool_exe("kelmotra-frq"), args, env);
}

// A path as the tool prints it: with the platform's own separators.
std::string shown(const std::string& path) { return fs::path(path).make_preferred().string(); }

std::size_t count_lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::size_t count_of(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// The bundled sample decoded (16-bit scale, mono).
std::vector<double> voice_values() {
    auto wave = kelmotra::wav_read(kelmotra::path_from_utf8(voice_sample()), nullptr, 0);
    EXPECT_TRUE(wave.has_value());
    if (!wave) return {};
    std::vector<double> v(wave->samples.begin(), wave->samples.begin() + wave->frames);
    return v;
}

// A WAV file of the given values in another rate, depth and channel count
// (every channel carries the same values).
std::vector<std::uint8_t> encode(const std::vector<double>& mono, int bits, int channels, int rate,
                                 std::int16_t format) {
    std::vector<double> frames;
    frames.reserve(mono.size() * static_cast<std::size_t>(channels));
    for (double v : mono)
        for (int c = 0; c < channels; ++c) frames.push_back(c == 0 ? v : v * 0.5);
    auto bytes = kelmotra::wav_encode(frames.data(), static_cast<std::int32_t>(mono.size()), bits,
                                      channels, rate, format);
    EXPECT_TRUE(bytes.has_value());
    return bytes ? *bytes : std::vector<std::uint8_t>{};
}

struct SampleShape {
    std::string relative;  // path below the bank folder
    std::vector<std::uint8_t> bytes;
};

// Three versions of the bundled sample: as shipped, at half the rate in
// 24-bit stereo, and relabelled to 96 kHz as 32-bit float, the last in a
// subfolder with an upper-case extension.
std::vector<SampleShape> three_samples() {
    const std::vector<double> v = voice_values();
    std::vector<double> half;
    for (std::size_t i = 0; i < v.size(); i += 2) half.push_back(v[i]);
    return {
        {"plain.wav", read_bytes(voice_sample())},
        {"half_24bit_stereo.wav", encode(half, 24, 2, 22050, 1)},
        {"deeper/Float96k.WAV", encode(v, 32, 1, 96000, 3)},
    };
}

std::string frq_of(const std::string& wav) {
    return kelmotra::path_to_utf8(kelmotra::frq_path(kelmotra::path_from_utf8(wav)).path);
}

void write_bank(const std::string& dir, const std::vector<SampleShape>& samples) {
    for (const SampleShape& s : samples) {
        fs::create_directories((fs::path(dir) / s.relative).parent_path());
        write_bytes((fs::path(dir) / s.relative).string(), s.bytes);
    }
}

// What kelmotra itself writes for a sample when told to analyse it anew.
std::vector<std::uint8_t> kelmotra_frq_bytes(const std::string& dir, const SampleShape& s) {
    const std::string in = (fs::path(dir) / fs::path(s.relative).filename()).string();
    write_bytes(in, s.bytes);
    const std::string out = (fs::path(dir) / "note.wav").string();
    RunResult r = run_program(kelmotra_exe(), {in, out, "A4", "100", "G", "0", "100", "0", "0", "100", "0"});
    EXPECT_EQ(r.signal, 0) << r.err;
    return read_bytes(frq_of(in));
}

kelmotra::FreqList parse_frq(const std::string& path) {
    const std::vector<std::uint8_t> b = read_bytes(path);
    auto list = kelmotra::frq_parse(b.data(), b.size());
    EXPECT_TRUE(list.has_value()) << path;
    return list ? *list : kelmotra::FreqList{};
}

void make_older(const std::string& path, std::chrono::seconds by) {
    fs::last_write_time(path, fs::last_write_time(path) - by);
}

// The bundled sample, a stretch of digital silence, and the sample again:
// the map has two voiced stretches with unvoiced entries between them.
std::vector<std::uint8_t> sample_with_a_pause() {
    std::vector<double> v = voice_values();
    std::vector<double> out = v;
    out.insert(out.end(), 13000, 0.0);
    out.insert(out.end(), v.begin(), v.end());
    return wav16_mono(44100, out);
}

}  // namespace

// ---------------------------------------------------------------------------
// analyse

TEST(KelmotraFrqAnalyse, FolderGetsTheFrqFilesKelmotraWrites) {
    const std::string bank = scratch_dir("frq_tool_bank");
    const std::string ref = scratch_dir("frq_tool_bank_ref");
    const std::vector<SampleShape> samples = three_samples();
    write_bank(bank, samples);

    RunResult r = frq_tool({"analyse", "--jobs", "2", bank});
    EXPECT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_NE(r.out.find("analysed 3, skipped 0, failed 0"), std::string::npos) << r.out;
    // Not a terminal: one line per sample.
    EXPECT_EQ(count_of(r.err, "] analysed "), 3u) << r.err;

    std::vector<kelmotra::FreqList> lists;
    for (const SampleShape& s : samples) {
        const std::string frq = frq_of((fs::path(bank) / s.relative).string());
        ASSERT_TRUE(file_exists(frq)) << frq;
        EXPECT_EQ(read_bytes(frq), kelmotra_frq_bytes(ref, s)) << s.relative;
        lists.push_back(parse_frq(frq));
    }
    // The upper-case extension keeps its own name, as kelmotra derives it.
    EXPECT_TRUE(file_exists((fs::path(bank) / "deeper" / "Float96k.WAV.frq").string()));
    // Each rate got its own analysis window.
    EXPECT_EQ(lists[0].step, 256);
    EXPECT_EQ(lists[1].step, 128);
    EXPECT_EQ(lists[2].step, 512);
    EXPECT_EQ(lists[1].sample_rate, 22050);
}

TEST(KelmotraFrqAnalyse, UpToDateMapsAreSkippedUnlessForcedOrStale) {
    const std::string bank = scratch_dir("frq_tool_skip");
    const std::vector<SampleShape> samples = three_samples();
    write_bank(bank, samples);
    ASSERT_EQ(frq_tool({"analyse", bank}).status, 0);

    std::vector<std::string> frqs;
    for (const SampleShape& s : samples) frqs.push_back(frq_of((fs::path(bank) / s.relative).string()));
    const std::vector<std::uint8_t> first = read_bytes(frqs[0]);
    const auto stamp = fs::last_write_time(frqs[0]);

    RunResult again = frq_tool({"analyse", bank});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("analysed 0, skipped 3, failed 0"), std::string::npos) << again.out;
    EXPECT_EQ(fs::last_write_time(frqs[0]), stamp);

    // A damaged map and one older than its sample are both renewed.
    write_bytes(frqs[1], {'F', 'R', 'E', 'Q', '0', '0', '0', '3', 1, 2, 3});
    make_older(frqs[2], std::chrono::seconds(100));
    RunResult renew = frq_tool({"analyse", "--jobs=1", bank});
    EXPECT_EQ(renew.status, 0) << renew.err;
    EXPECT_NE(renew.out.find("analysed 2, skipped 1, failed 0"), std::string::npos) << renew.out;
    EXPECT_GE(parse_frq(frqs[1]).count, 1);

    RunResult forced = frq_tool({"analyse", "--force", bank});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(forced.out.find("analysed 3, skipped 0, failed 0"), std::string::npos) << forced.out;
    EXPECT_EQ(read_bytes(frqs[0]), first);
}

TEST(KelmotraFrqAnalyse, DamagedSamplesFailAloneWithTheirReason) {
    const std::string bank = scratch_dir("frq_tool_damaged");
    write_bytes(bank + "/good.wav", read_bytes(voice_sample()));
    write_bytes(bank + "/text.wav", {'h', 'e', 'l', 'l', 'o'});
    // A RIFF/WAVE header whose format chunk claims 12-bit samples.
    write_bytes(bank + "/odd_depth.wav", wav_file(1, 1, 44100, 12, std::vector<std::uint8_t>(8000, 7)));
    // Cut off inside the format chunk.
    std::vector<std::uint8_t> cut = read_bytes(voice_sample());
    cut.resize(30);
    write_bytes(bank + "/cut.wav", cut);
    // Valid but far too short for one analysis step.
    write_bytes(bank + "/tiny.wav", wav16_mono(44100, std::vector<double>(100, 1000.0)));
    write_bytes(bank + "/notes.txt", {'x'});

    RunResult r = frq_tool({"analyse", bank});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.signal, 0);
    EXPECT_NE(r.out.find("analysed 1, skipped 0, failed 4"), std::string::npos) << r.out;
    for (const char* bad : {"text.wav", "odd_depth.wav", "cut.wav", "tiny.wav"}) {
        EXPECT_NE(r.out.find("failed: " + shown(bank + "/" + bad) + ": "), std::string::npos) << bad << "\n" << r.out;
        EXPECT_FALSE(file_exists(frq_of(bank + "/" + bad))) << bad;
    }
    EXPECT_NE(r.out.find("12 bits per sample"), std::string::npos) << r.out;
    EXPECT_TRUE(file_exists(bank + "/good_wav.frq"));
    EXPECT_FALSE(file_exists(bank + "/notes.txt.frq"));
}

TEST(KelmotraFrqAnalyse, InputsThatAreNotSamples) {
    const std::string dir = scratch_dir("frq_tool_inputs");
    write_bytes(dir + "/given.wav", read_bytes(voice_sample()));
    ASSERT_EQ(frq_tool({"analyse", dir + "/given.wav"}).status, 0);
    ASSERT_TRUE(file_exists(dir + "/given_wav.frq"));

    // A missing path and an FRQ file fail; the sample given with them is still handled.
    RunResult r = frq_tool({"analyse", dir + "/missing", dir + "/given_wav.frq", dir + "/given.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(dir + "/missing: no such file or folder"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("given_wav.frq: an FRQ file"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("skipped 1, failed 2"), std::string::npos) << r.out;

    // A read-only map is never replaced, and saying so is a failure.
    fs::permissions(dir + "/given_wav.frq", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    RunResult ro = frq_tool({"analyse", "--force", dir});
    EXPECT_EQ(ro.status, 1);
    EXPECT_NE(ro.out.find("read-only"), std::string::npos) << ro.out;

    // An empty folder is no failure.
    const std::string empty = scratch_dir("frq_tool_empty");
    RunResult none = frq_tool({"analyse", empty});
    EXPECT_EQ(none.status, 0);
    EXPECT_NE(none.out.find("no WAV files found"), std::string::npos) << none.out;
}

TEST(KelmotraFrqAnalyse, ClassicOnRequestGivesTheClassicBytes) {
    // The classic map of the bundled sample, as it has always been written
    // (FNV-1a of its 4424 bytes), from kelmotra and kelmotra-frq alike.
    auto fnv = [](const std::vector<std::uint8_t>& b) {
        std::uint64_t h = 0xcbf29ce484222325u;
        for (std::uint8_t c : b) h = (h ^ c) * 0x100000001b3u;
        return h;
    };
    const std::string dir = scratch_dir("frq_tool_classic");
    const SampleShape voice{"v.wav", read_bytes(voice_sample())};
    const std::vector<std::string> classic = {"KELMOTRA_ANALYSIS=classic"};
    const struct {
        std::vector<std::string> args, env;
        bool is_classic;
    } rows[] = {
        {{"analyse", "--force", dir}, classic, true},
        {{"analyse", "--force", "--method", "classic", dir}, {}, true},
        {{"analyse", "--force", "--method=robust", dir}, classic, false},
        {{"analyse", "--force", dir}, {"KELMOTRA_ANALYSIS=Classic"}, false},
    };
    write_bank(dir, {voice});
    const std::vector<std::uint8_t> robust = kelmotra_frq_bytes(dir, voice);
    for (const auto& row : rows) {
        ASSERT_EQ(frq_tool(row.args, row.env).status, 0);
        const std::vector<std::uint8_t> got = read_bytes(dir + "/v_wav.frq");
        if (row.is_classic) EXPECT_EQ(fnv(got), 0xf2fb811140c63715u) << row.args[2];
        else EXPECT_EQ(got, robust) << row.args[2];
    }
    RunResult r = run_program(kelmotra_exe(), {dir + "/v.wav", dir + "/n.wav", "A4", "100", "G", "0", "100", "0", "0",
                                               "100", "0"}, classic);
    EXPECT_EQ(fnv(read_bytes(dir + "/v_wav.frq")), 0xf2fb811140c63715u) << r.err;
    EXPECT_NE(r.err.find("pass 1 "), std::string::npos);
}

// ---------------------------------------------------------------------------
// check

TEST(KelmotraFrqCheck, FindsAHalvedMapAndFixesIt) {
    const std::string bank = scratch_dir("frq_tool_check");
    write_bank(bank, {{"voice.wav", read_bytes(voice_sample())}, {"copy.wav", read_bytes(voice_sample())}});
    ASSERT_EQ(frq_tool({"analyse", bank}).status, 0);
    write_bytes(bank + "/none.wav", read_bytes(voice_sample()));  // a sample without a map
    const std::vector<std::uint8_t> good = read_bytes(bank + "/voice_wav.frq");
    auto halve = [](const std::string& frq) {
        kelmotra::FreqList list = parse_frq(frq);
        for (double& f : list.freqs) f *= 0.5;
        write_bytes(frq, kelmotra::frq_serialize(list));
    };
    halve(bank + "/voice_wav.frq");

    RunResult r = frq_tool({"check", "--jobs", "2", bank});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("bad: " + shown(bank + "/voice_wav.frq") + ": -1200 cents: an octave low"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("checked 2 maps: 1 good, 1 bad; 1 samples without a map, 0 failed"), std::string::npos)
        << r.out;

    RunResult fix = frq_tool({"check", "--fix", bank});
    EXPECT_EQ(fix.status, 0) << fix.out;
    EXPECT_NE(fix.out.find("1 bad (1 fixed)"), std::string::npos) << fix.out;
    EXPECT_EQ(read_bytes(bank + "/voice_wav.frq"), good);
    EXPECT_FALSE(file_exists(bank + "/none_wav.frq"));
    EXPECT_NE(frq_tool({"check", bank}).out.find("2 good, 0 bad"), std::string::npos);

    // A read-only map is reported, never replaced.
    halve(bank + "/copy_wav.frq");
    const std::vector<std::uint8_t> halved = read_bytes(bank + "/copy_wav.frq");
    fs::permissions(bank + "/copy_wav.frq", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    RunResult ro = frq_tool({"check", "--fix", bank});
    EXPECT_EQ(ro.status, 1);
    EXPECT_NE(ro.out.find("not fixed: read-only"), std::string::npos) << ro.out;
    EXPECT_EQ(read_bytes(bank + "/copy_wav.frq"), halved);
}

// ---------------------------------------------------------------------------
// show

TEST(KelmotraFrqShow, CsvHasOneRowPerEntryMatchingTheFile) {
    const std::string dir = scratch_dir("frq_tool_show");
    write_bytes(dir + "/v.wav", read_bytes(voice_sample()));
    ASSERT_EQ(frq_tool({"analyse", dir}).status, 0);
    const kelmotra::FreqList list = parse_frq(dir + "/v_wav.frq");

    for (const std::string& file : {dir + "/v.wav", dir + "/v_wav.frq"}) {
        RunResult r = frq_tool({"show", "--csv", file}, {"LC_ALL=de_DE.UTF-8", "LANG=de_DE.UTF-8"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(count_lines(r.out), static_cast<std::size_t>(list.count) + 1) << file;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "index,time_ms,frequency_hz,amplitude,voiced");
        // Row 3 carries the entry's own values, a '.' decimal point in every locale.
        std::size_t at = 0;
        for (int line = 0; line < 4; ++line) at = r.out.find('\n', at) + 1;
        const std::string row = r.out.substr(at, r.out.find('\n', at) - at);
        double t = 0, f = 0, a = 0;
        int index = -1, voiced = -1;
        ASSERT_EQ(std::sscanf(row.c_str(), "%d,%lf,%lf,%lf,%d", &index, &t, &f, &a, &voiced), 5) << row;
        EXPECT_EQ(index, 3);
        EXPECT_DOUBLE_EQ(t, 3.0 * list.step / list.sample_rate * 1000.0);
        EXPECT_EQ(f, list.freqs[3]);
        EXPECT_EQ(a, list.amps[3]);
        EXPECT_EQ(voiced, list.freqs[3] > 16 && list.freqs[3] != 55 ? 1 : 0);
    }
}

TEST(KelmotraFrqShow, TableHeaderAndInMemoryAnalysis) {
    const std::string dir = scratch_dir("frq_tool_show_mem");
    write_bytes(dir + "/v.wav", read_bytes(voice_sample()));
    RunResult r = frq_tool({"show", dir + "/v.wav"});
    ASSERT_EQ(r.status, 0) << r.err;
    // No FRQ file: analysed in memory, said so, nothing written.
    EXPECT_NE(r.out.find("analysed in memory, nothing written"), std::string::npos) << r.out;
    EXPECT_FALSE(file_exists(dir + "/v_wav.frq"));
    EXPECT_NE(r.out.find("step:         256 samples (5.805 ms)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sample rate:  44100 Hz"), std::string::npos);
    EXPECT_NE(r.out.find("index"), std::string::npos);
    // The same numbers as the map kelmotra-frq analyse writes.
    ASSERT_EQ(frq_tool({"analyse", dir}).status, 0);
    const kelmotra::FreqList list = parse_frq(dir + "/v_wav.frq");
    RunResult saved = frq_tool({"show", dir + "/v.wav"});
    EXPECT_NE(saved.out.find("count:        " + std::to_string(list.count) + " entries"), std::string::npos)
        << saved.out;
    const std::string tail_mem = r.out.substr(r.out.find("count:"));
    const std::string tail_saved = saved.out.substr(saved.out.find("count:"));
    EXPECT_EQ(tail_mem, tail_saved);
}

TEST(KelmotraFrqShow, DamagedFilesAreReportedNotCrashedOn) {
    const std::string dir = scratch_dir("frq_tool_show_bad");
    // Magic right, but a count that the file cannot hold.
    std::vector<std::uint8_t> frq = {'F', 'R', 'E', 'Q', '0', '0', '0', '3'};
    put_u32(frq, 256);
    put_f64(frq, 220.0);
    put_u32(frq, 44100);
    frq.insert(frq.end(), 12, 0);
    put_u32(frq, 100000);
    write_bytes(dir + "/short.frq", frq);
    write_bytes(dir + "/junk.wav", {'R', 'I', 'F', 'F', 0, 0});
    write_bytes(dir + "/empty.wav", {});
    for (const char* name : {"short.frq", "junk.wav", "empty.wav", "absent.wav"}) {
        for (const char* cmd : {"show", "plot"}) {
            std::vector<std::string> args = {cmd, dir + "/" + name};
            if (std::string(cmd) == "plot") args.insert(args.end(), {"-o", dir + "/p.svg"});
            RunResult r = frq_tool(args);
            EXPECT_EQ(r.status, 1) << cmd << " " << name << ": " << r.err;
            EXPECT_EQ(r.signal, 0);
            EXPECT_EQ(count_lines(r.err), 1u) << r.err;
            EXPECT_NE(r.err.find(name), std::string::npos) << r.err;
        }
    }
    EXPECT_FALSE(file_exists(dir + "/p.svg"));
}

// ---------------------------------------------------------------------------
// plot

TEST(KelmotraFrqPlot, WritesAnSvgWithBrokenCurveAndAverage) {
    const std::string dir = scratch_dir("frq_tool_plot");
    write_bytes(dir + "/pause.wav", sample_with_a_pause());
    RunResult r = frq_tool({"plot", dir + "/pause.wav", "-o", dir + "/pause.svg"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::uint8_t> bytes = read_bytes(dir + "/pause.svg");
    const std::string svg(bytes.begin(), bytes.end());
    EXPECT_TRUE(svg.rfind("<svg", 0) == 0 || svg.rfind("<?xml", 0) == 0);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    // The silence between the two sung stretches breaks the frequency curve.
    EXPECT_GE(count_of(svg, "<polyline class=\"f0\""), 2u);
    EXPECT_NE(svg.find("class=\"avg\""), std::string::npos);
    EXPECT_NE(svg.find("average "), std::string::npos);
    EXPECT_NE(svg.find("time (ms)"), std::string::npos);
    EXPECT_NE(svg.find("frequency (Hz)"), std::string::npos);
    EXPECT_FALSE(file_exists(dir + "/pause_wav.frq"));  // analysed in memory only

    // A bare FRQ file plots its level curve instead of the waveform.
    ASSERT_EQ(frq_tool({"analyse", dir}).status, 0);
    RunResult bare = frq_tool({"plot", "--output", dir + "/bare.svg", dir + "/pause_wav.frq"});
    ASSERT_EQ(bare.status, 0) << bare.err;
    const std::vector<std::uint8_t> b2 = read_bytes(dir + "/bare.svg");
    const std::string svg2(b2.begin(), b2.end());
    EXPECT_NE(svg2.find("level (RMS per entry)"), std::string::npos);
    EXPECT_GE(count_of(svg2, "<polyline class=\"f0\""), 2u);

    // Never over its own input.
    const std::vector<std::uint8_t> before = read_bytes(dir + "/pause.wav");
    EXPECT_EQ(frq_tool({"plot", dir + "/pause.wav", "-o", dir + "/pause.wav"}).status, 1);
    EXPECT_EQ(read_bytes(dir + "/pause.wav"), before);
}

TEST(KelmotraFrqPlot, FileNamesAreEscapedInTheSvg) {
    const std::string dir = scratch_dir("frq_tool_plot_name");
    const std::string name = dir + "/a&b<c>.wav";
    write_bytes(name, read_bytes(voice_sample()));
    ASSERT_EQ(frq_tool({"plot", name, "-o", dir + "/x.svg"}).status, 0);
    const std::vector<std::uint8_t> bytes = read_bytes(dir + "/x.svg");
    const std::string svg(bytes.begin(), bytes.end());
    EXPECT_NE(svg.find("a&amp;b&lt;c&gt;.wav"), std::string::npos);
    EXPECT_EQ(svg.find("a&b<c>"), std::string::npos);
}

// ---------------------------------------------------------------------------
// usage

TEST(KelmotraFrqUsage, BadUsageIsOneLineAndStatusTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"analyse"},
        {"analyse", "--jobs", "0", "x"},
        {"analyse", "--jobs"},
        {"analyse", "--jobs=many", "x"},
        {"analyse", "--quick", "x"},
        {"show"},
        {"show", "a.wav", "b.wav"},
        {"show", "--table", "a.wav"},
        {"plot", "a.wav"},
        {"plot", "-o"},
        {"plot", "a.wav", "-o", "x.svg", "-o", "y.svg"},
        {"help", "nothing"},
    };
    for (const auto& args : bad) {
        RunResult r = frq_tool(args);
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_EQ(count_lines(r.err), 1u) << shown << r.err;
        EXPECT_TRUE(r.out.empty()) << shown;
    }
    for (const std::vector<std::string>& help :
         {std::vector<std::string>{"--help"}, {"help"}, {"help", "plot"}, {"analyse", "--help"},
          {"show", "-h"}, {"plot", "--help"}}) {
        RunResult r = frq_tool(help);
        EXPECT_EQ(r.status, 0) << help[0];
        EXPECT_EQ(r.out.rfind("usage: kelmotra-frq", 0), 0u) << r.out;
    }
    const RunResult v = frq_tool({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, "kelmotra-frq " KELMOTRA_VERSION "\n");
}
