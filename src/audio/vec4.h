// Quadruples of doubles (AVX) for the frame transforms' hot loops, where the
// CPU has AVX: four independent IEEE double operations per instruction, each
// lane rounding exactly as the scalar operation and as a lane of audio/vec2.h
// would, so code that does per lane what the two-lane code does gives the
// same bits. Never fused multiply-adds (they round once where a product and a
// sum round twice).
//
// Only x86-64 builds other than Windows have them (KELMOTRA_VEC4_AVX):
// MinGW-w64's GCC does not keep the 32-byte stack alignment that spilled
// AVX registers need, so both Windows editions and 32-bit builds keep the
// two-lane code. The helpers are compiled for AVX whatever the build's
// flags; call them only from functions compiled for AVX too, and those only
// when vec4_cpu_has_avx() says so. No helper here allocates or keeps state.
#pragma once

// GCC only: clang (the fuzzers' compiler) marks target regions another way,
// and its builds keep the two-lane code.
#if defined(__x86_64__) && !defined(_WIN32) && defined(__GNUC__) && !defined(__clang__)
#define KELMOTRA_VEC4_AVX 1
#include <immintrin.h>

#include <cstdint>

#include "audio/vec2.h"

namespace kelmotra {

// Whether this CPU (and the system, which must save the AVX registers) runs
// AVX instructions. Asks the compiler's runtime, which looks once at start.
inline bool vec4_cpu_has_avx() { return __builtin_cpu_supports("avx"); }

}  // namespace kelmotra

#pragma GCC push_options
#pragma GCC target("avx")

namespace kelmotra {

using V4 = __m256d;  // lanes 0..3; + - * / work lane by lane

inline V4 v4_load(const double* p) { return _mm256_loadu_pd(p); }
inline void v4_store(double* p, V4 v) { _mm256_storeu_pd(p, v); }
// (lo0, lo1, hi0, hi1).
inline V4 v4_join(V2 lo, V2 hi) { return _mm256_insertf128_pd(_mm256_castpd128_pd256(lo), hi, 1); }
// Within each half, as v2_lo and v2_hi: (a0, b0, a2, b2) and (a1, b1, a3, b3).
inline V4 v4_lo(V4 a, V4 b) { return _mm256_unpacklo_pd(a, b); }
inline V4 v4_hi(V4 a, V4 b) { return _mm256_unpackhi_pd(a, b); }
// Low halves (a0, a1, b0, b1) and high halves (a2, a3, b2, b3).
inline V4 v4_low_halves(V4 a, V4 b) { return _mm256_permute2f128_pd(a, b, 0x20); }
inline V4 v4_high_halves(V4 a, V4 b) { return _mm256_permute2f128_pd(a, b, 0x31); }

// The helpers of audio/vec2.h, four lanes wide, with the same rounding and
// the same results for NaN lanes (comparisons false, v4_ne true).
inline V4 v4_set(double l0, double l1, double l2, double l3) { return _mm256_set_pd(l3, l2, l1, l0); }
inline V4 v4_splat(double v) { return _mm256_set1_pd(v); }
inline V4 v4_sqrt(V4 v) { return _mm256_sqrt_pd(v); }
inline V4 v4_min(V4 a, V4 b) { return _mm256_min_pd(a, b); }  // a < b ? a : b, per lane
inline V4 v4_max(V4 a, V4 b) { return _mm256_max_pd(a, b); }  // a > b ? a : b, per lane
inline V4 v4_and(V4 a, V4 b) { return _mm256_and_pd(a, b); }
inline V4 v4_andnot(V4 a, V4 b) { return _mm256_andnot_pd(a, b); }  // ~a & b
inline V4 v4_xor(V4 a, V4 b) { return _mm256_xor_pd(a, b); }
inline V4 v4_lt(V4 a, V4 b) { return _mm256_cmp_pd(a, b, _CMP_LT_OS); }
inline V4 v4_gt(V4 a, V4 b) { return _mm256_cmp_pd(a, b, _CMP_GT_OS); }
inline V4 v4_ne(V4 a, V4 b) { return _mm256_cmp_pd(a, b, _CMP_NEQ_UQ); }  // true for NaN lanes
inline int v4_mask(V4 m) { return _mm256_movemask_pd(m); }  // bit i: sign bit of lane i
inline V4 v4_abs(V4 v) { return v4_andnot(v4_splat(-0.0), v); }
inline V4 v4_sign_of(V4 s) { return v4_and(v4_splat(-0.0), s); }
// (v3, v2, v1, v0): four bins read from the mirrored half of a spectrum.
inline V4 v4_reverse(V4 v) {
    const V4 swapped = _mm256_permute_pd(v, 0x5);  // (v1, v0, v3, v2)
    return _mm256_permute2f128_pd(swapped, swapped, 0x01);
}
// Each lane truncated toward zero to a 32-bit integer, as double and as
// integers; only meaningful for lanes below 2^31 in magnitude.
inline V4 v4_trunc32(V4 v) { return _mm256_cvtepi32_pd(_mm256_cvttpd_epi32(v)); }
// Lanes whose magnitude is below 2^31 (so v4_trunc32 is exact for them):
// bit i set for lane i, as v2_int_range_mask. NaN lanes are not below.
inline int v4_int_range_mask(V4 v) { return v4_mask(v4_lt(v4_abs(v), v4_splat(2147483648.0))); }
inline V4 v4_le(V4 a, V4 b) { return _mm256_cmp_pd(a, b, _CMP_LE_OS); }
inline V4 v4_ge(V4 a, V4 b) { return _mm256_cmp_pd(a, b, _CMP_GE_OS); }
// floor(y) of lanes y = x + 0.5 inside v4_int_range_mask, as
// v2_floor_plus_half_in_range.
inline V4 v4_floor_plus_half_in_range(V4 y) {
    const V4 t = v4_trunc32(y);
    return t - v4_and(v4_gt(t, y), v4_splat(1.0));
}
inline void v4_trunc_ints(V4 v, std::int32_t i[4]) {
    const __m128i t = _mm256_cvttpd_epi32(v);
    i[0] = _mm_cvtsi128_si32(t);
    i[1] = _mm_extract_epi32(t, 1);
    i[2] = _mm_extract_epi32(t, 2);
    i[3] = _mm_extract_epi32(t, 3);
}

}  // namespace kelmotra

#pragma GCC pop_options

#endif
