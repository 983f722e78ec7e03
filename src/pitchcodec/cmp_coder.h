// The "cmp" bend coder, tuned for smooth curves: two consecutive small
// order-N differences (each -4..3) share one base64 digit, three bits each
// (high bits first, 3-bit two's complement); other differences are tokens:
//
//   "'" x     -32..31
//   "!" x     32..63, -64..-33
//   "@" x y   64..2111, -2112..-65 (as in the "enc" coder)
//
// Runs of zero differences become runs of "A", left to the filler-run layer.
// Order 1, values 5, 6, 7, 100, 101 encode as 'FJ@dA'B.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pitchcodec/pitch_bend.h"

namespace kelmotra {

// The token of one difference written alone.
// Input: d in cents, taken as a 16-bit value and clamped to -2048..2047.
// Output: a two- or three-character text, returned by value.
std::u16string cmptoken(std::int32_t d);

// Encodes a curve with the "cmp" tokens.
// Inputs: bend (borrowed; only its first kMaxBendValues values are used),
// order (any; above 3 acts as 3, negative as 0).
// Output: the text, owned by the caller; std::nullopt for an empty curve.
// Differences beyond -2048..2047 are clamped.
std::optional<std::u16string> enccmp(const PitchBend& bend, int order);

// Decodes a "cmp" text (after decref and decrun).
// Inputs: text (borrowed), order. Output: the curve (empty when nothing
// could be read). Reading ends at the first character that is neither a
// digit nor a complete token; at most kMaxBendValues values.
PitchBend deccmp(std::u16string_view text, int order);

}  // namespace kelmotra
