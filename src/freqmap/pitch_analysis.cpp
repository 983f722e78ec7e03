#include "freqmap/pitch_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <limits>

#include "audio/det_math.h"

namespace kelmotra {

namespace {

// 2*pi as the analysis writes it.
constexpr double kTwoPi = 6.28318530717958;

// The true 2*pi split in two: kTwoPiHi has 40 significant bits, so its
// products with whole numbers below 2^13 are exact; kTwoPiLo is the rest.
constexpr double kTwoPiHi = 0x1.921fb54442000p+2;
constexpr double kTwoPiLo = 0x1.a308d313198a3p-39;

constexpr std::int32_t kMaxWindow = 2048;
constexpr std::int32_t kDefaultLowHz = 55;
constexpr std::int32_t kDefaultHighHz = 880;

// Ratios of the continuity correction, in the order they are tried.
constexpr std::int32_t kRatioP[7] = {1, 2, 3, 4, 5, 3, 4};
constexpr std::int32_t kRatioQ[7] = {1, 1, 1, 1, 1, 2, 3};

std::int64_t scaled(std::int64_t L, int ratio) { return kRatioP[ratio] * L / kRatioQ[ratio]; }

// Channel-0 sample of frame f on the 16-bit scale; 0 for frames without data.
double stored_value(const PitchSetup& s, std::int64_t f) {
    if (f < 0 || f >= s.data_frames) return 0.0;
    const std::uint8_t* p = s.bytes + static_cast<std::size_t>(f) * static_cast<std::size_t>(s.A);
    return raw_to_scale(s.coding, raw_sample(s.coding, p));
}

// ---- Difference function -------------------------------------------------
//
// d[m] = sum over k < K of (x[s + k] - x[s + k + m])^2 * w2e[k], with
// s = N/4 + N/8 - m/2, each sum in increasing k. Lags run side by side, every
// lag in its own accumulator (a vector lane), so the sums are independent and
// each keeps its own order. For m even, lag m + 2j + p (p = 0 or 1) starts at
// s0 - j, s0 = s of lag m: the samples x[s0 - j + k] of lanes j = 0, 1, ...
// lie backward in the frame (forward in the reversed frame), and the samples
// x[s0 - j + k + m + 2j + p] = x[s0 + m + p + j + k] lie forward.

std::int32_t diff_start(std::int32_t N, std::int32_t m) { return N / 4 + N / 8 - m / 2; }

double diff_one(const double* x, std::int32_t N, std::int32_t K, std::int32_t m, const double* w2e) {
    const double* a = x + diff_start(N, m);
    const double* b = a + m;
    double acc = 0.0;
    for (std::int32_t k = 0; k < K; ++k) {
        const double e = a[k] - b[k];
        acc += e * e * w2e[k];
    }
    return acc;
}

#if defined(__GNUC__)
typedef double Pair __attribute__((vector_size(16)));
typedef double Quad __attribute__((vector_size(32)));

inline Pair load_pair(const double* p) {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Lags m .. m + 4L - 1 (m even) into d: two groups of L lanes per parity.
// rev[t] = x[H - 1 - t].
#define KELMOTRA_DIFF_BLOCK(V, L)                                                              \
    const std::int32_t s0 = diff_start(N, m);                                                  \
    V e0 = {}, o0 = {}, e1 = {}, o1 = {};                                                      \
    const double* ra = rev + (H - 1 - s0);                                                     \
    const double* xb = x + s0 + m;                                                             \
    for (std::int32_t k = 0; k < K; ++k) {                                                     \
        V a0, a1, b0, c0, b1, c1;                                                              \
        std::memcpy(&a0, ra - k, sizeof(V));                                                   \
        std::memcpy(&a1, ra - k + L, sizeof(V));                                               \
        std::memcpy(&b0, xb + k, sizeof(V));                                                   \
        std::memcpy(&c0, xb + k + 1, sizeof(V));                                               \
        std::memcpy(&b1, xb + k + L, sizeof(V));                                               \
        std::memcpy(&c1, xb + k + L + 1, sizeof(V));                                           \
        const double w = w2e[k];                                                               \
        const V de0 = a0 - b0, do0 = a0 - c0, de1 = a1 - b1, do1 = a1 - c1;                   \
        e0 += de0 * de0 * w;                                                                   \
        o0 += do0 * do0 * w;                                                                   \
        e1 += de1 * de1 * w;                                                                   \
        o1 += do1 * do1 * w;                                                                   \
    }                                                                                          \
    for (int l = 0; l < L; ++l) {                                                              \
        d[m + 2 * l] = e0[l];                                                                  \
        d[m + 2 * l + 1] = o0[l];                                                              \
        d[m + 2 * L + 2 * l] = e1[l];                                                          \
        d[m + 2 * L + 2 * l + 1] = o1[l];                                                      \
    }

void diff_block_pair(const double* x, const double* rev, std::int32_t H, std::int32_t N,
                     std::int32_t K, std::int32_t m, const double* w2e, double* d) {
    KELMOTRA_DIFF_BLOCK(Pair, 2)
}

#if defined(__x86_64__) || defined(__i386__)
#define KELMOTRA_DIFF_WIDE 1
__attribute__((target("avx2"))) void diff_block_quad(const double* x, const double* rev, std::int32_t H,
                                                     std::int32_t N, std::int32_t K, std::int32_t m,
                                                     const double* w2e, double* d) {
    KELMOTRA_DIFF_BLOCK(Quad, 4)
}

__attribute__((target("avx2"))) void diff_blocks_quad(const double* x, const double* rev, std::int32_t H,
                                                      std::int32_t N, std::int32_t K, std::int32_t& m,
                                                      std::int32_t maxLag, const double* w2e, double* d) {
    for (; m + 15 <= maxLag; m += 16) diff_block_quad(x, rev, H, N, K, m, w2e, d);
}
#endif
#undef KELMOTRA_DIFF_BLOCK
#endif

bool wide_lanes_available() {
#if defined(KELMOTRA_DIFF_WIDE)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

// rev: the frame reversed (H samples). wide: use 4-lane vectors.
void difference_function(const double* x, const double* rev, std::int32_t H, std::int32_t N,
                         std::int32_t K, std::int32_t minLag, std::int32_t maxLag, const double* w2e,
                         double* d, bool wide) {
    std::int32_t m = minLag;
#if defined(__GNUC__)
    // At absurd sample rates the shortest lag lies beyond the longest, and
    // there is no lag to compute at all.
    if ((m & 1) && m <= maxLag) {
        d[m] = diff_one(x, N, K, m, w2e);
        ++m;
    }
#if defined(KELMOTRA_DIFF_WIDE)
    if (wide) diff_blocks_quad(x, rev, H, N, K, m, maxLag, w2e, d);
#endif
    for (; m + 7 <= maxLag; m += 8) diff_block_pair(x, rev, H, N, K, m, w2e, d);
#endif
    (void)rev;
    (void)H;
    (void)wide;
    for (; m <= maxLag; ++m) d[m] = diff_one(x, N, K, m, w2e);
}

// ---- Refinement ----------------------------------------------------------

double step_centre(const PitchSetup& s, std::int32_t i) {
    return static_cast<double>(static_cast<std::int64_t>(s.N / 8) +
                               static_cast<std::int64_t>(i) * s.Step);
}

// Fills work.raw with the raw channel-0 values of the frames that the trials
// of a refinement around `lag` can touch. False when the lag is too long for
// the stretch.
bool load_raw_stretch(const PitchSetup& s, PitchWork& work, std::int32_t i, std::int32_t lag) {
    work.raw_count = 0;
    if (lag < 1 || lag > work.raw_lag_cap) return false;
    const std::int64_t c0 = static_cast<std::int64_t>(s.N / 8) + static_cast<std::int64_t>(i) * s.Step;
    const std::int64_t half = (lag + 2) / 2 + 4;
    const std::int64_t need = 2 * half + s.K + 8;
    if (need > static_cast<std::int64_t>(work.raw.size())) return false;
    work.raw_first = c0 - half;
    work.raw_count = need;
    for (std::int64_t t = 0; t < need; ++t) {
        const std::int64_t f = work.raw_first + t;
        work.raw[static_cast<std::size_t>(t)] =
            (f >= 0 && f < s.data_frames)
                ? raw_sample(s.coding, s.bytes + static_cast<std::size_t>(f) * static_cast<std::size_t>(s.A))
                : 0.0;
    }
    return true;
}

// The cost of one trial on the loaded stretch. A reading at x + m uses the
// kernel of x shifted by m frames; its value is the weighted sum of the raw
// values in frame order, divided by the weight sum and converted: the same
// operations as the generic reader, so the same bits. (A span of 4 frames gets
// a fifth weight of 0, which adds only a zero.) Readings at m and m + 1 are
// formed side by side; the cost sum itself runs in increasing m.
template <SampleCoding C>
double cost_on_stretch(const PitchWork& work, std::int32_t K, const SincKernel& k1, const SincKernel& k2) {
    const double* r1 = work.raw.data() + (k1.first - work.raw_first);
    const double* r2 = work.raw.data() + (k2.first - work.raw_first);
    const double* w2e = work.w2_even.data();
    double a[5], b[5];
    for (int t = 0; t < 5; ++t) {
        a[t] = t < k1.count ? k1.weight[t] : 0.0;
        b[t] = t < k2.count ? k2.weight[t] : 0.0;
    }
    double acc = 0.0;
    std::int32_t m = 0;
#if defined(__GNUC__)
    const Pair a0 = {a[0], a[0]}, a1 = {a[1], a[1]}, a2 = {a[2], a[2]}, a3 = {a[3], a[3]}, a4 = {a[4], a[4]};
    const Pair b0 = {b[0], b[0]}, b1 = {b[1], b[1]}, b2 = {b[2], b[2]}, b3 = {b[3], b[3]}, b4 = {b[4], b[4]};
    const Pair sa = {k1.weight_sum, k1.weight_sum}, sb = {k2.weight_sum, k2.weight_sum};
    for (; m + 1 < K; m += 2) {
        const double* p = r1 + m;
        const double* q = r2 + m;
        Pair va = {0.0, 0.0};
        va += a0 * load_pair(p);
        va += a1 * load_pair(p + 1);
        va += a2 * load_pair(p + 2);
        va += a3 * load_pair(p + 3);
        va += a4 * load_pair(p + 4);
        Pair vb = {0.0, 0.0};
        vb += b0 * load_pair(q);
        vb += b1 * load_pair(q + 1);
        vb += b2 * load_pair(q + 2);
        vb += b3 * load_pair(q + 3);
        vb += b4 * load_pair(q + 4);
        const Pair na = va / sa;
        const Pair nb = vb / sb;
        const double e0 = raw_to_scale_of<C>(na[0]) - raw_to_scale_of<C>(nb[0]);
        const double e1 = raw_to_scale_of<C>(na[1]) - raw_to_scale_of<C>(nb[1]);
        acc += e0 * e0 * w2e[m];
        acc += e1 * e1 * w2e[m + 1];
    }
#endif
    for (; m < K; ++m) {
        double va = 0.0, vb = 0.0;
        for (int t = 0; t < 5; ++t) va += a[t] * r1[m + t];
        for (int t = 0; t < 5; ++t) vb += b[t] * r2[m + t];
        const double e = raw_to_scale_of<C>(va / k1.weight_sum) - raw_to_scale_of<C>(vb / k2.weight_sum);
        acc += e * e * w2e[m];
    }
    return acc;
}

// Cost of trial lag w on the loaded stretch, or through the generic readers
// when the stretch does not cover the trial.
double refine_cost(const PitchSetup& s, const PitchWork& work, bool stretch, std::int32_t i, double w) {
    const double x1 = step_centre(s, i) - w / 2.0;
    const double x2 = x1 + w;
    if (stretch) {
        const std::optional<SincKernel> k1 = sincKernel1(x1);
        const std::optional<SincKernel> k2 = sincKernel1(x2);
        const std::int64_t size = work.raw_count;
        if (k1 && k2 && k1->first >= work.raw_first && k2->first >= work.raw_first &&
            k1->first - work.raw_first + s.K + 5 <= size && k2->first - work.raw_first + s.K + 5 <= size) {
            switch (s.coding) {
                case SampleCoding::U8:
                    return cost_on_stretch<SampleCoding::U8>(work, s.K, *k1, *k2);
                case SampleCoding::S16:
                    return cost_on_stretch<SampleCoding::S16>(work, s.K, *k1, *k2);
                case SampleCoding::S24:
                    return cost_on_stretch<SampleCoding::S24>(work, s.K, *k1, *k2);
                case SampleCoding::S32:
                    return cost_on_stretch<SampleCoding::S32>(work, s.K, *k1, *k2);
                case SampleCoding::F32:
                    return cost_on_stretch<SampleCoding::F32>(work, s.K, *k1, *k2);
            }
        }
    }
    return refine_cost_direct(s, work, i, w);
}

// Weight of voiced step i in the average: (a + 1) times, for each of the 11
// steps before it, (f / (f + 15 |f_prev - f|))^2 when that step exists and is
// voiced (frequency above 0), else 1 / (f + 1).
double step_weight(std::span<const double> freq, std::size_t i, double a) {
    const double f = freq[i];
    double w = a + 1.0;
    for (std::size_t d = 1; d <= 11; ++d) {
        double g;
        if (d <= i && freq[i - d] > 0.0) {
            const double r = f / (f + 15.0 * std::fabs(freq[i - d] - f));
            g = r * r;
        } else {
            g = 1.0 / (f + 1.0);
        }
        w = w * g;
    }
    return w;
}

}  // namespace

void say_progress(std::FILE* out, const char* format, ...) {
    if (out == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
}

void say_setup(std::FILE* out, const PitchSetup& s) {
    say_progress(out, "N=%d Step=%d\n", s.N, s.Step);
    say_progress(out, "Data Size=%d\n", static_cast<int>(s.D));
    say_progress(out, "Channels=%d\n", s.Ch);
    say_progress(out, "Block Align=%d\n", s.A);
    say_progress(out, "Samples per Sec=%d\n", s.R);
    say_progress(out, "List Size=%d\n", s.list_size);
}

AnalysisWindow analysis_window(std::uint32_t R) {
    if (R < 15000u) return {512, 64};
    if (R < 30000u) return {720, 128};
    if (R < 60000u) return {1024, 256};
    return {2048, 512};
}

bool lag_matches(std::int64_t z, std::int64_t M) { return 8 * M / 9 < z && z < 9 * M / 8; }

void continuity_correct(std::span<std::int32_t> lag, std::span<std::int32_t> voiced, std::size_t i) {
    if (i < 1 || i >= lag.size() || i >= voiced.size()) return;
    if (voiced[i] != 1 && voiced[i - 1] != 1) return;
    const int start = (voiced[i] == 1 && voiced[i - 1] == 1) ? 1 : 0;
    constexpr std::int64_t kLagLimit = std::numeric_limits<std::int32_t>::max();
    for (int r = start; r < 7; ++r) {
        if (voiced[i] == 1) {
            const std::int64_t z = scaled(lag[i - 1], r);
            if (z <= kLagLimit && lag_matches(z, lag[i])) {
                lag[i - 1] = static_cast<std::int32_t>(z);
                voiced[i - 1] = 1;
                // Backward propagation toward step 0.
                for (std::size_t k = i - 1; k-- > 0;) {
                    bool applied = false;
                    for (int q = voiced[k] == 1 ? 1 : 0; q < 7; ++q) {
                        const std::int64_t zk = scaled(lag[k], q);
                        if (zk <= kLagLimit && lag_matches(zk, lag[k + 1])) {
                            lag[k] = static_cast<std::int32_t>(zk);
                            voiced[k] = 1;
                            applied = true;
                            break;
                        }
                    }
                    if (!applied) break;
                }
                return;
            }
        }
        if (voiced[i - 1] == 1) {
            const std::int64_t z = scaled(lag[i], r);
            if (z <= kLagLimit && lag_matches(z, lag[i - 1])) {
                lag[i] = static_cast<std::int32_t>(z);
                voiced[i] = 1;
                return;
            }
        }
    }
}

std::optional<PitchSetup> pitch_setup(const std::uint8_t* bytes, std::size_t buffer_bytes,
                                      std::int32_t D, std::int32_t B, std::int32_t Ch,
                                      std::int32_t A, std::int32_t R, std::int32_t N,
                                      std::int32_t Step, std::int32_t fLo, std::int32_t fHi,
                                      std::uint16_t format_tag) {
    const std::optional<SampleCoding> coding = sample_coding(B, format_tag);
    if (!coding) return std::nullopt;
    if (bytes == nullptr || D < 0 || static_cast<std::uint64_t>(D) > buffer_bytes) return std::nullopt;
    if (Ch < 1 || A != Ch * coding_bytes(*coding)) return std::nullopt;
    if (R < 1 || N < 8 || N > kMaxWindow || N % 8 != 0 || Step < 1) return std::nullopt;

    PitchSetup s;
    s.bytes = bytes;
    s.buffer_bytes = buffer_bytes;
    s.D = D;
    s.coding = *coding;
    s.B = B;
    s.Ch = Ch;
    s.A = A;
    s.R = R;
    s.N = N;
    s.Step = Step;
    s.H = N + N / 2;
    s.K = N / 4 + N / 2;

    if (fLo < 1) fLo = kDefaultLowHz;
    if (fHi < 1) fHi = kDefaultHighHz;
    if (fLo > fHi) std::swap(fLo, fHi);
    s.minLag = std::max<std::int32_t>(R / fHi, 1);
    s.maxLag = std::min<std::int32_t>(R / fLo, s.K);
    if (s.maxLag < 1) return std::nullopt;  // the rate lies below the band

    s.list_size = static_cast<std::int32_t>((static_cast<std::int64_t>(D) / A) / Step);
    const std::int64_t span = static_cast<std::int64_t>(D) - N;  // steps start below D - N bytes
    const std::int64_t hop = static_cast<std::int64_t>(A) * Step;
    const std::int64_t steps = span > 0 ? (span - 1) / hop + 1 : 0;
    s.list_count = static_cast<std::int32_t>(std::min<std::int64_t>(steps, s.list_size));

    const std::int64_t w = coding_bytes(*coding);
    const std::int64_t with_offset = (static_cast<std::int64_t>(D) + A - 1) / A;
    const std::int64_t in_buffer =
        static_cast<std::int64_t>(buffer_bytes) >= w
            ? (static_cast<std::int64_t>(buffer_bytes) - w) / A + 1
            : 0;
    s.data_frames = std::min(with_offset, in_buffer);
    return s;
}

PitchWork pitch_work(const PitchSetup& s) {
    PitchWork w;
    const auto N = static_cast<std::size_t>(s.N);
    const auto H = static_cast<std::size_t>(s.H);
    const auto K = static_cast<std::size_t>(s.K);
    w.w1.resize(N);
    for (std::size_t k = 0; k < N; ++k)
        w.w1[k] = 0.5 - 0.5 * det_cos(kTwoPi * static_cast<double>(k) / static_cast<double>(s.N));
    w.w2 = pitch_window_w2(s);
    w.w2_even.resize(K);
    for (std::size_t k = 0; k < K; ++k) w.w2_even[k] = w.w2[2 * k];
    w.frame.assign(H, 0.0);
    w.frame_reversed.assign(H, 0.0);
    w.wide_lanes = wide_lanes_available();
    w.windowed.assign(N, 0.0);
    w.diff.assign(static_cast<std::size_t>(s.maxLag) + 1, 0.0);
    w.candidates.assign(static_cast<std::size_t>(s.maxLag) + 1, 0);
    w.table_stride = static_cast<std::size_t>(s.maxLag) / 2 + 1;
    w.cos_table.assign(kTableSlots * w.table_stride, 0.0);
    w.sin_table.assign(kTableSlots * w.table_stride, 0.0);
    w.angle_table.assign(kTableSlots * w.table_stride, 0.0);
    w.table_lag.assign(kTableSlots, 0);
    w.turn_cos.assign(static_cast<std::size_t>(s.maxLag), 0.0);
    w.turn_sin.assign(w.turn_cos.size(), 0.0);
    w.turn_angle.assign(w.turn_cos.size(), 0.0);
    w.turn_extra.assign(w.turn_cos.size(), 0.0);
    w.phase_cos.assign(kScoreGroup * N, 0.0);
    w.phase_sin.assign(kScoreGroup * N, 0.0);
    // Pass 1 chooses lags up to maxLag; the continuity rule may lengthen them
    // up to five times. Longer lags are refined through the generic readers.
    w.raw_lag_cap = 6 * s.K;
    w.raw.assign(static_cast<std::size_t>(2 * ((w.raw_lag_cap + 2) / 2 + 4) + s.K + 8), 0.0);
    return w;
}

namespace {

// ---- Candidate scores ------------------------------------------------------
//
// The score of lag m needs cos and sin of 2*pi*j/m for j < N. They come from
// tables of the first half turn (angles 2*pi*r/m, r <= m/2), the rest of the
// turn by symmetry. Every angle 2*pi*j/m, as computed, lies within a few 1e-12
// of a table angle plus whole turns (the written 2*pi is not the true one);
// that small distance, computed exactly with a two-part true 2*pi, corrects
// the table value to first order. The results stay within a few units in the
// last place of det_cos(2*pi*j/m) and det_sin(2*pi*j/m), and equal them for
// j <= m/2.

// The half-turn tables of lag m (cached per slot; neighbouring steps mostly
// score the same lags), expanded to a whole turn: for r < m, the cos, sin and
// angle of the nearest table entry and its whole turns (0, or 1 for the
// mirrored half).
void load_turn(PitchWork& work, std::int32_t m) {
    const std::int32_t half = m / 2;
    const double md = static_cast<double>(m);
    const std::size_t slot = static_cast<std::size_t>(m) % kTableSlots;
    double* ct = work.cos_table.data() + slot * work.table_stride;
    double* st = work.sin_table.data() + slot * work.table_stride;
    double* at = work.angle_table.data() + slot * work.table_stride;
    if (work.table_lag[slot] != m) {
        for (std::int32_t r = 0; r <= half; ++r) {
            const double angle = kTwoPi * static_cast<double>(r) / md;
            at[r] = angle;
            ct[r] = det_cos(angle);
            st[r] = det_sin(angle);
        }
        work.table_lag[slot] = m;
    }
    for (std::int32_t r = 0; r <= half; ++r) {
        work.turn_cos[static_cast<std::size_t>(r)] = ct[r];
        work.turn_sin[static_cast<std::size_t>(r)] = st[r];
        work.turn_angle[static_cast<std::size_t>(r)] = at[r];
        work.turn_extra[static_cast<std::size_t>(r)] = 0.0;
    }
    for (std::int32_t r = half + 1; r < m; ++r) {
        const std::int32_t rr = m - r;
        work.turn_cos[static_cast<std::size_t>(r)] = ct[rr];
        work.turn_sin[static_cast<std::size_t>(r)] = -st[rr];
        work.turn_angle[static_cast<std::size_t>(r)] = -at[rr];
        work.turn_extra[static_cast<std::size_t>(r)] = 1.0;
    }
}

// cos and sin of 2*pi*j/m for j < N into cj[j * stride], sj[j * stride].
void phase_values(const PitchSetup& s, PitchWork& work, std::int32_t m, double* cj, double* sj,
                  std::size_t stride) {
    load_turn(work, m);
    const double md = static_cast<double>(m);
    const double* fc = work.turn_cos.data();
    const double* fs = work.turn_sin.data();
    const double* fa = work.turn_angle.data();
    const double* fx = work.turn_extra.data();
    for (std::int32_t q = 0; q * m < s.N; ++q) {
        const std::int32_t start = q * m;
        const std::int32_t end = std::min(m, s.N - start);
        const double qd = static_cast<double>(q);
        std::int32_t r = 0;
#if defined(__GNUC__)
        for (; r + 1 < end; r += 2) {
            const Pair jd = {static_cast<double>(start + r), static_cast<double>(start + r + 1)};
            const Pair angle = kTwoPi * jd / md;
            const Pair turns = qd + load_pair(fx + r);
            const Pair c = load_pair(fc + r);
            const Pair sn = load_pair(fs + r);
            const Pair delta = ((angle - turns * kTwoPiHi) - load_pair(fa + r)) - turns * kTwoPiLo;
            const Pair cv = c - delta * sn;
            const Pair sv = sn + delta * c;
            const std::size_t j = static_cast<std::size_t>(start + r) * stride;
            cj[j] = cv[0];
            cj[j + stride] = cv[1];
            sj[j] = sv[0];
            sj[j + stride] = sv[1];
        }
#endif
        for (; r < end; ++r) {
            const double angle = kTwoPi * static_cast<double>(start + r) / md;
            const double turns = qd + fx[r];
            const double delta = ((angle - turns * kTwoPiHi) - fa[r]) - turns * kTwoPiLo;
            const std::size_t j = static_cast<std::size_t>(start + r) * stride;
            cj[j] = fc[r] - delta * fs[r];
            sj[j] = fs[r] + delta * fc[r];
        }
    }
}

// re and im of kScoreGroup candidates side by side: each sum over j < N in
// increasing j, in its own accumulator. cj and sj hold the phase values
// interleaved (candidate t of position j at j * kScoreGroup + t).
void group_sums(const double* y, std::int32_t N, const double* cj, const double* sj, double* re, double* im) {
    static_assert(kScoreGroup == 4);
#if defined(__GNUC__)
    Pair re01 = {0.0, 0.0}, re23 = {0.0, 0.0}, im01 = {0.0, 0.0}, im23 = {0.0, 0.0};
    for (std::int32_t j = 0; j < N; ++j) {
        const double v = y[j];
        const std::size_t at = static_cast<std::size_t>(j) * kScoreGroup;
        re01 += v * load_pair(cj + at);
        re23 += v * load_pair(cj + at + 2);
        im01 += v * load_pair(sj + at);
        im23 += v * load_pair(sj + at + 2);
    }
    re[0] = re01[0], re[1] = re01[1], re[2] = re23[0], re[3] = re23[1];
    im[0] = im01[0], im[1] = im01[1], im[2] = im23[0], im[3] = im23[1];
#else
    for (std::size_t t = 0; t < kScoreGroup; ++t) {
        double r = 0.0, i = 0.0;
        for (std::int32_t j = 0; j < N; ++j) {
            r += y[j] * cj[static_cast<std::size_t>(j) * kScoreGroup + t];
            i += y[j] * sj[static_cast<std::size_t>(j) * kScoreGroup + t];
        }
        re[t] = r;
        im[t] = i;
    }
#endif
}

}  // namespace

SpectralSums candidate_sums(const PitchSetup& s, PitchWork& work, std::int32_t m) {
    SpectralSums out;
    if (m < 1 || m > s.maxLag) return out;
    phase_values(s, work, m, work.phase_cos.data(), work.phase_sin.data(), kScoreGroup);
    double re[kScoreGroup], im[kScoreGroup];
    group_sums(work.windowed.data(), s.N, work.phase_cos.data(), work.phase_sin.data(), re, im);
    out.re = re[0];
    out.im = im[0];
    return out;
}

StepLag pitch_pass1_step(const PitchSetup& s, PitchWork& work, std::int32_t i) {
    // Frame: H samples from frame i*Step - (N - Step)/2 on.
    const std::int64_t first = static_cast<std::int64_t>(i) * s.Step - (s.N - s.Step) / 2;
    double* x = work.frame.data();
    for (std::int32_t k = 0; k < s.H; ++k) x[k] = stored_value(s, first + k);
    double* y = work.windowed.data();
    for (std::int32_t j = 0; j < s.N; ++j) y[j] = x[s.N / 4 + j] * work.w1[static_cast<std::size_t>(j)];

    double* rev = work.frame_reversed.data();
    for (std::int32_t k = 0; k < s.H; ++k) rev[k] = x[s.H - 1 - k];
    double* d = work.diff.data();
    difference_function(x, rev, s.H, s.N, s.K, s.minLag, s.maxLag, work.w2_even.data(), d,
                        work.wide_lanes);

    work.candidate_count = 0;
    for (std::int32_t m = s.minLag + 1; m < s.maxLag; ++m)
        if (d[m - 1] > d[m] && d[m] < d[m + 1]) work.candidates[static_cast<std::size_t>(work.candidate_count++)] = m;

    StepLag out;
    double best = -1.0;
    for (std::int32_t c0 = 0; c0 < work.candidate_count; c0 += static_cast<std::int32_t>(kScoreGroup)) {
        const std::int32_t g = std::min(static_cast<std::int32_t>(kScoreGroup), work.candidate_count - c0);
        for (std::int32_t t = 0; t < g; ++t)
            phase_values(s, work, work.candidates[static_cast<std::size_t>(c0 + t)], work.phase_cos.data() + t,
                         work.phase_sin.data() + t, kScoreGroup);
        double re[kScoreGroup], im[kScoreGroup];
        group_sums(y, s.N, work.phase_cos.data(), work.phase_sin.data(), re, im);
        for (std::int32_t t = 0; t < g; ++t) {
            const std::int32_t m = work.candidates[static_cast<std::size_t>(c0 + t)];
            const double score = std::sqrt((re[t] * re[t] + im[t] * im[t]) / d[m]);
            if (score >= best) {  // ties go to the longer lag; NaN never wins
                best = score;
                out.lag = m;
            }
        }
    }
    out.voiced = (out.lag != 0 && out.lag != work.candidates[0]) ? 1 : 0;
    return out;
}

double refine_cost_direct(const PitchSetup& s, const PitchWork& work, std::int32_t i, double w) {
    const double x1 = step_centre(s, i) - w / 2.0;
    const double x2 = x1 + w;
    const double* w2e = work.w2_even.data();
    double acc = 0.0;
    for (std::int32_t m = 0; m < s.K; ++m) {
        const double a = interpolate(s.coding, x1 + m, s.bytes, s.data_frames, 1.0, s.Ch);
        const double b = interpolate(s.coding, x2 + m, s.bytes, s.data_frames, 1.0, s.Ch);
        const double e = a - b;
        acc += e * e * w2e[m];
    }
    return acc;
}

double pitch_refine(const PitchSetup& s, PitchWork& work, std::int32_t i, std::int32_t lag) {
    const double L = lag;
    if (lag < 1) return L;
    const bool stretch = load_raw_stretch(s, work, i, lag);
    const double threshold = L / 80000.0;
    double S = L;
    double V = 1.0;
    double best = 1e30;
    bool first = true;
    while (V > threshold) {
        double pick = S;
        const double low = S - V;
        const double high = S + V;
        double cost = refine_cost(s, work, stretch, i, low);
        if (cost < best) {
            best = cost;
            pick = low;
        }
        if (first) {
            cost = refine_cost(s, work, stretch, i, S);
            if (cost < best) {
                best = cost;
                pick = S;
            }
            first = false;
        }
        cost = refine_cost(s, work, stretch, i, high);
        if (cost < best) {
            best = cost;
            pick = high;
        }
        if (pick != S) {
            S = pick;
            if (std::fabs(L - S) > 1.0) return L;
        }
        V /= 2.0;
    }
    return S;
}

std::vector<double> pitch_window_w2(const PitchSetup& s) {
    std::vector<double> w2(static_cast<std::size_t>(s.H) + 1);
    for (std::size_t k = 0; k < w2.size(); ++k)
        w2[k] = 0.5 - 0.5 * det_cos(kTwoPi * static_cast<double>(k) / static_cast<double>(s.H));
    return w2;
}

double pitch_amplitude(const PitchSetup& s, std::span<const double> w2, std::int32_t i) {
    const std::int64_t p0 = static_cast<std::int64_t>(i) * s.Step - s.N / 4;
    if (p0 < 0 || w2.size() < static_cast<std::size_t>(s.H)) return 0.0;
    const double K = s.K;
    double acc = 0.0;
    for (std::int32_t k = 0; k < s.H; ++k) {
        const double u = stored_value(s, p0 + k);
        acc += u * u * w2[static_cast<std::size_t>(k)] / K;
    }
    return std::sqrt(acc);
}

double pitch_amplitude(const PitchSetup& s, const PitchWork& work, std::int32_t i) {
    return pitch_amplitude(s, work.w2, i);
}

double pitch_average(std::span<const double> freq, std::span<const double> amp, std::int32_t count,
                     double fallback) {
    double weight_sum = 0.0;
    double weighted = 0.0;
    const auto n = static_cast<std::size_t>(count < 0 ? 0 : count);
    if (freq.size() < n || amp.size() < n) return fallback;
    for (std::size_t u = 0; u < n; ++u) {
        if (!(freq[u] > 0.0)) continue;
        const double w = step_weight(freq, u, amp[u]);
        weight_sum += w;
        weighted += w * freq[u];
    }
    const double avg = weight_sum != 0.0 ? weighted / weight_sum : fallback;
    return std::isfinite(avg) ? avg : fallback;  // weights beyond the double range
}

std::optional<FreqList> analysePitch(const std::uint8_t* bytes, std::size_t buffer_bytes,
                                     std::int32_t D, std::int32_t B, std::int32_t Ch,
                                     std::int32_t A, std::int32_t R, std::int32_t N,
                                     std::int32_t Step, std::int32_t fLo, std::int32_t fHi,
                                     std::uint16_t format_tag, std::FILE* progress) {
    const std::optional<PitchSetup> setup =
        pitch_setup(bytes, buffer_bytes, D, B, Ch, A, R, N, Step, fLo, fHi, format_tag);
    if (!setup) return std::nullopt;
    const PitchSetup& s = *setup;
    PitchWork work = pitch_work(s);

    say_setup(progress, s);

    const auto size = static_cast<std::size_t>(s.list_size);
    std::vector<std::int32_t> lag(size, 0);
    std::vector<std::int32_t> voiced(size, 0);
    std::vector<double> freq(size + 1, 0.0);
    std::vector<double> amp(size + 1, 0.0);

    say_progress(progress, "Frequenz auf    %lfHz %d\n", static_cast<double>(R) / s.maxLag, s.maxLag);
    say_progress(progress, "Frequenz bis zu %lfHz %d\n", static_cast<double>(R) / s.minLag, s.minLag);

    // Pass 1: a period per step, with the continuity correction.
    const std::int32_t count = s.list_count;
    for (std::int32_t i = 0; i < count; ++i) {
        const StepLag step = pitch_pass1_step(s, work, i);
        const auto u = static_cast<std::size_t>(i);
        lag[u] = step.lag;
        voiced[u] = step.voiced;
        if (i >= 1 && (voiced[u] == 1 || voiced[u - 1] == 1)) continuity_correct(lag, voiced, u);
        say_progress(progress, "pass 1 %d\t%d\t\r", i, lag[u]);
    }
    say_progress(progress, "List Count=%d\n", count);

    // Pass 2: refinement, level and the weighted average. A voiced step's
    // frequency is above 0 (R over a positive refined lag), an unvoiced one's 0.
    for (std::int32_t i = 0; i < count; ++i) {
        const auto u = static_cast<std::size_t>(i);
        const int shown = lag[u] > 0 ? static_cast<int>(std::ceil(10000.0 / lag[u])) : 0;
        say_progress(progress, "pass 2 %d\t%lf\t%d\r", i, lag[u] / 5000.0, shown);
        if (voiced[u] == 1) freq[u] = static_cast<double>(R) / pitch_refine(s, work, i, lag[u]);
        amp[u] = pitch_amplitude(s, work, i);
    }
    const double freq_avg = pitch_average(freq, amp, count, static_cast<double>(R) / s.maxLag);
    say_progress(progress, "\nfreq_avg=%lf\n", freq_avg);

    // A sample too short for a single step has no entry to look up.
    if (count < 1) return std::nullopt;

    FreqList list;
    list.step = Step;
    list.sample_rate = R;
    list.count = count;
    list.freq_avg = freq_avg;
    freq.resize(static_cast<std::size_t>(count) + 1);
    amp.resize(static_cast<std::size_t>(count) + 1);
    freq[static_cast<std::size_t>(count)] = freq[static_cast<std::size_t>(count) - 1];
    amp[static_cast<std::size_t>(count)] = amp[static_cast<std::size_t>(count) - 1];
    list.freqs = std::move(freq);
    list.amps = std::move(amp);
    return list;
}

}  // namespace kelmotra
