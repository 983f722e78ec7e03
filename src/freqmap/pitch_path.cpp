#include "freqmap/pitch_path.h"

#include <cmath>
#include <cstddef>

namespace kelmotra {

double path_log2(double x) {
    if (!(x > 0.0) || !std::isfinite(x)) return 0.0;
    int e = 0;
    double m = std::frexp(x, &e);  // exact: x = m * 2^e, 0.5 <= m < 1
    if (m < 0.70710678118654752) {
        m *= 2.0;
        --e;
    }
    // log2(m) = 2 atanh(z) / ln 2 with z = (m - 1) / (m + 1), |z| <= 0.1716:
    // the series z + z^3/3 + ... + z^19/19 leaves less than 1e-17.
    const double z = (m - 1.0) / (m + 1.0);
    const double z2 = z * z;
    double s = 1.0 / 19.0;
    for (int k = 17; k >= 1; k -= 2) s = s * z2 + 1.0 / static_cast<double>(k);
    constexpr double kTwoOverLn2 = 2.8853900817779268;  // 2 / ln 2
    return static_cast<double>(e) + z * s * kTwoOverLn2;
}

void choose_path(std::span<const PathStep> steps, const PathCosts& costs, std::span<std::int32_t> choice) {
    constexpr std::size_t kStates = kPathMaxCandidates + 1;  // state 0: unvoiced; 1 + k: candidate k
    const std::size_t n = steps.size();
    if (n == 0 || choice.size() < n) return;
    std::vector<std::int8_t> back(n * kStates, 0);
    double cost[kStates], next[kStates];
    // "Unvoiced" remembers the period of the last voiced step on its path, so
    // that a pitch change across an unvoiced stretch pays like any other.
    double memory = 0.0, next_memory = 0.0;
    bool remembers = false, next_remembers = false;

    auto voiced_count = [&](std::size_t i) {
        const std::int32_t c = steps[i].count;
        return static_cast<std::size_t>(c < 0 ? 0 : (c > kPathMaxCandidates ? kPathMaxCandidates : c));
    };

    cost[0] = -steps[0].unvoiced;
    for (std::size_t k = 0; k < voiced_count(0); ++k) cost[1 + k] = -steps[0].strength[k];
    for (std::size_t i = 1; i < n; ++i) {
        const PathStep& prev = steps[i - 1];
        const PathStep& cur = steps[i];
        const std::size_t pc = voiced_count(i - 1);
        const std::size_t cc = voiced_count(i);
        for (std::size_t to = 0; to <= cc; ++to) {
            double best = 0.0;
            std::size_t from_best = 0;
            for (std::size_t from = 0; from <= pc; ++from) {
                double t;
                if (from == 0 && to == 0) {
                    t = 0.0;
                } else if (to == 0) {
                    t = costs.voicing_switch;
                } else if (from == 0) {
                    t = costs.voicing_switch;
                    if (remembers) t += costs.jump_per_octave * std::fabs(memory - cur.octave[to - 1]);
                } else {
                    t = costs.jump_per_octave * std::fabs(prev.octave[from - 1] - cur.octave[to - 1]);
                }
                const double c = cost[from] + t;
                if (from == 0 || c < best) {
                    best = c;
                    from_best = from;
                }
            }
            next[to] = best - (to == 0 ? cur.unvoiced : cur.strength[to - 1]);
            back[i * kStates + to] = static_cast<std::int8_t>(from_best);
            if (to == 0) {
                next_remembers = from_best != 0 || remembers;
                next_memory = from_best != 0 ? prev.octave[from_best - 1] : memory;
            }
        }
        for (std::size_t to = 0; to <= cc; ++to) cost[to] = next[to];
        memory = next_memory;
        remembers = next_remembers;
    }

    std::size_t state = 0;
    for (std::size_t k = 1; k <= voiced_count(n - 1); ++k)
        if (cost[k] < cost[state]) state = k;
    for (std::size_t i = n; i-- > 0;) {
        choice[i] = static_cast<std::int32_t>(state) - 1;
        if (i > 0) state = static_cast<std::size_t>(back[i * kStates + state]);
    }
}

}  // namespace kelmotra
