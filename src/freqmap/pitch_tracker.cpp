#include "freqmap/pitch_tracker.h"

#include <algorithm>
#include <cmath>

#include "freqmap/pitch_path.h"
#include "freqmap/sample_readers.h"

namespace kelmotra {

static_assert(kMaxCandidates == kPathMaxCandidates);

namespace {

constexpr std::int32_t kMaxTransform = 1 << 20;

// The voicing-threshold prior's cumulative share below threshold s (0 .. 1):
// 1 - (1 - s)^power, by repeated multiplication.
double prior_below(double s, int power) {
    const double q = 1.0 - std::clamp(s, 0.0, 1.0);
    double r = 1.0;
    for (int k = 0; k < power; ++k) r *= q;
    return 1.0 - r;
}

// Keeps the kMaxCandidates best dips: more share first, then less depth,
// then the shorter lag (the order dips arrive in).
void keep_best(StepCandidates& out, const PitchCandidate& c) {
    auto better = [](const PitchCandidate& a, const PitchCandidate& b) {
        if (a.share != b.share) return a.share > b.share;
        return a.depth < b.depth;
    };
    std::int32_t at = out.count;
    if (at == kMaxCandidates) {
        if (!better(c, out.c[at - 1])) return;
        --at;
    } else {
        ++out.count;
    }
    while (at > 0 && better(c, out.c[at - 1])) {
        out.c[at] = out.c[at - 1];
        --at;
    }
    out.c[at] = c;
}

}  // namespace

std::optional<TrackerSetup> tracker_setup(std::int32_t R, std::int32_t N, const TrackerOptions& o) {
    if (R < 1 || N < 8) return std::nullopt;
    double lo = o.low_hz, hi = o.high_hz;
    if (!(lo > 0.0) || !(hi > 0.0) || !std::isfinite(lo) || !std::isfinite(hi)) return std::nullopt;
    if (lo > hi) std::swap(lo, hi);
    const double rate = R;
    TrackerSetup t;
    t.R = R;
    t.W = N;
    t.minLag = std::max<std::int32_t>(2, static_cast<std::int32_t>(std::min(rate / hi, 1e9)));
    const double longest = std::floor(rate / lo);
    if (longest > kMaxTransform) return std::nullopt;
    t.maxLag = static_cast<std::int32_t>(longest);
    if (t.maxLag < t.minLag + 1) return std::nullopt;
    const double centre = o.centre_hz > 0.0 ? std::min(rate / o.centre_hz, longest) : 0.0;
    t.lead = N / 2 + static_cast<std::int32_t>(centre / 2.0);
    t.span = N + t.maxLag + 2;
    if (t.span > kMaxTransform) return std::nullopt;
    t.fft_n = 2;
    while (t.fft_n < t.span) t.fft_n *= 2;
    return t;
}

TrackerWork tracker_work(const TrackerSetup& t) {
    TrackerWork w;
    w.tables = build_tables(t.fft_n);
    w.frame.assign(static_cast<std::size_t>(t.span), 0.0);
    w.head.assign(static_cast<std::size_t>(t.fft_n), 0.0);
    w.energy.assign(static_cast<std::size_t>(t.span) + 1, 0.0);
    w.diff.assign(static_cast<std::size_t>(t.maxLag) + 2, 0.0);
    w.norm.assign(static_cast<std::size_t>(t.maxLag) + 2, 1.0);
    w.spectrum.assign(static_cast<std::size_t>(t.fft_n), 0.0);
    return w;
}

void tracker_frame(const PitchSetup& s, const TrackerSetup& t, TrackerWork& w, std::int64_t position) {
    const std::int64_t first = position - t.lead;
    for (std::size_t k = 0; k < w.frame.size(); ++k) {
        const std::int64_t f = first + static_cast<std::int64_t>(k);
        w.frame[k] = (f >= 0 && f < s.data_frames)
                         ? raw_to_scale(s.coding, raw_sample(s.coding, s.bytes + static_cast<std::size_t>(f) *
                                                                                   static_cast<std::size_t>(s.A)))
                         : 0.0;
    }
}

void tracker_step(const TrackerSetup& t, const TrackerOptions& o, TrackerWork& w, StepCandidates& out) {
    out.count = 0;
    out.level = 0.0;
    const auto span = static_cast<std::size_t>(t.span);
    const auto n = static_cast<std::size_t>(t.fft_n);
    const auto W = static_cast<std::size_t>(t.W);
    const double* x = w.frame.data();
    double* e = w.energy.data();
    e[0] = 0.0;
    for (std::size_t k = 0; k < span; ++k) e[k + 1] = e[k] + x[k] * x[k];
    out.level = std::sqrt(e[span] / static_cast<double>(span));
    if (!(e[W] > 0.0)) return;  // nothing to compare

    // Cross-correlation c(tau) = sum over j < W of x[j] x[j + tau], through
    // the transforms: the conjugate spectrum of the head (the first W frames)
    // times the spectrum of the whole frame, in the layout of rdft_forward
    // (C(k) at k, S(k) at n - k); n >= W + maxLag + 2, so nothing wraps.
    double* a = w.head.data();
    double* b = w.spectrum.data();
    std::copy(x, x + W, a);
    std::fill(a + W, a + n, 0.0);
    std::copy(x, x + span, b);
    std::fill(b + span, b + n, 0.0);
    rdft_forward(t.fft_n, a, w.tables.twiddle.data());
    rdft_forward(t.fft_n, b, w.tables.twiddle.data());
    b[0] = a[0] * b[0];
    b[n / 2] = a[n / 2] * b[n / 2];
    for (std::size_t k = 1; k < n / 2; ++k) {
        const double ca = a[k], sa = a[n - k], cb = b[k], sb = b[n - k];
        b[k] = ca * cb + sa * sb;
        b[n - k] = ca * sb - sa * cb;
    }
    rdft_inverse(t.fft_n, b, w.tables.twiddle.data());
    const double scale = 2.0 / static_cast<double>(n);

    // d(tau) = sum (x[j] - x[j + tau])^2 = e(0) + e(tau) - 2 c(tau), and the
    // cumulative-mean-normalised d'(tau) = d(tau) tau / sum_{j=1..tau} d(j).
    const std::size_t last = static_cast<std::size_t>(t.maxLag) + 1;
    double* d = w.diff.data();
    double* dn = w.norm.data();
    const double e0 = e[W];
    double running = 0.0;
    d[0] = 0.0;
    dn[0] = 1.0;
    for (std::size_t tau = 1; tau <= last; ++tau) {
        const double v = e0 + (e[tau + W] - e[tau]) - 2.0 * scale * b[tau];
        d[tau] = v > 0.0 ? v : 0.0;
        running += d[tau];
        dn[tau] = running > 0.0 ? d[tau] * static_cast<double>(tau) / running : 1.0;
    }

    // Dips in increasing lag. Each takes the share of the threshold prior for
    // which it is the first dip below the threshold: the thresholds between
    // its depth and the least depth of the dips before it.
    double least = 1.0;
    double shares = 0.0;
    const std::size_t lo = static_cast<std::size_t>(t.minLag);
    for (std::size_t tau = lo; tau < last; ++tau) {
        const double v = dn[tau];
        if (!(v < dn[tau - 1] && v <= dn[tau + 1] && v < 1.0)) continue;
        // Noise breaks a dip into ripples: only the lowest point of its
        // neighbourhood (a fraction of the lag either way) counts.
        const std::size_t reach = 1 + static_cast<std::size_t>(static_cast<double>(tau) * o.dip_reach);
        const std::size_t from = tau > reach ? tau - reach : 1;
        const std::size_t to = std::min(last, tau + reach);
        bool lowest = true;
        for (std::size_t j = from; j <= to && lowest; ++j)
            lowest = j == tau || (j < tau ? dn[j] > v : dn[j] >= v);
        if (!lowest) continue;
        PitchCandidate c;
        c.depth = v;
        if (v < least) {
            c.share = prior_below(least, o.threshold_power) - prior_below(v, o.threshold_power);
            least = v;
        }
        shares += c.share;
        // Parabola through the raw differences at tau - 1, tau, tau + 1.
        const double p = d[tau - 1], q = d[tau], r = d[tau + 1];
        const double curve = p - 2.0 * q + r;
        double shift = curve > 0.0 ? 0.5 * (p - r) / curve : 0.0;
        shift = std::clamp(shift, -1.0, 1.0);
        c.lag = static_cast<double>(tau) + shift;
        keep_best(out, c);
    }
    if (!(shares > 0.0)) {
        out.count = 0;
        return;
    }
    // In increasing lag, by insertion: the same order from every library.
    for (std::int32_t k = 0; k < out.count; ++k) {
        PitchCandidate c = out.c[k];
        c.share /= shares;
        std::int32_t at = k;
        for (; at > 0 && out.c[at - 1].lag > c.lag; --at) out.c[at] = out.c[at - 1];
        out.c[at] = c;
    }
}

std::optional<FreqList> track_pitch(const PitchSetup& s, const TrackerOptions& o, std::FILE* progress) {
    const std::optional<TrackerSetup> setup = tracker_setup(s.R, s.N, o);
    say_setup(progress, s);
    if (setup) {
        const double rate = s.R;
        say_progress(progress, "Frequenz auf    %lfHz %d\n", rate / setup->maxLag, setup->maxLag);
        say_progress(progress, "Frequenz bis zu %lfHz %d\n", rate / setup->minLag, setup->minLag);
    }

    const std::int32_t count = s.list_count;
    const auto steps = static_cast<std::size_t>(count);
    std::vector<StepCandidates> cands(setup ? steps : 0);
    double loudest = 0.0;
    if (setup) {
        TrackerWork work = tracker_work(*setup);
        for (std::size_t i = 0; i < steps; ++i) {
            tracker_frame(s, *setup, work, static_cast<std::int64_t>(i) * s.Step);
            tracker_step(*setup, o, work, cands[i]);
            loudest = std::max(loudest, cands[i].level);
        }
    }
    say_progress(progress, "List Count=%d\n", count);

    // Strengths: a voiced candidate is as strong as the step is periodic,
    // less what it lacks of the whole share; "unvoiced" has the voicing
    // threshold, raised steeply in steps far quieter than the loudest.
    std::vector<PathStep> path(cands.size());
    const double quiet = o.silence_threshold / (1.0 + o.voicing_threshold);
    for (std::size_t i = 0; i < cands.size(); ++i) {
        const StepCandidates& c = cands[i];
        PathStep& p = path[i];
        double least = 1.0;
        for (std::int32_t k = 0; k < c.count; ++k) least = std::min(least, c.c[k].depth);
        p.count = c.count;
        for (std::int32_t k = 0; k < c.count; ++k) {
            p.octave[k] = path_log2(c.c[k].lag);
            p.strength[k] = (1.0 - least) - o.share_weight * (1.0 - c.c[k].share);
        }
        const double ratio = loudest > 0.0 ? c.level / loudest : 0.0;
        p.unvoiced = o.voicing_threshold + std::max(0.0, 2.0 - ratio / quiet);
    }
    const double per_10ms = 0.01 * static_cast<double>(s.R) / static_cast<double>(s.Step);
    PathCosts costs;
    costs.jump_per_octave = o.jump_cost * per_10ms;
    costs.voicing_switch = o.switch_cost * per_10ms;
    std::vector<std::int32_t> choice(steps, -1);
    if (!path.empty()) choose_path(path, costs, choice);

    std::vector<double> freq(steps + 1, 0.0);
    std::vector<double> amp(steps + 1, 0.0);
    const std::vector<double> w2 = pitch_window_w2(s);
    for (std::size_t i = 0; i < steps; ++i) {
        const std::int32_t k = choice[i];
        if (k >= 0) freq[i] = static_cast<double>(s.R) / cands[i].c[k].lag;
        amp[i] = pitch_amplitude(s, w2, static_cast<std::int32_t>(i));
    }
    const double freq_avg = pitch_average(freq, amp, count, static_cast<double>(s.R) / s.maxLag);
    say_progress(progress, "freq_avg=%lf\n", freq_avg);
    if (count < 1) return std::nullopt;

    FreqList list;
    list.step = s.Step;
    list.sample_rate = s.R;
    list.count = count;
    list.freq_avg = freq_avg;
    freq[steps] = freq[steps - 1];
    amp[steps] = amp[steps - 1];
    list.freqs = std::move(freq);
    list.amps = std::move(amp);
    return list;
}

}  // namespace kelmotra
