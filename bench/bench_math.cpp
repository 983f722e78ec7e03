// Speed of the deterministic elementary functions against the C library's,
// over the argument ranges the renderer uses. Target: each det_ function no
// slower than its standard counterpart.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/det_math.h"

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr std::size_t kCount = 4096;

// Arguments as the renderer produces them: table angles 2*pi*k/N, phases in
// [-pi, pi] and stretch angles 2*pi*j/m up to a few thousand radians.
std::vector<double> angles() {
    std::vector<double> v;
    v.reserve(kCount);
    std::uint64_t s = 0x9e3779b97f4a7c15u;
    for (std::size_t i = 0; i < kCount; ++i) {
        s = s * 6364136223846793005u + 1442695040888963407u;
        const double u = static_cast<double>(s >> 11) * 0x1p-53;  // [0, 1)
        switch (i % 3) {
            case 0: v.push_back(kTwoPi * static_cast<double>(i % 1024) / 1024.0); break;
            case 1: v.push_back((u - 0.5) * kTwoPi); break;
            default: v.push_back(kTwoPi * u * 2048.0 / 3.0); break;
        }
    }
    return v;
}

// Pairs (a, b) of spectrum-like values: mixed signs, magnitudes 1e-3..1e5.
std::vector<double> pairs() {
    std::vector<double> v;
    v.reserve(2 * kCount);
    std::uint64_t s = 12345;
    for (std::size_t i = 0; i < 2 * kCount; ++i) {
        s = s * 6364136223846793005u + 1442695040888963407u;
        const double u = static_cast<double>(s >> 11) * 0x1p-53;
        const double mag = std::exp2(-10.0 + 27.0 * u);
        v.push_back((s >> 7) & 1 ? mag : -mag);
    }
    return v;
}

// (x, y) for pow: frequency ratios 2^(cents/1200) and level curves.
std::vector<double> pow_args() {
    std::vector<double> v;
    v.reserve(2 * kCount);
    std::uint64_t s = 777;
    for (std::size_t i = 0; i < kCount; ++i) {
        s = s * 6364136223846793005u + 1442695040888963407u;
        const double u = static_cast<double>(s >> 11) * 0x1p-53;
        if (i % 2 == 0) {
            v.push_back(2.0);
            v.push_back((u - 0.5) * 8.0);  // +-2400 cents as octaves
        } else {
            v.push_back(1e-3 + 1e3 * u);
            v.push_back(0.3 + 2.0 * u);
        }
    }
    return v;
}

template <double (*F)(double)>
void unary(benchmark::State& state) {
    const std::vector<double> v = angles();
    for (auto _ : state) {
        double acc = 0;
        for (double x : v) acc += F(x);
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kCount));
}

template <double (*F)(double, double)>
void binary(benchmark::State& state, const std::vector<double>& v) {
    for (auto _ : state) {
        double acc = 0;
        for (std::size_t i = 0; i + 1 < v.size(); i += 2) acc += F(v[i], v[i + 1]);
        benchmark::DoNotOptimize(acc);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * (v.size() / 2)));
}

double std_sin(double x) { return std::sin(x); }
double std_cos(double x) { return std::cos(x); }
double std_atan2(double y, double x) { return std::atan2(y, x); }
double std_hypot(double x, double y) { return std::hypot(x, y); }
double std_pow(double x, double y) { return std::pow(x, y); }

void BM_det_sin(benchmark::State& s) { unary<kelmotra::det_sin>(s); }
void BM_std_sin(benchmark::State& s) { unary<std_sin>(s); }
void BM_det_cos(benchmark::State& s) { unary<kelmotra::det_cos>(s); }
void BM_std_cos(benchmark::State& s) { unary<std_cos>(s); }
void BM_det_atan2(benchmark::State& s) { binary<kelmotra::det_atan2>(s, pairs()); }
void BM_std_atan2(benchmark::State& s) { binary<std_atan2>(s, pairs()); }
void BM_det_hypot(benchmark::State& s) { binary<kelmotra::det_hypot>(s, pairs()); }
void BM_std_hypot(benchmark::State& s) { binary<std_hypot>(s, pairs()); }
void BM_det_pow(benchmark::State& s) { binary<kelmotra::det_pow>(s, pow_args()); }
void BM_std_pow(benchmark::State& s) { binary<std_pow>(s, pow_args()); }

BENCHMARK(BM_det_sin);
BENCHMARK(BM_std_sin);
BENCHMARK(BM_det_cos);
BENCHMARK(BM_std_cos);
BENCHMARK(BM_det_atan2);
BENCHMARK(BM_std_atan2);
BENCHMARK(BM_det_hypot);
BENCHMARK(BM_std_hypot);
BENCHMARK(BM_det_pow);
BENCHMARK(BM_std_pow);

}  // namespace
