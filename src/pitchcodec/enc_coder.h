// The "enc" bend coder: each order-N difference as a token of one to three
// characters, runs of zero differences as run tokens.
//
//   one digit x   -32..31      6-bit two's complement ("F" = 5, "2" = -10)
//   "!" x         32..63, -64..-33
//   "@" x y       64..2111, -2112..-65 (w = x + 64y; w < 2048: w + 64, else w - 4160)
//   "$" x         x + 3 zero differences
//   "#" x y       x + 64y + 67 zero differences
//
// Order 0, values 0, 0, 0, 5, 5, 100 encode as $AFF@kA.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "pitchcodec/pitch_bend.h"

namespace kelmotra {

// The token of one difference.
// Input: d, a difference in cents, clamped to -2048..2047 first.
// Output: a one- to three-character text, returned by value.
std::u16string pitchtoken(std::int32_t d);

// Encodes a curve with the "enc" tokens.
// Inputs: bend (borrowed; only its first kMaxBendValues values are used),
// order (negative acts as 0, 4 as 3), msg = stream for messages (nullptr
// prints nothing).
// Output: the text, owned by the caller, or std::nullopt for an empty curve
// or an order of 5 or more (which also prints
// "encpitch: Argument 2 ist anomal.\n" on msg). Differences beyond
// -2048..2047 are clamped, so such curves do not come back exactly.
std::optional<std::u16string> encpitch(const PitchBend& bend, int order, std::FILE* msg);

// Decodes an "enc" text (after decref and decrun).
// Inputs: text (borrowed), order. Output: the curve (empty when the text
// holds no token). A malformed token ends decoding, keeping what came
// before; at most kMaxBendValues values.
PitchBend decpitch(std::u16string_view text, int order);

}  // namespace kelmotra
