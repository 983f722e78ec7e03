// The "hff" bend coder: the order-N differences of a curve under a canonical
// Huffman code built for that curve, with the code table sent in front.
//
// Bits, most significant first, before packing into base64 digits:
//   header  number of table entries           exp-Golomb order 4
//   table   per entry: zigzag of its value    exp-Golomb order 3
//           its code length minus the previous entry's   exp-Golomb order 0
//   data    the code of every difference, in curve order
// Codes are assigned canonically from the lengths in table order. The last
// three bits of the text hold p; the final p + 3 bits are not payload.
// Order 0, values 0, 0, 0, 1 encode as lCqI.
//
// Bit sequences are handled as narrow texts of '0' and '1' ("bitstrings").
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "pitchcodec/pitch_bend.h"

namespace kelmotra {

// The n-bit bitstring of value, most significant bit first.
// Inputs: value, n = number of bits (0 or less gives an empty text; bits
// above the 64th are 0). Output: the bitstring, returned by value.
std::string bitsof(std::uint64_t value, int n);

// The integer in the first n bits of a bitstring, missing bits counting as 0.
// Inputs: bits (borrowed), n. Output: the integer modulo 2^64 (only the last
// 64 of the n bits count).
std::uint64_t valueof(std::string_view bits, std::size_t n);

// The exponential-Golomb code of order k: t = value + 2^k in base 2, after
// (bit length of t) - k - 1 zeros. Order 0: 0 = 1, 1 = 010, 3 = 00100.
// Inputs: value (below 2^62), k (0..32). Output: the bitstring, by value.
std::string writegolomb(std::uint64_t value, int k);

// Result of reading one exponential-Golomb code.
struct GolombRead {
    std::uint64_t value = 0;  // the value; UINT64_MAX when it does not fit in 64 bits
    std::size_t next = 0;     // bit position after the code, at most the bit count
};

// Reads an exponential-Golomb code of order k at bit position pos.
// Inputs: bits (borrowed), pos, k (0..32). Bits past the end read as 0. When
// the zero prefix runs to the end, the value is 0 and next is the end.
GolombRead readgolomb(std::string_view bits, std::size_t pos, int k);

// Encodes a curve with a Huffman code of its order-N differences.
// Inputs: bend (borrowed; only its first kMaxBendValues values are used),
// order (above 3 acts as 3, negative as 0), msg = stream for messages
// (nullptr prints nothing).
// Output: the text, owned by the caller; std::nullopt for an empty curve, or
// when the histogram cannot be allocated ("Alloc err.\n" on msg). Every
// 16-bit curve comes back exactly. A curve with a single distinct difference
// gets code length 1 (code 0), so that the data bits carry the count.
std::optional<std::u16string> enchff(const PitchBend& bend, int order, std::FILE* msg);

// Decodes an "hff" text (after decref and decrun).
// Inputs: text (borrowed; a non-digit counts as six one bits), order, msg.
// Output: the curve, at most kMaxBendValues values. Empty when the text has
// fewer than 3 bits, when p + 3 exceeds the bit count, when the header asks
// for more entries than there are payload bits, or when the table uses up
// the payload. Entries of code length 0, and of more than 64 bits, never
// match. Data bits that match no entry print "[Huffman-Code ist kaputt!]"
// on msg and end decoding, keeping the values before them.
PitchBend dechff(std::u16string_view text, int order, std::FILE* msg);

}  // namespace kelmotra
