// The standard pitch-bend text: two base64 digits per value, with runs of
// repeats written "#count#". Also the digit rule every bend text shares.
//
// A value v in -2048..2047 is written as two digits of its 12-bit two's
// complement, bits 11..6 first ("AA" = 0, "Bk" = 100, "//" = -1). "#k#"
// repeats the last value k more times; AA#3#Bk is 0, 0, 0, 0, 100.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pitchcodec/pitch_bend.h"

namespace kelmotra {

// The 64 base64 digits (RFC 4648, no padding); a digit's value is its index.
inline constexpr std::u16string_view kBase64Digits =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of a base64 digit.
// Input: c, one UTF-16 character. Output: 0..63, or -1 for any other character.
int digitval(char16_t c);

// The digit for the low six bits of v.
// Input: v (any int; only v & 63 is used). Output: one of kBase64Digits.
char16_t base64digit(int v);

// The two-digit pair of one value.
// Input: value in cents; only its low 12 bits are written, so values outside
// -2048..2047 come back reduced modulo 4096.
// Output: a new two-character text, returned by value.
std::u16string pitchpair(int value);

// Decodes a standard bend text.
// Input: text (borrowed), pairs and "#k#" runs; characters outside the
// alphabet count as digit 0 and a missing last digit counts as 0; a run
// count is read as wcstol does, and a count of 0 or less repeats nothing.
// Output: the curve, owned by the caller; empty when the text holds no value.
// At most kMaxBendValues values: anything after that is dropped, so no run
// count can make the curve large.
PitchBend decpitch64(std::u16string_view text);

// Encodes a curve in the standard form.
// Input: bend (borrowed); only its first kMaxBendValues values are written.
// Output: the text, owned by the caller; std::nullopt for an empty curve.
// One repeat is written as the pair again, two or more as "#r#".
std::optional<std::u16string> encpitch64(const PitchBend& bend);

}  // namespace kelmotra
