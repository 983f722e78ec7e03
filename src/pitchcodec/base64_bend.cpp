// The standard pitch-bend text (see base64_bend.h).
#include "pitchcodec/base64_bend.h"

#include <algorithm>

#include "pitchcodec/bend_numbers.h"

namespace kelmotra {

int digitval(char16_t c) {
    if (c >= u'A' && c <= u'Z') return c - u'A';
    if (c >= u'a' && c <= u'z') return c - u'a' + 26;
    if (c >= u'0' && c <= u'9') return c - u'0' + 52;
    if (c == u'+') return 62;
    if (c == u'/') return 63;
    return -1;
}

char16_t base64digit(int v) { return kBase64Digits[static_cast<std::size_t>(v & 63)]; }

std::u16string pitchpair(int value) {
    return std::u16string{base64digit(value >> 6), base64digit(value)};
}

PitchBend decpitch64(std::u16string_view text) {
    PitchBend bend;
    std::int16_t last = 0;
    std::size_t i = 0;
    while (i < text.size() && bend.values.size() < kMaxBendValues) {
        if (text[i] == u'#') {
            // The count ends at the first character after its digits; that
            // character (normally the closing "#") is skipped whatever it is.
            TextNumber count = readlong(text, i + 1);
            if (count.value > 0) {
                std::size_t room = kMaxBendValues - bend.values.size();
                std::size_t n = std::min(static_cast<std::size_t>(count.value), room);
                bend.values.insert(bend.values.end(), n, last);
            }
            i = count.end + 1;
            continue;
        }
        int hi = std::max(digitval(text[i]), 0);
        int lo = i + 1 < text.size() ? std::max(digitval(text[i + 1]), 0) : 0;
        int u = hi * 64 + lo;
        last = static_cast<std::int16_t>(u < 2048 ? u : u - 4096);
        bend.values.push_back(last);
        i += 2;
    }
    return bend;
}

namespace {

// Writes a pending run of r repeats of value.
void flush_repeats(std::u16string& out, std::int16_t value, std::size_t r) {
    if (r == 1) {
        out += pitchpair(value);
    } else if (r >= 2) {
        out += u'#';
        for (char c : std::to_string(r)) out += static_cast<char16_t>(c);
        out += u'#';
    }
}

}  // namespace

std::optional<std::u16string> encpitch64(const PitchBend& bend) {
    std::size_t n = std::min(bend.values.size(), kMaxBendValues);
    if (n == 0) return std::nullopt;
    std::u16string out = pitchpair(bend.values[0]);
    std::size_t repeats = 0;
    for (std::size_t j = 1; j < n; ++j) {
        if (bend.values[j] == bend.values[j - 1]) {
            ++repeats;
            continue;
        }
        flush_repeats(out, bend.values[j - 1], repeats);
        repeats = 0;
        out += pitchpair(bend.values[j]);
    }
    flush_repeats(out, bend.values[n - 1], repeats);
    return out;
}

}  // namespace kelmotra
