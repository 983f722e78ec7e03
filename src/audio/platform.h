// Everything that differs between Linux and Windows, in one place: path
// strings and file access by path, atomic replacement of a file, binary
// standard output, the monotonic clock and the name of the build's edition.
//
// Paths are kept in the platform's native form: the exact bytes given on
// Linux (so sample names in any encoding open), wide strings on Windows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelmotra {

#ifdef _WIN32
using PathChar = wchar_t;
#else
using PathChar = char;
#endif
using PathString = std::basic_string<PathChar>;

// An ASCII text as a native path (for suffixes such as ".frq").
PathString path_from_ascii(std::string_view ascii);

// A native path as UTF-8 text, for messages (invalid sequences pass as they are).
std::string path_to_utf8(const PathString& path);

// A UTF-8 text as a native path (tests and tools build paths this way).
PathString path_from_utf8(std::string_view utf8);

// Opens a file by native path with a stdio mode ("rb", "wb"). nullptr on failure.
std::FILE* open_file(const PathString& path, const char* mode);

struct FileStatus {
    std::int64_t mtime_ns = 0;  // modification time, nanoseconds since the epoch
    std::int64_t size = 0;      // bytes
    bool read_only = false;     // the file's own permission bits allow no writing
    bool is_directory = false;
};

// Status of the file at path, or nothing when it does not exist or cannot be read.
std::optional<FileStatus> file_status(const PathString& path);

// Reads a whole file. Nothing when it cannot be opened or read.
std::optional<std::vector<std::uint8_t>> read_file(const PathString& path);

// Writes bytes to path so that readers see either the old file or the whole new
// one: the bytes go to a temporary file in the same folder, are flushed and
// checked, and the temporary file is renamed over path. On any failure the
// temporary file is removed, path is untouched and the result is false.
bool write_file_atomic(const PathString& path, const std::uint8_t* data, std::size_t size);

// Writes bytes to the standard output stream in binary mode and flushes it.
// False when the stream reports an error.
bool write_stdout(const std::uint8_t* data, std::size_t size);

// Removes a file; false when it did not exist or could not be removed.
bool remove_file(const PathString& path);

// Asks the allocator to keep freed memory for reuse within the process
// rather than returning it to the system at once: a short-lived process then
// pays for fresh zeroed pages only once. On Linux it also reserves heap
// address space backed by 2 MiB pages where the kernel offers them, so that
// the first touches of a note's buffers cost a few page faults rather than
// hundreds. No effect where not supported. Call once, first thing in main.
void keep_freed_memory();

// Seconds on a monotonic high-resolution clock.
double monotonic_seconds();

// 64 in a 64-bit build, 86 in a 32-bit build: the banner names the edition.
int edition_bits();

// The decimal separator of the current C locale ('.' or ',', say).
char locale_decimal_point();

// True when the environment's numeric locale is the C locale's: the name
// that LC_ALL, else LC_NUMERIC, else LANG gives (the first one set and not
// empty; none: "C") is "C", "POSIX" or a "C." variant such as C.UTF-8.
// Arguments: the variables' values, nullptr where unset.
bool numeric_locale_is_c(const char* lc_all, const char* lc_numeric, const char* lang);

// Sets the numeric category of the C locale from the environment. Where
// that names the C locale the call is skipped: a process starts in it, and
// loading the locale files costs a short note about a quarter of a
// millisecond.
void use_environment_numeric_locale();

}  // namespace kelmotra
