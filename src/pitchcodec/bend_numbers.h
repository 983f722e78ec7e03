// Number reading for bend and tempo texts: the integer reading of the C
// library's wide string-to-long conversion and a decimal reader with a point
// as separator, both bounded so that no text can overflow them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kelmotra {

// Result of reading a number from a text.
struct TextNumber {
    std::int64_t value = 0;  // the number read, saturated to [INT32_MIN, INT32_MAX]
    std::size_t end = 0;     // index just after the last character used; the
                             // start index when no digits were found
};

// Reads a decimal integer from text[pos..] as wcstol with base 10 does:
// optional blanks (space, \t \n \v \f \r), an optional sign, then digits.
// Inputs: text (borrowed), pos = start index (may be past the end).
// Output: value (0 and end = pos when no digit follows), saturated to the
// 32-bit int range.
TextNumber readlong(std::u16string_view text, std::size_t pos);

// Result of reading a decimal number.
struct TextDouble {
    double value = 0;     // the number; +-inf when it overflows a double, 0 for no number
    std::size_t end = 0;  // index after the number; pos when there is none
};

// Reads a decimal floating-point number from text[pos..] as wcstod does in
// the "C" locale: optional blanks, an optional sign, digits with an optional
// point (always '.', whatever the locale), an optional exponent, or one of
// "inf", "infinity", "nan" (any case).
// Inputs: text (borrowed), pos = start index. Output: value and end index.
TextDouble readdouble(std::u16string_view text, std::size_t pos);

// Integer part of x saturated to the signed 16-bit range; NaN gives 0.
// Input: x (any double). Output: trunc(x) clamped to -32768..32767.
std::int16_t saturate16(double x);

}  // namespace kelmotra
