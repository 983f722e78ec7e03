#include "frq_tool_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>

#include "freqmap/analysis.h"
#include "freqmap/frq_file.h"
#include "freqmap/pitch_path.h"
#include "frq_tool_analyse.h"
#include "frq_tool_common.h"
#include "frq_tool_jobs.h"

namespace kelmotra {

namespace {

constexpr double kGrossCents = 300.0;
constexpr double kGrossShare = 0.2;
constexpr double kFarCents = 1e9;  // stands for a difference that cannot be measured

double cents_between(double hz, double reference_hz) {
    const double ratio = hz / reference_hz;
    if (!(ratio > 0.0) || !std::isfinite(ratio)) return kFarCents;
    return 1200.0 * path_log2(ratio);
}

double median_of(std::vector<double>& v) {
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

enum class Verdict { NoMap, Good, Bad, Failed };

struct SampleCheck {
    Verdict verdict = Verdict::Failed;
    PathString frq;        // the map's path
    std::string what;      // why bad, or why failed
    bool fixed = false;
    std::string not_fixed; // why a bad map was left alone (with --fix)
};

SampleCheck check_unguarded(const PathString& sample, bool fix) {
    SampleCheck c;
    const FrqName name = frq_path(sample);
    c.frq = name.path;
    const std::optional<FileStatus> frq_status = file_status(name.path);
    if (!frq_status) {
        c.verdict = Verdict::NoMap;
        return c;
    }
    if (frq_status->is_directory) {
        c.what = "its FRQ name is a folder";
        return c;
    }
    const std::optional<std::vector<std::uint8_t>> frq_bytes = read_file(name.path);
    if (!frq_bytes) {
        c.what = "cannot read its map";
        return c;
    }
    const std::optional<std::vector<std::uint8_t>> wav = read_file(sample);
    if (!wav) {
        c.what = "cannot read the file";
        return c;
    }
    std::string why;
    const std::optional<FreqList> fresh = analyse_wav_bytes(*wav, AnalysisOptions{}, why);
    if (!fresh) {
        c.what = why;
        return c;
    }
    const std::optional<FreqList> map = frq_parse(frq_bytes->data(), frq_bytes->size());
    if (map) {
        const MapComparison m = compare_maps(*map, *fresh);
        if (!m.bad) {
            c.verdict = Verdict::Good;
            return c;
        }
        c.what = interval_words(m.median_cents);
        if (m.by_average)
            c.what += " (its average; no step voiced in both)";
        else
            c.what += " (median of " + std::to_string(m.common) + " steps, " +
                      std::to_string(static_cast<int>(std::lround(100.0 * m.gross_share))) +
                      " % of them beyond 300 cents)";
    } else {
        c.what = "damaged map";
    }
    c.verdict = Verdict::Bad;
    if (!fix) return c;
    if (frq_status->read_only)
        c.not_fixed = "read-only";
    else if (frq_save(sample, &*fresh, nullptr) != 1)
        c.not_fixed = "cannot write it";
    else
        c.fixed = true;
    return c;
}

SampleCheck check_sample(const PathString& sample, bool fix) {
    try {
        return check_unguarded(sample, fix);
    } catch (const std::bad_alloc&) {
        SampleCheck c;
        c.what = "out of memory";
        return c;
    } catch (const std::exception& e) {
        SampleCheck c;
        c.what = e.what();
        return c;
    }
}

// The line of a bad map: its path, what is wrong, and what --fix did.
std::string bad_line(const SampleCheck& c) {
    std::string line = path_to_utf8(c.frq) + ": " + c.what;
    if (c.fixed) line += "; fixed";
    if (!c.not_fixed.empty()) line += "; not fixed: " + c.not_fixed;
    return line;
}

}  // namespace

MapComparison compare_maps(const FreqList& map, const FreqList& fresh) {
    MapComparison out;
    std::vector<double> cents, voiced;
    const std::int64_t step = map.step > 0 ? map.step : 1;
    for (std::int32_t i = 0; i < fresh.count; ++i) {
        const double f = fresh.freqs[static_cast<std::size_t>(i)];
        if (!(f > 0.0)) continue;
        voiced.push_back(f);
        const std::int64_t j = (static_cast<std::int64_t>(i) * fresh.step + step / 2) / step;
        if (j >= map.count) continue;
        const double g = map.freqs[static_cast<std::size_t>(j)];
        if (!entry_voiced(g)) continue;
        const double c = cents_between(g, f);
        cents.push_back(c);
        if (std::fabs(c) > kGrossCents) out.gross_share += 1.0;
    }
    if (voiced.empty()) return out;
    out.common = cents.size();
    if (cents.empty()) {
        // kelmotra then takes the map's average for every step.
        out.by_average = true;
        out.median_cents = cents_between(map.freq_avg, median_of(voiced));
        out.bad = std::fabs(out.median_cents) > kGrossCents;
        return out;
    }
    out.gross_share /= static_cast<double>(cents.size());
    out.median_cents = median_of(cents);
    out.bad = std::fabs(out.median_cents) > kGrossCents || out.gross_share > kGrossShare;
    return out;
}

std::string interval_words(double cents) {
    if (!(std::fabs(cents) < kFarCents)) return "no usable frequency";
    const long rounded = std::lround(cents);
    const long semitones = std::labs(std::lround(cents / 100.0));
    static const char* const kSteps[12] = {"",           "a semitone",   "a whole tone",   "a minor third",
                                           "a major third", "a fourth",  "a tritone",      "a fifth",
                                           "a minor sixth", "a major sixth", "a minor seventh", "a major seventh"};
    static const char* const kOctaves[4] = {"", "an octave", "two octaves", "three octaves"};
    const long octaves = semitones / 12;
    const long rest = semitones % 12;
    std::string words = octaves < 4 ? kOctaves[octaves] : std::to_string(octaves) + " octaves";
    if (rest != 0) words += (words.empty() ? "" : " and ") + std::string(kSteps[rest]);
    const std::string sign = rounded > 0 ? "+" : "";
    if (words.empty()) return sign + std::to_string(rounded) + " cents: about right";
    return sign + std::to_string(rounded) + " cents: " + words + (cents < 0 ? " low" : " high");
}

int run_check(const CheckOptions& options) {
    const double start = monotonic_seconds();
    const SampleList list = collect_samples(options.inputs);
    const std::size_t total = list.samples.size();
    std::vector<SampleCheck> results(total);
    for (const InputProblem& p : list.problems)
        std::fprintf(stderr, "failed: %s: %s\n", path_to_utf8(p.path).c_str(), p.reason.c_str());

    run_jobs(total, options.jobs, "checking", [&](std::size_t i) {
        results[i] = check_sample(list.samples[i], options.fix);
        const SampleCheck& c = results[i];
        const std::string path = path_to_utf8(list.samples[i]);
        JobLine line;
        switch (c.verdict) {
            case Verdict::NoMap: line.text = "no map " + path; break;
            case Verdict::Good: line.text = "good " + path; break;
            case Verdict::Bad:
                line.text = "bad " + bad_line(c);
                line.terminal_text = "bad: " + bad_line(c);
                break;
            case Verdict::Failed:
                line.text = "failed " + path + ": " + c.what;
                line.terminal_text = "failed: " + path + ": " + c.what;
                break;
        }
        return line;
    });

    std::size_t good = 0, bad = 0, fixed = 0, no_map = 0, failures = list.problems.size();
    std::string report;
    for (const InputProblem& p : list.problems)
        report += "failed: " + path_to_utf8(p.path) + ": " + p.reason + "\n";
    for (std::size_t i = 0; i < total; ++i) {
        const SampleCheck& c = results[i];
        switch (c.verdict) {
            case Verdict::NoMap: ++no_map; break;
            case Verdict::Good: ++good; break;
            case Verdict::Bad:
                ++bad;
                if (c.fixed) ++fixed;
                report += "bad: " + bad_line(c) + "\n";
                break;
            case Verdict::Failed:
                ++failures;
                report += "failed: " + path_to_utf8(list.samples[i]) + ": " + c.what + "\n";
                break;
        }
    }
    if (total == 0 && list.problems.empty()) report += "no WAV files found\n";
    report += "checked " + std::to_string(good + bad) + " maps: " + std::to_string(good) + " good, " +
              std::to_string(bad) + " bad";
    if (options.fix) report += " (" + std::to_string(fixed) + " fixed)";
    report += "; " + std::to_string(no_map) + " samples without a map, " + std::to_string(failures) +
              " failed, in " + fmt_duration(monotonic_seconds() - start) + "\n";
    std::fflush(stderr);
    std::fputs(report.c_str(), stdout);
    std::fflush(stdout);
    return (bad > fixed || failures > 0) ? 1 : 0;
}

}  // namespace kelmotra
