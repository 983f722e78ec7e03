// The "enc" bend coder (see enc_coder.h).
#include "pitchcodec/enc_coder.h"

#include <algorithm>

#include "pitchcodec/base64_bend.h"
#include "pitchcodec/ref_run.h"
#include "pitchcodec/bend_order.h"

namespace kelmotra {

std::u16string pitchtoken(std::int32_t d) {
    d = std::clamp(d, -2048, 2047);
    if (d >= -32 && d <= 31) return std::u16string(1, base64digit(d));
    if (d >= 32 && d <= 63) return std::u16string{u'!', base64digit(d - 32)};
    if (d >= -64 && d <= -33) return std::u16string{u'!', base64digit(d + 96)};
    // 64..2111 map to w = 0..1983 (as far as clamping lets them), and
    // -2112..-65 to w = 2048..4095: the two ranges share the 4096 codes.
    int w = d > 0 ? d - 64 : d + 4160;
    return std::u16string{u'@', base64digit(w), base64digit(w >> 6)};
}

std::optional<std::u16string> encpitch(const PitchBend& bend, int order, std::FILE* msg) {
    if (order >= 5) {
        if (msg) std::fputs("encpitch: Argument 2 ist anomal.\n", msg);
        return std::nullopt;
    }
    std::size_t n = std::min(bend.values.size(), kMaxBendValues);
    if (n == 0) return std::nullopt;
    std::u16string out;
    std::size_t zeros = 0;
    for (std::size_t j = 0; j < n; ++j) {
        auto d = static_cast<std::int16_t>(benddiff(bend.values, j, order));
        if (d == 0) {
            ++zeros;
            continue;
        }
        out += runtoken(zeros);
        zeros = 0;
        out += pitchtoken(d);
    }
    out += runtoken(zeros);
    return out;
}

namespace {

// Appends up to count copies of difference d to the curve, never past
// kMaxBendValues.
void append_diffs(PitchBend& bend, std::int32_t d, std::size_t count, int order) {
    for (std::size_t k = 0; k < count && bend.values.size() < kMaxBendValues; ++k) {
        bendrebuild(bend.values, d, order);
    }
}

// The digit value at text[i], or -1 when i is past the end or not a digit.
int digit_at(std::u16string_view text, std::size_t i) {
    return i < text.size() ? digitval(text[i]) : -1;
}

}  // namespace

PitchBend decpitch(std::u16string_view text, int order) {
    PitchBend bend;
    std::size_t i = 0;
    while (i < text.size() && bend.values.size() < kMaxBendValues) {
        char16_t c = text[i];
        int x = digitval(c);
        if (x >= 0) {
            append_diffs(bend, x < 32 ? x : x - 64, 1, order);
            i += 1;
        } else if (c == u'!') {
            int y = digit_at(text, i + 1);
            if (y < 0) break;
            append_diffs(bend, y < 32 ? y + 32 : y - 96, 1, order);
            i += 2;
        } else if (c == u'@') {
            if (i + 1 >= text.size()) break;
            int lo = digitval(text[i + 1]);
            if (lo < 0) {
                // "@" and a stray character are passed over together.
                i += 2;
                continue;
            }
            int hi = digit_at(text, i + 2);
            if (hi < 0) break;
            int w = lo + 64 * hi;
            append_diffs(bend, w < 2048 ? w + 64 : w - 4160, 1, order);
            i += 3;
        } else if (c == u'$') {
            int y = digit_at(text, i + 1);
            if (y < 0) break;
            append_diffs(bend, 0, static_cast<std::size_t>(y) + 3, order);
            i += 2;
        } else if (c == u'#') {
            int y = digit_at(text, i + 1);
            int z = digit_at(text, i + 2);
            if (y < 0 || z < 0) break;
            append_diffs(bend, 0, static_cast<std::size_t>(y + 64 * z) + 67, order);
            i += 3;
        } else {
            i += 1;
        }
    }
    return bend;
}

}  // namespace kelmotra
