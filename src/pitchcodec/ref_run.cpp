// The filler-run and back-reference text layers (see ref_run.h).
#include "pitchcodec/ref_run.h"

#include <algorithm>
#include <array>
#include <vector>

#include "pitchcodec/base64_bend.h"
#include "pitchcodec/pitch_bend.h"

namespace kelmotra {

namespace {

// Back references look at most this far back and copy at most this much.
constexpr std::size_t kMaxDistance = 128;
constexpr std::size_t kMaxRefLength = 131;
constexpr std::size_t kMinRefLength = 4;

// Appends a single run of 0..kMaxRunToken characters.
void append_run(std::u16string& out, std::size_t r) {
    if (r == 0) return;
    if (r <= 2) {
        out.append(r, u'A');
    } else if (r <= 66) {
        out += u'$';
        out += base64digit(static_cast<int>(r - 3));
    } else {
        int field = static_cast<int>(r - 67);
        out += u'#';
        out += base64digit(field);
        out += base64digit(field >> 6);
    }
}

}  // namespace

std::u16string runtoken(std::size_t r) {
    std::u16string out;
    for (; r > kMaxRunToken; r -= kMaxRunToken) append_run(out, kMaxRunToken);
    append_run(out, r);
    return out;
}

std::u16string encrun(std::u16string_view text) {
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != u'A') {
            out += text[i++];
            continue;
        }
        std::size_t start = i;
        while (i < text.size() && text[i] == u'A') ++i;
        out += runtoken(i - start);
    }
    return out;
}

std::u16string decrun(std::u16string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size() && out.size() < kMaxLayerText; ++i) {
        char16_t c = text[i];
        std::size_t r = 0;
        if (c == u'$') {
            int x = i + 1 < text.size() ? digitval(text[i + 1]) : -1;
            if (x < 0) break;
            r = static_cast<std::size_t>(x) + 3;
            i += 1;
        } else if (c == u'#') {
            int x = i + 1 < text.size() ? digitval(text[i + 1]) : -1;
            int y = i + 2 < text.size() ? digitval(text[i + 2]) : -1;
            if (x < 0 || y < 0) break;
            r = static_cast<std::size_t>(x + 64 * y) + 67;
            i += 2;
        } else {
            out += c;
            continue;
        }
        out.append(std::min(r, kMaxLayerText - out.size()), u'A');
    }
    return out;
}

std::u16string encref(std::u16string_view text) {
    std::u16string out;
    const std::size_t n = text.size();
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    // Only distances whose first character matches can give a match, so each
    // position walks the chain of earlier positions holding the same
    // character, nearest first.
    std::vector<std::size_t> previous_same(n, kNone);
    std::vector<std::size_t> last_seen(65536, kNone);  // by character code
    for (std::size_t i = 0; i < n; ++i) {
        previous_same[i] = last_seen[text[i]];
        last_seen[text[i]] = i;
    }
    // Match lengths per distance, remembered from the position where they
    // were measured. A match of length m at position q, measured again at
    // p > q, is m - (p - q) when that is not negative (the same pairs of
    // characters are compared), so long repeats are not rescanned at every
    // step. Entries that no longer apply are measured afresh.
    std::array<std::size_t, kMaxDistance + 1> known_len{};
    std::array<std::size_t, kMaxDistance + 1> known_at{};
    std::array<bool, kMaxDistance + 1> known{};
    std::size_t p = 0;
    while (p < n) {
        std::size_t best_len = 0, best_dist = 0;
        for (std::size_t q = previous_same[p]; q != kNone && p - q <= kMaxDistance; q = previous_same[q]) {
            std::size_t d = p - q;
            std::size_t m;
            if (known[d] && known_len[d] >= p - known_at[d]) {
                m = known_len[d] - (p - known_at[d]);
            } else {
                m = 0;
                while (p + m < n && text[p + m] == text[q + m]) ++m;
            }
            known[d] = true;
            known_len[d] = m;
            known_at[d] = p;
            // Distances come nearest first, so equal lengths keep the nearest.
            if (m > best_len) {
                best_len = m;
                best_dist = d;
            }
        }
        if (best_len < kMinRefLength) {
            out += text[p++];
            continue;
        }
        std::size_t len = std::min(best_len, kMaxRefLength);
        bool far = best_dist > 64;
        bool long_ref = len > 67;
        out += far ? (long_ref ? u'}' : u']') : (long_ref ? u'{' : u'[');
        out += base64digit(static_cast<int>(best_dist - (far ? 65 : 1)));
        out += base64digit(static_cast<int>(len - (long_ref ? 68 : 4)));
        p += len;
    }
    return out;
}

std::u16string decref(std::u16string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size() && out.size() < kMaxLayerText; ++i) {
        char16_t c = text[i];
        bool far = c == u']' || c == u'}';
        bool long_ref = c == u'{' || c == u'}';
        if (!far && !long_ref && c != u'[') {
            out += c;
            continue;
        }
        int d = i + 1 < text.size() ? digitval(text[i + 1]) : -1;
        int e = i + 2 < text.size() ? digitval(text[i + 2]) : -1;
        if (d < 0 || e < 0) break;
        std::size_t distance = static_cast<std::size_t>(d) + 1 + (far ? 64 : 0);
        std::size_t length = static_cast<std::size_t>(e) + (long_ref ? 68 : 4);
        // A reference before the start of the output cannot come from a
        // writer; treat it as the end of the text.
        if (distance > out.size()) break;
        length = std::min(length, kMaxLayerText - out.size());
        std::size_t from = out.size() - distance;
        // One character at a time: a length beyond the distance repeats the
        // characters just appended.
        for (std::size_t j = 0; j < length; ++j) out += out[from + j];
        i += 2;
    }
    return out;
}

}  // namespace kelmotra
