// Order-N differencing, shared by the three extended bend coders.
//
// With order N, value j (from 0) is stored as its difference of order
// k = min(N, j, 3): the first values fill the history, later ones are third
// differences at most. Orders above 3 act as 3, negative orders as 0.
// With order 1, 10, 12, 15 become 10, 2, 3; with order 2, 10, 2, 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelmotra {

// The effective order: order clamped to 0..3.
int clamporder(int order);

// The order-N difference of values[j], computed in 32-bit arithmetic.
// Inputs: values (borrowed, the curve in cents), j < values.size(), order.
// Output: the difference (may exceed the 16-bit range for wild curves).
std::int32_t benddiff(const std::vector<std::int16_t>& values, std::size_t j, int order);

// Rebuilds the next value from its difference and the values rebuilt so far
// (the inverse of benddiff), in 32-bit arithmetic, stored as a 16-bit value
// (wrapping), and appends it. Any d is safe.
// Inputs: values (the curve so far, modified: one value appended), d = the
// difference, order.
void bendrebuild(std::vector<std::int16_t>& values, std::int32_t d, int order);

}  // namespace kelmotra
