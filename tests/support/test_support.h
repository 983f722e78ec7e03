// Helpers shared by the test suites: scratch folders, files, WAV files built
// from scratch, and running the kelmotra executable.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

// A fresh empty folder for one test (removed and recreated each time).
std::string scratch_dir(const std::string& name);

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> read_bytes(const std::string& path);
bool file_exists(const std::string& path);

// Little-endian writers for building binary files by hand.
void put_u16(std::vector<std::uint8_t>& b, std::uint32_t v);
void put_u32(std::vector<std::uint8_t>& b, std::uint32_t v);
void put_tag(std::vector<std::uint8_t>& b, const char* four);
void put_f32(std::vector<std::uint8_t>& b, float v);
void put_f64(std::vector<std::uint8_t>& b, double v);

// A "fmt " chunk (16-byte body) for the given fields.
std::vector<std::uint8_t> fmt_chunk(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                                    std::uint16_t bits);

// A complete RIFF/WAVE file: a plain 16-byte "fmt " chunk and a data chunk
// holding data (raw bytes as stored).
std::vector<std::uint8_t> wav_file(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                                   std::uint16_t bits, const std::vector<std::uint8_t>& data);

// A 16-bit mono PCM file of the given samples (clamped and rounded).
std::vector<std::uint8_t> wav16_mono(std::uint32_t rate, const std::vector<double>& samples);

// Result of running a program.
struct RunResult {
    int status = -1;    // exit status; -1 when the program ended by a signal
    int signal = 0;     // the signal that ended it, or 0
    std::string out;    // standard output
    std::string err;    // standard error
};

// Runs a program with arguments (no shell), optionally with env assignments
// ("NAME=value") added, and captures its output.
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {});

// The command that starts a program: the program itself, or, for a program
// of this build in a cross build with an emulator (qemu-user), the emulator
// followed by the program.
std::vector<std::string> program_command(const std::string& program);

// Path of the kelmotra executable and of the built tools.
std::string kelmotra_exe();
std::string tool_exe(const std::string& name);

// The bundled voice sample (data/voice.wav in the source tree).
std::string voice_sample();

// Pitch in Hz of x[from, from + len) by normalised autocorrelation with
// parabolic interpolation, searching lags for min_hz..max_hz at rate Hz.
double estimate_pitch(const std::vector<double>& x, std::size_t from, std::size_t len,
                      double rate, double min_hz, double max_hz);

// A scratch stream for reading and writing, removed when closed: tmpfile()
// on POSIX. On Windows tmpfile() creates its file in the root of the drive,
// which users may not write and whose names collide between test processes
// running at once; there the file is created exclusively under a unique name
// in the temporary folder. Never null: the test program stops with a
// message when no stream can be had. The caller closes it.
std::FILE* temp_stream();

// Everything written so far to a stream opened with temp_stream() (rewinds it).
std::string stream_text(std::FILE* f);

// Samples of a 16-bit mono WAV file's data chunk (after the 44-byte header).
std::vector<double> wav16_samples(const std::vector<std::uint8_t>& file);

}  // namespace testsupport
