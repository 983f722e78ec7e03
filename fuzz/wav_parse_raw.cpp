// Fuzz target: the WAV reader's raw form (the data chunk as stored, in a
// window of frames) on arbitrary file bytes and windows.
//
// The first 12 bytes of the input are the window (start, length, pad as
// little-endian 32-bit integers, each reduced so that a run stays small); the
// rest is the file. The buffer holds bytes as stored (a partial last frame
// included), so beyond the sanitizers only the reported sizes are checked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "audio/wav_reader.h"

namespace {

std::int32_t get32(const std::uint8_t* p) {
    std::uint32_t u = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                      (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    std::int32_t v;
    std::memcpy(&v, &u, 4);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 12) return 0;
    std::int32_t start = get32(data);
    std::int32_t length = get32(data + 4);
    std::int32_t pad = get32(data + 8);
    // Keep the window within what a real caller asks (a few seconds around
    // the data), or a single input could ask for gigabytes of zeros.
    start %= 1 << 12;
    length %= 1 << 12;
    pad %= 1 << 12;
    const auto raw = kelmotra::wav_parse_raw(data + 12, size - 12, start, length, pad, nullptr);
    if (!raw) return 0;

    if (raw->format.block_align < 1) std::abort();
    // The chunk's size as used: what the file holds, or a little more when
    // its end is missing (read as zeros).
    if (raw->byte_count < 0 || static_cast<std::size_t>(raw->byte_count) > size - 12 + (1u << 20)) std::abort();
    return 0;
}
