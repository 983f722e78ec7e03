// Fuzz target: the bend codec's entry point with random tempo and bend texts,
// in the standard form and every extended one.
//
// Input layout:
//   byte 0   the form: 0 "!120" (standard), 1 "!120*enc", 2 "!120*cmp",
//            3 "!120*hff", anything else a fuzzed tempo text
//   byte 1   the order digit appended to an extended form (byte % 6: 0..4,
//            5 for none) and the coder of the round trip ((byte / 6) % 3)
//   then     for a fuzzed tempo text: its bytes up to the first NUL
//   rest     the bend text, one character per byte; 0xFF takes the next two
//            bytes as one 16-bit character (little-endian), so that any
//            UTF-16 unit can occur
//
// A decoded curve must respect the codec's limits, and encoding it again in
// an extended form must decode to the same curve (for the "enc" and "cmp"
// coders only when its differences fit their tokens).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include KELMOTRA_READBEND_HEADER

namespace {

std::FILE* null_stream() {
    static std::FILE* devnull = std::fopen("/dev/null", "w");
    return devnull;
}

// Round trips are checked on curves up to this length: the encoders' match
// search is quadratic-ish and would slow every run down.
constexpr std::size_t kRoundTripMax = 2048;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const char16_t* const kForms[] = {u"!120", u"!120*enc", u"!120*cmp", u"!120*hff"};
    std::u16string tempo;
    std::size_t pos = 2;
    if (data[0] < 4) {
        tempo = kForms[data[0]];
        if (data[0] > 0 && data[1] % 6 < 5) tempo.push_back(static_cast<char16_t>(u'0' + data[1] % 6));
    } else {
        while (pos < size && data[pos] != 0) tempo.push_back(static_cast<char16_t>(data[pos++]));
        ++pos;  // the NUL
    }
    std::u16string bend;
    while (pos < size) {
        if (data[pos] == 0xFF && pos + 2 < size) {
            bend.push_back(static_cast<char16_t>(data[pos + 1] | (data[pos + 2] << 8)));
            pos += 3;
        } else {
            bend.push_back(static_cast<char16_t>(data[pos++]));
        }
    }

    std::int16_t tempo_value = 0;
    const auto curve = kelmotra::readbend(tempo, bend, null_stream(), &tempo_value);
    if (!curve) return 0;
    if (curve->values.empty() || curve->values.size() > kelmotra::kMaxBendValues) std::abort();

    // The same text through the list interface, into a buffer that may be too
    // short (its length from the text), must stay inside the buffer.
    const kelmotra::BendForm form = kelmotra::selectbend(tempo);
    if (form.extended) {
        std::vector<char16_t> buffer(bend.size() % 97);
        (void)kelmotra::decpitchlist(bend, buffer, form.order, form.mode, null_stream());
    }

    if (curve->values.size() > kRoundTripMax) return 0;
    const int order = form.extended ? form.order : 1;
    // The "enc" and "cmp" tokens carry differences in -2048..2047 and clamp
    // the others when writing; the Huffman coder carries any difference.
    bool small_differences = true;
    for (std::size_t j = 0; j < curve->values.size(); ++j) {
        const std::int32_t d = kelmotra::benddiff(curve->values, j, order);
        small_differences = small_differences && d >= -2048 && d <= 2047;
    }
    // One coder per input (the order byte picks it), which keeps runs quick.
    static const int kModes[] = {kelmotra::kBendModeEnc, kelmotra::kBendModeCmp, kelmotra::kBendModeHff};
    const int mode = kModes[(data[1] / 6) % 3];
    if (mode != kelmotra::kBendModeHff && !small_differences) return 0;
    const auto text = kelmotra::encpitchx(*curve, order, mode, null_stream());
    if (!text) return 0;
    const kelmotra::PitchBend back = kelmotra::decpitchx(*text, order, mode, null_stream());
    if (back.values != curve->values) std::abort();
    return 0;
}
