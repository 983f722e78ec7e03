// WAV reader: walks the RIFF chunks of a WAVE file by their sizes and either
// decodes the samples to doubles on the 16-bit scale (wav_read) or hands back
// the data chunk's bytes as stored (wav_read_raw, for the pitch analysis).
//
// Accepted: 8-bit unsigned, 16-, 24- and 32-bit integer, 32- and 64-bit float
// samples, any channel count from 1 to kMaxChannels, plain or
// WAVE_FORMAT_EXTENSIBLE headers. Refused with a one-line message on the error
// stream: files that are not RIFF/WAVE, other bit depths, a data chunk before
// any "fmt " chunk, a "fmt " chunk shorter than 16 bytes, and contradictory
// channel/block-align fields.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "audio/platform.h"

namespace kelmotra {

inline constexpr int kMaxChannels = 1024;
inline constexpr std::uint16_t kFormatPcm = 1;
inline constexpr std::uint16_t kFormatFloat = 3;
inline constexpr std::uint16_t kFormatExtensible = 0xFFFE;

// The fields of a "fmt " chunk, headed by the chunk header, in file order.
struct WaveFormat {
    std::uint32_t chunk_id = 0;     // the four id bytes "fmt " as read (little-endian)
    std::int32_t chunk_size = 0;    // declared chunk size, bytes
    std::uint16_t format_tag = 0;   // effective tag: 1 integer PCM, 3 IEEE float
                                    // (an extensible header's sub-format)
    std::uint16_t channels = 0;     // interleaved channels per frame
    std::uint32_t sample_rate = 0;  // frames per second, Hz
    std::uint32_t byte_rate = 0;    // bytes per second (read, not used)
    std::uint16_t block_align = 0;  // bytes per frame, all channels
    std::uint16_t bits_per_sample = 0;
};

// A decoded sample. samples holds (frames + pad) * channels values, frame after
// frame; channel c of frame n is samples[n * channels + c]. The pad frames
// after the last frame are 0.0. Values are on the 16-bit scale (about +-32768)
// and always finite: NaN and infinite float samples read as 0.0.
struct WaveData {
    WaveFormat format;
    std::int32_t frames = 0;
    std::vector<double> samples;
    bool all_finite = false;  // known to hold no NaN or infinity (integer samples); false: unknown
};

// The data chunk as stored, followed by zero padding.
struct RawWave {
    WaveFormat format;
    std::vector<std::uint8_t> bytes;  // the window asked for (the whole chunk: byte_count
                                      // data bytes), then pad frames of zeros
    std::int32_t byte_count = 0;      // data bytes really in the file: the declared size,
                                      // or fewer when the file ends before the chunk does
                                      // (or the size was left open as 0xFFFFFFFF)
};

// Decodes a WAVE file held in memory (the whole file: bytes[0..size)).
// pad_frames: frames of silence appended (the driver asks for 2048).
// Format errors are reported on err (may be nullptr for silence).
std::optional<WaveData> wav_parse(const std::uint8_t* bytes, std::size_t size, int pad_frames,
                                  std::FILE* err);

// Reads and decodes the WAVE file at path. Nothing when it cannot be opened
// (no message) or is not a supported WAVE file (message on err).
std::optional<WaveData> wav_read(const PathString& path, std::FILE* err = stderr,
                                 int pad_frames = 2048);

// The data chunk of a WAVE file held in memory, undecoded.
// start, length: a window of the chunk in frames (length 0 or less: as many
// bytes as the whole chunk; a negative start puts -start frames of zeros in
// front). pad: zero frames appended. bytes holds exactly length + pad frames;
// the parts of the window outside the chunk are zeros. Nothing when the file is
// refused, has no data chunk, or the zeros asked for exceed 256 MiB.
std::optional<RawWave> wav_parse_raw(const std::uint8_t* bytes, std::size_t size,
                                     std::int32_t start, std::int32_t length, std::int32_t pad,
                                     std::FILE* err);

// The same, reading the file at path.
std::optional<RawWave> wav_read_raw(const PathString& path, std::int32_t start,
                                    std::int32_t length, std::int32_t pad,
                                    std::FILE* err = stderr);

}  // namespace kelmotra
