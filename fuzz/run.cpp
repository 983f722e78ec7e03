// Fuzz target: one whole run of the resampler, from a fuzzed WAV file, FRQ
// file and command line to the written note.
//
// Input layout (lengths little-endian):
//   u16 A   bytes of the argument block
//   u16 F   bytes of the FRQ file; 0xFFFF: the sample has no FRQ file
//   A bytes arguments 3..13 (pitch .. pitch bend), separated by NUL bytes
//   F bytes the FRQ file
//   rest    the WAV file
// Argument 7 (the note length) is held to 1..50 ms so that every run renders
// at most a few hops; a fuzzed length outside that is replaced. The files
// live in a temporary folder of this process, removed at exit.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/args.h"
#include "driver/run.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kArgsTo = 13;   // the block holds arguments 3 up to the pitch bend
constexpr std::size_t kLengthArg = 7;
constexpr double kMaxNoteMs = 50.0;

std::string& work_dir() {
    static std::string dir;
    return dir;
}

void remove_work_dir() {
    std::error_code ec;
    if (!work_dir().empty()) fs::remove_all(work_dir(), ec);
}

void put_file(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!f) std::abort();
}

kelmotra::CmdArg make_arg(const std::string& bytes) {
    return {kelmotra::decode_argument(bytes.c_str()), kelmotra::path_from_utf8(bytes)};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char name[] = "/tmp/kelmotra-fuzz-XXXXXX";
    if (!mkdtemp(name)) std::abort();
    work_dir() = name;
    std::atexit(remove_work_dir);
    // The run's notices go to the standard output stream; nobody reads them.
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    std::size_t args_len = static_cast<std::size_t>(data[0] | (data[1] << 8));
    std::size_t frq_len = static_cast<std::size_t>(data[2] | (data[3] << 8));
    const bool have_frq = frq_len != 0xFFFF;
    if (!have_frq) frq_len = 0;
    std::size_t pos = 4;
    if (args_len > size - pos) args_len = size - pos;
    const std::uint8_t* args_block = data + pos;
    pos += args_len;
    if (frq_len > size - pos) frq_len = size - pos;
    const std::uint8_t* frq = data + pos;
    pos += frq_len;

    const std::string dir = work_dir();
    const std::string wav_path = dir + "/in.wav";
    const std::string frq_path = dir + "/in_wav.frq";
    const std::string out_path = dir + "/out.wav";
    std::error_code ec;
    fs::remove(frq_path, ec);
    fs::remove(out_path, ec);
    put_file(wav_path, data + pos, size - pos);
    if (have_frq) put_file(frq_path, frq, frq_len);

    std::vector<kelmotra::CmdArg> argv;
    argv.push_back(make_arg("kelmotra"));
    argv.push_back(make_arg(wav_path));
    argv.push_back(make_arg(out_path));
    std::string current;
    for (std::size_t i = 0; i <= args_len && argv.size() <= kArgsTo; ++i) {
        if (i == args_len || args_block[i] == 0) {
            argv.push_back(make_arg(current));
            current.clear();
        } else {
            current.push_back(static_cast<char>(args_block[i]));
        }
    }
    while (argv.size() <= kLengthArg) argv.push_back(make_arg(""));
    const double ms = kelmotra::parse_number(argv[kLengthArg].text, 0);
    if (!(ms >= 1.0 && ms <= kMaxNoteMs)) {
        const unsigned pick = args_len > 0 ? args_block[args_len - 1] : 0u;
        argv[kLengthArg] = make_arg(std::to_string(1 + pick % static_cast<unsigned>(kMaxNoteMs)));
    }

    const int status = kelmotra::run_resampler(argv);
    if (status != 0 && status != 1) std::abort();
    if (status == 0) {
        // A successful run leaves a 16-bit mono 44100 Hz WAV file.
        std::ifstream f(out_path, std::ios::binary);
        std::vector<char> head(44);
        if (!f.read(head.data(), 44)) std::abort();
        if (std::string(head.data(), 4) != "RIFF" || std::string(head.data() + 8, 4) != "WAVE") std::abort();
    }
    return 0;
}
