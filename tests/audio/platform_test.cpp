// Platform layer on Linux: native byte paths, file status, whole-file reads,
// atomic replacement, binary standard output, the clock and the locale.
#include "audio/platform.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using kelmotra::path_from_ascii;
using kelmotra::path_from_utf8;
using kelmotra::PathString;
using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> folder_names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    return b;
}

bool write_atomic(const std::string& path, const Bytes& b) {
    return kelmotra::write_file_atomic(path_from_utf8(path), b.data(), b.size());
}

// The current folder, changed for one scope.
struct InFolder {
    fs::path saved = fs::current_path();
    explicit InFolder(const std::string& dir) { fs::current_path(dir); }
    ~InFolder() { fs::current_path(saved); }
};

TEST(Platform, PathsKeepTheirBytes) {
    EXPECT_EQ(path_from_ascii(".frq"), path_from_utf8(".frq"));
    for (const std::string& s : {std::string("voice.wav"), std::string("\xE3\x81\x82.wav"),
                                 std::string("caf\xE9.wav"),  // Latin-1, not UTF-8
                                 std::string("a b/c\\d.wav"), std::string()}) {
        EXPECT_EQ(kelmotra::path_to_utf8(path_from_utf8(s)), s);
    }
}

TEST(Platform, FilesOpenByTheExactBytesOfTheirNames) {
    const std::string dir = testsupport::scratch_dir("platform_names");
    std::vector<std::string> names = {std::string("\xE3\x81\x82.wav"), std::string("space and \xE2\x99\xAA.wav")};
#ifndef _WIN32
    names.push_back("caf\xE9.wav");  // Latin-1 bytes: only byte paths can carry them
#endif
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string path = dir + "/" + name;
        const Bytes content = pattern(33);
        ASSERT_TRUE(write_atomic(path, content));
        EXPECT_TRUE(std::find(folder_names(dir).begin(), folder_names(dir).end(), name) != folder_names(dir).end());
        auto read = kelmotra::read_file(path_from_utf8(path));
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(*read, content);
        std::FILE* f = kelmotra::open_file(path_from_utf8(path), "rb");
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(std::fgetc(f), content[0]);
        std::fclose(f);
        auto st = kelmotra::file_status(path_from_utf8(path));
        ASSERT_TRUE(st.has_value());
        EXPECT_EQ(st->size, 33);
        EXPECT_TRUE(kelmotra::remove_file(path_from_utf8(path)));
        EXPECT_FALSE(testsupport::file_exists(path));
    }
}

TEST(Platform, FileStatusReportsSizeTimeAndKind) {
    const std::string dir = testsupport::scratch_dir("platform_status");
    const std::string path = dir + "/f.bin";
    testsupport::write_bytes(path, pattern(1234));
    auto st = kelmotra::file_status(path_from_utf8(path));
    ASSERT_TRUE(st.has_value());
    EXPECT_EQ(st->size, 1234);
    EXPECT_FALSE(st->is_directory);
    EXPECT_FALSE(st->read_only);
    const auto now_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    EXPECT_LE(std::llabs(now_ns - st->mtime_ns), 60LL * 1000000000LL);

    // A modification time set to the second is reported to the nanosecond.
    const auto t = fs::file_time_type::clock::now() - std::chrono::hours(48);
    fs::last_write_time(path, t);
    auto older = kelmotra::file_status(path_from_utf8(path));
    ASSERT_TRUE(older.has_value());
    EXPECT_NEAR(static_cast<double>(st->mtime_ns - older->mtime_ns), 48.0 * 3600e9, 60e9);

    // Read-only by its own bits, whoever runs the test.
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    auto ro = kelmotra::file_status(path_from_utf8(path));
    ASSERT_TRUE(ro.has_value());
    EXPECT_TRUE(ro->read_only);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);

    auto d = kelmotra::file_status(path_from_utf8(dir));
    ASSERT_TRUE(d.has_value());
    EXPECT_TRUE(d->is_directory);

    EXPECT_FALSE(kelmotra::file_status(path_from_utf8(dir + "/absent")).has_value());
    EXPECT_FALSE(kelmotra::file_status(path_from_utf8(dir + "/absent/x")).has_value());
}

TEST(Platform, ReadFileReadsEveryByte) {
    const std::string dir = testsupport::scratch_dir("platform_read");
    // Around the size of one read block.
    for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{65535}, std::size_t{65536},
                          std::size_t{65537}, std::size_t{3 * 65536 + 17}}) {
        SCOPED_TRACE(n);
        const std::string path = dir + "/f" + std::to_string(n);
        testsupport::write_bytes(path, pattern(n));
        auto b = kelmotra::read_file(path_from_utf8(path));
        ASSERT_TRUE(b.has_value());
        EXPECT_EQ(*b, pattern(n));
    }
    EXPECT_FALSE(kelmotra::read_file(path_from_utf8(dir + "/absent")).has_value());
    EXPECT_FALSE(kelmotra::read_file(path_from_utf8(dir)).has_value());  // a folder is not a file
    EXPECT_EQ(kelmotra::open_file(path_from_utf8(dir + "/absent"), "rb"), nullptr);
}

TEST(Platform, AtomicWriteCreatesAndReplaces) {
    const std::string dir = testsupport::scratch_dir("platform_atomic");
    const std::string path = dir + "/out.bin";
    ASSERT_TRUE(write_atomic(path, pattern(70000)));
    EXPECT_EQ(testsupport::read_bytes(path), pattern(70000));
    ASSERT_TRUE(write_atomic(path, pattern(10)));
    EXPECT_EQ(testsupport::read_bytes(path), pattern(10));
    ASSERT_TRUE(kelmotra::write_file_atomic(path_from_utf8(path), nullptr, 0));
    EXPECT_TRUE(testsupport::file_exists(path));
    EXPECT_TRUE(testsupport::read_bytes(path).empty());
    EXPECT_EQ(folder_names(dir), std::vector<std::string>{"out.bin"});
}

TEST(Platform, AtomicWriteToABareNameUsesTheCurrentFolder) {
    const std::string dir = testsupport::scratch_dir("platform_bare");
    {
        InFolder in(dir);
        ASSERT_TRUE(write_atomic("bare.bin", pattern(5)));
        ASSERT_TRUE(write_atomic("./dotted.bin", pattern(6)));
    }
    EXPECT_EQ(folder_names(dir), (std::vector<std::string>{"bare.bin", "dotted.bin"}));
    EXPECT_EQ(testsupport::read_bytes(dir + "/bare.bin"), pattern(5));
}

TEST(Platform, AtomicWriteOfALongNameSucceeds) {
    const std::string dir = testsupport::scratch_dir("platform_long");
    for (std::size_t len : {200u, 240u, 255u}) {
        const std::string name(len, 'x');
        ASSERT_TRUE(write_atomic(dir + "/" + name, pattern(3))) << len;
        EXPECT_EQ(testsupport::read_bytes(dir + "/" + name), pattern(3));
        EXPECT_TRUE(kelmotra::remove_file(path_from_utf8(dir + "/" + name)));
    }
    EXPECT_TRUE(folder_names(dir).empty());
}

TEST(Platform, FailedAtomicWriteChangesNothing) {
    const std::string dir = testsupport::scratch_dir("platform_atomic_fail");
    testsupport::write_bytes(dir + "/keep.bin", pattern(50));
    fs::create_directories(dir + "/sub");
    for (const std::string& p : {dir + "/nowhere/x.bin", dir + "/nowhere/../keep.bin", dir + "/keep.bin/x",
                                 dir + "/sub", dir + "/", std::string()}) {
        SCOPED_TRACE(p);
        EXPECT_FALSE(write_atomic(p, pattern(9)));
    }
    EXPECT_EQ(testsupport::read_bytes(dir + "/keep.bin"), pattern(50));
    EXPECT_EQ(folder_names(dir), (std::vector<std::string>{"keep.bin", "sub"}));
    EXPECT_TRUE(folder_names(dir + "/sub").empty());
}

TEST(Platform, WriteStdoutSendsTheBytesUnchanged) {
    const Bytes data = {'R', 0, '\n', '\r', 0xFF, 0x1A, '\n'};
    std::fflush(stdout);
    std::FILE* tmp = testsupport::temp_stream();
    const int saved = ::dup(1);
    ::dup2(::fileno(tmp), 1);
    const bool ok = kelmotra::write_stdout(data.data(), data.size());
    const bool ok_empty = kelmotra::write_stdout(nullptr, 0);
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(ok_empty);
    std::rewind(tmp);
    Bytes got;
    int c;
    while ((c = std::fgetc(tmp)) != EOF) got.push_back(static_cast<std::uint8_t>(c));
    std::fclose(tmp);
    EXPECT_EQ(got, data);
}

TEST(Platform, RemoveFileSaysWhetherThereWasOne) {
    const std::string dir = testsupport::scratch_dir("platform_remove");
    testsupport::write_bytes(dir + "/a", Bytes{1});
    EXPECT_TRUE(kelmotra::remove_file(path_from_utf8(dir + "/a")));
    EXPECT_FALSE(testsupport::file_exists(dir + "/a"));
    EXPECT_FALSE(kelmotra::remove_file(path_from_utf8(dir + "/a")));
}

TEST(Platform, MonotonicClockMovesForward) {
    const double a = kelmotra::monotonic_seconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double b = kelmotra::monotonic_seconds();
    EXPECT_GE(b - a, 0.015);
    EXPECT_LT(b - a, 10.0);
    double last = b;
    for (int i = 0; i < 1000; ++i) {
        const double t = kelmotra::monotonic_seconds();
        ASSERT_GE(t, last);
        last = t;
    }
}

TEST(Platform, EditionFollowsThePointerSize) {
    EXPECT_EQ(kelmotra::edition_bits(), sizeof(void*) == 8 ? 64 : 86);
}

TEST(Platform, DecimalPointFollowsTheLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(kelmotra::locale_decimal_point(), '.');
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "de_DE.utf8")) {
        EXPECT_EQ(kelmotra::locale_decimal_point(), ',');
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(Platform, NumericLocaleNameFollowsThePrecedenceOfTheVariables) {
    struct Case {
        const char *all, *numeric, *lang;
        bool c;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, true},       {"", "", "", true},
        {nullptr, nullptr, "C.UTF-8", true},     {nullptr, nullptr, "POSIX", true},
        {nullptr, nullptr, "de_DE.UTF-8", false}, {nullptr, "C", "de_DE.UTF-8", true},
        {"de_DE.UTF-8", "C", "C", false},        {"C", "de_DE.UTF-8", nullptr, true},
        {"", "fr_FR", "C", false},               {nullptr, nullptr, "Catalan", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kelmotra::numeric_locale_is_c(c.all, c.numeric, c.lang), c.c)
            << (c.all ? c.all : "-") << " " << (c.numeric ? c.numeric : "-") << " " << (c.lang ? c.lang : "-");
    }
}

}  // namespace
