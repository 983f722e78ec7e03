// The FRQ file: its name beside the sample, its byte layout, the checks that
// refuse damaged or stale files, and saving without harm to what is there.
#include "freqmap/frq_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kelmotra {
namespace {

namespace fs = std::filesystem;
using testsupport::file_exists;
using testsupport::read_bytes;
using testsupport::scratch_dir;
using testsupport::write_bytes;

PathString P(const std::string& s) { return path_from_utf8(s); }

// Everything written to a captured stream so far.
using testsupport::stream_text;

FreqList sample_list() {
    FreqList list;
    list.step = 256;
    list.sample_rate = 44100;
    list.count = 3;
    list.freq_avg = 219.75;
    list.freqs = {220.5, 0.0, 218.25, 218.25};
    list.amps = {1234.5, 17.0, 999.125, 999.125};
    return list;
}

std::vector<std::string> folder_entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void set_mtime(const std::string& path, std::chrono::seconds from_now) {
    fs::last_write_time(path, fs::file_time_type::clock::now() + from_now);
}

void expect_same_list(const FreqList& got, const FreqList& want) {
    EXPECT_EQ(got.step, want.step);
    EXPECT_EQ(got.sample_rate, want.sample_rate);
    EXPECT_EQ(got.count, want.count);
    EXPECT_EQ(got.freq_avg, want.freq_avg);
    ASSERT_EQ(got.freqs.size(), static_cast<std::size_t>(want.count) + 1);
    ASSERT_EQ(got.amps.size(), static_cast<std::size_t>(want.count) + 1);
    for (std::int32_t i = 0; i < want.count; ++i) {
        EXPECT_EQ(got.freqs[i], want.freqs[i]) << i;
        EXPECT_EQ(got.amps[i], want.amps[i]) << i;
    }
    // The reader recreates the repeated last entry.
    EXPECT_EQ(got.freqs[want.count], want.freqs[want.count - 1]);
    EXPECT_EQ(got.amps[want.count], want.amps[want.count - 1]);
}

// ---------------------------------------------------------------- naming

TEST(FrqPath, NamingTable) {
    struct Case {
        const char* wav;
        const char* frq;
        bool itself;
    };
    const Case cases[] = {
        {"voice.wav", "voice_wav.frq", false},
        {"voice.WAV", "voice.WAV.frq", false},
        {"voice", "voice.frq", false},
        {"voice.frq", "voice.frq", true},
        {"a.wav.b.wav", "a.wav.b_wav.frq", false},
        {"dir/voice.wav", "dir/voice_wav.frq", false},
        {"/abs/dir/voice.wav", "/abs/dir/voice_wav.frq", false},
        {".wav", "_wav.frq", false},
        {"voice.wav.frq", "voice.wav.frq", true},
        {"voice.FRQ", "voice.FRQ.frq", false},
        // Only the last ".frq" counts as naming an FRQ file ...
        {"a.frq.frq.wav", "a.frq.frq_wav.frq", false},
        {"a.frq.wav", "a.frq_wav.frq", false},
        // ... and folder names never change the file's own name.
        {"x.frq.frq/voice.wav", "x.frq.frq/voice_wav.frq", false},
        {"dir.wav.frq/a.wav", "dir.wav.frq/a_wav.frq", false},
        {"dir.wav/a", "dir.wav/a.frq", false},
        {"dir.wav/a.wav", "dir.wav/a_wav.frq", false},
        {"dir.frq/a.frq", "dir.frq/a.frq", true},
        {"dir.frq/a", "dir.frq/a.frq", false},
    };
    for (const auto& c : cases) {
        const FrqName n = frq_path(P(c.wav));
        EXPECT_EQ(path_to_utf8(n.path), c.frq) << c.wav;
        EXPECT_EQ(n.is_input_itself, c.itself) << c.wav;
    }
}

TEST(FrqPath, LongPathsKeepTheirFullName) {
    std::string wav;
    while (wav.size() < 600) wav += "folder1234/";
    wav += "voice.wav";
    const FrqName n = frq_path(P(wav));
    EXPECT_EQ(path_to_utf8(n.path), wav.substr(0, wav.size() - 4) + "_wav.frq");

    const std::string long_name = std::string(700, 'v') + ".wav";
    EXPECT_EQ(path_to_utf8(frq_path(P(long_name)).path), std::string(700, 'v') + "_wav.frq");
}

// ---------------------------------------------------------------- bytes

TEST(FrqSerialize, LayoutOfTwoEntries) {
    FreqList list;
    list.step = 256;
    list.sample_rate = 48000;
    list.count = 2;
    list.freq_avg = 440.25;
    list.freqs = {430.0, 450.5, 450.5};
    list.amps = {1000.0, -0.0, -0.0};
    const std::vector<std::uint8_t> b = frq_serialize(list);
    ASSERT_EQ(b.size(), 72u);

    std::vector<std::uint8_t> want;
    for (char c : std::string("FREQ0003")) want.push_back(static_cast<std::uint8_t>(c));
    testsupport::put_u32(want, 256);
    testsupport::put_f64(want, 440.25);
    testsupport::put_u32(want, 48000);
    testsupport::put_u32(want, 0);
    testsupport::put_u32(want, 0);
    testsupport::put_u32(want, 0);
    testsupport::put_u32(want, 2);
    testsupport::put_f64(want, 430.0);
    testsupport::put_f64(want, 1000.0);
    testsupport::put_f64(want, 450.5);
    testsupport::put_f64(want, -0.0);
    EXPECT_EQ(b, want);
}

TEST(FrqParse, RoundTripOfSerializedList) {
    const FreqList list = sample_list();
    const std::vector<std::uint8_t> b = frq_serialize(list);
    EXPECT_EQ(b.size(), kFrqHeaderBytes + kFrqEntryBytes * 3);
    const auto back = frq_parse(b.data(), b.size());
    ASSERT_TRUE(back.has_value());
    expect_same_list(*back, list);
}

// A well-formed file of count entries, with its parts open to damage.
struct FrqBytes {
    std::string magic = "FREQ0003";
    std::int32_t step = 256;
    double freq_avg = 200.0;
    std::int32_t sample_rate = 44100;
    std::uint32_t reserved = 0;
    std::int32_t count = 2;
    std::size_t entries = 2;  // entries actually present
    std::size_t extra = 0;    // trailing bytes

    std::vector<std::uint8_t> build() const {
        std::vector<std::uint8_t> b;
        for (char c : magic) b.push_back(static_cast<std::uint8_t>(c));
        b.resize(8, 0);
        testsupport::put_u32(b, static_cast<std::uint32_t>(step));
        testsupport::put_f64(b, freq_avg);
        testsupport::put_u32(b, static_cast<std::uint32_t>(sample_rate));
        testsupport::put_u32(b, reserved);
        testsupport::put_u32(b, reserved);
        testsupport::put_u32(b, reserved);
        testsupport::put_u32(b, static_cast<std::uint32_t>(count));
        for (std::size_t i = 0; i < entries; ++i) {
            testsupport::put_f64(b, 100.0 + static_cast<double>(i));
            testsupport::put_f64(b, 10.0 * static_cast<double>(i));
        }
        b.insert(b.end(), extra, 0xAB);
        return b;
    }
};

TEST(FrqParse, AcceptsAnyVersionByteAndIgnoresReservedAndTrailingBytes) {
    struct Case {
        const char* what;
        FrqBytes f;
    };
    std::vector<Case> cases;
    for (const char* magic : {"FREQ0003", "FREQ0002", "FREQ0009", "FREQ000x"}) {
        FrqBytes f;
        f.magic = magic;
        cases.push_back({magic, f});
    }
    {
        FrqBytes f;
        f.magic = std::string("FREQ000") + '\0';
        cases.push_back({"FREQ000 and a zero byte", f});
    }
    {
        FrqBytes f;
        f.reserved = 0xDEADBEEF;
        cases.push_back({"reserved bytes set", f});
    }
    {
        FrqBytes f;
        f.extra = 13;
        cases.push_back({"trailing bytes", f});
    }
    {
        FrqBytes f;
        f.count = 1;
        f.entries = 1;
        f.step = 1;
        cases.push_back({"one entry, step 1", f});
    }
    for (const auto& c : cases) {
        const std::vector<std::uint8_t> b = c.f.build();
        const auto list = frq_parse(b.data(), b.size());
        ASSERT_TRUE(list.has_value()) << c.what;
        EXPECT_EQ(list->step, c.f.step) << c.what;
        EXPECT_EQ(list->count, c.f.count) << c.what;
        EXPECT_EQ(list->sample_rate, 44100) << c.what;
        EXPECT_EQ(list->freq_avg, 200.0) << c.what;
        ASSERT_EQ(list->freqs.size(), static_cast<std::size_t>(c.f.count) + 1) << c.what;
        EXPECT_EQ(list->freqs[0], 100.0) << c.what;
        EXPECT_EQ(list->freqs[c.f.count], list->freqs[c.f.count - 1]) << c.what;
        EXPECT_EQ(list->amps[c.f.count], list->amps[c.f.count - 1]) << c.what;
        EXPECT_TRUE(freqlist_valid(*list)) << c.what;
    }
}

TEST(FrqParse, RefusesDamagedFiles) {
    struct Case {
        const char* what;
        FrqBytes f;
        std::size_t cut = 0;  // bytes removed from the end
    };
    std::vector<Case> cases;
    auto add = [&](const char* what, auto change, std::size_t cut = 0) {
        FrqBytes f;
        change(f);
        cases.push_back({what, f, cut});
    };
    add("seventh magic byte 1", [](FrqBytes& f) { f.magic = "FREQ0013"; });
    add("lower-case magic", [](FrqBytes& f) { f.magic = "freq0003"; });
    add("other magic", [](FrqBytes& f) { f.magic = "RIFF0003"; });
    add("one entry short", [](FrqBytes&) {}, 1);
    add("no entries present", [](FrqBytes& f) { f.entries = 0; });
    add("header cut", [](FrqBytes& f) { f.entries = 0; }, 1);
    add("count 0", [](FrqBytes& f) { f.count = 0; });
    add("count -1", [](FrqBytes& f) { f.count = -1; });
    add("count too large for the file", [](FrqBytes& f) { f.count = 3; });
    add("count INT_MAX", [](FrqBytes& f) { f.count = 0x7FFFFFFF; });
    add("count INT_MIN", [](FrqBytes& f) { f.count = static_cast<std::int32_t>(0x80000000u); });
    add("step 0", [](FrqBytes& f) { f.step = 0; });
    add("step -256", [](FrqBytes& f) { f.step = -256; });
    add("freq_avg NaN", [](FrqBytes& f) { f.freq_avg = std::numeric_limits<double>::quiet_NaN(); });
    add("freq_avg inf", [](FrqBytes& f) { f.freq_avg = std::numeric_limits<double>::infinity(); });
    add("freq_avg -inf", [](FrqBytes& f) { f.freq_avg = -std::numeric_limits<double>::infinity(); });
    for (const auto& c : cases) {
        std::vector<std::uint8_t> b = c.f.build();
        b.resize(b.size() - c.cut);
        EXPECT_FALSE(frq_parse(b.data(), b.size()).has_value()) << c.what;
    }
    // Shorter than a header, down to nothing.
    const std::vector<std::uint8_t> whole = FrqBytes{}.build();
    for (std::size_t size : {0u, 7u, 8u, 12u, 39u}) EXPECT_FALSE(frq_parse(whole.data(), size).has_value()) << size;
}

// ---------------------------------------------------------------- files

TEST(FrqFile, SaveAndLoadRoundTrip) {
    const std::string dir = scratch_dir("frq_round_trip");
    const std::string wav = dir + "/voice.wav";
    write_bytes(wav, testsupport::wav16_mono(44100, std::vector<double>(100, 0.0)));
    const FreqList list = sample_list();
    std::FILE* notice = testsupport::temp_stream();
    ASSERT_NE(notice, nullptr);

    EXPECT_EQ(frq_save(P(wav), &list, notice), 1);
    ASSERT_TRUE(file_exists(dir + "/voice_wav.frq"));
    const std::vector<std::uint8_t> bytes = read_bytes(dir + "/voice_wav.frq");
    EXPECT_EQ(bytes.size(), 40u + 16u * 3u);
    EXPECT_EQ(bytes, frq_serialize(list));

    const auto back = frq_load(P(wav), notice);
    ASSERT_TRUE(back.has_value());
    expect_same_list(*back, list);
    EXPECT_EQ(stream_text(notice), "");
    std::fclose(notice);
    // Beside the sample only the map, no temporary file.
    EXPECT_EQ(folder_entries(dir), (std::vector<std::string>{"voice.wav", "voice_wav.frq"}));
}

TEST(FrqFile, CountTwoIsSeventyTwoBytes) {
    const std::string dir = scratch_dir("frq_72");
    FreqList list = sample_list();
    list.count = 2;
    list.freqs = {100.0, 200.0, 200.0};
    list.amps = {1.0, 2.0, 2.0};
    EXPECT_EQ(frq_save(P(dir + "/a.wav"), &list, nullptr), 1);
    EXPECT_EQ(read_bytes(dir + "/a_wav.frq").size(), 72u);
    // The folder holds exactly the map: the write left nothing behind.
    EXPECT_EQ(folder_entries(dir), (std::vector<std::string>{"a_wav.frq"}));
}

TEST(FrqFile, SaveReplacesAWritableMapAtomically) {
    const std::string dir = scratch_dir("frq_replace");
    write_bytes(dir + "/v_wav.frq", std::vector<std::uint8_t>(500, 7));
    const FreqList list = sample_list();
    EXPECT_EQ(frq_save(P(dir + "/v.wav"), &list, nullptr), 1);
    EXPECT_EQ(read_bytes(dir + "/v_wav.frq"), frq_serialize(list));
    EXPECT_EQ(folder_entries(dir), (std::vector<std::string>{"v_wav.frq"}));
}

TEST(FrqFile, MissingMapIsReportedOnTheNoticeStream) {
    const std::string dir = scratch_dir("frq_missing");
    write_bytes(dir + "/voice.wav", testsupport::wav16_mono(44100, std::vector<double>(10, 0.0)));
    std::FILE* notice = testsupport::temp_stream();
    ASSERT_NE(notice, nullptr);
    EXPECT_FALSE(frq_load(P(dir + "/voice.wav"), notice).has_value());
    EXPECT_EQ(stream_text(notice), "FRQ-Datei hat nicht gefunden.\n");
    std::fclose(notice);
    // Without a stream the result is the same.
    EXPECT_FALSE(frq_load(P(dir + "/voice.wav"), nullptr).has_value());
}

TEST(FrqFile, AFrqPathIsLoadedItselfWithoutTheTests) {
    const std::string dir = scratch_dir("frq_itself");
    const FreqList list = sample_list();
    write_bytes(dir + "/voice.frq", frq_serialize(list));
    // Read-only and older than everything: no age test for a path given as is.
    ::chmod((dir + "/voice.frq").c_str(), 0444);
    set_mtime(dir + "/voice.frq", std::chrono::seconds(-3600));

    std::FILE* notice = testsupport::temp_stream();
    ASSERT_NE(notice, nullptr);
    const auto back = frq_load(P(dir + "/voice.frq"), notice);
    ASSERT_TRUE(back.has_value());
    expect_same_list(*back, list);
    // A missing one yields nothing, and no message.
    EXPECT_FALSE(frq_load(P(dir + "/other.frq"), notice).has_value());
    EXPECT_EQ(stream_text(notice), "");
    std::fclose(notice);
}

TEST(FrqFile, ReadOnlyMapOlderThanItsSampleIsRefused) {
    const std::string dir = scratch_dir("frq_age");
    const std::string wav = dir + "/voice.wav";
    const std::string frq = dir + "/voice_wav.frq";
    write_bytes(wav, testsupport::wav16_mono(44100, std::vector<double>(10, 0.0)));
    const FreqList list = sample_list();
    write_bytes(frq, frq_serialize(list));
    set_mtime(frq, std::chrono::seconds(-100));
    set_mtime(wav, std::chrono::seconds(-10));

    struct Case {
        const char* what;
        fs::perms mode;
        bool wav_newer;
        bool loads;
    };
    const Case cases[] = {
        {"read-only, sample newer", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read, true,
         false},
        {"writable, sample newer", fs::perms::owner_read | fs::perms::owner_write, true, true},
        {"writable by the group only, sample newer", fs::perms::owner_read | fs::perms::group_write, true, true},
        {"read-only, sample older", fs::perms::owner_read, false, true},
    };
    for (const auto& c : cases) {
        fs::permissions(frq, c.mode, fs::perm_options::replace);
        set_mtime(frq, std::chrono::seconds(-100));
        set_mtime(wav, std::chrono::seconds(c.wav_newer ? -10 : -1000));
        std::FILE* notice = testsupport::temp_stream();
        ASSERT_NE(notice, nullptr);
        const auto got = frq_load(P(wav), notice);
        EXPECT_EQ(got.has_value(), c.loads) << c.what;
        if (got) expect_same_list(*got, list);
        EXPECT_EQ(stream_text(notice), "") << c.what;
        std::fclose(notice);
    }

    // Same age counts as not newer.
    fs::permissions(frq, fs::perms::owner_read, fs::perm_options::replace);
    const auto t = fs::last_write_time(frq);
    fs::last_write_time(wav, t);
    EXPECT_TRUE(frq_load(P(wav), nullptr).has_value());

    // A read-only map whose sample is gone is used.
    fs::remove(wav);
    EXPECT_TRUE(frq_load(P(wav), nullptr).has_value());
}

TEST(FrqFile, LoadRefusesDamagedAndUnreadableMaps) {
    const std::string dir = scratch_dir("frq_damaged");
    const std::string wav = dir + "/v.wav";
    const std::string frq = dir + "/v_wav.frq";

    FrqBytes f;
    f.magic = "FREQ0013";
    write_bytes(frq, f.build());
    EXPECT_FALSE(frq_load(P(wav), nullptr).has_value());

    f = FrqBytes{};
    std::vector<std::uint8_t> b = f.build();
    b.pop_back();
    write_bytes(frq, b);
    EXPECT_FALSE(frq_load(P(wav), nullptr).has_value());

    write_bytes(frq, {});
    EXPECT_FALSE(frq_load(P(wav), nullptr).has_value());

    // A folder in the map's place: found, but not readable as a file.
    fs::remove(frq);
    fs::create_directory(frq);
    std::FILE* notice = testsupport::temp_stream();
    ASSERT_NE(notice, nullptr);
    EXPECT_FALSE(frq_load(P(wav), notice).has_value());
    EXPECT_EQ(stream_text(notice), "");
    std::fclose(notice);

    // Version 2 and 9 files read like version 3.
    fs::remove(frq);
    for (const char* magic : {"FREQ0002", "FREQ0009"}) {
        f = FrqBytes{};
        f.magic = magic;
        write_bytes(frq, f.build());
        const auto got = frq_load(P(wav), nullptr);
        ASSERT_TRUE(got.has_value()) << magic;
        EXPECT_EQ(got->count, 2) << magic;
    }
}

TEST(FrqFile, SaveWithoutAListSaysSo) {
    const std::string dir = scratch_dir("frq_null");
    std::FILE* notice = testsupport::temp_stream();
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(frq_save(P(dir + "/v.wav"), nullptr, notice), 0);
    EXPECT_EQ(stream_text(notice), "FreqList ist Null.\n");
    std::fclose(notice);
    EXPECT_TRUE(folder_entries(dir).empty());
    EXPECT_EQ(frq_save(P(dir + "/v.wav"), nullptr, nullptr), 0);
}

TEST(FrqFile, SaveLeavesProtectedFilesAlone) {
    const std::string dir = scratch_dir("frq_protected");
    const FreqList list = sample_list();

    // A sample that is itself named like a map is never overwritten.
    const std::vector<std::uint8_t> sample = testsupport::wav16_mono(44100, std::vector<double>(50, 100.0));
    write_bytes(dir + "/voice.frq", sample);
    EXPECT_EQ(frq_save(P(dir + "/voice.frq"), &list, nullptr), 0);
    EXPECT_EQ(read_bytes(dir + "/voice.frq"), sample);

    // An existing read-only map is not replaced, even by root.
    const std::string frq = dir + "/other_wav.frq";
    const std::vector<std::uint8_t> old(72, 0x55);
    write_bytes(frq, old);
    ::chmod(frq.c_str(), 0444);
    EXPECT_EQ(frq_save(P(dir + "/other.wav"), &list, nullptr), 0);
    EXPECT_EQ(read_bytes(frq), old);
    struct stat st {};
    ASSERT_EQ(::stat(frq.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(folder_entries(dir), (std::vector<std::string>{"other_wav.frq", "voice.frq"}));

    // A folder in the map's place stays a folder.
    fs::create_directory(dir + "/third_wav.frq");
    EXPECT_EQ(frq_save(P(dir + "/third.wav"), &list, nullptr), 0);
    EXPECT_TRUE(fs::is_directory(dir + "/third_wav.frq"));
}

TEST(FrqFile, SaveFailuresReturnZeroQuietly) {
    const std::string dir = scratch_dir("frq_save_fail");
    std::FILE* notice = testsupport::temp_stream();
    ASSERT_NE(notice, nullptr);
    const FreqList list = sample_list();
    // No such folder.
    EXPECT_EQ(frq_save(P(dir + "/missing/v.wav"), &list, notice), 0);
    // A list the loader would refuse is not stored.
    FreqList empty = list;
    empty.count = 0;
    empty.freqs = {0.0};
    empty.amps = {0.0};
    EXPECT_EQ(frq_save(P(dir + "/v.wav"), &empty, notice), 0);
    FreqList no_step = list;
    no_step.step = 0;
    EXPECT_EQ(frq_save(P(dir + "/v.wav"), &no_step, notice), 0);
    EXPECT_EQ(stream_text(notice), "");
    std::fclose(notice);
    EXPECT_TRUE(folder_entries(dir).empty());
}

}  // namespace
}  // namespace kelmotra
