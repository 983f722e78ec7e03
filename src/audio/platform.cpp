#include "audio/platform.h"

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__linux__)
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#endif
#endif

namespace kelmotra {

PathString path_from_ascii(std::string_view ascii) {
    return PathString(ascii.begin(), ascii.end());
}

#ifdef _WIN32

std::string path_to_utf8(const PathString& path) {
    if (path.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

PathString path_from_utf8(std::string_view utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    PathString out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::FILE* open_file(const PathString& path, const char* mode) {
    wchar_t wmode[8] = {};
    for (int i = 0; i < 7 && mode[i]; ++i) wmode[i] = static_cast<wchar_t>(mode[i]);
    return _wfopen(path.c_str(), wmode);
}

std::optional<FileStatus> file_status(const PathString& path) {
    struct _stat64 st;
    if (_wstat64(path.c_str(), &st) != 0) return std::nullopt;
    FileStatus s;
    s.mtime_ns = static_cast<std::int64_t>(st.st_mtime) * 1000000000LL;
    s.size = static_cast<std::int64_t>(st.st_size);
    s.read_only = (st.st_mode & _S_IWRITE) == 0;
    s.is_directory = (st.st_mode & _S_IFDIR) != 0;
    return s;
}

static bool rename_over(const PathString& from, const PathString& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool remove_file(const PathString& path) { return _wremove(path.c_str()) == 0; }

static long process_id() { return static_cast<long>(_getpid()); }

bool write_stdout(const std::uint8_t* data, std::size_t size) {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
    std::size_t n = size ? std::fwrite(data, 1, size, stdout) : 0;
    return n == size && std::fflush(stdout) == 0 && !std::ferror(stdout);
}

#else

std::string path_to_utf8(const PathString& path) { return path; }

PathString path_from_utf8(std::string_view utf8) { return PathString(utf8); }

std::FILE* open_file(const PathString& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

std::optional<FileStatus> file_status(const PathString& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    FileStatus s;
    s.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL +
                 static_cast<std::int64_t>(st.st_mtim.tv_nsec);
    s.size = static_cast<std::int64_t>(st.st_size);
    // The mode bits, not access(W_OK): root may write anything, yet a file
    // whose bits forbid writing was protected on purpose.
    s.read_only = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    s.is_directory = S_ISDIR(st.st_mode);
    return s;
}

static bool rename_over(const PathString& from, const PathString& to) {
#if defined(__linux__) && defined(RENAME_EXCHANGE)
    // Renaming over an existing file costs ext4 about half a millisecond, a
    // good part of a short note; swapping the two names and then removing
    // the old file under the temporary name costs a tenth of that and is as
    // atomic: `to` names the old or the new file at every moment. Only a
    // regular file is swapped (a folder must make the rename fail, as it
    // does); where the swap is not offered, the plain rename.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) {
        ::unlink(from.c_str());
        return true;
    }
#endif
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool remove_file(const PathString& path) { return std::remove(path.c_str()) == 0; }

static long process_id() { return static_cast<long>(::getpid()); }

bool write_stdout(const std::uint8_t* data, std::size_t size) {
    std::fflush(stdout);
    std::size_t n = size ? std::fwrite(data, 1, size, stdout) : 0;
    return n == size && std::fflush(stdout) == 0 && !std::ferror(stdout);
}

#endif

std::optional<std::vector<std::uint8_t>> read_file(const PathString& path) {
    std::FILE* f = open_file(path, "rb");
    if (!f) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    // Read straight into a buffer of the file's size (one read, no copies);
    // a file that grows meanwhile, or whose size is unknown, is read on in
    // blocks until its end.
    const auto st = file_status(path);
    std::size_t have = 0;
    if (st && !st->is_directory && st->size > 0 &&
        static_cast<std::uint64_t>(st->size) < (std::uint64_t{1} << 40)) {
        bytes.resize(static_cast<std::size_t>(st->size));
        have = std::fread(bytes.data(), 1, bytes.size(), f);
    }
    bool failed = std::ferror(f) != 0;
    if (!failed && have == bytes.size()) {
        // Straight into the buffer, grown a block at a time (a block on the
        // stack would cost fresh stack pages).
        constexpr std::size_t kBlock = 65536;
        for (;;) {
            bytes.resize(have + kBlock);
            const std::size_t n = std::fread(bytes.data() + have, 1, kBlock, f);
            have += n;
            if (n < kBlock) break;
        }
        failed = std::ferror(f) != 0;
    }
    bytes.resize(have);
    std::fclose(f);
    if (failed) return std::nullopt;
    return bytes;
}

// The folder part of a path, separator included ("" for a bare name).
static PathString folder_of(const PathString& path) {
#ifdef _WIN32
    const std::size_t cut = path.find_last_of(L"\\/:");
#else
    const std::size_t cut = path.find_last_of('/');
#endif
    return cut == PathString::npos ? PathString() : path.substr(0, cut + 1);
}

bool write_file_atomic(const PathString& path, const std::uint8_t* data, std::size_t size) {
    if (path.empty()) return false;
    // A short name in the same folder (so that the rename stays on one file
    // system, and a target name near the length limit still leaves room),
    // which no other process uses at the same moment: the process id, the
    // clock and a random number.
    std::random_device rd;
    auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    char name[96];
    std::snprintf(name, sizeof name, ".kelmotra-%ld-%llx-%08x.tmp", process_id(),
                  static_cast<unsigned long long>(now), static_cast<unsigned>(rd()));
    PathString tmp = folder_of(path) + path_from_ascii(name);

    std::FILE* f = open_file(tmp, "wb");
    if (!f) return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    ok = (std::fflush(f) == 0) && ok && !std::ferror(f);
    ok = (std::fclose(f) == 0) && ok;
    if (ok) ok = rename_over(tmp, path);
    if (!ok) remove_file(tmp);
    return ok;
}

void keep_freed_memory() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
#if defined(__SANITIZE_ADDRESS__)
#define KELMOTRA_OWN_MALLOC 0  // the sanitizer's allocator replaces the C library's
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define KELMOTRA_OWN_MALLOC 0
#endif
#endif
#ifndef KELMOTRA_OWN_MALLOC
#define KELMOTRA_OWN_MALLOC 1
#endif
#if defined(__linux__) && defined(MADV_HUGEPAGE) && KELMOTRA_OWN_MALLOC
    // A note touches a megabyte or more of fresh heap, and every first touch
    // of a 4 KiB page is a fault: hundreds per note, several milliseconds on
    // a virtual machine. So the heap is grown once, untouched, by a reserve
    // that is freed again at once (the trim threshold keeps it), the kernel
    // is asked to back it with 2 MiB pages where it can (a handful of faults
    // instead), and a block that is never used takes the stretch below its
    // first 2 MiB boundary, so that the allocations that follow start there.
    // Only address space is spent. A kernel without transparent huge pages
    // ignores the advice; the allocator's layout only decides how much of
    // the reserve the advice reaches.
    constexpr std::uintptr_t kHuge = 2u << 20;
    constexpr std::size_t kReserve = 48u << 20;
    constexpr std::uintptr_t kChunkHeader = 16;
    if (void* block = std::malloc(kReserve)) {
        const auto start = reinterpret_cast<std::uintptr_t>(block);
        const std::uintptr_t from = (start + kHuge - 1) & ~(kHuge - 1);
        const std::uintptr_t to = (start + kReserve) & ~(kHuge - 1);
        if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
        std::free(block);
        if (from - start >= 2 * kChunkHeader) {
            void* below = std::malloc(from - start - kChunkHeader / 2);
            // Kept for good; the empty statement stops the compiler from
            // dropping an allocation whose pointer is otherwise unused.
            asm volatile("" : : "r"(below) : "memory");
        }
    }
#endif
#endif
}

double monotonic_seconds() {
    using clock = std::chrono::steady_clock;
    return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

int edition_bits() { return sizeof(void*) == 8 ? 64 : 86; }

bool numeric_locale_is_c(const char* lc_all, const char* lc_numeric, const char* lang) {
    const char* name = "C";
    for (const char* v : {lc_all, lc_numeric, lang}) {
        if (v && v[0]) {
            name = v;
            break;
        }
    }
    const std::string_view n(name);
    return n == "C" || n == "POSIX" || n.substr(0, 2) == "C.";
}

void use_environment_numeric_locale() {
#ifndef _WIN32
    if (numeric_locale_is_c(std::getenv("LC_ALL"), std::getenv("LC_NUMERIC"), std::getenv("LANG")))
        return;
#endif
    std::setlocale(LC_NUMERIC, "");
}

char locale_decimal_point() {
    const std::lconv* lc = std::localeconv();
    if (!lc || !lc->decimal_point || !lc->decimal_point[0]) return '.';
    return lc->decimal_point[0];
}

}  // namespace kelmotra
