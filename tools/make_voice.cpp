// make_voice: writes the small demo voice sample that ships with the project.
//
// A sung "sa" at a steady 220 Hz: a short hiss (the consonant), then a
// glottal-like harmonic source sent through three formant resonators of an
// open vowel. Everything is computed here from fixed parameters and a fixed
// noise seed, so the file is the same on every run.
//
//   make_voice OUT.wav [seconds] [f0_hz] [rate_hz]

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "audio/platform.h"
#include "audio/wav_writer.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Two-pole resonator (a formant) with centre frequency and bandwidth in Hz.
struct Resonator {
    double a1 = 0, a2 = 0, gain = 0, y1 = 0, y2 = 0;
};

Resonator make_resonator(double freq, double bandwidth, double rate) {
    Resonator r;
    double radius = std::exp(-kPi * bandwidth / rate);
    r.a1 = 2 * radius * std::cos(2 * kPi * freq / rate);
    r.a2 = -radius * radius;
    r.gain = 1 - radius;
    return r;
}

double resonate(Resonator& r, double x) {
    double y = r.gain * x + r.a1 * r.y1 + r.a2 * r.y2;
    r.y2 = r.y1;
    r.y1 = y;
    return y;
}

// Deterministic white noise in [-1, 1).
double noise(std::uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_voice OUT.wav [seconds] [f0_hz] [rate_hz]\n");
        return 2;
    }
    double seconds = argc > 2 ? std::atof(argv[2]) : 1.6;
    double f0 = argc > 3 ? std::atof(argv[3]) : 220.0;
    double rate = argc > 4 ? std::atof(argv[4]) : 44100.0;
    if (!(seconds > 0 && seconds <= 60 && f0 > 20 && f0 < 2000 && rate >= 8000 && rate <= 192000)) {
        std::fprintf(stderr, "make_voice: arguments out of range\n");
        return 2;
    }
    const int total = static_cast<int>(seconds * rate);
    const int consonant = static_cast<int>(0.08 * rate);   // 80 ms of hiss
    const int onset = static_cast<int>(0.03 * rate);       // vowel fade-in
    const int release = static_cast<int>(0.08 * rate);     // vowel fade-out

    // Open vowel "a": F1 750 Hz, F2 1200 Hz, F3 2600 Hz.
    Resonator formants[3] = {make_resonator(750, 90, rate), make_resonator(1200, 110, rate),
                             make_resonator(2600, 160, rate)};
    const double formant_gain[3] = {1.0, 0.6, 0.25};
    Resonator hiss = make_resonator(6000, 3000, rate);

    std::vector<double> out(static_cast<std::size_t>(total), 0.0);
    std::uint32_t seed = 12345u;
    int harmonics = static_cast<int>(0.45 * rate / f0);
    double phase = 0;
    for (int n = 0; n < total; ++n) {
        double t = n / rate;
        double v = 0;
        if (n >= consonant - onset / 2) {
            // Harmonic source with a -12 dB/octave tilt, like a glottal pulse train.
            double src = 0;
            for (int k = 1; k <= harmonics; ++k) src += std::sin(2 * kPi * k * phase) / (k * k) * 4.0;
            double env = 1.0;
            int since = n - (consonant - onset / 2);
            if (since < onset) env = 0.5 - 0.5 * std::cos(kPi * since / onset);
            int left = total - 1 - n;
            if (left < release) env *= 0.5 - 0.5 * std::cos(kPi * left / release);
            for (int i = 0; i < 3; ++i) v += formant_gain[i] * resonate(formants[i], src) * env;
        }
        if (n < consonant) {
            double env = std::sin(kPi * n / consonant);
            v += resonate(hiss, noise(seed)) * env * 0.5;
        }
        out[static_cast<std::size_t>(n)] = v;
        phase += f0 / rate;
        phase -= std::floor(phase);
        (void)t;
    }
    // Peak at about -6 dBFS.
    double peak = 0;
    for (double v : out) peak = std::fmax(peak, std::fabs(v));
    double gain = peak > 0 ? 16000.0 / peak : 0.0;
    for (double& v : out) v = std::round(v * gain);

    auto path = kelmotra::path_from_utf8(argv[1]);
    if (kelmotra::wav_write(path, out.data(), total, 16, 1, static_cast<std::int32_t>(rate), 1) < 0) {
        std::fprintf(stderr, "make_voice: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
