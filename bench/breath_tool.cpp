// breath_tool: the two measurements of bench/breath.sh that praat does not
// make for us.
//
//   breath_tool synth OUT.wav F0_HZ HNR_DB SECONDS
//       A steady synthetic vowel of known harmonics-to-noise ratio: a
//       harmonic source (-12 dB/octave) and white noise, each sent through the
//       same three formant resonators, the noise scaled so that the power of
//       the harmonic part over that of the noise part is HNR_DB. 44.1 kHz,
//       16-bit mono, 20 ms fades at both ends, fixed noise seed.
//
//   breath_tool frq IN.wav PITCH.txt
//       Writes the frequency map of IN.wav (IN_wav.frq beside it) from
//       PITCH.txt: one value in Hz per line for the map's entries 0, 1, ...
//       (every 256 samples), 0 where the sample is unvoiced. The benchmark
//       takes these from praat, so that every note is rendered from a correct
//       map whatever the built-in analysis makes of the sample.
//
//   breath_tool envelope IN.wav IN_FROM IN_TO OUT.wav OUT_FROM OUT_TO
//       Envelope distance in dB (times in seconds): the levels of the
//       harmonics of OUT (up to 5 kHz, frame by frame) against the spectral
//       envelope of IN (the harmonic levels of its frames, joined linearly in
//       dB over frequency and averaged over its frames), as the root mean
//       square deviation after removing the mean level difference. Prints
//       the distance and the number of harmonics compared.
//
// A benchmark helper: it uses the platform's math library freely.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "audio/platform.h"
#include "audio/transforms.h"
#include "audio/wav_reader.h"
#include "audio/wav_writer.h"
#include "freqmap/frq_file.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = 44100.0;
constexpr double kTopHz = 5000.0;        // harmonics compared up to here
constexpr std::size_t kFrame = 4096;     // analysis frame, samples (about 20 periods)
constexpr std::size_t kStep = 2048;      // frame step, samples

struct Resonator {
    double a1 = 0, a2 = 0, gain = 0, y1 = 0, y2 = 0;
};

Resonator resonator(double freq, double bandwidth) {
    Resonator r;
    const double radius = std::exp(-kPi * bandwidth / kRate);
    r.a1 = 2 * radius * std::cos(2 * kPi * freq / kRate);
    r.a2 = -radius * radius;
    r.gain = 1 - radius;
    return r;
}

double resonate(Resonator& r, double x) {
    const double y = r.gain * x + r.a1 * r.y1 + r.a2 * r.y2;
    r.y2 = r.y1;
    r.y1 = y;
    return y;
}

// Sends x through the three formants of an open vowel (in parallel).
std::vector<double> vowel_filter(const std::vector<double>& x) {
    Resonator f[3] = {resonator(750, 90), resonator(1200, 110), resonator(2600, 160)};
    const double gain[3] = {1.0, 0.6, 0.25};
    std::vector<double> y(x.size());
    for (std::size_t n = 0; n < x.size(); ++n) {
        double v = 0;
        for (int i = 0; i < 3; ++i) v += gain[i] * resonate(f[i], x[n]);
        y[n] = v;
    }
    return y;
}

double power(const std::vector<double>& x) {
    double s = 0;
    for (double v : x) s += v * v;
    return s / static_cast<double>(std::max<std::size_t>(x.size(), 1));
}

int synth(const char* path, double f0, double hnr_db, double seconds) {
    if (!(f0 > 50 && f0 < 1000 && seconds > 0.1 && seconds < 60 && std::isfinite(hnr_db))) {
        std::fprintf(stderr, "breath_tool synth: arguments out of range\n");
        return 2;
    }
    const auto total = static_cast<std::size_t>(seconds * kRate);
    std::vector<double> voiced(total), noise(total);
    std::uint32_t state = 2024u;
    const int harmonics = static_cast<int>(0.45 * kRate / f0);
    for (std::size_t n = 0; n < total; ++n) {
        const double t = static_cast<double>(n) / kRate;
        double v = 0;
        for (int k = 1; k <= harmonics; ++k) v += std::sin(2 * kPi * k * f0 * t) / (k * k);
        voiced[n] = v;
        state = state * 1664525u + 1013904223u;
        noise[n] = static_cast<double>(state >> 8) / 8388608.0 - 1.0;
    }
    voiced = vowel_filter(voiced);
    noise = vowel_filter(noise);
    const double scale = std::sqrt(power(voiced) / power(noise) / std::pow(10.0, hnr_db / 10));
    std::vector<double> out(total);
    const std::size_t fade = static_cast<std::size_t>(0.02 * kRate);
    double peak = 0;
    for (std::size_t n = 0; n < total; ++n) {
        double g = 1.0;
        if (n < fade) g = static_cast<double>(n) / fade;
        if (total - 1 - n < fade) g = static_cast<double>(total - 1 - n) / fade;
        out[n] = (voiced[n] + scale * noise[n]) * g;
        peak = std::max(peak, std::fabs(out[n]));
    }
    for (double& v : out) v = std::round(v * 16000.0 / peak);
    if (kelmotra::wav_write(kelmotra::path_from_utf8(path), out.data(),
                            static_cast<std::int32_t>(total), 16, 1, 44100, 1) < 0) {
        std::fprintf(stderr, "breath_tool synth: cannot write %s\n", path);
        return 1;
    }
    return 0;
}

int frq(const char* wav, const char* pitch_txt) {
    std::FILE* f = std::fopen(pitch_txt, "r");
    if (f == nullptr) {
        std::fprintf(stderr, "breath_tool frq: cannot read %s\n", pitch_txt);
        return 1;
    }
    kelmotra::FreqList list;
    list.step = 256;
    list.sample_rate = 44100;
    double hz = 0, sum = 0;
    int voiced = 0;
    while (std::fscanf(f, "%lf", &hz) == 1) {
        list.freqs.push_back(hz > 16 ? hz : 0.0);
        if (hz > 16) {
            sum += hz;
            ++voiced;
        }
    }
    std::fclose(f);
    if (list.freqs.empty() || voiced == 0) {
        std::fprintf(stderr, "breath_tool frq: no voiced entry in %s\n", pitch_txt);
        return 1;
    }
    list.count = static_cast<std::int32_t>(list.freqs.size());
    list.freqs.push_back(list.freqs.back());
    list.amps.assign(list.freqs.size(), 0.0);
    list.freq_avg = sum / voiced;
    return kelmotra::frq_save(kelmotra::path_from_utf8(wav), &list, stderr) == 1 ? 0 : 1;
}

// The first channel of a WAV file from `from` to `to` seconds.
std::optional<std::vector<double>> read_span(const char* path, double from, double to) {
    auto wave = kelmotra::wav_read(kelmotra::path_from_utf8(path), stderr);
    if (!wave) return std::nullopt;
    const double rate = wave->format.sample_rate;
    const std::size_t ch = wave->format.channels;
    if (rate != kRate || ch == 0) {
        std::fprintf(stderr, "breath_tool: %s is not at 44.1 kHz\n", path);
        return std::nullopt;
    }
    const auto frames = static_cast<std::size_t>(wave->frames);
    const auto a = std::min(frames, static_cast<std::size_t>(std::max(0.0, from) * rate));
    const auto b = std::min(frames, static_cast<std::size_t>(std::max(0.0, to) * rate));
    std::vector<double> x;
    for (std::size_t i = a; i < b; ++i) x.push_back(wave->samples[i * ch]);
    return x;
}

// Pitch of one frame by normalised autocorrelation (60..800 Hz) with
// parabolic interpolation; nothing when the frame is not clearly periodic.
std::optional<double> frame_pitch(const double* x, std::size_t n) {
    const auto lo = static_cast<std::size_t>(kRate / 800), hi = static_cast<std::size_t>(kRate / 60);
    std::vector<double> r(hi + 2, 0.0);
    for (std::size_t lag = lo - 1; lag <= hi + 1; ++lag) {
        double xy = 0, xx = 0, yy = 0;
        for (std::size_t i = 0; i + lag < n; ++i) {
            xy += x[i] * x[i + lag];
            xx += x[i] * x[i];
            yy += x[i + lag] * x[i + lag];
        }
        r[lag] = xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
    }
    std::size_t best = lo;
    for (std::size_t lag = lo; lag <= hi; ++lag)
        if (r[lag] > r[best]) best = lag;
    // The shortest lag that comes close to the best avoids octave errors.
    for (std::size_t lag = lo; lag < best; ++lag) {
        if (r[lag] > 0.9 * r[best] && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
            best = lag;
            break;
        }
    }
    if (r[best] < 0.5) return std::nullopt;
    const double a = r[best - 1], b = r[best], c = r[best + 1];
    const double den = a - 2 * b + c;
    // Only a true peak is refined, and never beyond half a lag: at the edge of
    // the range the parabola can open upwards and would send the pitch to
    // zero or below (and the harmonic loops below would never end).
    const double shift = den < 0 ? std::clamp(0.5 * (a - c) / den, -0.5, 0.5) : 0.0;
    return kRate / (static_cast<double>(best) + shift);
}

struct Harmonic {
    double hz;
    double db;
};

// Levels of the harmonics of every periodic frame, one list per frame: the
// power of the Hann-windowed spectrum in the five bins around the strongest
// bin within a quarter of f0 of each harmonic, so that a pitch estimate a
// little off, or a harmonic smeared by vibrato, still reads its full level.
std::vector<std::vector<Harmonic>> harmonic_levels(const std::vector<double>& x) {
    std::vector<std::vector<Harmonic>> frames;
    const auto n = static_cast<std::int32_t>(kFrame);
    const kelmotra::Tables tables = kelmotra::build_tables(n);
    std::vector<double> y(kFrame), power(kFrame / 2 + 1);
    const double bin_hz = kRate / kFrame;
    for (std::size_t s = 0; s + kFrame <= x.size(); s += kStep) {
        const auto f0 = frame_pitch(x.data() + s, kFrame);
        if (!f0) continue;
        for (std::size_t i = 0; i < kFrame; ++i) y[i] = x[s + i] * tables.hann[i];
        kelmotra::rdft_forward(n, y.data(), tables.twiddle.data());
        power[0] = y[0] * y[0];
        power[kFrame / 2] = y[kFrame / 2] * y[kFrame / 2];
        for (std::size_t k = 1; k < kFrame / 2; ++k) power[k] = y[k] * y[k] + y[kFrame - k] * y[kFrame - k];
        std::vector<Harmonic> h;
        for (int m = 1; m * *f0 <= kTopHz; ++m) {
            const double centre = m * *f0 / bin_hz, reach = 0.25 * *f0 / bin_hz;
            auto lo = static_cast<std::size_t>(std::max(3.0, std::ceil(centre - reach)));
            const auto hi = static_cast<std::size_t>(std::floor(centre + reach));
            std::size_t peak = lo;
            for (std::size_t k = lo; k <= hi; ++k)
                if (power[k] > power[peak]) peak = k;
            double sum = 0;
            for (std::size_t k = peak - 2; k <= peak + 2; ++k) sum += power[k];
            h.push_back({m * *f0, 10 * std::log10(sum + 1e-9)});
        }
        frames.push_back(h);
    }
    return frames;
}

// The level in dB at hz of a frame's harmonics joined linearly; nothing
// outside them.
std::optional<double> level_at(const std::vector<Harmonic>& h, double hz) {
    for (std::size_t i = 1; i < h.size(); ++i) {
        if (hz >= h[i - 1].hz && hz <= h[i].hz) {
            const double t = (hz - h[i - 1].hz) / (h[i].hz - h[i - 1].hz);
            return h[i - 1].db + t * (h[i].db - h[i - 1].db);
        }
    }
    return std::nullopt;
}

int envelope(char** argv) {
    const auto in = read_span(argv[2], std::atof(argv[3]), std::atof(argv[4]));
    const auto out = read_span(argv[5], std::atof(argv[6]), std::atof(argv[7]));
    if (!in || !out) return 1;
    const auto in_frames = harmonic_levels(*in);
    const auto out_frames = harmonic_levels(*out);
    // The input's envelope on a 10 Hz grid, averaged in dB over its frames
    // (each taken relative to its own mean level).
    const std::size_t grid = static_cast<std::size_t>(kTopHz / 10) + 1;
    std::vector<double> sum(grid, 0.0);
    std::vector<int> count(grid, 0);
    for (const auto& h : in_frames) {
        double mean = 0;
        for (const Harmonic& hm : h) mean += hm.db / static_cast<double>(h.size());
        for (std::size_t g = 0; g < grid; ++g) {
            if (auto v = level_at(h, 10.0 * g)) {
                sum[g] += *v - mean;
                ++count[g];
            }
        }
    }
    // Each output frame's differences, less their own mean: the level of the
    // note over time (fades, the level stage) is not the envelope's business.
    std::vector<double> diff;
    for (const auto& h : out_frames) {
        std::vector<double> d;
        for (const Harmonic& hm : h) {
            const auto g = static_cast<std::size_t>(hm.hz / 10 + 0.5);
            if (g < grid && count[g] > 0) d.push_back(hm.db - sum[g] / count[g]);
        }
        double mean = 0;
        for (double v : d) mean += v;
        for (double v : d) diff.push_back(v - mean / static_cast<double>(d.size()));
    }
    if (diff.empty()) {
        std::printf("nan 0\n");
        return 0;
    }
    double mean = 0;
    for (double d : diff) mean += d;
    mean /= static_cast<double>(diff.size());
    double sq = 0;
    for (double d : diff) sq += (d - mean) * (d - mean);
    std::printf("%.3f %zu\n", std::sqrt(sq / static_cast<double>(diff.size())), diff.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "synth" && argc == 6)
        return synth(argv[2], std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5]));
    if (cmd == "frq" && argc == 4) return frq(argv[2], argv[3]);
    if (cmd == "envelope" && argc == 8) return envelope(argv);
    std::fprintf(stderr,
                 "usage: breath_tool synth OUT.wav F0_HZ HNR_DB SECONDS\n"
                 "       breath_tool frq IN.wav PITCH.txt\n"
                 "       breath_tool envelope IN.wav IN_FROM IN_TO OUT.wav OUT_FROM OUT_TO\n");
    return 2;
}
