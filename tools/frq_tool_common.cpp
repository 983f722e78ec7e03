#include "frq_tool_common.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "freqmap/frq_file.h"
#include "freqmap/pitch_analysis.h"

namespace kelmotra {

namespace {

std::string non_finite_text(double v) {
    if (std::isnan(v)) return "nan";
    return v < 0 ? "-inf" : "inf";
}

bool starts_with(const std::vector<std::uint8_t>& bytes, const char* magic) {
    const std::size_t n = std::strlen(magic);
    return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
}

}  // namespace

std::string fmt_fixed(double v, int decimals) {
    if (!std::isfinite(v)) return non_finite_text(v);
    if (v == 0.0) v = 0.0;  // no "-0.000"
    if (decimals < 0) decimals = 0;
    if (decimals > 17) decimals = 17;
    std::array<char, 400> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return fmt_shortest(v);
    return std::string(buf.data(), r.ptr);
}

std::string fmt_shortest(double v) {
    if (!std::isfinite(v)) return non_finite_text(v);
    std::array<char, 64> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return std::string(buf.data(), r.ptr);
}

std::string fmt_clock(double seconds) {
    long long total = (std::isfinite(seconds) && seconds > 0) ? std::llround(seconds) : 0;
    const long long h = total / 3600;
    const long long m = (total / 60) % 60;
    const long long s = total % 60;
    std::string out;
    if (h > 0) {
        out = std::to_string(h) + ":";
        if (m < 10) out += "0";
    }
    out += std::to_string(m) + ":";
    if (s < 10) out += "0";
    return out + std::to_string(s);
}

std::string fmt_duration(double seconds) {
    if (std::isfinite(seconds) && seconds < 59.5) return fmt_fixed(seconds < 0 ? 0.0 : seconds, 2) + " s";
    return fmt_clock(seconds);
}

bool has_wav_suffix(const PathString& path) {
    if (path.size() < 4) return false;
    const char want[] = ".wav";
    for (std::size_t i = 0; i < 4; ++i) {
        auto c = path[path.size() - 4 + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<PathChar>(c - 'A' + 'a');
        if (c != static_cast<PathChar>(want[i])) return false;
    }
    return true;
}

bool stream_is_terminal(std::FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

MessageTrap trap_open() { return MessageTrap{std::tmpfile()}; }

void trap_close(MessageTrap& trap) {
    if (trap.file) std::fclose(trap.file);
    trap.file = nullptr;
}

std::string trap_text(MessageTrap& trap) {
    std::string text;
    if (trap.file) {
        std::fflush(trap.file);
        std::rewind(trap.file);
        std::array<char, 1024> buf{};
        const std::size_t n = std::fread(buf.data(), 1, buf.size(), trap.file);
        text.assign(buf.data(), n);
    }
    trap_close(trap);
    const std::size_t eol = text.find_first_of("\r\n");
    if (eol != std::string::npos) text.resize(eol);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    return text;
}

bool entry_voiced(double freq_hz) { return freq_hz > 16.0 && freq_hz != 55.0; }

std::optional<FreqList> analyse_wav_bytes(const std::vector<std::uint8_t>& bytes, const AnalysisOptions& analysis,
                                          std::string& error) {
    if (!starts_with(bytes, "RIFF")) {
        error = "not a WAV file";
        return std::nullopt;
    }
    MessageTrap trap = trap_open();
    // The same reading as kelmotra's own analysis: the whole data chunk,
    // 4096 frames of silence after it.
    std::optional<RawWave> raw = wav_parse_raw(bytes.data(), bytes.size(), 0, 0, 4096, trap.file);
    std::string said = trap_text(trap);
    if (!raw) {
        error = said.empty() ? "not a usable WAV file (no data chunk)" : said;
        return std::nullopt;
    }
    std::optional<FreqList> list = analyse_raw(*raw, nullptr, analysis);
    if (!list) {
        const AnalysisWindow win = analysis_window(raw->format.sample_rate);
        if (raw->byte_count <= win.N)
            error = "too short to analyse (" + std::to_string(raw->byte_count) + " data bytes)";
        else
            error = "cannot be analysed (" + std::to_string(raw->format.bits_per_sample) +
                    "-bit samples at " + std::to_string(raw->format.sample_rate) + " Hz)";
        return std::nullopt;
    }
    return list;
}

std::optional<SampleMap> read_sample_map(const PathString& path, bool want_wave, const AnalysisOptions& analysis,
                                         std::string& error) {
    const std::optional<FileStatus> status = file_status(path);
    if (!status) {
        error = "no such file";
        return std::nullopt;
    }
    if (status->is_directory) {
        error = "is a folder";
        return std::nullopt;
    }
    std::optional<std::vector<std::uint8_t>> bytes = read_file(path);
    if (!bytes) {
        error = "cannot read the file";
        return std::nullopt;
    }

    SampleMap map;
    map.given = path;
    if (starts_with(*bytes, "FREQ000")) {
        std::optional<FreqList> list = frq_parse(bytes->data(), bytes->size());
        if (!list) {
            error = "damaged FRQ file";
            return std::nullopt;
        }
        map.list = std::move(*list);
        map.origin = MapOrigin::FrqGiven;
        map.frq = path;
        return map;
    }
    if (!starts_with(*bytes, "RIFF")) {
        error = "neither a WAV nor an FRQ file";
        return std::nullopt;
    }
    if (want_wave) {
        MessageTrap trap = trap_open();
        map.wave = wav_parse(bytes->data(), bytes->size(), 0, trap.file);
        std::string said = trap_text(trap);
        if (!map.wave) {
            error = said.empty() ? "not a usable WAV file" : said;
            return std::nullopt;
        }
    }

    // Use the FRQ file exactly when kelmotra would load it.
    const FrqName name = frq_path(path);
    map.frq = name.path;
    if (name.is_input_itself) {
        map.note = "analysed in memory, nothing written";
    } else if (const auto frq_status = file_status(name.path)) {
        const bool stale = status->mtime_ns > frq_status->mtime_ns;
        if (stale && frq_status->read_only) {
            map.note = "the FRQ file is read-only and older than the sample, so kelmotra ignores it; "
                       "analysed in memory, nothing written";
        } else {
            std::optional<std::vector<std::uint8_t>> frq_bytes = read_file(name.path);
            std::optional<FreqList> list =
                frq_bytes ? frq_parse(frq_bytes->data(), frq_bytes->size()) : std::nullopt;
            if (list) {
                map.list = std::move(*list);
                map.origin = MapOrigin::FrqOfSample;
                if (stale) map.note = "the FRQ file is older than the sample";
                return map;
            }
            map.note = "the FRQ file is damaged; analysed in memory, nothing written";
        }
    } else {
        map.note = "no FRQ file; analysed in memory, nothing written";
    }

    std::optional<FreqList> list = analyse_wav_bytes(*bytes, analysis, error);
    if (!list) return std::nullopt;
    map.list = std::move(*list);
    map.origin = MapOrigin::InMemory;
    return map;
}

}  // namespace kelmotra
