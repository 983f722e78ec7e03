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

#if defined(__x86_64__) && !defined(_WIN32) && defined(__GNUC__)
#define KELMOTRA_VEC4_AVX 1
#include <immintrin.h>

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

}  // namespace kelmotra

#pragma GCC pop_options

#endif
