#include "support/test_support.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#if defined(__i386__) && defined(__linux__)
#include <fpu_control.h>
#endif

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <cwctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

#if defined(__i386__) && defined(__linux__)
// KELMOTRA_X87_DOUBLE=1 sets the x87 unit to 53-bit significands at start-up,
// as every Windows process has it, so that the 32-bit Linux suite also shows
// any test that leans on long double precision.
[[maybe_unused]] static const bool x87_double_precision = [] {
    const char* v = std::getenv("KELMOTRA_X87_DOUBLE");
    if (!v || std::strcmp(v, "1") != 0) return false;
    fpu_control_t cw;
    _FPU_GETCW(cw);
    cw = static_cast<fpu_control_t>((cw & ~_FPU_EXTENDED) | _FPU_DOUBLE);
    _FPU_SETCW(cw);
    return true;
}();
#endif

// Paths in the tests are UTF-8 text. On Linux that is the name's bytes; on
// Windows a narrow path would go through the ANSI code page, so the text is
// widened as UTF-8 first.
static fs::path as_path(const std::string& utf8) {
#ifdef _WIN32
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
#else
    return fs::path(utf8);
#endif
}

std::string scratch_dir(const std::string& name) {
    fs::path dir = fs::path(KELMOTRA_BINARY_DIR) / "test-scratch" / name;
    std::error_code ec;
#ifdef _WIN32
    // Windows deletes no read-only file: give everything its write bit back.
    if (fs::exists(dir, ec)) {
        for (const auto& entry : fs::recursive_directory_iterator(dir, ec))
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ec);
    }
#endif
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    return dir.string();
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(as_path(path), std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> read_bytes(const std::string& path) {
    std::ifstream f(as_path(path), std::ios::binary);
    if (!f) return {};
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

bool file_exists(const std::string& path) { return fs::exists(as_path(path)); }

void put_u16(std::vector<std::uint8_t>& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put_u32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void put_tag(std::vector<std::uint8_t>& b, const char* four) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(four[i]));
}

void put_f32(std::vector<std::uint8_t>& b, float v) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    put_u32(b, u);
}

void put_f64(std::vector<std::uint8_t>& b, double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, 8);
    put_u32(b, static_cast<std::uint32_t>(u));
    put_u32(b, static_cast<std::uint32_t>(u >> 32));
}

std::vector<std::uint8_t> fmt_chunk(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                                    std::uint16_t bits) {
    std::vector<std::uint8_t> b;
    put_tag(b, "fmt ");
    put_u32(b, 16);
    put_u16(b, tag);
    put_u16(b, channels);
    put_u32(b, rate);
    std::uint32_t align = channels * (bits / 8u);
    put_u32(b, rate * align);
    put_u16(b, align);
    put_u16(b, bits);
    return b;
}

std::vector<std::uint8_t> wav_file(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                                   std::uint16_t bits, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> fmt = fmt_chunk(tag, channels, rate, bits);
    std::vector<std::uint8_t> b;
    put_tag(b, "RIFF");
    put_u32(b, static_cast<std::uint32_t>(4 + fmt.size() + 8 + data.size()));
    put_tag(b, "WAVE");
    b.insert(b.end(), fmt.begin(), fmt.end());
    put_tag(b, "data");
    put_u32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

std::vector<std::uint8_t> wav16_mono(std::uint32_t rate, const std::vector<double>& samples) {
    std::vector<std::uint8_t> data;
    for (double v : samples) {
        double r = std::round(v);
        if (r > 32767) r = 32767;
        if (r < -32768) r = -32768;
        put_u16(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(r)));
    }
    return wav_file(1, 1, rate, 16, data);
}

#ifdef _WIN32

namespace {

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

// One argument quoted so that the C runtime's command-line parser gives it
// back unchanged.
void append_quoted(std::wstring& cmd, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        cmd += arg;
        return;
    }
    cmd += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        cmd.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        cmd += c;
    }
    cmd.append(2 * backslashes, L'\\');
    cmd += L'"';
}

// The current environment with the given assignments added or replaced, as a
// block for CreateProcessW.
std::wstring environment_block(const std::vector<std::string>& env) {
    std::vector<std::wstring> vars;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += std::wcslen(p) + 1) vars.emplace_back(p);
        FreeEnvironmentStringsW(block);
    }
    auto name_of = [](const std::wstring& v) {
        std::wstring n = v.substr(0, v.find(L'=', 1));
        for (wchar_t& c : n) c = static_cast<wchar_t>(towupper(c));
        return n;
    };
    for (const std::string& e : env) {
        const std::wstring w = widen(e);
        std::erase_if(vars, [&](const std::wstring& v) { return name_of(v) == name_of(w); });
        vars.push_back(w);
    }
    std::wstring out;
    for (const std::wstring& v : vars) out += v + L'\0';
    out += L'\0';
    return out;
}

// A new empty file with a name no other caller gets.
fs::path unique_temp_file() {
    wchar_t name[MAX_PATH + 1] = {};
    GetTempFileNameW(fs::temp_directory_path().c_str(), L"kmt", 0, name);
    return fs::path(name);
}

// Text written through a text-mode stream arrives with CRLF line ends on
// Windows; tests compare it in the LF form. Output holding a NUL byte is
// binary (a WAV file on the standard output) and is left as it is.
std::string as_text_if_text(std::string s) {
    if (s.find('\0') != std::string::npos) return s;
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
        out += s[i];
    }
    return out;
}

HANDLE inheritable_file(const fs::path& path, bool write) {
    SECURITY_ATTRIBUTES sa{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, write ? CREATE_ALWAYS : OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env) {
    RunResult r;
    const fs::path out_name = unique_temp_file();
    const fs::path err_name = unique_temp_file();
    HANDLE out_h = inheritable_file(out_name, true);
    HANDLE err_h = inheritable_file(err_name, true);
    HANDLE in_h = inheritable_file(L"NUL", false);

    const fs::path exe = fs::absolute(fs::path(widen(program))).make_preferred();
    std::wstring cmd;
    append_quoted(cmd, exe.wstring());
    for (const std::string& a : args) {
        cmd += L' ';
        append_quoted(cmd, widen(a));
    }
    std::wstring env_block;
    if (!env.empty()) env_block = environment_block(env);

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in_h;
    si.hStdOutput = out_h;
    si.hStdError = err_h;
    PROCESS_INFORMATION pi{};
    // Under Wine on a loaded machine a start now and then fails for want of a
    // moment's resources; a few tries tell that apart from a program that
    // cannot start at all.
    BOOL started = FALSE;
    DWORD start_error = 0;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        if (attempt > 0) Sleep(200 * attempt);
        started = CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE,
                                 CREATE_UNICODE_ENVIRONMENT,
                                 env.empty() ? nullptr : env_block.data(), nullptr, &si, &pi);
        if (!started) start_error = GetLastError();
    }
    if (started) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        // An exception (access violation, abort) ends a process with an NTSTATUS
        // error code; count it as the counterpart of a signal.
        if (code >= 0xC0000000u) {
            r.signal = static_cast<int>(code & 0x7fffffff);
        } else {
            r.status = static_cast<int>(code);
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    } else {
        r.status = 127;
    }
    CloseHandle(in_h);
    CloseHandle(out_h);
    CloseHandle(err_h);
    auto slurp = [](const fs::path& name) {
        std::ifstream f(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    };
    r.out = as_text_if_text(slurp(out_name));
    r.err = as_text_if_text(slurp(err_name));
    if (!started) r.err += "could not start the program: error " + std::to_string(start_error) + "\n";
    std::error_code ec;
    fs::remove(out_name, ec);
    fs::remove(err_name, ec);
    return r;
}

#else

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env) {
    RunResult r;
    char out_name[] = "/tmp/kmt-outXXXXXX";
    char err_name[] = "/tmp/kmt-errXXXXXX";
    int out_fd = mkstemp(out_name);
    int err_fd = mkstemp(err_name);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_fd, 1);
        dup2(err_fd, 2);
        int devnull = ::open("/dev/null", 0);
        if (devnull >= 0) dup2(devnull, 0);
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        std::vector<std::string> command = program_command(program);
        command.insert(command.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : command) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
    close(out_fd);
    close(err_fd);
    auto slurp = [](const char* name) {
        std::ifstream f(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    };
    r.out = slurp(out_name);
    r.err = slurp(err_name);
    std::remove(out_name);
    std::remove(err_name);
    return r;
}

#endif

std::vector<std::string> program_command(const std::string& program) {
#if defined(KELMOTRA_TEST_EMULATOR) && !defined(_WIN32)
    if (program.starts_with(KELMOTRA_BINARY_DIR)) return {KELMOTRA_TEST_EMULATOR, program};
#endif
    return {program};
}

std::string kelmotra_exe() { return KELMOTRA_EXE; }

std::string tool_exe(const std::string& name) {
#ifdef _WIN32
    return (fs::path(KELMOTRA_BINARY_DIR) / "tools" / (name + ".exe")).string();
#else
    return (fs::path(KELMOTRA_BINARY_DIR) / "tools" / name).string();
#endif
}

std::string voice_sample() {
    return (fs::path(KELMOTRA_SOURCE_DIR) / "data" / "voice.wav").string();
}

double estimate_pitch(const std::vector<double>& x, std::size_t from, std::size_t len, double rate,
                      double min_hz, double max_hz) {
    int min_lag = static_cast<int>(std::floor(rate / max_hz));
    int max_lag = static_cast<int>(std::ceil(rate / min_hz));
    if (from + len + static_cast<std::size_t>(max_lag) + 1 > x.size()) return 0.0;
    std::vector<double> r(static_cast<std::size_t>(max_lag) + 2, 0.0);
    double e0 = 0;
    for (std::size_t i = 0; i < len; ++i) e0 += x[from + i] * x[from + i];
    for (int lag = min_lag; lag <= max_lag + 1; ++lag) {
        double s = 0, e1 = 0;
        for (std::size_t i = 0; i < len; ++i) {
            double b = x[from + i + static_cast<std::size_t>(lag)];
            s += x[from + i] * b;
            e1 += b * b;
        }
        r[static_cast<std::size_t>(lag)] = (e0 > 0 && e1 > 0) ? s / std::sqrt(e0 * e1) : 0.0;
    }
    // The first lag whose correlation comes close to the best one: this avoids
    // picking a multiple of the period.
    double best = -1;
    for (int lag = min_lag + 1; lag <= max_lag; ++lag) best = std::max(best, r[static_cast<std::size_t>(lag)]);
    int pick = -1;
    for (int lag = min_lag + 1; lag <= max_lag; ++lag) {
        double c = r[static_cast<std::size_t>(lag)];
        if (c >= 0.9 * best && c >= r[static_cast<std::size_t>(lag) - 1] &&
            c >= r[static_cast<std::size_t>(lag) + 1]) {
            pick = lag;
            break;
        }
    }
    if (pick < 0) return 0.0;
    double a = r[static_cast<std::size_t>(pick) - 1], b = r[static_cast<std::size_t>(pick)],
           c = r[static_cast<std::size_t>(pick) + 1];
    double denom = a - 2 * b + c;
    double shift = denom != 0 ? 0.5 * (a - c) / denom : 0.0;
    return rate / (pick + shift);
}

std::FILE* temp_stream() {
#ifdef _WIN32
    wchar_t dir[MAX_PATH + 1];
    const DWORD len = GetTempPathW(MAX_PATH + 1, dir);
    const std::wstring folder = len > 0 && len <= MAX_PATH ? std::wstring(dir, len) : std::wstring(L".\\");
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring name = folder + L"kmt-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(rd()) + L".tmp";
        const int fd = _wopen(name.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_TEMPORARY,
                              _S_IREAD | _S_IWRITE);
        if (fd < 0) continue;
        if (std::FILE* f = _wfdopen(fd, L"w+b")) return f;
        _close(fd);
    }
#else
    if (std::FILE* f = std::tmpfile()) return f;
#endif
    std::fprintf(stderr, "temp_stream: no temporary file could be created\n");
    std::abort();
}

std::string stream_text(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    char buf[256];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    return s;
}

std::vector<double> wav16_samples(const std::vector<std::uint8_t>& file) {
    std::vector<double> out;
    for (std::size_t i = 44; i + 1 < file.size(); i += 2) {
        auto v = static_cast<std::int16_t>(file[i] | (file[i + 1] << 8));
        out.push_back(v);
    }
    return out;
}

}  // namespace testsupport
