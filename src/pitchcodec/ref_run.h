// The two text layers around every extended bend coder (bend_layers.h
// chains them with the coders).
//
// Filler runs: a run of r digits "A" is written "A", "AA", "$" + digit
// (r = 3..66) or "#" + two digits (r = 67..2114, field r - 67 low six bits
// first). Back references: "[", "]", "{" or "}" + a distance digit + a
// length digit copy an earlier stretch of the output (distance 1..128,
// length 4..131). Writing applies runs, then references; reading undoes
// references, then runs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "pitchcodec/pitch_bend.h"

namespace kelmotra {

// Longest run one "#" token covers (field 2047).
inline constexpr std::size_t kMaxRunToken = 2114;

// The token(s) for a run of r digits "A" (or r zero differences in the "enc"
// coder). Runs longer than kMaxRunToken are written as full "#/f" tokens
// followed by the remainder, so every length is representable.
// Input: r = run length in characters (0 gives an empty text).
// Output: the token text, returned by value.
std::u16string runtoken(std::size_t r);

// Shortens the runs of "A" in text; other characters are copied.
// Input: text (borrowed). Output: new text; empty for an empty input.
std::u16string encrun(std::u16string_view text);

// Expands "$x" and "#xy" into runs of "A"; other characters are copied.
// Input: text (borrowed). Output: new text. A "$" or "#" without the digits
// it needs ends reading there; the output stops at kMaxLayerText characters.
std::u16string decrun(std::u16string_view text);

// Replaces repeated stretches of at least 4 characters by back references to
// the previous 128 characters (longest match, nearest on ties, at most 131).
// Input: text (borrowed). Output: new text; empty for an empty input.
std::u16string encref(std::u16string_view text);

// Resolves back references; other characters are copied.
// Input: text (borrowed). Output: new text. A bracket without two digits, or
// a reference reaching before the start of the output, ends reading there;
// the output stops at kMaxLayerText characters.
std::u16string decref(std::u16string_view text);

}  // namespace kelmotra
