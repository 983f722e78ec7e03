// The real transforms of audio/transforms.h computed through a complex
// transform of half the length: the n reals x[0..n) are taken as n/2
// complex numbers z[m] = x[2m] + i x[2m+1], transformed by a self-sorting
// (Stockham) radix-4 transform that works on the real and imaginary parts
// kept apart, two butterflies at a time on pairs of doubles (audio/vec2.h)
// or, for the frame size (1024 points) on x86-64 Linux where the CPU has
// AVX, four at a time (audio/vec4.h) with the same bits as the result, and
// split into the spectrum of x; the inverse runs the same steps
// backwards. About half the operations of the radix-2
// real transform, in the same spectrum layout and scaling; the results
// agree with it to rounding (not bit for bit).
//
// Both run in place on the caller's array of n doubles, read only the twiddle
// table of the same n (Tables::twiddle), make no trigonometric call and
// allocate nothing. Their scratch is the caller's work area when one is
// given (a loop that runs them every hop keeps it with its other work
// arrays), else on the stack (32 KB at most).
#pragma once

#include <cstdint>

namespace kelmotra {

// Sizes the packed transforms take: powers of two from 16 to 4096.
inline constexpr std::int32_t kPackedMinSize = 16;
inline constexpr std::int32_t kPackedMaxSize = 4096;

// Doubles of scratch a work area for the transforms of n points holds.
inline constexpr std::int32_t packed_work_size(std::int32_t n) { return 2 * n; }

// Which code runs the frame size (1024 points): the widest the build and the
// CPU offer, or the two-lane code every build has. Both give the same bits;
// the choice is there so that tests can compare them.
enum class PackedLanes { widest, two };

// Whether the widest code of the frame size is four lanes (AVX) here.
bool packed_rdft_four_lanes();

// x (n doubles) becomes its spectrum in the layout of rdft_forward. work:
// packed_work_size(n) doubles of scratch owned by the caller (contents on
// entry and return of no meaning), or nullptr for scratch on the stack.
void packed_rdft_forward(std::int32_t n, double* x, const double* twiddle,
                         double* work = nullptr, PackedLanes lanes = PackedLanes::widest);

// y (n doubles in that layout) becomes the frame of rdft_inverse. work as for
// packed_rdft_forward.
void packed_rdft_inverse(std::int32_t n, double* y, const double* twiddle,
                         double* work = nullptr, PackedLanes lanes = PackedLanes::widest);

}  // namespace kelmotra
