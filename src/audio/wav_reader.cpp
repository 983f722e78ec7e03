#include "audio/wav_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace kelmotra {

namespace {

std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// A data chunk whose declared size runs past the end of the file reads zeros
// for the missing bytes, as long as no more than this many are missing;
// beyond that the size field is not believed (a writer that left it open, or
// a damaged header) and only the bytes present are used.
constexpr std::uint64_t kMaxMissingBytes = 1u << 20;

// The most zero bytes wav_read_raw adds to what it copies from the file
// (leading zeros of a window, the part of a window past the data, padding).
// The analysis asks for 4096 frames of padding, at most 32 MiB.
constexpr std::int64_t kMaxZeroBytes = std::int64_t{256} << 20;

enum class WalkMode { Decode, Raw };

// What the chunk walk found.
struct Layout {
    WaveFormat format;
    bool have_data = false;
    std::size_t data_offset = 0;    // first byte of the data chunk's body
    std::uint32_t declared = 0;     // declared size of the data chunk
    std::size_t available = 0;      // bytes of the data chunk really in the file
};

void report(std::FILE* err, const char* text) {
    if (err) std::fputs(text, err);
}

bool depth_supported(std::uint16_t bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 64;
}

// Checks the fields of a "fmt " chunk that decoding relies on; prints the
// reason on err and returns false when they cannot describe real samples.
bool format_usable(const WaveFormat& f, std::FILE* err) {
    if (!depth_supported(f.bits_per_sample)) {
        if (err) std::fprintf(err, "file format error(3): %u bits per sample are not supported.\n",
                              static_cast<unsigned>(f.bits_per_sample));
        return false;
    }
    if (f.channels == 0 || f.channels > kMaxChannels) {
        if (err) std::fprintf(err, "file format error(3): %u channels are not supported.\n",
                              static_cast<unsigned>(f.channels));
        return false;
    }
    if (f.block_align == 0 ||
        f.block_align != static_cast<std::uint32_t>(f.channels) * (f.bits_per_sample / 8u)) {
        if (err) std::fprintf(err, "file format error(3): block align %u does not match %u channels of %u bits.\n",
                              static_cast<unsigned>(f.block_align), static_cast<unsigned>(f.channels),
                              static_cast<unsigned>(f.bits_per_sample));
        return false;
    }
    return true;
}

// Walks the RIFF chunks of a file held in memory. Returns false (after a
// message) when the file is refused; a file without a data chunk returns true
// with have_data false.
bool walk_chunks(const std::uint8_t* bytes, std::size_t size, WalkMode mode, std::FILE* err,
                 Layout& out) {
    if (size < 4 || std::memcmp(bytes, "RIFF", 4) != 0) {
        report(err, mode == WalkMode::Raw ? "file format error.\n" : "file format error(2).\n");
        return false;
    }
    if (size < 12 || std::memcmp(bytes + 8, "WAVE", 4) != 0) {
        report(err, "file format error(2).\n");
        return false;
    }
    bool have_fmt = false;
    std::size_t pos = 12;
    while (pos < size) {
        // A chunk header cut short by the end of the file ends the walk.
        if (size - pos < 8) break;
        const std::uint8_t* id = bytes + pos;
        const std::uint32_t chunk = get32(bytes + pos + 4);
        pos += 8;
        const std::size_t left = size - pos;
        if (std::memcmp(id, "data", 4) == 0) {
            if (!have_fmt) {
                report(err, "file format error(3): the data chunk comes before the format chunk.\n");
                return false;
            }
            if (chunk == 0 && mode == WalkMode::Decode) break;  // as if the file ended here
            if (!format_usable(out.format, err)) return false;
            out.have_data = true;
            out.data_offset = pos;
            out.declared = chunk;
            out.available = std::min<std::size_t>(chunk, left);
            return true;
        }
        // An empty chunk of any other kind is legal and simply skipped.
        if (std::memcmp(id, "fmt ", 4) == 0) {
            if (chunk < 16 || left < 16) {
                report(err, "file format error(3): the format chunk is too short.\n");
                return false;
            }
            const std::uint8_t* p = bytes + pos;
            WaveFormat f;
            f.chunk_id = get32(id);
            f.chunk_size = static_cast<std::int32_t>(chunk);
            f.format_tag = get16(p);
            f.channels = get16(p + 2);
            f.sample_rate = get32(p + 4);
            f.byte_rate = get32(p + 8);
            f.block_align = get16(p + 12);
            f.bits_per_sample = get16(p + 14);
            // WAVE_FORMAT_EXTENSIBLE: the real tag opens the sub-format GUID.
            if (f.format_tag == kFormatExtensible && chunk >= 26 && left >= 26) {
                std::size_t guid = 24;
                if (chunk >= guid + 2 && left >= guid + 2) f.format_tag = get16(p + guid);
            }
            out.format = f;
            have_fmt = true;
        }
        if (chunk > left) break;  // the chunk runs past the end of the file
        pos += chunk;
        // Chunks of odd size are followed by a pad byte; writers that leave it
        // out are tolerated by skipping only a zero byte.
        if ((chunk & 1u) && pos < size && bytes[pos] == 0) ++pos;
    }
    return true;
}

// A float sample on the 16-bit scale. NaN and infinities (no sound a
// recording can hold) read as silence; the scaling never makes a finite value
// infinite.
double scale_float(double f) {
    if (!std::isfinite(f)) return 0.0;
    constexpr double kLimit = std::numeric_limits<double>::max() / 32767.5;
    if (f > kLimit) return std::numeric_limits<double>::max();
    if (f < -kLimit) return -std::numeric_limits<double>::max();
    return f * 32767.5;
}

double decode_sample(const std::uint8_t* p, std::uint16_t bits, std::uint16_t tag) {
    switch (bits) {
        case 8:
            return (static_cast<double>(p[0]) - 127.5) * 256.0;
        case 16:
            return static_cast<double>(static_cast<std::int16_t>(get16(p)));
        case 24: {
            std::uint32_t u = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                              (static_cast<std::uint32_t>(p[2]) << 16);
            if (u & 0x800000u) u |= 0xFF000000u;
            return static_cast<double>(static_cast<std::int32_t>(u)) * 0.00390625;
        }
        case 32:
            if (tag == kFormatPcm)
                return static_cast<double>(static_cast<std::int32_t>(get32(p))) / 65536.0;
            else {
                std::uint32_t u = get32(p);
                float f;
                std::memcpy(&f, &u, 4);
                return scale_float(static_cast<double>(f));
            }
        default: {
            std::uint64_t u = static_cast<std::uint64_t>(get32(p)) |
                              (static_cast<std::uint64_t>(get32(p + 4)) << 32);
            double d;
            std::memcpy(&d, &u, 8);
            return scale_float(d);
        }
    }
}

// Bytes of the data chunk to use: the declared size when the file holds it or
// lacks only a little of it; otherwise only what the file holds.
std::uint64_t usable_data_bytes(const Layout& l) {
    if (l.declared == 0xFFFFFFFFu) return l.available;
    if (static_cast<std::uint64_t>(l.declared) - l.available <= kMaxMissingBytes) return l.declared;
    return l.available;
}

}  // namespace

std::optional<WaveData> wav_parse(const std::uint8_t* bytes, std::size_t size, int pad_frames,
                                  std::FILE* err) {
    Layout l;
    if (!walk_chunks(bytes, size, WalkMode::Decode, err, l) || !l.have_data) return std::nullopt;
    if (pad_frames < 0) pad_frames = 0;
    const WaveFormat& f = l.format;
    const std::uint64_t frames64 = usable_data_bytes(l) / f.block_align;
    if (frames64 == 0) return std::nullopt;  // not one whole frame: nothing to render
    if (frames64 > 0x7FFFFFFFull - static_cast<std::uint64_t>(pad_frames)) return std::nullopt;

    WaveData w;
    w.format = f;
    w.frames = static_cast<std::int32_t>(frames64);
    const std::size_t ch = f.channels;
    const std::size_t bps = f.bits_per_sample / 8u;
    const std::size_t total = (static_cast<std::size_t>(w.frames) + static_cast<std::size_t>(pad_frames)) * ch;
    // Whole samples present in the file; the rest are 0.
    const std::size_t present = std::min<std::size_t>(l.available / bps, static_cast<std::size_t>(w.frames) * ch);
    const std::uint8_t* p = bytes + l.data_offset;
    w.samples.reserve(total);
    if (f.bits_per_sample == 16) {
        // The common depth in a loop of its own (the same values as decode_sample).
        for (std::size_t i = 0; i < present; ++i, p += 2)
            w.samples.push_back(static_cast<double>(static_cast<std::int16_t>(get16(p))));
    } else {
        for (std::size_t i = 0; i < present; ++i, p += bps)
            w.samples.push_back(decode_sample(p, f.bits_per_sample, f.format_tag));
    }
    w.samples.resize(total, 0.0);
    // Integer codes (every depth up to 24 bits, 32-bit PCM) are all finite.
    w.all_finite = f.bits_per_sample <= 24 || (f.bits_per_sample == 32 && f.format_tag == kFormatPcm);
    return w;
}

std::optional<WaveData> wav_read(const PathString& path, std::FILE* err, int pad_frames) {
    auto bytes = read_file(path);
    if (!bytes) return std::nullopt;
    return wav_parse(bytes->data(), bytes->size(), pad_frames, err);
}

std::optional<RawWave> wav_parse_raw(const std::uint8_t* bytes, std::size_t size,
                                     std::int32_t start, std::int32_t length, std::int32_t pad,
                                     std::FILE* err) {
    Layout l;
    if (!walk_chunks(bytes, size, WalkMode::Raw, err, l) || !l.have_data) return std::nullopt;
    const std::int64_t align = l.format.block_align;
    // Only the bytes really in the file: a size field left open or larger than
    // the file gives the bytes up to its end, so the analysis never steps
    // through data that is not there.
    const std::int64_t avail = static_cast<std::int64_t>(l.available);
    const std::int64_t chunk = avail;
    const std::int64_t start_bytes = align * start;
    std::int64_t length_bytes = align * length;
    if (length_bytes <= 0) length_bytes = chunk;
    if (pad < 0) pad = 0;
    const std::int64_t pad_bytes = align * pad;

    // The window [start_bytes, start_bytes + length_bytes) of the chunk goes to
    // the front of the buffer; what lies outside the file stays zero.
    const std::int64_t front = start_bytes < 0 ? -start_bytes : 0;  // zeros before the chunk's first byte
    const std::int64_t skip = start_bytes > 0 ? start_bytes : 0;
    std::int64_t copy = std::min(length_bytes - front, avail - skip);
    if (copy < 0) copy = 0;
    const std::int64_t total = length_bytes + pad_bytes;
    // Zeros are cheap to ask for; a window or padding far beyond the file is
    // refused rather than allocated.
    if (total - copy > kMaxZeroBytes) return std::nullopt;

    RawWave r;
    r.format = l.format;
    r.byte_count = static_cast<std::int32_t>(std::min<std::int64_t>(chunk, 0x7FFFFFFF));
    r.bytes.assign(static_cast<std::size_t>(total), 0);
    if (copy > 0)
        std::memcpy(r.bytes.data() + front, bytes + l.data_offset + skip, static_cast<std::size_t>(copy));
    return r;
}

std::optional<RawWave> wav_read_raw(const PathString& path, std::int32_t start, std::int32_t length,
                                    std::int32_t pad, std::FILE* err) {
    auto bytes = read_file(path);
    if (!bytes) return std::nullopt;
    return wav_parse_raw(bytes->data(), bytes->size(), start, length, pad, err);
}

}  // namespace kelmotra
