// Accuracy of the pitch analysis, against a reference: the maps of synthetic
// vowels of known pitch, or of real samples against a reference pitch track
// (praat's, made by bench/accuracy.sh).
//
//   pitch_accuracy synthetic [--method robust|classic]
//   pitch_accuracy compare REF.txt [--method robust|classic]
//   pitch_accuracy pitched REF.txt OTO.ini
//
// REF.txt holds one line per sample: its path, then the reference frequency
// (Hz, 0 for unvoiced) at every step of the map (i * step frames). Per sample
// it prints the median error (cents) over the steps both call voiced, the
// share of those beyond 300 cents (gross errors) and the voicing agreement;
// then the totals, and whether they meet the targets: no median error beyond
// 50 cents, gross errors on at most 1 % of the steps, voicing agreement at
// least 90 %. Exit status 0 when they do, 1 when not, 2 for bad usage.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "audio/wav_reader.h"
#include "audio/wav_writer.h"
#include "freqmap/analysis.h"
#include "freqmap/pitch_analysis.h"

namespace {

using namespace kelmotra;

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = 44100.0;

// A reference track: Hz per step (0: unvoiced), and which steps count for
// the voicing agreement (steps whose voicing is unclear do not).
struct Truth {
    std::vector<double> hz;
    std::vector<bool> judged;
};

struct Score {
    std::string name;
    int both = 0;         // steps both call voiced
    int gross = 0;        // of those, beyond 300 cents
    int judged = 0;       // steps judged for voicing
    int agree = 0;        // of those, with the same voicing
    double median = 0.0;  // cents, over the steps both call voiced
};

Score score(const std::string& name, const FreqList& map, const Truth& truth) {
    Score s;
    s.name = name;
    std::vector<double> cents;
    const std::size_t n = std::min(truth.hz.size(), static_cast<std::size_t>(map.count));
    for (std::size_t i = 0; i < n; ++i) {
        const bool ours = map.freqs[i] > 16.0 && map.freqs[i] != 55.0;
        const bool ref = truth.hz[i] > 0.0;
        if (truth.judged[i]) {
            ++s.judged;
            if (ours == ref) ++s.agree;
        }
        if (ours && ref) {
            const double c = 1200.0 * std::log2(map.freqs[i] / truth.hz[i]);
            cents.push_back(c);
            ++s.both;
            if (std::fabs(c) > 300.0) ++s.gross;
        }
    }
    if (!cents.empty()) {
        std::sort(cents.begin(), cents.end());
        const std::size_t m = cents.size() / 2;
        s.median = cents.size() % 2 ? cents[m] : 0.5 * (cents[m - 1] + cents[m]);
    }
    return s;
}

// ---- Synthetic vowels ------------------------------------------------------

struct Vowel {
    std::string name;
    double seconds = 1.5;
    double f0 = 220.0;        // Hz at the start
    double glide = 0.0;       // octaves of change over the voiced part
    double vibrato = 0.0;     // cents of depth at 5.5 Hz
    double snr_db = 99.0;     // level of white noise under the vowel
    double tail = 0.0;        // seconds of breathy decaying tail at the end
    double jitter = 0.005;    // relative period jitter, per period
    double formant[3] = {750.0, 1200.0, 2600.0};  // Hz: "a"
};

// Formants of "u" and "i": their low first formant lifts the second harmonic
// over the fundamental, the trap of an octave too high.
constexpr double kVowelU[3] = {300.0, 800.0, 2250.0};
constexpr double kVowelI[3] = {280.0, 2250.0, 2900.0};

// Harmonics of the pitch curve under three formant peaks, with jitter,
// a 40 ms onset, silence before and after, noise, and optionally a tail in
// which the voice decays by 40 dB while breath noise rises.
std::vector<double> synthesize(const Vowel& v, Truth& truth, std::int32_t step) {
    const int lead = static_cast<int>(0.1 * kRate);
    const int voiced = static_cast<int>(v.seconds * kRate);
    const int tail = static_cast<int>(v.tail * kRate);
    const int n = lead + voiced + tail + static_cast<int>(0.1 * kRate);
    std::vector<double> x(static_cast<std::size_t>(n), 0.0), f0(static_cast<std::size_t>(n), 0.0),
        env(static_cast<std::size_t>(n), 0.0);
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> uni(-1.0, 1.0);
    std::normal_distribution<double> gauss(0.0, 1.0);
    double phase = 0.0, jit = 0.0;
    for (int i = lead; i < lead + voiced + tail; ++i) {
        const double t = static_cast<double>(i - lead) / kRate;
        const double along = std::min(1.0, t / v.seconds);
        double f = v.f0 * std::pow(2.0, v.glide * along + v.vibrato / 1200.0 * std::sin(2 * kPi * 5.5 * t));
        f0[static_cast<std::size_t>(i)] = f;
        f *= 1.0 + jit;
        phase += f / kRate;
        if (phase >= 1.0) {
            phase -= 1.0;
            jit = v.jitter * uni(rng);
        }
        double a = std::min(1.0, t / 0.04);
        if (i >= lead + voiced) a = std::pow(10.0, -2.0 * (i - lead - voiced) / static_cast<double>(tail));
        env[static_cast<std::size_t>(i)] = a;
        double s = 0.0;
        for (int k = 1; k * f < 0.45 * kRate; ++k) {
            const double h = k * f;
            const double g = 1 / (1 + std::pow((h - v.formant[0]) / 120, 2)) +
                             0.6 / (1 + std::pow((h - v.formant[1]) / 150, 2)) +
                             0.3 / (1 + std::pow((h - v.formant[2]) / 200, 2)) + 0.02;
            s += g / std::sqrt(k) * std::sin(2 * kPi * k * phase);
        }
        x[static_cast<std::size_t>(i)] = a * s;
    }
    // Noise: at snr_db under the vowel's RMS; in the tail, breath at -20 dB
    // that rises as the voice fades, low-passed.
    double rms = 0.0;
    for (int i = lead; i < lead + voiced; ++i) rms += x[static_cast<std::size_t>(i)] * x[static_cast<std::size_t>(i)];
    rms = std::sqrt(rms / voiced);
    const double noise = rms * std::pow(10.0, -v.snr_db / 20.0);
    double lp = 0.0;
    for (int i = 0; i < n; ++i) {
        double add = noise * gauss(rng);
        if (tail > 0 && i >= lead + voiced && i < lead + voiced + tail) {
            lp = 0.7 * lp + 0.3 * gauss(rng);
            add += 0.1 * rms * lp * std::min(1.0, (i - lead - voiced) / (0.05 * kRate));
        }
        x[static_cast<std::size_t>(i)] += add;
    }
    double peak = 0.0;
    for (double s : x) peak = std::max(peak, std::fabs(s));
    for (double& s : x) s = s / peak * 20000.0;
    // Truth: voiced where the voice is within 20 dB of full level; steps
    // between 20 and 40 dB below it are not judged for voicing.
    for (int i = 0; i * step < n; ++i) {
        const auto at = static_cast<std::size_t>(i * step);
        truth.hz.push_back(env[at] >= 0.01 ? f0[at] : 0.0);
        truth.judged.push_back(env[at] >= 0.1 || env[at] == 0.0);
    }
    return x;
}

std::vector<Vowel> vowels() {
    std::vector<Vowel> out;
    for (double f : {110.0, 165.0, 220.0, 330.0, 440.0, 660.0}) {
        const std::string hz = std::to_string(static_cast<int>(f));
        Vowel v;
        v.f0 = f;
        v.name = "steady " + hz;
        out.push_back(v);
        Vowel vib = v;
        vib.name = "vibrato " + hz + " (u)";
        vib.vibrato = 50.0;
        std::copy(kVowelU, kVowelU + 3, vib.formant);
        out.push_back(vib);
        Vowel noisy = v;
        noisy.name = "noise 20 dB " + hz + " (i)";
        noisy.snr_db = 20.0;
        std::copy(kVowelI, kVowelI + 3, noisy.formant);
        out.push_back(noisy);
        Vowel tail = v;
        tail.name = "breathy tail " + hz;
        tail.tail = 0.5;
        tail.jitter = 0.02;
        out.push_back(tail);
    }
    for (double f : {110.0, 220.0, 330.0}) {
        Vowel up;
        up.f0 = f;
        up.glide = 1.0;
        up.name = "glide up " + std::to_string(static_cast<int>(f));
        out.push_back(up);
        Vowel down;
        down.f0 = 2 * f;
        down.glide = -1.0;
        down.name = "glide down " + std::to_string(static_cast<int>(2 * f));
        out.push_back(down);
    }
    return out;
}

// ---- Reporting ---------------------------------------------------------------

bool report(const std::vector<Score>& scores) {
    int both = 0, gross = 0, judged = 0, agree = 0, bad_median = 0;
    std::printf("%-40s %8s %8s %8s %8s\n", "sample", "steps", "median", "gross%", "voicing%");
    for (const Score& s : scores) {
        std::printf("%-40s %8d %8.1f %8.2f %8.1f\n", s.name.c_str(), s.both, s.median,
                    s.both ? 100.0 * s.gross / s.both : 0.0, s.judged ? 100.0 * s.agree / s.judged : 100.0);
        both += s.both;
        gross += s.gross;
        judged += s.judged;
        agree += s.agree;
        if (std::fabs(s.median) > 50.0) ++bad_median;
    }
    const double gross_pct = both ? 100.0 * gross / both : 0.0;
    const double agree_pct = judged ? 100.0 * agree / judged : 100.0;
    std::printf("samples %zu, median beyond 50 cents: %d; gross errors %d of %d steps (%.2f %%); voicing agreement %.1f %%\n",
                scores.size(), bad_median, gross, both, gross_pct, agree_pct);
    const bool ok = bad_median == 0 && gross_pct <= 1.0 && agree_pct >= 90.0;
    std::printf("targets (no median beyond 50 cents, gross <= 1 %%, voicing >= 90 %%): %s\n", ok ? "met" : "NOT met");
    return ok;
}

int run_synthetic(const AnalysisOptions& analysis) {
    std::vector<Score> scores;
    for (const Vowel& v : vowels()) {
        Truth truth;
        const std::vector<double> x = synthesize(v, truth, 256);
        const auto file = wav_encode(x.data(), static_cast<std::int32_t>(x.size()), 16, 1, 44100, 1);
        const auto raw = file ? wav_parse_raw(file->data(), file->size(), 0, 0, 4096, stderr) : std::nullopt;
        const auto map = raw ? analyse_raw(*raw, nullptr, analysis) : std::nullopt;
        if (!map) {
            std::fprintf(stderr, "pitch_accuracy: %s: no map\n", v.name.c_str());
            return 1;
        }
        scores.push_back(score(v.name, *map, truth));
    }
    return report(scores) ? 0 : 1;
}

struct Reference {
    std::string path;
    std::vector<double> hz;  // per step, 0: unvoiced
};

std::vector<Reference> read_reference(const std::string& file, bool& ok) {
    std::vector<Reference> out;
    std::ifstream in(file);
    ok = static_cast<bool>(in);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        Reference r;
        if (!(words >> r.path)) continue;
        for (double hz; words >> hz;) r.hz.push_back(hz);
        out.push_back(r);
    }
    return out;
}

std::string file_name(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

int run_compare(const std::string& file, const AnalysisOptions& analysis) {
    bool ok = false;
    const std::vector<Reference> refs = read_reference(file, ok);
    if (!ok) {
        std::fprintf(stderr, "pitch_accuracy: cannot read %s\n", file.c_str());
        return 2;
    }
    std::vector<Score> scores;
    for (const Reference& ref : refs) {
        Truth truth;
        truth.hz = ref.hz;
        truth.judged.assign(ref.hz.size(), true);
        const auto raw = wav_read_raw(path_from_utf8(ref.path), 0, 0, 4096, stderr);
        const auto map = raw ? analyse_raw(*raw, nullptr, analysis) : std::nullopt;
        if (!map) {
            std::fprintf(stderr, "pitch_accuracy: %s: no map\n", ref.path.c_str());
            return 1;
        }
        scores.push_back(score(file_name(ref.path), *map, truth));
    }
    return report(scores) ? 0 : 1;
}

// The pitched samples of a bank, with their median reference pitch: those
// the reference calls voiced on at least half of their loud steps (within
// 20 dB of the loudest, by the levels of their map) and on at least 20 steps
// in all. Prints "NAME HZ OFFSET CONSONANT CUTOFF" (Hz, then the oto fields
// in ms) per sample.
int run_pitched(const std::string& file, const std::string& oto_path) {
    bool ok = false;
    const std::vector<Reference> refs = read_reference(file, ok);
    std::ifstream oto(oto_path);
    if (!ok || !oto) {
        std::fprintf(stderr, "pitch_accuracy: cannot read %s or %s\n", file.c_str(), oto_path.c_str());
        return 2;
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(oto, line);) {
        if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        lines.push_back(line);
    }
    for (const Reference& ref : refs) {
        const std::string name = file_name(ref.path);
        double field[5] = {};  // offset, consonant, cutoff, preutterance, overlap (ms)
        for (const std::string& line : lines) {
            if (line.rfind(name + "=", 0) != 0) continue;
            std::istringstream rest(line.substr(line.find(',') + 1));
            std::string v;
            for (int k = 0; k < 5 && std::getline(rest, v, ','); ++k) field[k] = v.empty() ? 0.0 : std::atof(v.c_str());
            break;
        }
        // Loud steps: within 20 dB of the sample's loudest (the levels of its map).
        const auto raw = wav_read_raw(path_from_utf8(ref.path), 0, 0, 4096, nullptr);
        const auto map = raw ? analyse_raw(*raw, nullptr) : std::nullopt;
        if (!map) continue;
        const double loudest = *std::max_element(map->amps.begin(), map->amps.end());
        std::vector<double> voiced;
        int loud = 0, loud_voiced = 0;
        for (std::size_t i = 0; i < ref.hz.size(); ++i) {
            if (ref.hz[i] > 0.0) voiced.push_back(ref.hz[i]);
            if (i >= map->amps.size() || map->amps[i] < 0.1 * loudest) continue;
            ++loud;
            if (ref.hz[i] > 0.0) ++loud_voiced;
        }
        if (voiced.size() < 20 || 2 * loud_voiced < loud) continue;
        std::sort(voiced.begin(), voiced.end());
        const std::size_t m = voiced.size() / 2;
        const double median = voiced.size() % 2 ? voiced[m] : 0.5 * (voiced[m - 1] + voiced[m]);
        std::printf("%s %.3f %g %g %g\n", name.c_str(), median, field[0], field[1], field[2]);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    AnalysisOptions analysis;
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--method") {
            analysis.method = analysis_method_named(args[i + 1].c_str());
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
            break;
        }
    }
    if (args.size() == 1 && args[0] == "synthetic") return run_synthetic(analysis);
    if (args.size() == 2 && args[0] == "compare") return run_compare(args[1], analysis);
    if (args.size() == 3 && args[0] == "pitched") return run_pitched(args[1], args[2]);
    std::fputs("usage: pitch_accuracy synthetic [--method robust|classic]\n"
               "       pitch_accuracy compare REF.txt [--method robust|classic]\n"
               "       pitch_accuracy pitched REF.txt OTO.ini\n",
               stderr);
    return 2;
}
