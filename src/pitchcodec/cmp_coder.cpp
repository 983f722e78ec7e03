// The "cmp" bend coder (see cmp_coder.h).
#include "pitchcodec/cmp_coder.h"

#include <algorithm>

#include "pitchcodec/base64_bend.h"
#include "pitchcodec/bend_order.h"

namespace kelmotra {

std::u16string cmptoken(std::int32_t d) {
    int v = std::clamp<int>(static_cast<std::int16_t>(d), -2048, 2047);
    if (v >= -32 && v <= 31) return std::u16string{u'\'', base64digit(v)};
    if (v >= 32 && v <= 63) return std::u16string{u'!', base64digit(v - 32)};
    if (v >= -64 && v <= -33) return std::u16string{u'!', base64digit(v + 96)};
    int w = v > 0 ? v - 64 : v + 4160;
    return std::u16string{u'@', base64digit(w), base64digit(w >> 6)};
}

std::optional<std::u16string> enccmp(const PitchBend& bend, int order) {
    std::size_t n = std::min(bend.values.size(), kMaxBendValues);
    if (n == 0) return std::nullopt;
    std::u16string out;
    std::optional<std::int32_t> pending;  // a small difference waiting for its partner
    for (std::size_t j = 0; j < n; ++j) {
        std::int32_t d = benddiff(bend.values, j, order);
        if (d >= -4 && d <= 3) {
            if (pending) {
                int hi = *pending & 7, lo = d & 7;
                out += base64digit(8 * hi + lo);
                pending.reset();
            } else {
                pending = d;
            }
            continue;
        }
        if (pending) {
            out += cmptoken(*pending);
            pending.reset();
        }
        out += cmptoken(d);
    }
    if (pending) out += cmptoken(*pending);
    return out;
}

namespace {

// A 3-bit two's complement field as a difference.
int small_diff(int bits) { return bits < 4 ? bits : bits - 8; }

int digit_at(std::u16string_view text, std::size_t i) {
    return i < text.size() ? digitval(text[i]) : -1;
}

}  // namespace

PitchBend deccmp(std::u16string_view text, int order) {
    PitchBend bend;
    auto append = [&](std::int32_t d) {
        if (bend.values.size() < kMaxBendValues) bendrebuild(bend.values, d, order);
    };
    std::size_t i = 0;
    while (i < text.size() && bend.values.size() < kMaxBendValues) {
        char16_t c = text[i];
        int x = digitval(c);
        if (x >= 0) {
            append(small_diff(x >> 3));
            append(small_diff(x & 7));
            i += 1;
        } else if (c == u'\'' || c == u'!') {
            int y = digit_at(text, i + 1);
            if (y < 0) break;
            if (c == u'\'') append(y < 32 ? y : y - 64);
            else append(y < 32 ? y + 32 : y - 96);
            i += 2;
        } else if (c == u'@') {
            int lo = digit_at(text, i + 1);
            int hi = digit_at(text, i + 2);
            if (lo < 0 || hi < 0) break;
            int w = lo + 64 * hi;
            append(w < 2048 ? w + 64 : w - 4160);
            i += 3;
        } else {
            break;
        }
    }
    return bend;
}

}  // namespace kelmotra
