#include "freqmap/frq_file.h"

#include <cmath>
#include <cstring>

namespace kelmotra {

namespace {

bool is_separator(PathChar c) {
#ifdef _WIN32
    return c == L'/' || c == L'\\' || c == L':';
#else
    return c == '/';
#endif
}

bool ends_with(const PathString& s, const PathString& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::int32_t get_i32(const std::uint8_t* p) {
    std::uint32_t u = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                      (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    return static_cast<std::int32_t>(u);
}

double get_f64(const std::uint8_t* p) {
    std::uint64_t u = 0;
    for (int i = 7; i >= 0; --i) u = (u << 8) | p[i];
    double d;
    std::memcpy(&d, &u, 8);
    return d;
}

void put_i32(std::vector<std::uint8_t>& b, std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
}

void put_f64(std::vector<std::uint8_t>& b, double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, 8);
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
}

void say(std::FILE* stream, const char* text) {
    if (stream) std::fputs(text, stream);
}

}  // namespace

FrqName frq_path(const PathString& wav_path) {
    FrqName out;
    // A path that already names an FRQ file is its own FRQ file.
    if (ends_with(wav_path, path_from_ascii(".frq"))) {
        out.path = wav_path;
        out.is_input_itself = true;
        return out;
    }
    out.path = wav_path + path_from_ascii(".frq");
    // voice.wav -> voice_wav.frq: the first ".wav.frq" in the file's own name
    // (never in a folder name, which would point somewhere else).
    std::size_t name_start = 0;
    for (std::size_t i = out.path.size(); i-- > 0;) {
        if (is_separator(out.path[i])) {
            name_start = i + 1;
            break;
        }
    }
    const std::size_t at = out.path.find(path_from_ascii(".wav.frq"), name_start);
    if (at != PathString::npos) out.path[at] = static_cast<PathChar>('_');
    return out;
}

std::optional<FreqList> frq_parse(const std::uint8_t* bytes, std::size_t size) {
    if (size < kFrqHeaderBytes || std::memcmp(bytes, "FREQ000", 7) != 0) return std::nullopt;
    FreqList list;
    list.step = get_i32(bytes + 8);
    list.freq_avg = get_f64(bytes + 12);
    list.sample_rate = get_i32(bytes + 20);
    list.count = get_i32(bytes + 36);
    // A damaged file is refused, so that the sample is analysed anew.
    if (list.step < 1 || list.count < 1 || !std::isfinite(list.freq_avg)) return std::nullopt;
    if (static_cast<std::size_t>(list.count) > (size - kFrqHeaderBytes) / kFrqEntryBytes) return std::nullopt;
    const std::size_t n = static_cast<std::size_t>(list.count);
    list.freqs.resize(n + 1);
    list.amps.resize(n + 1);
    const std::uint8_t* p = bytes + kFrqHeaderBytes;
    for (std::size_t i = 0; i < n; ++i, p += kFrqEntryBytes) {
        list.freqs[i] = get_f64(p);
        list.amps[i] = get_f64(p + 8);
    }
    list.freqs[n] = list.freqs[n - 1];
    list.amps[n] = list.amps[n - 1];
    return list;
}

std::vector<std::uint8_t> frq_serialize(const FreqList& list) {
    std::vector<std::uint8_t> b;
    const std::size_t n = list.count > 0 ? static_cast<std::size_t>(list.count) : 0;
    b.reserve(kFrqHeaderBytes + kFrqEntryBytes * n);
    b.insert(b.end(), {'F', 'R', 'E', 'Q', '0', '0', '0', '3'});
    put_i32(b, list.step);
    put_f64(b, list.freq_avg);
    put_i32(b, list.sample_rate);
    b.insert(b.end(), 12, 0);  // reserved: 4 and 8 zero bytes
    put_i32(b, list.count);
    for (std::size_t i = 0; i < n; ++i) {
        put_f64(b, i < list.freqs.size() ? list.freqs[i] : 0.0);
        put_f64(b, i < list.amps.size() ? list.amps[i] : 0.0);
    }
    return b;
}

std::optional<FreqList> frq_load(const PathString& wav_path, std::FILE* notice) {
    const FrqName name = frq_path(wav_path);
    if (!name.is_input_itself) {
        const auto frq = file_status(name.path);
        if (!frq) {
            say(notice, "FRQ-Datei hat nicht gefunden.\n");
            return std::nullopt;
        }
        // A read-only map older than its sample is stale and cannot be renewed
        // in place; a writable one is used all the same.
        const auto wav = file_status(wav_path);
        if (wav && wav->mtime_ns > frq->mtime_ns && frq->read_only) return std::nullopt;
    }
    const auto bytes = read_file(name.path);
    if (!bytes) return std::nullopt;
    return frq_parse(bytes->data(), bytes->size());
}

int frq_save(const PathString& wav_path, const FreqList* list, std::FILE* notice) {
    if (!list) {
        say(notice, "FreqList ist Null.\n");
        return 0;
    }
    if (!freqlist_valid(*list)) return 0;
    const FrqName name = frq_path(wav_path);
    // Never write over the sample itself, nor over a map protected on purpose.
    if (name.is_input_itself || name.path == wav_path) return 0;
    const auto existing = file_status(name.path);
    if (existing && (existing->read_only || existing->is_directory)) return 0;
    const std::vector<std::uint8_t> bytes = frq_serialize(*list);
    return write_file_atomic(name.path, bytes.data(), bytes.size()) ? 1 : 0;
}

}  // namespace kelmotra
