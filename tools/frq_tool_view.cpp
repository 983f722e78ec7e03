#include "frq_tool_view.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <vector>

namespace kelmotra {

namespace {

// ---------------------------------------------------------------------------
// Table.

std::string pad_left(const std::string& s, std::size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

std::string header_line(const char* label, const std::string& value) {
    std::string line = label;
    line.resize(std::max<std::size_t>(line.size() + 1, 14), ' ');
    return line + value + "\n";
}

std::int32_t voiced_count(const FreqList& list) {
    std::int32_t n = 0;
    for (std::int32_t i = 0; i < list.count; ++i) n += entry_voiced(list.freqs[static_cast<std::size_t>(i)]) ? 1 : 0;
    return n;
}

// ---------------------------------------------------------------------------
// SVG.

// Text as XML character data: markup characters escaped, and anything that
// is not valid UTF-8 or not allowed in XML replaced by '?'.
std::string xml_text(const std::string& s) {
    std::string out;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            switch (c) {
                case '&': out += "&amp;"; break;
                case '<': out += "&lt;"; break;
                case '>': out += "&gt;"; break;
                case '"': out += "&quot;"; break;
                case '\'': out += "&apos;"; break;
                default: out += (c < 0x20 && c != '\t') ? '?' : static_cast<char>(c);
            }
            ++i;
            continue;
        }
        std::size_t len = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        if (c >= 0xF5) len = 0;
        bool ok = len > 0 && i + len <= s.size();
        for (std::size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
        if (ok) {
            out.append(s, i, len);
            i += len;
        } else {
            out += '?';
            ++i;
        }
    }
    return out;
}

std::string num(double v) { return fmt_fixed(v, 1); }

// A tick spacing of 1, 2 or 5 times a power of ten giving about `target` ticks.
double nice_step(double span, int target) {
    if (!(span > 0) || !std::isfinite(span)) return 1.0;
    const double raw = span / target;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double r = raw / mag;
    const double unit = r < 1.5 ? 1.0 : r < 3.0 ? 2.0 : r < 7.0 ? 5.0 : 10.0;
    return unit * mag;
}

int tick_decimals(double step) {
    const int d = -static_cast<int>(std::floor(std::log10(step) + 1e-9));
    return std::clamp(d, 0, 6);
}

struct Frame {
    double width = 960, height = 480;
    double x0 = 76, x1 = 936;  // plot area, left and right
    double y0 = 60, y1 = 420;  // plot area, top and bottom
};

struct Axis {
    double lo = 0, hi = 1;  // values at the two ends
    double step = 1;        // tick spacing
};

double map_x(const Frame& f, const Axis& a, double v) { return f.x0 + (v - a.lo) / (a.hi - a.lo) * (f.x1 - f.x0); }
double map_y(const Frame& f, const Axis& a, double v) { return f.y1 - (v - a.lo) / (a.hi - a.lo) * (f.y1 - f.y0); }

// The frequency range shown: every voiced entry and the average, with some
// air around them, widened for a nearly flat curve, rounded out to ticks.
Axis frequency_axis(const FreqList& list) {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    auto take = [&](double f) {
        if (!std::isfinite(f)) return;
        lo = std::min(lo, f);
        hi = std::max(hi, f);
    };
    for (std::int32_t i = 0; i < list.count; ++i) {
        const double f = list.freqs[static_cast<std::size_t>(i)];
        if (entry_voiced(f)) take(f);
    }
    if (list.freq_avg > 0) take(list.freq_avg);
    Axis a;
    if (!(lo <= hi)) {
        a.lo = 0, a.hi = 1000, a.step = 200;
        return a;
    }
    const double min_span = std::max(20.0, 0.15 * hi);
    if (hi - lo < min_span) {
        const double mid = (lo + hi) / 2;
        lo = mid - min_span / 2;
        hi = mid + min_span / 2;
    }
    const double air = 0.06 * (hi - lo);
    lo = std::max(0.0, lo - air);
    hi += air;
    a.step = nice_step(hi - lo, 6);
    a.lo = std::floor(lo / a.step) * a.step;
    a.hi = std::ceil(hi / a.step) * a.step;
    if (a.hi <= a.lo) a.hi = a.lo + a.step;
    return a;
}

void svg_text(std::string& svg, double x, double y, const char* anchor, const std::string& text,
              const char* extra = "") {
    svg += "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" text-anchor=\"" + anchor + "\"" + extra +
           ">" + xml_text(text) + "</text>\n";
}

// Per-pixel-column minimum and maximum of channel 0, as one closed shape.
void waveform_envelope(std::string& svg, const Frame& f, const WaveData& wave, double frames_on_axis) {
    const std::size_t ch = wave.format.channels ? wave.format.channels : 1;
    const auto frames = static_cast<std::size_t>(std::max(0, wave.frames));
    if (frames == 0) return;
    double peak = 0;
    for (std::size_t n = 0; n < frames; ++n) peak = std::max(peak, std::fabs(wave.samples[n * ch]));
    const double mid = (f.y0 + f.y1) / 2;
    const double half = (f.y1 - f.y0) / 2 * 0.92;
    const double scale = peak > 0 ? half / peak : 0.0;
    const int cols = static_cast<int>(f.x1 - f.x0);
    std::vector<double> top, bottom, xs;
    for (int c = 0; c < cols; ++c) {
        auto n0 = static_cast<std::size_t>(std::floor(c * frames_on_axis / cols));
        auto n1 = static_cast<std::size_t>(std::floor((c + 1) * frames_on_axis / cols));
        if (n0 >= frames) break;
        n1 = std::clamp(n1, n0 + 1, frames);
        double lo = wave.samples[n0 * ch], hi = lo;
        for (std::size_t n = n0 + 1; n < n1; ++n) {
            lo = std::min(lo, wave.samples[n * ch]);
            hi = std::max(hi, wave.samples[n * ch]);
        }
        xs.push_back(f.x0 + c + 0.5);
        top.push_back(mid - hi * scale - 0.5);
        bottom.push_back(mid - lo * scale + 0.5);
    }
    svg += "<polygon class=\"env\" points=\"";
    for (std::size_t k = 0; k < xs.size(); ++k) svg += num(xs[k]) + "," + num(top[k]) + " ";
    for (std::size_t k = xs.size(); k-- > 0;) svg += num(xs[k]) + "," + num(bottom[k]) + " ";
    svg += "\"/>\n";
}

// The level of each entry mirrored around the middle, for a map without its sample.
void level_envelope(std::string& svg, const Frame& f, const Axis& time, const FreqList& list) {
    double peak = 0;
    for (std::int32_t i = 0; i < list.count; ++i) {
        const double a = list.amps[static_cast<std::size_t>(i)];
        if (std::isfinite(a)) peak = std::max(peak, std::fabs(a));
    }
    const double mid = (f.y0 + f.y1) / 2;
    const double scale = peak > 0 ? (f.y1 - f.y0) / 2 * 0.92 / peak : 0.0;
    std::vector<double> xs, ds;
    for (std::int32_t i = 0; i < list.count; ++i) {
        const double a = list.amps[static_cast<std::size_t>(i)];
        xs.push_back(map_x(f, time, entry_time_ms(list, i)));
        ds.push_back((std::isfinite(a) ? std::fabs(a) : 0.0) * scale + 0.5);
    }
    svg += "<polygon class=\"env\" points=\"";
    for (std::size_t k = 0; k < xs.size(); ++k) svg += num(xs[k]) + "," + num(mid - ds[k]) + " ";
    for (std::size_t k = xs.size(); k-- > 0;) svg += num(xs[k]) + "," + num(mid + ds[k]) + " ";
    svg += "\"/>\n";
}

// The frequency curve, one polyline per voiced stretch (a lone voiced entry
// is a dot), so unvoiced stretches show as gaps.
void frequency_curve(std::string& svg, const Frame& f, const Axis& time, const Axis& freq,
                     const FreqList& list) {
    std::vector<std::pair<double, double>> run;
    auto flush = [&]() {
        if (run.size() == 1) {
            svg += "<circle class=\"f0dot\" cx=\"" + num(run[0].first) + "\" cy=\"" + num(run[0].second) +
                   "\" r=\"2.5\"/>\n";
        } else if (run.size() > 1) {
            svg += "<polyline class=\"f0\" points=\"";
            for (const auto& [x, y] : run) svg += num(x) + "," + num(y) + " ";
            svg += "\"/>\n";
        }
        run.clear();
    };
    for (std::int32_t i = 0; i < list.count; ++i) {
        const double v = list.freqs[static_cast<std::size_t>(i)];
        if (entry_voiced(v) && std::isfinite(v))
            run.emplace_back(map_x(f, time, entry_time_ms(list, i)), map_y(f, freq, v));
        else
            flush();
    }
    flush();
}

std::string file_name_of(const PathString& path) {
    return path_to_utf8(std::filesystem::path(path).filename().native());
}

}  // namespace

double entry_time_ms(const FreqList& list, std::int32_t i) {
    if (list.sample_rate <= 0) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(i) * list.step / list.sample_rate * 1000.0;
}

std::string show_table(const SampleMap& map) {
    const FreqList& list = map.list;
    std::string out;
    if (map.origin != MapOrigin::FrqGiven) out += header_line("sample:", path_to_utf8(map.given));
    if (map.origin == MapOrigin::InMemory)
        out += header_line("FRQ file:", "none used (" + map.note + ")");
    else
        out += header_line("FRQ file:", path_to_utf8(map.frq));
    if (map.origin != MapOrigin::InMemory && !map.note.empty()) out += header_line("note:", map.note);
    std::string step = std::to_string(list.step) + " samples";
    if (list.sample_rate > 0) step += " (" + fmt_fixed(entry_time_ms(list, 1), 3) + " ms)";
    out += header_line("step:", step);
    out += header_line("sample rate:", std::to_string(list.sample_rate) + " Hz" +
                                           (list.sample_rate > 0 ? "" : " (not usable: no times)"));
    out += header_line("count:", std::to_string(list.count) + " entries, " +
                                     std::to_string(voiced_count(list)) + " voiced");
    out += header_line("average:", fmt_fixed(list.freq_avg, 3) + " Hz");
    out += "\n";

    const char* titles[5] = {"index", "time_ms", "frequency_hz", "amplitude", "voiced"};
    std::vector<std::array<std::string, 5>> rows;
    rows.reserve(static_cast<std::size_t>(list.count));
    std::array<std::size_t, 5> width{};
    for (int c = 0; c < 5; ++c) width[static_cast<std::size_t>(c)] = std::string(titles[c]).size();
    for (std::int32_t i = 0; i < list.count; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const double t = entry_time_ms(list, i);
        std::array<std::string, 5> row = {std::to_string(i), std::isnan(t) ? "-" : fmt_fixed(t, 3),
                                          fmt_fixed(list.freqs[k], 3), fmt_fixed(list.amps[k], 3),
                                          entry_voiced(list.freqs[k]) ? "yes" : "no"};
        for (std::size_t c = 0; c < 5; ++c) width[c] = std::max(width[c], row[c].size());
        rows.push_back(std::move(row));
    }
    auto line = [&](const std::array<std::string, 5>& cells) {
        std::string s;
        for (std::size_t c = 0; c < 4; ++c) s += pad_left(cells[c], width[c]) + "  ";
        return s + cells[4] + "\n";
    };
    out += line({titles[0], titles[1], titles[2], titles[3], titles[4]});
    for (const auto& row : rows) out += line(row);
    return out;
}

std::string show_csv(const FreqList& list) {
    std::string out = "index,time_ms,frequency_hz,amplitude,voiced\n";
    for (std::int32_t i = 0; i < list.count; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const double t = entry_time_ms(list, i);
        out += std::to_string(i) + "," + (std::isnan(t) ? std::string() : fmt_shortest(t)) + "," +
               fmt_shortest(list.freqs[k]) + "," + fmt_shortest(list.amps[k]) + "," +
               (entry_voiced(list.freqs[k]) ? "1" : "0") + "\n";
    }
    return out;
}

std::string plot_svg(const SampleMap& map) {
    const FreqList& list = map.list;
    const Frame f;
    const bool have_wave = map.wave && map.wave->frames > 0;

    // Time axis: the whole sample, or as far as the map reaches.
    const double frames_on_axis = std::max<double>(have_wave ? map.wave->frames : 0,
                                                   static_cast<double>(list.count) * list.step);
    Axis time;
    time.hi = frames_on_axis / list.sample_rate * 1000.0;
    if (!(time.hi > 0)) time.hi = 1;
    time.step = nice_step(time.hi, 10);
    const Axis freq = frequency_axis(list);

    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(f.width) + "\" height=\"" +
           num(f.height) + "\" viewBox=\"0 0 " + num(f.width) + " " + num(f.height) +
           "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\" font-size=\"12\">\n";
    svg += "<style>\n"
           ".grid{stroke:#e3e6ea;stroke-width:1}\n"
           ".env{fill:#b9c8da;stroke:none}\n"
           ".f0{fill:none;stroke:#d1402b;stroke-width:2.2;stroke-linejoin:round;stroke-linecap:round}\n"
           ".f0dot{fill:#d1402b}\n"
           ".avg{stroke:#1f5fa8;stroke-width:1.5;stroke-dasharray:7 5}\n"
           ".tick{fill:#444}\n"
           "</style>\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    svg += "<clipPath id=\"area\"><rect x=\"" + num(f.x0) + "\" y=\"" + num(f.y0) + "\" width=\"" +
           num(f.x1 - f.x0) + "\" height=\"" + num(f.y1 - f.y0) + "\"/></clipPath>\n";

    // Title, the map's provenance, legend.
    std::string title = file_name_of(map.given) + "  -  step " + std::to_string(list.step) + " at " +
                        std::to_string(list.sample_rate) + " Hz, " + std::to_string(list.count) + " entries";
    svg_text(svg, f.x0, 24, "start", title, " font-size=\"15\" font-weight=\"bold\"");
    std::string source = map.origin == MapOrigin::InMemory ? "map analysed in memory, not saved"
                                                           : "map from " + file_name_of(map.frq);
    svg_text(svg, f.x1, 24, "end", source, " fill=\"#666\"");
    const double ly = 44;
    double lx = f.x0;
    svg += "<rect class=\"env\" x=\"" + num(lx) + "\" y=\"" + num(ly - 9) + "\" width=\"18\" height=\"10\"/>\n";
    const std::string env_label = have_wave ? "waveform, channel 0 (min/max per pixel)" : "level (RMS per entry)";
    svg_text(svg, lx + 24, ly, "start", env_label);
    lx += 24 + 7.0 * static_cast<double>(env_label.size()) + 18;
    svg += "<line class=\"f0\" x1=\"" + num(lx) + "\" y1=\"" + num(ly - 4) + "\" x2=\"" + num(lx + 18) +
           "\" y2=\"" + num(ly - 4) + "\"/>\n";
    svg_text(svg, lx + 24, ly, "start", "frequency (voiced entries)");
    lx += 24 + 7.0 * 26 + 18;
    svg += "<line class=\"avg\" x1=\"" + num(lx) + "\" y1=\"" + num(ly - 4) + "\" x2=\"" + num(lx + 22) +
           "\" y2=\"" + num(ly - 4) + "\"/>\n";
    svg_text(svg, lx + 28, ly, "start", "average frequency");

    // Grid and tick labels.
    const int tdec = tick_decimals(time.step);
    for (int k = 0;; ++k) {
        const double v = k * time.step;
        if (v > time.hi + time.step * 1e-9) break;
        const double x = map_x(f, time, v);
        svg += "<line class=\"grid\" x1=\"" + num(x) + "\" y1=\"" + num(f.y0) + "\" x2=\"" + num(x) +
               "\" y2=\"" + num(f.y1) + "\"/>\n";
        svg_text(svg, x, f.y1 + 17, "middle", fmt_fixed(v, tdec), " class=\"tick\"");
    }
    const int fdec = tick_decimals(freq.step);
    for (int k = 0;; ++k) {
        const double v = freq.lo + k * freq.step;
        if (v > freq.hi + freq.step * 1e-9) break;
        const double y = map_y(f, freq, v);
        svg += "<line class=\"grid\" x1=\"" + num(f.x0) + "\" y1=\"" + num(y) + "\" x2=\"" + num(f.x1) +
               "\" y2=\"" + num(y) + "\"/>\n";
        svg_text(svg, f.x0 - 7, y + 4, "end", fmt_fixed(v, fdec), " class=\"tick\"");
    }
    svg_text(svg, (f.x0 + f.x1) / 2, f.y1 + 42, "middle", "time (ms)");
    const double ymid = (f.y0 + f.y1) / 2;
    svg_text(svg, 18, ymid, "middle", "frequency (Hz)",
             (" transform=\"rotate(-90 18 " + num(ymid) + ")\"").c_str());

    // The data, clipped to the plot area.
    svg += "<g clip-path=\"url(#area)\">\n";
    if (have_wave)
        waveform_envelope(svg, f, *map.wave, frames_on_axis);
    else
        level_envelope(svg, f, time, list);
    frequency_curve(svg, f, time, freq, list);
    if (std::isfinite(list.freq_avg) && list.freq_avg > 0) {
        const double y = map_y(f, freq, list.freq_avg);
        svg += "<line class=\"avg\" x1=\"" + num(f.x0) + "\" y1=\"" + num(y) + "\" x2=\"" + num(f.x1) +
               "\" y2=\"" + num(y) + "\"/>\n";
        svg_text(svg, f.x1 - 6, y - 6, "end", "average " + fmt_fixed(list.freq_avg, 1) + " Hz",
                 " fill=\"#1f5fa8\" font-weight=\"bold\" stroke=\"#ffffff\" stroke-width=\"4\" paint-order=\"stroke\"");
    }
    svg += "</g>\n";
    svg += "<rect x=\"" + num(f.x0) + "\" y=\"" + num(f.y0) + "\" width=\"" + num(f.x1 - f.x0) +
           "\" height=\"" + num(f.y1 - f.y0) + "\" fill=\"none\" stroke=\"#555\"/>\n";
    svg += "</svg>\n";
    return svg;
}

int run_show(const PathString& file, bool csv, const AnalysisOptions& analysis) {
    std::string error;
    const std::optional<SampleMap> map = read_sample_map(file, false, analysis, error);
    if (!map) {
        std::fprintf(stderr, "kelmotra-frq: %s: %s\n", path_to_utf8(file).c_str(), error.c_str());
        return 1;
    }
    if (csv) {
        // The rows alone on stdout, so that they can go straight into a file.
        if (!map->note.empty()) std::fprintf(stderr, "kelmotra-frq: %s\n", map->note.c_str());
        std::fputs(show_csv(map->list).c_str(), stdout);
    } else {
        std::fputs(show_table(*map).c_str(), stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

int run_plot(const PathString& file, const PathString& out, const AnalysisOptions& analysis) {
    std::string error;
    const std::optional<SampleMap> map = read_sample_map(file, true, analysis, error);
    if (!map) {
        std::fprintf(stderr, "kelmotra-frq: %s: %s\n", path_to_utf8(file).c_str(), error.c_str());
        return 1;
    }
    if (map->list.sample_rate <= 0) {
        std::fprintf(stderr, "kelmotra-frq: %s: damaged FRQ file (sample rate %d)\n",
                     path_to_utf8(file).c_str(), map->list.sample_rate);
        return 1;
    }
    std::error_code ec;
    if (file_status(out) && std::filesystem::equivalent(std::filesystem::path(file), std::filesystem::path(out), ec)) {
        std::fprintf(stderr, "kelmotra-frq: %s: the picture would replace its own input\n",
                     path_to_utf8(out).c_str());
        return 1;
    }
    const std::string svg = plot_svg(*map);
    if (!write_file_atomic(out, reinterpret_cast<const std::uint8_t*>(svg.data()), svg.size())) {
        std::fprintf(stderr, "kelmotra-frq: cannot write %s\n", path_to_utf8(out).c_str());
        return 1;
    }
    if (!map->note.empty()) std::fprintf(stderr, "kelmotra-frq: %s\n", map->note.c_str());
    std::printf("wrote %s\n", path_to_utf8(out).c_str());
    return 0;
}

}  // namespace kelmotra
