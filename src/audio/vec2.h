// Pairs of doubles for the per-bin and per-sample loops: two independent
// IEEE double operations per instruction.
//
// On x86 (both Windows editions are built for SSE2, and x86-64 always has
// it) a V2 is an SSE2 register and every helper below is one or two SSE2
// instructions: every edition runs the same instructions, so every lane
// rounds exactly as the scalar double operation would. Elsewhere the same
// helpers work lane by lane through the compiler's generic vectors, with the
// same results. No helper here allocates or keeps state.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define KELMOTRA_VEC2_SSE2 1
#endif

namespace kelmotra {

#ifdef KELMOTRA_VEC2_SSE2
using V2 = __m128d;  // lanes 0 and 1; + - * / work lane by lane
#else
typedef double V2 __attribute__((vector_size(16)));
#endif

// Comparisons give lane masks: all ones where true, zero where false.
#ifdef KELMOTRA_VEC2_SSE2
inline V2 v2_set(double lane0, double lane1) { return _mm_set_pd(lane1, lane0); }
inline V2 v2_splat(double v) { return _mm_set1_pd(v); }
inline V2 v2_load(const double* p) { return _mm_loadu_pd(p); }
inline void v2_store(double* p, V2 v) { _mm_storeu_pd(p, v); }
inline double v2_lane0(V2 v) { return _mm_cvtsd_f64(v); }
inline double v2_lane1(V2 v) { return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)); }
inline V2 v2_swap(V2 v) { return _mm_shuffle_pd(v, v, 1); }
inline V2 v2_lo(V2 a, V2 b) { return _mm_unpacklo_pd(a, b); }  // (a0, b0)
inline V2 v2_hi(V2 a, V2 b) { return _mm_unpackhi_pd(a, b); }  // (a1, b1)
inline V2 v2_sqrt(V2 v) { return _mm_sqrt_pd(v); }
inline V2 v2_min(V2 a, V2 b) { return _mm_min_pd(a, b); }  // a < b ? a : b, per lane
inline V2 v2_max(V2 a, V2 b) { return _mm_max_pd(a, b); }  // a > b ? a : b, per lane
inline V2 v2_and(V2 a, V2 b) { return _mm_and_pd(a, b); }
inline V2 v2_andnot(V2 a, V2 b) { return _mm_andnot_pd(a, b); }  // ~a & b
inline V2 v2_or(V2 a, V2 b) { return _mm_or_pd(a, b); }
inline V2 v2_xor(V2 a, V2 b) { return _mm_xor_pd(a, b); }
inline V2 v2_lt(V2 a, V2 b) { return _mm_cmplt_pd(a, b); }
inline V2 v2_gt(V2 a, V2 b) { return _mm_cmpgt_pd(a, b); }
inline V2 v2_le(V2 a, V2 b) { return _mm_cmple_pd(a, b); }
inline V2 v2_ge(V2 a, V2 b) { return _mm_cmpge_pd(a, b); }
inline V2 v2_eq(V2 a, V2 b) { return _mm_cmpeq_pd(a, b); }
inline V2 v2_ne(V2 a, V2 b) { return _mm_cmpneq_pd(a, b); }  // true for NaN lanes
inline int v2_mask(V2 m) { return _mm_movemask_pd(m); }  // bit i: sign bit of lane i
// Each lane truncated toward zero through a 32-bit integer and back; only
// meaningful for lanes below 2^31 in magnitude.
inline V2 v2_trunc32(V2 v) { return _mm_cvtepi32_pd(_mm_cvttpd_epi32(v)); }
// The truncated lanes as two 32-bit integers (same range condition).
inline void v2_trunc_ints(V2 v, std::int32_t& i0, std::int32_t& i1) {
    const __m128i t = _mm_cvttpd_epi32(v);
    i0 = _mm_cvtsi128_si32(t);
    i1 = _mm_cvtsi128_si32(_mm_shuffle_epi32(t, 1));
}
#else
inline V2 v2_set(double lane0, double lane1) { return V2{lane0, lane1}; }
inline V2 v2_splat(double v) { return V2{v, v}; }
inline V2 v2_load(const double* p) {
    V2 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void v2_store(double* p, V2 v) { std::memcpy(p, &v, sizeof v); }
inline double v2_lane0(V2 v) { return v[0]; }
inline double v2_lane1(V2 v) { return v[1]; }
inline V2 v2_swap(V2 v) { return V2{v[1], v[0]}; }
inline V2 v2_lo(V2 a, V2 b) { return V2{a[0], b[0]}; }
inline V2 v2_hi(V2 a, V2 b) { return V2{a[1], b[1]}; }
inline V2 v2_sqrt(V2 v) { return V2{std::sqrt(v[0]), std::sqrt(v[1])}; }
inline V2 v2_min(V2 a, V2 b) { return V2{a[0] < b[0] ? a[0] : b[0], a[1] < b[1] ? a[1] : b[1]}; }
inline V2 v2_max(V2 a, V2 b) { return V2{a[0] > b[0] ? a[0] : b[0], a[1] > b[1] ? a[1] : b[1]}; }
typedef std::int64_t V2Bits __attribute__((vector_size(16)));
inline V2Bits v2_bits(V2 v) {
    V2Bits b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}
inline V2 v2_from_bits(V2Bits b) {
    V2 v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}
inline V2 v2_and(V2 a, V2 b) { return v2_from_bits(v2_bits(a) & v2_bits(b)); }
inline V2 v2_andnot(V2 a, V2 b) { return v2_from_bits(~v2_bits(a) & v2_bits(b)); }
inline V2 v2_or(V2 a, V2 b) { return v2_from_bits(v2_bits(a) | v2_bits(b)); }
inline V2 v2_xor(V2 a, V2 b) { return v2_from_bits(v2_bits(a) ^ v2_bits(b)); }
inline V2 v2_lt(V2 a, V2 b) { return v2_from_bits(a < b); }
inline V2 v2_gt(V2 a, V2 b) { return v2_from_bits(a > b); }
inline V2 v2_le(V2 a, V2 b) { return v2_from_bits(a <= b); }
inline V2 v2_ge(V2 a, V2 b) { return v2_from_bits(a >= b); }
inline V2 v2_eq(V2 a, V2 b) { return v2_from_bits(a == b); }
inline V2 v2_ne(V2 a, V2 b) { return v2_from_bits(a != b); }
inline int v2_mask(V2 m) {
    const V2Bits b = v2_bits(m);
    return (b[0] < 0 ? 1 : 0) | (b[1] < 0 ? 2 : 0);
}
inline V2 v2_trunc32(V2 v) {
    return V2{static_cast<double>(static_cast<std::int32_t>(v[0])),
              static_cast<double>(static_cast<std::int32_t>(v[1]))};
}
inline void v2_trunc_ints(V2 v, std::int32_t& i0, std::int32_t& i1) {
    i0 = static_cast<std::int32_t>(v[0]);
    i1 = static_cast<std::int32_t>(v[1]);
}
#endif

// The lanes of v whose magnitude is below 2^31 (so v2_trunc32 is exact for
// them): bit i set for lane i. NaN lanes are not below.
inline int v2_int_range_mask(V2 v) {
    const V2 a = v2_andnot(v2_splat(-0.0), v);
    return v2_mask(v2_lt(a, v2_splat(2147483648.0)));
}

// Lanes of mask m (all ones / zero) select a, others b.
inline V2 v2_select(V2 m, V2 a, V2 b) { return v2_or(v2_and(m, a), v2_andnot(m, b)); }

// |v| per lane, and v with its sign bit replaced by that of s.
inline V2 v2_abs(V2 v) { return v2_andnot(v2_splat(-0.0), v); }
inline V2 v2_sign_of(V2 s) { return v2_and(v2_splat(-0.0), s); }

// floor(x + 0.5) per lane, exactly as the scalar floor_plus_half of the pitch
// shift gives it, for lanes with |x + 0.5| below 2^31: the caller checks
// v2_int_range_mask(x + 0.5) and handles other lanes itself.
inline V2 v2_floor_plus_half_in_range(V2 y /* x + 0.5 */) {
    const V2 t = v2_trunc32(y);
    return t - v2_and(v2_gt(t, y), v2_splat(1.0));
}

}  // namespace kelmotra
