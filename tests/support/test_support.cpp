#include "support/test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

std::string scratch_dir(const std::string& name) {
    fs::path dir = fs::path(KELMOTRA_BINARY_DIR) / "test-scratch" / name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    return dir.string();
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> read_bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return {};
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

bool file_exists(const std::string& path) { return fs::exists(path); }

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
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
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

std::string kelmotra_exe() { return KELMOTRA_EXE; }

std::string tool_exe(const std::string& name) {
    return (fs::path(KELMOTRA_BINARY_DIR) / "tools" / name).string();
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

std::vector<double> wav16_samples(const std::vector<std::uint8_t>& file) {
    std::vector<double> out;
    for (std::size_t i = 44; i + 1 < file.size(); i += 2) {
        auto v = static_cast<std::int16_t>(file[i] | (file[i + 1] << 8));
        out.push_back(v);
    }
    return out;
}

}  // namespace testsupport
