// The extended bend forms: choosing the form from the tempo text, and the
// pipelines through the text layers and the three coders. This is the
// header a caller of the codec includes: it also brings the layers
// themselves (ref_run.h), the differencing (bend_order.h), the standard
// form (base64_bend.h) and PitchBend.
//
// A "*" in the tempo text selects an extended form: the three characters
// after it name the coder ("hff", "cmp", "enc"; anything else means "enc")
// and the decimal number after them is the difference order, so "!120*hff2"
// is the Huffman coder with order 2 at tempo 120. Decoding runs decref,
// decrun, then the coder; encoding runs the coder, encrun, then encref.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pitchcodec/base64_bend.h"
#include "pitchcodec/bend_order.h"
#include "pitchcodec/pitch_bend.h"
#include "pitchcodec/ref_run.h"

namespace kelmotra {

// Coder numbers. Any mode other than kBendModeCmp and kBendModeHff selects
// the "enc" coder.
inline constexpr int kBendModeOther = 0;
inline constexpr int kBendModeEnc = 1;
inline constexpr int kBendModeCmp = 2;
inline constexpr int kBendModeHff = 3;

// The bend form a tempo text selects.
struct BendForm {
    bool extended = false;  // a "*" was found; false: the standard base64 form
    int mode = kBendModeOther;
    int order = 0;          // as written (saturated to int); the coders clamp it
};

// Reads the form from a tempo text: the first "*", the three characters
// after it compared case-sensitively with "hff", "cmp", "enc" (mode 3, 2, 1;
// else 0), and the order read as wcstol does from the fourth character
// after the "*" (0 when the text ends before it or no digits follow).
// Input: tempo_text (borrowed). Output: the form, by value.
BendForm selectbend(std::u16string_view tempo_text);

// Decodes an extended bend text.
// Inputs: text (borrowed), order, mode, msg = stream for the coders'
// messages (nullptr prints nothing).
// Output: the curve; empty when the text yields no value.
PitchBend decpitchx(std::u16string_view text, int order, int mode, std::FILE* msg);

// Encodes a curve in an extended form.
// Inputs: bend (borrowed), order, mode, msg as above.
// Output: the text, owned by the caller; std::nullopt when the coder gives
// none (an empty curve; the "enc" coder with an order of 5 or more).
std::optional<std::u16string> encpitchx(const PitchBend& bend, int order, int mode, std::FILE* msg);

// Reads a list of decimal numbers (point as separator) separated by blanks,
// each rounded to the nearest integer with halves upwards and saturated to
// -32768..32767. Reading stops at the first thing that is not a number, and
// after kMaxBendValues numbers.
// Input: numbers (borrowed). Output: the curve, by value.
PitchBend parsepitchlist(std::u16string_view numbers);

// Encodes a number list (read as parsepitchlist does) as encpitchx does.
// Inputs: numbers (borrowed), out = caller's buffer (may be empty); at most
// out.size() characters are copied, followed by a zero when the text is
// shorter than the buffer (no terminator when it fills it); order, mode, msg.
// Output: the full length of the encoded text in characters, also when it
// did not fit; 0 when there is no text.
std::size_t encpitchlist(std::u16string_view numbers, std::span<char16_t> out, int order, int mode,
                         std::FILE* msg);

// Decodes an extended text as decpitchx does and writes the values as
// decimal integers separated by single spaces.
// Inputs and output as encpitchlist.
std::size_t decpitchlist(std::u16string_view text, std::span<char16_t> out, int order, int mode,
                         std::FILE* msg);

// Decodes the bend argument of a note with the form its tempo argument
// selects (decpitchx, or decpitch64 when the tempo text has no "*").
// Inputs: tempo_text and bend_text (borrowed), msg = stream for the coders'
// messages (nullptr prints nothing), tempo = optional out-parameter (may be
// nullptr) receiving the integer part of the number that starts at the
// second character of tempo_text (point as separator; 0 for no number;
// saturated to -32768..32767).
// Output: the curve, or std::nullopt when the text holds no value.
std::optional<PitchBend> readbend(std::u16string_view tempo_text, std::u16string_view bend_text,
                                  std::FILE* msg, std::int16_t* tempo = nullptr);

}  // namespace kelmotra
