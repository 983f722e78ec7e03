// The decoded pitch-bend curve of one note, and the limits every bend
// decoder keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelmotra {

// A pitch-bend curve: the bend values in cents (1/100 semitone), in time
// order, one per bend step of the note. A plain value type; the count is
// values.size(), at most kMaxBendValues. An empty curve means "no bend".
struct PitchBend {
    std::vector<std::int16_t> values;
};

// Most values a curve can hold (the count is a signed 16-bit number in the
// bend texts' world). Decoders stop appending at this count; encoders use
// only the first kMaxBendValues values of a longer curve.
inline constexpr std::size_t kMaxBendValues = 32767;

// Longest intermediate text the back-reference and filler-run layers build
// while decoding, in characters. A short text can ask for far more through
// nested repeats; output beyond this is cut off, which bounds memory use.
inline constexpr std::size_t kMaxLayerText = 1048576;

}  // namespace kelmotra
